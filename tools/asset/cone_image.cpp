#include "asset/cone_image.h"

#include <cmath>

ConeShape cone_default() { return ConeShape{SCREEN_WIDTH, SCREEN_HEIGHT, 125.0f, 50.0f}; }

uint8_t cone_level(const ConeShape* shape, float distance) {
    // smoothstep from full light at radius - softness/2 to none at radius + softness/2
    float t = (distance - (shape->radius - 0.5f * shape->softness)) / shape->softness;
    if (t <= 0.0f) return 255;
    if (t >= 1.0f) return 0;
    float s = t * t * (3.0f - 2.0f * t);
    return (uint8_t)(255.0f * (1.0f - s) + 0.5f);
}

int cone_paint(const ConeShape* shape, std::vector<uint8_t>* grey) {
    if (shape->width < 1 || shape->height < 1 || shape->width > 4096 || shape->height > 4096) return 0;
    if (!(shape->softness > 0.0f) || !(shape->radius > 0.0f)) return 0;
    grey->resize((size_t)shape->width * shape->height);
    const float sx = (float)SCREEN_WIDTH / shape->width, sy = (float)SCREEN_HEIGHT / shape->height;
    const float cx = SCREEN_WIDTH * 0.5f, cy = SCREEN_HEIGHT * 0.5f;
    for (int y = 0; y < shape->height; y++)
        for (int x = 0; x < shape->width; x++) {
            float dx = (x + 0.5f) * sx - cx, dy = (y + 0.5f) * sy - cy;
            (*grey)[(size_t)y * shape->width + x] = cone_level(shape, std::sqrt(dx * dx + dy * dy));
        }
    return 1;
}
