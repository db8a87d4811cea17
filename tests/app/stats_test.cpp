#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/stats.h"
#include "raster/span_pool.h"
#include "test_support.h"

namespace {

// Rows built by hand: each row a chain of the given spans, all visible,
// followed by one spare node that must not be read.
struct Rows {
    std::vector<std::vector<SpanNode>> nodes;
    std::vector<ScanlineSpanList> lists;

    explicit Rows(const std::vector<std::vector<std::pair<int, int>>>& spans) {
        nodes.resize(spans.size());
        lists.resize(spans.size());
        for (size_t y = 0; y < spans.size(); y++) {
            std::vector<SpanNode>& row = nodes[y];
            row.resize(spans[y].size() + 1);
            for (size_t k = 0; k < row.size(); k++) {
                row[k] = SpanNode{};
                row[k].prev = k ? &row[k - 1] : nullptr;
                row[k].next = k + 1 < row.size() ? &row[k + 1] : nullptr;
                if (k < spans[y].size()) {
                    row[k].x_left = spans[y][k].first;
                    row[k].x_right = spans[y][k].second;
                } else {
                    row[k].x_left = 0;  // spare: a length the histogram must not count
                    row[k].x_right = 333;
                }
            }
            lists[y] = ScanlineSpanList{};
            lists[y].first = &row[0];
            lists[y].last = &row.back();
            lists[y].active_count = (int32_t)spans[y].size();
            lists[y].node_count = (int32_t)row.size();
        }
    }
};

std::string histogram(const Rows& rows, int width = 400) {
    ScratchDir dir("stats");
    FILE* f = std::fopen("out.txt", "w");
    EXPECT_EQ(span_histogram_write(rows.lists.data(), (int)rows.lists.size(), width, f), 1);
    std::fclose(f);
    return read_file("out.txt");
}

TEST(SpanStatistics, BarsScaleToTheMostFrequentLength) {
    std::vector<std::vector<std::pair<int, int>>> spans;
    for (int y = 0; y < 1000; y++) spans.push_back({{0, 7}});
    spans.push_back({{10, 13}});
    std::string text = histogram(Rows(spans));
    EXPECT_EQ(text, "   3 (   1) : *\n   7 (1000) : " + std::string(50, '*') + "\n");
}

TEST(SpanStatistics, LengthsAreClampedAndEmptyOrReversedSpansSkipped) {
    // -5..10 counts as 10; 390..400 keeps its last column; 395..410 loses it;
    // reversed and empty spans are dropped.
    Rows rows({{{-5, 10}, {20, 20}, {30, 25}}, {{390, 400}}, {{395, 410}}});
    EXPECT_EQ(histogram(rows), "   4 (   1) : " + std::string(25, '*') + "\n" +
                                   "  10 (   2) : " + std::string(50, '*') + "\n");
}

TEST(SpanStatistics, FullRowsGiveOneLineAndNoSpansAnEmptyFile) {
    std::vector<std::vector<std::pair<int, int>>> full(300, {{0, 400}});
    EXPECT_EQ(histogram(Rows(full)), " 400 ( 300) : " + std::string(50, '*') + "\n");
    std::vector<std::vector<std::pair<int, int>>> none(300);
    EXPECT_EQ(histogram(Rows(none)), "");
}

TEST(SpanStatistics, SortsDistinctLengthsAscending) {
    Rows rows({{{0, 30}, {30, 31}, {40, 60}}, {{0, 1}}});
    std::string text = histogram(rows);
    EXPECT_EQ(text.substr(0, 14), "   1 (   2) : ");
    EXPECT_NE(text.find("\n  20 (   1) : "), std::string::npos);
    EXPECT_LT(text.find("  20 ("), text.find("  30 ("));
}

// Home after the engine failed to allocate its rows: nothing is written.
TEST(SpanStatistics, DumpWithoutSpanListsWritesNothing) {
    ScratchDir dir("stats_no_lists");
    span_statistics_dump(nullptr, 300, 400);
    EXPECT_EQ(read_file("Graph.txt"), "");
    EXPECT_EQ(read_file("Graph.txt.partial"), "");
}

}  // namespace
