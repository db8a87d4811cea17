// The smooth-surface rule's tables (raster/resolve.h says what the rule
// does): every face of the scenes in a patch of its smooth surface, and
// every patch's neighbours that light like it.
#pragma once

#include "raster/resolve.h"

struct Scene;

// What a patch may hold and which patches count as neighbours. Made once at
// start-up; the numbers are the reasons in surface.cpp.
struct SurfaceShape {
    float crease_degrees;  // a face joins a patch when its plane lies within this of the patch's first face
    float reach;           // and its centre within this share of its object's diagonal from that face's
    float near_degrees;    // patches that touch, with first faces within this angle, are neighbours
};
extern const SurfaceShape SURFACE_SHAPE;

// The tables for every face of `scenes` (count of them), whose face ids
// must lie below `id_count` (scene_peek_face_id()). Faces are joined within
// an object, where they share a corner position. Null when memory ran out.
// The frame fills `faced` and `faced_mark` (left null and 0 here).
SurfacePatches* surface_patches_build(Scene* const* scenes, int count, uint32_t id_count, const SurfaceShape* shape);
void surface_patches_free(SurfacePatches* patches);
