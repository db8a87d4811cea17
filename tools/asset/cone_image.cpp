#include "asset/cone_image.h"

#include <cmath>

ConeSpec cone_default() { return ConeSpec{CONE_SCREEN_WIDTH, CONE_SCREEN_HEIGHT, 125.0f, 50.0f}; }

uint8_t cone_level(const ConeSpec* spec, float distance) {
    // smoothstep from full light at radius - softness/2 to none at radius + softness/2
    float t = (distance - (spec->radius - 0.5f * spec->softness)) / spec->softness;
    if (t <= 0.0f) return 255;
    if (t >= 1.0f) return 0;
    float s = t * t * (3.0f - 2.0f * t);
    return (uint8_t)(255.0f * (1.0f - s) + 0.5f);
}

int cone_paint(const ConeSpec* spec, std::vector<uint8_t>* grey) {
    if (spec->width < 1 || spec->height < 1 || spec->width > 4096 || spec->height > 4096) return 0;
    if (!(spec->softness > 0.0f) || !(spec->radius > 0.0f)) return 0;
    grey->resize((size_t)spec->width * spec->height);
    const float sx = (float)CONE_SCREEN_WIDTH / spec->width, sy = (float)CONE_SCREEN_HEIGHT / spec->height;
    const float cx = CONE_SCREEN_WIDTH * 0.5f, cy = CONE_SCREEN_HEIGHT * 0.5f;
    for (int y = 0; y < spec->height; y++)
        for (int x = 0; x < spec->width; x++) {
            float dx = (x + 0.5f) * sx - cx, dy = (y + 0.5f) * sy - cy;
            (*grey)[(size_t)y * spec->width + x] = cone_level(spec, std::sqrt(dx * dx + dy * dy));
        }
    return 1;
}
