// BMP files, 24-bit uncompressed bottom-up: the reader for the font atlas
// and the writer for screenshots and frames.
#pragma once

#include <cstddef>
#include <cstdint>

#include "texture/image.h"

// A 24-bit uncompressed bottom-up BMP into 0x00RRGGBB words; null on
// failure, with a short reason in bmp_error() (IMAGE_NO_MEMORY when the
// file or its pixels found no memory).
RgbImage* bmp_read(const char* file_name);
// The same from a file already in memory (tests, fuzzing).
RgbImage* bmp_decode(const uint8_t* data, size_t size);
const char* bmp_error();

// Writes an 0x00BBGGRR image as a 24-bit BMP; 1 on success, 0 on failure
// (the reason, naming the file, in output_file_error()). The file is written
// new under a temporary name beside it and renamed into place, replacing an
// older file or a link of that name only once the new one is complete; a
// failure leaves no partial file (scene/output_file.h).
int bmp_write(const char* file_name, const RgbImage* image);
// The same, but a file of that name is kept: 1 written, 0 failed (no file
// left behind), -1 a file or link of that name already exists (left untouched).
int bmp_write_new(const char* file_name, const RgbImage* image);
// bmp_write and bmp_write_new for a frame of 0x00RRGGBB words (each row is
// converted as it is written; the frame is not changed).
int bmp_write_frame(const char* file_name, const uint32_t* frame, int32_t width, int32_t height);
int bmp_write_frame_new(const char* file_name, const uint32_t* frame, int32_t width, int32_t height);
