#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "math/clip.h"

namespace {

ClipVertex vertex(float x, float y, float z, float u = 0.0f, float v = 0.0f) {
    ClipVertex c;
    c.x = x;
    c.y = y;
    c.z = z;
    c.u = u;
    c.v = v;
    c.lx = x * 2.0f;
    c.ly = y * 2.0f;
    c.lz = z * 2.0f + 1.0f;
    c.spare[0] = c.spare[1] = c.spare[2] = 7.0f;  // must not leak into new vertices
    return c;
}

bool same_bits(const ClipVertex& a, const ClipVertex& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The screen's frustum: 400 x 300, focal length 200, 2-pixel margin.
ViewFrustum screen_frustum() {
    ViewFrustum f;
    build_view_frustum(396.0f, 296.0f, 200.0f, &f);
    return f;
}

// |x| <= 10 and |y| <= 10, with axis-aligned planes so a vertex can lie exactly on one.
ViewFrustum box_frustum() {
    ViewFrustum f;
    f.planes[FRUSTUM_RIGHT] = Plane{-1.0f, 0.0f, 0.0f, 10.0f};
    f.planes[FRUSTUM_LEFT] = Plane{1.0f, 0.0f, 0.0f, 10.0f};
    f.planes[FRUSTUM_TOP] = Plane{0.0f, 1.0f, 0.0f, 10.0f};
    f.planes[FRUSTUM_BOTTOM] = Plane{0.0f, -1.0f, 0.0f, 10.0f};
    return f;
}

TEST(Clip, PlanesOfTheFrustum) {
    Plane p = plane_from_points(Vec3{1, 0, 0}, Vec3{1, 1, 0}, Vec3{1, 0, 1});
    EXPECT_FLOAT_EQ(p.a, 1.0f);  // (0,1,0) x (0,0,1) = (1,0,0)
    EXPECT_FLOAT_EQ(p.d, -1.0f);
    ViewFrustum f = screen_frustum();
    // ex = 0.99, ey = 0.74: normals (-1, 0, ex), (1, 0, ex), (0, 1, ey), (0, -1, ey), unit length.
    float lx = std::sqrt(1.0f + 0.99f * 0.99f), ly = std::sqrt(1.0f + 0.74f * 0.74f);
    const float expect[4][3] = {{-1 / lx, 0, 0.99f / lx}, {1 / lx, 0, 0.99f / lx}, {0, 1 / ly, 0.74f / ly}, {0, -1 / ly, 0.74f / ly}};
    for (int i = 0; i < 4; i++) {
        EXPECT_NEAR(f.planes[i].a, expect[i][0], 1e-6f) << i;
        EXPECT_NEAR(f.planes[i].b, expect[i][1], 1e-6f) << i;
        EXPECT_NEAR(f.planes[i].c, expect[i][2], 1e-6f) << i;
        EXPECT_EQ(f.planes[i].d, 0.0f);
    }
}

TEST(Clip, InsideTrianglesComeBackBitForBit) {
    ViewFrustum f = screen_frustum();
    ClipVertex tri[3] = {vertex(-1, -1, 10, 0.1f, 0.2f), vertex(1, -1, 10), vertex(0, 1, 12)};
    ClipPolygon p = clip_triangle(tri, &f);
    ASSERT_EQ(p.count, 3);
    for (int i = 0; i < 3; i++) EXPECT_TRUE(same_bits(p.v[i], tri[i]));
    // Distance is never clipped.
    ClipVertex far[3] = {vertex(-1e5f, 0, 1e6f), vertex(1e5f, 0, 1e6f), vertex(0, 1e5f, 1e6f)};
    p = clip_triangle(far, &f);
    ASSERT_EQ(p.count, 3);
    for (int i = 0; i < 3; i++) EXPECT_TRUE(same_bits(p.v[i], far[i]));
}

TEST(Clip, VerticesOnAPlaneCountBothWays) {
    ViewFrustum f = box_frustum();
    // One vertex on the right plane, two inside: outcode inside, not clipped.
    ClipVertex one_on[3] = {vertex(10, 0, 1), vertex(0, 5, 1), vertex(0, -5, 1)};
    ClipPolygon p = clip_triangle(one_on, &f);
    ASSERT_EQ(p.count, 3);
    for (int i = 0; i < 3; i++) EXPECT_TRUE(same_bits(p.v[i], one_on[i]));
    // Two on, the third outside: outside, rejected.
    ClipVertex two_on[3] = {vertex(10, 0, 1), vertex(10, 5, 1), vertex(12, 0, 1)};
    EXPECT_EQ(clip_triangle(two_on, &f).count, 0);
    // All three on one plane: inside it.
    ClipVertex all_on[3] = {vertex(10, 0, 1), vertex(10, 5, 1), vertex(10, -5, 3)};
    p = clip_triangle(all_on, &f);
    ASSERT_EQ(p.count, 3);
    EXPECT_TRUE(same_bits(p.v[2], all_on[2]));
}

TEST(Clip, SutherlandHodgmanOrder) {
    Plane right = box_frustum().planes[FRUSTUM_RIGHT];
    ClipPolygon in;
    in.count = 3;
    in.v[0] = vertex(0, 0, 1, 0.0f, 0.0f);    // inside
    in.v[1] = vertex(20, 0, 1, 1.0f, 0.5f);   // outside
    in.v[2] = vertex(0, 10, 1, 0.0f, 1.0f);   // inside
    ClipPolygon out = clip_polygon_to_plane(&in, &right);
    ASSERT_EQ(out.count, 4);
    EXPECT_TRUE(same_bits(out.v[0], in.v[0]));
    EXPECT_FLOAT_EQ(out.v[1].x, 10.0f);  // X(V0, V1), halfway
    EXPECT_FLOAT_EQ(out.v[1].u, 0.5f);
    EXPECT_FLOAT_EQ(out.v[1].v, 0.25f);
    EXPECT_FLOAT_EQ(out.v[1].lx, 20.0f);
    EXPECT_FLOAT_EQ(out.v[2].x, 10.0f);  // X(V1, V2), halfway
    EXPECT_FLOAT_EQ(out.v[2].y, 5.0f);
    EXPECT_FLOAT_EQ(out.v[2].v, 0.75f);
    EXPECT_FLOAT_EQ(out.v[2].ly, 10.0f);
    EXPECT_TRUE(same_bits(out.v[3], in.v[2]));
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(out.v[1].spare[k], 0.0f);
        EXPECT_EQ(out.v[2].spare[k], 0.0f);
    }
    // The first output vertex comes from the edge last -> first.
    ClipPolygon rotated = in;
    rotated.v[0] = in.v[1];
    rotated.v[1] = in.v[2];
    rotated.v[2] = in.v[0];
    out = clip_polygon_to_plane(&rotated, &right);
    ASSERT_EQ(out.count, 4);
    EXPECT_FLOAT_EQ(out.v[0].y, 0.0f);   // X(V2', V0') = X(in.v0, in.v1)
    EXPECT_FLOAT_EQ(out.v[1].y, 5.0f);   // X(V0', V1')
    EXPECT_TRUE(same_bits(out.v[2], in.v[2]));
    EXPECT_TRUE(same_bits(out.v[3], in.v[0]));
    // A parallel edge gives a copy of its start.
    EXPECT_TRUE(same_bits(intersect_edge(&in.v[0], &in.v[2], &right), in.v[0]));
}

TEST(Clip, OnVertexKeepsItsCornerInEitherWinding) {
    Plane right = box_frustum().planes[FRUSTUM_RIGHT];
    ClipPolygon in;
    in.count = 3;
    in.v[0] = vertex(0, 0, 1);    // inside
    in.v[1] = vertex(10, 4, 1);   // on
    in.v[2] = vertex(20, 0, 1);   // outside
    ClipPolygon out = clip_polygon_to_plane(&in, &right);
    ASSERT_EQ(out.count, 3);
    EXPECT_FLOAT_EQ(out.v[0].x, 10.0f);  // X(V2, V0)
    EXPECT_TRUE(same_bits(out.v[1], in.v[0]));
    EXPECT_FLOAT_EQ(out.v[2].x, 10.0f);  // X(V0, V1): numerically V1
    EXPECT_FLOAT_EQ(out.v[2].y, 4.0f);
    // Reversed winding: outside, on, inside. The on corner must survive too,
    // or a visible triangle would shrink to two points.
    std::swap(in.v[0], in.v[2]);
    out = clip_polygon_to_plane(&in, &right);
    ASSERT_EQ(out.count, 3);
    EXPECT_FLOAT_EQ(out.v[0].x, 10.0f);  // X(V2, V0)
    EXPECT_FLOAT_EQ(out.v[0].y, 0.0f);
    EXPECT_TRUE(same_bits(out.v[1], in.v[1]));
    EXPECT_TRUE(same_bits(out.v[2], in.v[2]));
    // Nothing but a point or a segment left: rejected, never 1 or 2 vertices.
    in.v[0] = vertex(20, 0, 1);
    in.v[1] = vertex(10, 4, 1);
    in.v[2] = vertex(10, -4, 1);
    ClipPolygon segment = in;
    segment.v[2] = vertex(30, 4, 1);
    EXPECT_EQ(clip_polygon_to_plane(&segment, &right).count, 0);
}

TEST(Clip, NeverMoreThanSevenVertices) {
    // A zigzag that rounding could produce in the worst case: alternating
    // sides would need 10 output vertices; the output stops at 7.
    Plane right = box_frustum().planes[FRUSTUM_RIGHT];
    ClipPolygon zigzag;
    zigzag.count = 7;
    for (int i = 0; i < 7; i++) zigzag.v[i] = vertex(i % 2 ? 15.0f : 5.0f, (float)i, 1);
    EXPECT_LE(clip_polygon_to_plane(&zigzag, &right).count, 7);

    ViewFrustum f = screen_frustum();
    ClipVertex huge[3] = {vertex(-1000, -1000, 10), vertex(3000, -1000, 10), vertex(-1000, 3000, 10)};
    ClipPolygon p = clip_triangle(huge, &f);
    EXPECT_GE(p.count, 3);
    EXPECT_LE(p.count, 7);
}

TEST(Clip, RandomTrianglesStayTwoPixelsInside) {
    ViewFrustum f = screen_frustum();
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> xy(-400.0f, 400.0f), depth(-50.0f, 300.0f);
    int clipped = 0, seven = 0;
    for (int t = 0; t < 20000; t++) {
        ClipVertex tri[3];
        bool behind = t % 5 == 0;
        for (ClipVertex& v : tri) v = vertex(xy(rng), xy(rng), behind ? -std::fabs(depth(rng)) - 0.01f : depth(rng));
        ClipPolygon p = clip_triangle(tri, &f);
        ASSERT_TRUE(p.count == 0 || (p.count >= 3 && p.count <= 7));
        if (behind) {
            EXPECT_EQ(p.count, 0) << "triangle behind the eye survived";
            continue;
        }
        clipped += p.count > 0;
        seven += p.count == 7;
        for (int i = 0; i < p.count; i++) {
            const ClipVertex& v = p.v[i];
            EXPECT_GE(v.z, -1e-3f);  // cut by the side planes where it crosses z = 0
            if (v.z < 0.1f) continue;  // the object pass drops such polygons
            float sx = 200.0f * v.x / v.z + 200.0f, sy = 200.0f * v.y / v.z + 150.0f;
            // Up to float rounding, far below the 2-pixel margin itself.
            ASSERT_GE(sx, 2.0f - 0.02f) << v.z;
            ASSERT_LE(sx, 398.0f + 0.02f) << v.z;
            ASSERT_GE(sy, 2.0f - 0.02f) << v.z;
            ASSERT_LE(sy, 298.0f + 0.02f) << v.z;
        }
    }
    EXPECT_GT(clipped, 1000);
    EXPECT_GT(seven, 0);
}

}  // namespace
