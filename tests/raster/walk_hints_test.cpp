#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "raster/insert.h"
#include "raster/span_pool.h"
#include "span_rows.h"

namespace {

// The walk may start at a node the row's hints name instead of its first
// span; the row must come out exactly as a walk from the first span makes it,
// across resets and hints left on nodes that were removed or stored again.
TEST(InsertHints, StartingAtAHintChangesNothing) {
    span_pool_set_allocator(nullptr);
    ASSERT_EQ(span_pool_create(&test_pool), 1);
    ScanlineSpanList fast;
    SpanRows rows;
    ASSERT_EQ(span_rows_create(&rows, &fast, 0, 1, 400), 1);
    std::mt19937 rng(777);
    auto pick = [&](int n) { return (int)(rng() % (unsigned)n); };
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    long hinted = 0;
    for (int trial = 0; trial < 60; trial++) {
        ScanlineSpanList plain;
        ASSERT_EQ(span_list_create(&test_pool, SPAN_LIST_INITIAL_NODES, &plain), 1);
        span_rows_reset(&rows);
        int32_t cursor = pick(400);
        for (int k = 0; k < 150; k++) {
            // Mostly coherent: the next span starts near the last one, as the
            // faces of one mesh do; sometimes anywhere, empty, or reversed.
            int32_t left = pick(4) ? cursor + pick(41) - 20 : pick(460) - 30;
            int32_t width = pick(12) == 0 ? -pick(5) : pick(60);
            cursor = left + width;
            float inv = 0.05f + unit(rng), d = (unit(rng) - 0.5f) * 0.004f;
            if (pick(8) == 0) d = 0.0f;
            SpanNode s = make_span(left, left + width, inv, d, (uint32_t)(k + 1));
            if (left > 0 && fast.hints[(left >> SPAN_HINT_SHIFT) < fast.hint_count ? left >> SPAN_HINT_SHIFT
                                                                                     : fast.hint_count - 1])
                hinted++;
            SpanNode a = s, b = s;
            insert_span(&a, &fast);
            insert_span(&b, &plain);
            ASSERT_EQ(visible(&fast), visible(&plain)) << "trial " << trial << " span " << k;
        }
    }
    EXPECT_GT(hinted, 3000);  // the fast row really used its hints
    span_rows_destroy(&rows);
    span_pool_destroy(&test_pool);
}

// A row with depth floors skips the spans they hide; it must come out as a
// row that inserts them all. Each case lays spans mostly behind what is
// there, so the floors come into use, with lines that cross or touch the
// floors at the blocks' ends.
TEST(InsertFloors, HiddenSpansAreOnesTheWalkWouldDrop) {
    struct Case {
        const char* name;
        float slope;     // largest |d_inv_z|
        float behind;    // how far a new span lies behind the last ones, in 1/z
        int exact;       // 1 in 3 spans takes a visible span's own line, nudged by an ulp at most
        int gaps;        // the first spans leave every other 8 columns uncovered
    };
    const Case cases[] = {
        {"front to back", 0.0005f, 0.002f, 0, 0},
        {"steep crossings", 0.05f, 0.0005f, 0, 0},
        {"lines of the spans there", 0.001f, 0.0f, 1, 0},
        {"flat ties", 0.0f, 0.0f, 1, 0},
        {"gaps filled from behind", 0.0005f, 0.0005f, 0, 1},
    };
    span_pool_set_allocator(nullptr);
    ASSERT_EQ(span_pool_create(&test_pool), 1);
    ScanlineSpanList fast;
    SpanRows rows;
    ASSERT_EQ(span_rows_create(&rows, &fast, 0, 1, 203), 1);  // the last block is cut short
    std::mt19937 rng(4242);
    auto pick = [&](int n) { return (int)(rng() % (unsigned)n); };
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (const Case& c : cases) {
        long hidden = 0;
        for (int trial = 0; trial < 12; trial++) {
            ScanlineSpanList plain;
            ASSERT_EQ(span_list_create(&test_pool, SPAN_LIST_INITIAL_NODES, &plain), 1);
            span_rows_reset(&rows);
            float depth = 1.0f;
            for (int k = 0; k < 1500; k++) {
                int32_t left = pick(215) - 6, width = 1 + pick(pick(10) ? 12 : 120);
                if (c.gaps && k < 600) left = 16 * pick(13) + pick(4), width = 1 + pick(4);
                float d = (unit(rng) - 0.5f) * 2.0f * c.slope;
                depth -= c.behind * unit(rng);
                float inv = depth + (unit(rng) - 0.5f) * 0.01f - d * (float)left;
                if (c.exact && pick(3) == 0 && !visible(&plain).empty()) {
                    // A visible span's line, or one ulp off it: ties and
                    // lines that meet the floor exactly.
                    std::vector<SpanNode*> nodes = chain_nodes(&plain);
                    const SpanNode* s = nodes[(size_t)pick(plain.active_count)];
                    inv = std::nextafter(s->inv_z, pick(2) ? 2.0f : 0.0f);
                    if (pick(2)) inv = s->inv_z;
                    d = s->d_inv_z;
                    left = s->x_left + pick(3) - 1;
                    width = s->x_right - left + pick(3) - 1;
                }
                if (pick(200) == 0) inv = NAN;
                SpanNode a = make_span(left, left + width, inv, d, (uint32_t)(k + 1)), b = a;
                double top = span_line_top(inv, d, left, left + width, span_line_margin(std::fabs((double)inv), d));
                if (width > 0 && left >= 0 && span_list_hides(&fast, left, left + width, top))
                    hidden++;
                else
                    insert_span(&a, &fast);
                insert_span(&b, &plain);
                ASSERT_EQ(visible(&fast), visible(&plain)) << c.name << ", trial " << trial << ", span " << k;
            }
        }
        EXPECT_GT(hidden, 1000) << c.name;  // the floors really hid spans
    }
    span_rows_destroy(&rows);
    span_pool_destroy(&test_pool);
}

}  // namespace

// The light's walks leave out spans that span_outside_columns puts outside
// the columns its cone keeps on their row. Every kept column must still go
// to the same face, after spans that cross the window, end at or next to its
// edges, or share the lines of the spans there (ties, one-column pieces).
TEST(InsertWindow, SpansLeftOutChangeNoColumnInsideTheWindow) {
    struct Case {
        const char* name;
        float slope;  // largest |d_inv_z|
        int exact;    // 1 in 3 spans takes a visible span's own line, nudged by an ulp at most
    };
    const Case cases[] = {
        {"shallow", 0.0005f, 0},
        {"steep crossings", 0.05f, 0},
        {"lines of the spans there", 0.001f, 1},
        {"flat ties", 0.0f, 1},
    };
    span_pool_set_allocator(nullptr);
    ASSERT_EQ(span_pool_create(&test_pool), 1);
    std::mt19937 rng(9090);
    auto pick = [&](int n) { return (int)(rng() % (unsigned)n); };
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    auto owners = [](const ScanlineSpanList* list, int32_t lo, int32_t hi) {
        std::vector<uint32_t> face((size_t)(hi - lo), 0);
        for (const Piece& p : visible(list))
            for (int32_t x = std::max(p.left, lo); x < std::min(p.right, hi); x++) face[(size_t)(x - lo)] = p.face_id;
        return face;
    };
    for (const Case& c : cases) {
        long left_out = 0;
        for (int trial = 0; trial < 40; trial++) {
            ScanlineSpanList all, windowed;
            ASSERT_EQ(span_list_create(&test_pool, SPAN_LIST_INITIAL_NODES, &all), 1);
            ASSERT_EQ(span_list_create(&test_pool, SPAN_LIST_INITIAL_NODES, &windowed), 1);
            const int32_t lo = pick(120), hi = lo + 1 + pick(160);
            for (int k = 0; k < 400; k++) {
                int32_t left = pick(330) - 10, width = 1 + pick(pick(6) ? 20 : 200);
                if (pick(4) == 0) left = (pick(2) ? lo : hi) - pick(3) - (pick(2) ? width : 0);  // at an edge
                float d = (unit(rng) - 0.5f) * 2.0f * c.slope;
                float inv = 0.05f + unit(rng) - d * (float)left;
                if (c.exact && pick(3) == 0 && all.active_count > 0) {
                    const SpanNode* s = chain_nodes(&all)[(size_t)pick(all.active_count)];
                    inv = pick(2) ? s->inv_z : std::nextafter(s->inv_z, pick(2) ? 2.0f : 0.0f);
                    d = s->d_inv_z;
                }
                if (pick(300) == 0) inv = NAN;
                SpanNode a = make_span(left, left + width, inv, d, (uint32_t)(k + 1)), b = a;
                insert_span(&a, &all);
                if (span_outside_columns(left, left + width, lo, hi))
                    left_out++;
                else
                    insert_span(&b, &windowed);
                ASSERT_EQ(owners(&all, lo, hi), owners(&windowed, lo, hi))
                    << c.name << ", trial " << trial << ", span " << k << ", window [" << lo << ", " << hi << ")";
            }
        }
        EXPECT_GT(left_out, 3000) << c.name;  // the window really left spans out
    }
    span_pool_destroy(&test_pool);
}
