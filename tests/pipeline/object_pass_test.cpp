#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "pipeline/object_pass.h"
#include "pipeline/neutral_texture.h"
#include "pipeline/records.h"
#include "raster/engine.h"
#include "raster/insert.h"
#include "scene/mesh_post.h"
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
    ShadingStore kept;  // the camera spans' shading, for as long as the test's rows
    // Camera pass of every object from `pose`, on fresh rows.
    std::vector<Span> camera(Scene* s, const Matrix4& pose) {
        span_rows_reset(&screen->rows);
        for (int i = 0; i < s->object_count; i++)
            render_object_camera_pass(&s->objects[i].matrix, &pose, &synthetic::test_screen, &s->objects[i], s->materials,
                                      s->material_count, &screen->rows, &kept);
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

// Faces are tested four at a time with a scalar tail: each plane distance
// must get the same verdict in every lane and in the tail. Seven faces side
// by side, each distance tried at each position.
TEST_F(ObjectPass, FacingVerdictIsTheSameInEveryLaneAndInTheTail) {
    const float below = std::nextafter(0.1f, 0.0f);
    const struct {
        float s;   // the eye's distance in front of the plane
        bool kept;
    } cases[] = {{0.0f, true}, {below, true}, {0.1f, false}, {-1.0f, true}, {NAN, true}, {0.11f, false}};
    for (const auto& c : cases)
        for (int at = 0; at < 7; at++) {
            Mesh m;
            for (int k = 0; k < 7; k++) {
                float x = -7.0f + 2.0f * (float)k;
                int a = m.vertex({x, -1, 10}, 0, 0), b = m.vertex({x + 1.5f, -1, 10}, 1, 0);
                m.face(a, b, m.vertex({x, 1, 10}, 0, 1), {0, 0, -1}, -1);
            }
            World w;
            w.add(m);
            Scene* scene = w.finish();
            SceneObject* o = &scene->objects[0];
            for (int k = 0; k < 7; k++) o->faces[k].plane_d = k == at ? c.s : 0.0f;
            const uint32_t id = (uint32_t)o->faces[at].face_id;
            std::vector<uint32_t> ids;
            for (const Span& span : camera(scene, identity())) ids.push_back(span.node->face_id);
            EXPECT_EQ(std::count(ids.begin(), ids.end(), id) > 0, c.kept) << "s " << c.s << " at " << at;
            EXPECT_EQ(std::set<uint32_t>(ids.begin(), ids.end()).size(), c.kept ? 7u : 6u) << c.s << " at " << at;
            // The planes in blocks of four give the same entries, from every start.
            ObjectView eye;
            const Matrix4 pose = identity();
            object_view_begin(&eye, &o->matrix, &pose, &synthetic::test_screen);
            std::vector<ViewVertex> view((size_t)o->vertex_count);
            object_view_vertices(&eye, o->vertices, o->vertex_count, view.data());
            for (int first = 0; first < 4; first++) {
                uint32_t faces[7], blocks[7];
                ASSERT_EQ(o->face_planes, nullptr);
                const int32_t n = object_pass_classify(&eye, o, first, 7 - first, view.data(), nullptr, faces);
                ASSERT_EQ(face_plane_blocks(o), 1);
                ASSERT_EQ(object_pass_classify(&eye, o, first, 7 - first, view.data(), nullptr, blocks), n);
                EXPECT_TRUE(std::equal(faces, faces + n, blocks)) << "s " << c.s << " at " << at << " from " << first;
                std::free(o->face_planes);
                o->face_planes = nullptr;
            }
        }
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
            float lx = n->lx_over_z + (float)x * n->shading->d_lx_over_z;
            float ly = n->ly_over_z + (float)x * n->shading->d_ly_over_z;
            float lz = n->lz_over_z + (float)x * n->shading->d_lz_over_z;
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
                EXPECT_EQ(sp.node->shading->texture, k == 0 ? tex->texture : pipeline_neutral_texture());
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

// The view vertices, four at a time where the build has SSE2, against one
// vertex at a time written out here: positions on frustum planes, at and
// around the near limit, behind the eye, huge and not a number; every count
// from 0 to 11 so that the four-wide steps and the rest both run.
TEST_F(ObjectPass, ViewVerticesMatchOneAtATime) {
    const float nan = std::nanf("");
    const float near_below = std::nextafter(0.1f, 0.0f);
    const Vec3 points[] = {{0, 0, 10},    {-5, 3, 0.1f},  {1, 1, near_below}, {2, -1, 0.0f}, {3, 3, -4},
                           {4e30f, 1, 1}, {nan, 0, 5},    {0, nan, 5},        {0, 0, nan},   {-7, 2, 0.25f},
                           {100, -80, 3}, {0, 0, 0},      {0.5f, 0.5f, 1e-30f}};
    const int total = (int)(sizeof points / sizeof points[0]);
    // The identity keeps the depths above as they are; the other pose mixes
    // every matrix entry in.
    for (const Matrix4& pose : {identity(), synthetic::look_at({1, 2, -3}, {0, 0, 10}, {0, 1, 0})}) {
    ObjectView eye;
    Matrix4 object = identity();
    object_view_begin(&eye, &object, &pose, &synthetic::test_screen);
    std::vector<SceneVertex> vertices((size_t)total);
    for (int i = 0; i < total; i++) {
        vertices[(size_t)i] = SceneVertex{};
        vertices[(size_t)i].x = points[i].x;
        vertices[(size_t)i].y = points[i].y;
        vertices[(size_t)i].z = points[i].z;
    }
    const float* m = eye.object_to_view.m;
    const Screen* screen = &synthetic::test_screen;
    for (int count = 0; count <= total; count++) {
        std::vector<ViewVertex> out((size_t)count + 1);
        out[(size_t)count].sides = 0xDEAD;  // nothing past the count is written
        object_view_vertices(&eye, vertices.data(), count, out.data());
        EXPECT_EQ(out[(size_t)count].sides, 0xDEADu);
        for (int i = 0; i < count; i++) {
            const SceneVertex& s = vertices[(size_t)i];
            ClipVertex c = {};
            c.x = s.x * m[0] + s.y * m[4] + s.z * m[8] + m[12];
            c.y = s.x * m[1] + s.y * m[5] + s.z * m[9] + m[13];
            c.z = s.x * m[2] + s.y * m[6] + s.z * m[10] + m[14];
            float sx = screen->focal_length * c.x / c.z + (float)screen->centre_x;
            float sy = screen->focal_length * c.y / c.z + (float)screen->centre_y;
            uint32_t sides = clip_vertex_sides(&screen->frustum, &c) | ((double)c.z < 0.1 ? VIEW_VERTEX_NEAR : 0u);
            const ViewVertex& v = out[(size_t)i];
            float want[5] = {c.x, c.y, c.z, sx, sy}, got[5] = {v.x, v.y, v.z, v.sx, v.sy};
            EXPECT_EQ(std::memcmp(want, got, sizeof want), 0) << "count " << count << " vertex " << i;
            EXPECT_EQ(v.sides, sides) << "count " << count << " vertex " << i;
            int32_t row = std::fabs(sy) < 8388608.0f ? (int32_t)std::ceil(sy) : 0;
            int32_t column = std::fabs(sx) < 8388608.0f ? (int32_t)std::floor(sx) : 0;
            EXPECT_EQ(v.row, row) << "count " << count << " vertex " << i;
            EXPECT_EQ(v.column, column) << "count " << count << " vertex " << i;
        }
    }
    }
}

// Tiny faces placed in pixels (centres at whole coordinates): a third of
// them slivers within a column whose sides lie 0 to 1/32 pixel off its
// edges, a third faces over several columns whose one row crosses them as
// near a column's sides; every fourth one up to 40 pixels across instead.
Scene* pixel_faces(World& w) {
    Mesh m;
    std::mt19937 rng(5);
    auto unit = [&]() { return (float)(rng() % 4097) / 4096.0f; };
    const Screen& view_screen = synthetic::test_screen;
    auto corner = [&](float px, float py) {  // the point 10 in front of the eye seen at px, py
        const float scale = 10.0f / view_screen.focal_length;
        Vec3 p{(px - (float)view_screen.centre_x) * scale, (py - (float)view_screen.centre_y) * scale, 10.0f};
        return m.vertex(p, 0, 0);
    };
    const float off[] = {0.0f, 0x1p-20f, 1.0f / 1024, 1.0f / 64, 1.0f / 32};
    for (int k = 0; k < 3000; k++) {
        float x = (float)(20 + rng() % 360), y = (float)(20 + rng() % 260) + 1.5f * unit() - 0.25f;
        float left = x + unit() * 1.5f - 0.25f, right = left + unit() * 0.6f, height = unit() * 1.2f;
        if (k % 3 == 0) left = x + off[rng() % 5], right = x + 1.0f - off[rng() % 5];
        if (k % 4 == 0) right = left + unit() * 40.0f, height = unit() * 40.0f - 20.0f;
        int a = corner(left, y), b = corner(right, y + height * unit());
        int c = corner(left + (right - left) * unit(), y + height);
        if (k % 3 == 1) {  // one row, met within a column 0 to 1/32 pixel off its sides; a corner beyond it
            y = std::floor(y) - off[rng() % 5];
            a = corner(x + off[rng() % 5], y), b = corner(x + 1.0f - off[rng() % 5], y);
            c = corner(x + 1.5f + unit() * 3.0f, y + 0.1f + unit() * 0.8f);
        }
        m.face(a, b, c, {0, 0, -1}, -1);
    }
    w.add(m);
    return w.finish();
}

// The facing pass drops faces that cover no pixel before their records are
// made, on the corners' whole rows and columns and, for one-row faces, the
// row's crossing: each such face, made into a record anyway, gives no row a
// span. Faces kept whole take their chains from their view vertices' rows
// and are rejected before their attributes are gathered: their records, and
// their rejections, are those of their projected polygons in both passes. A
// face the light leaves out for lying outside its rows' windows makes no
// span near them.
TEST_F(ObjectPass, PixelFacesAreDroppedOnlyWhenEmptyAndRecordedAsTheirPolygons) {
    World w;
    Scene* s = pixel_faces(w);
    const SceneObject* object = &s->objects[0];
    Matrix4 pose = identity();
    ObjectView eye;
    object_view_begin(&eye, &object->matrix, &pose, &synthetic::test_screen);
    std::vector<ViewVertex> view((size_t)object->vertex_count);
    object_view_vertices(&eye, object->vertices, object->vertex_count, view.data());
    std::vector<uint32_t> entries((size_t)object->face_count), windowed((size_t)object->face_count);
    ASSERT_EQ(object_pass_classify(&eye, object, 0, object->face_count, view.data(), nullptr, entries.data()),
              object->face_count);  // all face the eye, in order
    int dropped = 0, made = 0, rejected = 0, outside = 0;
    alignas(8) unsigned char got[POLYGON_RECORD_MAX], want[POLYGON_RECORD_MAX];
    std::mt19937 rng(6);
    std::vector<int32_t> columns(2 * 300);  // a window of 0 to 40 columns in every row
    for (size_t y = 0; y < 300; y++) {
        columns[2 * y] = (int32_t)(rng() % 400);
        columns[2 * y + 1] = columns[2 * y] + (int32_t)(rng() % 41);
    }
    const ClassifyExtras windows = {columns.data(), nullptr, 0};
    ASSERT_EQ(object_pass_classify(&eye, object, 0, object->face_count, view.data(), &windows, windowed.data()),
              object->face_count);
    for (int32_t f = 0; f < object->face_count; f++) {
        const SceneFace* face = &object->faces[f];
        ClipPolygon polygon = {};
        polygon.count = 3;
        for (int k = 0; k < 3; k++) {
            const SceneVertex* vertex = face->corners[k];
            const ViewVertex& v = view[(size_t)(vertex - object->vertices)];
            polygon.v[k] = ClipVertex{v.sx, v.sy, v.z, vertex->u, vertex->v, vertex->lx, vertex->ly, vertex->lz, {}};
        }
        for (int pass = 0; pass < 2; pass++) {
            std::memset(got, 0xAB, sizeof got);
            std::memset(want, 0xAB, sizeof want);
            size_t size = pass ? object_pass_camera_record(&eye, face, view.data(), CLIP_KEEP, nullptr,
                                                           s->materials, s->material_count, got)
                               : object_pass_light_record(&eye, face, view.data(), CLIP_KEEP, got);
            size_t expected = pass ? polygon_record_camera(&polygon, eye.screen, nullptr, (uint32_t)face->face_id, want)
                                   : polygon_record_light(&polygon, eye.screen, (uint32_t)face->face_id, want);
            ASSERT_EQ(size, expected) << "face " << f << " pass " << pass;
            ASSERT_EQ(std::memcmp(got, want, size), 0) << "face " << f << " pass " << pass;
            made += size > 0, rejected += size == 0;
            // With the windows, only faces kept whole may be dropped.
            ASSERT_TRUE(windowed[(size_t)f] == entries[(size_t)f] ||
                        ((entries[(size_t)f] & 3) == CLIP_KEEP && (windowed[(size_t)f] & 3) == CLIP_DROP &&
                         windowed[(size_t)f] >> 2 == (uint32_t)f))
                << "face " << f;
            if (!pass && size && windowed[(size_t)f] != entries[(size_t)f]) {
                span_rows_reset(&screen->rows);  // a face the light leaves out: no span near the windows
                SpanNode span = {};
                polygon_walk((const PolygonRecord*)got, &screen->rows, &span);
                for (const Span& sp : all_spans(screen->lists.data()))
                    ASSERT_TRUE(span_outside_columns(sp.node->x_left, sp.node->x_right, columns[2 * (size_t)sp.y],
                                                     columns[2 * (size_t)sp.y + 1]))
                        << "face " << f << " row " << sp.y;
                outside++;
            }
            if ((entries[(size_t)f] & 3) != CLIP_DROP || pass || !size) continue;
            span_rows_reset(&screen->rows);  // a dropped face's light record, walked
            SpanNode span = {};
            polygon_walk((const PolygonRecord*)got, &screen->rows, &span);
            ASSERT_TRUE(all_spans(screen->lists.data()).empty()) << "face " << f;
        }
        dropped += (entries[(size_t)f] & 3) == CLIP_DROP;
    }
    EXPECT_GT(dropped, 500);
    EXPECT_GT(object->face_count - dropped, 500);
    EXPECT_GT(made, 1000);
    EXPECT_GT(rejected, 1000);
    EXPECT_GT(outside, 500);
}

// Faces around the eye, for the lane tests: mostly tiny, every fifth up to
// 20 units across, turned either way, across the frustum's planes, behind
// the eye or nearer than the near limit; a few with a corner that is not a
// number. First, 300 faces within one column whose corners lie on the
// slack the column test allows, or 2^-16 either side of it: their u and v
// hold the screen positions to give them (boundary_corners).
Scene* scattered_faces(World& w) {
    Mesh m;
    std::mt19937 rng(7);
    auto unit = [&]() { return (float)(rng() % 65537) / 65536.0f; };
    for (int k = 0; k < 300; k++) {
        const float column = (float)(10 + rng() % 380), row = (float)(10 + rng() % 280);
        const int rows = 1 + k % 2;
        const float slack = 1.0f / 64.0f + (float)(rows + 1) / 65536.0f;
        const float left = slack + (float)(k % 3 - 1) / 65536.0f, right = slack + (float)(k / 3 % 3 - 1) / 65536.0f;
        auto corner = [&](float sx, float sy) { return m.vertex({sx - 200.0f, sy - 150.0f, 200.0f}, sx, sy); };
        m.face(corner(column + left, row - 0.5f), corner(column + 1.0f - right, row - 0.25f),
               corner(column + 0.5f, row - 0.5f + (float)rows), {0, 0, -1}, -1);
    }
    for (int k = 0; k < 2000; k++) {
        const Vec3 c{unit() * 60.0f - 30.0f, unit() * 46.0f - 23.0f, unit() * 45.0f - 5.0f};
        const float size = k % 5 ? unit() * 0.2f : unit() * 20.0f;
        int v[3];
        for (int& i : v)
            i = m.vertex({c.x + (unit() - 0.5f) * size, c.y + (unit() - 0.5f) * size, c.z + (unit() - 0.5f) * size},
                         0, 0);
        if (k % 97 == 0) m.vertices[(size_t)v[0]].y = std::nanf("");
        m.face(v[0], v[1], v[2], {unit() - 0.5f, unit() - 0.5f, unit() - 0.5f}, -1);
    }
    w.add(m);
    return w.finish();
}

// The screen positions scattered_faces' first faces are meant to have, on
// their view vertices, exactly (a projection would round them).
void boundary_corners(const SceneObject* o, ViewVertex* view) {
    for (int i = 0; i < 900; i++) {
        ViewVertex* v = &view[i];
        v->sx = o->vertices[i].u, v->sy = o->vertices[i].v;
        v->sides = CLIP_SIDES_INSIDE;
        v->row = (int32_t)std::ceil(v->sy), v->column = (int32_t)std::floor(v->sx);
    }
}

// View vertices and classification eight at a time give what the four-lane
// loops and the one-by-one code give, bit for bit: the same vertices, the
// same entries and the same marks, with and without columns and marks,
// from starts that leave faces before the first whole block and after the
// last group of eight.
TEST_F(ObjectPass, EightLanesGiveTheFourLaneResults) {
    if (!engine_simd_supported(SIMD_AVX2)) GTEST_SKIP() << "this processor has no AVX2";
    const int level = engine_simd_level();
    World pixel, scattered;
    Scene* scenes[] = {pixel_faces(pixel), scattered_faces(scattered)};
    std::mt19937 rng(8);
    std::vector<int32_t> columns(2 * 300);
    for (size_t y = 0; y < 300; y++) {
        columns[2 * y] = (int32_t)(rng() % 400);
        columns[2 * y + 1] = columns[2 * y] + (int32_t)(rng() % 60);
    }
    const Matrix4 poses[] = {identity(), synthetic::look_at({1, 2, -3}, {0, 0, 10}, {0, 1, 0})};
    int actions[3] = {};
    for (Scene* s : scenes) {
        SceneObject* o = &s->objects[0];
        ASSERT_EQ(face_plane_blocks(o), 1);
        const size_t vertices = (size_t)o->vertex_count, faces = (size_t)o->face_count;
        for (const Matrix4& pose : poses) {
            ObjectView eye;
            object_view_begin(&eye, &o->matrix, &pose, &synthetic::test_screen);
            std::vector<ViewVertex> view[2] = {std::vector<ViewVertex>(vertices), std::vector<ViewVertex>(vertices)};
            for (int lanes = 0; lanes < 2; lanes++) {
                ASSERT_EQ(engine_set_simd(lanes ? SIMD_AVX2 : SIMD_SSE2), 1);
                object_view_vertices(&eye, o->vertices, o->vertex_count, view[lanes].data());
            }
            ASSERT_EQ(std::memcmp(view[0].data(), view[1].data(), vertices * sizeof(ViewVertex)), 0);
            if (s == scenes[1]) boundary_corners(o, view[0].data());
            for (int extra = 0; extra < 4; extra++)
                for (int first : {0, 1, 3, 8})
                    for (int short_by : {0, 5, 8}) {
                        const int32_t count = o->face_count - first - short_by;
                        std::vector<uint32_t> entries[2] = {std::vector<uint32_t>(faces), std::vector<uint32_t>(faces)};
                        std::vector<std::atomic<uint8_t>> marks[2] = {std::vector<std::atomic<uint8_t>>(vertices),
                                                                      std::vector<std::atomic<uint8_t>>(vertices)};
                        int32_t n[2];
                        for (int lanes = 0; lanes < 2; lanes++) {
                            for (auto& mark : marks[lanes]) mark.store(0);
                            const ClassifyExtras extras = {extra & 1 ? columns.data() : nullptr,
                                                           extra & 2 ? marks[lanes].data() : nullptr, 7};
                            ASSERT_EQ(engine_set_simd(lanes ? SIMD_AVX2 : SIMD_SSE2), 1);
                            n[lanes] = object_pass_classify(&eye, o, first, count, view[0].data(), &extras,
                                                            entries[lanes].data());
                        }
                        const std::string where = "extras " + std::to_string(extra) + " from " +
                                                  std::to_string(first) + " count " + std::to_string(count);
                        ASSERT_EQ(n[0], n[1]) << where;
                        for (int32_t i = 0; i < n[0]; i++) {
                            ASSERT_EQ(entries[0][(size_t)i], entries[1][(size_t)i]) << where << " entry " << i;
                            actions[entries[0][(size_t)i] & 3]++;
                        }
                        for (size_t i = 0; i < vertices; i++)
                            ASSERT_EQ(marks[0][i].load(), marks[1][i].load()) << where << " vertex " << i;
                    }
        }
        std::free(o->face_planes);
        o->face_planes = nullptr;
    }
    engine_set_simd(level);
    for (int action : actions) EXPECT_GT(action, 1000);
}

}  // namespace
