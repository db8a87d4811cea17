// Decoded images: the records the TGA and BMP readers fill, and reading a
// whole image file into memory.
#pragma once

#include <cstddef>
#include <cstdint>

// 8-bit palette indices plus the palette (material textures).
struct IndexedImage {
    uint32_t* palette;      // 256 colours, 0x00RRGGBB; those past palette_count are black
    uint8_t* pixels;        // width * height indices, row-major, top row first
    int32_t palette_count;  // the header's colour map length; 256 for grey
    int32_t width;
    int32_t height;
};

// 32-bit pixels, row-major, top row first. TGA images hold 0x00BBGGRR (red in
// bits 0-7, alpha in 24-31 for 32-bit files); the BMP reader's images hold
// 0x00RRGGBB. Each producer says which.
struct RgbImage {
    uint32_t* pixels;
    int32_t width;   // pixels per row, also the row stride
    int32_t height;
};

// A whole image file in memory (release with free); null with a reason in
// *why ("cannot open file", "not a regular file", "cannot read file", "out of
// memory", which is IMAGE_NO_MEMORY itself). Only regular files are read
// (scene/regular_file.h).
uint8_t* image_file_read(const char* file_name, size_t* size, const char** why);
extern const char* const IMAGE_NO_MEMORY;  // "out of memory"

void indexed_image_free(IndexedImage* image);
void rgb_image_free(RgbImage* image);
