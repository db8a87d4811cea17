// View frustum (four side planes through the eye) and triangle clipping.
//
// There is no near or far plane: distance is never clipped. The frustum is
// built for a viewport 4 pixels smaller than the screen, so every clipped
// vertex projects at least 2 pixels inside the screen and the edge walker
// needs no row bounds checks of its own.
#pragma once

#include <cstdint>

#include "math/vecmath.h"

struct Plane {
    float a, b, c, d;  // (a, b, c) unit normal; a*x + b*y + c*z + d > 0 is inside
};

enum { FRUSTUM_RIGHT = 0, FRUSTUM_LEFT = 1, FRUSTUM_TOP = 2, FRUSTUM_BOTTOM = 3 };

struct ViewFrustum {
    Plane planes[4];  // right, left, top, bottom; all pass through the eye (d = 0)
};

// One polygon vertex on its way through clipping and projection.
struct ClipVertex {
    float x, y, z;     // view space; after projection x, y are screen pixels, z stays depth
    float u, v;        // mapping coordinates (camera pass only)
    float lx, ly, lz;  // position in the light's view space (camera pass only)
    float spare[3];    // never read; clipping sets them to 0 on new vertices
};

enum { CLIP_MAX_VERTICES = 7 };  // a triangle gains at most one vertex per plane

struct ClipPolygon {
    int32_t count;  // 0 = rejected, else 3..7
    ClipVertex v[CLIP_MAX_VERTICES];
};

// Which side of each frustum plane a view-space point lies on: bit p when it
// is on or inside plane p, bit 4 + p when it is on or outside it.
enum { CLIP_SIDES_INSIDE = 0x0F };
uint32_t clip_vertex_sides(const ViewFrustum* frustum, const ClipVertex* v);

Plane plane_from_points(Vec3 p1, Vec3 p2, Vec3 p3);
void build_view_frustum(float viewport_width, float viewport_height, float focal,
                        ViewFrustum* frustum);
// Clips one view-space triangle against the planes it straddles.
ClipPolygon clip_triangle(const ClipVertex vertices[3], const ViewFrustum* frustum);
// What clip_triangle does with a triangle whose corners have these sides:
// CLIP_KEEP returns it as given, CLIP_DROP returns nothing (all three on or
// outside one plane), CLIP_CUT clips it.
enum { CLIP_KEEP = 0, CLIP_DROP = 1, CLIP_CUT = 2 };
int clip_triangle_action(uint32_t sides_a, uint32_t sides_b, uint32_t sides_c);
// One Sutherland-Hodgman pass: the part of the polygon inside the plane.
ClipPolygon clip_polygon_to_plane(const ClipPolygon* polygon, const Plane* plane);
// The point where edge A-B crosses the plane; a copy of A when the edge is
// parallel to it.
ClipVertex intersect_edge(const ClipVertex* a, const ClipVertex* b, const Plane* plane);
