// The spotlight cone image: a grey disc with a soft edge. The program
// stretches the image to the 400 x 300 screen and lights only where the grey
// level is at least 120, so the disc is drawn round in screen units: an
// image of another size holds an ellipse that the stretch makes round.
#pragma once

#include <cstdint>
#include <vector>

enum { CONE_SCREEN_WIDTH = 400, CONE_SCREEN_HEIGHT = 300 };

struct ConeShape {
    int width;       // image size in pixels
    int height;
    float radius;    // screen pixels from the centre to the 50 % grey level
    float softness;  // screen pixels over which the edge falls from white to black
};

// The demo's cone: 400 x 300, radius 125, a 50-pixel soft edge.
ConeShape cone_default();
// width x height grey levels, top row first. 0 for sizes outside 1..4096.
int cone_paint(const ConeShape* shape, std::vector<uint8_t>* grey);
// Grey level at a distance from the centre, in screen pixels.
uint8_t cone_level(const ConeShape* shape, float distance);
