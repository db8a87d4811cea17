// Whole frames of small scenes built in memory, checked for what a person
// would see: where the light reaches, where the box throws its shadow.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "pipeline/frame.h"
#include "raster/resolve.h"
#include "synthetic_scene.h"

namespace {

using synthetic::Mesh;
using synthetic::World;

const int W = 400, H = 300;

struct Eye {
    Matrix4 pose;
    Matrix4 view;
    explicit Eye(const Matrix4& p) : pose(p) { matrix_inverse_affine(&pose, &view); }
    // Screen position of a world point; false when behind the eye.
    bool project(Vec3 p, float* x, float* y) const {
        Vec3 v = matrix_transform_point(&view, p);
        if (v.z < 0.1f) return false;
        *x = 200.0f * v.x / v.z + 200.0f;
        *y = 200.0f * v.y / v.z + 150.0f;
        return true;
    }
};

// Does the segment a-b pass through the box [lo, hi]? (slab test)
bool segment_hits_box(Vec3 a, Vec3 b, Vec3 lo, Vec3 hi) {
    float t0 = 0.0f, t1 = 1.0f;
    float pa[3] = {a.x, a.y, a.z}, pd[3] = {b.x - a.x, b.y - a.y, b.z - a.z};
    float l[3] = {lo.x, lo.y, lo.z}, h[3] = {hi.x, hi.y, hi.z};
    for (int k = 0; k < 3; k++) {
        if (std::fabs(pd[k]) < 1e-9f) {
            if (pa[k] < l[k] || pa[k] > h[k]) return false;
            continue;
        }
        float ta = (l[k] - pa[k]) / pd[k], tb = (h[k] - pa[k]) / pd[k];
        if (ta > tb) std::swap(ta, tb);
        t0 = std::max(t0, ta);
        t1 = std::min(t1, tb);
        if (t0 > t1) return false;
    }
    return true;
}

Vec3 grow(Vec3 v, float d) { return Vec3{v.x + d, v.y + d, v.z + d}; }

class Frame : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(synthetic::set_screen(W, H), 1);
        ASSERT_EQ(frame_init(2, &synthetic::test_screen), 2);
        shadow.assign((size_t)W * H, 0);
        frame.assign((size_t)W * H, 0);
        unshadowed.assign((size_t)W * H, 0);
        texture = synthetic::checker_texture();
        world.materials.push_back(Material{nullptr, texture->texture});
    }
    void TearDown() override { frame_shutdown(); }
    // Renders with the factor 100 and again with 256 (no darkening): a pixel
    // is lit exactly where the two agree.
    void render(const Matrix4& light, const Matrix4& camera, const uint8_t* cone = nullptr) {
        Scene* s = world.finish();
        synthetic::Shading bright;
        bright.shadow_factor = 256;
        synthetic::render_frame(s, light, camera, cone, shadow.data(), unshadowed.data(), bright);
        synthetic::render_frame(s, light, camera, cone, shadow.data(), frame.data());
    }
    bool covered(int x, int y) const { return unshadowed[(size_t)(y * W + x)] != 0; }
    bool lit(int x, int y) const {
        size_t i = (size_t)(y * W + x);
        return frame[i] == unshadowed[i];
    }
    std::vector<uint32_t> shadow, frame, unshadowed;
    std::unique_ptr<synthetic::OwnedTexture> texture;
    World world;
};

// A floor with a box on it, lit from above and to the side.
TEST_F(Frame, BoxOnAFloorShadowsWhereTheLightCannotSeeTheFloor) {
    const Vec3 box_lo{-8, 0, -8}, box_hi{8, 16, 8};
    Mesh floor, box;
    floor.grid({-40, 0, -40}, {80, 0, 0}, {0, 0, 80}, 8, 4.0f, {0, 1, 0}, 0);
    box.box(box_lo, box_hi, 2, 0);
    world.add(floor);
    world.add(box);
    const Vec3 light_at{30, 60, 12}, camera_at{-10, 45, -60};
    Eye light(synthetic::look_at(light_at, {0, 0, 0}, {0, 1, 0}));
    Eye camera(synthetic::look_at(camera_at, {-5, 0, 5}, {0, 1, 0}));
    render(light.pose, camera.pose);

    int lit_points = 0, lit_ok = 0, shadow_points = 0, shadow_ok = 0;
    for (float z = -38; z <= 38; z += 1.0f)
        for (float x = -38; x <= 38; x += 1.0f) {
            Vec3 p{x, 0, z};
            float cx, cy, lx, ly;
            if (!camera.project(p, &cx, &cy) || !light.project(p, &lx, &ly)) continue;
            if (cx < 4 || cx > W - 5 || cy < 4 || cy > H - 5) continue;
            if (segment_hits_box(camera_at, p, grow(box_lo, -0.5f), grow(box_hi, 0.5f))) continue;
            bool in_light_view = lx > 6 && lx < W - 7 && ly > 6 && ly < H - 7;
            bool blocked = segment_hits_box(light_at, p, grow(box_lo, 0.5f), grow(box_hi, -0.5f));
            bool clear = !segment_hits_box(light_at, p, grow(box_lo, -0.5f), grow(box_hi, 0.5f));
            int px = (int)cx, py = (int)cy;
            ASSERT_TRUE(covered(px, py)) << x << "," << z;
            if (blocked) {
                shadow_points++;
                shadow_ok += !lit(px, py);
            } else if (clear && in_light_view) {
                lit_points++;
                lit_ok += lit(px, py);
            }
        }
    ASSERT_GT(shadow_points, 40);
    ASSERT_GT(lit_points, 1000);
    EXPECT_EQ(shadow_ok, shadow_points);
    EXPECT_GE(lit_ok, lit_points * 99 / 100);

    // The box's side turned away from the light (-z) is dark all over; its
    // top, facing the light, is lit.
    int side = 0, side_dark = 0, top = 0, top_lit = 0;
    for (float a = -7; a <= 7; a += 0.5f)
        for (float b = 1; b <= 15; b += 0.5f) {
            float cx, cy;
            if (camera.project({a, b, -8}, &cx, &cy)) side++, side_dark += !lit((int)cx, (int)cy);
            if (camera.project({a, 16, b - 8}, &cx, &cy)) top++, top_lit += lit((int)cx, (int)cy);
        }
    ASSERT_GT(side, 100);
    EXPECT_EQ(side_dark, side);
    EXPECT_GE(top_lit, top * 99 / 100);
}

// With the light where the camera is, every visible pixel finds its own face
// in the shadow buffer, except isolated pixels at triangle corners; the cone
// confines the light.
TEST_F(Frame, LightAtTheCameraLightsEverythingInsideTheCone) {
    Matrix4 pose = synthetic::add_floor_box_ball(&world, 0);
    render(pose, pose);
    int covered_pixels = 0, lit_pixels = 0;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
            if (covered(x, y)) covered_pixels++, lit_pixels += lit(x, y);
    ASSERT_GT(covered_pixels, W * H / 3);
    EXPECT_GE(lit_pixels, covered_pixels - covered_pixels / 500) << covered_pixels - lit_pixels << " dark";

    // A round cone of radius 80 around the centre.
    std::vector<uint8_t> cone((size_t)W * H);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            float r = std::hypot((float)x - 200.0f, (float)y - 150.0f);
            cone[(size_t)(y * W + x)] = r < 80.0f ? 200 : 119;
        }
    render(pose, pose, cone.data());
    int inside = 0, inside_lit = 0, outside_lit = 0;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            if (!covered(x, y)) continue;
            float r = std::hypot((float)x - 200.0f, (float)y - 150.0f);
            // The 3 x 3 test and the truncation of the light position reach
            // up to about 3 pixels across the cone's edge.
            if (r < 77.0f) inside++, inside_lit += lit(x, y);
            if (r > 83.0f) outside_lit += lit(x, y);
        }
    EXPECT_GE(inside_lit, inside - inside / 500);
    EXPECT_EQ(outside_lit, 0);
}

// The same scene renders to the same frame, bit for bit, also after the
// engine and the frame's rows are set up again.
TEST_F(Frame, SameSceneSameFrame) {
    Mesh floor, ball;
    floor.grid({-40, 0, -40}, {80, 0, 0}, {0, 0, 80}, 6, 3.0f, {0, 1, 0}, 0);
    ball.sphere({0, 10, 0}, 10, 10, 16, -1);  // no material: the neutral checker
    world.add(floor);
    world.add(ball);
    Matrix4 light = synthetic::look_at({25, 60, -10}, {0, 0, 0}, {0, 1, 0});
    Matrix4 camera = synthetic::look_at({-20, 30, -50}, {0, 5, 0}, {0, 1, 0});
    render(light, camera);
    std::vector<uint32_t> first = frame;
    int dark = 0;
    for (int i = 0; i < W * H; i++) dark += frame[(size_t)i] != unshadowed[(size_t)i];
    EXPECT_GT(dark, 500);  // the ball's shadow and its far side are in the frame
    render(light, camera);
    EXPECT_EQ(std::memcmp(first.data(), frame.data(), first.size() * 4), 0);
    frame_shutdown();
    ASSERT_EQ(synthetic::set_screen(W, H), 1);
    ASSERT_EQ(frame_init(1, &synthetic::test_screen), 1);
    render(light, camera);
    EXPECT_EQ(std::memcmp(first.data(), frame.data(), first.size() * 4), 0);
}

// With the light at the camera one visibility pass serves both; the frame
// and the shadow buffer are those of two full passes, bit for bit, and the
// vertices keep the same light-view positions.
TEST_F(Frame, LightAtTheCameraSharesOnePassWithTheSameResult) {
    Matrix4 pose = synthetic::add_floor_box_ball(&world, 0);
    Scene* s = world.finish();
    std::vector<uint8_t> cone((size_t)W * H);
    for (size_t i = 0; i < cone.size(); i++) cone[i] = (i * 7919 % 251) < 200 ? 200 : 100;
    std::vector<uint32_t> full_frame((size_t)W * H), full_shadow((size_t)W * H);
    // The light-view depth each vertex holds after a frame that starts from -1.
    auto render_lz = [&](uint32_t* shadow_out, uint32_t* frame_out, FrameReport* report) {
        for (int o = 0; o < s->object_count; o++)
            for (int v = 0; v < s->objects[o].vertex_count; v++) s->objects[o].vertices[v].lz = -1.0f;
        *report = synthetic::render_frame(s, pose, pose, cone.data(), shadow_out, frame_out);
        std::vector<float> lz;
        for (int o = 0; o < s->object_count; o++)
            for (int v = 0; v < s->objects[o].vertex_count; v++) lz.push_back(s->objects[o].vertices[v].lz);
        return lz;
    };
    for (int threads : {1, 3}) {
        ASSERT_EQ(frame_init(threads, &synthetic::test_screen), threads);
        FrameReport report;
        frame_share_eyes(0);
        std::vector<float> full_lz = render_lz(full_shadow.data(), full_frame.data(), &report);
        frame_share_eyes(1);
        std::vector<float> shared_lz = render_lz(shadow.data(), frame.data(), &report);
        EXPECT_TRUE(frame == full_frame) << threads << " threads";
        EXPECT_TRUE(shadow == full_shadow) << threads << " threads";
        EXPECT_EQ(report.light_spans, report.camera_spans);
        EXPECT_NE(std::count(shared_lz.begin(), shared_lz.end(), -1.0f), (long)shared_lz.size());
        EXPECT_TRUE(shared_lz == full_lz);
    }
}

// The light pass leaves its light-view position only in the corners of
// faces that turn towards it: after the light has gone round behind a
// face, the face keeps what the first frame left it, frame after frame,
// past the 255th (the marks of seen corners carry the frame's number,
// which then comes round again).
TEST_F(Frame, CornersOfFacesTurnedFromTheLightKeepTheirLightViewPosition) {
    Mesh m;
    m.face(m.vertex({0, 0, 0}, 0, 0), m.vertex({10, 0, 0}, 1, 0), m.vertex({0, 10, 0}, 0, 1), {0, 0, 1}, 0);
    world.add(m);
    Scene* s = world.finish();
    const Matrix4 in_front = synthetic::look_at({3, 3, 30}, {3, 3, 0}, {0, 1, 0});
    const Matrix4 behind = synthetic::look_at({3, 3, -30}, {3, 3, 0}, {0, 1, 0});
    const Matrix4 camera = synthetic::look_at({3, 3, 40}, {3, 3, 0}, {0, 1, 0});
    const SceneVertex* v = s->objects[0].vertices;
    synthetic::render_frame(s, in_front, camera, nullptr, shadow.data(), frame.data());
    const float seen[3] = {v[1].lx, v[1].ly, v[1].lz};
    ASSERT_NEAR(seen[2], 30.0f, 1e-3f);  // the light's depth of (10, 0, 0)
    for (int f = 2; f <= 300; f++) {
        synthetic::render_frame(s, behind, camera, nullptr, shadow.data(), frame.data());
        ASSERT_TRUE(v[1].lx == seen[0] && v[1].ly == seen[1] && v[1].lz == seen[2]) << "frame " << f;
    }
}

// Faces that lie only in rows the cone leaves dark give the light pass no
// spans; every other row's ids are those a full cone gives.
TEST_F(Frame, RowsTheConeLeavesDarkTakeNoLightSpans) {
    Matrix4 light = synthetic::add_floor_box_ball(&world, 0);
    Scene* s = world.finish();
    Matrix4 camera = synthetic::look_at({-10, 30, -50}, {0, 5, 0}, {0, 1, 0});
    const int dark_from = 2 * H / 3;  // the bottom third: the near floor, in small faces
    std::vector<uint8_t> full((size_t)W * H, 200), banded = full;
    std::fill(banded.begin() + (size_t)dark_from * W, banded.end(), 100);
    std::vector<uint32_t> full_shadow((size_t)W * H);
    FrameReport all = synthetic::render_frame(s, light, camera, full.data(), full_shadow.data(), frame.data());
    FrameReport some = synthetic::render_frame(s, light, camera, banded.data(), shadow.data(), frame.data());
    EXPECT_LT(some.light_spans, all.light_spans);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            size_t i = (size_t)(y * W + x);
            ASSERT_EQ(shadow[i], y < dark_from ? full_shadow[i] : 0u) << x << ", " << y;
        }
}

// A deep field of thin upright faces (grass, a fence): far off, most rows
// of a face lie within one column and show nothing. Such rows are not
// stored, so every visible span covers a column and the pools grow only by
// what the visible spans need.
TEST_F(Frame, ThinFacesThatCoverNoColumnTakeNoNodes) {
    Mesh field;
    for (int k = 0; k < 6000; k++) {
        float x = -60.0f + (float)(k % 400) * 0.3f, z = 10.0f + (float)(k / 400) * 1.5f;
        int a = field.vertex({x, 0, z}, 0, 0), b = field.vertex({x + 0.01f, 0, z}, 1, 0);
        int c = field.vertex({x + 0.005f, 60, z}, 0.5f, 1);
        field.face(a, b, c, {0, 0, -1}, 0);
    }
    world.add(field);
    long nodes = frame_span_pool_nodes();
    Matrix4 light = synthetic::look_at({0, 30, -50}, {0, 30, 0}, {0, 1, 0});
    FrameReport report = synthetic::render_frame(world.finish(), light,
                                                 synthetic::look_at({5, 30, -50}, {0, 30, 0}, {0, 1, 0}), nullptr,
                                                 shadow.data(), frame.data());
    const ScanlineSpanList* rows = frame_span_lists();
    for (int y = 0; y < H; y++) {
        const SpanNode* n = rows[y].first;
        for (int i = 0; i < rows[y].active_count; i++, n = n->next) ASSERT_LT(n->x_left, n->x_right) << "row " << y;
    }
    EXPECT_GT(report.camera_spans, 100);
    EXPECT_LE(frame_span_pool_nodes() - nodes, (long)report.camera_spans + report.light_spans);
}

// Record storage that cannot grow (memory ran out) costs the chunks that
// needed it, never the process: with the limit raised step by step from
// none at all, every frame shows the memory warning until one is drawn
// whole, as without a limit, and some show the chunks that did fit.
TEST_F(Frame, RecordStorageRunningOutSkipsChunksAndWarns) {
    Mesh floor, box;
    floor.grid({-60, 0, -60}, {120, 0, 0}, {0, 0, 120}, 50, 8.0f, {0, 1, 0}, 0);  // 5,000 faces, 20 chunks
    box.box({-8, 0, -8}, {8, 16, 8}, 8, 0);
    world.add(floor);
    world.add(box);
    Scene* s = world.finish();
    Matrix4 light = synthetic::look_at({30, 60, 12}, {0, 0, 0}, {0, 1, 0});
    Matrix4 camera = synthetic::look_at({-10, 45, -60}, {-5, 0, 5}, {0, 1, 0});
    const long start = frame_storage_bytes();
    int steps = 0, partial = 0;
    for (long limit = start;; limit += 256 * 1024, steps++) {
        ASSERT_LT(limit, start + (64L << 20)) << "the scene never fitted";
        frame_storage_limit(limit);
        FrameReport report = synthetic::render_frame(s, light, camera, nullptr, shadow.data(), frame.data());
        uint32_t warnings = report.light_warnings | report.camera_warnings;
        if (!warnings) break;
        ASSERT_EQ(warnings, (uint32_t)RESOLVE_WARNING_OUT_OF_MEMORY) << "step " << steps;
        partial += std::count(frame.begin(), frame.end(), 0u) < (long)frame.size() / 2;
    }
    std::vector<uint32_t> fitted = frame;
    frame_storage_limit(-1);
    FrameReport report = synthetic::render_frame(s, light, camera, nullptr, shadow.data(), frame.data());
    EXPECT_EQ(report.light_warnings | report.camera_warnings, 0u);
    EXPECT_TRUE(fitted == frame);
    EXPECT_GT(steps, 2);
    EXPECT_GT(partial, 0) << "no frame drew the chunks that fitted";
}

}  // namespace
