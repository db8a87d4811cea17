// Display surfaces: two alternating staging surfaces of 0x00RRGGBB words that
// the frame is written into, shown through the platform backend.
//
// display_lock hands out width * height packed words of the current staging
// surface; display_present unlocks it, switches to the other one and shows
// the frame. The first frame goes into the second surface.
#pragma once

#include <cstdint>

enum { DISPLAY_NO_MEMORY = -1 };

// 1 when both staging surfaces exist; 0 when the platform refused them, or
// DISPLAY_NO_MEMORY when their memory could not be had. On failure nothing
// can be locked or shown, and display_error() says why.
int display_init(int width, int height);
int display_lock(uint32_t** pixels);
void display_present();
void display_release();
const char* display_error();
int display_current_surface();  // index of the surface the next lock gets: 0 first, 1 second
