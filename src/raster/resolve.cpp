// Resolve passes and camera-pass shading; resolve.h states the contracts.
#include "raster/resolve.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <cmath>
#include <cstdint>
#include <cstring>

#include "display/font.h"
#include "raster/engine.h"
#include "raster/row_walk.h"
#include "texture/texture.h"

const char* const WARNING_SPANS_OVERLAP = "Varnel narusen - prekreslovani !";
const char* const WARNING_OUT_OF_MEMORY = "Nedostatek pameti RAM !";

using namespace row_walk;

namespace {

const int32_t run_length = 16;               // pixels between exact divisions
const float texture_wrap = 1073741824.0f;    // 2^30: u, v are kept below this in magnitude
const float light_limit = 536870912.0f;      // 2^29: 8192 pixels, far off any light view
const int32_t warning_x = 50;
const int32_t overlap_warning_y = 20;
const int32_t memory_warning_y = 50;

// The span's texture level: checked and loaded unless the previous span of
// the pass used the same one (neighbouring spans mostly share a face's
// texture). 0 when the texture has no such level.
int load_level(ShadeState* shade, const Texture* t, int32_t level_index) {
    if (t && t == shade->loaded_texture && level_index == shade->loaded_level) return 1;
    shade->loaded_texture = nullptr;
    if (!t || !t->levels || !t->shade_table) return 0;
    if (t->level_count_x < 1 || t->level_count_x > 31 || t->level_count_y < 1 || t->level_count_y > 31)
        return 0;
    if (level_index < 0 || level_index >= t->level_count_x * t->level_count_y) return 0;
    const TextureLevel* level = &t->levels[level_index];
    if (!level->texels) return 0;
    shade->shade_table = t->shade_table;
    shade->texels = level->texels;
    shade->row_length = level->width;
    shade->u_mask = level->width_mask;
    shade->v_mask = level->last_row_offset;
    shade->v_shift = level->coord_shift & 31;
    shade->loaded_texture = t;
    shade->loaded_level = level_index;
    return 1;
}

// 16.16 texel coordinate, truncated; values beyond 2^30 in magnitude are
// reduced modulo 2^30, which keeps bits 16..29 and so the texel in any
// power-of-two level up to 16384 texels. Non-finite values give 0.
int32_t wrap_texture_coord(float t) {
    if (t > -texture_wrap && t < texture_wrap) return (int32_t)t;
    if (!std::isfinite(t)) return 0;
    return (int32_t)std::fmod((double)t, (double)texture_wrap);  // |t| >= 2^30: an integer, exact
}

int32_t light_coord(float offset, int32_t centre) {
    if (offset > -light_limit && offset < light_limit) return (int32_t)offset + centre;
    return SHADE_NO_LIGHT_POSITION;  // also NaN
}

int32_t run_step(int32_t start, int32_t end, int32_t pixels) {
    // Both ends lie in [-2^30, 2^30), so the difference fits 32 bits.
    return (end - start) / pixels;
}

// run_step for a remainder run of 1..15 pixels, by a double division: an
// integer division by a variable count takes several times longer, and
// four of them sit between every span end and its fill. Same result: the
// difference a and the count b are
// integers below 2^31, so a / b is either an integer, represented exactly,
// or at least 1/15 away from every integer, while the double quotient is
// within 2^-22 of it; truncation toward zero gives the same integer.
inline int32_t remainder_step(int32_t start, int32_t end, double pixels) {
    return (int32_t)((double)(end - start) / pixels);
}

// A shadowed colour: each channel times the factor / 256, rounded down, top
// byte cleared. Red and blue share one multiply: with a factor of at most
// 256 neither product reaches the other's bits.
inline uint32_t darken(uint32_t colour, uint32_t factor) {
    return ((((colour & 0x00FF00FFu) * factor) >> 8) & 0x00FF00FFu) |
           ((((colour & 0x0000FF00u) * factor) >> 8) & 0x0000FF00u);
}





// shade_coords, inlined into shade_span's run loop.
inline ShadeCoords coords_at(const ShadeState* shade, float w, float u_over_z, float v_over_z,
                             float lx_over_z, float ly_over_z, float lz_over_z) {
    ShadeCoords c;
    float scale = 65536.0f / w;
    c.u = wrap_texture_coord(scale * u_over_z);
    c.v = wrap_texture_coord(scale * v_over_z);
    if (lz_over_z > 0.0f) {  // in front of the light's eye plane (false for NaN)
        float k = shade->focal_fixed / lz_over_z;
        c.sx = light_coord(k * lx_over_z, shade->centre_x);
        c.sy = light_coord(k * ly_over_z, shade->centre_y);
    } else {
        c.sx = c.sy = SHADE_NO_LIGHT_POSITION;
    }
    return c;
}

// Shadow pass over pixels a fill has just written: darkens every pixel whose
// light-view position (sx, sy, 16.16, stepped per pixel) does not find the
// span's face id in the 3 x 3 neighbourhood. Kept apart from the texture loop
// so that each loop's state fits in registers.
inline void shadow_pixels(const ShadeState* shade, int32_t sx, int32_t dsx, int32_t sy, int32_t dsy,
                          uint32_t* first, uint32_t* last) {
    const ShadowLookup lookup = shadow_lookup(shade);
    const uint32_t factor = shade->shadow_factor;
    do {
        if (!lit(lookup, sx, sy)) *first = darken(*first, factor);
        sx += dsx;
        sy += dsy;
    } while (++first < last);
}

}  // namespace

void shade_begin(ShadeState* state, const ShadeSettings* settings, const Screen* screen) {
    *state = ShadeState{};
    state->shadow_buffer = settings->shadow_buffer;
    // Above 256 a channel would carry into its neighbour.
    int32_t factor = settings->shadow_factor;
    state->shadow_factor = (uint32_t)(factor < 0 ? 0 : factor > 256 ? 256 : factor);
    state->width = screen->width;
    state->height = screen->height;
    int usable = state->shadow_buffer && state->width >= 4 && state->height >= 4;
    state->shadow_range_x = usable ? (uint32_t)(state->width - 3) : 0;
    state->shadow_range_y = usable ? (uint32_t)(state->height - 3) : 0;
    state->centre_x = screen->centre_x * 65536;
    state->centre_y = screen->centre_y * 65536;
    state->focal_fixed = screen->focal_length * 65536.0f;
    state->fill = settings->fill;
    state->weights = engine_bilinear_weights_packed();
}

int shade_span_prepare(ShadeState* state, const SpanNode* span) {
    if (!load_level(state, span->texture, span->level_index)) return 0;
    state->d_w = span->d_inv_z;
    state->d_u = span->d_u_over_z;
    state->d_v = span->d_v_over_z;
    state->d_lx = span->d_lx_over_z;
    state->d_ly = span->d_ly_over_z;
    state->d_lz = span->d_lz_over_z;
    state->face_id = span->face_id;
    return 1;
}

ShadeCoords shade_coords(const ShadeState* state, float w, float u_over_z, float v_over_z,
                         float lx_over_z, float ly_over_z, float lz_over_z) {
    return coords_at(state, w, u_over_z, v_over_z, lx_over_z, ly_over_z, lz_over_z);
}

void shade_span(const ShadeState* shade, int32_t count, float w, float u_over_z, float v_over_z,
                float lx_over_z, float ly_over_z, float lz_over_z, uint32_t* destination) {
    if (count <= 0) return;
    const SpanFill fill = shade->fill;
    const float run = (float)run_length;
    ShadeCoords start = coords_at(shade, w, u_over_z, v_over_z, lx_over_z, ly_over_z, lz_over_z);
    while (count >= run_length) {
        w += run * shade->d_w;
        u_over_z += run * shade->d_u;
        v_over_z += run * shade->d_v;
        lx_over_z += run * shade->d_lx;
        ly_over_z += run * shade->d_ly;
        lz_over_z += run * shade->d_lz;
        ShadeCoords end = coords_at(shade, w, u_over_z, v_over_z, lx_over_z, ly_over_z, lz_over_z);
        fill(shade, start.u, run_step(start.u, end.u, run_length), start.v, run_step(start.v, end.v, run_length),
             start.sx, run_step(start.sx, end.sx, run_length), start.sy,
             run_step(start.sy, end.sy, run_length), destination, destination + run_length);
        start = end;
        destination += run_length;
        count -= run_length;
    }
    if (count > 0) {
        float r = (float)count;
        ShadeCoords end = coords_at(shade, w + r * shade->d_w, u_over_z + r * shade->d_u,
                                    v_over_z + r * shade->d_v, lx_over_z + r * shade->d_lx,
                                    ly_over_z + r * shade->d_ly, lz_over_z + r * shade->d_lz);
        double pixels = (double)count;
        fill(shade, start.u, remainder_step(start.u, end.u, pixels), start.v,
             remainder_step(start.v, end.v, pixels), start.sx, remainder_step(start.sx, end.sx, pixels),
             start.sy, remainder_step(start.sy, end.sy, pixels), destination, destination + count);
    }
}

// Fill contract (both routines): u, v are 16.16 texels of the loaded level,
// sx, sy 16.16 pixels of the light's view. shade_span keeps every start and
// end value in [-2^30, 2^30) and each step is (end - start) / pixels, so
// start + k * step stays between the two ends for every k up to the pixel
// count: no addition overflows. Texel indices are masked into the level
// (base <= last_texel; its neighbours lie in the level's wrap-around copy
// behind the last texel), so no read leaves the texel array whatever u and
// v hold. At least one pixel is written.
void fill_nearest(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                  int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    const uint8_t* texels = shade->texels;
    const uint32_t* shades = shade->shade_table + (SHADE_STEPS - 1);  // step 63 of index 0
    const uint32_t u_mask = (uint32_t)shade->u_mask, v_mask = (uint32_t)shade->v_mask;
    const int32_t v_shift = shade->v_shift;
    uint32_t* out = first;
    do {
        uint32_t base = ((uint32_t)(v >> v_shift) & v_mask) + ((uint32_t)(u >> 16) & u_mask);
        *out = shades[texels[base] * (uint32_t)SHADE_STEPS];
        u += du;
        v += dv;
    } while (++out < last);
    shadow_pixels(shade, sx, dsx, sy, dsy, first, last);
}

// Two neighbouring texels in one read: texel i in bits 0-7, texel i + 1 in 8-15.
inline uint32_t texel_pair(const uint8_t* at) {
    uint16_t pair;
    std::memcpy(&pair, at, 2);
    return pair;
}

// Bilinear: the four texels around (u, v) weighted by the top six fraction
// bits of u and v; the weights of one pixel add up to 63, so the sum of four
// shade-table entries never carries between channels. The right neighbour
// of a row's last texel is the next row's first; the bottom row wraps to the
// top. The level's wrap-around copy behind its last texel (texture_finish)
// makes texels[base + 1], texels[base + row] and texels[base + row + 1]
// those wrapped neighbours for every base up to the last texel, so the two
// rows are read as two texel pairs without masking.
//
// Where SSE2 is present (every x86-64) the texel index and the weight index
// are worked out for four pixels at once, from u and v of pixels k .. k + 3
// (u + k * du, exactly what k additions give: by the fill contract no
// partial sum leaves 32 bits), and the four texels and shade entries of
// each pixel are then read one by one.
void fill_bilinear(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                   int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    const uint8_t* texels = shade->texels;
    const uint8_t* below = texels + shade->row_length;
    const uint32_t* shades = shade->shade_table;
    const uint32_t* weights = shade->weights;  // four weights per word, W00 in the low byte
    // The colour of one pixel from its texel index (masked to 0..last_texel)
    // and its weight index (fraction of v * 64 + fraction of u).
    auto colour = [&](uint32_t base, uint32_t f) {
        uint32_t w = weights[f];
        uint32_t top = texel_pair(texels + base), bottom = texel_pair(below + base);
        return shades[(top & 0xFFu) * SHADE_STEPS + (w & 0xFFu)] +
               shades[(top >> 8) * SHADE_STEPS + ((w >> 8) & 0xFFu)] +
               shades[(bottom & 0xFFu) * SHADE_STEPS + ((w >> 16) & 0xFFu)] +
               shades[(bottom >> 8) * SHADE_STEPS + (w >> 24)];
    };
    uint32_t* out = first;
#ifdef __SSE2__
    const __m128i u_mask = _mm_set1_epi32(shade->u_mask), v_mask = _mm_set1_epi32(shade->v_mask);
    const __m128i v_shift = _mm_cvtsi32_si128(shade->v_shift);
    const __m128i u_fraction = _mm_set1_epi32(63), v_fraction = _mm_set1_epi32(0xFC0);
    const uint32_t u0 = (uint32_t)u, v0 = (uint32_t)v, du0 = (uint32_t)du, dv0 = (uint32_t)dv;
    __m128i us = _mm_setr_epi32((int)u0, (int)(u0 + du0), (int)(u0 + 2 * du0), (int)(u0 + 3 * du0));
    __m128i vs = _mm_setr_epi32((int)v0, (int)(v0 + dv0), (int)(v0 + 2 * dv0), (int)(v0 + 3 * dv0));
    const __m128i du4 = _mm_set1_epi32((int)(4 * du0)), dv4 = _mm_set1_epi32((int)(4 * dv0));
    alignas(16) uint32_t base[4], f[4];
    for (;;) {
        _mm_store_si128((__m128i*)base, _mm_add_epi32(_mm_and_si128(_mm_sra_epi32(vs, v_shift), v_mask),
                                                      _mm_and_si128(_mm_srai_epi32(us, 16), u_mask)));
        _mm_store_si128((__m128i*)f, _mm_or_si128(_mm_and_si128(_mm_srai_epi32(vs, 4), v_fraction),
                                                  _mm_and_si128(_mm_srai_epi32(us, 10), u_fraction)));
        if (last - out < 4) {
            for (int k = 0; out < last; k++) *out++ = colour(base[k], f[k]);
            break;
        }
        out[0] = colour(base[0], f[0]);
        out[1] = colour(base[1], f[1]);
        out[2] = colour(base[2], f[2]);
        out[3] = colour(base[3], f[3]);
        out += 4;
        us = _mm_add_epi32(us, du4);
        vs = _mm_add_epi32(vs, dv4);
    }
#else
    const uint32_t u_mask = (uint32_t)shade->u_mask, v_mask = (uint32_t)shade->v_mask;
    const int32_t v_shift = shade->v_shift;
    do {
        uint32_t base = ((uint32_t)(v >> v_shift) & v_mask) + ((uint32_t)(u >> 16) & u_mask);
        *out = colour(base, ((uint32_t)(v >> 4) & 0xFC0u) | ((uint32_t)(u >> 10) & 63u));
        u += du;
        v += dv;
    } while (++out < last);
#endif
    shadow_pixels(shade, sx, dsx, sy, dsy, first, last);
}

void resolve_light_rows(const SpanRows* rows, uint32_t* shadow_buffer, int32_t width, ResolveCounts* counts) {
    resolve_rows(rows, shadow_buffer, width, counts,
                 [](const SpanNode* span, int32_t a, int32_t b, uint32_t* line) {
                     const uint32_t id = span->face_id;
                     for (int32_t x = a; x < b; x++) line[x] = id;
                     return 1;
                 });
}

void resolve_camera_rows(const SpanRows* rows, uint32_t* frame_buffer, ShadeState* state,
                         ResolveCounts* counts) {
    state->loaded_texture = nullptr;  // textures may have changed since the last pass
    resolve_rows(rows, frame_buffer, state->width, counts,
                 [state](const SpanNode* span, int32_t a, int32_t b, uint32_t* line) {
                     if (!shade_span_prepare(state, span)) return 0;
                     float column = (float)a;
                     shade_span(state, b - a, span->inv_z + column * span->d_inv_z,
                                span->u_over_z + column * span->d_u_over_z,
                                span->v_over_z + column * span->d_v_over_z,
                                span->lx_over_z + column * span->d_lx_over_z,
                                span->ly_over_z + column * span->d_ly_over_z,
                                span->lz_over_z + column * span->d_lz_over_z, line + a);
                     return 1;
                 });
}

uint32_t resolve_draw_warnings(int32_t overlaps, int out_of_memory, uint32_t* buffer) {
    uint32_t drawn = 0;
    if (overlaps > 0) {
        draw_text(WARNING_SPANS_OVERLAP, warning_x, overlap_warning_y, buffer);
        drawn |= RESOLVE_WARNING_OVERLAP;
    }
    if (out_of_memory) {
        draw_text(WARNING_OUT_OF_MEMORY, warning_x, memory_warning_y, buffer);
        drawn |= RESOLVE_WARNING_OUT_OF_MEMORY;
    }
    return drawn;
}
