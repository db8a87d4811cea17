// Whole frames of small scenes built in code, rendered through the real
// light and camera passes and compared bit for bit with approved images
// (tests/approved/*.png). A change of any span outcome, division point,
// truncation or shadow decision shows up as differing pixels; see
// approved_image.h for the failure output and the approve command.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "approved_image.h"
#include "pipeline/frame.h"
#include "synthetic_scene.h"

namespace {

using synthetic::Mesh;
using synthetic::World;

// A non-square texture (128 x 32 file: six levels across, four down) with
// brick-like rows and a hue ramp, so row length, masks and v shift differ
// between the axes.
std::unique_ptr<synthetic::OwnedTexture> brick_texture() {
    return synthetic::make_texture(
        128, 32,
        [](int a, int b, int x, int y) {
            int bx = (x << a) + ((((y << b) >> 3) & 1) << 3), by = y << b;
            int mortar = (bx & 15) == 0 || (by & 7) == 0;
            return mortar ? 250 : 20 + ((bx >> 4) * 37 + (by >> 3) * 11) % 200;
        },
        [](uint32_t p) { return (p * 0x00010000u) | ((255 - p) / 2) << 8 | (p * 7 & 0xFF); });
}

struct Shot {
    const char* name;
    int width, height;
    int bilinear;
};

class ApprovedFrames : public ::testing::Test {
protected:
    void SetUp() override {
        checker = synthetic::checker_texture();
        brick = brick_texture();
        world.materials.push_back(Material{nullptr, checker->texture});
        world.materials.push_back(Material{nullptr, brick->texture});
    }
    void TearDown() override { frame_shutdown(); }
    // Renders the world twice over on 1 thread (the second frame must repeat
    // the first, so nothing carries over between frames), checks it against
    // the approved image, and renders it again on 2, 3 and 8 threads, which
    // must give the same frame bit for bit.
    void expect_approved(const Shot& shot, const Matrix4& light, const Matrix4& camera,
                         const uint8_t* cone = nullptr) {
        ASSERT_EQ(synthetic::set_screen(shot.width, shot.height), 1);
        size_t pixels = (size_t)shot.width * (size_t)shot.height;
        std::vector<uint32_t> shadow(pixels), frame(pixels), again(pixels);
        synthetic::Shading shading;
        shading.bilinear = shot.bilinear;
        Scene* scene = world.finish();
        ASSERT_EQ(frame_init(1, &synthetic::test_screen), 1);
        synthetic::render_frame(scene, light, camera, cone, shadow.data(), frame.data(), shading);
        synthetic::render_frame(scene, light, camera, cone, shadow.data(), again.data(), shading);
        EXPECT_TRUE(frame == again) << shot.name << ": the second frame differs from the first";
        std::string failure = approved::check(shot.name, frame, shot.width, shot.height);
        EXPECT_TRUE(failure.empty()) << failure;
        for (int threads : {2, 3, 8}) {
            ASSERT_EQ(frame_init(threads, &synthetic::test_screen), threads);
            std::fill(again.begin(), again.end(), 0xDEADBEEFu);  // every pixel must be drawn anew
            synthetic::render_frame(scene, light, camera, cone, shadow.data(), again.data(), shading);
            EXPECT_TRUE(frame == again) << shot.name << ": " << threads << " threads draw another frame";
        }
    }
    // A disc of strength 200 around the screen centre, 119 outside (just
    // below the threshold).
    static std::vector<uint8_t> round_cone(int width, int height, float radius) {
        std::vector<uint8_t> cone((size_t)width * (size_t)height);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) {
                float r = std::hypot((float)(x - width / 2), (float)(y - height / 2));
                cone[(size_t)(y * width + x)] = r < radius ? 200 : 119;
            }
        return cone;
    }
    std::unique_ptr<synthetic::OwnedTexture> checker, brick;
    World world;
};

// A floor with a box on it, lit from above and to the side: the box's
// shadow on the floor, its dark far sides, both filters.
TEST_F(ApprovedFrames, BoxOnFloorBothFilters) {
    Mesh floor, box;
    floor.grid({-40, 0, -40}, {80, 0, 0}, {0, 0, 80}, 8, 4.0f, {0, 1, 0}, 0);
    box.box({-8, 0, -8}, {8, 16, 8}, 2, 1);
    world.add(floor);
    world.add(box);
    Matrix4 light = synthetic::look_at({30, 60, 12}, {0, 0, 0}, {0, 1, 0});
    Matrix4 camera = synthetic::look_at({-10, 45, -60}, {-5, 0, 5}, {0, 1, 0});
    expect_approved({"box_floor_bilinear", 200, 150, 1}, light, camera);
    expect_approved({"box_floor_nearest", 200, 150, 0}, light, camera);
}

// Light pose = camera pose: everything visible inside the round cone is
// lit except isolated pixels at triangle corners; the cone edge and the
// 2-pixel border are dark.
TEST_F(ApprovedFrames, LightAtTheCameraWithACone) {
    Matrix4 pose = synthetic::add_floor_box_ball(&world, 1);
    std::vector<uint8_t> cone = round_cone(200, 150, 60.0f);
    expect_approved({"light_at_camera_cone", 200, 150, 1}, pose, pose, cone.data());
}

// Spans whose 1/z lines cross inside a row: two upright walls crossing in
// an X, a slab and a ball sunk into the floor; a light off to the side. At
// the full screen size, so spans also reach the right edge.
TEST_F(ApprovedFrames, CrossingSurfaces) {
    Mesh floor, walls, ball;
    floor.grid({-50, 0, -50}, {100, 0, 0}, {0, 0, 100}, 6, 6.0f, {0, 1, 0}, 0);
    walls.grid({-20, 0, -10}, {40, 0, 20}, {0, 20, 0}, 3, 2.0f, {-0.5f, 0, -1}, 1);
    walls.grid({-20, 0, 10}, {40, 0, -20}, {0, 20, 0}, 3, 2.0f, {0.5f, 0, -1}, 1);
    walls.grid({-34, -6, -4}, {14, 0, 0}, {0, 16, 10}, 2, 1.0f, {0, 0.5f, -1}, 0);
    ball.sphere({24, 2, -6}, 7, 10, 16, 1);
    world.add(floor);
    world.add(walls);
    world.add(ball);
    Matrix4 light = synthetic::look_at({-35, 50, -20}, {0, 0, 5}, {0, 1, 0});
    Matrix4 camera = synthetic::look_at({4, 18, -55}, {0, 6, 0}, {0, 1, 0});
    expect_approved({"crossing_surfaces", 400, 300, 1}, light, camera);
}

// Close to the geometry: polygons clipped at the frustum's sides, spans
// running off both screen edges, magnified texels of the coarsest and
// finest levels, nearest filtering; the light moved round the other way.
TEST_F(ApprovedFrames, CloseUpClippedNearest) {
    Mesh floor, box, ball;
    floor.grid({-40, 0, -40}, {80, 0, 0}, {0, 0, 80}, 8, 2.0f, {0, 1, 0}, 1);
    box.box({-6, 0, -2}, {4, 9, 6}, 1, 0);
    ball.sphere({7, 4, -4}, 4, 8, 12, 1);
    world.add(floor);
    world.add(box);
    world.add(ball);
    Matrix4 light = synthetic::look_at({20, 30, -30}, {0, 0, 0}, {0, 1, 0});
    Matrix4 camera = synthetic::look_at({-2, 7, -14}, {1, 3, 2}, {0, 1, 0});
    expect_approved({"close_up_nearest", 200, 150, 0}, light, camera);
}

}  // namespace
