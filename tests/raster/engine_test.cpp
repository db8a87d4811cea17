#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "raster/engine.h"
#include "raster/span_pool.h"
#include "span_rows.h"

namespace {

// Signed distance of the view-space point that projects to screen (sx, sy) at depth z.
float distance_at(const Plane& p, float sx, float sy, float z) {
    float x = (sx - 200.0f) * z / 200.0f, y = (sy - 150.0f) * z / 200.0f;
    return p.a * x + p.b * y + p.c * z + p.d;
}

TEST(Engine, InitPreparesFrustumAndFills) {
    Screen screen;
    ASSERT_EQ(engine_init(400, 300, &screen), 1);
    EXPECT_EQ(screen.width, 400);
    EXPECT_EQ(screen.height, 300);
    EXPECT_EQ(screen.focal_length, 200.0f);
    EXPECT_EQ(screen.centre_x, 200);
    EXPECT_EQ(screen.centre_y, 150);

    // The frustum belongs to the 396 x 296 viewport: its planes pass through
    // the points that project 2 pixels inside each screen edge.
    const ViewFrustum* f = &screen.frustum;
    for (float z : {1.0f, 37.0f, 1000.0f}) {
        EXPECT_NEAR(distance_at(f->planes[FRUSTUM_RIGHT], 398.0f, 10.0f, z), 0.0f, 1e-5f * z);
        EXPECT_NEAR(distance_at(f->planes[FRUSTUM_LEFT], 2.0f, 10.0f, z), 0.0f, 1e-5f * z);
        EXPECT_NEAR(distance_at(f->planes[FRUSTUM_TOP], 10.0f, 2.0f, z), 0.0f, 1e-5f * z);
        EXPECT_NEAR(distance_at(f->planes[FRUSTUM_BOTTOM], 10.0f, 298.0f, z), 0.0f, 1e-5f * z);
        for (int p = 0; p < 4; p++) {
            EXPECT_GT(distance_at(f->planes[p], 200.0f, 150.0f, z), 0.0f);
            EXPECT_EQ(f->planes[p].d, 0.0f);
        }
        EXPECT_LT(distance_at(f->planes[FRUSTUM_RIGHT], 399.0f, 150.0f, z), 0.0f);
        EXPECT_LT(distance_at(f->planes[FRUSTUM_BOTTOM], 200.0f, 299.0f, z), 0.0f);
    }

    // The widest instruction set the processor runs; the plain fills on request.
    EXPECT_EQ(engine_simd_level(), engine_simd_supported(SIMD_AVX2) ? SIMD_AVX2 : SIMD_SSE2);
    EXPECT_EQ(engine_set_simd(SIMD_LEVEL_COUNT), 0);
    ASSERT_EQ(engine_set_simd(SIMD_PLAIN), 1);
    EXPECT_EQ(select_span_fill(1), &fill_each_run<fill_bilinear>);
    EXPECT_EQ(select_span_fill(0), &fill_each_run<fill_nearest>);
    EXPECT_EQ(select_span_fill(7), &fill_each_run<fill_bilinear>);
    EXPECT_EQ(engine_init(0, 300, &screen), 0);
}

// A row set: 20 spare nodes per row from its own pool; reset empties every
// row and keeps every node.
TEST(Engine, RowSetsStartWithTwentySparesPerRow) {
    std::vector<ScanlineSpanList> lists(300);
    SpanRows rows = {};
    ASSERT_EQ(span_rows_create(&rows, lists.data(), 0, 300, 400), 1);
    for (int y = 0; y < 300; y++) {
        EXPECT_EQ(lists[y].node_count, 20);
        EXPECT_EQ(lists[y].active_count, 0);
        EXPECT_EQ(lists[y].pool, &rows.pool);
        chain_nodes(&lists[y]);
    }
    // 6000 nodes: block 0 and 20 blocks of 256.
    EXPECT_EQ(rows.pool.last_block, 20);
    EXPECT_EQ(pool_nodes_taken(&rows.pool), 6000);
    EXPECT_EQ(span_pool_node_count(&rows.pool), 1024 + 20 * 256);
    EXPECT_EQ(span_pool_status(&rows.pool), 0);
    for (int y = 0; y < 300; y += 7) {
        SpanNode s = make_span(0, 10, 0.5f, 0.0f, 1);
        span_list_append(&lists[y], &s);
    }
    span_rows_reset(&rows);
    for (int y = 0; y < 300; y++) {
        EXPECT_EQ(lists[y].active_count, 0);
        EXPECT_EQ(lists[y].node_count, 20);
    }
    span_rows_destroy(&rows);
    EXPECT_EQ(rows.pool.blocks, nullptr);
    span_rows_destroy(&rows);  // harmless twice
}

TEST(Engine, FilterWeightsAddUpTo63) {
    build_filter_tables();
    const uint8_t* w = engine_bilinear_weights();
    auto entry = [&](int i, int j, int table) { return (int)w[table * 4096 + j * 64 + i]; };
    struct Worked { int i, j, w00, w10, w01, w11; };
    const Worked worked[] = {{0, 0, 63, 0, 0, 0},    {63, 0, 1, 62, 0, 0},   {0, 63, 1, 0, 62, 0},
                             {63, 63, 1, 0, 0, 62},  {32, 32, 17, 15, 15, 16}, {16, 48, 13, 3, 35, 12}};
    for (const Worked& e : worked) {
        EXPECT_EQ(entry(e.i, e.j, 0), e.w00) << e.i << "," << e.j;
        EXPECT_EQ(entry(e.i, e.j, 1), e.w10) << e.i << "," << e.j;
        EXPECT_EQ(entry(e.i, e.j, 2), e.w01) << e.i << "," << e.j;
        EXPECT_EQ(entry(e.i, e.j, 3), e.w11) << e.i << "," << e.j;
    }
    int ones = 0;
    for (int j = 0; j < 64; j++)
        for (int i = 0; i < 64; i++) {
            int sum = entry(i, j, 0) + entry(i, j, 1) + entry(i, j, 2) + entry(i, j, 3);
            ASSERT_EQ(sum, 63) << i << "," << j;
            EXPECT_GE(entry(i, j, 0), 1);
            ones += entry(i, j, 0) == 1;
            // Each neighbour's weight is its bilinear share, rounded down.
            EXPECT_EQ(entry(i, j, 3), i * j / 64);
            // The fill loop reads all four from one packed word.
            uint32_t packed = engine_bilinear_weights_packed()[j * 64 + i];
            for (int table = 0; table < 4; table++)
                ASSERT_EQ((int)(packed >> (8 * table) & 0xFF), entry(i, j, table)) << i << "," << j;
        }
    EXPECT_EQ(ones, 3);
}

int allocations_left = -1;
void* limited_realloc(void* block, size_t bytes) {
    if (allocations_left == 0) return nullptr;
    if (allocations_left > 0) allocations_left--;
    return std::realloc(block, bytes);
}

TEST(Engine, FailedRowSetIsReleasedByDestroy) {
    std::vector<ScanlineSpanList> lists(300);
    SpanRows rows = {};
    span_pool_set_allocator(limited_realloc);
    allocations_left = 2;  // the table and block 0: rows run out after 51
    EXPECT_EQ(span_rows_create(&rows, lists.data(), 0, 300, 400), 0);
    EXPECT_EQ(span_pool_status(&rows.pool), -1);
    span_rows_destroy(&rows);  // AddressSanitizer reports anything left behind
    allocations_left = -1;
    span_pool_set_allocator(nullptr);
    ASSERT_EQ(span_rows_create(&rows, lists.data(), 0, 300, 400), 1);
    span_rows_destroy(&rows);
}

}  // namespace
