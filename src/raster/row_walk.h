// The pieces the resolve passes, the fill routines and the views of a frame
// share: the row walk over a row set's visible spans, the 3 x 3 shadow test
// and darkening, and the vector fills' arithmetic for a single pixel.
// Internal to the rasterizer.
#pragma once

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <cstdint>
#include <cstring>

#include "raster/resolve.h"
#include "raster/span_pool.h"

namespace row_walk {

// The 3 x 3 identity test for the light-view position (sx, sy). The range
// test admits light pixels 2..width-2 and 2..height-2 only, so the
// neighbourhood never touches row or column 0 and every word read lies
// inside the buffer.
struct ShadowLookup {
    const uint32_t* buffer;  // shadow buffer
    int32_t stride;          // its row length
    uint32_t range_x;        // see ShadeState
    uint32_t range_y;
    uint32_t face_id;
    uint32_t own_patch;               // 0: the face alone lights; else the surface rule's patch
    const SurfacePatches* surface;    // the rule's tables when own_patch is not 0
};

// The light pixel under (sx, sy) in the buffer, or null when the range test
// fails (then the pixel is in shadow).
inline const uint32_t* light_pixel(const ShadowLookup& s, int32_t sx, int32_t sy) {
    uint32_t ix = (uint32_t)((sx >> 16) - 2), iy = (uint32_t)((sy >> 16) - 2);
    if (ix >= s.range_x || iy >= s.range_y) return nullptr;
    return s.buffer + (int32_t)(iy + 2) * s.stride + (int32_t)(ix + 2);
}

// Whether any of the nine words around c (c included) is id; c is a light
// pixel that passed the range test. Word by word: the oracle of the vector
// fill routines.
inline int neighbourhood_has_plain(const uint32_t* c, int32_t stride, uint32_t id) {
    const uint32_t* up = c - stride;
    const uint32_t* down = c + stride;
    return (up[-1] == id) | (up[0] == id) | (up[1] == id) | (c[-1] == id) | (c[0] == id) | (c[1] == id) |
           (down[-1] == id) | (down[0] == id) | (down[1] == id);
}

inline int neighbourhood_has(const uint32_t* c, int32_t stride, uint32_t id) {
#ifdef __SSE2__
    // The three rows as words -2..1 around the column, compared four at a
    // time; lanes 1..3 are the neighbourhood. Starting at -2 keeps every
    // read inside the buffer: columns from 0, rows from 1 to height - 1.
    const __m128i want = _mm_set1_epi32((int)id);
    const __m128i up = _mm_loadu_si128((const __m128i*)(c - stride - 2));
    const __m128i row = _mm_loadu_si128((const __m128i*)(c - 2));
    const __m128i down = _mm_loadu_si128((const __m128i*)(c + stride - 2));
    const __m128i found = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi32(up, want), _mm_cmpeq_epi32(row, want)),
                                       _mm_cmpeq_epi32(down, want));
    return (_mm_movemask_ps(_mm_castsi128_ps(found)) & 0xE) != 0;
#else
    return neighbourhood_has_plain(c, stride, id);
#endif
}

// The surface rule's second look at a light pixel c (one that passed the
// range test) whose neighbourhood lacks the face's own id: whether any of
// the nine words is a face of patch `own` (not 0) or of one of its
// neighbours. Runs only for pixels about to be shadowed, word by word.
inline int surface_has(const SurfacePatches* p, uint32_t own, const uint32_t* c, int32_t stride) {
    const uint32_t* near = p->near + p->near_start[own];
    const uint32_t* near_end = p->near + p->near_start[own + 1];
    uint32_t seen = 0;  // the last word looked up: a neighbourhood holds few faces
    for (int32_t dy = -1; dy <= 1; dy++)
        for (int32_t dx = -1; dx <= 1; dx++) {
            const uint32_t id = c[dy * stride + dx];
            if (id == seen || id >= p->id_count) continue;
            seen = id;
            const uint32_t patch = p->patch_of[id];
            if (patch == own) return 1;
            for (const uint32_t* n = near; n < near_end && *n <= patch; n++)
                if (*n == patch) return 1;
        }
    return 0;
}

// The surface rule's look at light pixel c, one the 3 x 3 test left dark:
// 0 without the rule.
inline int surface_at(const ShadowLookup& s, const uint32_t* c) {
    return s.own_patch && surface_has(s.surface, s.own_patch, c, s.stride);
}

// lit() for a pixel the 3 x 3 test left dark, at light position (sx, sy).
inline int surface_lit(const ShadowLookup& s, int32_t sx, int32_t sy) {
    const uint32_t* c = s.own_patch ? light_pixel(s, sx, sy) : nullptr;
    return c && surface_at(s, c);
}

inline int lit(const ShadowLookup& s, int32_t sx, int32_t sy) {
    const uint32_t* c = light_pixel(s, sx, sy);
    if (!c) return 0;
    if (c[0] == s.face_id) return 1;  // the common case for a lit pixel
    return neighbourhood_has(c, s.stride, s.face_id) || surface_at(s, c);
}

inline int lit_plain(const ShadowLookup& s, int32_t sx, int32_t sy) {
    const uint32_t* c = light_pixel(s, sx, sy);
    return c && (c[0] == s.face_id || neighbourhood_has_plain(c, s.stride, s.face_id) || surface_at(s, c));
}

// 1 when none of `count` pixels from light position (sx, sy), stepping by
// (dsx, dsy), can be lit: every word the 3 x 3 test could read for them lies
// outside its light row's lit columns (shade->lit_columns, not null), where
// the cone has cleared the shadow buffer. Positions step evenly, so the
// pixels' columns and rows lie between those of the first and the last;
// rows off the buffer hold no neighbourhood of a pixel that passes the range
// test. Sums that would wrap are left to the test.
inline int light_footprint_dark(const ShadeState* shade, int32_t sx, int32_t dsx, int32_t sy, int32_t dsy,
                                int32_t count) {
    const int64_t x_end = (int64_t)sx + (int64_t)(count - 1) * dsx, y_end = (int64_t)sy + (int64_t)(count - 1) * dsy;
    if (x_end != (int32_t)x_end || y_end != (int32_t)y_end) return 0;
    const int32_t x0 = sx >> 16, x1 = (int32_t)x_end >> 16, y0 = sy >> 16, y1 = (int32_t)y_end >> 16;
    const int32_t left = (x0 < x1 ? x0 : x1) - 1, right = (x0 < x1 ? x1 : x0) + 1;
    const int32_t top = (y0 < y1 ? y0 : y1) - 1, bottom = (y0 < y1 ? y1 : y0) + 1;
    const int32_t* lit = shade->lit_columns;
    for (int32_t y = top > 0 ? top : 0; y <= bottom && y < shade->height; y++)
        if (right >= lit[2 * y] && left < lit[2 * y + 1]) return 0;
    return 1;
}

inline ShadowLookup shadow_lookup(const ShadeState* shade) {
    return ShadowLookup{shade->shadow_buffer, shade->width, shade->shadow_range_x, shade->shadow_range_y,
                        shade->face_id, shade->own_patch, shade->surface};
}

// A shadowed colour: each channel times the factor / 256, rounded down, top
// byte cleared. Red and blue share one multiply: with a factor of at most
// 256 neither product reaches the other's bits.
inline uint32_t darken(uint32_t colour, uint32_t factor) {
    return ((((colour & 0x00FF00FFu) * factor) >> 8) & 0x00FF00FFu) |
           ((((colour & 0x0000FF00u) * factor) >> 8) & 0x0000FF00u);
}

// A colour's channels times the bilinear weight w (0..63) / 64, each
// rounded down: the shade table's entry at step w. Red and blue (0x00RR00BB)
// share one multiply; each product stays below 2^14, so after the shift
// only red's dropped low bits lie between the two, and the mask clears them.
inline uint32_t shade_term(uint32_t colour, uint32_t w) {
    return ((((colour & 0x00FF00FFu) * w) >> 6) & 0x00FF00FFu) | ((((colour >> 8) & 0xFFu) * w) >> 6) << 8;
}

// One pixel of the vector bilinear fills in scalar words: the texel index
// as they work it out, the four weights from the engine's table (the plain
// fills' index: fraction of v * 64 + fraction of u), each colour of the
// level's colour pairs weighted as shade_term does, then the 3 x 3 test.
// A fill of one pixel (the tips of triangles, most spans of small ones)
// costs this instead of a whole vector block.
inline uint32_t bilinear_pixel(const ShadeState* shade, int32_t u, int32_t v, int32_t sx, int32_t sy) {
    const uint32_t base =
        ((uint32_t)(v >> shade->v_shift) & (uint32_t)shade->v_mask) + ((uint32_t)(u >> 16) & (uint32_t)shade->u_mask);
    const uint32_t w = shade->weights[((uint32_t)(v >> 4) & 0xFC0u) | ((uint32_t)(u >> 10) & 63u)];
    const uint32_t* top = shade->colours + base;
    const uint32_t* bottom = top + shade->row_length;
    const uint32_t colour = shade_term(top[0], w & 0xFFu) + shade_term(top[1], (w >> 8) & 0xFFu) +
                            shade_term(bottom[0], (w >> 16) & 0xFFu) + shade_term(bottom[1], w >> 24);
    return lit(shadow_lookup(shade), sx, sy) ? colour : darken(colour, shade->shadow_factor);
}

// The columns [a, b) a span writes: a at least 0; b the span's end, or
// width - 1 when the span reaches beyond the screen.
inline void clamp_columns(const SpanNode* span, int32_t width, int32_t* a, int32_t* b) {
    *a = span->x_left < 0 ? 0 : span->x_left;
    *b = span->x_right > width ? width - 1 : span->x_right;
}

// The row walk's step shared by both resolve passes, for the visible span
// at position i of `count`: 1 when it overlaps its successor. The walk is a
// pointer chase through nodes spread over the pool, so the span after next
// is fetched while this one is drawn.
inline int look_ahead(const SpanNode* span, int32_t i, int32_t count) {
    if (i + 2 < count) span_prefetch_pair(span->next->next);
    return i + 1 < count && span->x_right > span->next->x_left;
}

// Zero-fills the columns from *covered up to x, if any, and moves *covered
// there. Spans are drawn in list order and *covered is the furthest column
// any of them reached, so these pixels are ones no span draws: this is the
// buffer clear, done only where nothing else is written.
inline void clear_up_to(uint32_t* line, int32_t* covered, int32_t x) {
    if (x > *covered) {
        std::memset(line + *covered, 0, (size_t)(x - *covered) * 4);
        *covered = x;
    }
}

// The row walk both resolves share: every visible span of every row of the
// set, in list order, clamped to the screen; draw(span, a, b, line) writes
// the columns [a, b) of a span and says whether it drew them. Columns no
// span drew are cleared.
template <class DrawSpan>
void resolve_rows(const SpanRows* rows, uint32_t* buffer, int32_t width, ResolveCounts* counts, DrawSpan draw) {
    int32_t total = 0, overlaps = 0;
    for (int32_t r = 0; r < rows->row_count; r++) {
        const ScanlineSpanList* row = &rows->lists[r];
        uint32_t* line = buffer + (size_t)(rows->first_row + r) * (size_t)width;
        int32_t covered = 0;  // every column left of this has been written
        const SpanNode* span = row->first;
        for (int32_t i = 0; i < row->active_count; i++, span = span->next) {
            overlaps += look_ahead(span, i, row->active_count);
            int32_t a, b;
            clamp_columns(span, width, &a, &b);
            if (a >= b) continue;
            if (!draw(span, a, b, line)) continue;
            clear_up_to(line, &covered, a);  // left of the span: columns [covered, a) no span drew
            if (b > covered) covered = b;
        }
        clear_up_to(line, &covered, width);
        total += row->active_count;
    }
    *counts = ResolveCounts{total, overlaps};
}

}  // namespace row_walk
