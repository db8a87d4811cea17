// Image file encoders: 8-bit colour-mapped run-length TGA (material
// textures), 8-bit grey TGA (the cone) and 24-bit BMP (the font atlas).
// Each appends a complete file to a buffer; asset_file_write puts it on disk.
#pragma once

#include <cstdint>

#include "asset/asset_file.h"

// Colour in memory order red, green, blue, alpha; every asset image is
// row-major, top row first.
struct Rgba8 {
    uint8_t r, g, b, a;
};

// TGA type 9: width x height palette indices, a 256-entry 24-bit colour map
// (palette entries beyond palette_count are written black), rows stored
// bottom row first, every row packed on its own.
// 0 when a size is outside 1..65535 or palette_count is not 1..256.
int tga_encode_indexed_rle(const uint8_t* indices, int width, int height, const Rgba8* palette,
                           int palette_count, ByteBuffer* out);
// TGA type 3: uncompressed 8-bit grey, no colour map, bottom row first.
int tga_encode_grey(const uint8_t* grey, int width, int height, ByteBuffer* out);
// 24-bit uncompressed BMP, bottom-up rows padded to four bytes.
// 0 when a size is outside 1..32767.
int bmp_encode_rgb(const Rgba8* pixels, int width, int height, ByteBuffer* out);
