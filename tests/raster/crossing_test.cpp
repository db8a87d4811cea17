#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "raster/insert.h"
#include "span_rows.h"

namespace {

// crossing_ruled_out may answer 1 only where crossing_column says the
// crossing does not count. Returns 0 on a wrong "ruled out".
int agrees(float n_w, float n_d, float s_w, float s_d, int32_t lo, int32_t hi) {
    SpanNode n = make_span(0, 0, n_w, n_d, 1);
    SpanNode s = make_span(0, 0, s_w, s_d, 2);
    int counts;
    crossing_column(&n, &s, lo, hi, &counts);
    return !(crossing_ruled_out(&n, &s, lo, hi) && counts);
}

TEST(CrossingRuledOut, NeverRulesOutACountingCrossingAtRandom) {
    std::mt19937 rng(91);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    long ruled = 0, trials = 200000;
    for (long t = 0; t < trials; t++) {
        int32_t lo = (int32_t)(rng() % 460) - 30;
        int32_t hi = lo + (int32_t)(rng() % 60);
        float s_w = 0.01f + unit(rng), n_w = 0.01f + unit(rng);
        float s_d = (unit(rng) - 0.5f) * 0.004f, n_d = (unit(rng) - 0.5f) * 0.004f;
        SpanNode n = make_span(0, 0, n_w, n_d, 1), s = make_span(0, 0, s_w, s_d, 2);
        int counts;
        crossing_column(&n, &s, lo, hi, &counts);
        int out = crossing_ruled_out(&n, &s, lo, hi);
        ASSERT_FALSE(out && counts) << n_w << " " << n_d << " " << s_w << " " << s_d << " " << lo << " " << hi;
        ruled += out;
    }
    // Random planes rarely cross inside a short overlap: the division is
    // needed only for a few pairs.
    EXPECT_GT(ruled, trials * 9 / 10);
}

// Lines made to cross within a few float steps of the points where Q changes
// (k - 0.5 for every k near lo and hi), over overlaps left and right of 0.
TEST(CrossingRuledOut, NearTiesAtTheOverlapEnds) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const int32_t los[] = {-70, -2, -1, 0, 1, 2, 37, 398};
    long checked = 0;
    for (int32_t lo : los) {
        for (int32_t width = 0; width < 6; width++) {
            int32_t hi = lo + width;
            for (int32_t k = lo - 2; k <= hi + 2; k++) {
                for (int rep = 0; rep < 20; rep++) {
                    float s_w = 0.05f + unit(rng);
                    float s_d = (unit(rng) - 0.5f) * 0.01f;
                    float n_d = (unit(rng) - 0.5f) * 0.01f;
                    if (rep == 0) n_d = std::nextafter(s_d, 1.0f);  // nearly parallel
                    double b = (double)s_d - (double)n_d;
                    float n_w = (float)((double)s_w + ((double)k - 0.5) * b);
                    for (int step = -3; step <= 3; step++) {
                        float w = n_w;
                        for (int i = 0; i < (step < 0 ? -step : step); i++)
                            w = std::nextafter(w, step < 0 ? -10.0f : 10.0f);
                        ASSERT_TRUE(agrees(w, n_d, s_w, s_d, lo, hi))
                            << w << " " << n_d << " " << s_w << " " << s_d << " " << lo << " " << hi;
                        ASSERT_TRUE(agrees(s_w, s_d, w, n_d, lo, hi));  // the two roles swapped
                        checked++;
                    }
                }
            }
        }
    }
    EXPECT_GT(checked, 10000);
}

// Crossings closer to k - 0.5 than double rounding can tell: a / b rounds
// onto k - 0.5 or next to it, and adding 0.5 may round onto k. Gradients of
// opposite sign give b = m * scale with m odd, the crossing is put at
// k - 0.5 exactly, then S's depth is moved by a few double steps.
TEST(CrossingRuledOut, CrossingsBelowDoubleResolution) {
    const float nudges[] = {0.0f, 0x1p-60f, 0x1p-54f, 0x1p-53f, 0x1p-52f, 0x1p-51f, 0x1p-50f, 0x1p-49f};
    const float scales[] = {1.0f, 0x1p-10f};
    for (int32_t lo = -4; lo <= 4; lo++) {
        for (int32_t hi = lo; hi <= lo + 4; hi++) {
            for (int32_t k = lo - 1; k <= hi + 1; k++) {
                for (float scale : scales) {
                    for (int m = 1; m <= 7; m += 2) {
                        for (float nudge : nudges) {
                            for (int sign = -1; sign <= 1; sign += 2) {
                                float half_b = 0.5f * (float)m * scale;
                                float n_w = ((float)k - 0.5f) * 2.0f * half_b;  // exact: k, m small
                                float s_w = (float)sign * nudge * scale;
                                ASSERT_TRUE(agrees(n_w, -half_b, s_w, half_b, lo, hi))
                                    << k << " " << m << " " << scale << " " << s_w << " " << lo << " " << hi;
                                ASSERT_TRUE(agrees(-n_w, half_b, -s_w, -half_b, lo, hi));
                            }
                        }
                    }
                }
            }
        }
    }
}

TEST(CrossingRuledOut, ExtremeValues) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float big = std::numeric_limits<float>::max(), tiny = std::numeric_limits<float>::denorm_min();
    const float values[] = {0.0f, -0.0f, tiny, -tiny, 1e-30f, 0.5f, 1.0f, -1.0f, 3e4f, big, -big, inf, -inf, nan};
    const int32_t ends[][2] = {{0, 400},      {-5, 5},     {3, 4},  {4, 3},
                               {-2147483647 - 1, 2147483647}, {2147483600, 2147483647}, {-2147483647 - 1, -2147483600}};
    for (float a : values)
        for (float b : values)
            for (float c : values)
                for (float d : values)
                    for (const auto& e : ends)
                        ASSERT_TRUE(agrees(a, b, c, d, e[0], e[1]))
                            << a << " " << b << " " << c << " " << d << " " << e[0] << " " << e[1];
}

// The one-column overlap, equal gradients and the same plane never count.
TEST(CrossingRuledOut, CasesWithoutCrossingAreRuledOut) {
    SpanNode s = make_span(0, 0, 1.0f, 0.0f, 1);
    SpanNode steep = make_span(0, 0, 0.5f, 0.1f, 2);  // crosses at 5: Q = 5
    EXPECT_EQ(crossing_ruled_out(&steep, &s, 5, 6), 1);
    EXPECT_EQ(crossing_ruled_out(&steep, &s, 0, 100), 0);
    SpanNode parallel = make_span(0, 0, 0.5f, 0.0f, 3);
    EXPECT_EQ(crossing_ruled_out(&parallel, &s, 0, 100), 1);
    EXPECT_EQ(crossing_ruled_out(&s, &s, 0, 100), 1);
}

}  // namespace
