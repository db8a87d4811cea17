#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <vector>

#include "raster/span_pool.h"
#include "span_rows.h"

namespace {

int allocations_left = -1;  // -1: every allocation succeeds
int allocation_calls = 0;

void* counted_realloc(void* block, size_t bytes) {
    allocation_calls++;
    if (allocations_left == 0) return nullptr;
    if (allocations_left > 0) allocations_left--;
    return std::realloc(block, bytes);
}

class SpanPoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        allocations_left = -1;
        allocation_calls = 0;
        span_pool_set_allocator(counted_realloc);
        ASSERT_EQ(span_pool_create(&test_pool), 1);
    }
    void TearDown() override {
        span_pool_destroy(&test_pool);
        span_pool_set_allocator(nullptr);
    }
    // Rows of `count` nodes each until `total` nodes have been handed out.
    void take_nodes(long total, std::vector<ScanlineSpanList>* rows) {
        while (pool_nodes_taken() < total) {
            long n = total - pool_nodes_taken();
            rows->emplace_back();
            ASSERT_EQ(span_list_create(&test_pool, (int)(n < 100 ? n : 100), &rows->back()), 1);
        }
    }
};

// No node may sit in two chains, and every row's count must match its chain.
void expect_nodes_unique(const std::vector<ScanlineSpanList*>& rows) {
    std::set<SpanNode*> seen;
    long total = 0;
    for (ScanlineSpanList* row : rows) {
        for (SpanNode* n : chain_nodes(row)) EXPECT_TRUE(seen.insert(n).second) << "node in two chains";
        total += row->node_count;
    }
    EXPECT_EQ((long)seen.size(), total);
}

TEST_F(SpanPoolTest, CreateBuildsLinkedChainOfSpares) {
    ScanlineSpanList row;
    ASSERT_EQ(span_list_create(&test_pool, SPAN_LIST_INITIAL_NODES, &row), 1);
    EXPECT_EQ(row.node_count, 20);
    EXPECT_EQ(row.active_count, 0);
    std::vector<SpanNode*> nodes = chain_nodes(&row);
    ASSERT_EQ(nodes.size(), 20u);
    EXPECT_EQ(nodes[0], &(&test_pool)->blocks[0][0]);  // taken in pool order
    EXPECT_EQ(nodes[19], &(&test_pool)->blocks[0][19]);
    EXPECT_EQ(pool_nodes_taken(), 20);
}

TEST_F(SpanPoolTest, StoringOperationsUseSparesAndKeepLinks) {
    ScanlineSpanList row;
    ASSERT_EQ(span_list_create(&test_pool, 4, &row), 1);
    std::vector<SpanNode*> initial = chain_nodes(&row);

    // Append reuses the first spare in place and hands its links to the record.
    SpanNode a = make_span(10, 20, 0.5f, 0.0f, 1);
    SpanNode* na = span_list_append(&row, &a);
    EXPECT_EQ(na, initial[0]);
    EXPECT_EQ(a.next, initial[1]);
    EXPECT_TRUE(same_surface(*na, make_span(0, 0, 0.5f, 0.0f, 1)));

    // Insert before the first visible node: the chain's last spare moves to the front.
    SpanNode b = make_span(0, 10, 0.5f, 0.0f, 2);
    SpanNode* nb = span_list_insert_before(&row, na, &b);
    EXPECT_EQ(nb, initial[3]);
    EXPECT_EQ(row.first, nb);
    EXPECT_EQ(row.last, initial[2]);

    SpanNode c = make_span(20, 30, 0.5f, 0.0f, 3);
    SpanNode* nc = span_list_insert_after(&row, na, &c);
    EXPECT_EQ(nc, initial[2]);
    EXPECT_EQ(visible(&row), (std::vector<Piece>{{0, 10, 2}, {10, 20, 1}, {20, 30, 3}}));
    EXPECT_EQ(row.node_count, 4);
    EXPECT_EQ(pool_nodes_taken(), 4);  // no spare was missing, so no pool node

    // Removing a middle node turns it into the chain's last spare.
    span_list_remove(&row, na);
    EXPECT_EQ(visible(&row), (std::vector<Piece>{{0, 10, 2}, {20, 30, 3}}));
    EXPECT_EQ(row.last, na);

    // Append takes the first spare, not the node just removed; once every
    // node is visible an insert behind the chain's end takes a pool node and
    // becomes last, and removing that end only shortens the visible part.
    SpanNode d = make_span(30, 40, 0.5f, 0.0f, 4);
    EXPECT_EQ(span_list_append(&row, &d), initial[1]);
    SpanNode d2 = make_span(40, 45, 0.5f, 0.0f, 7);
    SpanNode* nd = span_list_append(&row, &d2);
    EXPECT_EQ(nd, na);
    EXPECT_EQ(row.active_count, 4);
    SpanNode e = make_span(45, 50, 0.5f, 0.0f, 5);
    SpanNode* ne = span_list_insert_after(&row, nd, &e);
    EXPECT_EQ(ne, &(&test_pool)->blocks[0][4]);
    EXPECT_EQ(row.last, ne);
    EXPECT_EQ(row.node_count, 5);
    span_list_remove(&row, ne);
    EXPECT_EQ(row.active_count, 4);
    EXPECT_EQ(row.last, ne);
    EXPECT_EQ(visible(&row).size(), 4u);
    EXPECT_EQ(span_list_append(&row, &e), ne);

    // A full chain: insert before the first node takes a pool node as first.
    SpanNode f = make_span(-10, 0, 0.5f, 0.0f, 6);
    SpanNode* nf = span_list_insert_before(&row, row.first, &f);
    EXPECT_EQ(row.first, nf);
    EXPECT_EQ(row.node_count, 6);
    EXPECT_EQ(visible(&row).front(), (Piece{-10, 0, 6}));
}

// Inserts copy straight into the node they take; a record that is itself
// that node (the chain's last spare) must still arrive whole.
TEST_F(SpanPoolTest, InsertOfTheSpareItTakes) {
    ScanlineSpanList row;
    ASSERT_EQ(span_list_create(&test_pool, 3, &row), 1);
    SpanNode a = make_span(10, 20, 0.5f, 0.0f, 1);
    SpanNode* na = span_list_append(&row, &a);
    SpanNode* spare = row.last;
    SpanNode words = make_span(0, 5, 0.25f, 0.01f, 9);
    words.prev = spare->prev, words.next = spare->next;
    *spare = words;
    EXPECT_EQ(span_list_insert_before(&row, na, spare), spare);
    EXPECT_EQ(visible(&row), (std::vector<Piece>{{0, 5, 9}, {10, 20, 1}}));
    EXPECT_TRUE(same_surface(*row.first, make_span(0, 5, 0.25f, 0.01f, 9)));
    EXPECT_EQ(row.first->prev, nullptr);
    EXPECT_EQ(row.first->next, na);
}

TEST_F(SpanPoolTest, ResetKeepsNodesAndAppendReusesTheFirst) {
    ScanlineSpanList row;
    ASSERT_EQ(span_list_create(&test_pool, SPAN_LIST_INITIAL_NODES, &row), 1);
    SpanNode* first = row.first;
    for (int i = 0; i < 25; i++) {
        SpanNode s = make_span(i * 10, i * 10 + 10, 0.5f, 0.0f, (uint32_t)i + 1);
        ASSERT_NE(span_list_append(&row, &s), nullptr);
    }
    EXPECT_EQ(row.node_count, 25);
    EXPECT_EQ(pool_nodes_taken(), 25);
    span_list_reset(&row);  // what span_rows_reset does per row
    SpanNode s = make_span(0, 5, 0.5f, 0.0f, 99);
    EXPECT_EQ(span_list_append(&row, &s), first);
    EXPECT_EQ(row.node_count, 25);
    EXPECT_EQ(pool_nodes_taken(), 25);
}

TEST_F(SpanPoolTest, GrowsAtThe1025thNodeThenEvery256) {
    std::vector<ScanlineSpanList> rows;
    rows.reserve(4000);
    take_nodes(1024, &rows);
    const SpanPool* p = (&test_pool);
    EXPECT_EQ(p->last_block, 0);
    EXPECT_EQ(p->block_capacity, 1024);
    EXPECT_EQ(p->used_in_block, 1024);
    take_nodes(1025, &rows);
    EXPECT_EQ(p->last_block, 1);
    EXPECT_EQ(p->current_block, 1);
    EXPECT_EQ(p->block_capacity, 256);
    EXPECT_EQ(p->used_in_block, 1);
    take_nodes(1024 + 256, &rows);
    EXPECT_EQ(p->last_block, 1);
    take_nodes(1024 + 256 + 1, &rows);
    EXPECT_EQ(p->last_block, 2);
    EXPECT_EQ(p->block_capacity, 256);
    take_nodes(1024 + 256 * 7 + 1, &rows);
    EXPECT_EQ(p->last_block, 8);
    EXPECT_EQ(p->status, 0);
    // Every block starts on SpanNode's alignment, whatever the allocator
    // returned, so no node straddles a cache line.
    for (int32_t b = 0; b <= p->last_block; b++) EXPECT_EQ((uintptr_t)p->blocks[b] % alignof(SpanNode), 0u) << b;
    std::vector<ScanlineSpanList*> all;
    for (ScanlineSpanList& r : rows) all.push_back(&r);
    expect_nodes_unique(all);
}

TEST_F(SpanPoolTest, FullBlockGrowsEvenWhenTheRowHasASpare) {
    std::vector<ScanlineSpanList> rows(2);
    ASSERT_EQ(span_list_create(&test_pool, 20, &rows[0]), 1);
    ASSERT_EQ(span_list_create(&test_pool, 1004, &rows[1]), 1);
    SpanNode s = make_span(0, 10, 0.5f, 0.0f, 1);
    SpanNode* n = span_list_append(&rows[0], &s);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n, rows[0].first);  // the spare was used ...
    EXPECT_EQ((&test_pool)->last_block, 1);  // ... but the pool grew first
    EXPECT_EQ((&test_pool)->current_block, 1);
    EXPECT_EQ((&test_pool)->used_in_block, 0);
}

TEST_F(SpanPoolTest, FailedGrowthStoresNothingAndRecovers) {
    std::vector<ScanlineSpanList> rows(2);
    ASSERT_EQ(span_list_create(&test_pool, 20, &rows[0]), 1);
    SpanNode a = make_span(0, 10, 0.5f, 0.0f, 1);
    ASSERT_NE(span_list_append(&rows[0], &a), nullptr);
    ASSERT_EQ(span_list_create(&test_pool, 1004, &rows[1]), 1);  // block 0 is now full
    // Fail the new block, then (on the next try) the table: both leave the pool as it was.
    for (int fail_after : {0, 1}) {
        allocations_left = fail_after;
        SpanNode b = make_span(10, 20, 0.5f, 0.0f, 2);
        EXPECT_EQ(span_list_append(&rows[0], &b), nullptr);
        EXPECT_EQ(span_list_insert_before(&rows[0], rows[0].first, &b), nullptr);
        EXPECT_EQ(span_list_insert_after(&rows[0], rows[0].first, &b), nullptr);
        EXPECT_EQ(span_pool_status(&test_pool), -1);
        EXPECT_EQ(rows[0].active_count, 1);  // nothing stored, although 19 spares were there
        EXPECT_EQ(visible(&rows[0]), (std::vector<Piece>{{0, 10, 1}}));
        EXPECT_EQ((&test_pool)->last_block, 0);
        EXPECT_EQ((&test_pool)->used_in_block, 1024);
        ScanlineSpanList extra;
        EXPECT_EQ(span_list_create(&test_pool, 1, &extra), 0);  // no node handed out twice
        EXPECT_EQ(extra.node_count, 0);
    }
    EXPECT_GT(allocation_calls, 2);  // each request tried to grow again

    allocations_left = -1;
    SpanNode c = make_span(10, 20, 0.5f, 0.0f, 3);
    EXPECT_NE(span_list_append(&rows[0], &c), nullptr);
    EXPECT_EQ(span_pool_status(&test_pool), 0);
    EXPECT_EQ((&test_pool)->last_block, 1);
    std::vector<ScanlineSpanList> more(300);
    for (ScanlineSpanList& r : more) ASSERT_EQ(span_list_create(&test_pool, 1, &r), 1);
    std::vector<ScanlineSpanList*> all{&rows[0], &rows[1]};
    for (ScanlineSpanList& r : more) all.push_back(&r);
    expect_nodes_unique(all);
}

TEST_F(SpanPoolTest, CreateFailsCleanly) {
    span_pool_destroy(&test_pool);
    allocations_left = 1;  // table succeeds, block 0 fails
    EXPECT_EQ(span_pool_create(&test_pool), 0);
    ScanlineSpanList row;
    EXPECT_EQ(span_list_create(&test_pool, 1, &row), 0);
    allocations_left = 0;
    EXPECT_EQ(span_pool_create(&test_pool), 0);
    allocations_left = -1;
    EXPECT_EQ(span_pool_create(&test_pool), 1);
}

}  // namespace
