// Bitmap font: a 24-bit BMP atlas of 11 x 13 glyph cells copied into 32-bit
// pixel buffers, opaque or added with saturation.
#include "display/font.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum {
    BMP_HEADER_SIZE = 54,           // 14-byte file header + 40-byte information header
    BMP_INFO_SIZE = 40,
    BMP_MAX_PIXELS = 1 << 28,       // larger images are rejected before allocating
    FONT_FIRST_CODE = 32,           // the space, top-left cell
    FONT_LAST_CODE = 127,
    FONT_CELLS_PER_ROW = 16,
};

struct FontState {
    RgbImage* atlas;   // 0x00RRGGBB glyph image, null until font_init succeeds
    int clip_width;    // destination width and row stride, in pixels
    int clip_height;   // destination rows
    const char* bmp_error;  // reason the last bmp_read failed
};

FontState font = {nullptr, 0, 0, ""};

RgbImage* bmp_fail(const char* why) {
    font.bmp_error = why;
    return nullptr;
}

uint32_t u16le(const uint8_t* p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8; }
uint32_t u32le(const uint8_t* p) { return u16le(p) | u16le(p + 2) << 16; }

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

// Uncompressed 24-bit bottom-up BMP. Rows start at bfOffBits (54 when the
// field is smaller, as with a bare 40-byte information header), are padded to
// a multiple of four bytes and hold blue, green, red per pixel.
RgbImage* bmp_decode(const uint8_t* data, size_t size) {
    if (size < BMP_HEADER_SIZE) return bmp_fail("truncated header");
    if (data[0] != 'B' || data[1] != 'M') return bmp_fail("not a BMP file");
    uint32_t offset = u32le(data + 10);
    uint32_t info_size = u32le(data + 14);
    int32_t width = (int32_t)u32le(data + 18);
    int32_t height = (int32_t)u32le(data + 22);
    uint32_t bit_count = u16le(data + 28);
    uint32_t compression = u32le(data + 30);
    if (info_size < BMP_INFO_SIZE) return bmp_fail("unsupported BMP header");
    if (bit_count != 24) return bmp_fail("not a 24-bit BMP");
    if (compression != 0) return bmp_fail("compressed BMP");
    if (height < 0) return bmp_fail("top-down BMP");
    if (width <= 0 || height == 0) return bmp_fail("empty image");
    if ((uint64_t)width * (uint64_t)height > BMP_MAX_PIXELS) return bmp_fail("image too large");
    if (offset < BMP_HEADER_SIZE) offset = BMP_HEADER_SIZE;
    const uint64_t row_size = ((uint64_t)width * 3 + 3) & ~(uint64_t)3;
    if (offset > size || (uint64_t)(size - offset) < row_size * (uint64_t)height)
        return bmp_fail("truncated pixel data");

    RgbImage* image = (RgbImage*)std::malloc(sizeof(RgbImage));
    if (!image) return bmp_fail("out of memory");
    image->pixels = (uint32_t*)std::malloc((size_t)width * (size_t)height * 4);
    if (!image->pixels) {
        std::free(image);
        return bmp_fail("out of memory");
    }
    image->width = width;
    image->height = height;
    const uint8_t* row = data + offset;
    for (int32_t y = height - 1; y >= 0; y--, row += row_size) {
        uint32_t* out = image->pixels + (size_t)y * (size_t)width;
        for (int32_t x = 0; x < width; x++) {
            const uint8_t* p = row + 3 * (size_t)x;
            out[x] = (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | (uint32_t)p[0];
        }
    }
    return image;
}

RgbImage* bmp_read(const char* file_name) {
    size_t size;
    const char* why;
    uint8_t* data = image_file_read(file_name, &size, &why);
    if (!data) return bmp_fail(why);
    RgbImage* image = bmp_decode(data, size);
    std::free(data);
    return image;
}

const char* bmp_error() { return font.bmp_error; }

int font_init(int clip_width, int clip_height) {
    RgbImage* atlas = bmp_read("Font.bmp");
    if (!atlas) return 0;
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
