// The spotlight cone image: a grey disc with a soft edge. The program
// stretches the image to its frame and lights only where the grey level is
// at least 120. The disc is drawn round in pixels of the default 400 x 300
// frame: an image of another size holds an ellipse that the stretch to that
// frame makes round (a frame of another shape stretches it again).
#pragma once

#include <cstdint>
#include <vector>

#include "app/screen_size.h"

struct ConeShape {
    int width;       // image size in pixels
    int height;
    float radius;    // default-frame pixels from the centre to the 50 % grey level
    float softness;  // default-frame pixels over which the edge falls from white to black
};

// The demo's cone: 400 x 300, radius 125, a 50-pixel soft edge.
ConeShape cone_default();
// width x height grey levels, top row first. 0 for sizes outside 1..4096.
int cone_paint(const ConeShape* shape, std::vector<uint8_t>* grey);
// Grey level at a distance from the centre, in default-frame pixels.
uint8_t cone_level(const ConeShape* shape, float distance);
