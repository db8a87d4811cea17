// Screenshots: 24-bit bottom-up BMP files named "Screenshot%2x.bmp" with the
// first free number (the writer is display/bmp.h).
#pragma once

#include <cstdint>

// frame: width x height words in 0x00RRGGBB, as the frame buffer holds
// them; each row is converted as it is written, the frame itself is left
// alone. 1 if written.
int screenshot_save(const uint32_t* frame, int32_t width, int32_t height);
