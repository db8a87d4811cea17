// Spotlight cone mask: the cone image halved by box filtering while it is much
// larger than the screen, then sampled bilinearly to exactly the screen size.
#include "texture/cone.h"

#include <cstdlib>
#include <cstring>

namespace {

// Per-channel floor((a + b) / 2) of the three low bytes, with no carry from
// one channel into the next; bits 24-31 become 0.
uint32_t average(uint32_t a, uint32_t b) {
    return ((a & 0xFEFEFEu) >> 1) + ((b & 0xFEFEFEu) >> 1) + (a & b & 0x010101u);
}

int clamp_index(int i, int limit) { return i < limit ? i : limit - 1; }

}  // namespace

// The input is reduced in place: its width and height shrink but pixel
// (x, y) stays at y * stride + x with the row length it had on entry.
RgbImage* cone_mask_resample(RgbImage* image, int target_width, int target_height) {
    if (!image || !image->pixels || image->width < 1 || image->height < 1 || target_width < 1 ||
        target_height < 1)
        return nullptr;
    if (image->width == target_width && image->height == target_height) return image;

    RgbImage* result = (RgbImage*)std::malloc(sizeof(RgbImage));
    if (!result) return nullptr;
    result->pixels = (uint32_t*)std::malloc((size_t)target_width * (size_t)target_height * 4);
    if (!result->pixels) {
        std::free(result);
        return nullptr;
    }
    result->width = target_width;
    result->height = target_height;

    uint32_t* p = image->pixels;
    const size_t stride = (size_t)image->width;
    int width = image->width, height = image->height;

    // Column i is written after columns 2i and 2i + 1 have been read.
    while (1.5f * (float)target_width < (float)width) {
        for (int y = 0; y < height; y++) {
            uint32_t* row = p + (size_t)y * stride;
            for (int i = 0; i < width / 2; i++) row[i] = average(row[2 * i], row[2 * i + 1]);
        }
        width /= 2;
    }
    while (1.5f * (float)target_height < (float)height) {
        for (int j = 0; j < height / 2; j++) {
            uint32_t* out = p + (size_t)j * stride;
            const uint32_t* a = p + (size_t)(2 * j) * stride;
            const uint32_t* b = a + stride;
            for (int x = 0; x < width; x++) out[x] = average(a[x], b[x]);
        }
        height /= 2;
    }
    image->width = width;
    image->height = height;

    // Column by column, each row's source position stepped by single-precision
    // addition. The right and bottom neighbours are clamped to the last column
    // and row, so sampling never leaves the reduced image.
    const float sx = (float)width / (float)target_width;
    const float sy = (float)height / (float)target_height;
    float fx = 0.0f;
    for (int X = 0; X < target_width; X++, fx += sx) {
        const int ix = clamp_index((int)fx, width);
        const int ix1 = clamp_index((int)fx + 1, width);
        const float tx = fx - (float)(int)fx;  // fx >= 0: truncation is floor
        float fy = 0.0f;
        for (int Y = 0; Y < target_height; Y++, fy += sy) {
            const int iy = clamp_index((int)fy, height);
            const int iy1 = clamp_index((int)(fy + 1.0f), height);
            const float ty = fy - (float)(int)fy;
            const uint32_t c00 = p[(size_t)iy * stride + ix];
            const uint32_t c01 = p[(size_t)iy1 * stride + ix];
            const uint32_t c10 = p[(size_t)iy * stride + ix1];
            const uint32_t c11 = p[(size_t)iy1 * stride + ix1];
            const float w00 = (1.0f - tx) * (1.0f - ty), w01 = (1.0f - tx) * ty;
            const float w10 = tx * (1.0f - ty), w11 = tx * ty;
            uint32_t out = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                float v = (float)((c00 >> shift) & 0xFF) * w00;
                v += (float)((c01 >> shift) & 0xFF) * w01;
                v += (float)((c10 >> shift) & 0xFF) * w10;
                v += (float)((c11 >> shift) & 0xFF) * w11;
                // Weights sum to 1 up to rounding: keep the channel in 0..255.
                int c = v <= 0.0f ? 0 : v >= 255.0f ? 255 : (int)v;
                out |= (uint32_t)c << shift;
            }
            result->pixels[(size_t)Y * (size_t)target_width + X] = out;
        }
    }
    rgb_image_free(image);
    return result;
}

namespace {

int dark(const RgbImage* mask, size_t i) { return (mask->pixels[i] & 0xFFu) < (uint32_t)CONE_THRESHOLD; }

// Counts the dark runs of the mask, and stores them when `runs` has room.
size_t find_runs(const RgbImage* mask, int32_t* row_start, int32_t* runs) {
    size_t count = 0;
    for (int32_t y = 0; y < mask->height; y++) {
        if (row_start) row_start[y] = (int32_t)count;
        const size_t row = (size_t)y * (size_t)mask->width;
        for (int32_t x = 0; x < mask->width;) {
            if (!dark(mask, row + (size_t)x)) {
                x++;
                continue;
            }
            int32_t left = x;
            while (x < mask->width && dark(mask, row + (size_t)x)) x++;
            if (runs) runs[2 * count] = left, runs[2 * count + 1] = x;
            count++;
        }
    }
    if (row_start) row_start[mask->height] = (int32_t)count;
    return count;
}

}  // namespace

int cone_runs_build(const RgbImage* mask, ConeRuns* runs) {
    *runs = ConeRuns{};
    size_t count = find_runs(mask, nullptr, nullptr);
    runs->row_start = (int32_t*)std::malloc(((size_t)mask->height + 1) * sizeof(int32_t));
    runs->runs = (int32_t*)std::malloc((count ? 2 * count : 1) * sizeof(int32_t));
    runs->lit_columns = (int32_t*)std::malloc((mask->height ? 2 * (size_t)mask->height : 1) * sizeof(int32_t));
    if (!runs->row_start || !runs->runs || !runs->lit_columns) {
        cone_runs_free(runs);
        return 0;
    }
    find_runs(mask, runs->row_start, runs->runs);
    runs->width = mask->width;
    runs->height = mask->height;
    // Between a row's leading and trailing dark runs (when it has them).
    for (int32_t y = 0; y < mask->height; y++) {
        const int32_t first = runs->row_start[y], end = runs->row_start[y + 1];
        int32_t left = 0, right = mask->width;
        if (end > first && runs->runs[2 * first] == 0) left = runs->runs[2 * first + 1];
        if (end > first && runs->runs[2 * end - 1] == mask->width) right = runs->runs[2 * end - 2];
        runs->lit_columns[2 * y] = left;
        runs->lit_columns[2 * y + 1] = right;
    }
    cone_mask_lit_rows(mask, &runs->lit_first, &runs->lit_end);
    return 1;
}

void cone_mask_lit_rows(const RgbImage* mask, int32_t* first, int32_t* end) {
    auto dark_row = [mask](int32_t y) {
        const size_t row = (size_t)y * (size_t)mask->width;
        for (int32_t x = 0; x < mask->width; x++)
            if (!dark(mask, row + (size_t)x)) return false;
        return true;
    };
    int32_t a = 0, b = mask->height;
    while (a < b && dark_row(a)) a++;
    while (b > a && dark_row(b - 1)) b--;
    *first = a;
    *end = b;
}

void cone_runs_free(ConeRuns* runs) {
    std::free(runs->row_start);
    std::free(runs->runs);
    std::free(runs->lit_columns);
    *runs = ConeRuns{};
}

void cone_runs_clear(const ConeRuns* runs, int32_t first_row, int32_t row_count, uint32_t* buffer) {
    for (int32_t y = first_row; y < first_row + row_count; y++) {
        uint32_t* line = buffer + (size_t)y * (size_t)runs->width;
        for (int32_t r = runs->row_start[y]; r < runs->row_start[y + 1]; r++) {
            const int32_t left = runs->runs[2 * r], right = runs->runs[2 * r + 1];
            std::memset(line + left, 0, (size_t)(right - left) * 4);
        }
    }
}
