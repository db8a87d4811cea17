// The AVX2 fill routines: eight pixels at a time. Coordinates, texel
// indices, bilinear weights and shading, the shadow range test and the
// darkening are vector work; texels and shadow words are read one by one
// (gathers measured slower).
// Only these functions are compiled for AVX2 (a target attribute, not a flag
// for the whole file), so nothing shared with other files, inline functions
// of headers included, can end up with AVX2 instructions; the engine calls
// them only where fill_avx2_supported() says the processor has AVX2.
//
// The fill contract is fill.cpp's. A bilinear run of one pixel (as in the
// SSE2 fill) is bilinear_pixel, the same pixel in scalar words, which costs
// less than a block. In a run of fewer than eight pixels the lanes
// past the last pixel hold wrapped coordinates: their texel indices are
// masked and their light pixels range-tested like any other, so they read
// nothing out of bounds, and they are never stored.
#include "raster/fill.h"

#include <cstdint>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))

#include <immintrin.h>

#include "raster/row_walk.h"
#include "texture/texture.h"

#define AVX2 __attribute__((target("avx2")))

using namespace row_walk;

namespace {

// What the eight-pixel steps need, set up once per span (or batch of runs).
struct Fill8 {
    const uint8_t* texels;        // the level's palette indices
    const uint32_t* colours;      // and their colours
    int32_t row;                  // texels per row
    const uint32_t* shades;       // the shade table
    const uint32_t* shadow;       // shadow buffer; read only where the range test passes
    int32_t stride;               // its row length
    int32_t last_base;            // near_hits8's highest base: its reads end at the buffer's last word
    uint32_t face_id;
    uint32_t own_patch;           // the surface rule's patch; 0: the face alone lights
    const SurfacePatches* surface;
    __m256i u_mask, v_mask;
    __m128i v_shift;
    __m256i id;                   // face_id in every lane
    const __m256i* lanes;         // the pass's values, ShadeState::lanes
};

AVX2 inline Fill8 fill8_setup(const ShadeState* shade) {
    Fill8 f;
    f.texels = shade->texels;
    f.colours = shade->colours;
    f.row = shade->row_length;
    f.shades = shade->shade_table;
    f.shadow = shade->shadow_buffer;
    f.stride = shade->width;
    // The buffer's rows are the range's and three more: base + stride + 8
    // must lie in the last one.
    f.last_base = (int32_t)(shade->shadow_range_y + 2) * shade->width - 9;
    f.face_id = shade->face_id;
    f.own_patch = shade->own_patch;
    f.surface = shade->surface;
    f.u_mask = _mm256_set1_epi32(shade->u_mask);
    f.v_mask = _mm256_set1_epi32(shade->v_mask);
    f.v_shift = _mm_cvtsi32_si128(shade->v_shift);
    f.id = _mm256_set1_epi32((int32_t)shade->face_id);
    f.lanes = (const __m256i*)shade->lanes;
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

// Per 32-bit lane, its low 16-bit half in both halves (a byte shuffle).
alignas(32) const uint8_t low_half_twice[32] = {0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13,
                                               0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13};

// The bilinear weights of each lane, as build_filter_tables works them out
// (each rounded down, W00 the rest of 63; the products fit 16 bits), in
// both 16-bit halves of the lane: the six fraction bits are put in both
// halves first and every step works on the halves alike.
AVX2 inline void weights8(const Fill8& f, __m256i us, __m256i vs, __m256i* w00, __m256i* w10, __m256i* w01,
                          __m256i* w11) {
    const __m256i twice = _mm256_load_si256((const __m256i*)low_half_twice);
    const __m256i most = f.lanes[LANE_63_HALVES];
    const __m256i i = _mm256_shuffle_epi8(_mm256_srli_epi16(us, 10), twice);  // top six fraction bits of u
    const __m256i j = _mm256_shuffle_epi8(_mm256_srli_epi16(vs, 10), twice);  // and of v
    *w10 = _mm256_srli_epi16(_mm256_mullo_epi16(i, _mm256_sub_epi16(most, j)), 6);
    *w01 = _mm256_srli_epi16(_mm256_mullo_epi16(j, _mm256_sub_epi16(most, i)), 6);
    *w11 = _mm256_srli_epi16(_mm256_mullo_epi16(i, j), 6);
    *w00 = _mm256_sub_epi16(_mm256_sub_epi16(most, *w10), _mm256_add_epi16(*w01, *w11));
}

// Each colour's channels times its weight / 64, rounded down: what the
// shade table holds at that step. Red and blue (0x00RR00BB) share one 16-bit
// multiply, green another; products stay below 2^14.
AVX2 inline __m256i shade_terms8(const Fill8& f, __m256i colours, __m256i weights) {
    const __m256i low = f.lanes[LANE_RED_BLUE], byte = f.lanes[LANE_BYTE];
    const __m256i rb = _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_and_si256(colours, low), weights), 6);
    const __m256i g = _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi32(colours, 8), byte), weights), 6);
    return _mm256_or_si256(rb, _mm256_slli_epi32(g, 8));
}

// An 8-byte read of a texel's colour and its right neighbour's.
inline long long colour_pair(const uint32_t* at) {
    long long pair;
    std::memcpy(&pair, at, 8);
    return pair;
}

// The colour pairs at texel indices k, k + 1, k + 4 and k + 5 of `base`.
AVX2 inline __m256i pairs8(const uint32_t* row, const int32_t* base, int k) {
    return _mm256_setr_epi64x(colour_pair(row + base[k]), colour_pair(row + base[k + 1]), colour_pair(row + base[k + 4]),
                              colour_pair(row + base[k + 5]));
}

// The bilinear colour of each lane, as bilinear_colour in fill.cpp, from the
// level's colours: a texel and its right neighbour are one 8-byte read at
// the texel index, the lower pair one a row further (the wrap-around copy
// holds both for every index). Pixels 0, 1, 4, 5 and 2, 3, 6, 7 go
// together, the order in which unpacking interleaves each half's weights.
// The four weighted colours of a pixel add up without carries between
// channels, as the shade-table entries do.
AVX2 inline __m256i bilinear8(const Fill8& f, __m256i us, __m256i vs) {
    alignas(32) int32_t base[8];
    _mm256_store_si256((__m256i*)base, texel_index8(f, us, vs));
    __m256i w00, w10, w01, w11;
    weights8(f, us, vs, &w00, &w10, &w01, &w11);
    const uint32_t* top = f.colours;
    const uint32_t* bottom = f.colours + f.row;
    const __m256i a = _mm256_add_epi32(shade_terms8(f, pairs8(top, base, 0), _mm256_unpacklo_epi32(w00, w10)),
                                       shade_terms8(f, pairs8(bottom, base, 0), _mm256_unpacklo_epi32(w01, w11)));
    const __m256i b = _mm256_add_epi32(shade_terms8(f, pairs8(top, base, 2), _mm256_unpackhi_epi32(w00, w10)),
                                       shade_terms8(f, pairs8(bottom, base, 2), _mm256_unpackhi_epi32(w01, w11)));
    // each 64-bit lane holds a pixel's two halves: add them, keep the low words
    const __m256 sum_a = _mm256_castsi256_ps(_mm256_add_epi32(a, _mm256_srli_epi64(a, 32)));
    const __m256 sum_b = _mm256_castsi256_ps(_mm256_add_epi32(b, _mm256_srli_epi64(b, 32)));
    return _mm256_castps_si256(_mm256_shuffle_ps(sum_a, sum_b, _MM_SHUFFLE(2, 0, 2, 0)));
}

// darken() on eight colours: each channel times a factor of at most 256 fits
// 16 bits, so red and blue (0x00RR00BB) and green share 16-bit multiplies.
AVX2 inline __m256i darken8(const Fill8& f, __m256i colour) {
    const __m256i low = f.lanes[LANE_RED_BLUE], byte = f.lanes[LANE_BYTE], factor = f.lanes[LANE_FACTOR];
    __m256i rb = _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_and_si256(colour, low), factor), 8);
    __m256i g = _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi32(colour, 8), byte), factor), 8);
    return _mm256_or_si256(rb, _mm256_slli_epi32(g, 8));
}

// Lanes of the eight words from `at` on that are `id`.
AVX2 inline __m256i seen8(const uint32_t* at, __m256i id) {
    return _mm256_cmpeq_epi32(_mm256_loadu_si256((const __m256i*)at), id);
}

// The 3 x 3 test of the lanes in `inside`, whose centres lie at base + rel,
// rel 0..7 (a stretch of one light row, the usual case): lane q of `any`
// is whether the neighbourhood of word base + q holds the face id, from
// loads of eight words, which a permute by rel hands to each lane. The
// neighbourhood is one of offsets (the row above is -stride), as in the word
// by word test. Reads words base - stride - 1 .. base + stride + 8: the
// caller keeps them inside the buffer.
AVX2 inline int near_hits8(const Fill8& f, int32_t base, __m256i rel, int inside) {
    const __m256i id = f.id;
    const uint32_t* centre = f.shadow + base;
    // Most lit pixels see their face at the centre word itself.
    __m256i any = _mm256_cmpeq_epi32(_mm256_loadu_si256((const __m256i*)centre), id);
    int hits = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_permutevar8x32_epi32(any, rel))) & inside;
    if (hits == inside) return hits;
    // The other eight words of each neighbourhood, written out.
    const uint32_t *up = centre - f.stride, *down = centre + f.stride;
    const __m256i above = _mm256_or_si256(_mm256_or_si256(seen8(up - 1, id), seen8(up, id)), seen8(up + 1, id));
    const __m256i below =
        _mm256_or_si256(_mm256_or_si256(seen8(down - 1, id), seen8(down, id)), seen8(down + 1, id));
    const __m256i beside = _mm256_or_si256(seen8(centre - 1, id), seen8(centre + 1, id));
    any = _mm256_or_si256(_mm256_or_si256(any, beside), _mm256_or_si256(above, below));
    return _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_permutevar8x32_epi32(any, rel))) & inside;
}

// The surface rule's look at the lanes in `dark` (in range, their own id
// not found), whose light pixels lie at `offsets`: the lanes it lights.
// Out of line: only frames with the rule come here, and the fill's inner
// step stays as small as without it.
AVX2 __attribute__((noinline)) int surface_hits8(const Fill8& f, __m256i offsets, int dark) {
    alignas(32) int32_t offset[8];
    _mm256_store_si256((__m256i*)offset, offsets);
    int hits = 0;
    for (int k = 0; k < 8; k++)
        if (dark >> k & 1 && surface_has(f.surface, f.own_patch, f.shadow + offset[k], f.stride)) hits |= 1 << k;
    return hits;
}

// The shadow test of the lanes in `lanes` (a bit per lane): the range test
// and the buffer offsets for all eight at once. When the lanes that passed
// have their centres within eight words of the lower end's, near_hits8
// tests them together; otherwise each looks at its centre word and, only
// when that is not the face id, at the rest of its neighbourhood (lit and
// shadowed pixels come in long stretches, so these branches are well
// predicted; gathering the centre words measured slower).
template <int surface>
AVX2 inline __attribute__((always_inline)) __m256i shadow8(const Fill8& f, __m256i colour, __m256i sxs,
                                                           __m256i sys, int lanes) {
    const __m256i two = f.lanes[LANE_2], bias = f.lanes[LANE_SIGN];
    const __m256i ix = _mm256_sub_epi32(_mm256_srai_epi32(sxs, 16), two);
    const __m256i iy = _mm256_sub_epi32(_mm256_srai_epi32(sys, 16), two);
    const __m256i in = _mm256_and_si256(_mm256_cmpgt_epi32(f.lanes[LANE_RANGE_X], _mm256_xor_si256(ix, bias)),
                                        _mm256_cmpgt_epi32(f.lanes[LANE_RANGE_Y], _mm256_xor_si256(iy, bias)));
    const int inside = _mm256_movemask_ps(_mm256_castsi256_ps(in)) & lanes;
    int hits = 0;
    if (inside) {
        // (iy + 2) * stride + ix + 2 fits 32 bits for every lane that passed
        const __m256i offsets = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_add_epi32(iy, two), f.lanes[LANE_STRIDE]),
                                                 _mm256_add_epi32(ix, two));
        // Positions step evenly, so the lowest offset is mostly at one end;
        // where it is not, a lane lies below base and the block takes the loop.
        const int32_t first = _mm256_cvtsi256_si32(offsets), last = _mm256_extract_epi32(offsets, 7);
        const int32_t base = first < last ? first : last;
        const __m256i rel = _mm256_sub_epi32(offsets, _mm256_set1_epi32(base));
        const int near = _mm256_movemask_ps(_mm256_castsi256_ps(
            _mm256_cmpeq_epi32(_mm256_and_si256(rel, f.lanes[LANE_NOT_7]), _mm256_setzero_si256())));
        // base can come from a lane out of range: then only the bounds keep the reads in.
        if ((inside & ~near) == 0 && base > f.stride && base <= f.last_base) {
            hits = near_hits8(f, base, rel, inside);
        } else {
            alignas(32) int32_t offset[8];
            _mm256_store_si256((__m256i*)offset, offsets);
            for (int k = 0; k < 8; k++) {
                if (!(inside >> k & 1)) continue;
                const uint32_t* c = f.shadow + offset[k];
                if (c[0] == f.face_id || neighbourhood_has(c, f.stride, f.face_id)) hits |= 1 << k;
            }
        }
        if (hits == 0xFF) return colour;
        if (surface && (inside & ~hits)) hits |= surface_hits8(f, offsets, inside & ~hits);
    }
    const __m256i dark = darken8(f, colour);
    return hits ? _mm256_blendv_epi8(dark, colour, lane_mask8(hits)) : dark;  // a dark stretch needs no blend
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

template <int bilinear, int surface>
AVX2 inline __attribute__((always_inline)) __m256i pixels8(const Fill8& f, __m256i us, __m256i vs, __m256i sxs,
                                                           __m256i sys, int lanes) {
    return shadow8<surface>(f, bilinear ? bilinear8(f, us, vs) : nearest8(f, us, vs), sxs, sys, lanes);
}

// One run: whole blocks of eight, then, for a count that is not a multiple
// of eight, the last eight pixels again as one block (the pixels it shares
// with the block before get the same values again); fewer than eight pixels
// are one block stored lane by lane, and a bilinear pixel alone is
// bilinear_pixel.
template <int bilinear, int surface>
AVX2 inline __attribute__((always_inline)) void fill8_run(const Fill8& f, const ShadeState* shade, const FillRun& r,
                                                          uint32_t* out) {
    const int32_t u = r.u, du = r.du, v = r.v, dv = r.dv, sx = r.sx, dsx = r.dsx, sy = r.sy, dsy = r.dsy;
    const long count = r.count;
    if (bilinear && count == 1) {
        *out = bilinear_pixel(shade, u, v, sx, sy);
        return;
    }
    uint32_t* const last = out + count;
    __m256i us = lanes8(u, du), vs = lanes8(v, dv), sxs = lanes8(sx, dsx), sys = lanes8(sy, dsy);
    if (count < 8) {
        store_first8(out, pixels8<bilinear, surface>(f, us, vs, sxs, sys, (1 << count) - 1), count);
        return;
    }
    const __m256i du8 = step8(du), dv8 = step8(dv), dsx8 = step8(dsx), dsy8 = step8(dsy);
    for (;;) {
        _mm256_storeu_si256((__m256i*)out, pixels8<bilinear, surface>(f, us, vs, sxs, sys, 0xFF));
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
    _mm256_storeu_si256((__m256i*)(last - 8), pixels8<bilinear, surface>(f, us, vs, sxs, sys, 0xFF));
}

// A span's runs, the constants set up once. A span whose face the surface
// rule may light takes its own copy, so every other span's steps stay those
// of the plain test.
template <int bilinear, int surface>
AVX2 void fill8(const ShadeState* shade, const FillRun* runs, int32_t run_count, uint32_t* out) {
    const Fill8 f = fill8_setup(shade);
    for (const FillRun* r = runs; r < runs + run_count; out += r->count, r++)
        fill8_run<bilinear, surface>(f, shade, *r, out);
}

}  // namespace

AVX2 void fill_nearest_avx2(const ShadeState* shade, const FillRun* runs, int32_t run_count, uint32_t* first) {
    if (shade->own_patch)
        fill8<0, 1>(shade, runs, run_count, first);
    else
        fill8<0, 0>(shade, runs, run_count, first);
}

AVX2 void fill_bilinear_avx2(const ShadeState* shade, const FillRun* runs, int32_t run_count, uint32_t* first) {
    if (run_count == 1 && runs->count == 1) {  // a span of one pixel needs nothing set up
        *first = bilinear_pixel(shade, runs->u, runs->v, runs->sx, runs->sy);
        return;
    }
    if (shade->own_patch)
        fill8<1, 1>(shade, runs, run_count, first);
    else
        fill8<1, 0>(shade, runs, run_count, first);
}

int fill_avx2_supported() {
    __builtin_cpu_init();  // in case this runs before the run-time library has set its CPU record up
    return __builtin_cpu_supports("avx2");
}

#else  // not x86: the plain routines stand in, and are never chosen

void fill_nearest_avx2(const ShadeState* shade, const FillRun* runs, int32_t run_count, uint32_t* first) {
    fill_each_run<fill_nearest>(shade, runs, run_count, first);
}

void fill_bilinear_avx2(const ShadeState* shade, const FillRun* runs, int32_t run_count, uint32_t* first) {
    fill_each_run<fill_bilinear>(shade, runs, run_count, first);
}

int fill_avx2_supported() { return 0; }

#endif
