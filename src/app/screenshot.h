// Screenshots: 24-bit bottom-up BMP files named "Screenshot%2x.bmp" with the
// first free number.
#pragma once

#include <cstdint>

struct RgbImage;

// pixels: screen_width x screen_height words in 0x00BBGGRR. 1 if written.
int screenshot_save(const uint32_t* pixels);
// Writes an 0x00BBGGRR image as a 24-bit BMP; 1 on success, 0 on failure.
int bmp_write(const char* file_name, const RgbImage* image);
