// Spotlight cone mask: the cone image resampled to exactly the screen size,
// and the same mask as runs of the columns outside the cone.
#pragma once

#include <cstdint>

#include "texture/image.h"

// A pixel whose mask byte (the low 8 bits) is below this lies outside the
// cone: the light records nothing there, so nothing there is lit.
enum { CONE_THRESHOLD = 120 };

// Returns an image of exactly target_width x target_height, or null when
// allocation fails (the input is then untouched). An image already of the
// target size is returned as it is; otherwise the input is released.
RgbImage* cone_mask_resample(RgbImage* image, int target_width, int target_height);

// The columns of every row whose mask byte is below CONE_THRESHOLD, as
// [left, right) runs from left to right. Clearing them is what testing every
// pixel against the mask gives, without reading the mask every frame.
struct ConeRuns {
    int32_t width;        // the mask's size
    int32_t height;
    int32_t lit_first;    // rows [lit_first, lit_end) hold every pixel the cone lets light
    int32_t lit_end;      // through; every other row is one dark run (equal: none is lit)
    int32_t* row_start;   // height + 1 entries: row y's runs are run pairs row_start[y] .. row_start[y + 1] - 1
    int32_t* runs;        // left, right, left, right, ...
    int32_t* lit_columns; // 2 * height: each row's first lit column and one past its last;
                          // a row without one has width, 0
};

// The runs of a mask; 1, or 0 when memory ran out (then nothing is held).
int cone_runs_build(const RgbImage* mask, ConeRuns* runs);
void cone_runs_free(ConeRuns* runs);  // safe on a zeroed or freed record
// Clears rows [first_row, first_row + row_count) of a buffer of the mask's
// size where the cone lets no light through.
void cone_runs_clear(const ConeRuns* runs, int32_t first_row, int32_t row_count, uint32_t* buffer);
// The rows [*first, *end) of a mask that hold every pixel it lets light
// through (what cone_runs_build keeps in lit_first and lit_end).
void cone_mask_lit_rows(const RgbImage* mask, int32_t* first, int32_t* end);
