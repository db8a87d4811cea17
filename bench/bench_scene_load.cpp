// Loading a generated 100,000-face scene: the vertex-normal step must stay
// linear in the face count. Prints milliseconds per load.
//
//   build/release/bench/bench_scene_load
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "scene/load3ds.h"

namespace {

void put_u16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back((uint8_t)v);
    b.push_back((uint8_t)(v >> 8));
}
void put_u32(std::vector<uint8_t>& b, uint32_t v) {
    put_u16(b, (uint16_t)v);
    put_u16(b, (uint16_t)(v >> 16));
}
void put_f32(std::vector<uint8_t>& b, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    put_u32(b, bits);
}
size_t begin_chunk(std::vector<uint8_t>& b, uint16_t id) {
    size_t at = b.size();
    put_u16(b, id);
    put_u32(b, 0);
    return at;
}
void end_chunk(std::vector<uint8_t>& b, size_t at) {
    uint32_t length = (uint32_t)(b.size() - at);
    for (int i = 0; i < 4; i++) b[at + 2 + i] = (uint8_t)(length >> (8 * i));
}

// `objects` wavy grids of `columns` x `rows` quads, two triangles each (a face
// array holds at most 65535), with every vertex of one column repeated (a
// mapping seam).
std::string write_grid(int objects, int columns, int rows) {
    std::vector<uint8_t> b;
    size_t main = begin_chunk(b, 0x4D4D), mdata = begin_chunk(b, 0x3D3D);
    for (int object = 0; object < objects; object++) {
        size_t named = begin_chunk(b, 0x4000);
        for (char c : std::string("Grid")) b.push_back((uint8_t)c);
        b.push_back(0);
        size_t mesh = begin_chunk(b, 0x4100);
        int grid_vertices = (columns + 1) * (rows + 1);
        size_t points = begin_chunk(b, 0x4110);
        put_u16(b, (uint16_t)(grid_vertices + rows + 1));
        for (int y = 0; y <= rows; y++)
            for (int x = 0; x <= columns; x++) {
                put_f32(b, (float)x);
                put_f32(b, (float)y);
                put_f32(b, (float)((x * 7 + y * 3) % 5) * 0.25f);
            }
        for (int y = 0; y <= rows; y++) {  // the seam column repeats x = columns / 2
            int x = columns / 2;
            put_f32(b, (float)x);
            put_f32(b, (float)y);
            put_f32(b, (float)((x * 7 + y * 3) % 5) * 0.25f);
        }
        end_chunk(b, points);
        size_t faces = begin_chunk(b, 0x4120);
        put_u16(b, (uint16_t)(2 * columns * rows));
        for (int y = 0; y < rows; y++)
            for (int x = 0; x < columns; x++) {
                uint16_t a = (uint16_t)(y * (columns + 1) + x), c = (uint16_t)(a + columns + 1);
                for (uint16_t v : {a, (uint16_t)(a + 1), c, (uint16_t)0}) put_u16(b, v);
                for (uint16_t v : {(uint16_t)(a + 1), (uint16_t)(c + 1), c, (uint16_t)0}) put_u16(b, v);
            }
        end_chunk(b, faces);
        end_chunk(b, mesh);
        end_chunk(b, named);
    }
    end_chunk(b, mdata);
    end_chunk(b, main);

    std::string path = "/tmp/varnel_bench_grid_" + std::to_string(objects * columns * rows * 2) + ".3ds";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(b.data(), 1, b.size(), f);
        std::fclose(f);
    }
    return path;
}

void BM_SceneLoad(benchmark::State& state) {
    int objects = (int)state.range(0), columns = (int)state.range(1), rows = (int)state.range(2);
    std::string path = write_grid(objects, columns, rows);
    for (auto _ : state) {
        Scene* scene = scene_load(path.c_str());
        if (!scene) {
            state.SkipWithError(scene_load_error());
            break;
        }
        benchmark::DoNotOptimize(scene->objects[0].vertices[0].nx);
        scene_free(scene);
    }
    state.counters["faces"] = 2.0 * objects * columns * rows;
    std::remove(path.c_str());
}

// 10,000 and 100,000 faces: the time should grow about tenfold, not a hundredfold.
BENCHMARK(BM_SceneLoad)->Args({1, 100, 50})->Args({2, 250, 100})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
