// Face planes and vertex normals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "scene_test_util.h"

namespace {

// The defining computation: every vertex compared with every face corner.
void vertex_normals_oracle(const SceneObject& o, std::vector<float>* out) {
    out->assign(3 * (size_t)o.vertex_count, 0.0f);
    for (int i = 0; i < o.vertex_count; i++) {
        const SceneVertex& v = o.vertices[i];
        float sx = 0, sy = 0, sz = 0;
        for (int f = 0; f < o.face_count; f++)
            for (int k = 0; k < 3; k++) {
                const SceneVertex* c = o.faces[f].corners[k];
                if (c->x == v.x && c->y == v.y && c->z == v.z) {
                    sx += o.faces[f].plane_nx;
                    sy += o.faces[f].plane_ny;
                    sz += o.faces[f].plane_nz;
                }
            }
        float l = std::sqrt(sx * sx + sy * sy + sz * sz);
        if (l > 0) {
            (*out)[3 * i] = sx / l;
            (*out)[3 * i + 1] = sy / l;
            (*out)[3 * i + 2] = sz / l;
        }
    }
}

TEST(MeshPost, PlanesAndNormalsOfAPyramidWithASeam) {
    // File (z-up) positions; vertices 4 and 5 repeat 1 and 2 (a mapping seam),
    // vertex 6 is used by no face, faces 3 is degenerate.
    std::vector<float> xyz = {0, 0, 2,  -1, -1, 0, 1, -1, 0, 0, 1, 0,
                              -1, -1, 0, 1, -1, 0, 9, 9, 9, 0, 0, 5};
    auto bytes = make_file([&](ChunkWriter& w) {
        write_mesh(w, "Pyramid", xyz, {{0, 1, 2}, {0, 5, 3}, {0, 3, 4}, {7, 7, 7}});
    });
    ScenePtr s = load_bytes(bytes, "pyramid.3ds");
    ASSERT_TRUE(s) << scene_load_error();
    const SceneObject& o = s->objects[0];
    // Face 0 in y-up: c0 (0, 2, 0), c1 (-1, 0, -1), c2 (1, 0, -1).
    // (c2 - c0) x (c1 - c0) = (1, -2, -1) x (-1, -2, -1) = (0, 2, -4).
    const SceneFace& f = o.faces[0];
    float l = std::sqrt(20.0f);
    EXPECT_FLOAT_EQ(f.plane_nx, 0.0f);
    EXPECT_FLOAT_EQ(f.plane_ny, 2 / l);
    EXPECT_FLOAT_EQ(f.plane_nz, -4 / l);
    EXPECT_FLOAT_EQ(f.plane_d, -(2 / l) * 2);
    for (int k = 0; k < 3; k++) {
        const SceneVertex* c = f.corners[k];
        EXPECT_NEAR(f.plane_nx * c->x + f.plane_ny * c->y + f.plane_nz * c->z + f.plane_d, 0.0f, 1e-6);
    }
    const SceneFace& degenerate = o.faces[3];
    EXPECT_EQ(degenerate.plane_nx, 0.0f);
    EXPECT_EQ(degenerate.plane_ny, 0.0f);
    EXPECT_EQ(degenerate.plane_nz, 0.0f);
    EXPECT_EQ(degenerate.plane_d, 0.0f);

    // Seam vertices share their normal whatever record the faces used.
    for (int i : {1, 2})
        EXPECT_EQ(std::memcmp(&o.vertices[i].nx, &o.vertices[i + 3].nx, 3 * sizeof(float)), 0) << i;
    // Vertex 1 is a corner of faces 0 and 2 (through its twin 4).
    EXPECT_GT(std::fabs(o.vertices[1].nx), 0.1f);
    EXPECT_EQ(o.vertices[6].nx, 0.0f);  // unused
    EXPECT_EQ(o.vertices[6].ny, 0.0f);
    EXPECT_EQ(o.vertices[7].ny, 0.0f);  // only a degenerate face
    std::vector<float> expected;
    vertex_normals_oracle(o, &expected);
    for (int i = 0; i < o.vertex_count; i++)
        EXPECT_EQ(std::memcmp(&o.vertices[i].nx, &expected[3 * i], 3 * sizeof(float)), 0) << i;
}

TEST(MeshPost, VertexNormalsMatchTheCornerByCornerSumBitForBit) {
    // A crumpled grid with many repeated positions, both signs of zero, and a
    // NaN vertex; the indexed sum must equal the quadratic one exactly.
    const int n = 12;
    std::vector<float> xyz;
    unsigned seed = 12345;
    auto rnd = [&]() {
        seed = seed * 1103515245u + 12345u;
        return (float)((seed >> 16) % 7) - 3.0f;
    };
    for (int i = 0; i < n * n; i++) {
        float x = (float)(i % n), y = (float)(i / n), z = rnd() * 0.37f;
        if (i % 5 == 0) z = (i % 10 == 0) ? -0.0f : 0.0f;
        xyz.insert(xyz.end(), {x, y, z});
    }
    for (int i = 0; i < n * n; i += 7) xyz.insert(xyz.end(), {xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]});
    xyz[3 * 5] = -0.0f;  // vertex 5 at x = -0.0 ...
    xyz.insert(xyz.end(), {0.0f, 0.0f, 0.0f});  // ... and one more at +0.0
    xyz.insert(xyz.end(), {NAN, 1.0f, 1.0f});
    int count = (int)(xyz.size() / 3);
    std::vector<TestTri> faces;
    for (int i = 0; i < 600; i++) {
        uint16_t a = (uint16_t)((i * 37) % count), b = (uint16_t)((i * 11 + 3) % count), c = (uint16_t)((i * 5 + 1) % count);
        faces.push_back({a, b, c});
    }
    auto bytes = make_file([&](ChunkWriter& w) { write_mesh(w, "Grid", xyz, faces); });
    ScenePtr s = load_bytes(bytes, "grid.3ds");
    ASSERT_TRUE(s) << scene_load_error();
    const SceneObject& o = s->objects[0];
    std::vector<float> expected;
    vertex_normals_oracle(o, &expected);
    int nonzero = 0;
    for (int i = 0; i < o.vertex_count; i++) {
        EXPECT_EQ(std::memcmp(&o.vertices[i].nx, &expected[3 * i], 3 * sizeof(float)), 0) << i;
        EXPECT_FALSE(std::isnan(o.vertices[i].nx)) << i;
        nonzero += o.vertices[i].nx != 0 || o.vertices[i].ny != 0 || o.vertices[i].nz != 0;
    }
    EXPECT_GT(nonzero, count / 2);
}

}  // namespace
