// Views of a frame; views.h states what each shows.
#include "raster/views.h"

#include "raster/screen.h"
#include "raster/row_walk.h"
#include "texture/cone.h"
#include "texture/texture.h"

using namespace row_walk;

namespace {

// fill_verdict's codes: the tag in the top two bits, below it the
// light-view pixel index of a face looked for and not found (screens up to
// 2^30 pixels; the largest is 7680 x 4320, about 2^25). 0 stays "no span
// here", as the resolve writes it.
const uint32_t verdict_tag_shift = 30;
const uint32_t verdict_missed = 1u << verdict_tag_shift;
const uint32_t verdict_lit = 2u << verdict_tag_shift;
const uint32_t verdict_outside = 3u << verdict_tag_shift;
const uint32_t verdict_index_mask = (1u << verdict_tag_shift) - 1;

// Each channel times k / 256.
uint32_t scale_colour(uint32_t c, uint32_t k) {
    return (((c >> 16 & 0xFFu) * k >> 8) << 16) | (((c >> 8 & 0xFFu) * k >> 8) << 8) | ((c & 0xFFu) * k >> 8);
}

// 0 for level 0, VIEW_LEVEL_STEP more per level, 255 from level 7 on.
uint32_t level_ramp(int32_t level) { return level >= 7 ? 255u : (uint32_t)level * VIEW_LEVEL_STEP; }

// A state that loads span textures as the camera resolve does, for views
// that need to know which spans it shades.
ShadeState texture_state() {
    const ShadeSettings none = {nullptr, 0, fill_each_run<fill_nearest>, nullptr, nullptr};
    const Screen no_light_view = {};  // nothing is looked up in a shadow buffer
    ShadeState state;
    shade_begin(&state, &none, &no_light_view);
    return state;
}

}  // namespace

uint32_t view_colour(uint32_t key) {
    uint32_t x = key * 0x9E3779B1u;  // a multiplicative hash, then two xor-shift rounds
    x ^= x >> 15;
    x *= 0x85EBCA77u;
    x ^= x >> 13;
    uint32_t r = 48 + (((x >> 16) & 0xFFu) * 208 >> 8);
    uint32_t g = 48 + (((x >> 8) & 0xFFu) * 208 >> 8);
    uint32_t b = 48 + ((x & 0xFFu) * 208 >> 8);
    return r << 16 | g << 8 | b;
}

void view_spans(const SpanRows* rows, uint32_t* out, int32_t width) {
    ResolveCounts counts;
    for (int32_t r = 0; r < rows->row_count; r++) {
        // One row at a time, so the place in the row and the left
        // neighbour's colour start afresh.
        SpanRows row = *rows;
        row.lists = &rows->lists[r];
        row.first_row = rows->first_row + r;
        row.row_count = 1;
        uint32_t order = (uint32_t)row.first_row << 12, left = 0;  // the row, and the place in it
        resolve_rows(&row, out, width, &counts, [&](const SpanNode* span, int32_t a, int32_t b, uint32_t* line) {
            const uint32_t face = view_colour(span->face_id);
            uint32_t brightness = view_colour(order++), colour;
            do colour = scale_colour(face, 160 + brightness++ % 96); while (colour == left);
            for (int32_t x = a; x < b; x++) line[x] = colour;
            left = colour;
            return 1;
        });
    }
}

void view_levels(const SpanRows* rows, uint32_t* out, int32_t width) {
    ShadeState state = texture_state();
    ResolveCounts counts;
    resolve_rows(rows, out, width, &counts, [&](const SpanNode* span, int32_t a, int32_t b, uint32_t* line) {
        if (!shade_span_prepare(&state, span)) return 0;  // the frame leaves it black too
        int32_t columns = span->shading->texture->level_count_x;
        uint32_t colour = level_ramp(span->shading->level_index % columns) << 16 |
                          level_ramp(span->shading->level_index / columns) << 8 | VIEW_LEVEL_BLUE;
        for (int32_t x = a; x < b; x++) line[x] = colour;
        return 1;
    });
}

void fill_verdict(const ShadeState* state, int32_t, int32_t, int32_t, int32_t, int32_t sx, int32_t dsx,
                  int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    const ShadowLookup lookup = shadow_lookup(state);
    do {
        uint32_t ix = (uint32_t)((sx >> 16) - 2), iy = (uint32_t)((sy >> 16) - 2);
        if (lit(lookup, sx, sy))
            *first = verdict_lit;
        else if (ix >= lookup.range_x || iy >= lookup.range_y)
            *first = verdict_outside;
        else
            *first = verdict_missed | (((iy + 2) * (uint32_t)lookup.stride + ix + 2) & verdict_index_mask);
        sx += dsx;
        sy += dsy;
    } while (++first < last);
}

void view_shadow(const SpanRows* rows, uint32_t* out, ShadeState* state, const RgbImage* cone) {
    state->fill = fill_each_run<fill_verdict>;
    ResolveCounts counts;
    resolve_camera_rows(rows, out, state, &counts);
    const size_t pixels = (size_t)state->width * (size_t)state->height;
    uint32_t* line = out + (size_t)rows->first_row * (size_t)state->width;
    for (size_t i = 0, n = (size_t)rows->row_count * (size_t)state->width; i < n; i++) {
        uint32_t code = line[i], tag = code & ~verdict_index_mask;
        if (tag == verdict_missed) {
            size_t at = code & verdict_index_mask;
            int outside = cone && at < pixels && (cone->pixels[at] & 0xFFu) < (uint32_t)CONE_THRESHOLD;
            line[i] = outside ? VIEW_OUTSIDE : VIEW_NOT_FOUND;
        } else {
            line[i] = tag == verdict_lit ? VIEW_LIT : tag == verdict_outside ? VIEW_OUTSIDE : VIEW_NOTHING;
        }
    }
}

void view_ids(const uint32_t* shadow_buffer, uint32_t* out, size_t pixels) {
    for (size_t i = 0; i < pixels; i++) out[i] = shadow_buffer[i] ? view_colour(shadow_buffer[i]) : 0;
}
