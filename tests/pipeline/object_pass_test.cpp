#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "pipeline/object_pass.h"
#include "pipeline/neutral_texture.h"
#include "pipeline/setup.h"
#include "raster/engine.h"
#include "synthetic_scene.h"

namespace {

using synthetic::Mesh;
using synthetic::World;

struct Span {
    int y;
    const SpanNode* node;
};

std::vector<Span> all_spans(const ScanlineSpanList* rows) {
    std::vector<Span> out;
    for (int y = 0; y < synthetic::test_screen.height; y++) {
        const SpanNode* n = rows[y].first;
        for (int i = 0; i < rows[y].active_count; i++, n = n->next) out.push_back({y, n});
    }
    return out;
}

Matrix4 identity() {
    Matrix4 m;
    matrix_identity(&m);
    return m;
}

// One triangle facing an eye at the origin.
Mesh triangle(Vec3 a, Vec3 b, Vec3 c, int material = -1) {
    Mesh m;
    m.vertex(a, 0, 0);
    m.vertex(b, 1, 0);
    m.vertex(c, 0, 1);
    m.face(0, 1, 2, synthetic::scale(a, -1.0f), material);
    return m;
}

class ObjectPass : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(synthetic::set_screen(400, 300), 1);
        screen.reset(new synthetic::ScreenRows(300));
    }
    // Camera pass of every object from `pose`, on fresh rows.
    std::vector<Span> camera(Scene* s, const Matrix4& pose) {
        span_rows_reset(&screen->rows);
        for (int i = 0; i < s->object_count; i++)
            render_object_camera_pass(&s->objects[i].matrix, &pose, &synthetic::test_screen, &s->objects[i], s->materials,
                                      s->material_count, &screen->rows);
        return all_spans(screen->lists.data());
    }
    std::vector<Span> light(Scene* s, const Matrix4& pose) {
        span_rows_reset(&screen->rows);
        for (int i = 0; i < s->object_count; i++)
            render_object_light_pass(&s->objects[i].matrix, &pose, &synthetic::test_screen, &s->objects[i],
                                     &screen->rows);
        return all_spans(screen->lists.data());
    }
    std::unique_ptr<synthetic::ScreenRows> screen;
};

// The facing test keeps faces whose plane has the eye at most 0.1 in front.
TEST_F(ObjectPass, FacingLimitIsAPointOne) {
    World w;
    w.add(triangle({-1, -1, 10}, {1, -1, 10}, {0, 1, 10}));
    Scene* s = w.finish();
    SceneFace* f = &s->objects[0].faces[0];
    EXPECT_FLOAT_EQ(f->plane_nz, 1.0f);  // points away from the eye
    EXPECT_FALSE(camera(s, identity()).empty());
    // The eye sits at the origin, so s equals plane_d.
    f->plane_d = 0.0f;
    EXPECT_FALSE(camera(s, identity()).empty());
    f->plane_d = 0.09f;
    EXPECT_FALSE(camera(s, identity()).empty());
    EXPECT_FALSE(light(s, identity()).empty());
    f->plane_d = 0.11f;
    EXPECT_TRUE(camera(s, identity()).empty());
    EXPECT_TRUE(light(s, identity()).empty());
}

TEST_F(ObjectPass, PolygonsReachingNearerThanAPointOneAreDroppedWhole) {
    World w;
    w.add(triangle({0, 0, 0.11f}, {0.5f, 0, 1}, {0, 0.5f, 1}));
    w.add(triangle({0, 0, 0.09f}, {-0.5f, 0, 1}, {0, -0.5f, 1}));
    Scene* s = w.finish();
    std::vector<Span> spans = camera(s, identity());
    ASSERT_FALSE(spans.empty());
    for (const Span& sp : spans) EXPECT_EQ(sp.node->face_id, (uint32_t)s->objects[0].faces[0].face_id);
    EXPECT_TRUE(light(s, identity()).size() == spans.size());
}

// A triangle far larger than the view is clipped to the frustum, which keeps
// every vertex at least 2 pixels inside the screen.
TEST_F(ObjectPass, ClippedPolygonsStayTwoPixelsInsideTheScreen) {
    World w;
    w.add(triangle({-1000, -1000, 10}, {1000, -1000, 10}, {0, 1000, 10}));
    Scene* s = w.finish();
    std::vector<Span> spans = camera(s, identity());
    // Clipped vertices land on the lines x = 2, x = 398, y = 2 and y = 298, up
    // to rounding: rows 2..297 and columns 2..397 at most.
    ASSERT_GE(spans.size(), 294u);
    EXPECT_GE(spans.front().y, 2);
    EXPECT_LE(spans.front().y, 3);
    EXPECT_GE(spans.back().y, 296);
    EXPECT_LE(spans.back().y, 297);
    for (const Span& sp : spans) {
        EXPECT_GE(sp.node->x_left, 1) << sp.y;
        EXPECT_LE(sp.node->x_right, 398) << sp.y;
    }
    EXPECT_LE(spans[100].node->x_left, 2);
    EXPECT_GE(spans[100].node->x_right, 397);
}

// The light pass stores every light-facing vertex's light-view position,
// also for faces it clips away; vertices of faces turned away keep theirs.
TEST_F(ObjectPass, LightPassStoresLightViewPositionsBeforeClipping) {
    World w;
    Mesh m;
    m.vertex({1, 2, 3}, 0, 0);
    m.vertex({4, 2, 3}, 0, 0);
    m.vertex({1, 5, 3}, 0, 0);
    m.vertex({1, 2, 9}, 0, 0);
    m.vertex({4, 2, 9}, 0, 0);
    m.vertex({1, 5, 9}, 0, 0);
    Matrix4 pose = synthetic::look_at({2, 3, 40}, {2, 3, 41}, {0, 1, 0});  // looks away from both faces
    m.face(0, 1, 2, {0, 0, 1}, -1);   // faces the light (behind it)
    m.face(3, 4, 5, {0, 0, -1}, -1);  // turned away from it
    w.add(m);
    Scene* s = w.finish();
    SceneObject* o = &s->objects[0];
    for (int i = 0; i < 6; i++) o->vertices[i].lx = o->vertices[i].ly = o->vertices[i].lz = 123.0f;
    std::vector<Span> spans = light(s, pose);
    EXPECT_TRUE(spans.empty());
    Matrix4 view;
    matrix_inverse_affine(&pose, &view);
    for (int i = 0; i < 3; i++) {
        const SceneVertex& v = o->vertices[i];
        Vec3 p = matrix_transform_point(&view, Vec3{v.x, v.y, v.z});
        EXPECT_NEAR(v.lx, p.x, 1e-4f);
        EXPECT_NEAR(v.ly, p.y, 1e-4f);
        EXPECT_NEAR(v.lz, p.z, 1e-4f);
        EXPECT_LT(v.lz, 0.0f);
    }
    for (int i = 3; i < 6; i++) EXPECT_EQ(o->vertices[i].lz, 123.0f);
}

// With the light at the camera's pose, the light-view planes of a camera span
// project every pixel back onto itself.
TEST_F(ObjectPass, LightAtTheCameraPoseMapsPixelsOntoThemselves) {
    World w;
    w.add(triangle({-8, -6, 20}, {9, -5, 35}, {0, 7, 25}));
    Scene* s = w.finish();
    Matrix4 pose = synthetic::look_at({0.5f, 0.25f, -1}, {0.4f, 0.2f, 10}, {0, -1, 0});
    light(s, pose);
    std::vector<Span> spans = camera(s, pose);
    ASSERT_GT(spans.size(), 50u);
    for (const Span& sp : spans) {
        const SpanNode* n = sp.node;
        for (int x = n->x_left; x < n->x_right; x += 7) {
            float lx = n->lx_over_z + (float)x * n->d_lx_over_z;
            float ly = n->ly_over_z + (float)x * n->d_ly_over_z;
            float lz = n->lz_over_z + (float)x * n->d_lz_over_z;
            EXPECT_NEAR(200.0f * lx / lz + 200.0f, (float)x, 0.01f);
            EXPECT_NEAR(200.0f * ly / lz + 150.0f, (float)sp.y, 0.01f);
        }
    }
}

TEST_F(ObjectPass, FacesWithoutAUsableMaterialAreDrawnWithTheNeutralTexture) {
    auto tex = synthetic::checker_texture();
    World w;
    w.materials.push_back(Material{nullptr, tex->texture});
    w.materials.push_back(Material{nullptr, nullptr});
    w.add(triangle({-9, -4, 10}, {-6, -4, 10}, {-8, -1, 10}, 0));
    w.add(triangle({-3, -4, 10}, {0, -4, 10}, {-2, -1, 10}, 1));   // no texture
    w.add(triangle({3, -4, 10}, {6, -4, 10}, {4, -1, 10}, -1));    // no material
    w.add(triangle({7, -4, 10}, {9, -4, 10}, {8, -1, 10}, 5));     // index out of range
    Scene* s = w.finish();
    std::vector<Span> spans = camera(s, identity());
    int counts[4] = {0, 0, 0, 0};
    for (const Span& sp : spans) {
        for (int k = 0; k < 4; k++)
            if (sp.node->face_id == (uint32_t)s->objects[k].faces[0].face_id) {
                counts[k]++;
                EXPECT_EQ(sp.node->texture, k == 0 ? tex->texture : pipeline_neutral_texture());
            }
    }
    for (int k = 0; k < 4; k++) EXPECT_GT(counts[k], 10) << k;
}

TEST_F(ObjectPass, AnObjectWithoutFacesDrawsNothing) {
    World w;
    w.add(Mesh{});
    Scene* s = w.finish();
    EXPECT_TRUE(camera(s, identity()).empty());
    EXPECT_TRUE(light(s, identity()).empty());
}

}  // namespace
