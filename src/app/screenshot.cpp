// Screenshots: the frame as a 24-bit BMP file under the first free name,
// written new and given the name only while it is free.
#include "app/screenshot.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>

#include "display/bmp.h"

// Names "Screenshot 0.bmp", "Screenshot 1.bmp", ... "Screenshot10.bmp", ...:
// the first name no file has is taken. Names in use are passed over before
// anything is written; a file (or link) that appears under the chosen name
// while the frame is written is kept, and the next free name taken instead.
// The frame is read as it is, never changed.
int screenshot_save(const uint32_t* frame, int32_t width, int32_t height) {
    char name[32];
    for (unsigned n = 0; n < UINT_MAX; n++) {
        std::snprintf(name, sizeof name, "Screenshot%2x.bmp", n);
        struct stat s;
        if (lstat(name, &s) == 0) continue;
        int result = bmp_write_frame_new(name, frame, width, height);
        if (result >= 0) return result;
    }
    return 0;
}
