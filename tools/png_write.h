// PNG output for the tools.
#pragma once

#include <cstdint>

// Writes width x height 0x00RRGGBB words as an 8-bit RGB PNG. The file is
// written new under a temporary name and renamed into place
// (scene/output_file.h), so a failed write never leaves a partial file and
// no link is followed. 1 on success, 0 on failure with the reason, naming
// the file, in output_file_error().
int png_write_rgb(const char* file_name, const uint32_t* pixels, int width, int height);
