#include "varnel_tool/span_chart.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// ---- Graph.txt ----

// Spaces, an optional '-' and 1 to 12 digits from line[*at]; *at ends past
// them. Lenient on padding so that a number out of range or padded wrongly
// gets its own message; 0 when there are no digits.
int read_number(const char* line, size_t n, size_t* at, int64_t* value) {
    size_t i = *at;
    while (i < n && line[i] == ' ') i++;
    int negative = i < n && line[i] == '-';
    if (negative) i++;
    int digits = 0;
    int64_t v = 0;
    for (; i < n && line[i] >= '0' && line[i] <= '9' && digits < 12; i++, digits++) v = v * 10 + (line[i] - '0');
    if (digits == 0) return 0;
    *value = negative ? -v : v;
    *at = i;
    return 1;
}

int read_literal(const char* line, size_t n, size_t* at, const char* literal) {
    size_t k = std::strlen(literal);
    if (n - *at < k || std::memcmp(line + *at, literal, k) != 0) return 0;
    *at += k;
    return 1;
}

// One line without its line end, whose length must be above `previous`.
// 0 with *why.
int parse_line(const char* line, size_t n, int64_t previous, SpanGraphRow* row, std::string* why) {
    size_t at = 0;
    int64_t length = 0, count = 0;
    if (!read_number(line, n, &at, &length) || !read_literal(line, n, &at, " (") ||
        !read_number(line, n, &at, &count) || !read_literal(line, n, &at, ") : ")) {
        *why = "not a histogram line (\"LENGTH (COUNT) : \" and a bar of '*')";
        return 0;
    }
    if (length < 1 || length > SPAN_GRAPH_MAX_LENGTH) {
        *why = "length " + std::to_string(length) + " is outside 1.." + std::to_string(SPAN_GRAPH_MAX_LENGTH);
        return 0;
    }
    if (count < 1 || count > INT32_MAX) {
        *why = "count " + std::to_string(count) + (count < 1 ? " is below 1" : " is too large");
        return 0;
    }
    if (length <= previous) {
        *why = "length " + std::to_string(length) + " after " + std::to_string(previous) +
               "; lengths must ascend";
        return 0;
    }
    // Both numbers are in range now, so the writer's own pattern gives the
    // exact text the line must start with.
    char prefix[40];
    int k = std::snprintf(prefix, sizeof prefix, "%4d (%4d) : ", (int)length, (int)count);
    if (k < 0 || (size_t)k != at || std::memcmp(prefix, line, at) != 0) {
        *why = "numbers not padded to four places as the program writes them";
        return 0;
    }
    // The bar repeats the count scaled to the largest; only its form is checked.
    size_t stars = n - at;
    int only_stars = 1;
    for (size_t i = at; i < n; i++)
        if (line[i] != '*') only_stars = 0;
    if (!only_stars || stars < 1 || stars > SPAN_GRAPH_MAX_STARS) {
        *why = "the bar is not 1 to " + std::to_string(SPAN_GRAPH_MAX_STARS) + " '*' characters";
        return 0;
    }
    *row = SpanGraphRow{(int32_t)length, (int32_t)count};
    return 1;
}

// ---- drawing ----

struct Canvas {
    uint32_t* pixels;  // width x height 0x00RRGGBB, top row first
    int width;
    int height;
};

// Fills columns x0..x1-1 of rows y0..y1-1, clipped to the canvas.
void fill(Canvas* c, int x0, int y0, int x1, int y1, uint32_t colour) {
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x1 > c->width) x1 = c->width;
    if (y1 > c->height) y1 = c->height;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) c->pixels[(size_t)y * c->width + x] = colour;
}

// `over` laid on `under` with coverage alpha (0..255), each channel rounded.
uint32_t blend(uint32_t under, uint32_t over, int alpha) {
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        int a = (int)(under >> shift) & 255, b = (int)(over >> shift) & 255;
        out |= (uint32_t)((a * (255 - alpha) + b * alpha + 127) / 255) << shift;
    }
    return out;
}

enum Align { ALIGN_LEFT, ALIGN_CENTRE, ALIGN_RIGHT };

// Width in pixels of `text` at the face's current size: its hinted advances.
int text_width(FT_Face face, const std::string& text) {
    FT_Pos pen = 0;  // 26.6
    for (unsigned char ch : text)
        if (!FT_Load_Char(face, ch, FT_LOAD_DEFAULT)) pen += face->glyph->advance.x;
    return (int)((pen + 32) >> 6);
}

// Draws `text` anti-aliased on row `baseline`, with its left end, centre or
// right end at column x. Glyphs the font lacks are skipped.
void text_draw(Canvas* c, FT_Face face, int x, int baseline, Align align, const std::string& text,
               uint32_t colour) {
    if (align == ALIGN_CENTRE) x -= text_width(face, text) / 2;
    if (align == ALIGN_RIGHT) x -= text_width(face, text);
    FT_Pos pen = (FT_Pos)x * 64;  // 26.6
    for (unsigned char ch : text) {
        if (FT_Load_Char(face, ch, FT_LOAD_RENDER)) continue;
        FT_GlyphSlot g = face->glyph;
        const FT_Bitmap& b = g->bitmap;
        if (b.pixel_mode == FT_PIXEL_MODE_GRAY && b.pitch >= (int)b.width) {
            int left = (int)((pen + 32) >> 6) + g->bitmap_left, top = baseline - g->bitmap_top;
            for (int j = 0; j < (int)b.rows; j++)
                for (int i = 0; i < (int)b.width; i++) {
                    int px = left + i, py = top + j;
                    int alpha = b.buffer[(size_t)j * b.pitch + i];
                    if (alpha == 0 || px < 0 || px >= c->width || py < 0 || py >= c->height) continue;
                    uint32_t* p = &c->pixels[(size_t)py * c->width + px];
                    *p = blend(*p, colour, alpha);
                }
        }
        pen += g->advance.x;
    }
}

// The smallest step of 1, 2 or 5 times a power of ten that splits
// 0..largest (>= 1) into at most `parts` intervals.
int64_t nice_step(int64_t largest, int parts) {
    for (int64_t power = 1;; power *= 10)
        for (int64_t m : {1, 2, 5})
            if (largest <= m * power * parts) return m * power;
}

// 1234567 as "1,234,567".
std::string grouped(int64_t v) {
    std::string s = std::to_string(v);
    for (int i = (int)s.size() - 3; i > 0; i -= 3) s.insert((size_t)i, ",");
    return s;
}

std::string counted(int64_t n, const char* one, const char* many) {
    return grouped(n) + " " + (n == 1 ? one : many);
}

// Sizes in pixels (em height) and the fixed parts of the layout.
const int title_size = 16;
const int axis_title_size = 13;
const int label_size = 12;
const int label_half_height = 4;  // half a digit's height at label_size: centres a label on its tick
const int margin = 12;            // image edge to the outermost text
const int right_gap = 24;         // image edge to the x axis' end, at least
const int tick_length = 5;
const int max_intervals = 8;      // tick intervals per axis at most
const int empty_x_top = 400;      // an empty histogram's axes: the screen's width
const int empty_y_top = 10;

int font_size(FT_Face face, int pixels, std::string* why) {
    if (!FT_Set_Pixel_Sizes(face, 0, (FT_UInt)pixels)) return 1;
    *why = "cannot be set to " + std::to_string(pixels) + " pixels";
    return 0;
}

int draw(const std::vector<SpanGraphRow>& rows, FT_Face face, uint32_t* pixels, SpanChartLayout* layout,
         std::string* why) {
    int64_t largest_length = empty_x_top, largest_count = empty_y_top, total = 0;
    if (!rows.empty()) {
        // The bar of length L spans L - 0.5..L + 0.5, so the axis runs past
        // the last length (lengths ascend).
        largest_length = rows.back().length + 1;
        largest_count = 0;
    }
    for (const SpanGraphRow& r : rows) {
        if (r.count > largest_count) largest_count = r.count;
        total += r.count;
    }
    SpanChartLayout L;
    int64_t x_step = nice_step(largest_length, max_intervals), y_step = nice_step(largest_count, max_intervals);
    L.x_top = (largest_length + x_step - 1) / x_step * x_step;
    L.y_top = (largest_count + y_step - 1) / y_step * y_step;

    Canvas c = {pixels, SPAN_CHART_WIDTH, SPAN_CHART_HEIGHT};
    fill(&c, 0, 0, c.width, c.height, SPAN_CHART_PAPER);
    if (!font_size(face, label_size, why)) return 0;
    // The y axis stands right of its widest label.
    int widest = 0;
    for (int64_t v = 0; v <= L.y_top; v += y_step) {
        int w = text_width(face, grouped(v));
        if (w > widest) widest = w;
    }
    L.plot_left = margin + widest + tick_length + 4;
    // ... and ends where the last x label, centred on it, still fits.
    int last_half = text_width(face, grouped(L.x_top)) / 2;
    L.plot_right = c.width - (last_half + margin > right_gap ? last_half + margin : right_gap);
    L.plot_top = 70;
    L.axis_y = c.height - 60;
    const int plot_w = L.plot_right - L.plot_left, plot_h = L.axis_y - L.plot_top;
    // Axis values to pixels, rounded to nearest.
    auto row_of = [&](int64_t count) {
        return L.axis_y - (int)((count * plot_h * 2 + L.y_top) / (2 * L.y_top));
    };
    auto column_of = [&](int64_t length) {
        return L.plot_left + (int)((length * plot_w * 2 + L.x_top) / (2 * L.x_top));
    };

    for (int64_t v = y_step; v <= L.y_top; v += y_step)
        fill(&c, L.plot_left + 1, row_of(v), L.plot_right + 1, row_of(v) + 1, SPAN_CHART_GRID);

    // Each bar is centred on its length, a length wide (narrowed to leave a
    // gap when that is 4 pixels or more), at least one pixel wide and, so
    // that a rare length still shows, one pixel tall.
    const double unit = (double)plot_w / (double)L.x_top;
    const double half = unit >= 4 ? 0.4 * unit : 0.5 * unit;
    for (const SpanGraphRow& r : rows) {
        double centre = L.plot_left + r.length * unit;
        int x0 = (int)std::lround(centre - half), x1 = (int)std::lround(centre + half);
        if (x0 <= L.plot_left) x0 = L.plot_left + 1;  // not hidden under the y axis
        if (x1 <= x0) x1 = x0 + 1;
        int top = row_of(r.count);
        if (top >= L.axis_y) top = L.axis_y - 1;
        fill(&c, x0, top, x1, L.axis_y, SPAN_CHART_BAR);
    }

    fill(&c, L.plot_left, L.plot_top, L.plot_left + 1, L.axis_y + 1, SPAN_CHART_INK);
    fill(&c, L.plot_left, L.axis_y, L.plot_right + 1, L.axis_y + 1, SPAN_CHART_INK);
    for (int64_t v = 0; v <= L.y_top; v += y_step) {
        int y = row_of(v);
        fill(&c, L.plot_left - tick_length, y, L.plot_left, y + 1, SPAN_CHART_INK);
        text_draw(&c, face, L.plot_left - tick_length - 4, y + label_half_height, ALIGN_RIGHT, grouped(v),
                  SPAN_CHART_INK);
    }
    for (int64_t v = 0; v <= L.x_top; v += x_step) {
        int x = column_of(v);
        fill(&c, x, L.axis_y + 1, x + 1, L.axis_y + 1 + tick_length, SPAN_CHART_INK);
        text_draw(&c, face, x, L.axis_y + tick_length + 4 + 2 * label_half_height + 1, ALIGN_CENTRE, grouped(v),
                  SPAN_CHART_INK);
    }

    if (!font_size(face, axis_title_size, why)) return 0;
    text_draw(&c, face, (L.plot_left + L.plot_right) / 2, c.height - 16, ALIGN_CENTRE, "span length (pixels)",
              SPAN_CHART_INK);
    text_draw(&c, face, margin, L.plot_top - 18, ALIGN_LEFT, "spans", SPAN_CHART_INK);

    if (!font_size(face, title_size, why)) return 0;
    std::string title = rows.empty() ? std::string("Span lengths: no spans")
                                     : "Span lengths: " + counted(total, "span", "spans") + ", " +
                                           counted((int64_t)rows.size(), "distinct length", "distinct lengths");
    text_draw(&c, face, c.width / 2, 30, ALIGN_CENTRE, title, SPAN_CHART_INK);
    *layout = L;
    return 1;
}

}  // namespace

int span_graph_parse(const char* text, size_t size, std::vector<SpanGraphRow>* rows, std::string* why) {
    rows->clear();
    int64_t previous = 0;
    size_t start = 0;
    for (int line = 1; start < size; line++) {
        const char* end = (const char*)std::memchr(text + start, '\n', size - start);
        size_t next = end ? (size_t)(end - text) + 1 : size;
        size_t n = (end ? (size_t)(end - text) : size) - start;
        if (n > 0 && text[start + n - 1] == '\r') n--;
        SpanGraphRow row;
        if (!parse_line(text + start, n, previous, &row, why)) {
            *why = "line " + std::to_string(line) + ": " + *why;
            return 0;
        }
        rows->push_back(row);
        previous = row.length;
        start = next;
    }
    return 1;
}

int span_graph_read(const char* path, std::vector<SpanGraphRow>* rows, std::string* why) {
    const std::string name = path;
    // Checked before opening, so a pipe or device is never opened or read.
    struct stat s;
    if (stat(path, &s) != 0) {
        *why = name + ": " + std::strerror(errno);
        return 0;
    }
    if (!S_ISREG(s.st_mode)) {
        *why = name + ": not a regular file";
        return 0;
    }
    const std::string too_large = name + ": larger than " + std::to_string(SPAN_GRAPH_MAX_BYTES >> 20) +
                                  " MiB, not a span histogram";
    if (s.st_size > SPAN_GRAPH_MAX_BYTES) {
        *why = too_large;
        return 0;
    }
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        *why = name + ": " + std::strerror(errno);
        return 0;
    }
    // Read up to one byte past the limit, which tells a file that grew since stat.
    std::vector<char> text((size_t)SPAN_GRAPH_MAX_BYTES + 1);
    size_t n = std::fread(text.data(), 1, text.size(), f);
    int failed = std::ferror(f);
    std::fclose(f);
    if (failed) {
        *why = name + ": cannot read";
        return 0;
    }
    if (n > (size_t)SPAN_GRAPH_MAX_BYTES) {
        *why = too_large;
        return 0;
    }
    if (!span_graph_parse(text.data(), n, rows, why)) {
        *why = name + ": " + *why;
        return 0;
    }
    return 1;
}

int span_chart_draw(const std::vector<SpanGraphRow>& rows, const char* font_path, uint32_t* pixels,
                    SpanChartLayout* layout, std::string* why) {
    FT_Library library;
    if (FT_Init_FreeType(&library)) {
        *why = "FreeType unavailable";
        return 0;
    }
    FT_Face face;
    int ok = 0;
    if (FT_New_Face(library, font_path, 0, &face)) {
        *why = std::string(font_path) + ": cannot open the font";
    } else {
        ok = draw(rows, face, pixels, layout, why);
        if (!ok) *why = std::string(font_path) + ": " + *why;
        FT_Done_Face(face);
    }
    FT_Done_FreeType(library);
    return ok;
}
