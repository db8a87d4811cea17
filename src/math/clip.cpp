#include "math/clip.h"

#include <cmath>

namespace {

enum { CLIP_INSIDE = 0, CLIP_OUTSIDE = 1, CLIP_ON = 2 };

// Exact comparisons, no epsilon: a vertex is on the plane only at distance 0.
int classify(const Plane* p, const ClipVertex* v) {
    float distance = clip_plane_distance(p, v);
    if (distance > 0.0f) return CLIP_INSIDE;
    if (distance < 0.0f) return CLIP_OUTSIDE;
    return CLIP_ON;
}

// Appends only while there is room, so a polygon that rounding has made
// slightly non-convex can never write past the seventh vertex.
void append(ClipPolygon* polygon, const ClipVertex& v) {
    if (polygon->count < CLIP_MAX_VERTICES) polygon->v[polygon->count++] = v;
}

}  // namespace

Plane plane_from_points(Vec3 p1, Vec3 p2, Vec3 p3) {
    float ax = p2.x - p1.x, ay = p2.y - p1.y, az = p2.z - p1.z;
    float bx = p3.x - p1.x, by = p3.y - p1.y, bz = p3.z - p1.z;
    float nx = ay * bz - az * by;
    float ny = az * bx - ax * bz;
    float nz = ax * by - ay * bx;
    float length = std::sqrt(nx * nx + ny * ny + nz * nz);
    Plane p;
    p.a = nx / length;
    p.b = ny / length;
    p.c = nz / length;
    p.d = -(p.a * p1.x + p.b * p1.y + p.c * p1.z);
    return p;
}

// Four planes through the eye; a point on one of them projects exactly onto
// the edge of the viewport, which is centred on the screen.
void build_view_frustum(float viewport_width, float viewport_height, float focal, ViewFrustum* frustum) {
    float ex = viewport_width / (2.0f * focal);
    float ey = viewport_height / (2.0f * focal);
    const Vec3 eye = {0.0f, 0.0f, 0.0f};
    frustum->planes[FRUSTUM_RIGHT] = plane_from_points(eye, Vec3{ex, 0.0f, 1.0f}, Vec3{ex, 1.0f, 1.0f});
    frustum->planes[FRUSTUM_LEFT] = plane_from_points(eye, Vec3{-ex, 1.0f, 1.0f}, Vec3{-ex, 0.0f, 1.0f});
    frustum->planes[FRUSTUM_TOP] = plane_from_points(eye, Vec3{0.0f, -ey, 1.0f}, Vec3{1.0f, -ey, 1.0f});
    frustum->planes[FRUSTUM_BOTTOM] = plane_from_points(eye, Vec3{1.0f, ey, 1.0f}, Vec3{0.0f, ey, 1.0f});
}

ClipVertex intersect_edge(const ClipVertex* a, const ClipVertex* b, const Plane* plane) {
    float den = plane->a * (b->x - a->x) + plane->b * (b->y - a->y) + plane->c * (b->z - a->z);
    if (den == 0.0f) return *a;  // edge parallel to the plane
    float t = (plane->a * a->x + plane->b * a->y + plane->c * a->z + plane->d) / den;
    // -t is in (0, 1]: the point lies on the segment. Every attribute is affine
    // in view space, so linear interpolation along the edge is exact.
    ClipVertex r;
    r.x = a->x - t * (b->x - a->x);
    r.y = a->y - t * (b->y - a->y);
    r.z = a->z - t * (b->z - a->z);
    r.u = a->u - t * (b->u - a->u);
    r.v = a->v - t * (b->v - a->v);
    r.lx = a->lx - t * (b->lx - a->lx);
    r.ly = a->ly - t * (b->ly - a->ly);
    r.lz = a->lz - t * (b->lz - a->lz);
    r.spare[0] = r.spare[1] = r.spare[2] = 0.0f;
    return r;
}

// Sutherland-Hodgman with three classes. The output keeps the input's cyclic
// order and starts with what the edge from the last vertex to the first
// gives. A vertex on the plane reached from inside is appended as the edge's
// intersection (numerically the vertex itself). Fewer than 3 vertices enclose
// nothing and give count 0, so callers always see 0 or 3..7.
ClipPolygon clip_polygon_to_plane(const ClipPolygon* polygon, const Plane* plane) {
    ClipPolygon out;
    out.count = 0;
    int n = polygon->count;
    if (n < 1 || n > CLIP_MAX_VERTICES) return out;
    int classes[CLIP_MAX_VERTICES];
    for (int i = 0; i < n; i++) classes[i] = classify(plane, &polygon->v[i]);
    for (int i = 0; i < n; i++) {
        int prev = i == 0 ? n - 1 : i - 1;
        const ClipVertex* pv = &polygon->v[prev];
        const ClipVertex* cv = &polygon->v[i];
        int pc = classes[prev], cc = classes[i];
        if (cc == CLIP_INSIDE) {
            if (pc == CLIP_OUTSIDE) append(&out, intersect_edge(pv, cv, plane));
            append(&out, *cv);
        } else if (cc == CLIP_ON) {
            // The on vertex is where the boundary meets the plane; it is kept
            // whichever side the edge comes from, so the kept part does not
            // depend on the winding (out, on, in keeps its corner too).
            append(&out, pc == CLIP_INSIDE ? intersect_edge(pv, cv, plane) : *cv);
        } else if (pc == CLIP_INSIDE) {
            append(&out, intersect_edge(pv, cv, plane));
        }
    }
    if (out.count < 3) out.count = 0;
    return out;
}

// Only the planes the input triangle straddles are applied, in the order
// right, left, top, bottom; a triangle inside all four is returned as given.
ClipPolygon clip_triangle(const ClipVertex vertices[3], const ViewFrustum* frustum) {
    uint32_t sides[3];
    for (int i = 0; i < 3; i++) sides[i] = clip_vertex_sides(frustum, &vertices[i]);
    ClipPolygon polygon;
    polygon.count = 3;
    for (int i = 0; i < 3; i++) polygon.v[i] = vertices[i];
    int action = clip_triangle_action(sides[0], sides[1], sides[2]);
    if (action == CLIP_KEEP) return polygon;
    if (action == CLIP_DROP) {
        polygon.count = 0;
        return polygon;
    }
    uint32_t straddled = ~(sides[0] & sides[1] & sides[2]) & CLIP_SIDES_INSIDE;
    for (int p = 0; p < 4 && polygon.count > 0; p++)
        if (straddled >> p & 1) polygon = clip_polygon_to_plane(&polygon, &frustum->planes[p]);
    return polygon;
}
