// TGA readers: colour-mapped, grey and true-colour images, raw or
// run-length, into the image records of texture/image.h.
//
// Both readers return null on failure and keep a short reason for the last
// failure (tga_error()): "cannot open file", "bad image type", ...
#pragma once

#include <cstddef>
#include <cstdint>

#include "texture/image.h"

IndexedImage* tga_read_indexed(const char* file_name);
RgbImage* tga_read_rgb(const char* file_name);
const char* tga_error();

// Decoding from memory: what the two readers do after reading the file,
// exposed for the tests and the fuzz entries.
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
