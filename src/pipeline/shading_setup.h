// Shading set-up: a polygon's attribute planes (1/z, the texture and the
// light-view position, each over z, affine on the screen) and the texture
// level its texel-to-pixel area picks.
#pragma once

#include <cstdint>

#include "math/clip.h"

struct Texture;

// An attribute that is affine in screen space: A(x, y) = at_origin + x * dx + y * dy.
struct PlaneGradient {
    float dx;         // per pixel column
    float dy;         // per scanline
    float at_origin;  // value at screen point (0, 0)
};

// W = 1/z; U, V = texel coordinates of the chosen level times W; LX, LY, LZ =
// light-view position times W. Each is divided by W per pixel when shaded.
struct PolygonGradients {
    PlaneGradient u;
    PlaneGradient v;
    PlaneGradient w;
    PlaneGradient lx;
    PlaneGradient ly;
    PlaneGradient lz;
};

// Planes of the six attributes from the first three vertices, with texel
// sizes tw x th of the chosen level; 0 when those vertices are collinear on
// screen.
int compute_gradients(const ClipPolygon* polygon, int32_t tw, int32_t th, PolygonGradients* gradients);
// Texels of level (0, 0) per screen pixel, as an area ratio (|T / S|).
float texel_area_ratio(const ClipPolygon* polygon, const Texture* texture);
// 0..9: every level quarters the texel area. Area ratio thresholds,
// highest level first, sit near the powers of 4.
const float TEXTURE_LEVEL_THRESHOLDS[] = {262000.0f, 65500.0f, 16000.0f, 4000.0f, 1000.0f,
                                          250.0f,    70.0f,    20.0f,    5.0f};
const int TEXTURE_TOP_LEVEL = 9;
static_assert(sizeof TEXTURE_LEVEL_THRESHOLDS / sizeof TEXTURE_LEVEL_THRESHOLDS[0] == TEXTURE_TOP_LEVEL,
              "one threshold per level above 0");
inline int select_texture_level(float ratio) {
    for (int i = 0; i < TEXTURE_TOP_LEVEL; i++)
        if (ratio > TEXTURE_LEVEL_THRESHOLDS[i]) return TEXTURE_TOP_LEVEL - i;
    return 0;
}

// The planes as polygon records keep them: record order W, U, V, LX, LY,
// LZ in lanes (two spare), worked out four at a time.
struct AttributePlanes {
    alignas(16) float dx[8];
    alignas(16) float dy[8];
    alignas(16) float at_origin[8];
};

// The planes compute_gradients describes, through the first three vertices;
// 0 when they are collinear on screen. Every attribute goes through the
// same single-precision steps as plane_through, one attribute per SSE lane:
// W = 1 / z, U = (W * u) * tw, V = (W * v) * th, LX = W * lx, ... (a factor
// of 1 in a lane leaves its value as it is).
int attribute_planes(const ClipPolygon* polygon, int32_t tw, int32_t th, AttributePlanes* out);
// The plane of one attribute with values a0, a1, a2 at p0, p1, p2, whose
// screen determinant is d (not 0).
inline PlaneGradient plane_through(float a0, float a1, float a2, const ClipVertex* p0,
                            const ClipVertex* p1, const ClipVertex* p2, float d) {
    PlaneGradient g;
    g.dx = ((a1 - a0) * (p2->y - p0->y) - (a2 - a0) * (p1->y - p0->y)) / d;
    g.dy = ((a2 - a0) * (p1->x - p0->x) - (a1 - a0) * (p2->x - p0->x)) / d;
    g.at_origin = a0 - p0->x * g.dx - p0->y * g.dy;
    return g;
}

// Twice the signed screen area spanned by the first three vertices.
inline float screen_determinant(const ClipPolygon* p) {
    const ClipVertex* v = p->v;
    return (v[1].x - v[0].x) * (v[2].y - v[0].y) - (v[2].x - v[0].x) * (v[1].y - v[0].y);
}

