// PNG output for the tools.
#pragma once

#include <cstdint>

// Writes width x height 0x00RRGGBB words as an 8-bit RGB PNG. The file is
// written under a temporary name and renamed into place, so a failed write
// never leaves a partial file. 1 on success, 0 on failure.
int png_write_rgb(const char* file_name, const uint32_t* pixels, int width, int height);
