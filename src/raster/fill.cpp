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

#include "math/lanes.h"
#include "raster/row_walk.h"
#include "texture/texture.h"

using namespace row_walk;

namespace {

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
// texel pairs without masking. The pointers are copied out of the state
// before a loop: the pixels it writes could otherwise alias its fields.
struct BilinearSource {
    const uint8_t* texels;
    const uint8_t* below;      // texels + row length
    const uint32_t* shades;    // shade table
    const uint32_t* weights;   // four weights per word, W00 in the low byte
};

inline BilinearSource bilinear_source(const ShadeState* shade) {
    return BilinearSource{shade->texels, shade->texels + shade->row_length, shade->shade_table, shade->weights};
}

inline uint32_t bilinear_colour(const BilinearSource& s, uint32_t base, uint32_t f) {
    uint32_t w = s.weights[f];
    uint32_t top = texel_pair(s.texels + base), bottom = texel_pair(s.below + base);
    return s.shades[(top & 0xFFu) * SHADE_STEPS + (w & 0xFFu)] +
           s.shades[(top >> 8) * SHADE_STEPS + ((w >> 8) & 0xFFu)] +
           s.shades[(bottom & 0xFFu) * SHADE_STEPS + ((w >> 16) & 0xFFu)] +
           s.shades[(bottom >> 8) * SHADE_STEPS + (w >> 24)];
}

// Shadow pass over pixels a fill has just written: darkens every pixel whose
// light-view position (sx, sy, 16.16, stepped per pixel) does not find the
// span's face id in the 3 x 3 neighbourhood, nor (with the surface rule) a
// face of its patch or a neighbouring one. Word by word, no vector
// instructions: the oracle's.
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

namespace {

// The texture pass both plain fills share, a pixel at a time; colour(base,
// f) is the colour of a pixel from its texel index (0..last_texel) and its
// weight index (fraction of v * 64 + fraction of u).
template <class Colour>
inline void texture_plain(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, uint32_t* out,
                          uint32_t* last, Colour colour) {
    const uint32_t u_mask = (uint32_t)shade->u_mask, v_mask = (uint32_t)shade->v_mask;
    const int32_t v_shift = shade->v_shift;
    do {
        uint32_t base = ((uint32_t)(v >> v_shift) & v_mask) + ((uint32_t)(u >> 16) & u_mask);
        *out = colour(base, ((uint32_t)(v >> 4) & 0xFC0u) | ((uint32_t)(u >> 10) & 63u));
        u += du;
        v += dv;
    } while (++out < last);
}

}  // namespace

void fill_nearest(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                  int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    const uint8_t* texels = shade->texels;
    const uint32_t* shades = shade->shade_table + (SHADE_STEPS - 1);  // step 63 of index 0
    texture_plain(shade, u, du, v, dv, first, last,
                  [texels, shades](uint32_t base, uint32_t) { return shades[texels[base] * (uint32_t)SHADE_STEPS]; });
    shadow_pixels_plain(shade, sx, dsx, sy, dsy, first, last);
}

// Bilinear: the four texels around (u, v) weighted by the top six fraction
// bits of u and v. The right neighbour of a row's last texel is the next
// row's first; the bottom row wraps to the top.
void fill_bilinear(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                   int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    const BilinearSource source = bilinear_source(shade);
    texture_plain(shade, u, du, v, dv, first, last,
                  [source](uint32_t base, uint32_t f) { return bilinear_colour(source, base, f); });
    shadow_pixels_plain(shade, sx, dsx, sy, dsy, first, last);
}

// -- SSE2 -------------------------------------------------------------------------
//
// Two passes over the pixels, as the plain routines: the texture, then the
// shadow test. The texture pass works out the texel indices of four pixels
// at once, from u and v of pixels k .. k + 3 (u + k * du, exactly what k
// additions give: by the fill contract no partial sum leaves 32 bits; past
// the last pixel the lanes wrap, their indices are masked like any other
// and they are never stored), and reads the texels one by one. The shadow
// pass takes four pixels at a time where their light pixels lie in one row
// within four columns (most do), with one vector test for all four, and
// lit() (its 3 x 3 test three rows of four words at a time) pixel by pixel
// elsewhere.

#ifdef __SSE2__

namespace {

// The 3 x 3 test around each of the four words from `base` on, light
// pixels that passed the range test: bit q is whether the neighbourhood of
// base + q holds the face id. The centre words come first: where those the
// pixels use (bits in `used`) all are the id, nothing more is read and the
// result is 0xF (every pixel lit).
inline int near_hits4(const ShadowLookup& s, const uint32_t* base, int used) {
    const __m128i id = _mm_set1_epi32((int)s.face_id);
    __m128i any = _mm_cmpeq_epi32(_mm_loadu_si128((const __m128i*)base), id);
    if ((_mm_movemask_ps(_mm_castsi128_ps(any)) & used) == used) return 0xF;
    // The other eight words of each neighbourhood, four pixels to a load,
    // written out: a loop here cost twice the instructions.
    auto seen = [&](const uint32_t* at) { return _mm_cmpeq_epi32(_mm_loadu_si128((const __m128i*)at), id); };
    const uint32_t *up = base - s.stride, *down = base + s.stride;
    const __m128i above = _mm_or_si128(_mm_or_si128(seen(up - 1), seen(up)), seen(up + 1));
    const __m128i below = _mm_or_si128(_mm_or_si128(seen(down - 1), seen(down)), seen(down + 1));
    const __m128i beside = _mm_or_si128(seen(base - 1), seen(base + 1));
    any = _mm_or_si128(_mm_or_si128(any, beside), _mm_or_si128(above, below));
    return _mm_movemask_ps(_mm_castsi128_ps(any));
}

// darken() on four colours: each channel times a factor of at most 256
// fits 16 bits, so red and blue (0x00RR00BB) and green share 16-bit
// multiplies.
inline __m128i darken4(__m128i colour, uint32_t factor) {
    const __m128i low = _mm_set1_epi32(0x00FF00FF), byte = _mm_set1_epi32(0xFF), f = _mm_set1_epi16((short)factor);
    const __m128i rb = _mm_srli_epi16(_mm_mullo_epi16(_mm_and_si128(colour, low), f), 8);
    const __m128i g = _mm_srli_epi16(_mm_mullo_epi16(_mm_and_si128(_mm_srli_epi32(colour, 8), byte), f), 8);
    return _mm_or_si128(rb, _mm_slli_epi32(g, 8));
}

// Light-view positions step evenly and no partial sum leaves 32 bits, so
// the light pixels of four pixels in a row lie between those of the first
// and the last: when those two pass the range test in one row at most three
// columns apart, so do the middle two, and all four centres are among the
// four words from the lower end's. near_hits4 then reads up to the word
// below and right of that one + 3, which must lie in the buffer (its rows
// are the range's and three more).
inline __attribute__((always_inline)) void shadow_pixels(const ShadeState* shade, int32_t sx, int32_t dsx,
                                                         int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    const ShadowLookup lookup = shadow_lookup(shade);
    const uint32_t factor = shade->shadow_factor;
    // A run the cone leaves wholly dark is shadow without a lookup; the
    // test costs more than it saves in the eight-lane fills, which do not
    // ask it.
    if (shade->lit_columns && light_footprint_dark(shade, sx, dsx, sy, dsy, (int32_t)(last - first))) {
        for (; last - first >= 4; first += 4)
            _mm_storeu_si128((__m128i*)first, darken4(_mm_loadu_si128((const __m128i*)first), factor));
        for (; first < last; first++) *first = darken(*first, factor);
        return;
    }
    const int64_t last_base = ((int64_t)lookup.range_y + 2) * lookup.stride - 5;
    for (; last - first >= 4; first += 4) {
        const int32_t end_x = (int32_t)((uint32_t)sx + 3u * (uint32_t)dsx);
        const int32_t end_y = (int32_t)((uint32_t)sy + 3u * (uint32_t)dsy);
        // columns and the row less 2, as light_pixel tests them
        const uint32_t x0 = (uint32_t)((sx >> 16) - 2), x3 = (uint32_t)((end_x >> 16) - 2);
        const uint32_t y = (uint32_t)((sy >> 16) - 2);
        const uint32_t low = x0 < x3 ? x0 : x3, spread = x0 < x3 ? x3 - x0 : x0 - x3;
        const int64_t base = ((int64_t)y + 2) * lookup.stride + low + 2;
        if (y == (uint32_t)((end_y >> 16) - 2) && y < lookup.range_y && x0 < lookup.range_x &&
            x3 < lookup.range_x && spread <= 3 && base <= last_base) {
            const int hits = near_hits4(lookup, lookup.buffer + base, (2 << spread) - 1);
            // all four lit, or all four in shadow with no surface rule to look again
            if (hits == 0xF || (hits == 0 && !lookup.own_patch)) {
                if (!hits) _mm_storeu_si128((__m128i*)first, darken4(_mm_loadu_si128((const __m128i*)first), factor));
                sx = (int32_t)((uint32_t)sx + 4u * (uint32_t)dsx);
                sy = (int32_t)((uint32_t)sy + 4u * (uint32_t)dsy);
                continue;
            }
            // the four centres lie in this light row, from base on
            for (int k = 0; k < 4; k++, sx += dsx, sy += dsy) {
                const uint32_t at = (uint32_t)((sx >> 16) - 2) - low;
                if (!(hits >> at & 1) && !surface_at(lookup, lookup.buffer + base + at))
                    first[k] = darken(first[k], factor);
            }
            continue;
        }
        for (int k = 0; k < 4; k++, sx += dsx, sy += dsy)
            if (!lit(lookup, sx, sy)) first[k] = darken(first[k], factor);
    }
    for (; first < last; first++, sx += dsx, sy += dsy)
        if (!lit(lookup, sx, sy)) *first = darken(*first, factor);
}

// Stores lanes 0 .. count - 1 (count 1..3), two words and one at a time: a
// loop copying them became a call to memcpy.
inline void store_first4(uint32_t* out, __m128i pixels, long count) {
    if (count >= 2) {
        _mm_storel_epi64((__m128i*)out, pixels);
        if (count == 3) out[2] = (uint32_t)_mm_cvtsi128_si32(_mm_unpackhi_epi64(pixels, pixels));
    } else {
        *out = (uint32_t)_mm_cvtsi128_si32(pixels);
    }
}

inline __m128i lanes4(int32_t start, int32_t step) {
    const uint32_t a = (uint32_t)start, d = (uint32_t)step;
    return _mm_setr_epi32((int32_t)a, (int32_t)(a + d), (int32_t)(a + 2 * d), (int32_t)(a + 3 * d));
}

// The texture pass both SSE2 fills share; colours(base, us, vs) gives four
// pixels' colours from their texel indices and coordinates.
template <class Colours>
inline void texture_sse2(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, uint32_t* out,
                         uint32_t* last, Colours colours) {
    const __m128i u_mask = _mm_set1_epi32(shade->u_mask), v_mask = _mm_set1_epi32(shade->v_mask);
    const int32_t v_shift = shade->v_shift;
    __m128i us = lanes4(u, du), vs = lanes4(v, dv);
    const __m128i du4 = _mm_set1_epi32((int32_t)(4 * (uint32_t)du)), dv4 = _mm_set1_epi32((int32_t)(4 * (uint32_t)dv));
    alignas(16) int32_t base[4];
    for (;;) {
        _mm_store_si128((__m128i*)base, _mm_add_epi32(_mm_and_si128(lanes_shift_right(vs, v_shift), v_mask),
                                                      _mm_and_si128(_mm_srai_epi32(us, 16), u_mask)));
        const __m128i pixels = colours(base, us, vs);
        if (last - out < 4) {
            store_first4(out, pixels, last - out);
            return;
        }
        _mm_storeu_si128((__m128i*)out, pixels);
        if ((out += 4) == last) return;
        us = _mm_add_epi32(us, du4);
        vs = _mm_add_epi32(vs, dv4);
    }
}

// Each colour's channels times its weight / 64, rounded down: the shade
// table's entry at that step. Red and blue (0x00RR00BB) share one 16-bit
// multiply, green another; products stay below 2^14.
inline __m128i shade_terms4(__m128i colours, __m128i weights) {
    const __m128i low = _mm_set1_epi32(0x00FF00FF), byte = _mm_set1_epi32(0xFF);
    const __m128i rb = _mm_srli_epi16(_mm_mullo_epi16(_mm_and_si128(colours, low), weights), 6);
    const __m128i g = _mm_srli_epi16(_mm_mullo_epi16(_mm_and_si128(_mm_srli_epi32(colours, 8), byte), weights), 6);
    return _mm_or_si128(rb, _mm_slli_epi32(g, 8));
}

// The colour pairs (a texel and its right neighbour, one 8-byte read) at
// two texel indices.
inline __m128i pairs2(const uint32_t* row, int32_t first, int32_t second) {
    return _mm_unpacklo_epi64(_mm_loadl_epi64((const __m128i*)(row + first)),
                              _mm_loadl_epi64((const __m128i*)(row + second)));
}

inline __m128i in_both_halves(__m128i w) { return _mm_or_si128(w, _mm_slli_epi32(w, 16)); }

// The bilinear colours of four pixels, as bilinear_colour works them out
// from the shade table, from the level's colours: the upper pair at the
// texel index, the lower pair a row further (the wrap-around copy holds
// both for every index). The weights are worked out as build_filter_tables
// does (each rounded down, W00 the rest of 63; products fit 16 bits), in
// both 16-bit halves of their lane; the four weighted colours of a pixel
// add up without carries between channels.
inline __m128i bilinear4(const uint32_t* top, const uint32_t* bottom, const int32_t* base, __m128i us, __m128i vs) {
    const __m128i most = _mm_set1_epi32(63);
    const __m128i i = _mm_and_si128(_mm_srai_epi32(us, 10), most);  // top six fraction bits of u
    const __m128i j = _mm_and_si128(_mm_srai_epi32(vs, 10), most);  // and of v
    const __m128i right = _mm_srli_epi32(_mm_mullo_epi16(i, _mm_sub_epi32(most, j)), 6);
    const __m128i below = _mm_srli_epi32(_mm_mullo_epi16(j, _mm_sub_epi32(most, i)), 6);
    const __m128i below_right = _mm_srli_epi32(_mm_mullo_epi16(i, j), 6);
    const __m128i w00 = in_both_halves(_mm_sub_epi32(_mm_sub_epi32(most, right), _mm_add_epi32(below, below_right)));
    const __m128i w10 = in_both_halves(right), w01 = in_both_halves(below), w11 = in_both_halves(below_right);
    // pixels 0 and 1, then 2 and 3: each 64-bit lane holds one pixel's terms
    const __m128i a = _mm_add_epi32(shade_terms4(pairs2(top, base[0], base[1]), _mm_unpacklo_epi32(w00, w10)),
                                    shade_terms4(pairs2(bottom, base[0], base[1]), _mm_unpacklo_epi32(w01, w11)));
    const __m128i b = _mm_add_epi32(shade_terms4(pairs2(top, base[2], base[3]), _mm_unpackhi_epi32(w00, w10)),
                                    shade_terms4(pairs2(bottom, base[2], base[3]), _mm_unpackhi_epi32(w01, w11)));
    // add each pixel's two halves, keep the low words
    const __m128 sum_a = _mm_castsi128_ps(_mm_add_epi32(a, _mm_srli_epi64(a, 32)));
    const __m128 sum_b = _mm_castsi128_ps(_mm_add_epi32(b, _mm_srli_epi64(b, 32)));
    return _mm_castps_si128(_mm_shuffle_ps(sum_a, sum_b, _MM_SHUFFLE(2, 0, 2, 0)));
}

}  // namespace

void fill_nearest_sse2(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                       int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    const uint8_t* texels = shade->texels;
    const uint32_t* shades = shade->shade_table + (SHADE_STEPS - 1);
    texture_sse2(shade, u, du, v, dv, first, last, [texels, shades](const int32_t* base, __m128i, __m128i) {
        auto at = [&](int k) { return (int32_t)shades[texels[base[k]] * (uint32_t)SHADE_STEPS]; };
        return _mm_setr_epi32(at(0), at(1), at(2), at(3));
    });
    shadow_pixels(shade, sx, dsx, sy, dsy, first, last);
}

void fill_bilinear_sse2(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                        int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    if (last - first == 1) {
        *first = bilinear_pixel(shade, u, v, sx, sy);
        return;
    }
    const uint32_t* top = shade->colours;
    const uint32_t* bottom = top + shade->row_length;
    texture_sse2(shade, u, du, v, dv, first, last, [top, bottom](const int32_t* base, __m128i us, __m128i vs) {
        return bilinear4(top, bottom, base, us, vs);
    });
    shadow_pixels(shade, sx, dsx, sy, dsy, first, last);
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
