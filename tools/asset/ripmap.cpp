#include "asset/ripmap.h"

#include <libimagequant.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

struct RipmapState {
    const char* error;  // reason for the last failure
};

RipmapState state = {"no error"};

int fail(const char* why) {
    state.error = why;
    return 0;
}

int log2_of(int n) {
    int k = 0;
    while ((1 << (k + 1)) <= n) k++;
    return k;
}

// Summed-area table with one zero row and column in front: entry (x, y) is
// the sum of every channel over base pixels [0, x) x [0, y).
struct SumTable {
    std::vector<uint64_t> sums;  // (width + 1) * (height + 1) * 4
    int stride;                  // width + 1
};

void sum_table_build(const Rgba8* base, int width, int height, SumTable* t) {
    t->stride = width + 1;
    t->sums.assign((size_t)(width + 1) * (height + 1) * 4, 0);
    for (int y = 0; y < height; y++) {
        uint64_t row[4] = {0, 0, 0, 0};
        for (int x = 0; x < width; x++) {
            const Rgba8& p = base[(size_t)y * width + x];
            row[0] += p.r;
            row[1] += p.g;
            row[2] += p.b;
            row[3] += p.a;
            uint64_t* above = &t->sums[((size_t)y * t->stride + x + 1) * 4];
            uint64_t* here = &t->sums[((size_t)(y + 1) * t->stride + x + 1) * 4];
            for (int c = 0; c < 4; c++) here[c] = above[c] + row[c];
        }
    }
}

// Rounded mean over [x0, x1) x [y0, y1).
Rgba8 sum_table_mean(const SumTable& t, int x0, int y0, int x1, int y1) {
    uint64_t area = (uint64_t)(x1 - x0) * (uint64_t)(y1 - y0);
    uint8_t out[4];
    for (int c = 0; c < 4; c++) {
        uint64_t s = t.sums[((size_t)y1 * t.stride + x1) * 4 + c] - t.sums[((size_t)y0 * t.stride + x1) * 4 + c] -
                     t.sums[((size_t)y1 * t.stride + x0) * 4 + c] + t.sums[((size_t)y0 * t.stride + x0) * 4 + c];
        out[c] = (uint8_t)((s + area / 2) / area);
    }
    return Rgba8{out[0], out[1], out[2], out[3]};
}

// One axis of image_resize: for output position i, the source samples and
// weights it takes. Shrinking covers the source interval [i s, (i + 1) s)
// with fractional end weights; growing interpolates between two neighbours.
struct Tap {
    int first;   // first source index
    int count;   // number of source samples, at least 1
    size_t w;    // index of the first weight in AxisTaps::weights
};

struct AxisTaps {
    std::vector<Tap> taps;       // one per output position
    std::vector<float> weights;  // each tap's weights add up to 1
};

void axis_taps(int src, int dst, AxisTaps* a) {
    double s = (double)src / dst;
    a->taps.resize((size_t)dst);
    a->weights.clear();
    for (int i = 0; i < dst; i++) {
        Tap& t = a->taps[(size_t)i];
        t.w = a->weights.size();
        if (s >= 1.0) {
            double lo_end = i * s, hi_end = (i + 1) * s;
            int first = (int)std::floor(lo_end);
            int last = std::min(src - 1, (int)std::ceil(hi_end) - 1);
            t.first = first;
            t.count = last - first + 1;
            for (int k = 0; k < t.count; k++) {
                double lo = std::max(lo_end, (double)(first + k)), hi = std::min(hi_end, (double)(first + k + 1));
                a->weights.push_back((float)((hi - lo) / s));
            }
        } else {
            double c = (i + 0.5) * s - 0.5;
            if (c < 0.0) c = 0.0;
            if (c > src - 1) c = src - 1;
            int x0 = (int)c;
            double f = c - x0;
            t.first = x0;
            t.count = x0 + 1 < src ? 2 : 1;
            a->weights.push_back((float)(t.count == 2 ? 1.0 - f : 1.0));
            if (t.count == 2) a->weights.push_back((float)f);
        }
    }
}

uint8_t to_byte(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 255.0f) return 255;
    return (uint8_t)(v + 0.5f);
}

}  // namespace

const char* ripmap_error() { return state.error; }

int is_power_of_two(int n) { return n > 0 && (n & (n - 1)) == 0; }

int ripmap_build(const Rgba8* base, int base_width, int base_height, std::vector<Rgba8>* atlas) {
    if (!is_power_of_two(base_width) || !is_power_of_two(base_height)) return fail("base size is not a power of two");
    if (base_width < RIPMAP_MIN_BASE || base_height < RIPMAP_MIN_BASE || base_width > RIPMAP_MAX_BASE ||
        base_height > RIPMAP_MAX_BASE)
        return fail("base size out of range");
    const int W = 2 * base_width, H = 2 * base_height;
    SumTable table;
    sum_table_build(base, base_width, base_height, &table);
    atlas->assign((size_t)W * H, sum_table_mean(table, 0, 0, base_width, base_height));
    const int levels_x = log2_of(W) - 1, levels_y = log2_of(H) - 1;
    for (int b = 0; b < levels_y; b++) {
        for (int a = 0; a < levels_x; a++) {
            const int x0 = W - (W >> a), y0 = H - (H >> b);
            const int w = W >> (a + 1), h = H >> (b + 1);
            for (int j = 0; j < h; j++)
                for (int i = 0; i < w; i++)
                    (*atlas)[(size_t)(y0 + j) * W + x0 + i] =
                        sum_table_mean(table, i << a, j << b, (i + 1) << a, (j + 1) << b);
        }
    }
    return 1;
}

int palette_quantise(const Rgba8* pixels, int width, int height, float dither, Rgba8* palette,
                     int* palette_count, std::vector<uint8_t>* indices) {
    liq_attr* attr = liq_attr_create();
    if (!attr) return fail("quantiser unavailable");
    liq_set_max_colors(attr, 256);
    liq_set_speed(attr, 3);
    liq_image* image = liq_image_create_rgba(attr, pixels, width, height, 0.0);
    liq_result* result = nullptr;
    int ok = image && liq_image_quantize(image, attr, &result) == LIQ_OK;
    if (ok) {
        liq_set_dithering_level(result, dither);
        indices->resize((size_t)width * height);
        ok = liq_write_remapped_image(result, image, indices->data(), indices->size()) == LIQ_OK;
    }
    if (ok) {
        const liq_palette* p = liq_get_palette(result);
        *palette_count = (int)p->count;
        for (unsigned i = 0; i < p->count; i++)
            palette[i] = Rgba8{p->entries[i].r, p->entries[i].g, p->entries[i].b, 255};
    }
    if (result) liq_result_destroy(result);
    if (image) liq_image_destroy(image);
    liq_attr_destroy(attr);
    return ok ? 1 : fail("quantisation failed");
}

int texture_encode(const Rgba8* base, int base_width, int base_height, ByteBuffer* out) {
    std::vector<Rgba8> atlas;
    if (!ripmap_build(base, base_width, base_height, &atlas)) return 0;
    Rgba8 palette[256];
    int palette_count = 0;
    std::vector<uint8_t> indices;
    const int W = 2 * base_width, H = 2 * base_height;
    if (!palette_quantise(atlas.data(), W, H, 0.5f, palette, &palette_count, &indices)) return 0;
    if (!tga_encode_indexed_rle(indices.data(), W, H, palette, palette_count, out)) return fail("TGA size limit");
    return 1;
}

int image_resize(const Rgba8* src, int src_width, int src_height, Rgba8* dst, int dst_width,
                 int dst_height) {
    if (src_width < 1 || src_height < 1 || dst_width < 1 || dst_height < 1 || src_width > 16384 ||
        src_height > 16384 || dst_width > 16384 || dst_height > 16384)
        return fail("image size out of range");
    AxisTaps tx, ty;
    axis_taps(src_width, dst_width, &tx);
    axis_taps(src_height, dst_height, &ty);
    // Across first into a float image of dst_width x src_height, then down.
    std::vector<float> mid((size_t)dst_width * src_height * 4);
    for (int y = 0; y < src_height; y++)
        for (int x = 0; x < dst_width; x++) {
            const Tap& t = tx.taps[(size_t)x];
            const float* w = &tx.weights[t.w];
            float acc[4] = {0, 0, 0, 0};
            for (int k = 0; k < t.count; k++) {
                const Rgba8& p = src[(size_t)y * src_width + t.first + k];
                acc[0] += w[k] * p.r;
                acc[1] += w[k] * p.g;
                acc[2] += w[k] * p.b;
                acc[3] += w[k] * p.a;
            }
            for (int c = 0; c < 4; c++) mid[((size_t)y * dst_width + x) * 4 + c] = acc[c];
        }
    for (int y = 0; y < dst_height; y++) {
        const Tap& t = ty.taps[(size_t)y];
        const float* w = &ty.weights[t.w];
        for (int x = 0; x < dst_width; x++) {
            float acc[4] = {0, 0, 0, 0};
            for (int k = 0; k < t.count; k++)
                for (int c = 0; c < 4; c++) acc[c] += w[k] * mid[((size_t)(t.first + k) * dst_width + x) * 4 + c];
            dst[(size_t)y * dst_width + x] = Rgba8{to_byte(acc[0]), to_byte(acc[1]), to_byte(acc[2]), to_byte(acc[3])};
        }
    }
    return 1;
}

int texture_encode_image(const Rgba8* pixels, int width, int height, int max_base, ByteBuffer* out,
                         int* base_width, int* base_height) {
    auto nearest = [max_base](int n) {
        int p = 2;
        while (p < max_base && (double)p * 1.41421356 < (double)n) p *= 2;
        return p;
    };
    const int bw = nearest(width), bh = nearest(height);
    std::vector<Rgba8> base((size_t)bw * bh);
    if (!image_resize(pixels, width, height, base.data(), bw, bh)) return 0;
    if (!texture_encode(base.data(), bw, bh, out)) return 0;
    *base_width = bw;
    *base_height = bh;
    return 1;
}
