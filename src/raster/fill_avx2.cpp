// The AVX2 fill routines: eight pixels at a time. Coordinates, texel and
// shade-table indices, bilinear weights, the shadow range test and the
// darkening are vector work; the bilinear texels and shade-table entries are
// read by gathers, the rest one by one (whichever measured faster).
// Only these functions are compiled for AVX2 (a target attribute, not a flag
// for the whole file), so nothing shared with other files, inline functions
// of headers included, can end up with AVX2 instructions; the engine calls
// them only where fill_avx2_supported() says the processor has AVX2.
//
// The fill contract is fill.cpp's. In a call of fewer than eight pixels the
// lanes past the last pixel hold wrapped coordinates: their texel indices
// are masked and their light pixels range-tested like any other, so they
// read nothing out of bounds, and they are never stored.
#include "raster/fill.h"

#include <cstdint>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))

#include <immintrin.h>

#include "raster/row_walk.h"
#include "texture/texture.h"

#define AVX2 __attribute__((target("avx2")))

using namespace row_walk;

namespace {

// What the eight-pixel steps need, set up once per call.
struct Fill8 {
    const uint8_t* texels;        // the level's palette indices
    int32_t row;                  // texels per row
    const uint32_t* shades;       // the shade table
    const uint32_t* shadow;       // shadow buffer; read only where the range test passes
    int32_t stride;               // its row length
    uint32_t face_id;
    __m256i u_mask, v_mask;
    __m128i v_shift;
    __m256i range_x, range_y;     // range - 2^31: an unsigned compare as a signed one
    __m256i stride8;
    __m256i factor;               // the shadow factor in every 16-bit lane
};

AVX2 inline Fill8 fill8_setup(const ShadeState* shade) {
    Fill8 f;
    f.texels = shade->texels;
    f.row = shade->row_length;
    f.shades = shade->shade_table;
    f.shadow = shade->shadow_buffer;
    f.stride = shade->width;
    f.face_id = shade->face_id;
    f.u_mask = _mm256_set1_epi32(shade->u_mask);
    f.v_mask = _mm256_set1_epi32(shade->v_mask);
    f.v_shift = _mm_cvtsi32_si128(shade->v_shift);
    f.range_x = _mm256_set1_epi32((int32_t)shade->shadow_range_x + INT32_MIN);
    f.range_y = _mm256_set1_epi32((int32_t)shade->shadow_range_y + INT32_MIN);
    f.stride8 = _mm256_set1_epi32(shade->width);
    f.factor = _mm256_set1_epi16((int16_t)shade->shadow_factor);
    return f;
}

// start + k * step in lane k: what k additions give, wrapping alike.
AVX2 inline __m256i lanes8(int32_t start, int32_t step) {
    return _mm256_add_epi32(_mm256_set1_epi32(start),
                            _mm256_mullo_epi32(_mm256_set1_epi32(step), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
}

AVX2 inline __m256i step8(int32_t step) { return _mm256_set1_epi32((int32_t)(8 * (uint32_t)step)); }

// Lane k of the result is all ones where bit k of `bits` is set.
AVX2 inline __m256i lane_mask8(int bits) {
    const __m256i lane = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    return _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(bits), lane), lane);
}

// The texel index (0..last_texel) of each lane.
AVX2 inline __m256i texel_index8(const Fill8& f, __m256i us, __m256i vs) {
    return _mm256_add_epi32(_mm256_and_si256(_mm256_sra_epi32(vs, f.v_shift), f.v_mask),
                            _mm256_and_si256(_mm256_srai_epi32(us, 16), f.u_mask));
}

// Shade step 63 of the texel under each lane. The texel and shade-table
// reads are one by one: for nearest they measured faster than two gathers.
AVX2 inline __m256i nearest8(const Fill8& f, __m256i us, __m256i vs) {
    alignas(32) int32_t base[8];
    alignas(32) uint32_t colour[8];
    _mm256_store_si256((__m256i*)base, texel_index8(f, us, vs));
    const uint32_t* shades = f.shades + (SHADE_STEPS - 1);
    for (int k = 0; k < 8; k++) colour[k] = shades[f.texels[base[k]] * (uint32_t)SHADE_STEPS];
    return _mm256_load_si256((const __m256i*)colour);
}

// The bilinear colour of each lane, as bilinear_colour in fill.cpp. The
// upper texel pair is the low half of 4 bytes read at the texel index, the
// lower pair the top half of 4 bytes read two before the texel below; with a
// level at least 2 texels wide both reads lie inside the texels and their
// wrap-around copy. The weights are worked out as build_filter_tables does
// (each rounded down, W00 the rest of 63; the products fit 16 bits) rather
// than read: a gather fewer.
AVX2 inline __m256i bilinear8(const Fill8& f, __m256i us, __m256i vs) {
    const __m256i base = texel_index8(f, us, vs);
    const __m256i top = _mm256_i32gather_epi32((const int*)f.texels, base, 1);
    const uint8_t* below = f.texels + f.row - 2;  // a 4-byte read here holds the lower pair in bits 16-31
    const __m256i bottom = _mm256_srli_epi32(_mm256_i32gather_epi32((const int*)below, base, 1), 16);
    const __m256i most = _mm256_set1_epi32(63);
    const __m256i i = _mm256_and_si256(_mm256_srai_epi32(us, 10), most);  // top six fraction bits of u
    const __m256i j = _mm256_and_si256(_mm256_srai_epi32(vs, 10), most);  // and of v
    const __m256i w10 = _mm256_srli_epi32(_mm256_mullo_epi16(i, _mm256_sub_epi32(most, j)), 6);
    const __m256i w01 = _mm256_srli_epi32(_mm256_mullo_epi16(j, _mm256_sub_epi32(most, i)), 6);
    const __m256i w11 = _mm256_srli_epi32(_mm256_mullo_epi16(i, j), 6);
    const __m256i w00 = _mm256_sub_epi32(_mm256_sub_epi32(most, w10), _mm256_add_epi32(w01, w11));
    // shade-table index: palette index * 64 + weight
    const __m256i low = _mm256_set1_epi32(0xFF), high = _mm256_set1_epi32(0xFF << 6);
    const __m256i i00 = _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(top, low), 6), w00);
    const __m256i i10 = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(top, 2), high), w10);
    const __m256i i01 = _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(bottom, low), 6), w01);
    const __m256i i11 = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(bottom, 2), high), w11);
    const int* shades = (const int*)f.shades;
    return _mm256_add_epi32(
        _mm256_add_epi32(_mm256_i32gather_epi32(shades, i00, 4), _mm256_i32gather_epi32(shades, i10, 4)),
        _mm256_add_epi32(_mm256_i32gather_epi32(shades, i01, 4), _mm256_i32gather_epi32(shades, i11, 4)));
}

// darken() on eight colours: each channel times a factor of at most 256 fits
// 16 bits, so red and blue (0x00RR00BB) and green share 16-bit multiplies.
AVX2 inline __m256i darken8(__m256i colour, __m256i factor) {
    const __m256i low = _mm256_set1_epi32(0x00FF00FF), byte = _mm256_set1_epi32(0xFF);
    __m256i rb = _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_and_si256(colour, low), factor), 8);
    __m256i g = _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi32(colour, 8), byte), factor), 8);
    return _mm256_or_si256(rb, _mm256_slli_epi32(g, 8));
}

// The shadow test of the lanes in `lanes` (a bit per lane): the range test
// and the buffer offsets for all eight at once, then each lane that passed
// looks at its centre word and, only when that is not the face id, at the
// rest of its neighbourhood. Lit and shadowed pixels come in long stretches,
// so these branches are well predicted; gathering the centre words measured
// slower.
AVX2 inline __m256i shadow8(const Fill8& f, __m256i colour, __m256i sxs, __m256i sys, int lanes) {
    const __m256i two = _mm256_set1_epi32(2), bias = _mm256_set1_epi32(INT32_MIN);
    const __m256i ix = _mm256_sub_epi32(_mm256_srai_epi32(sxs, 16), two);
    const __m256i iy = _mm256_sub_epi32(_mm256_srai_epi32(sys, 16), two);
    const __m256i in = _mm256_and_si256(_mm256_cmpgt_epi32(f.range_x, _mm256_xor_si256(ix, bias)),
                                        _mm256_cmpgt_epi32(f.range_y, _mm256_xor_si256(iy, bias)));
    const int inside = _mm256_movemask_ps(_mm256_castsi256_ps(in)) & lanes;
    int hits = 0;
    if (inside) {
        // (iy + 2) * stride + ix + 2 fits 32 bits for every lane that passed
        alignas(32) int32_t offset[8];
        _mm256_store_si256((__m256i*)offset, _mm256_add_epi32(_mm256_mullo_epi32(_mm256_add_epi32(iy, two), f.stride8),
                                                              _mm256_add_epi32(ix, two)));
        for (int k = 0; k < 8; k++) {
            if (!(inside >> k & 1)) continue;
            const uint32_t* c = f.shadow + offset[k];
            if (c[0] == f.face_id || neighbourhood_has(c, f.stride, f.face_id)) hits |= 1 << k;
        }
        if (hits == 0xFF) return colour;
    }
    return _mm256_blendv_epi8(darken8(colour, f.factor), colour, lane_mask8(hits));
}

// Stores lanes 0 .. count - 1 (count 1..7) without a masked store (slow on
// some processors): the first four or two lanes, then the last four or two
// moved down and stored over the end, writing some pixels twice with the
// same values.
AVX2 inline void store_first8(uint32_t* out, __m256i pixels, long count) {
    const __m128i low = _mm256_castsi256_si128(pixels);
    const __m256i from = _mm256_add_epi32(_mm256_set1_epi32((int32_t)count), _mm256_setr_epi32(-4, -3, -2, -1, 0, 0, 0, 0));
    if (count >= 4) {
        _mm_storeu_si128((__m128i*)out, low);
        _mm_storeu_si128((__m128i*)(out + count - 4), _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(pixels, from)));
    } else if (count >= 2) {
        _mm_storel_epi64((__m128i*)out, low);
        const __m256i last_two = _mm256_permutevar8x32_epi32(pixels, _mm256_add_epi32(from, _mm256_set1_epi32(2)));
        _mm_storel_epi64((__m128i*)(out + count - 2), _mm256_castsi256_si128(last_two));
    } else {
        *out = (uint32_t)_mm_cvtsi128_si32(low);
    }
}

template <int bilinear>
AVX2 inline __m256i pixels8(const Fill8& f, __m256i us, __m256i vs, __m256i sxs, __m256i sys, int lanes) {
    return shadow8(f, bilinear ? bilinear8(f, us, vs) : nearest8(f, us, vs), sxs, sys, lanes);
}

// Whole blocks of eight, then, for a count that is not a multiple of eight,
// the last eight pixels again as one block (the pixels it shares with the
// block before get the same values again); fewer than eight pixels are one
// block stored lane by lane.
template <int bilinear>
AVX2 inline void fill8(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                       int32_t dsx, int32_t sy, int32_t dsy, uint32_t* out, uint32_t* last) {
    const Fill8 f = fill8_setup(shade);
    const long count = last - out;
    __m256i us = lanes8(u, du), vs = lanes8(v, dv), sxs = lanes8(sx, dsx), sys = lanes8(sy, dsy);
    if (count < 8) {
        store_first8(out, pixels8<bilinear>(f, us, vs, sxs, sys, (1 << count) - 1), count);
        return;
    }
    const __m256i du8 = step8(du), dv8 = step8(dv), dsx8 = step8(dsx), dsy8 = step8(dsy);
    for (;;) {
        _mm256_storeu_si256((__m256i*)out, pixels8<bilinear>(f, us, vs, sxs, sys, 0xFF));
        out += 8;
        if (last - out < 8) break;
        us = _mm256_add_epi32(us, du8);
        vs = _mm256_add_epi32(vs, dv8);
        sxs = _mm256_add_epi32(sxs, dsx8);
        sys = _mm256_add_epi32(sys, dsy8);
    }
    if (out == last) return;
    // start + (count - 8) * step, as count - 8 additions give
    const uint32_t k = (uint32_t)(count - 8);
    us = lanes8((int32_t)((uint32_t)u + k * (uint32_t)du), du);
    vs = lanes8((int32_t)((uint32_t)v + k * (uint32_t)dv), dv);
    sxs = lanes8((int32_t)((uint32_t)sx + k * (uint32_t)dsx), dsx);
    sys = lanes8((int32_t)((uint32_t)sy + k * (uint32_t)dsy), dsy);
    _mm256_storeu_si256((__m256i*)(last - 8), pixels8<bilinear>(f, us, vs, sxs, sys, 0xFF));
}

}  // namespace

AVX2 void fill_nearest_avx2(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                            int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    fill8<0>(shade, u, du, v, dv, sx, dsx, sy, dsy, first, last);
}

// A level 1 texel wide has a wrap-around copy of 2 bytes, too short for the
// 4-byte reads of the texel pairs: the SSE2 routine shades it.
AVX2 void fill_bilinear_avx2(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                             int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    if (shade->row_length < 2) return fill_bilinear_sse2(shade, u, du, v, dv, sx, dsx, sy, dsy, first, last);
    fill8<1>(shade, u, du, v, dv, sx, dsx, sy, dsy, first, last);
}

int fill_avx2_supported() {
    __builtin_cpu_init();  // in case this runs before the run-time library has set its CPU record up
    return __builtin_cpu_supports("avx2");
}

#else  // not x86: the plain routines stand in, and are never chosen

void fill_nearest_avx2(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                       int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    fill_nearest(shade, u, du, v, dv, sx, dsx, sy, dsy, first, last);
}

void fill_bilinear_avx2(const ShadeState* shade, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                        int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    fill_bilinear(shade, u, du, v, dv, sx, dsx, sy, dsy, first, last);
}

int fill_avx2_supported() { return 0; }

#endif
