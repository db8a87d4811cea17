#include <gtest/gtest.h>

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

}  // namespace
