// Edge set-up: a projected polygon's two edge chains, the 16.16 edge
// positions polygon records keep and their walks step.
//
// Rows are sampled at integer y with no half-pixel offset: an edge from A
// down to B covers the rows A.y <= y < B.y, and a span covers the columns
// floor(left edge) <= x < floor(right edge). Edge x is carried in 16.16
// (math/fixed.h) and stepped with one addition per row.
#pragma once

#include <cmath>
#include <cstdint>

#include "math/clip.h"
#include "math/fixed.h"

struct Screen;

// One edge of a chain.
struct EdgeStep {
    int32_t x;      // 16.16, edge x at its first scanline
    int32_t y;      // first scanline, an integer row
    int32_t count;  // scanlines to walk on this edge
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
    int32_t first_row;     // ceil(min y): first row the polygon covers
    int32_t end_row;       // ceil(max y): one past the last row it covers
};

// std::ceil and std::floor through a truncation where that is exact
// (|x| < 2^23, which holds for every position on a screen), std::'s
// elsewhere; SSE2 has no rounding instruction of its own. A zero result may
// have the other sign; setup only compares, subtracts and converts them.
inline float setup_ceil(float x) {
    if (!(std::fabs(x) < FLOAT_WHOLE)) return std::ceil(x);
    float t = (float)(int32_t)x;
    return t < x ? t + 1.0f : t;
}

inline float setup_floor(float x) {
    if (!(std::fabs(x) < FLOAT_WHOLE)) return std::floor(x);
    float t = (float)(int32_t)x;
    return t > x ? t - 1.0f : t;
}

// Fills both chains from a projected polygon; 0 when it covers no integer
// row, or when a vertex lies off the screen or is not a finite number (the
// walk writes rows without bounds checks of its own).
int setup_edge_chains(const ClipPolygon* polygon, const Screen* screen, EdgeChains* chains);
// The same for a triangle v (only x and y are read) whose rows, ceil(y),
// are known already: the chains setup_edge_chains makes of it, each of its
// three edges worked out once.
int setup_triangle_chains(const ClipVertex v[3], const int32_t rows[3], const Screen* screen, EdgeChains* chains);
