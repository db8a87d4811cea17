// The views of a frame, checked against the frame's own data: the camera
// pass's rows, the shadow buffer, and the frame's pixels with and without
// darkening.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "pipeline/frame.h"
#include "raster/views.h"
#include "synthetic_scene.h"

namespace {

using synthetic::Mesh;
using synthetic::World;

const int W = 400, H = 300;

class Views : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(synthetic::set_screen(W, H), 1);
        ASSERT_EQ(frame_init(3, &synthetic::test_screen), 3);
        texture = synthetic::checker_texture();
        world.materials.push_back(Material{nullptr, texture->texture});
        camera = synthetic::add_floor_box_ball(&world, 0);
        light = synthetic::look_at({-30, 50, -20}, {0, 0, 5}, {0, 1, 0});
        // A disc of light, radius 110 pixels around the view's centre.
        cone.assign((size_t)W * H, 0);
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++) cone[(size_t)(y * W + x)] = std::hypot(x - 200.0, y - 150.0) < 110 ? 255 : 0;
        cone_image = RgbImage{cone.data(), W, H};
        shadow.assign((size_t)W * H, 0);
        frame.assign((size_t)W * H, 0);
        scene = world.finish();
    }
    void TearDown() override { frame_shutdown(); }
    // The views read the frame's scene and buffers afterwards, so all of
    // them live in the fixture.
    FrameReport render(const Matrix4& light_pose, const Matrix4& camera_pose, synthetic::Shading s = {}) {
        FrameScene f = {};
        f.world = scene;
        f.light_pose = light_pose;
        f.camera_pose = camera_pose;
        f.cone_mask = &cone_image;
        f.bilinear = s.bilinear;
        f.shadow_factor = s.shadow_factor;
        FrameTargets targets = {frame.data(), shadow.data(), nullptr, FRAME_VIEW_FRAME};
        FrameReport report;
        frame_render(&f, &targets, &report);
        return report;
    }
    std::vector<uint32_t> view(int v) {
        std::vector<uint32_t> out((size_t)W * H, 0xDEADBEEFu);  // every pixel must be written
        EXPECT_EQ(frame_draw_view(v, out.data()), 1);
        return out;
    }
    std::vector<uint32_t> light_positions() const {
        std::vector<uint32_t> all;
        for (int o = 0; o < scene->object_count; o++)
            for (int i = 0; i < scene->objects[o].vertex_count; i++) {
                const SceneVertex& v = scene->objects[o].vertices[i];
                for (float f : {v.lx, v.ly, v.lz}) {
                    uint32_t bits;
                    std::memcpy(&bits, &f, 4);
                    all.push_back(bits);
                }
            }
        return all;
    }

    std::unique_ptr<synthetic::OwnedTexture> texture;
    World world;
    Scene* scene = nullptr;
    Matrix4 camera, light;
    std::vector<uint32_t> cone;  // low byte: the cone's strength
    RgbImage cone_image;
    std::vector<uint32_t> shadow, frame;
};

// The same scene with a floor of a wide texture, seen flat from low down.
class LevelsFloor : public Views {
protected:
    void SetUp() override {
        Views::SetUp();
        wide = synthetic::make_texture(
            512, 8, [](int, int, int x, int y) { return (x ^ y) & 1 ? 220 : 30; },
            [](uint32_t p) { return 0x00202020u + p * 0x00010101u / 2u; });
        World floor_world;
        floor_world.materials.push_back(Material{nullptr, wide->texture});
        Mesh floor;
        floor.grid({-40, 0, -10}, {80, 0, 0}, {0, 0, 200}, 16, 16.0f, {0, 1, 0}, 0);
        floor_world.add(floor);
        std::swap(world, floor_world);
        scene = world.finish();
        camera = synthetic::look_at({0, 12, -20}, {0, 0, 40}, {0, 1, 0});
    }
    std::unique_ptr<synthetic::OwnedTexture> wide;
};

TEST_F(Views, NamesAndRefusals) {
    const char* names[] = {"frame", "spans", "ids", "light", "levels", "shadow"};
    for (int v = 0; v < FRAME_VIEW_COUNT; v++) {
        EXPECT_STREQ(frame_view_name(v), names[v]);
        EXPECT_EQ(frame_view_find(names[v]), v);
    }
    EXPECT_EQ(frame_view_find("Spans"), -1);
    EXPECT_EQ(frame_view_name(FRAME_VIEW_COUNT), nullptr);
    std::vector<uint32_t> out((size_t)W * H, 7);
    EXPECT_EQ(frame_draw_view(FRAME_VIEW_SPANS, out.data()), 0) << "no frame drawn yet";
    render(light, camera);
    EXPECT_EQ(frame_draw_view(FRAME_VIEW_COUNT, out.data()), 0);
    EXPECT_EQ(out[0], 7u);
    EXPECT_EQ(view(FRAME_VIEW_FRAME), frame);
}

// Row by row, the spans view holds one run of one colour per visible span,
// exactly at the span's columns, and black elsewhere.
TEST_F(Views, SpansShowEveryVisibleSpanAsARunOfItsOwn) {
    render(light, camera);
    std::vector<uint32_t> spans = view(FRAME_VIEW_SPANS);
    const ScanlineSpanList* rows = frame_span_lists();
    ASSERT_NE(rows, nullptr);
    long total = 0;
    for (int y = 0; y < H; y++) {
        const uint32_t* line = &spans[(size_t)(y * W)];
        // The runs of one non-black colour in the view's row.
        std::vector<std::pair<int, int>> runs;
        for (int x = 0; x < W;) {
            int end = x + 1;
            while (end < W && line[end] == line[x]) end++;
            if (line[x] != 0) runs.push_back({x, end});
            x = end;
        }
        std::vector<std::pair<int, int>> expected;
        const SpanNode* s = rows[y].first;
        for (int i = 0; i < rows[y].active_count; i++, s = s->next) {
            int a = s->x_left < 0 ? 0 : s->x_left, b = s->x_right > W ? W - 1 : s->x_right;
            if (a < b) expected.push_back({a, b});
        }
        // Neighbours touching end to start are separate runs; a gap is black.
        ASSERT_EQ(runs, expected) << "row " << y;
        total += (long)runs.size();
    }
    EXPECT_GT(total, 600);  // floor, box and ball: several spans on most rows
}

// The ids view is the shadow buffer, one colour per face: black exactly
// where the light recorded nothing (the cone included), and faces and
// colours in one-to-one correspondence.
TEST_F(Views, IdsHoldExactlyTheFacesTheLightRecorded) {
    render(light, camera);
    std::vector<uint32_t> ids = view(FRAME_VIEW_IDS);
    std::map<uint32_t, uint32_t> colour_of, id_of;
    for (size_t i = 0; i < ids.size(); i++) {
        ASSERT_EQ(ids[i] == 0, shadow[i] == 0) << "pixel " << i;
        if (!shadow[i]) continue;
        auto a = colour_of.emplace(shadow[i], ids[i]);
        auto b = id_of.emplace(ids[i], shadow[i]);
        ASSERT_EQ(a.first->second, ids[i]) << "face " << shadow[i] << " in two colours";
        ASSERT_EQ(b.first->second, shadow[i]) << "two faces in one colour";
    }
    EXPECT_GT(colour_of.size(), 50u);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
            if (!cone[(size_t)(y * W + x)]) {
                ASSERT_EQ(ids[(size_t)(y * W + x)], 0u);
            }
}

// A pixel the shadow view calls lit is one the frame left undarkened (the
// same frame drawn with the factor 256, which darkens nothing, agrees
// there), on either filter; all four verdicts occur where they should.
TEST_F(Views, ShadowVerdictsAreTheFramesOwn) {
    for (int bilinear : {1, 0}) {
        synthetic::Shading bright, normal;
        bright.shadow_factor = 256;
        bright.bilinear = normal.bilinear = bilinear;
        render(light, camera, bright);
        std::vector<uint32_t> undarkened = frame;
        render(light, camera, normal);
        std::vector<uint32_t> verdicts = view(FRAME_VIEW_SHADOW);
        long count[4] = {};
        for (size_t i = 0; i < verdicts.size(); i++) {
            uint32_t v = verdicts[i];
            ASSERT_TRUE(v == VIEW_LIT || v == VIEW_NOT_FOUND || v == VIEW_OUTSIDE || v == VIEW_NOTHING) << v;
            ASSERT_EQ(v == VIEW_NOTHING, frame[i] == 0) << "pixel " << i;
            ASSERT_EQ(v == VIEW_LIT, frame[i] != 0 && frame[i] == undarkened[i]) << "pixel " << i;
            count[v == VIEW_LIT ? 0 : v == VIEW_NOT_FOUND ? 1 : v == VIEW_OUTSIDE ? 2 : 3]++;
        }
        EXPECT_GT(count[0], 5000);  // lit floor and faces turned to the light
        EXPECT_GT(count[1], 500);   // the box's and the ball's shadows, their far sides
        EXPECT_GT(count[2], 5000);  // the floor outside the disc of light
        EXPECT_GT(count[3], 100);   // no floor behind the far edge
    }
}

// The floor's texture is 64 times wider than high: its faces take one
// level for both axes by their texel-to-pixel ratio, the y level held at the
// last of its two. The view shows the floor's x level rising with the
// distance while its y level stops at 1, and is black exactly where the
// frame is.
TEST_F(LevelsFloor, XAndYLevelsOfAWideTextureOnAFloorThatRecedes) {
    render(light, camera);
    std::vector<uint32_t> levels = view(FRAME_VIEW_LEVELS);
    for (size_t i = 0; i < levels.size(); i++) {
        ASSERT_EQ(levels[i] == 0, frame[i] == 0) << "pixel " << i;
        if (levels[i]) {
            ASSERT_EQ(levels[i] & 0xFF, VIEW_LEVEL_BLUE);
        }
    }
    // Up the middle column, from the near floor (the frustum keeps the
    // bottom rows clear) towards the horizon.
    int y = H - 1;
    while (y > 0 && !levels[(size_t)(y * W + 200)]) y--;
    uint32_t nearest = ~0u, farthest = 0;
    for (; y >= 0 && levels[(size_t)(y * W + 200)]; y--) {
        uint32_t c = levels[(size_t)(y * W + 200)];
        uint32_t x_level = (c >> 16 & 0xFF) / VIEW_LEVEL_STEP, y_level = (c >> 8 & 0xFF) / VIEW_LEVEL_STEP;
        ASSERT_EQ(y_level, std::min(x_level, 1u)) << "row " << y;
        ASSERT_GE(x_level, farthest) << "row " << y;
        if (nearest == ~0u) nearest = x_level;
        farthest = x_level;
    }
    EXPECT_GE(farthest, nearest + 2);
}

// The light view is the frame the camera draws from the light's pose; it
// leaves the frame's rows, its buffers and the vertices' light-view
// positions as they were, so the views and frames after it are unchanged.
TEST_F(Views, LightViewIsTheCameraAtTheLightAndChangesNothing) {
    render(light, camera);
    std::vector<uint32_t> spans = view(FRAME_VIEW_SPANS), positions = light_positions();
    std::vector<uint32_t> frame_before = frame, shadow_before = shadow;
    std::vector<uint32_t> from_light = view(FRAME_VIEW_LIGHT);
    EXPECT_EQ(view(FRAME_VIEW_SPANS), spans);
    EXPECT_EQ(light_positions(), positions);
    EXPECT_EQ(frame, frame_before);
    EXPECT_EQ(shadow, shadow_before);
    EXPECT_EQ(view(FRAME_VIEW_FRAME), frame);

    render(light, light);
    EXPECT_EQ(from_light, frame);
    long covered = 0;
    for (uint32_t c : from_light) covered += c != 0;
    EXPECT_GT(covered, W * H / 3);
}

}  // namespace
