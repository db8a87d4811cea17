// The two resolve passes and camera-pass shading.
//
// The light resolve writes the face id of every visible span into the shadow
// buffer; the camera resolve shades every visible span into the frame buffer
// with its texture and the 3 x 3 shadow test. Both write every pixel of the
// rows they resolve (0 where no span is), so the buffers need no clearing,
// and both work on one row set, so several sets can be resolved at once.
//
// Shading divides exactly only every 16 pixels and at span ends; in between
// the texture coordinates (u, v, 16.16 texels of the span's level) and the
// light-view coordinates (sx, sy, 16.16 pixels of the light's view) are
// stepped as 32-bit integers by the selected fill routine.
#pragma once

#include <cstdint>

#include "raster/fill.h"
#include "raster/span_pool.h"

struct Texture;
struct Screen;

// The smooth-surface rule, for models made of many small faces. The light
// sees a smooth surface at the id buffer's resolution: where its faces are
// small there, or seen edge on, the 3 x 3 neighbourhood of a pixel's
// light position often holds only neighbouring faces of the same surface,
// and the pixel would be shadowed though nothing stands between it and
// the light. So faces are grouped into patches: connected faces whose
// planes lie within a small angle of the patch's first face and whose
// centres lie near it. A pixel of a face that turns towards the light is
// lit too when the neighbourhood holds a face of its own patch or of a
// neighbouring patch of about the same orientation. Surfaces meeting at a
// crease and faces apart from each other are other patches, so an arm
// still shadows the body; a face that turns away from the light is dark
// as always, so the boundary of light and dark stays where the faces put
// it.
struct SurfacePatches {
    const uint32_t* patch_of;    // per face id: its patch, from 1; 0 for none
    uint32_t id_count;           // face ids below this have an entry
    const uint32_t* near_start;  // per patch p: near[near_start[p] .. near_start[p + 1]) are its neighbours
    const uint32_t* near;        // neighbouring patches that light like p itself, ascending
    const uint8_t* faced;        // per face id: faced_mark when the face turns towards the light this frame
    uint8_t faced_mark;
};

// What shading needs for a whole camera pass.
struct ShadeSettings {
    const uint32_t* shadow_buffer;  // face id per light-view pixel, screen-sized; null: nothing is lit
    int32_t shadow_factor;          // 256ths of each channel a shadowed pixel keeps, clamped to 0..256
    SpanFill fill;                  // select_span_fill: fill_bilinear, fill_nearest or a vector version
    const int32_t* lit_columns;     // null, or per light row the columns [2y], [2y + 1] outside which the
                                    // shadow buffer holds no face (the cone's lit columns)
    const SurfacePatches* surface;  // null: a pixel is lit by its own face only
};

// The rows of ShadeState::lanes.
enum ShadeLane {
    LANE_RANGE_X,  // shadow_range_x - 2^31: an unsigned compare as a signed one
    LANE_RANGE_Y,
    LANE_STRIDE,   // width
    LANE_FACTOR,   // shadow_factor in both 16-bit halves
    LANE_63_HALVES,  // 63 in both 16-bit halves
    LANE_RED_BLUE,  // 0x00FF00FF
    LANE_BYTE,      // 0xFF
    LANE_2,
    LANE_SIGN,      // 2^31
    LANE_NOT_7,     // ~7
    SHADE_LANE_ROWS
};

// Everything the fill routines read: the pass's settings and the span being
// shaded (gradients, face id, texture level). One per thread.
struct ShadeState {
    // set per pass by shade_begin
    const uint32_t* shadow_buffer;  // null: nothing is lit
    uint32_t shadow_factor;         // 0..256
    int32_t width;                  // screen size; also the shadow buffer's row length
    int32_t height;
    uint32_t shadow_range_x;        // light column ix passes when ix - 2 < this (2..width-2)
    uint32_t shadow_range_y;        // likewise for rows; both 0 without a shadow buffer
    int32_t centre_x;               // 16.16 light-view pixel of the view axis: (width / 2) << 16
    int32_t centre_y;
    float focal_fixed;              // focal_length * 65536
    SpanFill fill;
    const int32_t* lit_columns;     // see ShadeSettings
    const SurfacePatches* surface;  // see ShadeSettings
    const uint32_t* weights;        // bilinear weights, W00 | W10 << 8 | W01 << 16 | W11 << 24
                                    // (the engine's table, which the plain fills read; the
                                    // vector fills work the same ones out)
    // The pass's values each in all eight lanes of a row (the shadow factor
    // in all sixteen 16-bit halves), for the eight-lane fills to read as
    // they are rather than make again for every span: the range test's
    // bounds less 2^31, the row length, and the fills' constants.
    alignas(32) int32_t lanes[SHADE_LANE_ROWS][8];
    // set per span by shade_span_prepare
    float d_w;                      // per-column gradients of the six planes
    float d_u;
    float d_v;
    float d_lx;
    float d_ly;
    float d_lz;
    uint32_t face_id;               // the id that lights a pixel when found
    uint32_t own_patch;             // with the surface rule, the span's patch when its face turns
                                    // towards the light; 0: its own face alone lights it
    const uint32_t* shade_table;    // 64 steps per palette index
    const uint8_t* texels;          // palette indices of the span's level
    const uint32_t* colours;        // and their colours (TextureLevel::colours)
    int32_t row_length;             // texels per row
    int32_t u_mask;                 // width - 1
    int32_t v_mask;                 // width * (height - 1)
    int32_t v_shift;                // 16 - log2(width): 16.16 v to a row offset
    // the texture and level the fields above were checked and loaded for;
    // null before the first span of a pass and after a span without a
    // usable level
    const Texture* loaded_texture;
    int32_t loaded_level;
};

// Starts a pass: the settings plus the screen's size, centre and focal
// length, which the light's view shares with the camera's.
void shade_begin(ShadeState* state, const ShadeSettings* settings, const Screen* screen);
// Fills lanes from the pass's fields; shade_begin does, and so must whoever
// sets those fields otherwise.
void shade_fill_lanes(ShadeState* state);
// Loads what shading a span needs: its six gradients, its face id and its
// texture level (texels, shade table, masks). 0 when the span has no texture
// or its level_index names no level; nothing may then be shaded.
int shade_span_prepare(ShadeState* state, const SpanNode* span);
// Shades count pixels from destination on. The six floats are the span's
// plane values at the first pixel. Texture and light-view coordinates are
// divided exactly at the first pixel, after every run of 16 pixels and past
// the last pixel, and stepped linearly in 16.16 between.
void shade_span(const ShadeState* state, int32_t count, float w, float u_over_z, float v_over_z,
                float lx_over_z, float ly_over_z, float lz_over_z, uint32_t* destination);

// The four 16.16 coordinates shade_span computes exactly at a point of a
// span, with its out-of-range handling: u and v wrapped into (-2^30, 2^30)
// keeping their position within any power-of-two texture; sx and sy (light
// view pixels, centre added) set to SHADE_NO_LIGHT_POSITION when the point is
// at or behind the light's eye plane or lies more than 8192 pixels off the
// light's view. Every value lies in [-2^30, 2^30), so differences fit 32 bits.
struct ShadeCoords {
    int32_t u, v;    // 16.16 texels of the span's level
    int32_t sx, sy;  // 16.16 pixels of the light's view
};
enum : int32_t { SHADE_NO_LIGHT_POSITION = -1073741824 };  // -2^30: far off the light's view, shadowed
ShadeCoords shade_coords(const ShadeState* state, float w, float u_over_z, float v_over_z,
                         float lx_over_z, float ly_over_z, float lz_over_z);

// -- resolve passes ---------------------------------------------------------------
// What a resolve found in its rows.
struct ResolveCounts {
    int32_t spans;     // visible spans
    int32_t overlaps;  // neighbouring visible spans where the left one ends past the right one's start
};

// Writes every pixel of the set's rows of the shadow buffer (`width` words
// a row): the face id of the span seen there, 0 where there is none.
void resolve_light_rows(const SpanRows* rows, uint32_t* shadow_buffer, int32_t width, ResolveCounts* counts);
// Shades every visible span of the set's rows into the screen-sized frame
// buffer (0 where there is none), with a state begun for the pass.
void resolve_camera_rows(const SpanRows* rows, uint32_t* frame_buffer, ShadeState* state,
                         ResolveCounts* counts);

// Draws a pass's warnings into its buffer: the overlap warning at (50, 20)
// when any span overlapped, the memory warning at (50, 50) when a pool ran
// dry. Returns the RESOLVE_WARNING_* bits drawn.
enum { RESOLVE_WARNING_OVERLAP = 1, RESOLVE_WARNING_OUT_OF_MEMORY = 2 };
uint32_t resolve_draw_warnings(int32_t overlaps, int out_of_memory, uint32_t* buffer);

extern const char* const WARNING_SPANS_OVERLAP;  // "Varnel narusen - prekreslovani !"
extern const char* const WARNING_OUT_OF_MEMORY;  // "Nedostatek pameti RAM !"
