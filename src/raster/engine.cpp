#include "raster/engine.h"

#include <cmath>

#include "raster/fill.h"

namespace {

enum { FILTER_STEPS = 64, FILTER_TABLE = FILTER_STEPS * FILTER_STEPS };

struct Engine {
    uint8_t weights[4 * FILTER_TABLE];  // W00, W10, W01, W11, entry j * 64 + i, 0..63
    uint32_t packed_weights[FILTER_TABLE];  // the same four weights of an entry in one word
    int32_t simd;                     // SIMD_PLAIN..SIMD_AVX2: the fills select_span_fill hands out
};

Engine engine = {};

// By instruction set, then filter setting (0: nearest, 1: bilinear).
const SpanFill fill_routines[][2] = {
    {fill_each_run<fill_nearest>, fill_each_run<fill_bilinear>},
    {fill_each_run<fill_nearest_sse2>, fill_each_run<fill_bilinear_sse2>},
    {fill_nearest_avx2, fill_bilinear_avx2},
};
static_assert(sizeof fill_routines / sizeof fill_routines[0] == SIMD_LEVEL_COUNT, "one row per instruction set");
static_assert(sizeof fill_routines[0] / sizeof fill_routines[0][0] == 2, "one fill per filter setting");

}  // namespace

int engine_init(int width, int height, Screen* screen) {
    *screen = Screen{};
    screen->width = width;
    screen->height = height;
    // 90-degree horizontal view: width / (2 tan(pi/4)), which is width / 2.
    long double focal = (long double)width / (2.0L * std::tan((long double)0.7853981633974483));
    screen->focal_length = (float)std::fabs(focal);
    screen->centre_x = width / 2;
    screen->centre_y = height / 2;
    build_view_frustum((float)(width - 4), (float)(height - 4), screen->focal_length, &screen->frustum);
    build_filter_tables();
    engine.simd = SIMD_PLAIN;
    for (int level = SIMD_LEVEL_COUNT - 1; level > SIMD_PLAIN; level--)
        if (engine_set_simd(level)) break;
    return width > 0 && height > 0;
}

// Bilinear weights in 64ths, rounded down, with W00 raised so that the four
// weights of every entry add up to exactly 63: a sum of four shade-table
// entries (each channel at most 255 * 63 / 64) then never carries.
void build_filter_tables() {
    uint8_t* w00 = engine.weights;
    uint8_t* w10 = w00 + FILTER_TABLE;
    uint8_t* w01 = w10 + FILTER_TABLE;
    uint8_t* w11 = w01 + FILTER_TABLE;
    for (int j = 0; j < FILTER_STEPS; j++)
        for (int i = 0; i < FILTER_STEPS; i++) {
            int e = j * FILTER_STEPS + i;
            int right = i * (63 - j) / 64;
            int below = j * (63 - i) / 64;
            int below_right = i * j / 64;
            int self = (63 - i) * (63 - j) / 64;
            int sum = self + right + below + below_right;
            if (sum < 63) self += 63 - sum;
            w00[e] = (uint8_t)self;
            w10[e] = (uint8_t)right;
            w01[e] = (uint8_t)below;
            w11[e] = (uint8_t)below_right;
            engine.packed_weights[e] = (uint32_t)self | (uint32_t)right << 8 | (uint32_t)below << 16 |
                                       (uint32_t)below_right << 24;
        }
}

SpanFill select_span_fill(int bilinear) { return fill_routines[engine.simd][bilinear != 0]; }

int engine_simd_supported(int level) {
    switch (level) {
    case SIMD_PLAIN: return 1;
    case SIMD_SSE2: return fill_sse2_supported();
    case SIMD_AVX2: return fill_avx2_supported();
    default: return 0;
    }
}

int engine_set_simd(int level) {
    if (!engine_simd_supported(level)) return 0;
    engine.simd = level;
    return 1;
}

int engine_simd_level() { return engine.simd; }

const uint8_t* engine_bilinear_weights() { return engine.weights; }
const uint32_t* engine_bilinear_weights_packed() { return engine.packed_weights; }
