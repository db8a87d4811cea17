// Frame benchmark: a synthetic room of about 3,000 triangles (floor, walls,
// boxes, spheres; see build_scene) rendered through the frame engine at
// 400 x 300 (or --size) on N threads (every core by default). Prints the
// median time of every part of the frame, the spans per pass, the span-pool
// allocations made after warm-up (there should be none) and a checksum of
// the last frame. --simd each draws the frames with the fill routines of
// every instruction set the processor runs in turn, and prints the median
// camera rows of each: one run compares them under the same load.
//
//   bench_frame [--frames N] [--threads N] [--nearest] [--grid] [--size WxH]
//               [--simd plain|sse2|avx2|each]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <thread>

#include "../tests/synthetic_scene.h"
#include "pipeline/frame.h"
#include "raster/engine.h"
#include "raster/span_pool.h"

namespace {

using synthetic::Mesh;

int W = 400, H = 300;
const char* const simd_names[SIMD_LEVEL_COUNT] = {"plain", "sse2", "avx2"};

int pool_allocations = 0;
void* counting_allocator(void* block, size_t bytes) {
    pool_allocations++;
    return std::realloc(block, bytes);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// "room": large walls and floor, six boxes and seven spheres (most triangles
// are on the spheres). "grid": the same room with floor and walls cut into
// small quads, four spheres; many short spans per row.
void build_scene(synthetic::World* world, int grid) {
    Mesh room, boxes, balls;
    int floor_cuts = grid ? 16 : 4, wall_cuts = grid ? 8 : 2;
    room.grid({-30, 0, -30}, {60, 0, 0}, {0, 0, 60}, floor_cuts, 8.0f, {0, 1, 0}, 0);
    room.grid({-30, 0, 30}, {60, 0, 0}, {0, 30, 0}, wall_cuts, 4.0f, {0, 0, -1}, 0);
    room.grid({-30, 0, -30}, {60, 0, 0}, {0, 30, 0}, wall_cuts, 4.0f, {0, 0, 1}, 0);
    room.grid({-30, 0, -30}, {0, 0, 60}, {0, 30, 0}, wall_cuts, 4.0f, {1, 0, 0}, 0);
    room.grid({30, 0, -30}, {0, 0, 60}, {0, 30, 0}, wall_cuts, 4.0f, {-1, 0, 0}, 0);
    for (int i = 0; i < 6; i++) {
        float x = -20.0f + 8.0f * (float)i, z = (i % 2 ? 12.0f : -14.0f);
        boxes.box({x, 0, z}, {x + 4, 3.0f + (float)i * 1.5f, z + 5}, grid ? 2 : 1, 0);
    }
    balls.sphere({-12, 6, 2}, 6, 12, 20, 0);
    balls.sphere({10, 5, -4}, 5, 12, 20, 0);
    balls.sphere({0, 14, 14}, 4, 12, 20, 0);
    balls.sphere({18, 4, 18}, 4, 12, 20, 0);
    if (!grid) {
        balls.sphere({-20, 4, 20}, 4, 12, 20, 0);
        balls.sphere({20, 10, -20}, 5, 12, 20, 0);
        balls.sphere({-4, 3, -20}, 3, 12, 20, 0);
    }
    world->add(room);
    world->add(boxes);
    world->add(balls);
}

}  // namespace

int main(int argc, char** argv) {
    int frames = 500, bilinear = 1, grid = 0, simd = -1, each = 0, bad_simd = 0;
    int threads = (int)std::max(1u, std::thread::hardware_concurrency());
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) frames = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) threads = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--nearest") == 0) bilinear = 0;
        else if (std::strcmp(argv[i], "--grid") == 0) grid = 1;
        else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) std::sscanf(argv[++i], "%dx%d", &W, &H);
        else if (std::strcmp(argv[i], "--simd") == 0 && i + 1 < argc) {
            i++;
            each = std::strcmp(argv[i], "each") == 0;
            for (int l = 0; l < SIMD_LEVEL_COUNT; l++)
                if (std::strcmp(argv[i], simd_names[l]) == 0) simd = l;
            bad_simd = !each && simd < 0;
        }
    }
    if (bad_simd || W < 16 || H < 16 || W > 8192 || H > 8192 || !synthetic::set_screen(W, H) ||
        !(threads = frame_init(threads, &synthetic::test_screen)) || (simd >= 0 && !engine_set_simd(simd))) {
        std::fprintf(stderr, "bench_frame: set-up failed (size or instruction set)\n");
        return 1;
    }
    std::vector<int> levels;  // the instruction sets the frames cycle through
    for (int l = 0; l < SIMD_LEVEL_COUNT; l++)
        if (each ? engine_simd_supported(l) : l == engine_simd_level()) levels.push_back(l);
    std::vector<std::vector<double>> t_camera_by_level(SIMD_LEVEL_COUNT);
    std::vector<uint32_t> shadow((size_t)W * H), frame((size_t)W * H);
    std::vector<uint8_t> cone((size_t)W * H);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
            cone[(size_t)y * W + x] =
                std::hypot((float)(x - W / 2), (float)(y - H / 2)) < 0.425f * (float)W ? 255 : 0;

    auto texture = synthetic::checker_texture();
    synthetic::World world;
    world.materials.push_back(Material{nullptr, texture->texture});
    build_scene(&world, grid);
    Scene* scene = world.finish();
    int triangles = 0;
    for (int i = 0; i < scene->object_count; i++) triangles += scene->objects[i].face_count;
    Matrix4 light = synthetic::look_at({-25, 28, -25}, {0, 0, 5}, {0, 1, 0});
    synthetic::Shading shading;
    shading.bilinear = bilinear;

    const int warm_up = 20;
    std::vector<double> t_vertices, t_faces, t_light_rows, t_camera_rows, t_total;
    long light_spans = 0, camera_spans = 0;
    for (int f = 0; f < warm_up + frames; f++) {
        if (f == warm_up) span_pool_set_allocator(counting_allocator);
        // The camera circles the room's centre slowly, so every frame differs.
        float a = 0.01f * (float)f;
        Matrix4 camera = synthetic::look_at({26 * std::cos(a), 22, 26 * std::sin(a) - 4}, {0, 4, 0}, {0, 1, 0});
        const int level = levels[(size_t)f % levels.size()];
        engine_set_simd(level);
        double t0 = frame_clock_ms();
        FrameReport r = synthetic::render_frame(scene, light, camera, cone.data(), shadow.data(), frame.data(), shading);
        double t1 = frame_clock_ms();
        if (f < warm_up) continue;
        t_vertices.push_back(r.vertices);
        t_faces.push_back(r.faces);
        t_light_rows.push_back(r.light_rows);
        t_camera_rows.push_back(r.camera_rows);
        t_camera_by_level[(size_t)level].push_back(r.camera_rows);
        t_total.push_back(t1 - t0);
        light_spans += r.light_spans;
        camera_spans += r.camera_spans;
    }
    span_pool_set_allocator(nullptr);
    long covered = 0;
    for (uint32_t p : frame) covered += p != 0;
    // FNV-1a over the last frame's words: an optimisation must leave it unchanged.
    uint64_t checksum = 14695981039346656037ull;
    for (uint32_t p : frame) checksum = (checksum ^ p) * 1099511628211ull;

    std::printf("scene: %s, %d triangles, %dx%d, %s fill, %d frames, %d threads\n", grid ? "grid" : "room",
                triangles, W, H, bilinear ? "bilinear" : "nearest", frames, threads);
    std::printf("median ms per frame: %.4f\n", median(t_total));
    std::printf("  vertices (both views):                       %.4f\n", median(t_vertices));
    std::printf("  faces, both passes (clip, setup, records):   %.4f\n", median(t_faces));
    std::printf("  light rows (insert, resolve, cone):          %.4f\n", median(t_light_rows));
    std::printf("  camera rows (insert, shading, shadow test):  %.4f\n", median(t_camera_rows));
    for (int l : levels)
        std::printf("  camera rows with the %-5s fills:              %.4f\n", simd_names[l], median(t_camera_by_level[(size_t)l]));
    std::printf("spans per frame: light %ld, camera %ld; covered pixels in the last frame: %ld\n",
                light_spans / frames, camera_spans / frames, covered);
    std::printf("span-pool allocations after warm-up: %d\n", pool_allocations);
    std::printf("last frame checksum: %016llx\n", (unsigned long long)checksum);
    frame_shutdown();
    return 0;
}
