// Bitmap font: glyphs copied out of a 24-bit BMP atlas into 32-bit buffers.
//
// The atlas has 11 x 13 cells, 16 per row; character c uses the cell at
// x = (c & 15) * 11, y = ((c - 32) / 16) * 13 (codes 32..127). Black atlas
// pixels are transparent. Destinations are clip_width x clip_height words,
// 0x00RRGGBB; column 0 and row 0 of a destination are never drawn.
#pragma once

#include <cstddef>
#include <cstdint>

#include "texture/image.h"

enum { GLYPH_WIDTH = 11, GLYPH_HEIGHT = 13, GLYPH_LINE_ADVANCE = 14 };

enum { FONT_NO_MEMORY = -1 };
// 1 if "Font.bmp" was read; 0 when it is missing or unusable (no text is
// drawn); FONT_NO_MEMORY when the file or its atlas found no memory.
int font_init(int clip_width, int clip_height);
void font_free();

void draw_glyph(int x, int y, char c, uint32_t* destination);           // opaque
void draw_text(const char* text, int x, int y, uint32_t* destination);  // opaque
void draw_glyph_additive(int x, int y, char c, uint32_t* destination);  // saturating add
void draw_text_additive(const char* text, int x, int y, uint32_t* destination);
