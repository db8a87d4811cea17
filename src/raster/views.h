// Pictures of what a frame is made of, drawn from its own rows and buffers:
// the camera pass's visible spans, the light's id buffer, the texture level
// each pixel was shaded from and the shadow test's verdict. Each is an
// ordinary screen-sized 0x00RRGGBB picture, drawn by routines of its own
// after the frame, so the fills never test for them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "raster/resolve.h"
#include "raster/span_pool.h"

struct RgbImage;

// What the shadow test decided for a pixel, as the `shadow` view shows it.
enum : uint32_t {
    VIEW_NOTHING = 0x000000,      // no span drew the pixel
    VIEW_LIT = 0xFFE080,          // the light saw the pixel's own face within one pixel
    VIEW_NOT_FOUND = 0x3050D0,    // the light saw other faces there: shadowed by them
    VIEW_OUTSIDE = 0x901818,      // outside the cone, off the light's view or behind the light
};

// A colour for a key (a face id, or a face id and a span's place in its
// row): a hash spread over the colours whose channels are all at least 48,
// so it is never black and rarely dark.
uint32_t view_colour(uint32_t key);

// Every visible span of the set's rows in a colour of its own: its face's
// view_colour at a brightness from 5/8 to 1 hashed from its order (its row
// and its place in the row), so that faces, rows, span ends and the cuts
// between faces all show. A span whose colour would equal its left
// neighbour's takes another brightness, so every span is a run of its own.
// Black where no span is.
void view_spans(const SpanRows* rows, uint32_t* out, int32_t width);
// The texture level each span was shaded from: its x level as red and its
// y level as green, level 0 darkest (VIEW_LEVEL_STEP more per level, 255
// from level 7 on), over a blue of 80; black where no textured span is.
enum : uint32_t { VIEW_LEVEL_STEP = 42, VIEW_LEVEL_BLUE = 80 };
void view_levels(const SpanRows* rows, uint32_t* out, int32_t width);
// The shadow test's verdict for every pixel the camera resolve shades: the
// same spans, coordinates and test, with fill_verdict in place of the
// texture fill. `state` is begun with the frame's shadow buffer; `cone` is
// the cone mask the frame applied (low byte below 120: outside), or null.
void view_shadow(const SpanRows* rows, uint32_t* out, ShadeState* state, const RgbImage* cone);
// The light's ids: view_colour of every face id, black for 0.
void view_ids(const uint32_t* shadow_buffer, uint32_t* out, size_t pixels);

// The fill view_shadow shades with: for every pixel, instead of a colour, a
// verdict code: lit, no light position (out of range), or the light-view
// pixel index where the face was looked for and not found.
void fill_verdict(const ShadeState* state, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                  int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last);
