#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <vector>

#include "raster/engine.h"
#include "raster/resolve.h"
#include "raster/row_walk.h"
#include "texture/texture.h"

namespace {

// `bytes` of memory whose start or end (`at_end`) touches a page that cannot
// be read, so any read before the start or past the end faults.
struct GuardedBlock {
    uint8_t* map = nullptr;
    size_t map_bytes = 0;
    uint8_t* data = nullptr;
    GuardedBlock(size_t bytes, bool at_end) {
        size_t page = (size_t)sysconf(_SC_PAGESIZE), body = (bytes + page - 1) / page * page;
        map_bytes = body + 2 * page;
        void* m = mmap(nullptr, map_bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) return;
        map = (uint8_t*)m;
        if (mprotect(map + page, body, PROT_READ | PROT_WRITE) != 0) return;
        data = at_end ? map + page + body - bytes : map + page;
    }
    ~GuardedBlock() {
        if (map) munmap(map, map_bytes);
    }
};

int32_t log2_of(int32_t n) {
    int32_t k = 0;
    while ((1 << k) < n) k++;
    return k;
}

// Every instruction set's fills write exactly the pixels of the plain ones,
// and none outside [first, last), and read nothing outside the texels and
// their wrap-around copy or the shadow buffer (both lie against unreadable
// pages). Random calls within the fill contract: 1..40 pixels, coordinates
// anywhere in [-2^30, 2^30); levels from 1 texel wide to 16384; shadow
// buffers of three strides with the face id scattered so that centre hits,
// hits at each of the eight neighbours, misses and out-of-range positions
// all happen; no shadow buffer at all; a cone's lit columns, outside which
// runs are shadow without a lookup; the smooth-surface rule, whose patches
// light pixels the face's own id does not.
TEST(Fill, EveryInstructionSetWritesThePlainPixels) {
    Screen default_screen;
    ASSERT_EQ(engine_init(400, 300, &default_screen), 1);  // the bilinear weights
    const int first_level = engine_simd_level();
    struct Screen {
        int32_t width, height;  // also the shadow buffer's size; 0: none
    } screens[] = {{400, 300}, {401, 9}, {1920, 1080}, {0, 0}};
    struct Level {
        int32_t width, height;
    } levels[] = {{1, 1}, {1, 16}, {2, 2}, {4, 64}, {64, 4}, {128, 128}, {16384, 2}, {2, 16384}};
    const uint32_t face = 0x1234;
    std::mt19937 rng(17);
    auto below = [&](uint32_t n) { return (int32_t)(rng() % n); };
    auto anywhere = [&]() { return (int32_t)(rng() % (1u << 31)) - (1 << 30); };
    int cases = 0;
    long outside = 0, centre = 0, missed = 0, dark = 0;
    uint32_t neighbours = 0;  // bit k: lit by neighbour k alone
    long by_surface = 0;      // pixels the surface rule alone lights
    // Ids 1..63 in patches 0..7; each patch's neighbours a random few.
    std::vector<uint32_t> patch_of(64), near_start(9, 0), near;
    for (uint32_t& p : patch_of) p = rng() % 8;
    for (uint32_t p = 0; p < 8; p++) {
        for (uint32_t q = 1; q < 8; q++)
            if (q != p && rng() % 3 == 0) near.push_back(q);
        near_start[p + 1] = (uint32_t)near.size();
    }
    const SurfacePatches patches = {patch_of.data(), 64, near_start.data(), near.data(), nullptr, 0};
    for (int simd : {SIMD_SSE2, SIMD_AVX2}) {
        if (!engine_simd_supported(simd)) {
            std::printf("[  SKIP    ] instruction set %d: not on this processor\n", simd);
            continue;
        }
        for (const Screen& screen : screens)
            for (const Level& level : levels) {
                const bool shadow_at_end = (cases++ & 1) != 0;
                SCOPED_TRACE(testing::Message() << "simd " << simd << " screen " << screen.width << "x"
                                                << screen.height << " level " << level.width << "x" << level.height);
                const size_t texel_count = (size_t)level.width * level.height + level.width + 1;
                GuardedBlock texels(texel_count, true);  // nothing is read before the texels
                const size_t words = (size_t)screen.width * screen.height;
                GuardedBlock shadow(words * 4, shadow_at_end);
                GuardedBlock colour_block(texel_count * 4, true);
                ASSERT_TRUE(texels.data && shadow.data && colour_block.data);
                for (size_t i = 0; i < texel_count; i++) texels.data[i] = (uint8_t)rng();
                uint32_t* ids = (uint32_t*)shadow.data;
                for (size_t i = 0; i < words; i++)
                    ids[i] = rng() % 7 == 0 ? face : rng() % 3 == 0 ? 0 : rng() % 2 ? 1 + rng() % 63 : rng();
                // On the larger screens a cone: every row's lit columns a window about the
                // middle half, the buffer cleared outside them as the light pass leaves it.
                std::vector<int32_t> lit;
                if (screen.width >= 400) {
                    lit.resize(2 * (size_t)screen.height);
                    for (int32_t y = 0; y < screen.height; y++) {
                        lit[2 * (size_t)y] = screen.width / 4 + below(9) - 4;
                        lit[2 * (size_t)y + 1] = 3 * screen.width / 4 + below(9) - 4;
                        for (int32_t x = 0; x < screen.width; x++)
                            if (x < lit[2 * (size_t)y] || x >= lit[2 * (size_t)y + 1]) ids[(size_t)y * screen.width + x] = 0;
                    }
                }
                std::vector<uint32_t> shades(SHADE_PALETTE * SHADE_STEPS), palette(SHADE_PALETTE);
                for (uint32_t p = 0; p < SHADE_PALETTE; p++) {
                    uint32_t c = palette[p] = rng() & 0x00FFFFFFu;
                    for (uint32_t k = 0; k < SHADE_STEPS; k++)
                        shades[p * SHADE_STEPS + k] = ((c >> 16 & 255) * k / 64) << 16 | ((c >> 8 & 255) * k / 64) << 8 |
                                                      (c & 255) * k / 64;
                }
                ShadeState state = {};
                state.shadow_buffer = screen.width ? ids : nullptr;
                state.width = screen.width ? screen.width : 400;
                state.height = screen.width ? screen.height : 300;
                state.shadow_range_x = screen.width ? (uint32_t)screen.width - 3 : 0;
                state.shadow_range_y = screen.width ? (uint32_t)screen.height - 3 : 0;
                state.weights = engine_bilinear_weights_packed();
                state.face_id = face;
                state.shade_table = shades.data();
                state.texels = texels.data;
                uint32_t* colours = (uint32_t*)colour_block.data;
                for (size_t i = 0; i < texel_count; i++) colours[i] = palette[texels.data[i]];
                state.colours = colours;
                state.row_length = level.width;
                state.u_mask = level.width - 1;
                state.v_mask = level.width * (level.height - 1);
                state.v_shift = 16 - log2_of(level.width);
                const uint32_t factors[] = {100, 0, 255, 256};
                for (int call = 0; call < 300; call++) {
                    state.shadow_factor = factors[call % 4];
                    shade_fill_lanes(&state);
                    state.lit_columns = call % 2 && !lit.empty() ? lit.data() : nullptr;
                    state.surface = call % 3 ? &patches : nullptr;
                    state.own_patch = state.surface ? 1 + rng() % 7 : 0;
                    const int32_t count = 1 + below(40);
                    // A light position near the view, a third of them near its
                    // edges, stepping up to 3 pixels a pixel; a few far off.
                    auto light = [&](int32_t size) {
                        int32_t pixel = rng() % 3 == 0 ? (rng() & 1 ? below(5) : size - 5 + below(5)) : below((uint32_t)size + 1);
                        return pixel * 65536 + below(65536);
                    };
                    auto step = [&](int32_t start, int32_t end) { return (end - start) / count; };
                    int32_t u = anywhere(), v = anywhere(), sx = light(state.width), sy = light(state.height);
                    int32_t du = step(u, anywhere()), dv = step(v, anywhere());
                    int32_t dsx = step(sx, sx + (below(6 * 65536 + 1) - 3 * 65536) * count);
                    int32_t dsy = step(sy, sy + (below(6 * 65536 + 1) - 3 * 65536) * count / 4);
                    if (call % 50 == 0) sx = SHADE_NO_LIGHT_POSITION, dsx = 0;
                    if (state.lit_columns && call % 4 == 1) {  // a short run at a lit window's edge
                        const int32_t row = (sy >> 16) < screen.height ? sy >> 16 : screen.height - 1;
                        const int32_t edge = lit[2 * (size_t)row + (rng() & 1)];
                        sx = (edge + below(5) - 3) * 65536 + below(65536);
                        dsx = below(20001) - 10000, dsy = below(4001) - 2000;
                    }
                    // What the light positions find, for the coverage checks.
                    for (int32_t k = 0, x = sx, y = sy; k < count && screen.width; k++, x += dsx, y += dsy) {
                        int32_t ix = x >> 16, iy = y >> 16;
                        if (ix < 2 || ix > screen.width - 2 || iy < 2 || iy > screen.height - 2) {
                            outside++;
                            continue;
                        }
                        const uint32_t* c = ids + (size_t)iy * screen.width + ix;
                        uint32_t found = 0;
                        for (int n = 0, dy = -1; dy <= 1; dy++)
                            for (int dx = -1; dx <= 1; dx++, n++) found |= (uint32_t)(c[dy * screen.width + dx] == face) << n;
                        if (found & 16) centre++;
                        else if (!found) missed++;
                        else if ((found & (found - 1)) == 0) neighbours |= found;
                        const row_walk::ShadowLookup lookup = row_walk::shadow_lookup(&state);
                        if (!found && state.own_patch && row_walk::surface_lit(lookup, x, y)) by_surface++;
                    }
                    if (state.lit_columns && row_walk::light_footprint_dark(&state, sx, dsx, sy, dsy, count)) dark++;
                    for (int bilinear = 0; bilinear < 2; bilinear++) {
                        ASSERT_EQ(engine_set_simd(SIMD_PLAIN), 1);
                        SpanFill plain = select_span_fill(bilinear);
                        ASSERT_EQ(engine_set_simd(simd), 1);
                        SpanFill fast = select_span_fill(bilinear);
                        // The run alone, then followed by a shorter one from the
                        // same start (a span's runs, each set up by the fill).
                        const FillRun run = {u, v, sx, sy, du, dv, dsx, dsy, count};
                        const FillRun runs[2] = {run, {u, v, sx, sy, du, dv, dsx, dsy, 1 + call % count}};
                        for (int32_t run_count : {1, 2}) {
                            const size_t pixels = (size_t)count + (run_count == 2 ? (size_t)runs[1].count : 0);
                            std::vector<uint32_t> expected(pixels + 16, 0xDEADBEEF), actual(pixels + 16, 0xDEADBEEF);
                            plain(&state, runs, run_count, &expected[8]);
                            fast(&state, runs, run_count, &actual[8]);
                            ASSERT_EQ(actual, expected)
                                << "call " << call << " bilinear " << bilinear << " count " << count << " runs " << run_count;
                        }
                        // A lone pixel reads no step: shade_span passes none.
                        if (count == 1) {
                            const FillRun lone = {u, v, sx, sy, 0, 0, 0, 0, 1};
                            std::vector<uint32_t> expected(17, 0xDEADBEEF), actual(17, 0xDEADBEEF);
                            plain(&state, &run, 1, &expected[8]);
                            for (SpanFill fill : {plain, fast}) {
                                fill(&state, &lone, 1, &actual[8]);
                                ASSERT_EQ(actual, expected) << "call " << call << " bilinear " << bilinear << " no steps";
                            }
                        }
                    }
                }
            }
    }
    engine_set_simd(first_level);
    EXPECT_GT(outside, 0);
    EXPECT_GT(centre, 0);
    EXPECT_GT(missed, 0);
    EXPECT_EQ(neighbours, 0x1EFu);  // all eight around the centre (bit 4)
    EXPECT_GT(dark, 300);           // runs the cone leaves dark, taken without lookups
    EXPECT_GT(by_surface, 1000);
}

// The largest channels under every pair of weights: four white texels (a
// 2 x 2 level, colours with their wrap-around copy) shaded at each of the
// 64 x 64 fractions add up to at most 251 a channel, carrying into no other,
// in one-pixel fills and in blocks alike, lit and shadowed.
TEST(Fill, WhiteTexelsUnderEveryWeightMatchThePlainFills) {
    Screen screen;
    ASSERT_EQ(engine_init(400, 300, &screen), 1);
    const int first_level = engine_simd_level();
    const uint8_t texels[7] = {1, 1, 1, 1, 1, 1, 1};
    const uint32_t white = 0x00FFFFFFu, colours[7] = {white, white, white, white, white, white, white};
    std::vector<uint32_t> shades(SHADE_PALETTE * SHADE_STEPS, 0);
    for (uint32_t k = 0; k < SHADE_STEPS; k++) shades[SHADE_STEPS + k] = (255 * k / 64) * 0x010101u;
    std::vector<uint32_t> ids(16 * 16, 7);  // the face is 7: every position in range is lit
    ShadeState state = {};
    state.shadow_buffer = ids.data();
    state.width = state.height = 16;
    state.shadow_range_x = state.shadow_range_y = 13;
    state.shadow_factor = 100;
    shade_fill_lanes(&state);
    state.weights = engine_bilinear_weights_packed();
    state.face_id = 7;
    state.shade_table = shades.data();
    state.texels = texels;
    state.colours = colours;
    state.row_length = 2;
    state.u_mask = 1;
    state.v_mask = 2;
    state.v_shift = 15;
    for (int simd : {SIMD_SSE2, SIMD_AVX2}) {
        if (!engine_simd_supported(simd)) continue;
        for (int32_t count : {1, 8, 11})
            for (int32_t sx : {5 << 16, 40 << 16})  // lit, then out of range: shadowed
                for (int32_t f = 0; f < 64 * 64; f++) {
                    const int32_t u = (f & 63) << 10, v = (f >> 6) << 10;
                    std::vector<uint32_t> expected(count), actual(count);
                    const FillRun run = {u, v, sx, 5 << 16, 0, 0, 0, 0, count};
                    ASSERT_EQ(engine_set_simd(SIMD_PLAIN), 1);
                    select_span_fill(1)(&state, &run, 1, expected.data());
                    ASSERT_EQ(engine_set_simd(simd), 1);
                    select_span_fill(1)(&state, &run, 1, actual.data());
                    ASSERT_EQ(actual, expected) << "simd " << simd << " count " << count << " fraction " << f;
                }
    }
    engine_set_simd(first_level);
}

}  // namespace
