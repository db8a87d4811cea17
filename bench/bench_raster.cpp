// Span insertion on rows of realistic length and triangle clipping.
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
    span_rows_create(&rows, &list, 0, 1);
    ScanlineSpanList* row = &list;
    std::vector<SpanNode> spans = make_row((int)state.range(0), 42);
    long visible = 0;
    for (auto _ : state) {
        row->active_count = 0;
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

}  // namespace

BENCHMARK_MAIN();
