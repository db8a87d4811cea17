// Span insertion on rows of realistic length, triangle clipping and the
// camera pass's fill routines.
//
// A row of a frame typically receives a few to a few hundred spans from
// polygons at various depths (about two spans per visible one); each
// iteration empties one row and inserts the whole set again, so the row's
// nodes have settled and nothing is allocated, as in a running frame.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "math/clip.h"
#include "raster/engine.h"
#include "raster/insert.h"
#include "raster/resolve.h"
#include "texture/texture.h"

namespace {

// Spans of `count` polygons scattered over a 400-column row: widths around
// 2 * 400 / count columns, random slanted depth planes.
std::vector<SpanNode> make_row(int count, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<SpanNode> spans(count);
    int typical = 800 / count + 2;
    for (int i = 0; i < count; i++) {
        SpanNode& s = spans[i];
        s = SpanNode{};
        int width = 1 + (int)(unit(rng) * 2.0f * typical);
        s.x_left = (int)(unit(rng) * (400 - width));
        s.x_right = s.x_left + width;
        s.inv_z = 0.01f + unit(rng);
        s.d_inv_z = (unit(rng) - 0.5f) * 0.004f;
        s.face_id = (uint32_t)i + 1;
    }
    return spans;
}

void BM_InsertSpanRow(benchmark::State& state) {
    ScanlineSpanList list;
    SpanRows rows;
    span_rows_create(&rows, &list, 0, 1, 400);
    ScanlineSpanList* row = &list;
    std::vector<SpanNode> spans = make_row((int)state.range(0), 42);
    long visible = 0;
    for (auto _ : state) {
        span_list_reset(row);
        for (const SpanNode& s : spans) {
            SpanNode record = s;
            insert_span(&record, row);
        }
        visible += row->active_count;
        benchmark::DoNotOptimize(row->first);
    }
    state.SetItemsProcessed(state.iterations() * (long)spans.size());
    state.counters["visible_per_row"] = (double)visible / (double)state.iterations();
    span_rows_destroy(&rows);
}
BENCHMARK(BM_InsertSpanRow)->Arg(4)->Arg(16)->Arg(64)->Arg(200)->Arg(400);

// Triangles around the view: `range(0)` percent of them cross a side plane.
void BM_ClipTriangle(benchmark::State& state) {
    ViewFrustum frustum;
    build_view_frustum(396.0f, 296.0f, 200.0f, &frustum);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const int crossing_percent = (int)state.range(0);
    std::vector<ClipVertex> vertices(3 * 1024);
    for (int t = 0; t < 1024; t++) {
        bool crossing = (int)(unit(rng) * 100.0f) < crossing_percent;
        float spread = crossing ? 40.0f : 4.0f;
        float cx = (unit(rng) - 0.5f) * 20.0f, cy = (unit(rng) - 0.5f) * 14.0f;
        for (int k = 0; k < 3; k++) {
            ClipVertex& v = vertices[3 * t + k];
            v = ClipVertex{};
            v.x = cx + (unit(rng) - 0.5f) * spread;
            v.y = cy + (unit(rng) - 0.5f) * spread;
            v.z = 20.0f + unit(rng) * 10.0f;
        }
    }
    long kept = 0;
    size_t t = 0;
    for (auto _ : state) {
        ClipPolygon p = clip_triangle(&vertices[3 * t], &frustum);
        kept += p.count;
        benchmark::DoNotOptimize(p);
        t = (t + 1) & 1023;
    }
    state.SetItemsProcessed(state.iterations());
    benchmark::DoNotOptimize(kept);
}
BENCHMARK(BM_ClipTriangle)->Arg(0)->Arg(10)->Arg(100);

// The fill routines at instruction set range(0) (0 plain, 1 SSE2, 2 AVX2),
// bilinear when range(1) is 1, over the calls shade_span makes for 2048
// spans of 1..40 pixels (16-pixel runs and a rest; about 11 pixels a call,
// the demo frame's 8) at 1920 x 1080, side by side along rows. Each span
// walks a 256 x 256 texture of 4 x 4 texel patches at up to 1.5 texels a
// pixel and the light's view at 0.8..1.2 pixels a pixel across, up to 0.2
// down, from its own place. range(2) is the shadow buffer: 0 the span's
// face everywhere (all lit at the centre), 1 64 x 64 blocks of it and of
// another face (lit and dark stretches, the 3 x 3 search at their edges),
// 2 none (all dark).
void BM_Fill(benchmark::State& state) {
    const int width = 1920, height = 1080;
    Screen screen;
    engine_init(width, height, &screen);
    if (!engine_set_simd((int)state.range(0))) {
        state.SkipWithError("instruction set not supported here");
        return;
    }
    const SpanFill fill = select_span_fill((int)state.range(1));
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> byte(0, 255);
    Texture* texture = texture_create(256, 256);
    TextureLevel* level = &texture->levels[0];
    for (int32_t y = 0; y < level->height; y++)
        for (int32_t x = 0; x < level->width; x++)
            level->texels[y * level->width + x] = (uint8_t)((x >> 2) * 7 + (y >> 2) * 13 + byte(rng) % 4);
    std::vector<uint32_t> palette(SHADE_PALETTE);
    for (uint32_t& c : palette) c = (uint32_t)byte(rng) << 16 | (uint32_t)byte(rng) << 8 | (uint32_t)byte(rng);
    texture_finish(texture, palette.data(), SHADE_PALETTE);
    const uint32_t face = 7;
    std::vector<uint32_t> shadow((size_t)width * height);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            shadow[(size_t)y * width + x] = state.range(2) == 0 || ((x >> 6) ^ (y >> 6)) & 1 ? face : 9;
    ShadeSettings settings = {state.range(2) == 2 ? nullptr : shadow.data(), 100, fill, nullptr, nullptr};
    ShadeState shade;
    shade_begin(&shade, &settings, &screen);
    const SpanShading shading = {0, 0, 0, 0, 0, 0, texture};
    SpanNode span = {};
    span.shading = &shading;
    span.face_id = face;
    shade_span_prepare(&shade, &span);

    struct Call {
        int32_t u, du, v, dv, sx, dsx, sy, dsy, offset, count;
    };
    std::vector<Call> calls;
    std::uniform_int_distribution<int32_t> texel_step(-98304, 98304), light_step(-13107, 13107),
        coordinate(-(1 << 24), 1 << 24), length(1, 40);
    int32_t total = 0, x = 100, y = 110;
    for (int i = 0; i < 2048; i++) {
        // Spans in screen order; the light sees the screen a little turned
        // and scaled, so neighbouring spans read neighbouring shadow words.
        int32_t pixels = length(rng);
        if (x + pixels > width - 100) x = 100, y++;
        Call c = {coordinate(rng), texel_step(rng), coordinate(rng), texel_step(rng),
                  x << 16,         65536 + light_step(rng), y << 16, light_step(rng), 0, 0};
        x += pixels;
        for (int32_t left = pixels; left > 0; left -= c.count) {
            c.offset = total;
            c.count = left < 16 ? left : 16;
            calls.push_back(c);
            total += c.count;
            c.u += 16 * c.du, c.v += 16 * c.dv, c.sx += 16 * c.dsx, c.sy += 16 * c.dsy;
        }
    }
    std::vector<uint32_t> out((size_t)total);
    for (auto _ : state) {
        for (const Call& c : calls) {
            const FillRun run = {c.u, c.v, c.sx, c.sy, c.du, c.dv, c.dsx, c.dsy, c.count};
            fill(&shade, &run, 1, &out[(size_t)c.offset]);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * (int64_t)total);
    state.counters["pixels_per_call"] = (double)total / (double)calls.size();
    texture_free(texture);
    engine_init(400, 300, &screen);
}
BENCHMARK(BM_Fill)->ArgsProduct({{SIMD_PLAIN, SIMD_SSE2, SIMD_AVX2}, {0, 1}, {0, 1, 2}});

}  // namespace

BENCHMARK_MAIN();
