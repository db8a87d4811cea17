// Polygon setup in its parts: the two 16.16 edge chains, the screen-space
// attribute planes and the texture level. emit_polygon_camera and
// emit_polygon_light (pipeline.h) are built from these; tests call them one
// by one and read the module's scratch records back.
#pragma once

#include <cstdint>

#include "math/clip.h"

struct Texture;

// One edge of a chain.
struct EdgeStep {
    int32_t x;      // 16.16, edge x at its first scanline
    int32_t y;      // first scanline, an integer row
    int32_t count;  // scanlines still to walk on this edge
    int32_t dx;     // 16.16, x step per scanline
};

enum { EDGE_CHAIN_MAX = 7 };  // a clipped polygon has at most 7 edges

// The left chain is filled top to bottom and walked forward from entry 0; the
// right chain is filled bottom to top and walked backward from its last entry.
struct EdgeChains {
    EdgeStep left[EDGE_CHAIN_MAX];
    EdgeStep right[EDGE_CHAIN_MAX];
    int32_t left_count;    // entries filled
    int32_t right_count;
    int32_t left_cursor;   // entry being walked
    int32_t right_cursor;
    int32_t first_row;     // ceil(min y): first row the polygon covers
    int32_t end_row;       // ceil(max y): one past the last row it covers
};

// An attribute that is affine in screen space: A(x, y) = at_origin + x * dx + y * dy.
struct PlaneGradient {
    float dx;         // per pixel column
    float dy;         // per scanline
    float at_origin;  // value at screen point (0, 0)
};

// W = 1/z; U, V = texel coordinates of the chosen level times W; LX, LY, LZ =
// light-view position times W. Each is divided by W per pixel when shaded.
struct PolygonGradients {
    PlaneGradient u;
    PlaneGradient v;
    PlaneGradient w;
    PlaneGradient lx;
    PlaneGradient ly;
    PlaneGradient lz;
};

// Fills both chains from a projected polygon; 0 when it covers no integer row,
// or when a vertex lies off the engine's screen or is not a finite number
// (the walk writes rows without bounds checks of its own).
int setup_edge_chains(const ClipPolygon* polygon);
// Edge from the upper vertex a to the lower vertex b covering the rows
// a.y <= y < b.y; 0 when it covers none (zero or negative count), and the
// entry is then not to be used.
int setup_edge(const ClipVertex* a, const ClipVertex* b, EdgeStep* edge);
// Planes of the six attributes from the first three vertices, with texel
// sizes tw x th of the chosen level; 0 when those vertices are collinear on
// screen.
int compute_gradients(const ClipPolygon* polygon, int32_t tw, int32_t th);
// Texels of level (0, 0) per screen pixel, as an area ratio (|T / S|).
float texel_area_ratio(const ClipPolygon* polygon, const Texture* texture);
// 0..9: every level quarters the texel area.
int select_texture_level(float ratio);

// The scratch records of the polygon being emitted.
const EdgeChains* polygon_setup_chains();
const PolygonGradients* polygon_setup_gradients();

// Grey checker used for faces without a material or without a texture:
// 8 x 8 texels at level (0, 0), three levels per axis. Built on first use in
// static storage, never freed.
Texture* pipeline_neutral_texture();
