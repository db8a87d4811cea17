#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "display/bmp.h"
#include "display/font.h"
#include "pipeline/frame.h"
#include "raster/resolve.h"
#include "raster/span_pool.h"
#include "synthetic_scene.h"
#include "test_support.h"
#include "texture/image.h"

namespace {

const int W = 400, H = 300;

struct FillCall {
    int32_t u, du, v, dv, sx, dsx, sy, dsy;
    long offset, count;
};
std::vector<FillCall> calls;
uint32_t* record_base;

void record_fill(const ShadeState*, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx, int32_t dsx,
                 int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last) {
    calls.push_back({u, du, v, dv, sx, dsx, sy, dsy, first - record_base, last - first});
}

// Palette index = column of level (0, 0) + 4 * row, so a texel names its spot.
std::unique_ptr<synthetic::OwnedTexture> position_texture() {
    return synthetic::make_texture(
        64, 64, [](int, int, int x, int y) { return (x + 4 * y) & 255; },
        // Scrambled colours, so neighbouring texels differ strongly.
        [](uint32_t p) { return ((p * 2654435761u) >> 8 | 0x00404040u) & 0x00FFFFFFu; });
}

class Resolve : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(synthetic::set_screen(W, H), 1);
        shadow.assign((size_t)W * H, 0);
        settings = ShadeSettings{shadow.data(), 100, fill_each_run<fill_bilinear>, nullptr, nullptr};
        begin();
        texture = position_texture();
        shading = SpanShading{0, 0, 0, 0, 0, 0, texture->texture};
        span = SpanNode{};
        span.shading = &shading;
        span.face_id = 77;
        calls.clear();
        screen.reset(new synthetic::ScreenRows(H));
    }
    // A pass begun with the settings as they are now.
    void begin() { shade_begin(&state, &settings, &synthetic::test_screen); }
    // Shades one pixel at light-view pixel (ix, iy) with texel (0, 0).
    uint32_t pixel_at_light(int32_t sx, int32_t sy) {
        EXPECT_EQ(shade_span_prepare(&state, &span), 1);
        uint32_t out = 0xDEADBEEF;
        fill_nearest(&state, 0, 0, 0, 0, sx, 0, sy, 0, &out, &out + 1);
        return out;
    }
    uint32_t lit_colour() { return texture->shade()[0 * 64 + 63]; }
    ScanlineSpanList* rows() { return screen->lists.data(); }
    std::vector<uint32_t> shadow;
    ShadeSettings settings;
    ShadeState state;
    std::unique_ptr<synthetic::OwnedTexture> texture;
    SpanShading shading;
    SpanNode span;
    std::unique_ptr<synthetic::ScreenRows> screen;
};

// A perspective span: exact coordinates at the first pixel, after every 16
// pixels and past the last one; linear steps in between.
TEST_F(Resolve, RunsOfFifteenSixteenAndSeventeenPixels) {
    span.d_inv_z = -0.0004f;
    shading.d_u_over_z = 0.31f;
    shading.d_v_over_z = -0.07f;
    shading.d_lx_over_z = 0.9f;
    shading.d_ly_over_z = 0.2f;
    shading.d_lz_over_z = -0.01f;
    const float w = 0.1f, u = 3.0f, v = 2.0f, lx = 10.0f, ly = -3.0f, lz = 1.5f;
    // The planes after `runs` whole runs and `rest` more pixels, accumulated
    // in float the way the shader steps them.
    auto exact = [&](int runs, int rest) {
        auto plane = [&](float value, float d) {
            for (int i = 0; i < runs; i++) value += 16.0f * d;
            return rest ? value + (float)rest * d : value;
        };
        return shade_coords(&state, plane(w, span.d_inv_z), plane(u, shading.d_u_over_z), plane(v, shading.d_v_over_z),
                            plane(lx, shading.d_lx_over_z), plane(ly, shading.d_ly_over_z),
                            plane(lz, shading.d_lz_over_z));
    };
    uint32_t row[64];
    record_base = row;
    for (int n : {15, 16, 17}) {
        calls.clear();
        ASSERT_EQ(shade_span_prepare(&state, &span), 1);
        state.fill = fill_each_run<record_fill>;
        shade_span(&state, n, w, u, v, lx, ly, lz, row);
        ASSERT_EQ(calls.size(), n == 17 ? 2u : 1u) << n;
        const FillCall& first = calls[0];
        ShadeCoords a = exact(0, 0);
        int len = n == 15 ? 15 : 16;
        ShadeCoords b = n == 15 ? exact(0, 15) : exact(1, 0);
        EXPECT_EQ(first.offset, 0);
        EXPECT_EQ(first.count, len);
        EXPECT_EQ(first.u, a.u);
        EXPECT_EQ(first.sx, a.sx);
        EXPECT_EQ(first.du, (b.u - a.u) / len);
        EXPECT_EQ(first.dv, (b.v - a.v) / len);
        EXPECT_EQ(first.dsx, (b.sx - a.sx) / len);
        EXPECT_EQ(first.dsy, (b.sy - a.sy) / len);
        if (n == 17) {
            const FillCall& rest = calls[1];
            ShadeCoords c = exact(1, 1);
            EXPECT_EQ(rest.offset, 16);
            EXPECT_EQ(rest.count, 1);
            EXPECT_EQ(rest.u, b.u);  // exact again at pixel 16
            EXPECT_EQ(rest.v, b.v);
            EXPECT_EQ(rest.sy, b.sy);
            EXPECT_EQ(rest.du, c.u - b.u);
        }
    }
    // The light position uses the focal length and the screen centre.
    ShadeCoords a = exact(0, 0);
    EXPECT_EQ(a.sx, (int32_t)(200.0f * 65536.0f / lz * lx) + 200 * 65536);
    EXPECT_EQ(a.u, (int32_t)(65536.0f / w * u));
}

// Spans whose values leave the usual ranges on some lane (NaN, a point at or
// behind the light's eye plane, texels beyond 2^30, light pixels far off the
// view), whose coordinates fall along the span (steps rounded toward zero),
// and of every kind of run: each fill call carries shade_coords' values at
// its ends and (end - start) / pixels, truncated.
TEST_F(Resolve, SpanCallsFollowTheExactCoordinatesOfTheirEnds) {
    struct Case {
        int count;
        float w, u, v, lx, ly, lz;       // at the first pixel
        float dw, du, dv, dlx, dly, dlz;  // per pixel
    };
    const float nan = std::nanf("");
    std::vector<Case> cases = {
        {40, 0.1f, 3.0f, 2.0f, 10.0f, -3.0f, 1.5f, -0.0004f, -0.31f, 0.07f, -0.9f, -0.2f, -0.01f},
        {33, 0.02f, -5e5f, 7e5f, -2.0f, 1.0f, 0.5f, 0.0001f, 9e3f, -1e4f, 0.3f, -0.1f, -0.02f},
        {7, 0.5f, 1.0f, 1.0f, 1.0f, 1.0f, 0.01f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, -0.002f},   // lz reaches 0
        {20, 0.5f, 1.0f, 1.0f, 1.0f, 1.0f, -0.3f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.02f},    // from behind the light
        {17, 1e-6f, 3e4f, -3e4f, 1.0f, 1.0f, 1.0f, 0.0f, 10.0f, 0.0f, 0.0f, 0.0f, 0.0f},  // u, v beyond 2^30
        {18, 0.2f, 1.0f, 1.0f, 5e5f, -5e5f, 1e-3f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f},   // off the light's view
        {16, nan, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f},
        {5, 0.3f, 1.0f, nan, 1.0f, 1.0f, nan, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f},
        {1, 0.25f, 7.5f, -7.5f, 2.0f, 2.0f, 2.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f},
        // One value exactly on an edge of its range, the others well inside (w = 1:
        // 65536 texels a unit; lz = 200: 65536 light pixels a unit): u or v at
        // +-2^30 wraps, sx or sy at +-2^29 is off the view; a step in, each is
        // truncated as it is.
        {3, 1.0f, 16384.0f, 1.0f, 1.0f, 1.0f, 200.0f, 0.0f, -0.5f, 0.0f, 0.0f, 0.0f, 0.0f},
        {3, 1.0f, 1.0f, -16384.0f, 1.0f, 1.0f, 200.0f, 0.0f, 0.0f, 0.5f, 0.0f, 0.0f, 0.0f},
        {3, 1.0f, 1.0f, 1.0f, 8192.0f, 1.0f, 200.0f, 0.0f, 0.0f, 0.0f, -0.5f, 0.0f, 0.0f},
        {3, 1.0f, 1.0f, 1.0f, 1.0f, -8192.0f, 200.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f, 0.0f},
    };
    // Remainder runs of every length with differences of every size up to
    // 2^31, a 1/c of them whole multiples of the length c: the steps must be
    // those of an integer division.
    std::srand(11);
    auto any = [](float scale) { return scale * ((float)std::rand() / (float)RAND_MAX * 2.0f - 1.0f); };
    for (int k = 0; k < 3000; k++) {
        const float reach = std::ldexp(1.0f, k % 16);  // texels or light pixels a pixel, 1 to 2^15
        cases.push_back({2 + k % 14, 1.0f, any(8000.0f), any(8000.0f), any(4000.0f), any(4000.0f), 200.0f, 0.0f,
                         any(reach / 64.0f), any(reach / 64.0f), any(reach / 256.0f), any(reach / 256.0f), 0.0f});
    }
    static uint32_t row[64];
    record_base = row;
    for (const Case& c : cases) {
        span.d_inv_z = c.dw;
        shading = SpanShading{c.du, c.dv, c.dlx, c.dly, c.dlz, 0, texture->texture};
        calls.clear();
        ASSERT_EQ(shade_span_prepare(&state, &span), 1);
        state.fill = fill_each_run<record_fill>;
        shade_span(&state, c.count, c.w, c.u, c.v, c.lx, c.ly, c.lz, row);
        // The plain steps: exact at every 16th pixel and past the last.
        float p[6] = {c.w, c.u, c.v, c.lx, c.ly, c.lz};
        const float d[6] = {c.dw, c.du, c.dv, c.dlx, c.dly, c.dlz};
        auto at = [&](float k) {
            return shade_coords(&state, p[0] + k * d[0], p[1] + k * d[1], p[2] + k * d[2], p[3] + k * d[3],
                                p[4] + k * d[4], p[5] + k * d[5]);
        };
        size_t n = 0;
        for (int done = 0; done < c.count; n++) {
            const int len = c.count - done < 16 ? c.count - done : 16;
            const ShadeCoords a = at(0.0f), b = at((float)len);
            ASSERT_LT(n, calls.size()) << c.count;
            const FillCall& f = calls[n];
            const int32_t want[8] = {a.u, (b.u - a.u) / len, a.v, (b.v - a.v) / len,
                                     a.sx, (b.sx - a.sx) / len, a.sy, (b.sy - a.sy) / len};
            const int32_t got[8] = {f.u, f.du, f.v, f.dv, f.sx, f.dsx, f.sy, f.dsy};
            for (int k = 0; k < 8; k++) EXPECT_EQ(got[k], want[k]) << "span of " << c.count << ", call " << n << ", value " << k;
            EXPECT_EQ(f.offset, done);
            EXPECT_EQ(f.count, len);
            for (int k = 0; k < 6 && len == 16; k++) p[k] += 16.0f * d[k];
            done += len;
        }
        EXPECT_EQ(calls.size(), n);
    }
}

TEST_F(Resolve, ShadowTestKeepsTwoPixelsFromTheBorder) {
    std::fill(shadow.begin(), shadow.end(), 77u);
    uint32_t lit = lit_colour();
    auto at = [&](int x, int y) { return pixel_at_light(x * 65536 + 32768, y * 65536 + 32768); };
    EXPECT_EQ(at(2, 2), lit);
    EXPECT_EQ(at(398, 298), lit);
    EXPECT_NE(at(1, 150), lit);
    EXPECT_NE(at(399, 150), lit);
    EXPECT_NE(at(200, 1), lit);
    EXPECT_NE(at(200, 299), lit);
    EXPECT_NE(at(-5, 150), lit);
    EXPECT_NE(at(200, 5000), lit);
    EXPECT_NE(pixel_at_light(SHADE_NO_LIGHT_POSITION, SHADE_NO_LIGHT_POSITION), lit);
    // At the extreme positions only a corner neighbour holds the face: the
    // neighbourhood is read up to the buffer's first row and last word.
    std::fill(shadow.begin(), shadow.end(), 5u);
    shadow[1 * W + 1] = 77;
    shadow[(size_t)(H - 1) * W + (W - 1)] = 77;
    EXPECT_EQ(at(2, 2), lit);
    EXPECT_EQ(at(398, 298), lit);
    EXPECT_NE(at(398, 2), lit);
    EXPECT_NE(at(2, 298), lit);
    settings.shadow_buffer = nullptr;  // no buffer: nothing is lit
    begin();
    EXPECT_NE(at(200, 150), lit);
}

TEST_F(Resolve, OwnFaceWithinOnePixelLights) {
    shadow[100 * W + 100] = 77;
    shadow[100 * W + 103] = 5;  // another face
    uint32_t lit = lit_colour();
    for (int dy = -2; dy <= 2; dy++)
        for (int dx = -2; dx <= 2; dx++) {
            uint32_t c = pixel_at_light((100 + dx) * 65536 + 100, (100 + dy) * 65536 + 65000);
            bool near = std::abs(dx) <= 1 && std::abs(dy) <= 1;
            EXPECT_EQ(c == lit, near) << dx << "," << dy;
        }
    span.face_id = 5;
    EXPECT_EQ(pixel_at_light(102 * 65536, 99 * 65536), lit);
    EXPECT_NE(pixel_at_light(101 * 65536, 100 * 65536), lit);
}

TEST_F(Resolve, ShadowFactorScalesEachChannel) {
    // Step 63 of palette entry 0 with a top byte set, as a foreign table might hold.
    texture->shade()[63] = 0xAAFB8009u;
    EXPECT_EQ(pixel_at_light(0, 0), 0x00623203u);  // 251, 128, 9 -> 98, 50, 3
    settings.shadow_factor = 256;
    begin();
    EXPECT_EQ(pixel_at_light(0, 0), 0x00FB8009u);
    settings.shadow_factor = 1000;
    begin();  // clamped: no channel carries into the next
    EXPECT_EQ(pixel_at_light(0, 0), 0x00FB8009u);
    settings.shadow_factor = 0;
    begin();
    EXPECT_EQ(pixel_at_light(0, 0), 0u);
    settings.shadow_factor = -3;
    begin();
    EXPECT_EQ(pixel_at_light(0, 0), 0u);
}

// Nearest shows shade step 63 of the texel under (u, v); bilinear agrees with
// it on whole texels and with a float blend of the four neighbours elsewhere.
TEST_F(Resolve, FillsReadTheRightTexels) {
    std::fill(shadow.begin(), shadow.end(), 77u);
    ASSERT_EQ(shade_span_prepare(&state, &span), 1);
    const synthetic::OwnedTexture& t = *texture;
    const int tw = 32, th = 32;
    auto wrap = [](int a, int n) { return ((a % n) + n) % n; };
    auto texel = [&](int x, int y) { return t.level(0, 0).texels[(size_t)(wrap(y, th) * tw + wrap(x, tw))]; };
    const int32_t sx = 200 << 16, sy = 150 << 16;
    std::srand(11);
    for (int i = 0; i < 2000; i++) {
        int32_t u = (std::rand() % (tw * 4 << 16)) - (tw * 2 << 16);
        int32_t v = (std::rand() % (th * 4 << 16)) - (th * 2 << 16);
        int x = u >> 16, y = v >> 16;
        uint32_t nearest = 0, bilinear = 0;
        fill_nearest(&state, u, 0, v, 0, sx, 0, sy, 0, &nearest, &nearest + 1);
        fill_bilinear(&state, u, 0, v, 0, sx, 0, sy, 0, &bilinear, &bilinear + 1);
        EXPECT_EQ(nearest, t.shade()[texel(x, y) * 64u + 63u]);
        float fu = (float)((u >> 10) & 63) / 64.0f, fv = (float)((v >> 10) & 63) / 64.0f;
        // The right neighbour of a row's last texel is the next row's first.
        int rx = x + 1, ry = y;
        if (wrap(x, tw) == tw - 1) ry = y + 1;
        for (int shift = 0; shift < 24; shift += 8) {
            auto ch = [&](int p) { return (float)((t.shade()[(uint32_t)p * 64u + 63u] >> shift) & 255u); };
            float expected = ch(texel(x, y)) * (1 - fu) * (1 - fv) + ch(texel(rx, ry)) * fu * (1 - fv) +
                             ch(texel(x, y + 1)) * (1 - fu) * fv + ch(texel(rx, ry + 1)) * fu * fv;
            // The table's weights are 64ths rounded down: a few units off.
            EXPECT_NEAR((float)((bilinear >> shift) & 255u), expected, 14.0f) << u << " " << v;
        }
        if (((u | v) & 0xFFFF) == 0) {
            EXPECT_EQ(bilinear, nearest);
        }
    }
    uint32_t a = 0, b = 0;
    fill_nearest(&state, 5 << 16, 0, 7 << 16, 0, sx, 0, sy, 0, &a, &a + 1);
    fill_bilinear(&state, 5 << 16, 0, 7 << 16, 0, sx, 0, sy, 0, &b, &b + 1);
    EXPECT_EQ(a, b);
}

// Coordinates that do not fit 16.16 in 32 bits: texture coordinates wrap and
// keep their texel; light positions at or behind the light's eye plane, or
// far off its view, are shadowed.
TEST_F(Resolve, OutOfRangeCoordinatesAreWrappedOrShadowed) {
    ASSERT_EQ(shade_span_prepare(&state, &span), 1);
    ShadeCoords c = shade_coords(&state, 1e-6f, 123.456f, -98.7f, 1e4f, 1.0f, 1.0f);
    double u = (double)(65536.0f / 1e-6f * 123.456f), v = (double)(65536.0f / 1e-6f * -98.7f);
    EXPECT_EQ((c.u >> 16) & 31, (int64_t)std::floor(u / 65536.0) & 31);
    EXPECT_EQ((c.v >> 16) & 31, (int64_t)std::floor(v / 65536.0) & 31);
    EXPECT_LT(std::abs((double)c.u), 1073741824.0);
    EXPECT_EQ(c.sx, SHADE_NO_LIGHT_POSITION);  // 2e6 pixels off the light's view
    EXPECT_EQ(c.sy, 200 * 65536 + 150 * 65536);  // 200 pixels below the centre
    c = shade_coords(&state, 0.0f, 1.0f, NAN, 1.0f, 1.0f, 0.0f);
    EXPECT_EQ(c.u, 0);  // +inf
    EXPECT_EQ(c.v, 0);  // NaN
    EXPECT_EQ(c.sx, SHADE_NO_LIGHT_POSITION);  // LZ = 0
    c = shade_coords(&state, 0.1f, 1.0f, 1.0f, 1.0f, 1.0f, -2.0f);
    EXPECT_EQ(c.sy, SHADE_NO_LIGHT_POSITION);  // behind the light
    c = shade_coords(&state, 0.1f, 1.0f, 1.0f, 1.0f, 1.0f, NAN);
    EXPECT_EQ(c.sx, SHADE_NO_LIGHT_POSITION);

    // A whole span behind the light is dark although the light saw its face
    // everywhere; one that crosses the light's eye plane stays in bounds.
    std::fill(shadow.begin(), shadow.end(), 77u);
    uint32_t row[40];
    shading.d_lz_over_z = 0.0f;
    ASSERT_EQ(shade_span_prepare(&state, &span), 1);
    shade_span(&state, 40, 0.1f, 0.0f, 0.0f, 0.0f, 0.0f, -1.0f, row);
    for (uint32_t p : row) EXPECT_EQ(p, ((texture->shade()[63] & 0xFF00FFu) * 100 >> 8 & 0xFF00FFu) | ((texture->shade()[63] & 0xFF00u) * 100 >> 8 & 0xFF00u));
    shading.d_lz_over_z = 0.05f;
    shading.d_u_over_z = 3e7f;
    ASSERT_EQ(shade_span_prepare(&state, &span), 1);
    shade_span(&state, 40, 1e-3f, -1e9f, 0.0f, 0.3f, 0.3f, -1.0f, row);
}

TEST_F(Resolve, LightViewWritesFaceIdsIntoClampedColumns) {
    SpanNode s = {};
    auto add = [&](int y, int l, int r, uint32_t id) {
        s.x_left = l, s.x_right = r, s.face_id = id;
        ASSERT_NE(span_list_append(&rows()[y], &s), nullptr);
    };
    add(10, 5, 5, 1);       // empty, still counted
    add(11, -7, 3, 2);      // starts left of the screen
    add(12, 390, 400, 3);   // ends exactly at the width: keeps column 399
    add(13, 390, 450, 4);   // reaches beyond: loses column 399 too
    add(14, 10, 20, 5);
    add(14, 30, 40, 6);
    std::fill(shadow.begin(), shadow.end(), 0xDEADBEEFu);  // every pixel is written
    ResolveCounts counts;
    resolve_light_rows(&screen->rows, shadow.data(), W, &counts);
    EXPECT_EQ(counts.spans, 6);
    EXPECT_EQ(counts.overlaps, 0);
    auto row = [&](int y) { return &shadow[(size_t)y * W]; };
    for (int x = 0; x < W; x++) EXPECT_EQ(row(10)[x], 0u);
    EXPECT_EQ(row(11)[0], 2u);
    EXPECT_EQ(row(11)[2], 2u);
    EXPECT_EQ(row(11)[3], 0u);
    EXPECT_EQ(row(12)[389], 0u);
    EXPECT_EQ(row(12)[390], 3u);
    EXPECT_EQ(row(12)[399], 3u);
    EXPECT_EQ(row(13)[398], 4u);
    EXPECT_EQ(row(13)[399], 0u);
    EXPECT_EQ(row(14)[19], 5u);
    EXPECT_EQ(row(14)[20], 0u);
    EXPECT_EQ(row(14)[30], 6u);
    EXPECT_EQ(row(15)[30], 0u);
}

// A span with no usable texture level is skipped rather than read wildly.
TEST_F(Resolve, CameraViewSkipsSpansWithoutAUsableLevel) {
    ScanlineSpanList* rows = this->rows();
    std::vector<uint32_t> frame((size_t)W * H, 0xDEADBEEFu);  // every pixel is written
    SpanNode s = span;
    s.inv_z = 0.1f, s.lz_over_z = 1.0f, s.x_left = 10, s.x_right = 20;
    ASSERT_NE(span_list_append(&rows[5], &s), nullptr);
    SpanShading no_level = shading, no_texture = shading;
    no_level.level_index = 25;  // 5 x 5 levels: 0..24
    s.shading = &no_level;
    ASSERT_NE(span_list_append(&rows[6], &s), nullptr);
    no_texture.texture = nullptr;  // same level as the last usable span: must still be refused
    s.shading = &no_texture;
    ASSERT_NE(span_list_append(&rows[7], &s), nullptr);
    s.shading = &shading;  // usable again after refused ones
    ASSERT_NE(span_list_append(&rows[8], &s), nullptr);
    s.shading = nullptr;  // a depth-only span
    ASSERT_NE(span_list_append(&rows[9], &s), nullptr);
    ResolveCounts counts;
    resolve_camera_rows(&screen->rows, frame.data(), &state, &counts);
    EXPECT_EQ(counts.spans, 5);
    EXPECT_NE(frame[5 * W + 10], 0u);
    EXPECT_EQ(frame[5 * W + 20], 0u);
    EXPECT_EQ(frame[6 * W + 10], 0u);
    EXPECT_EQ(frame[7 * W + 10], 0u);
    EXPECT_EQ(frame[8 * W + 10], frame[5 * W + 10]);
    EXPECT_EQ(frame[9 * W + 10], 0u);
}

void* failing_allocator(void*, size_t) { return nullptr; }

// Both warnings, into the buffer of the pass that found the problem, and
// recorded per pass for the frame's record.
TEST_F(Resolve, WarningsForOverlapsAndAnExhaustedPool) {
    {
        ScratchDir dir("resolve_font");
        ASSERT_TRUE(dir.ok());
        std::vector<uint32_t> white(16 * 11 * 6 * 13, 0x00FFFFFFu);
        RgbImage atlas = {white.data(), 16 * 11, 6 * 13};
        ASSERT_EQ(bmp_write("Font.bmp", &atlas), 1);
        ASSERT_EQ(font_init(W, H), 1);
    }
    ScanlineSpanList* rows = this->rows();
    SpanPool* pool = &screen->rows.pool;
    SpanNode s = {};
    s.face_id = 9;
    s.x_left = 100, s.x_right = 120;
    ASSERT_NE(span_list_append(&rows[200], &s), nullptr);
    ResolveCounts counts;
    resolve_light_rows(&screen->rows, shadow.data(), W, &counts);
    EXPECT_EQ(resolve_draw_warnings(counts.overlaps, span_pool_status(pool) == -1, shadow.data()), 0u);
    s.x_left = 110, s.x_right = 130;  // overlaps its left neighbour
    ASSERT_NE(span_list_append(&rows[200], &s), nullptr);
    resolve_light_rows(&screen->rows, shadow.data(), W, &counts);
    EXPECT_EQ(counts.spans, 2);
    EXPECT_EQ(counts.overlaps, 1);
    EXPECT_EQ(resolve_draw_warnings(counts.overlaps, span_pool_status(pool) == -1, shadow.data()),
              (uint32_t)RESOLVE_WARNING_OVERLAP);
    EXPECT_EQ(shadow[21 * W + 55], 0x00FFFFFFu);
    EXPECT_EQ(shadow[51 * W + 55], 0u);

    // Exhaust the pool with growth failing.
    span_pool_set_allocator(failing_allocator);
    s.x_left = 0, s.x_right = 1;
    for (int i = 0; i < 3000 && span_pool_status(pool) == 0; i++) span_list_append(&rows[250], &s);
    span_pool_set_allocator(nullptr);
    ASSERT_EQ(span_pool_status(pool), -1);
    std::vector<uint32_t> frame((size_t)W * H, 0);
    resolve_camera_rows(&screen->rows, frame.data(), &state, &counts);
    EXPECT_EQ(resolve_draw_warnings(counts.overlaps, span_pool_status(pool) == -1, frame.data()),
              (uint32_t)(RESOLVE_WARNING_OVERLAP | RESOLVE_WARNING_OUT_OF_MEMORY));
    EXPECT_EQ(frame[21 * W + 55], 0x00FFFFFFu);
    EXPECT_EQ(frame[51 * W + 55], 0x00FFFFFFu);
    font_free();
}

}  // namespace
