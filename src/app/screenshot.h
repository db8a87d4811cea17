// Screenshots: 24-bit bottom-up BMP files named "Screenshot%2x.bmp" with the
// first free number.
#pragma once

#include <cstdint>

struct RgbImage;

// frame: width x height words in 0x00RRGGBB, as the frame buffer holds
// them; each row is converted as it is written, the frame itself is left
// alone. 1 if written.
int screenshot_save(const uint32_t* frame, int32_t width, int32_t height);
// Writes an 0x00BBGGRR image as a 24-bit BMP; 1 on success, 0 on failure.
// The file is written under a temporary name beside it and renamed into
// place, replacing an older file of that name only once the new one is
// complete; a failure leaves no partial file.
int bmp_write(const char* file_name, const RgbImage* image);
// The same, but the file is created exclusively: 1 written, 0 failed (no file
// left behind), -1 a file of that name already exists (left untouched).
int bmp_write_new(const char* file_name, const RgbImage* image);
// bmp_write for a frame of 0x00RRGGBB words.
int bmp_write_frame(const char* file_name, const uint32_t* frame, int32_t width, int32_t height);
