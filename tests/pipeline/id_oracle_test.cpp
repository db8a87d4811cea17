// The light's id buffer against a plain, slow, obviously right reference:
// for every pixel, the face nearest the eye (largest 1/z) among the
// triangles that cover the pixel's sample point, worked out in double for
// each triangle on its own. Random scenes of crossing, nested and far-apart
// triangles, on one thread and on three, the light apart from the camera
// and at it. Where the reference cannot say what a rasterizer must draw,
// the pixel is left out: sample points within a pixel of a triangle's edge
// (the engine's edges are 16.16 and sample one pixel edge, not the centre)
// and pixels where the two nearest faces lie within 1e-4 of each other in
// 1/z (where faces cross, insertion cuts at a column it computes in float).
// Every other pixel, but for the frame's outer 3 pixels (the view's sides
// are clipped 2 pixels inside the screen), holds exactly the reference's id.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "pipeline/frame.h"
#include "synthetic_scene.h"

namespace {

using synthetic::Mesh;
using synthetic::World;

struct Projected {
    double x[3], y[3], w[3];  // screen position and 1/z of each corner
    uint32_t id;
};

// Signed distance in pixels of (px, py) from the line a-b, positive on the
// triangle's inner side given its orientation s.
double edge_distance(const Projected& t, int a, int b, double px, double py, double s) {
    const double ex = t.x[b] - t.x[a], ey = t.y[b] - t.y[a];
    return s * (ex * (py - t.y[a]) - ey * (px - t.x[a])) / std::sqrt(ex * ex + ey * ey);
}

TEST(IdOracle, EveryPixelAwayFromEdgesAndTiesHoldsTheNearestFace) {
    const int width = 401, height = 301;
    ASSERT_EQ(synthetic::set_screen(width, height), 1);
    const double focal = synthetic::test_screen.focal_length;
    const double cx = synthetic::test_screen.centre_x, cy = synthetic::test_screen.centre_y;
    std::mt19937 rng(2026);
    auto uniform = [&](double a, double b) { return (float)(a + (b - a) * (double)(rng() % 1000001) / 1000000.0); };
    long compared = 0, left_out = 0;
    for (int scene_number = 0; scene_number < 5; scene_number++) {
        World world;
        world.materials.push_back(Material{nullptr, nullptr});
        const Vec3 eye = {uniform(-5, 5), uniform(20, 40), uniform(-60, -40)};
        const Vec3 target = {uniform(-3, 3), uniform(0, 10), uniform(20, 40)};
        const Matrix4 light = synthetic::look_at(eye, target, {0, 1, 0});
        Matrix4 view;
        matrix_inverse_affine(&light, &view);
        Mesh mesh;
        const int triangles = 60 + 30 * scene_number;
        for (int t = 0; t < triangles; t++) {
            // A point in the view's cone, then corners around it: small
            // slivers, large sheets that cross many others, all facing the eye.
            const double depth = uniform(15, 160), size = depth * (rng() % 4 == 0 ? uniform(0.3, 0.5) : uniform(0.02, 0.2));
            const Vec3 centre = matrix_transform_point(&light, Vec3{(float)(uniform(-0.8, 0.8) * depth),
                                                                     (float)(uniform(-0.6, 0.6) * depth), (float)depth});
            int corner[3];
            for (int k = 0; k < 3; k++) {
                const Vec3 p = {centre.x + (float)uniform(-size, size), centre.y + (float)uniform(-size, size),
                                centre.z + (float)uniform(-size, size)};
                corner[k] = mesh.vertex(p, 0, 0);
            }
            const SceneVertex& c0 = mesh.vertices[(size_t)corner[0]];
            const Vec3 toward = synthetic::sub(eye, Vec3{c0.x, c0.y, c0.z});
            mesh.face(corner[0], corner[1], corner[2], toward, 0);
        }
        world.add(mesh);
        Scene* scene = world.finish();
        // The reference's triangles, every corner well in front of the near
        // limit; those reaching past the view's sides are drawn as the
        // engine clips them, the same pixels within the screen.
        std::vector<Projected> projected;
        for (const SceneFace& f : world.storage[0]->faces) {
            Projected p;
            p.id = (uint32_t)f.face_id;
            bool usable = true;
            for (int k = 0; k < 3; k++) {
                const Vec3 v = matrix_transform_point(&view, Vec3{f.corners[k]->x, f.corners[k]->y, f.corners[k]->z});
                usable = usable && v.z > 1.0f;
                p.x[k] = focal * v.x / v.z + cx;
                p.y[k] = focal * v.y / v.z + cy;
                p.w[k] = 1.0 / v.z;
            }
            ASSERT_TRUE(usable);
            projected.push_back(p);
        }
        // The reference, once per scene: the nearest face per pixel, or -1
        // where it cannot say.
        std::vector<int64_t> expected((size_t)width * height, -1);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) {
                const double px = x + 0.5, py = y;  // between the pixel edge sampled and the centre
                double best = 0.0, second = 0.0;
                uint32_t best_id = 0;
                bool near_edge = false;
                for (const Projected& t : projected) {
                    const double area = (t.x[1] - t.x[0]) * (t.y[2] - t.y[0]) - (t.x[2] - t.x[0]) * (t.y[1] - t.y[0]);
                    if (area == 0.0) continue;
                    const double s = area > 0 ? 1.0 : -1.0;
                    const double inside = std::min(edge_distance(t, 1, 2, px, py, s),
                                                   std::min(edge_distance(t, 2, 0, px, py, s), edge_distance(t, 0, 1, px, py, s)));
                    if (std::fabs(inside) < 1.0) near_edge = true;
                    if (inside <= 0.0) continue;
                    // 1/z is affine on the screen: the sample's barycentric weights.
                    const double l0 = ((t.x[1] - px) * (t.y[2] - py) - (t.x[2] - px) * (t.y[1] - py)) / area;
                    const double l1 = ((t.x[2] - px) * (t.y[0] - py) - (t.x[0] - px) * (t.y[2] - py)) / area;
                    const double w = l0 * t.w[0] + l1 * t.w[1] + (1.0 - l0 - l1) * t.w[2];
                    if (w > best) second = best, best = w, best_id = t.id;
                    else if (w > second) second = w;
                }
                // The frustum stops 2 pixels inside the screen; its edges are edges too.
                const bool border = x < 3 || y < 3 || x >= width - 3 || y >= height - 3;
                if (!border && !near_edge && !(second > 0.0 && best - second < 1e-4 * best))
                    expected[(size_t)y * width + x] = best_id;
            }
        for (int threads : {1, 3})
            for (int apart = 0; apart < 2; apart++) {
                SCOPED_TRACE(testing::Message() << "scene " << scene_number << " threads " << threads << " apart " << apart);
                ASSERT_EQ(frame_init(threads, &synthetic::test_screen), threads);
                std::vector<uint32_t> ids((size_t)width * height), colours((size_t)width * height);
                Matrix4 camera = light;
                if (apart) matrix_rotate_y(&camera, 0.3f);
                synthetic::render_frame(scene, light, camera, nullptr, ids.data(), colours.data());
                frame_shutdown();
                for (size_t i = 0; i < ids.size(); i++) {
                    if (expected[i] < 0) {
                        left_out++;
                        continue;
                    }
                    compared++;
                    ASSERT_EQ(ids[i], (uint32_t)expected[i]) << "pixel " << i % width << ", " << i / width;
                }
            }
    }
    EXPECT_GT(compared, 2 * left_out) << "most pixels are compared";
}

}  // namespace
