// Screenshots: the frame as a 24-bit BMP file under the first free name,
// created exclusively and removed again if writing it fails.
#include "app/screenshot.h"

#include <climits>
#include <cstdio>

#include "display/bmp.h"

// Names "Screenshot 0.bmp", "Screenshot 1.bmp", ... "Screenshot10.bmp", ...:
// the first name no file has is taken. The file is created exclusively, so a
// file that appears under the name meanwhile is skipped, never overwritten.
// The frame is read as it is, never changed.
int screenshot_save(const uint32_t* frame, int32_t width, int32_t height) {
    char name[32];
    for (unsigned n = 0; n < UINT_MAX; n++) {
        std::snprintf(name, sizeof name, "Screenshot%2x.bmp", n);
        int result = bmp_write_frame_new(name, frame, width, height);
        if (result >= 0) return result;
    }
    return 0;
}
