// BMP reader for the font atlas: 24-bit uncompressed bottom-up files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "texture/image.h"

// A 24-bit uncompressed bottom-up BMP into 0x00RRGGBB words; null on
// failure, with a short reason in bmp_error().
RgbImage* bmp_read(const char* file_name);
// The same from a file already in memory (tests, fuzzing).
RgbImage* bmp_decode(const uint8_t* data, size_t size);
const char* bmp_error();
