// View frustum (four side planes through the eye) and triangle clipping.
//
// There is no near or far plane: distance is never clipped. The frustum is
// built for a viewport 4 pixels smaller than the screen, so every clipped
// vertex projects at least 2 pixels inside the screen and the edge walker
// needs no row bounds checks of its own.
#pragma once

#include <cstdint>

#include "math/vecmath.h"

#ifdef __SSE2__
#include <xmmintrin.h>
#endif

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

// Signed distance of a view-space point from a plane, summed left to right.
inline float clip_plane_distance(const Plane* p, const ClipVertex* v) {
    return p->a * v->x + p->b * v->y + p->c * v->z + p->d;
}

// Which side of each frustum plane a view-space point lies on: bit p when it
// is on or inside plane p, bit 4 + p when it is on or outside it.
enum { CLIP_SIDES_INSIDE = 0x0F };
// Inline so that loops over many vertices keep the planes in registers. A
// vertex on a plane counts as inside and as outside; a distance that is not
// a number counts as neither. With SSE the four distances of
// clip_plane_distance are summed lane by lane in the same order, so each is
// the same single-precision number.
inline uint32_t clip_vertex_sides(const ViewFrustum* frustum, const ClipVertex* v) {
    const Plane* p = frustum->planes;
#ifdef __SSE2__
    const __m128 a = _mm_setr_ps(p[0].a, p[1].a, p[2].a, p[3].a);
    const __m128 b = _mm_setr_ps(p[0].b, p[1].b, p[2].b, p[3].b);
    const __m128 c = _mm_setr_ps(p[0].c, p[1].c, p[2].c, p[3].c);
    const __m128 d = _mm_setr_ps(p[0].d, p[1].d, p[2].d, p[3].d);
    const __m128 distance = _mm_add_ps(
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(a, _mm_set1_ps(v->x)), _mm_mul_ps(b, _mm_set1_ps(v->y))),
                   _mm_mul_ps(c, _mm_set1_ps(v->z))),
        d);
    const __m128 zero = _mm_setzero_ps();
    uint32_t inside = (uint32_t)_mm_movemask_ps(_mm_cmpge_ps(distance, zero));
    uint32_t outside = (uint32_t)_mm_movemask_ps(_mm_cmple_ps(distance, zero));
    return inside | outside << 4;
#else
    uint32_t sides = 0;
    for (uint32_t i = 0; i < 4; i++) {
        float distance = clip_plane_distance(&p[i], v);
        if (distance >= 0.0f) sides |= 1u << i;
        if (distance <= 0.0f) sides |= 16u << i;
    }
    return sides;
#endif
}


Plane plane_from_points(Vec3 p1, Vec3 p2, Vec3 p3);
void build_view_frustum(float viewport_width, float viewport_height, float focal,
                        ViewFrustum* frustum);
// Clips one view-space triangle against the planes it straddles.
ClipPolygon clip_triangle(const ClipVertex vertices[3], const ViewFrustum* frustum);
// What clip_triangle does with a triangle whose corners have these sides:
// CLIP_KEEP returns it as given, CLIP_DROP returns nothing (all three on or
// outside one plane), CLIP_CUT clips it.
enum { CLIP_KEEP = 0, CLIP_DROP = 1, CLIP_CUT = 2 };
// A plane all three corners are on or inside leaves the triangle alone; one
// they are all on or outside of (and not all on) removes it. Inline: the
// object pass asks it for every face that turns towards the eye.
inline int clip_triangle_action(uint32_t sides_a, uint32_t sides_b, uint32_t sides_c) {
    uint32_t all = sides_a & sides_b & sides_c;
    uint32_t inside = all & CLIP_SIDES_INSIDE;
    if (inside == CLIP_SIDES_INSIDE) return CLIP_KEEP;
    if ((all >> 4) & ~inside) return CLIP_DROP;
    return CLIP_CUT;
}
// One Sutherland-Hodgman pass: the part of the polygon inside the plane.
ClipPolygon clip_polygon_to_plane(const ClipPolygon* polygon, const Plane* plane);
// The point where edge A-B crosses the plane; a copy of A when the edge is
// parallel to it.
ClipVertex intersect_edge(const ClipVertex* a, const ClipVertex* b, const Plane* plane);
