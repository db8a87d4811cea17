// TGA decoding from memory: what tga_read_indexed and tga_read_rgb do after
// reading the file, exposed for the tests and the fuzz entries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "texture/image.h"

IndexedImage* tga_decode_indexed(const uint8_t* data, size_t size);
RgbImage* tga_decode_rgb(const uint8_t* data, size_t size);

// Run-length row decoders over the bytes [*at, end). Each decodes one row of
// `count` pixels, advances *at past the packets it used and returns 1, or 0
// when the data ends inside the row. A packet running past the row end is
// consumed whole but only the pixels that fit are written.
int rle_decode_row(uint8_t* row, int count, const uint8_t** at, const uint8_t* end);
// bytes_per_pixel 1 (index into the low byte), 2 (5-5-5), 3 (B, G, R) or
// 4 (B, G, R, A); pixels become 0x00BBGGRR, alpha in bits 24-31.
int rle_decode_row32(uint32_t* row, int count, int bytes_per_pixel, const uint8_t** at,
                     const uint8_t* end);
