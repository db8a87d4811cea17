// Screenshots: 24-bit bottom-up BMP files named "Screenshot%2x.bmp" with the
// first free number.
#pragma once

#include <cstdint>

struct RgbImage;

// frame: screen_width x screen_height words in 0x00RRGGBB, as the frame
// buffer holds them; written from a copy in the writer's order, the frame
// itself is left alone. 1 if written.
int screenshot_save(const uint32_t* frame);
// A copy of an 0x00RRGGBB frame in 0x00BBGGRR, the order bmp_write takes;
// null when memory runs out. Release with rgb_image_free.
RgbImage* bmp_image_from_frame(const uint32_t* frame, int32_t width, int32_t height);
// Writes an 0x00BBGGRR image as a 24-bit BMP; 1 on success, 0 on failure.
// The file is written under a temporary name beside it and renamed into
// place, replacing an older file of that name only once the new one is
// complete; a failure leaves no partial file.
int bmp_write(const char* file_name, const RgbImage* image);
// The same, but the file is created exclusively: 1 written, 0 failed (no file
// left behind), -1 a file of that name already exists (left untouched).
int bmp_write_new(const char* file_name, const RgbImage* image);
