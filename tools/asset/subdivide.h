// Midpoint subdivision: the same surfaces with 4^levels times the triangles,
// for measuring how the frame's cost grows with the triangle count.
//
// One level cuts face (a, b, c) into (a, ab, ca), (ab, b, bc), (ca, bc, c)
// and (ab, bc, ca), where ab is the midpoint of edge a-b. Each sub-face is
// its parent scaled by 1/2 about a corner (the last one also turned half a
// turn), so it keeps the parent's winding, plane and material, and the
// engine's facing test sees it as it sees the parent.
//
// An edge's midpoint is made once per pair of vertex indices and shared by
// every face on that edge, so a mesh without cracks or T-junctions stays
// without them. Position and u, v of a midpoint are (p + q) * 0.5 in float:
// the same bits whichever end comes first, so edges whose ends are separate
// vertices at the same places (texture seams) get midpoints at the same
// place too. An edge whose two ends are one vertex keeps that vertex.
//
// Sub-faces stay in their parent's place in face order, and the 4^levels
// sub-faces of one parent are consecutive.
#pragma once

#include "asset/mesh.h"

enum {
    SUBDIVIDE_MAX_LEVELS = 4,
    SUBDIVIDE_MAX_FACES = 1 << 22,  // all meshes together, after cutting;
                                    // the tool then needs about 300 MB
};

// `out` gets `in`'s materials and every mesh cut `levels` times (0 copies
// it). A mesh that would exceed 65535 vertices or faces becomes several,
// cut in face order; vertices on a cut are repeated in both pieces at the
// same positions. A mesh keeps its name when no earlier mesh took it; the
// others get "<name>.<n>" (shortened to fit 63 characters) with the smallest
// n that no input mesh and no earlier output mesh uses. 1 on success; 0 with
// a reason in subdivide_error() when `levels` is outside 0..4, a face corner
// is out of range, the result would exceed SUBDIVIDE_MAX_FACES or memory
// runs out; `out` is then unspecified.
int scene_build_subdivide(const SceneBuild* in, int levels, SceneBuild* out);
const char* subdivide_error();
