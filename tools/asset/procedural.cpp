#include "asset/procedural.h"

#include <cmath>
#include <cstring>

namespace {

const float two_pi = 6.28318531f;

struct Colour {
    float r, g, b;  // 0..255, may leave the range until stored
};

Colour mix(Colour a, Colour b, float t) {
    return Colour{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Colour scale(Colour c, float k) { return Colour{c.r * k, c.g * k, c.b * k}; }

uint8_t clamp_byte(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 255.0f) return 255;
    return (uint8_t)(v + 0.5f);
}

Rgba8 store(Colour c) { return Rgba8{clamp_byte(c.r), clamp_byte(c.g), clamp_byte(c.b), 255}; }

uint32_t hash3(int x, int y, unsigned seed) {
    uint32_t h = (uint32_t)x * 374761393u + (uint32_t)y * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

// 0..1 from a cell's hash.
float cell_random(int x, int y, unsigned seed) { return (float)(hash3(x, y, seed) & 0xFFFFu) / 65535.0f; }

float smooth(float t) { return t * t * (3.0f - 2.0f * t); }

int wrap(int i, int period) {
    int r = i % period;
    return r < 0 ? r + period : r;
}

// Value noise on a lattice of `period` cells per unit that wraps at the unit.
float value_noise(float u, float v, int period, unsigned seed) {
    float x = u * (float)period, y = v * (float)period;
    float fx = std::floor(x), fy = std::floor(y);
    int x0 = (int)fx, y0 = (int)fy;
    float tx = smooth(x - fx), ty = smooth(y - fy);
    float a = cell_random(wrap(x0, period), wrap(y0, period), seed);
    float b = cell_random(wrap(x0 + 1, period), wrap(y0, period), seed);
    float c = cell_random(wrap(x0, period), wrap(y0 + 1, period), seed);
    float d = cell_random(wrap(x0 + 1, period), wrap(y0 + 1, period), seed);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

float clamp01(float t) { return t < 0.0f ? 0.0f : (t > 1.0f ? 1.0f : t); }

// 0 at the edge of a cell, rising to 1 at `width` texels inside it.
float edge_ramp(float distance, float width) { return clamp01(distance / width); }

// -- floor: a checker of cream and slate tiles, 4 x 4 per repeat -------------
void paint_floor(Rgba8* px, int w, int h) {
    const int tiles = 4;
    const Colour cream = {204, 190, 160}, slate = {92, 100, 112}, grout = {58, 55, 50};
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            float u = (x + 0.5f) / w, v = (y + 0.5f) / h;
            int tx = x * tiles / w, ty = y * tiles / h;
            float cell_w = (float)w / tiles, cell_h = (float)h / tiles;
            float dx = std::fmin(x + 0.5f - tx * cell_w, (tx + 1) * cell_w - x - 0.5f);
            float dy = std::fmin(y + 0.5f - ty * cell_h, (ty + 1) * cell_h - y - 0.5f);
            float edge = std::fmin(dx, dy);
            Colour base = ((tx + ty) & 1) ? slate : cream;
            base = scale(base, 0.9f + 0.2f * cell_random(tx, ty, 11));
            float mottle = noise_fbm(u, v, 8, 5, 12);
            Colour c = scale(base, 0.78f + 0.44f * mottle);
            c = scale(c, 0.82f + 0.18f * edge_ramp(edge - 2.0f, (float)w / 64.0f));  // bevelled rim
            float groutness = clamp01(2.6f - edge);
            c = mix(c, scale(grout, 0.8f + 0.4f * noise_fbm(u, v, 32, 2, 13)), groutness);
            px[(size_t)y * w + x] = store(c);
        }
}

// -- bricks: running bond, 8 courses and 4 bricks a course per repeat ---------
void paint_brick(Rgba8* px, int w, int h) {
    const int courses = 8, per_course = 4;
    const Colour mortar = {178, 170, 156}, brick = {152, 72, 48};
    float brick_w = (float)w / per_course, brick_h = (float)h / courses;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            float u = (x + 0.5f) / w, v = (y + 0.5f) / h;
            int row = (int)(y / brick_h);
            float shift = (row & 1) ? brick_w * 0.5f : 0.0f;
            float bx = std::fmod(x + 0.5f + shift, (float)w);
            int col = (int)(bx / brick_w);
            float dx = std::fmin(bx - col * brick_w, (col + 1) * brick_w - bx);
            float dy = std::fmin(y + 0.5f - row * brick_h, (row + 1) * brick_h - y - 0.5f);
            float edge = std::fmin(dx, dy);
            float tone = cell_random(col, row, 21);
            Colour c = mix(brick, Colour{120, 58, 44}, tone);
            c = mix(c, Colour{176, 104, 70}, cell_random(col, row, 22) * 0.5f);
            c = scale(c, 0.8f + 0.35f * noise_fbm(u, v, 16, 4, 23));
            c = scale(c, 0.85f + 0.15f * edge_ramp(edge - 2.0f, 3.0f));
            float m = clamp01(3.0f - edge);
            c = mix(c, scale(mortar, 0.85f + 0.25f * noise_fbm(u, v, 64, 2, 24)), m);
            px[(size_t)y * w + x] = store(c);
        }
}

// -- stone: sandstone ashlar, 4 courses of 2 blocks per repeat ---------------
void paint_stone(Rgba8* px, int w, int h) {
    const int courses = 4, per_course = 2;
    const Colour sand = {196, 176, 136}, joint = {96, 86, 70};
    float block_w = (float)w / per_course, block_h = (float)h / courses;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            float u = (x + 0.5f) / w, v = (y + 0.5f) / h;
            int row = (int)(y / block_h);
            float shift = (row & 1) ? block_w * 0.5f : 0.0f;
            float bx = std::fmod(x + 0.5f + shift, (float)w);
            int col = (int)(bx / block_w);
            float dx = std::fmin(bx - col * block_w, (col + 1) * block_w - bx);
            float dy = std::fmin(y + 0.5f - row * block_h, (row + 1) * block_h - y - 0.5f);
            float edge = std::fmin(dx, dy);
            Colour c = scale(sand, 0.88f + 0.2f * cell_random(col, row, 31));
            float grain = noise_fbm(u, v, 8, 6, 32);
            float pits = noise_fbm(u, v, 64, 2, 33);
            c = scale(c, 0.7f + 0.5f * grain);
            if (pits > 0.72f) c = scale(c, 0.8f);
            c = scale(c, 0.8f + 0.2f * edge_ramp(edge - 1.5f, 4.0f));
            c = mix(c, joint, clamp01(2.0f - edge));
            px[(size_t)y * w + x] = store(c);
        }
}

// -- wood: a crate side, one face per repeat: dark frame, planks, a brace ----
float wood_grain(float u, float v, unsigned seed) {
    float warp = noise_fbm(u, v, 4, 4, seed);
    float rings = 0.5f + 0.5f * std::sin(two_pi * (v * 24.0f + warp * 3.0f));
    return rings * rings;
}

void paint_wood(Rgba8* px, int w, int h) {
    const Colour light = {184, 132, 76}, dark = {122, 80, 42}, gap = {40, 26, 14};
    const float frame = 0.11f;  // frame width, in face widths
    const int planks = 4;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            float u = (x + 0.5f) / w, v = (y + 0.5f) / h;
            float border = std::fmin(std::fmin(u, 1.0f - u), std::fmin(v, 1.0f - v));
            int in_frame = border < frame;
            float brace_distance = std::fabs(u - (1.0f - v)) * 0.7071f;  // bottom-left to top-right
            int in_brace = !in_frame && brace_distance < frame * 0.6f;
            Colour c;
            float line = 1.0f;  // darkening at board edges
            if (in_frame) {
                // horizontal boards along top and bottom, vertical ones at the sides
                int horizontal = std::fmin(v, 1.0f - v) < std::fmin(u, 1.0f - u);
                float g = horizontal ? wood_grain(v * 0.5f, u, 41) : wood_grain(u * 0.5f, v + 0.37f, 42);
                c = mix(dark, light, 0.25f + 0.5f * g);
                c = scale(c, 0.8f);
                line = edge_ramp(frame - border, 1.5f / w) * edge_ramp(border, 1.5f / w);
            } else if (in_brace) {
                float g = wood_grain(u - v, u + v, 43);
                c = mix(dark, light, 0.35f + 0.55f * g);
                c = scale(c, 0.9f);
                line = edge_ramp(frame * 0.6f - brace_distance, 1.2f / w);
            } else {
                float t = (v - frame) / (1.0f - 2.0f * frame) * planks;
                int plank = (int)t;
                float g = wood_grain(u, v + 0.13f * plank, 44 + plank);
                c = mix(dark, light, 0.45f + 0.5f * g);
                c = scale(c, 0.9f + 0.15f * cell_random(plank, 0, 45));
                float f = t - plank;
                line = edge_ramp(std::fmin(f, 1.0f - f) * (1.0f - 2.0f * frame) * h / planks, 1.5f);
            }
            c = scale(c, 0.85f + 0.15f * noise_fbm(u, v, 32, 3, 46));
            c = mix(gap, c, 0.25f + 0.75f * line);
            // nail heads at the frame's corners and middles
            for (int k = 0; k < 9; k++) {
                if (k == 4) continue;
                float nu = frame * 0.5f + (k % 3) * (0.5f - frame * 0.5f);
                float nv = frame * 0.5f + (k / 3) * (0.5f - frame * 0.5f);
                float d = std::hypot(u - nu, v - nv) * w;
                if (d < 2.6f) c = mix(Colour{70, 70, 74}, Colour{150, 150, 156}, clamp01(1.0f - d / 2.6f));
            }
            px[(size_t)y * w + x] = store(c);
        }
}

// -- marble: white with soft grey-green veins ---------------------------------
void paint_marble(Rgba8* px, int w, int h) {
    const Colour white = {228, 224, 214}, vein = {88, 100, 92};
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            float u = (x + 0.5f) / w, v = (y + 0.5f) / h;
            float turbulence = noise_fbm(u, v, 4, 6, 51);
            float s = std::sin(two_pi * (2.0f * u + 1.0f * v + 2.5f * turbulence));
            float veins = std::pow(1.0f - std::fabs(s), 10.0f);
            float fine = std::pow(1.0f - std::fabs(std::sin(two_pi * (3.0f * u - 2.0f * v + 3.0f * noise_fbm(u, v, 8, 4, 52)))), 30.0f);
            Colour c = scale(white, 0.9f + 0.1f * noise_fbm(u, v, 16, 3, 53));
            c = mix(c, vein, 0.75f * veins + 0.35f * fine);
            px[(size_t)y * w + x] = store(c);
        }
}

// -- gold: the marker star ----------------------------------------------------
void paint_gold(Rgba8* px, int w, int h) {
    const Colour deep = {168, 110, 24}, bright = {255, 214, 96};
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            float u = (x + 0.5f) / w, v = (y + 0.5f) / h;
            float sheen = 0.5f + 0.5f * std::sin(two_pi * (u + v + 0.6f * noise_fbm(u, v, 4, 3, 61)));
            Colour c = mix(deep, bright, 0.3f + 0.7f * sheen);
            c = scale(c, 0.9f + 0.15f * noise_fbm(u, v, 16, 3, 62));
            px[(size_t)y * w + x] = store(c);
        }
}

// -- studio floor: 8 x 8 mid-grey tiles per repeat, fine light joints --------
void paint_studio(Rgba8* px, int w, int h) {
    const int tiles = 8;
    const Colour grey = {150, 148, 142}, joint = {172, 170, 164};
    const float cell_w = (float)w / tiles, cell_h = (float)h / tiles;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            float u = (x + 0.5f) / w, v = (y + 0.5f) / h;
            int tx = x * tiles / w, ty = y * tiles / h;
            float dx = std::fmin(x + 0.5f - tx * cell_w, (tx + 1) * cell_w - x - 0.5f);
            float dy = std::fmin(y + 0.5f - ty * cell_h, (ty + 1) * cell_h - y - 0.5f);
            Colour c = scale(grey, 0.94f + 0.08f * cell_random(tx, ty, 71));
            c = scale(c, 0.9f + 0.2f * noise_fbm(u, v, 16, 4, 72));
            c = mix(c, joint, clamp01(1.0f - std::fmin(dx, dy)));
            px[(size_t)y * w + x] = store(c);
        }
}

const ProceduralTexture studio = {"Ground", 256, 256, paint_studio};

const ProceduralTexture textures[] = {
    {"Floor", 256, 256, paint_floor},
    {"Brick", 256, 256, paint_brick},
    {"Stone", 256, 256, paint_stone},
    {"Wood", 256, 256, paint_wood},
    {"Marble", 256, 256, paint_marble},
    {"Gold", 64, 64, paint_gold},
};
const int texture_count = (int)(sizeof textures / sizeof textures[0]);
static_assert(sizeof textures / sizeof textures[0] == 6, "one row per demo material");

}  // namespace

float noise_fbm(float u, float v, int period, int octaves, unsigned seed) {
    float sum = 0.0f, amplitude = 0.5f, total = 0.0f;
    for (int o = 0; o < octaves; o++) {
        sum += amplitude * value_noise(u, v, period << o, seed + 101u * (unsigned)o);
        total += amplitude;
        amplitude *= 0.5f;
    }
    return sum / total;
}

const ProceduralTexture* procedural_studio() { return &studio; }

const ProceduralTexture* procedural_textures(int* count) {
    *count = texture_count;
    return textures;
}

const ProceduralTexture* procedural_find(const char* name) {
    for (const ProceduralTexture& t : textures)
        if (std::strcmp(t.name, name) == 0) return &t;
    return nullptr;
}
