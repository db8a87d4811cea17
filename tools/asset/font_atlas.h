// The glyph atlas the program's text is copied from: 16 cells of 11 x 13
// pixels per row, six rows for the codes 32..127 (code c in column c mod 16,
// row (c - 32) / 16), light glyphs on black, rendered with FreeType.
#pragma once

#include <vector>

#include "asset/image_encode.h"

enum {
    ATLAS_CELL_WIDTH = 11,
    ATLAS_CELL_HEIGHT = 13,
    ATLAS_COLUMNS = 16,
    ATLAS_ROWS = 6,
    ATLAS_WIDTH = ATLAS_CELL_WIDTH * ATLAS_COLUMNS,   // 176
    ATLAS_HEIGHT = ATLAS_CELL_HEIGHT * ATLAS_ROWS,    // 78
    ATLAS_FIRST_CODE = 32,
};

// The font the demo's atlas is made from.
#define DEMO_FONT_PATH "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"

// Renders codes 33..126 of the font file at the largest pixel size whose
// glyphs all fit a cell on a shared baseline. pixels receives ATLAS_WIDTH x
// ATLAS_HEIGHT colours, top row first. 0 with a reason in font_atlas_error().
int font_atlas_render(const char* font_file, std::vector<Rgba8>* pixels);
const char* font_atlas_error();
