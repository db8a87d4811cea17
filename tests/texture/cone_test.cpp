#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "texture/cone.h"

namespace {

RgbImage* make_image(int width, int height, uint32_t (*pixel)(int x, int y)) {
    RgbImage* image = (RgbImage*)std::malloc(sizeof(RgbImage));
    image->pixels = (uint32_t*)std::malloc((size_t)width * height * 4);
    image->width = width;
    image->height = height;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) image->pixels[(size_t)y * width + x] = pixel(x, y);
    return image;
}

uint32_t pattern(int x, int y) {
    return 0xAB000000u | (uint32_t)((x * 37) ^ (y * 11)) << 16 | (uint32_t)(x * y) << 8 |
           (uint32_t)(x + 3 * y) % 251;
}

uint32_t channel(uint32_t p, int c) { return (p >> (8 * c)) & 0xFF; }

// The resampler written plainly: each reduction into a fresh compact array,
// channel averages by integer arithmetic, and edge neighbours clamped.
std::vector<uint32_t> reference(const RgbImage* in, int tw, int th) {
    int w = in->width, h = in->height;
    std::vector<uint32_t> p(in->pixels, in->pixels + (size_t)w * h);
    while (1.5f * tw < w) {
        std::vector<uint32_t> q((size_t)(w / 2) * h);
        for (int y = 0; y < h; y++)
            for (int i = 0; i < w / 2; i++) {
                uint32_t a = p[(size_t)y * w + 2 * i], b = p[(size_t)y * w + 2 * i + 1], v = 0;
                for (int c = 0; c < 3; c++) v |= ((channel(a, c) + channel(b, c)) / 2) << (8 * c);
                q[(size_t)y * (w / 2) + i] = v;
            }
        p.swap(q);
        w /= 2;
    }
    while (1.5f * th < h) {
        std::vector<uint32_t> q((size_t)w * (h / 2));
        for (int j = 0; j < h / 2; j++)
            for (int x = 0; x < w; x++) {
                uint32_t a = p[(size_t)(2 * j) * w + x], b = p[(size_t)(2 * j + 1) * w + x], v = 0;
                for (int c = 0; c < 3; c++) v |= ((channel(a, c) + channel(b, c)) / 2) << (8 * c);
                q[(size_t)j * w + x] = v;
            }
        p.swap(q);
        h /= 2;
    }
    std::vector<uint32_t> out((size_t)tw * th);
    float sx = (float)w / tw, sy = (float)h / th, fx = 0.0f;
    for (int X = 0; X < tw; X++, fx += sx) {
        float fy = 0.0f;
        for (int Y = 0; Y < th; Y++, fy += sy) {
            int x0 = (int)fx, y0 = (int)fy, y1 = (int)(fy + 1.0f), x1 = x0 + 1;
            float tx = fx - std::floor(fx), ty = fy - std::floor(fy);
            x0 = std::min(x0, w - 1), x1 = std::min(x1, w - 1);
            y0 = std::min(y0, h - 1), y1 = std::min(y1, h - 1);
            uint32_t v = 0;
            for (int c = 0; c < 3; c++) {
                float s = (float)channel(p[(size_t)y0 * w + x0], c) * ((1 - tx) * (1 - ty));
                s += (float)channel(p[(size_t)y1 * w + x0], c) * ((1 - tx) * ty);
                s += (float)channel(p[(size_t)y0 * w + x1], c) * (tx * (1 - ty));
                s += (float)channel(p[(size_t)y1 * w + x1], c) * (tx * ty);
                v |= (uint32_t)std::min(255.0f, s) << (8 * c);
            }
            out[(size_t)Y * tw + X] = v;
        }
    }
    return out;
}

TEST(ConeMask, ScreenSizedImageIsReturnedUntouched) {
    RgbImage* image = make_image(400, 300, pattern);
    std::vector<uint32_t> before(image->pixels, image->pixels + 400 * 300);
    RgbImage* result = cone_mask_resample(image, 400, 300);
    ASSERT_EQ(result, image);
    EXPECT_EQ(std::vector<uint32_t>(result->pixels, result->pixels + 400 * 300), before);
    rgb_image_free(result);
}

// Sizes around the strict 1.5 test (600 stays, 601 halves), several
// halvings, odd sizes dropping a column or row, and pure enlargement.
TEST(ConeMask, MatchesThePlainResampler) {
    const int sizes[][2] = {{1024, 1024}, {600, 450}, {601, 451}, {256, 256}, {1203, 77}, {3, 2}, {400, 1300}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(std::to_string(s[0]) + "x" + std::to_string(s[1]));
        RgbImage* image = make_image(s[0], s[1], pattern);
        std::vector<uint32_t> want = reference(image, 400, 300);
        RgbImage* result = cone_mask_resample(image, 400, 300);  // releases image
        ASSERT_NE(result, nullptr);
        ASSERT_EQ(result->width, 400);
        ASSERT_EQ(result->height, 300);
        int wrong = 0;
        for (size_t i = 0; i < want.size(); i++) wrong += result->pixels[i] != want[i];
        EXPECT_EQ(wrong, 0);
        rgb_image_free(result);
    }
}

TEST(ConeMask, BoxAverageIsPerChannelWithoutCarries) {
    // Red 10 and 13 average to 11; green 0xFF and 0x01 to 0x80 without
    // spilling into blue; the top byte is cleared.
    RgbImage* image = make_image(2, 1, [](int x, int) {
        return x == 0 ? 0xFF01FF0Au : 0x00FF010Du;
    });
    RgbImage* result = cone_mask_resample(image, 1, 1);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->pixels[0], 0x0080800Bu);
    rgb_image_free(result);
}

// Weights sum to 1 only up to rounding and the sum is truncated, so a flat
// channel may come out one lower, never higher and never garbage at the edges.
TEST(ConeMask, FlatImageStaysFlatUpToTheEdges) {
    for (int w : {7, 256, 1024}) {
        RgbImage* image = make_image(w, w / 2 + 1, [](int, int) { return 0xFF5A7896u; });
        RgbImage* result = cone_mask_resample(image, 400, 300);
        ASSERT_NE(result, nullptr);
        int wrong = 0;
        for (int i = 0; i < 400 * 300; i++) {
            uint32_t p = result->pixels[i];
            for (int c = 0; c < 3; c++) {
                int d = (int)channel(0x5A7896u, c) - (int)channel(p, c);
                wrong += d < 0 || d > 1;
            }
            wrong += (p >> 24) != 0;
        }
        EXPECT_EQ(wrong, 0) << w;
        rgb_image_free(result);
    }
}

// Clearing a buffer by the mask's runs gives what testing every pixel
// gives, and the lit rows are those with a pixel the test passes: masks of
// noise around the threshold, all dark, all lit, dark columns at both ends
// of the rows, and a disc (dark rows above and below it), over any band of
// rows; each row's lit columns lie between its first and last lit pixel.
TEST(ConeRuns, ClearExactlyWhatThePerPixelTestClears) {
    std::srand(11);
    const struct {
        int width, height;
        int kind;  // 0 noise, 1 all dark, 2 all lit, 3 dark ends, 4 a disc
    } masks[] = {{1, 1, 0}, {7, 3, 0}, {401, 31, 0}, {16, 4, 1}, {16, 4, 2}, {33, 5, 3}, {40, 30, 4}, {1, 9, 4}};
    for (const auto& m : masks) {
        std::vector<uint32_t> pixels((size_t)m.width * m.height);
        int lit_first = m.height, lit_end = 0;
        for (int y = 0; y < m.height; y++)
            for (int x = 0; x < m.width; x++) {
                const int dx = 2 * x + 1 - m.width, dy = 2 * y + 1 - m.height;  // doubled offsets from the centre
                uint32_t level = m.kind == 1   ? 119
                                 : m.kind == 2 ? 120
                                 : m.kind == 3 ? (x < 2 || x > m.width - 3 ? 0 : 255)
                                 : m.kind == 4 ? (dx * dx + dy * dy < m.height * m.height / 2 ? 200 : 10)
                                               : 117 + std::rand() % 6;
                pixels[(size_t)(y * m.width + x)] = level | 0xAB5500u;  // only the low byte counts
                if (level >= CONE_THRESHOLD) lit_first = std::min(lit_first, y), lit_end = std::max(lit_end, y + 1);
            }
        RgbImage mask = {pixels.data(), m.width, m.height};
        ConeRuns runs;
        ASSERT_EQ(cone_runs_build(&mask, &runs), 1);
        const int32_t first_lit = runs.lit_first, end_lit = runs.lit_end;
        if (lit_end == 0) {
            EXPECT_EQ(first_lit, end_lit) << m.width << "x" << m.height;
        } else {
            EXPECT_EQ(first_lit, lit_first) << m.width << "x" << m.height;
            EXPECT_EQ(end_lit, lit_end) << m.width << "x" << m.height;
        }
        if (m.kind == 4) {
            EXPECT_GT(lit_first, 0);  // the disc leaves dark rows to skip
        }
        for (int y = 0; y < m.height; y++) {  // each row's first lit column and one past its last
            int left = m.width, right = 0;
            for (int x = 0; x < m.width; x++)
                if ((pixels[(size_t)(y * m.width + x)] & 0xFFu) >= CONE_THRESHOLD)
                    left = std::min(left, x), right = x + 1;
            EXPECT_EQ(runs.lit_columns[2 * y], left) << m.width << "x" << m.height << " row " << y;
            EXPECT_EQ(runs.lit_columns[2 * y + 1], right) << m.width << "x" << m.height << " row " << y;
        }
        for (int first = 0; first < m.height; first += 2) {
            int count = std::min(2, m.height - first);
            std::vector<uint32_t> by_runs(pixels.size()), by_pixels(pixels.size());
            for (size_t i = 0; i < pixels.size(); i++) by_runs[i] = by_pixels[i] = (uint32_t)i + 1;
            cone_runs_clear(&runs, first, count, by_runs.data());
            for (size_t i = (size_t)first * m.width; i < (size_t)(first + count) * m.width; i++)
                if ((pixels[i] & 0xFFu) < CONE_THRESHOLD) by_pixels[i] = 0;
            EXPECT_TRUE(by_runs == by_pixels) << m.width << "x" << m.height << " rows from " << first;
        }
        cone_runs_free(&runs);
    }
}

}  // namespace
