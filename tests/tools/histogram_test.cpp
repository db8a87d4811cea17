// varnel-tool histogram: Graph.txt as the program writes it, read back;
// damaged files rejected at their line; the chart's bars, axes and text; and
// the command's rules for its output file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/stats.h"
#include "asset_test_util.h"
#include "raster/span_pool.h"
#include "varnel_tool/span_chart.h"

namespace {

// Graph.txt from the program's own writer: one row per entry, holding one
// visible span of that length.
std::string written_graph(const std::vector<int>& lengths) {
    std::vector<SpanNode> nodes(lengths.size());
    std::vector<ScanlineSpanList> rows(lengths.size());
    for (size_t y = 0; y < lengths.size(); y++) {
        nodes[y] = SpanNode{};
        nodes[y].x_right = lengths[y];
        rows[y] = ScanlineSpanList{};
        rows[y].first = rows[y].last = &nodes[y];
        rows[y].active_count = rows[y].node_count = 1;
    }
    FILE* f = std::tmpfile();
    EXPECT_EQ(span_histogram_write(rows.data(), (int)rows.size(), 400, f), 1);
    std::string text((size_t)std::ftell(f), '\0');
    std::rewind(f);
    EXPECT_EQ(std::fread(&text[0], 1, text.size(), f), text.size());
    std::fclose(f);
    return text;
}

std::vector<int> repeated(int length, int times) { return std::vector<int>((size_t)times, length); }

std::vector<SpanGraphRow> parsed(const std::string& text) {
    std::vector<SpanGraphRow> rows;
    std::string why;
    EXPECT_EQ(span_graph_parse(text.data(), text.size(), &rows, &why), 1) << why;
    return rows;
}

TEST(SpanGraph, ReadsWhatTheProgramWritesIncludingWideCountsCrlfAndNoFinalLineFeed) {
    std::vector<int> lengths = repeated(7, 12000);  // a count wider than four places
    for (const std::vector<int>& more : {repeated(1, 3), repeated(400, 1), repeated(33, 250)})
        lengths.insert(lengths.end(), more.begin(), more.end());
    std::string text = written_graph(lengths);
    ASSERT_NE(text.find("   7 (12000) : "), std::string::npos) << text;
    std::vector<SpanGraphRow> rows = parsed(text);
    ASSERT_EQ(rows.size(), 4u);
    const SpanGraphRow expected[] = {{1, 3}, {7, 12000}, {33, 250}, {400, 1}};
    for (size_t i = 0; i < 4; i++) {
        EXPECT_EQ(rows[i].length, expected[i].length);
        EXPECT_EQ(rows[i].count, expected[i].count);
    }
    std::string crlf;
    for (char ch : text) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    for (const std::string& variant : {crlf, crlf.substr(0, crlf.size() - 2), text.substr(0, text.size() - 1)}) {
        std::vector<SpanGraphRow> again = parsed(variant);
        ASSERT_EQ(again.size(), 4u);
        EXPECT_EQ(again[3].length, 400);
        EXPECT_EQ(again[3].count, 1);
    }
    EXPECT_TRUE(parsed(written_graph({})).empty());
}

TEST(SpanGraph, DamagedLinesAreRejectedWithTheirLineNumber) {
    const std::string good = "   3 (   5) : *****\n";
    const struct {
        std::string text;
        int line;
    } cases[] = {
        {"hello\n", 1},
        {good + "   2 (   1) : *\n", 2},                       // descending
        {good + "   3 (   1) : *\n", 2},                       // repeated length
        {good + "\n   4 (   1) : *\n", 2},                     // blank line
        {"   0 (   1) : *\n", 1},                              // length below 1
        {"100001 (   1) : *\n", 1},                            // length above the limit
        {" -4 (   1) : *\n", 1},
        {good + "   4 (   0) : *\n", 2},                       // count below 1
        {good + "   4 (99999999999) : *\n", 2},                // count too large
        {good + "   4 (1) : *\n", 2},                          // not padded as written
        {good + "  04 (   1) : *\n", 2},
        {good + "   4 (   1) :*\n", 2},
        {good + "   4 (   1) : \n", 2},                        // no bar
        {good + "   4 (   1) : " + std::string(51, '*') + "\n", 2},
        {good + "   4 (   1) : **x\n", 2},
        {good + std::string("   4 (   1) : *\0\n", 17), 2},    // a NUL in the bar
        {good + "   4 (   1) : *\n   5 (   1) : *\r\r\n", 3},  // one CR before the line feed only
    };
    for (const auto& c : cases) {
        std::vector<SpanGraphRow> rows;
        std::string why;
        EXPECT_EQ(span_graph_parse(c.text.data(), c.text.size(), &rows, &why), 0) << c.text;
        EXPECT_EQ(why.rfind("line " + std::to_string(c.line) + ": ", 0), 0u) << c.text << " -> " << why;
    }
}

TEST(SpanGraph, ReadNamesTheFileAndRefusesMissingOversizeAndFolders) {
    ScratchFolder dir("histogram_read");
    ASSERT_TRUE(dir.ok());
    std::vector<SpanGraphRow> rows;
    std::string why;
    EXPECT_EQ(span_graph_read("missing.txt", &rows, &why), 0);
    EXPECT_EQ(why.rfind("missing.txt: ", 0), 0u) << why;
    write_text("big.txt", std::string((size_t)SPAN_GRAPH_MAX_BYTES + 1, '*'));
    EXPECT_EQ(span_graph_read("big.txt", &rows, &why), 0);
    EXPECT_NE(why.find("larger"), std::string::npos) << why;
    EXPECT_EQ(span_graph_read(".", &rows, &why), 0);
    write_text("bad.txt", "   3 (   5) : *****\n   1 (   5) : *****\n");
    EXPECT_EQ(span_graph_read("bad.txt", &rows, &why), 0);
    EXPECT_EQ(why.rfind("bad.txt: line 2: ", 0), 0u) << why;
}

// A drawn chart and the pixel tests on it.
struct Chart {
    std::vector<uint32_t> pixels = std::vector<uint32_t>((size_t)SPAN_CHART_WIDTH * SPAN_CHART_HEIGHT);
    SpanChartLayout layout = {};

    explicit Chart(const std::vector<SpanGraphRow>& rows) {
        std::string why;
        EXPECT_EQ(span_chart_draw(rows, SPAN_CHART_FONT_PATH, pixels.data(), &layout, &why), 1) << why;
    }
    uint32_t at(int x, int y) const { return pixels[(size_t)y * SPAN_CHART_WIDTH + x]; }
    // The column of `length` on the x axis, from the layout's scale alone.
    int column(double length) const {
        const SpanChartLayout& l = layout;
        return l.plot_left + (int)std::lround(length * (l.plot_right - l.plot_left) / (double)l.x_top);
    }
    // Bar pixels standing on the x axis in column x.
    int bar_height(int x) const {
        int h = 0;
        while (layout.axis_y - 1 - h >= 0 && at(x, layout.axis_y - 1 - h) == SPAN_CHART_BAR) h++;
        return h;
    }
    // Pixels in [x0, x1) x [y0, y1) for which `test` holds.
    template <class Test>
    int count(int x0, int y0, int x1, int y1, Test test) const {
        int n = 0;
        for (int y = y0; y < y1; y++)
            for (int x = x0; x < x1; x++) n += test(at(x, y)) ? 1 : 0;
        return n;
    }
};

bool dark(uint32_t p) { return (p & 0xFF) < 0x80 && p != SPAN_CHART_BAR; }
bool grey(uint32_t p) {
    return p != SPAN_CHART_PAPER && p != SPAN_CHART_INK && p != SPAN_CHART_GRID && p != SPAN_CHART_BAR;
}
bool bar(uint32_t p) { return p == SPAN_CHART_BAR; }

TEST(SpanChart, BarsStandAtTheirLengthsWithHeightsInProportionAndGapsLeftEmpty) {
    const std::vector<SpanGraphRow> rows = {{10, 200}, {20, 100}, {35, 50}};
    Chart c(rows);
    const SpanChartLayout& l = c.layout;
    ASSERT_EQ(l.y_top, 200);  // a round largest count ends the axis
    ASSERT_GE(l.x_top, 35);
    const int plot_h = l.axis_y - l.plot_top;
    for (const SpanGraphRow& r : rows) {
        int h = c.bar_height(c.column(r.length));
        EXPECT_NEAR(h, plot_h * r.count / 200.0, 1.0) << "length " << r.length;
    }
    EXPECT_EQ(c.bar_height(c.column(10)), plot_h);  // the tallest reaches the top of the plot
    EXPECT_FALSE(bar(c.at(c.column(10), l.plot_top - 1)));
    for (double empty : {2.0, 15.0, 27.5}) {
        int x = c.column(empty);
        EXPECT_EQ(c.count(x, l.plot_top, x + 1, l.axis_y, bar), 0) << "length " << empty;
        EXPECT_EQ(c.count(x, l.plot_top, x + 1, l.axis_y,
                          [](uint32_t p) { return p != SPAN_CHART_PAPER && p != SPAN_CHART_GRID; }),
                  0);
    }
    // Nothing of a bar outside the plot; the axes are solid lines.
    int all_bars = c.count(0, 0, SPAN_CHART_WIDTH, SPAN_CHART_HEIGHT, bar);
    EXPECT_EQ(c.count(l.plot_left + 1, l.plot_top, l.plot_right + 1, l.axis_y, bar), all_bars);
    EXPECT_EQ(c.count(l.plot_left, l.plot_top, l.plot_left + 1, l.axis_y + 1,
                      [](uint32_t p) { return p == SPAN_CHART_INK; }), l.axis_y + 1 - l.plot_top);
    EXPECT_EQ(c.count(l.plot_left, l.axis_y, l.plot_right + 1, l.axis_y + 1,
                      [](uint32_t p) { return p == SPAN_CHART_INK; }), l.plot_right + 1 - l.plot_left);
    // Anti-aliased text: the title above, count labels left of the y axis
    // and length labels with the axis title below the x axis.
    const int below = l.axis_y + 6;
    EXPECT_GT(c.count(0, 0, SPAN_CHART_WIDTH, l.plot_top - 25, dark), 100);
    EXPECT_GT(c.count(0, l.plot_top - 6, l.plot_left - 6, l.axis_y + 6, dark), 50);
    EXPECT_GT(c.count(0, below, SPAN_CHART_WIDTH, SPAN_CHART_HEIGHT, dark), 150);
    EXPECT_GT(c.count(0, below, SPAN_CHART_WIDTH, SPAN_CHART_HEIGHT, grey), 50);
}

TEST(SpanChart, EveryLengthOfAFullWidthFrameShowsEvenBesideAHugeCount) {
    std::vector<SpanGraphRow> rows;
    for (int length = 1; length <= 400; length++) rows.push_back({length, length == 1 ? 300000 : 1 + length % 7});
    Chart c(rows);
    for (int length = 1; length <= 400; length++)
        ASSERT_TRUE(bar(c.at(c.column(length), c.layout.axis_y - 1))) << "length " << length;
    EXPECT_EQ(c.bar_height(c.column(1)), c.layout.axis_y - c.layout.plot_top);
}

TEST(SpanChart, ExtremeLengthsKeepTheirBarsOffTheAxisAndLabelsInsideTheImage) {
    Chart c({{1, 5}, {SPAN_GRAPH_MAX_LENGTH, 2147483647}});
    const SpanChartLayout& l = c.layout;
    EXPECT_EQ(c.count(l.plot_left + 1, l.axis_y - 1, l.plot_left + 3, l.axis_y, bar), 1);
    EXPECT_NEAR(c.bar_height(c.column(SPAN_GRAPH_MAX_LENGTH)), (l.axis_y - l.plot_top) * 2147483647.0 / l.y_top, 1.0);
    // The last length label, centred on the axis' end, is not cut off.
    EXPECT_EQ(c.count(SPAN_CHART_WIDTH - 2, l.axis_y + 1, SPAN_CHART_WIDTH, SPAN_CHART_HEIGHT, dark), 0);
    EXPECT_GT(c.count(l.plot_right - 10, l.axis_y + 6, l.plot_right + 10, l.axis_y + 25, dark), 10);
}

TEST(SpanChart, EmptyHistogramHasAxesAndTitleButNoBarsAndABadFontIsReported) {
    Chart c({});
    const SpanChartLayout& l = c.layout;
    EXPECT_EQ(c.count(0, 0, SPAN_CHART_WIDTH, SPAN_CHART_HEIGHT, bar), 0);
    EXPECT_EQ(c.at(l.plot_left, l.plot_top), SPAN_CHART_INK);
    EXPECT_EQ(c.at(l.plot_right, l.axis_y), SPAN_CHART_INK);
    EXPECT_GT(c.count(0, 0, SPAN_CHART_WIDTH, l.plot_top - 25, dark), 100);

    std::vector<uint32_t> pixels((size_t)SPAN_CHART_WIDTH * SPAN_CHART_HEIGHT);
    SpanChartLayout layout;
    std::string why;
    EXPECT_EQ(span_chart_draw({}, "/nonexistent/font.ttf", pixels.data(), &layout, &why), 0);
    EXPECT_NE(why.find("/nonexistent/font.ttf"), std::string::npos) << why;
}

TEST(HistogramCommand, WritesTheChartAndReplacesNoFileWithoutForce) {
    ScratchFolder dir("histogram_command");
    ASSERT_TRUE(dir.ok());
    std::vector<int> lengths = repeated(5, 40);
    for (int length : {1, 1, 9}) lengths.push_back(length);
    write_text("Graph.txt", written_graph(lengths));
    ASSERT_EQ(run_exit_code(tool_command("histogram Graph.txt chart.png >/dev/null")), 0);
    // An 800 x 500 8-bit RGB PNG: signature, then the header's size, depth and colour type.
    std::string png = read_text("chart.png");
    ASSERT_GT(png.size(), 26u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_EQ(png.substr(16, 10), std::string("\0\0\x03\x20\0\0\x01\xf4\x08\x02", 10));

    write_text("mine.png", "keep");
    EXPECT_EQ(run_exit_code(tool_command("histogram Graph.txt mine.png 2>/dev/null")), 1);
    EXPECT_EQ(read_text("mine.png"), "keep");
    write_text("chart2.png.partial", "keep too");  // a name like the PNG writer's temporary ones
    EXPECT_EQ(run_exit_code(tool_command("histogram Graph.txt chart2.png >/dev/null")), 0);
    EXPECT_EQ(read_text("chart2.png.partial"), "keep too");
    EXPECT_EQ(read_text("chart2.png").substr(1, 3), "PNG");
    EXPECT_EQ(run_exit_code(tool_command("histogram --force Graph.txt mine.png >/dev/null")), 0);
    EXPECT_EQ(read_text("mine.png").substr(1, 3), "PNG");

    write_text("bad.txt", "   1 (   2) : **\n   1 (   2) : **\n");
    EXPECT_EQ(run_exit_code(tool_command("histogram bad.txt out.png 2>/dev/null")), 1);
    EXPECT_FALSE(file_exists("out.png"));
    EXPECT_EQ(run_exit_code("ls -A | grep -q 'out.png.partial'"), 1) << "temporary file left behind";
    EXPECT_EQ(run_exit_code(tool_command("histogram Graph.txt 2>/dev/null")), 2);
    EXPECT_EQ(run_exit_code(tool_command("histogram --bogus Graph.txt out.png 2>/dev/null")), 2);
    EXPECT_FALSE(file_exists("out.png"));
}

}  // namespace
