// histogram [--force] Graph.txt OUT.png: the span-length histogram the
// program writes on Home, drawn as a bar chart with labelled axes.
#include <cstdio>
#include <string>
#include <vector>

#include "asset/asset_file.h"
#include "png_write.h"
#include "scene/output_file.h"
#include "varnel_tool/commands.h"
#include "varnel_tool/span_chart.h"
#include "varnel_tool/tool_common.h"

namespace {

int histogram_fail(const std::string& what) { return error_line("histogram", what.c_str()); }

}  // namespace

int tool_histogram(int argc, char** argv) {
    static const char* const no_values[] = {nullptr};
    Arguments a;
    const char* bad = nullptr;
    if (!parse_arguments(argc, argv, no_values, &a, &bad) || a.positional.size() != 2) {
        std::fprintf(stderr, "usage: varnel-tool histogram [--force] Graph.txt OUT.png\n");
        return 2;
    }
    const char* in = a.positional[0];
    const std::string out = a.positional[1];
    if (output_blocked("histogram", out.c_str(), a.force)) return 1;

    std::vector<SpanGraphRow> rows;
    std::string why;
    if (!span_graph_read(in, &rows, &why)) return histogram_fail(why);
    std::vector<uint32_t> pixels((size_t)SPAN_CHART_WIDTH * SPAN_CHART_HEIGHT);
    SpanChartLayout layout;
    if (!span_chart_draw(rows, SPAN_CHART_FONT_PATH, pixels.data(), &layout, &why)) return histogram_fail(why);
    if (!png_write_rgb(out.c_str(), pixels.data(), SPAN_CHART_WIDTH, SPAN_CHART_HEIGHT))
        return histogram_fail(std::string("cannot write ") + output_file_error());

    long long spans = 0;
    for (const SpanGraphRow& r : rows) spans += r.count;
    std::printf("varnel-tool histogram: %s: %lld spans, %zu distinct lengths\n", out.c_str(), spans, rows.size());
    return 0;
}
