#include "app/stats.h"

#include <cstdint>
#include <cstdlib>

#include "app/app.h"
#include "raster/span_pool.h"
#include "scene/output_file.h"

namespace {

const char* const graph_file_name = "Graph.txt";

// Two parallel growing arrays: distinct lengths and how often each occurred.
struct Histogram {
    int32_t* lengths;
    int32_t* counts;
    int size;
    int capacity;
};

int histogram_add(Histogram* h, int32_t length) {
    for (int m = 0; m < h->size; m++)
        if (h->lengths[m] == length) {
            h->counts[m]++;
            return 1;
        }
    if (h->size == h->capacity) {
        int capacity = h->capacity ? h->capacity * 2 : 64;
        int32_t* lengths = (int32_t*)std::realloc(h->lengths, sizeof(int32_t) * (size_t)capacity);
        if (!lengths) return 0;
        h->lengths = lengths;
        int32_t* counts = (int32_t*)std::realloc(h->counts, sizeof(int32_t) * (size_t)capacity);
        if (!counts) return 0;
        h->counts = counts;
        h->capacity = capacity;
    }
    h->lengths[h->size] = length;
    h->counts[h->size] = 1;
    h->size++;
    return 1;
}

// Exchange passes until nothing moves; at most one entry per screen column.
void histogram_sort(Histogram* h) {
    for (int swapped = 1; swapped;) {
        swapped = 0;
        for (int m = 0; m + 1 < h->size; m++)
            if (h->lengths[m] > h->lengths[m + 1]) {
                int32_t l = h->lengths[m], c = h->counts[m];
                h->lengths[m] = h->lengths[m + 1];
                h->counts[m] = h->counts[m + 1];
                h->lengths[m + 1] = l;
                h->counts[m + 1] = c;
                swapped = 1;
            }
    }
}

}  // namespace

int span_histogram_write(const ScanlineSpanList* rows, int height, int width, FILE* out) {
    Histogram h = {};
    int ok = 1;
    for (int y = 0; y < height && ok; y++) {
        const SpanNode* s = rows[y].first;
        for (int k = 0; k < rows[y].active_count && s && ok; k++, s = s->next) {
            int32_t left = s->x_left < 0 ? 0 : s->x_left;
            int32_t right = s->x_right > width ? width - 1 : s->x_right;  // as the resolve passes clamp
            int64_t length = (int64_t)right - left;
            if (length <= 0) continue;  // empty and reversed spans
            ok = histogram_add(&h, (int32_t)length);
        }
    }
    if (ok) {
        histogram_sort(&h);
        int32_t largest = 0;
        for (int m = 0; m < h.size; m++)
            if (h.counts[m] > largest) largest = h.counts[m];
        for (int m = 0; m < h.size && ok; m++) {
            if (std::fprintf(out, "%4d (%4d) : ", h.lengths[m], h.counts[m]) < 0) ok = 0;
            // The most frequent length gets exactly 50 stars, every other at least one.
            for (int stars = 0; stars < (float)h.counts[m] / (float)largest * 50; stars++)
                if (std::fputc('*', out) == EOF) ok = 0;
            if (std::fputc('\n', out) == EOF) ok = 0;
        }
    }
    std::free(h.lengths);
    std::free(h.counts);
    return ok;
}

void span_statistics_dump(const ScanlineSpanList* rows, int height, int width) {
    if (!rows) {  // the rows could not be allocated at start-up
        std::fprintf(stderr, "%s: no span lists to count; %s not written\n", app_program(), graph_file_name);
        return;
    }
    // Written new and renamed over the old file once complete (scene/output_file.h).
    OutputFile f;
    if (!output_file_open(&f, graph_file_name)) return;
    FILE* stream = output_file_stream(&f);
    if (!stream || !span_histogram_write(rows, height, width, stream)) {
        output_file_discard(&f, graph_file_name, 0);
        return;
    }
    output_file_commit(&f, graph_file_name, OUTPUT_REPLACE);
}
