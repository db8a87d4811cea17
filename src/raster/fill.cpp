// The camera pass's fill routines: the plain versions (the oracle) and the
// SSE2 versions. fill_avx2.cpp has the AVX2 ones.
//
// Fill contract (every routine): u, v are 16.16 texels of the loaded level,
// sx, sy 16.16 pixels of the light's view. shade_span keeps every start and
// end value in [-2^30, 2^30) and each step is (end - start) / pixels, so
// start + k * step stays between the two ends for every k up to the pixel
// count: no addition overflows. Texel indices are masked into the level
// (base <= last_texel; its neighbours lie in the level's wrap-around copy
// behind the last texel), so no read leaves the texel array whatever u and
// v hold. At least one pixel is written, and none outside [first, last).
#include "raster/fill.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <cstdint>
#include <cstring>

#include "raster/row_walk.h"
#include "texture/texture.h"

using namespace row_walk;

namespace {

// A shadowed colour: each channel times the factor / 256, rounded down, top
// byte cleared. Red and blue share one multiply: with a factor of at most
// 256 neither product reaches the other's bits.
inline uint32_t darken(uint32_t colour, uint32_t factor) {
    return ((((colour & 0x00FF00FFu) * factor) >> 8) & 0x00FF00FFu) |
           ((((colour & 0x0000FF00u) * factor) >> 8) & 0x0000FF00u);
}

// Two neighbouring texels in one read: texel i in bits 0-7, texel i + 1 in 8-15.
inline uint32_t texel_pair(const uint8_t* at) {
    uint16_t pair;
    std::memcpy(&pair, at, 2);
    return pair;
}

// Bilinear colour of one pixel from its texel index (0..last_texel) and its
// weight index (fraction of v * 64 + fraction of u): four shade-table
// entries, weighted by the four weights of the entry, which add up to 63, so
// the sum never carries between channels. The level's wrap-around copy
// behind its last texel (texture_finish) makes texels[base + 1],
// texels[base + row] and texels[base + row + 1] the wrapped right, lower and
// lower-right neighbours for every base, so the two rows are read as two
// texel pairs without masking.
inline uint32_t bilinear_colour(const ShadeState* shade, uint32_t base, uint32_t f) {
    const uint32_t* shades = shade->shade_table;
    uint32_t w = shade->weights[f];  // W00 in the low byte
    uint32_t top = texel_pair(shade->texels + base), bottom = texel_pair(shade->texels + shade->row_length + base);
    return shades[(top & 0xFFu) * SHADE_STEPS + (w & 0xFFu)] +
           shades[(top >> 8) * SHADE_STEPS + ((w >> 8) & 0xFFu)] +
           shades[(bottom & 0xFFu) * SHADE_STEPS + ((w >> 16) & 0xFFu)] +
           shades[(bottom >> 8) * SHADE_STEPS + (w >> 24)];
}

// Shadow pass over pixels a plain fill has just written: darkens every pixel
// whose light-view position (sx, sy, 16.16, stepped per pixel) does not find
// the span's face id in the 3 x 3 neighbourhood.
void shadow_pixels_plain(const ShadeState* shade, int32_t sx, int32_t dsx, int32_t sy, int32_t dsy,
                         uint32_t* first, uint32_t* last) {
    const ShadowLookup lookup = shadow_lookup(shade);
    const uint32_t factor = shade->shadow_factor;
    do {
        if (!lit_plain(lookup, sx, sy)) *first = darken(*first, factor);
        sx += dsx;
        sy += dsy;
    } while (++first < last);
}

}  // namespace

// -- plain ------------------------------------------------------------------------

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
    shadow_pixels_plain(shade, sx, dsx, sy, dsy, first, last);
}

// Bilinear: the four texels around (u, v) weighted by the top six fraction
// bits of u and v. The right neighbour of a row's last texel is the next
// row's first; the bottom row wraps to the top.
void fill_bilinear(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                   int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    const uint32_t u_mask = (uint32_t)shade->u_mask, v_mask = (uint32_t)shade->v_mask;
    const int32_t v_shift = shade->v_shift;
    uint32_t* out = first;
    do {
        uint32_t base = ((uint32_t)(v >> v_shift) & v_mask) + ((uint32_t)(u >> 16) & u_mask);
        *out = bilinear_colour(shade, base, ((uint32_t)(v >> 4) & 0xFC0u) | ((uint32_t)(u >> 10) & 63u));
        u += du;
        v += dv;
    } while (++out < last);
    shadow_pixels_plain(shade, sx, dsx, sy, dsy, first, last);
}

// -- SSE2 -------------------------------------------------------------------------
//
// Four pixels at a time: u, v, sx and sy of pixels k .. k + 3 are the start
// plus k * step, exactly what k additions give (by the fill contract no
// partial sum leaves 32 bits; past the last pixel the lanes wrap, and
// their texel indices are masked and their light pixels range-tested like
// any other, so they read nothing out of bounds and are never stored). The
// texel and weight indices, the range test and the darkening are vector
// work; the texel, shade-table and shadow-buffer reads are one by one.

#ifdef __SSE2__

namespace {

// What the four-pixel shadow step needs, set up once per call.
struct Shadow4 {
    ShadowLookup lookup;
    __m128i range_x;  // range_x - 2^31: an unsigned compare as a signed one
    __m128i range_y;
    __m128i factor;   // the shadow factor in every 16-bit lane
};

inline Shadow4 shadow4_setup(const ShadeState* shade) {
    const int32_t bias = INT32_MIN;
    return Shadow4{shadow_lookup(shade), _mm_set1_epi32((int32_t)shade->shadow_range_x + bias),
                   _mm_set1_epi32((int32_t)shade->shadow_range_y + bias),
                   _mm_set1_epi16((int16_t)shade->shadow_factor)};
}

// darken() on four colours: each channel times a factor of at most 256 fits
// 16 bits, so red and blue (0x00RR00BB) and green share 16-bit multiplies.
inline __m128i darken4(__m128i colour, __m128i factor) {
    const __m128i low = _mm_set1_epi32(0x00FF00FF), byte = _mm_set1_epi32(0xFF);
    __m128i rb = _mm_srli_epi16(_mm_mullo_epi16(_mm_and_si128(colour, low), factor), 8);
    __m128i g = _mm_srli_epi16(_mm_mullo_epi16(_mm_and_si128(_mm_srli_epi32(colour, 8), byte), factor), 8);
    return _mm_or_si128(rb, _mm_slli_epi32(g, 8));
}

// Lane k of the result is all ones where bit k of `bits` is set.
inline __m128i lane_mask4(int bits) {
    const __m128i lane = _mm_setr_epi32(1, 2, 4, 8);
    return _mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(bits), lane), lane);
}

// The shadow test of the lanes in `lanes` (a bit per lane) at light-view
// positions sxs, sys: colour where lit, darkened elsewhere.
inline __m128i shadow4(const Shadow4& s, __m128i colour, __m128i sxs, __m128i sys, int lanes) {
    const __m128i two = _mm_set1_epi32(2), bias = _mm_set1_epi32(INT32_MIN);
    __m128i ix = _mm_sub_epi32(_mm_srai_epi32(sxs, 16), two), iy = _mm_sub_epi32(_mm_srai_epi32(sys, 16), two);
    __m128i in = _mm_and_si128(_mm_cmplt_epi32(_mm_xor_si128(ix, bias), s.range_x),
                               _mm_cmplt_epi32(_mm_xor_si128(iy, bias), s.range_y));
    int inside = _mm_movemask_ps(_mm_castsi128_ps(in)) & lanes, hits = 0;
    if (inside) {
        alignas(16) int32_t xs[4], ys[4];
        _mm_store_si128((__m128i*)xs, _mm_add_epi32(ix, two));
        _mm_store_si128((__m128i*)ys, _mm_add_epi32(iy, two));
        const uint32_t id = s.lookup.face_id;
        const int32_t stride = s.lookup.stride;
        for (int k = 0; k < 4; k++) {
            if (!(inside >> k & 1)) continue;
            const uint32_t* c = s.lookup.buffer + ys[k] * stride + xs[k];
            if (c[0] == id || neighbourhood_has(c, stride, id)) hits |= 1 << k;
        }
        if (hits == 0xF) return colour;
    }
    __m128i lit = lane_mask4(hits);
    return _mm_or_si128(_mm_and_si128(lit, colour), _mm_andnot_si128(lit, darken4(colour, s.factor)));
}

// Stores the first `count` (1..4) lanes.
inline void store4(uint32_t* out, __m128i pixels, long count) {
    if (count >= 4) {
        _mm_storeu_si128((__m128i*)out, pixels);
        return;
    }
    alignas(16) uint32_t lane[4];
    _mm_store_si128((__m128i*)lane, pixels);
    for (long k = 0; k < count; k++) out[k] = lane[k];
}

inline __m128i lanes4(int32_t start, int32_t step) {
    const uint32_t a = (uint32_t)start, d = (uint32_t)step;
    return _mm_setr_epi32((int32_t)a, (int32_t)(a + d), (int32_t)(a + 2 * d), (int32_t)(a + 3 * d));
}

// The routine both SSE2 fills share; colour4(base, f, out) writes the four
// texture colours for the texel indices and weight indices given.
template <class Colour4>
inline void fill_sse2(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                      int32_t dsx, int32_t sy, int32_t dsy, uint32_t* out, uint32_t* last, Colour4 colour4) {
    const __m128i u_mask = _mm_set1_epi32(shade->u_mask), v_mask = _mm_set1_epi32(shade->v_mask);
    const __m128i v_shift = _mm_cvtsi32_si128(shade->v_shift);
    const __m128i u_fraction = _mm_set1_epi32(63), v_fraction = _mm_set1_epi32(0xFC0);
    const Shadow4 shadow = shadow4_setup(shade);
    __m128i us = lanes4(u, du), vs = lanes4(v, dv), sxs = lanes4(sx, dsx), sys = lanes4(sy, dsy);
    const __m128i du4 = _mm_set1_epi32((int32_t)(4 * (uint32_t)du)), dv4 = _mm_set1_epi32((int32_t)(4 * (uint32_t)dv));
    const __m128i dsx4 = _mm_set1_epi32((int32_t)(4 * (uint32_t)dsx)), dsy4 = _mm_set1_epi32((int32_t)(4 * (uint32_t)dsy));
    alignas(16) uint32_t base[4], f[4], colour[4];
    for (;;) {
        _mm_store_si128((__m128i*)base, _mm_add_epi32(_mm_and_si128(_mm_sra_epi32(vs, v_shift), v_mask),
                                                      _mm_and_si128(_mm_srai_epi32(us, 16), u_mask)));
        _mm_store_si128((__m128i*)f, _mm_or_si128(_mm_and_si128(_mm_srai_epi32(vs, 4), v_fraction),
                                                  _mm_and_si128(_mm_srai_epi32(us, 10), u_fraction)));
        colour4(base, f, colour);
        const long left = last - out;
        __m128i pixels = shadow4(shadow, _mm_load_si128((const __m128i*)colour), sxs, sys,
                                 left >= 4 ? 0xF : (1 << left) - 1);
        store4(out, pixels, left);
        if (left <= 4) break;
        out += 4;
        us = _mm_add_epi32(us, du4);
        vs = _mm_add_epi32(vs, dv4);
        sxs = _mm_add_epi32(sxs, dsx4);
        sys = _mm_add_epi32(sys, dsy4);
    }
}

}  // namespace

void fill_nearest_sse2(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                       int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    const uint8_t* texels = shade->texels;
    const uint32_t* shades = shade->shade_table + (SHADE_STEPS - 1);
    fill_sse2(shade, u, du, v, dv, sx, dsx, sy, dsy, first, last,
              [texels, shades](const uint32_t* base, const uint32_t*, uint32_t* colour) {
                  for (int k = 0; k < 4; k++) colour[k] = shades[texels[base[k]] * (uint32_t)SHADE_STEPS];
              });
}

void fill_bilinear_sse2(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                        int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    fill_sse2(shade, u, du, v, dv, sx, dsx, sy, dsy, first, last,
              [shade](const uint32_t* base, const uint32_t* f, uint32_t* colour) {
                  for (int k = 0; k < 4; k++) colour[k] = bilinear_colour(shade, base[k], f[k]);
              });
}

int fill_sse2_supported() { return 1; }

#else  // no SSE2: the plain routines stand in

void fill_nearest_sse2(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                       int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    fill_nearest(shade, u, du, v, dv, sx, dsx, sy, dsy, first, last);
}

void fill_bilinear_sse2(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                        int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    fill_bilinear(shade, u, du, v, dv, sx, dsx, sy, dsy, first, last);
}

int fill_sse2_supported() { return 0; }

#endif
