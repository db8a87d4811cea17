// Bitmap font: a 24-bit BMP atlas of 11 x 13 glyph cells copied into 32-bit
// pixel buffers, opaque or added with saturation.
#include "display/font.h"

#include "display/bmp.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum {
    FONT_FIRST_CODE = 32,           // the space, top-left cell
    FONT_LAST_CODE = 127,
    FONT_CELLS_PER_ROW = 16,
};

struct FontState {
    RgbImage* atlas;   // 0x00RRGGBB glyph image, null until font_init succeeds
    int clip_width;    // destination width and row stride, in pixels
    int clip_height;   // destination rows
};

FontState font = {nullptr, 0, 0};

// Cell of character c inside the atlas, or 0 when c has no cell there.
int glyph_cell(char c, int* cx, int* cy) {
    int code = (signed char)c;
    if (code < FONT_FIRST_CODE || code > FONT_LAST_CODE || !font.atlas) return 0;
    *cx = (code % FONT_CELLS_PER_ROW) * GLYPH_WIDTH;
    *cy = ((code - FONT_FIRST_CODE) / FONT_CELLS_PER_ROW) * GLYPH_HEIGHT;
    return *cx + GLYPH_WIDTH <= font.atlas->width && *cy + GLYPH_HEIGHT <= font.atlas->height;
}

// Glyph columns [*i0, *i1) and rows [*j0, *j1) that land strictly inside the
// destination: column 0 and row 0 are never drawn.
int glyph_clip(int x, int y, int* i0, int* i1, int* j0, int* j1) {
    long long lo_i = 1 - (long long)x, hi_i = (long long)font.clip_width - x;
    long long lo_j = 1 - (long long)y, hi_j = (long long)font.clip_height - y;
    *i0 = lo_i > 0 ? (int)(lo_i < GLYPH_WIDTH ? lo_i : (long long)GLYPH_WIDTH) : 0;
    *i1 = hi_i < GLYPH_WIDTH ? (hi_i > 0 ? (int)hi_i : 0) : (int)GLYPH_WIDTH;
    *j0 = lo_j > 0 ? (int)(lo_j < GLYPH_HEIGHT ? lo_j : (long long)GLYPH_HEIGHT) : 0;
    *j1 = hi_j < GLYPH_HEIGHT ? (hi_j > 0 ? (int)hi_j : 0) : (int)GLYPH_HEIGHT;
    return *i0 < *i1 && *j0 < *j1;
}

// Channel-wise a + b limited to 255 for the three low bytes; bits 24-31 are 0.
uint32_t add_saturate(uint32_t a, uint32_t b) {
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        uint32_t c = ((a >> shift) & 0xFF) + ((b >> shift) & 0xFF);
        out |= (c > 255 ? 255 : c) << shift;
    }
    return out;
}

typedef void (*GlyphRoutine)(int x, int y, char c, uint32_t* destination);

void text_walk(const char* text, int x, int y, uint32_t* destination, GlyphRoutine draw) {
    int k = 0;
    for (; *text; text++) {
        if (*text == '\n') {
            y += GLYPH_LINE_ADVANCE;
            k = 0;
            continue;
        }
        draw(x + GLYPH_WIDTH * k, y, *text, destination);
        k++;
    }
}

}  // namespace

int font_init(int clip_width, int clip_height) {
    RgbImage* atlas = bmp_read("Font.bmp");
    if (!atlas) return bmp_error() == IMAGE_NO_MEMORY ? FONT_NO_MEMORY : 0;
    font_free();
    font.atlas = atlas;
    font.clip_width = clip_width;
    font.clip_height = clip_height;
    return 1;
}

void font_free() {
    rgb_image_free(font.atlas);
    font.atlas = nullptr;
}

// At most 11 x 13 pixels, each inside both the atlas cell and the clip.
void draw_glyph(int x, int y, char c, uint32_t* destination) {
    int cx, cy, i0, i1, j0, j1;
    if (!glyph_cell(c, &cx, &cy) || !glyph_clip(x, y, &i0, &i1, &j0, &j1)) return;
    const int stride = font.atlas->width;
    for (int j = j0; j < j1; j++) {
        const uint32_t* src = font.atlas->pixels + (size_t)(cy + j) * (size_t)stride + cx;
        uint32_t* dst = destination + (size_t)(y + j) * (size_t)font.clip_width;
        for (int i = i0; i < i1; i++)
            if (src[i]) dst[x + i] = src[i];
    }
}

void draw_glyph_additive(int x, int y, char c, uint32_t* destination) {
    int cx, cy, i0, i1, j0, j1;
    if (!glyph_cell(c, &cx, &cy) || !glyph_clip(x, y, &i0, &i1, &j0, &j1)) return;
    const int stride = font.atlas->width;
    for (int j = j0; j < j1; j++) {
        const uint32_t* src = font.atlas->pixels + (size_t)(cy + j) * (size_t)stride + cx;
        uint32_t* dst = destination + (size_t)(y + j) * (size_t)font.clip_width;
        for (int i = i0; i < i1; i++) dst[x + i] = add_saturate(src[i], dst[x + i]);
    }
}

void draw_text(const char* text, int x, int y, uint32_t* destination) {
    text_walk(text, x, y, destination, draw_glyph);
}

void draw_text_additive(const char* text, int x, int y, uint32_t* destination) {
    text_walk(text, x, y, destination, draw_glyph_additive);
}
