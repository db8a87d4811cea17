// Start-up image work and the per-frame text overlay.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "display/font.h"
#include "texture/cone.h"
#include "texture/tga.h"

namespace {

RgbImage* cone_image(int size) {
    RgbImage* image = (RgbImage*)std::malloc(sizeof(RgbImage));
    image->pixels = (uint32_t*)std::malloc((size_t)size * size * 4);
    image->width = image->height = size;
    for (int i = 0; i < size * size; i++) image->pixels[i] = (uint32_t)i * 2654435761u;
    return image;
}

void BM_ConeResample1024(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        RgbImage* image = cone_image(1024);
        state.ResumeTiming();
        RgbImage* mask = cone_mask_resample(image, 400, 300);
        benchmark::DoNotOptimize(mask->pixels);
        rgb_image_free(mask);
    }
}
BENCHMARK(BM_ConeResample1024)->Unit(benchmark::kMillisecond);

// A 512 x 512 colour-mapped run-length file of short runs.
void BM_TgaDecodeRle512(benchmark::State& state) {
    std::vector<uint8_t> file = {0, 1, 9, 0, 0, 0, 1, 24, 0, 0, 0, 0, 0, 2, 0, 2, 8, 0x20};
    file.insert(file.end(), 3 * 256, 0x40);
    for (int y = 0; y < 512; y++)
        for (int x = 0; x < 512; x += 4) {
            file.push_back(0x83);
            file.push_back((uint8_t)(x ^ y));
        }
    for (auto _ : state) {
        IndexedImage* image = tga_decode_indexed(file.data(), file.size());
        benchmark::DoNotOptimize(image->pixels);
        indexed_image_free(image);
    }
}
BENCHMARK(BM_TgaDecodeRle512)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
