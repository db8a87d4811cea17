// The screen record: a run's frame size, focal length, projection centre
// and view frustum, derived once from the size (engine_init) and handed to
// every part that projects, clips, walks rows or shades.
#pragma once

#include <cstdint>

#include "math/clip.h"

// The screen a run draws, fixed for the run. Camera and light views share
// it: the same size, focal length and centre.
struct Screen {
    int32_t width;         // pixels; both buffers, the cone mask and the span rows have this size
    int32_t height;        // rows
    float focal_length;    // pixels: width / 2, the 90-degree horizontal view
    int32_t centre_x;      // projection centre: width div 2
    int32_t centre_y;      // height div 2
    ViewFrustum frustum;   // side planes for the (width - 4) x (height - 4) viewport
};
