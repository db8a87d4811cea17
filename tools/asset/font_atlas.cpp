#include "asset/font_atlas.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>

namespace {

struct FontAtlasState {
    const char* error;  // reason for the last failure
};

FontAtlasState state = {"no error"};

const int first_drawn = 33;  // the space stays black
const int last_drawn = 126;  // 127 has no glyph
const int largest_size = 20;
const int smallest_size = 6;

// Vertical extent of every drawn glyph at the current size: rows above the
// baseline (top) and below it (bottom); the widest advance in pixels.
struct GlyphExtent {
    int top;
    int bottom;
    int advance;
};

int measure(FT_Face face, GlyphExtent* e) {
    *e = GlyphExtent{0, 0, 0};
    for (int c = first_drawn; c <= last_drawn; c++) {
        FT_UInt index = FT_Get_Char_Index(face, (FT_ULong)c);
        if (index == 0) continue;
        if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL)) return 0;
        FT_GlyphSlot g = face->glyph;
        int top = g->bitmap_top, bottom = (int)g->bitmap.rows - g->bitmap_top;
        if (g->bitmap.rows > 0) {
            if (top > e->top) e->top = top;
            if (bottom > e->bottom) e->bottom = bottom;
        }
        int advance = (int)((g->advance.x + 32) >> 6);
        int right = g->bitmap_left + (int)g->bitmap.width;
        if (right > advance) advance = right;
        if (advance > e->advance) e->advance = advance;
    }
    return 1;
}

// Coverage to brightness: a gentle curve so thin strokes stay visible at
// this small size.
uint8_t brightness(int coverage) {
    if (coverage <= 0) return 0;
    return (uint8_t)(255.0 * std::pow(coverage / 255.0, 0.75) + 0.5);
}

int render(FT_Face face, std::vector<Rgba8>* pixels) {
    GlyphExtent e = {0, 0, 0};
    int size = largest_size;
    for (; size >= smallest_size; size--) {
        if (FT_Set_Pixel_Sizes(face, 0, (FT_UInt)size)) continue;
        if (!measure(face, &e)) {
            state.error = "cannot render a glyph";
            return 0;
        }
        if (e.top + e.bottom <= ATLAS_CELL_HEIGHT && e.advance <= ATLAS_CELL_WIDTH) break;
    }
    if (size < smallest_size) {
        state.error = "no size of this font fits an 11 x 13 cell";
        return 0;
    }
    const int baseline = e.top + (ATLAS_CELL_HEIGHT - e.top - e.bottom) / 2;
    pixels->assign((size_t)ATLAS_WIDTH * ATLAS_HEIGHT, Rgba8{0, 0, 0, 255});
    for (int c = first_drawn; c <= last_drawn; c++) {
        FT_UInt index = FT_Get_Char_Index(face, (FT_ULong)c);
        if (index == 0 || FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL)) continue;
        FT_GlyphSlot g = face->glyph;
        if (g->bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || g->bitmap.pitch < (int)g->bitmap.width) continue;
        const int cell_x = (c % ATLAS_COLUMNS) * ATLAS_CELL_WIDTH;
        const int cell_y = ((c - ATLAS_FIRST_CODE) / ATLAS_COLUMNS) * ATLAS_CELL_HEIGHT;
        const int advance = (int)((g->advance.x + 32) >> 6);
        const int pen = (ATLAS_CELL_WIDTH - advance) / 2;  // centre the advance in the cell
        for (int j = 0; j < (int)g->bitmap.rows; j++)
            for (int i = 0; i < (int)g->bitmap.width; i++) {
                int x = pen + g->bitmap_left + i, y = baseline - g->bitmap_top + j;
                if (x < 0 || x >= ATLAS_CELL_WIDTH || y < 0 || y >= ATLAS_CELL_HEIGHT) continue;
                uint8_t b = brightness(g->bitmap.buffer[j * g->bitmap.pitch + i]);
                // warm white, so the glyphs read on any background
                (*pixels)[(size_t)(cell_y + y) * ATLAS_WIDTH + cell_x + x] =
                    Rgba8{b, b, (uint8_t)(b * 15 / 16), 255};
            }
    }
    return 1;
}

}  // namespace

const char* font_atlas_error() { return state.error; }

int font_atlas_render(const char* font_file, std::vector<Rgba8>* pixels) {
    FT_Library library;
    if (FT_Init_FreeType(&library)) {
        state.error = "FreeType unavailable";
        return 0;
    }
    FT_Face face;
    int ok = 0;
    if (FT_New_Face(library, font_file, 0, &face)) {
        state.error = "cannot open the font";
    } else {
        ok = render(face, pixels);
        FT_Done_Face(face);
    }
    FT_Done_FreeType(library);
    return ok;
}
