#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pipeline/neutral_texture.h"
#include "pipeline/records.h"
#include "pipeline/shading_setup.h"
#include "synthetic_scene.h"

namespace {

ClipVertex at(float x, float y, float z = 10.0f, float u = 0.0f, float v = 0.0f) {
    ClipVertex c = {};
    c.x = x, c.y = y, c.z = z, c.u = u, c.v = v;
    return c;
}

ClipPolygon polygon(std::initializer_list<ClipVertex> vertices) {
    ClipPolygon p = {};
    for (const ClipVertex& v : vertices) p.v[p.count++] = v;
    return p;
}

struct Span {
    int y, left, right;
};

class Setup : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(synthetic::set_screen(400, 300), 1);
        screen.reset(new synthetic::ScreenRows(300));
    }
    // Every visible span of every row, top to bottom.
    std::vector<Span> all_spans() const {
        std::vector<Span> out;
        for (int y = 0; y < 300; y++) {
            const ScanlineSpanList* row = &screen->lists[(size_t)y];
            const SpanNode* n = row->first;
            for (int i = 0; i < row->active_count; i++, n = n->next) out.push_back({y, n->x_left, n->x_right});
        }
        return out;
    }
    const SpanNode* first_span(int y) const {
        const ScanlineSpanList* row = &screen->lists[(size_t)y];
        return row->active_count > 0 ? row->first : nullptr;
    }
    SpanRows* rows() { return &screen->rows; }
    std::unique_ptr<synthetic::ScreenRows> screen;
    ShadingStore kept;  // the camera spans' shading, for as long as the test's rows
};

// The worked triangle: rows 50..149, left chain one edge, right chain two.
TEST_F(Setup, EdgeChainsOfTheWorkedTriangle) {
    ClipPolygon p = polygon({at(100, 50), at(60, 150), at(180, 130)});
    EdgeChains chains;
    const EdgeChains* c = &chains;
    ASSERT_EQ(setup_edge_chains(&p, &synthetic::test_screen, &chains), 1);
    EXPECT_EQ(c->first_row, 50);
    EXPECT_EQ(c->end_row, 150);
    ASSERT_EQ(c->left_count, 1);
    EXPECT_EQ(c->left[0].x, 100 * 65536);
    EXPECT_EQ(c->left[0].y, 50);
    EXPECT_EQ(c->left[0].count, 100);
    EXPECT_EQ(c->left[0].dx, -26214);
    ASSERT_EQ(c->right_count, 2);  // bottom edge first
    EXPECT_EQ(c->right[0].x, 180 * 65536);
    EXPECT_EQ(c->right[0].y, 130);
    EXPECT_EQ(c->right[0].count, 20);
    EXPECT_EQ(c->right[0].dx, -6 * 65536);
    EXPECT_EQ(c->right[1].x, 100 * 65536);
    EXPECT_EQ(c->right[1].y, 50);
    EXPECT_EQ(c->right[1].count, 80);
    EXPECT_EQ(c->right[1].dx, 65536);
    // Its record walks 100 rows from row 50 with those edges.
    alignas(8) unsigned char bytes[POLYGON_RECORD_MAX];
    ASSERT_NE(polygon_record_light(&p, &synthetic::test_screen, 4, bytes), 0u);
    const PolygonRecord* record = (const PolygonRecord*)bytes;
    EXPECT_EQ(record->first_row, 50);
    EXPECT_EQ(record->row_count, 100);
    EXPECT_EQ(record->left_count, 1);
    EXPECT_EQ(record->right_count, 2);
    EXPECT_EQ(polygon_record_edges(record)[2].count, 80);  // the topmost right edge
    // Header, shading (camera only), planes, edges, 6 checkpoints (100 rows), floors.
    EXPECT_EQ(record->size, 24 + 16 + 3 * 16 + 6 * 4 + 24);
    EXPECT_EQ(record->checkpoints, 6);
    EXPECT_EQ(polygon_record_shading(record), nullptr);
    alignas(8) unsigned char camera[POLYGON_RECORD_MAX];
    ASSERT_EQ(polygon_record_camera(&p, &synthetic::test_screen, nullptr, 4, camera), 24u + 32 + 56 + 3 * 16 + 6 * 24 + 24);
    EXPECT_EQ(polygon_record_shading((const PolygonRecord*)camera)->texture, pipeline_neutral_texture());
    EXPECT_EQ(polygon_record_edges((const PolygonRecord*)camera)[2].count, 80);
}

TEST_F(Setup, GradientsOfTheWorkedTriangle) {
    // D = -11200 for these vertices; W = 1/z is the plane 23/280 + x/2800 - y/2800.
    ClipPolygon p = polygon({at(100, 50, 10, 0.0f, 0.0f), at(60, 150, 20, 1.0f, 0.0f),
                             at(180, 130, 10, 0.0f, 1.0f)});
    PolygonGradients gradients;
    const PolygonGradients* g = &gradients;
    ASSERT_EQ(compute_gradients(&p, 64, 32, &gradients), 1);
    EXPECT_FLOAT_EQ(g->w.dx, 1.0f / 2800.0f);
    EXPECT_FLOAT_EQ(g->w.dy, -1.0f / 2800.0f);
    EXPECT_FLOAT_EQ(g->w.at_origin, 23.0f / 280.0f);
    for (int i = 0; i < 3; i++) {
        const ClipVertex& v = p.v[i];
        auto plane = [&](const PlaneGradient& a) { return a.at_origin + v.x * a.dx + v.y * a.dy; };
        EXPECT_NEAR(plane(g->w), 1.0f / v.z, 1e-6f);
        EXPECT_NEAR(plane(g->u), v.u * 64.0f / v.z, 1e-4f);
        EXPECT_NEAR(plane(g->v), v.v * 32.0f / v.z, 1e-4f);
    }
    ClipPolygon line = polygon({at(10, 10), at(20, 20), at(30, 30)});
    EXPECT_EQ(compute_gradients(&line, 64, 32, &gradients), 0);
}

// The planes, worked out four attributes at a time, are the plain formula's
// bit for bit: d1 = A1 - A0, d2 = A2 - A0, dA/dx = (d1 * (y2 - y0) - d2 *
// (y1 - y0)) / D, dA/dy = (d2 * (x1 - x0) - d1 * (x2 - x0)) / D,
// A(0, 0) = A0 - x0 * dA/dx - y0 * dA/dy, each step rounded to float.
TEST_F(Setup, GradientsAreThePlainFormulasBitForBit) {
    std::srand(3);
    auto random = [](float lo, float hi) { return lo + (hi - lo) * (float)std::rand() / (float)RAND_MAX; };
    for (int trial = 0; trial < 2000; trial++) {
        ClipPolygon p = {};
        p.count = 3;
        for (int i = 0; i < 3; i++) {
            p.v[i] = at(random(2, 398), random(2, 298), random(0.1f, 900.0f), random(-50, 50), random(-50, 50));
            p.v[i].lx = random(-500, 500), p.v[i].ly = random(-500, 500), p.v[i].lz = random(-500, 500);
        }
        int32_t tw = 1 << (std::rand() % 9), th = 1 << (std::rand() % 9);
        PolygonGradients g;
        float d = (p.v[1].x - p.v[0].x) * (p.v[2].y - p.v[0].y) - (p.v[2].x - p.v[0].x) * (p.v[1].y - p.v[0].y);
        ASSERT_EQ(compute_gradients(&p, tw, th, &g), d != 0.0f);
        if (d == 0.0f) continue;
        const PlaneGradient* got[6] = {&g.w, &g.u, &g.v, &g.lx, &g.ly, &g.lz};
        float a[6][3];
        for (int i = 0; i < 3; i++) {
            float w = 1.0f / p.v[i].z;
            float u = w * p.v[i].u, v = w * p.v[i].v;
            float values[6] = {w, u * (float)tw, v * (float)th, w * p.v[i].lx, w * p.v[i].ly, w * p.v[i].lz};
            for (int k = 0; k < 6; k++) a[k][i] = values[k];
        }
        for (int k = 0; k < 6; k++) {
            float d1 = a[k][1] - a[k][0], d2 = a[k][2] - a[k][0];
            float y20 = p.v[2].y - p.v[0].y, y10 = p.v[1].y - p.v[0].y;
            float x10 = p.v[1].x - p.v[0].x, x20 = p.v[2].x - p.v[0].x;
            float dx = (d1 * y20 - d2 * y10) / d, dy = (d2 * x10 - d1 * x20) / d;
            float at_origin = a[k][0] - p.v[0].x * dx - p.v[0].y * dy;
            ASSERT_EQ(got[k]->dx, dx) << trial << " " << k;
            ASSERT_EQ(got[k]->dy, dy) << trial << " " << k;
            ASSERT_EQ(got[k]->at_origin, at_origin) << trial << " " << k;
        }
    }
}

// A planar quad: the planes from its first three vertices reproduce the fourth.
TEST_F(Setup, GradientsOfAQuadFitEveryVertex) {
    // View-space square at an angle, projected with focal 200 around (200, 150).
    float view[4][3] = {{-5, -5, 20}, {5, -5, 30}, {5, 5, 30}, {-5, 5, 20}};
    ClipPolygon p = {};
    for (int i = 0; i < 4; i++) {
        ClipVertex& v = p.v[p.count++];
        v = at(200 * view[i][0] / view[i][2] + 200, 200 * view[i][1] / view[i][2] + 150, view[i][2]);
        v.lx = view[i][0] + 3, v.ly = view[i][1] - 2, v.lz = view[i][2] * 2;
    }
    PolygonGradients gradients;
    const PolygonGradients* g = &gradients;
    ASSERT_EQ(compute_gradients(&p, 0, 0, &gradients), 1);
    const ClipVertex& v = p.v[3];
    EXPECT_NEAR(g->w.at_origin + v.x * g->w.dx + v.y * g->w.dy, 1.0f / v.z, 1e-6f);
    EXPECT_NEAR(g->lx.at_origin + v.x * g->lx.dx + v.y * g->lx.dy, v.lx / v.z, 1e-5f);
    EXPECT_NEAR(g->lz.at_origin + v.x * g->lz.dx + v.y * g->lz.dy, 2.0f, 1e-5f);
}

TEST_F(Setup, RowsAreSampledAtIntegerYAndColumnsAtTheFloorOfTheEdges) {
    // All vertices between two rows: no row.
    ClipPolygon thin = polygon({at(10, 10.2f), at(30, 10.9f), at(50, 10.5f)});
    EXPECT_EQ(emit_polygon_light(&thin, &synthetic::test_screen, 1, rows()), 0);
    EXPECT_TRUE(all_spans().empty());

    // A vertex on row 20 belongs to the edge below it; row 30 is not covered.
    // Flat top: both chains start at row 20 and the flat edge is skipped.
    ClipPolygon flat = polygon({at(10.5f, 20), at(10.5f, 30), at(50.75f, 20)});
    ASSERT_EQ(emit_polygon_light(&flat, &synthetic::test_screen, 1, rows()), 1);
    std::vector<Span> s = all_spans();
    ASSERT_EQ(s.size(), 10u);
    EXPECT_EQ(s.front().y, 20);
    EXPECT_EQ(s.back().y, 29);
    EXPECT_EQ(s.front().left, 10);   // floor(10.5)
    EXPECT_EQ(s.front().right, 50);  // floor(50.75)
    // Row 25: the right edge is at 50.75 - 40.25 * 5 / 10 = 30.625.
    EXPECT_EQ(s[5].right, 30);
}

// Rows that would get no span (nothing reaches column 1, or the edges lie
// within one column) get none; a short polygon with no other rows makes no
// record at all, a tall one is walked.
TEST_F(Setup, SpansEndingAtOrLeftOfColumnZeroAreNotEmitted) {
    const struct {
        ClipPolygon p;
        int emitted;
    } cases[] = {{polygon({at(0, 10), at(0, 13), at(0.9f, 11.5f)}), 0},
                 {polygon({at(10.2f, 10), at(10.2f, 13), at(10.8f, 11.5f)}), 0},
                 {polygon({at(0, 10), at(0, 20), at(0.9f, 15)}), 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(emit_polygon_light(&c.p, &synthetic::test_screen, 1, rows()), c.emitted);
        EXPECT_EQ(emit_polygon_camera(&c.p, &synthetic::test_screen, nullptr, 1, rows(), &kept), c.emitted);
        EXPECT_TRUE(all_spans().empty());
    }
}

// Columns of every row against the edges evaluated in double precision at the
// row's integer y: within the truncation of the 16.16 steps. A row whose
// edges fall within one column (a triangle's tip) gets no span.
TEST_F(Setup, CoverageFollowsAFloatReference) {
    std::srand(7);
    for (int trial = 0; trial < 200; trial++) {
        span_rows_reset(rows());
        ClipVertex v[3];
        for (ClipVertex& c : v) c = at(2 + (float)(std::rand() % 39600) / 100.0f, 2 + (float)(std::rand() % 29600) / 100.0f);
        // Counter-clockwise on screen (y down), as the object pass delivers faces.
        float area = (v[1].x - v[0].x) * (v[2].y - v[0].y) - (v[2].x - v[0].x) * (v[1].y - v[0].y);
        if (area > 0) std::swap(v[1], v[2]);
        ClipPolygon p = polygon({v[0], v[1], v[2]});
        int emitted = emit_polygon_light(&p, &synthetic::test_screen, 1, rows());
        double min_y = std::min({v[0].y, v[1].y, v[2].y}), max_y = std::max({v[0].y, v[1].y, v[2].y});
        std::vector<Span> spans = all_spans();
        if (std::ceil(min_y) >= std::ceil(max_y)) {
            EXPECT_EQ(emitted, 0);
            continue;
        }
        if (area == 0) continue;
        // A record whenever a row gets a span; none for a short polygon without one.
        if (!spans.empty() || std::ceil(max_y) - std::ceil(min_y) <= 4) {
            EXPECT_EQ(emitted, spans.empty() ? 0 : 1) << "a record exactly when a row gets a span";
        }
        size_t next = 0;
        for (int y = (int)std::ceil(min_y); y < (int)std::ceil(max_y); y++) {
            // Crossings of the row's centre line y with the triangle's edges.
            double lo = 1e9, hi = -1e9;
            for (int e = 0; e < 3; e++) {
                const ClipVertex& a = v[e];
                const ClipVertex& b = v[(e + 1) % 3];
                double y0 = std::min(a.y, b.y), y1 = std::max(a.y, b.y);
                if (!(y >= y0 && y <= y1) || y0 == y1) continue;
                double x = a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y);
                lo = std::min(lo, x), hi = std::max(hi, x);
            }
            if (next == spans.size() || spans[next].y != y) {
                EXPECT_LE(std::floor(hi - 0.01), std::floor(lo + 0.01)) << "row " << y << " has no span";
                continue;
            }
            const Span& s = spans[next++];
            EXPECT_LT(s.left, s.right) << "row " << y;
            // The 16.16 walk is off by well under 0.01 pixel; only an edge
            // that close to a column boundary may floor to the neighbour.
            auto check = [&](int actual, double exact) {
                if (std::fabs(exact - std::round(exact)) > 0.01)
                    EXPECT_EQ(actual, (int)std::floor(exact)) << "row " << s.y << " edge " << exact;
                else
                    EXPECT_NEAR(actual, std::floor(exact), 1.0) << "row " << s.y;
            };
            check(s.left, lo);
            check(s.right, hi);
        }
        EXPECT_EQ(next, spans.size()) << "spans outside the triangle's rows";
    }
}

// A chain that turns back up across a row boundary has an edge with a
// negative count; it is skipped and the walk still ends at the polygon's
// last row, even at the bottom of the screen. (The top row, where both
// chains start at the top corner, covers no column.)
TEST_F(Setup, NegativeCountEdgesAreSkippedAndTheWalkEnds) {
    // Right chain (bottom to top): 300 -> 289.5 -> 290.5 -> 270.
    ClipPolygon right = polygon({at(50, 270), at(40, 300), at(75, 289.5f), at(80, 290.5f)});
    ASSERT_EQ(emit_polygon_light(&right, &synthetic::test_screen, 1, rows()), 1);
    std::vector<Span> s = all_spans();
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s.front().y, 271);
    EXPECT_EQ(s.back().y, 299);
    EXPECT_EQ(s.size(), 29u);

    span_rows_reset(rows());
    // Left chain (top to bottom): 10 -> 30.5 -> 29.5 -> 40.
    ClipPolygon left = polygon({at(50, 10), at(20, 30.5f), at(25, 29.5f), at(40, 40)});
    ASSERT_EQ(emit_polygon_light(&left, &synthetic::test_screen, 1, rows()), 1);
    s = all_spans();
    ASSERT_EQ(s.size(), 29u);
    EXPECT_EQ(s.back().y, 39);
}

TEST_F(Setup, VerticesOffTheScreenOrNotFiniteAreRejected) {
    ClipPolygon below = polygon({at(10, 290), at(20, 301), at(30, 295)});
    EdgeChains chains;
    EXPECT_EQ(setup_edge_chains(&below, &synthetic::test_screen, &chains), 0);
    ClipPolygon nan = polygon({at(10, 20), at(NAN, 40), at(30, 30)});
    EXPECT_EQ(setup_edge_chains(&nan, &synthetic::test_screen, &chains), 0);
    ClipPolygon empty = {};
    EXPECT_EQ(emit_polygon_light(&empty, &synthetic::test_screen, 1, rows()), 0);
    EXPECT_EQ(emit_polygon_camera(&empty, &synthetic::test_screen, nullptr, 1, rows(), &kept), 0);
    EXPECT_TRUE(all_spans().empty());
}

// The screen test takes vertices two at a time (an odd last one twice): a
// vertex just off any side, or not finite, fails the polygon wherever it
// stands; vertices on the edges pass.
TEST_F(Setup, ScreenTestFindsAnOffScreenVertexAtEveryPosition) {
    const float w = (float)synthetic::test_screen.width, h = (float)synthetic::test_screen.height;
    const ClipVertex ring[] = {at(0, 0), at(w, 1), at(w, h), at(w / 2, h), at(0, h / 2)};  // on the edges
    const ClipVertex off[] = {at(-0.01f, 50), at(w + 0.01f, 50), at(50, -0.01f), at(50, h + 0.01f), at(NAN, 50),
                              at(50, INFINITY)};
    EdgeChains chains;
    for (int n = 3; n <= 5; n++) {
        ClipPolygon p = {};
        p.count = n;
        for (int i = 0; i < n; i++) p.v[i] = ring[i];
        EXPECT_EQ(setup_edge_chains(&p, &synthetic::test_screen, &chains), 1) << n;
        for (int i = 0; i < n; i++)
            for (const ClipVertex& bad : off) {
                ClipPolygon q = p;
                q.v[i] = bad;
                EXPECT_EQ(setup_edge_chains(&q, &synthetic::test_screen, &chains), 0)
                    << n << " vertices, " << bad.x << ", " << bad.y << " at " << i;
            }
    }
}

TEST(TextureLevel, ThresholdsSitNearThePowersOfFour) {
    EXPECT_EQ(select_texture_level(0.0f), 0);
    EXPECT_EQ(select_texture_level(5.0f), 0);
    EXPECT_EQ(select_texture_level(5.01f), 1);
    EXPECT_EQ(select_texture_level(20.0f), 1);
    EXPECT_EQ(select_texture_level(20.01f), 2);
    EXPECT_EQ(select_texture_level(70.01f), 3);
    EXPECT_EQ(select_texture_level(250.01f), 4);
    EXPECT_EQ(select_texture_level(1000.1f), 5);
    EXPECT_EQ(select_texture_level(4000.1f), 6);
    EXPECT_EQ(select_texture_level(16000.1f), 7);
    EXPECT_EQ(select_texture_level(65500.0f), 7);
    EXPECT_EQ(select_texture_level(65501.0f), 8);
    EXPECT_EQ(select_texture_level(262000.0f), 8);
    EXPECT_EQ(select_texture_level(300000.0f), 9);
    EXPECT_EQ(select_texture_level(INFINITY), 9);
    EXPECT_EQ(select_texture_level(NAN), 0);  // a polygon of no screen area
}

TEST(TextureLevel, AreaRatioIsTexelsOfLevelZeroPerPixel) {
    auto t = synthetic::make_texture(256, 64, [](int, int, int, int) { return 0; },
                                     [](uint32_t) { return 0u; });
    // 10 x 10 pixel right triangle mapped onto a 128 x 32 texel one.
    ClipPolygon p = polygon({at(0, 0, 1, 0, 0), at(10, 0, 1, 1, 0), at(0, 10, 1, 0, 1)});
    EXPECT_FLOAT_EQ(texel_area_ratio(&p, t->texture), 128.0f * 32.0f / 100.0f);
}

TEST_F(Setup, LevelIsClampedPerAxis) {
    // 256 x 64 file: 7 levels across, 5 down. A tiny triangle mapping the whole
    // texture many times asks for level 9: level (6, 4), record 4 * 7 + 6,
    // 2 x 2 texels.
    auto t = synthetic::make_texture(256, 64, [](int, int, int, int) { return 1; },
                                     [](uint32_t) { return 0x00FFFFFFu; });
    ClipPolygon p = polygon({at(100, 100, 10, 0, 0), at(100, 104, 10, 0, 100), at(104, 100, 10, 100, 0)});
    ASSERT_EQ(emit_polygon_camera(&p, &synthetic::test_screen, t->texture, 9, rows(), &kept), 1);
    const SpanNode* s = first_span(100);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->shading->level_index, 34);
    EXPECT_EQ(s->shading->texture, t->texture);
    EXPECT_EQ(s->face_id, 9u);
    // u runs 0..100 over 4 columns at level width 2: u/z gradient 100 * 2 / 10 / 4.
    EXPECT_FLOAT_EQ(s->shading->d_u_over_z, 5.0f);
    EXPECT_FLOAT_EQ(s->d_inv_z, 0.0f);
    EXPECT_FLOAT_EQ(s->inv_z, 0.1f);
}

TEST_F(Setup, FacesWithoutATextureGetTheNeutralChecker) {
    Texture* neutral = pipeline_neutral_texture();
    ASSERT_GE(neutral->level_count_x, 1);
    ASSERT_GE(neutral->level_count_y, 1);
    EXPECT_EQ(neutral, pipeline_neutral_texture());  // built once
    for (int i = 0; i < neutral->level_count_x * neutral->level_count_y; i++) {
        const TextureLevel& l = neutral->levels[i];
        EXPECT_EQ(l.last_texel, l.width * l.height - 1);
        EXPECT_EQ(1 << (16 - l.coord_shift), l.width);
    }
    ClipPolygon p = polygon({at(10, 10), at(10, 40), at(40, 10)});
    ASSERT_EQ(emit_polygon_camera(&p, &synthetic::test_screen, nullptr, 3, rows(), &kept), 1);
    ASSERT_NE(first_span(10), nullptr);
    EXPECT_EQ(first_span(10)->shading->texture, neutral);
    Texture levelless = *neutral;
    levelless.level_count_y = 0;
    span_rows_reset(rows());
    ASSERT_EQ(emit_polygon_camera(&p, &synthetic::test_screen, &levelless, 3, rows(), &kept), 1);
    EXPECT_EQ(first_span(10)->shading->texture, neutral);
}

// Per row the template carries the planes at column 0 of that row; every
// attribute evaluated at a covered pixel matches the polygon's own value there.
TEST_F(Setup, RowTemplatesCarryThePlanesAtColumnZero) {
    auto t = synthetic::checker_texture();
    ClipPolygon p = polygon({at(100, 50, 10, 0, 0), at(60, 150, 20, 1, 0), at(180, 130, 10, 0, 1)});
    for (int i = 0; i < 3; i++) p.v[i].lx = p.v[i].x, p.v[i].ly = p.v[i].y, p.v[i].lz = 7;
    ASSERT_EQ(emit_polygon_camera(&p, &synthetic::test_screen, t->texture, 5, rows(), &kept), 1);
    // The planes setup built, at the level it chose for this polygon.
    int level = select_texture_level(texel_area_ratio(&p, t->texture));
    PolygonGradients gradients;
    const PolygonGradients* g = &gradients;
    ASSERT_EQ(compute_gradients(&p, t->texture->base_width >> std::min(level, t->texture->level_count_x - 1),
                                t->texture->base_height >> std::min(level, t->texture->level_count_y - 1),
                                &gradients),
              1);
    for (int y : {51, 90, 130, 149}) {  // row 50 holds only the top corner
        const SpanNode* s = first_span(y);
        ASSERT_NE(s, nullptr) << y;
        float x = (float)s->x_left;
        EXPECT_NEAR(s->inv_z + x * s->d_inv_z, g->w.at_origin + x * g->w.dx + y * g->w.dy, 1e-6f);
        EXPECT_NEAR(s->lz_over_z + x * s->shading->d_lz_over_z, g->lz.at_origin + x * g->lz.dx + y * g->lz.dy, 1e-4f);
        EXPECT_EQ(s->shading->d_v_over_z, g->v.dx);
    }
    EXPECT_EQ(first_span(150), nullptr);
    EXPECT_EQ(first_span(49), nullptr);
}

}  // namespace

namespace {

// Every field of every visible span of the set's rows, top to bottom, links aside.
std::vector<SpanNode> row_spans(const SpanRows* rows) {
    std::vector<SpanNode> out;
    for (int32_t r = 0; r < rows->row_count; r++) {
        const SpanNode* n = rows->lists[r].first;
        for (int32_t i = 0; i < rows->lists[r].active_count; i++, n = n->next) {
            SpanNode s = *n;
            s.prev = s.next = nullptr;
            out.push_back(s);
        }
    }
    return out;
}

// A tall face in front of the top half, a far wall over everything with
// faces behind it in the lower half, then thin faces reaching from behind
// the tall face to in front of the wall, and tall thin faces in front of all:
// rows with floors skip the hidden parts (and whole runs of rows, but not
// the rows where a face comes out in front), walks into lower row sets start
// from the records' kept rows and floors. Walked into 12-row sets, every
// span must equal, bit for bit, the span of one walk over all rows without
// floors.
TEST(SetupWalk, RowSetsWithFloorsGiveTheSpansOfOneWalk) {
    ASSERT_EQ(synthetic::set_screen(400, 300), 1);
    auto t = synthetic::checker_texture();
    std::vector<ClipPolygon> faces;
    faces.push_back(polygon({at(2, 2, 5, 0, 0), at(398, 160, 6, 1, 1), at(398, 2, 5, 1, 0)}));
    faces.push_back(polygon({at(2, 2, 5, 0, 0), at(2, 150, 6, 0, 1), at(398, 160, 6, 1, 1)}));
    faces.push_back(polygon({at(2, 2, 100, 0, 0), at(2, 298, 100, 0, 1), at(398, 298, 100, 1, 1)}));
    faces.push_back(polygon({at(2, 2, 100, 0, 0), at(398, 298, 100, 1, 1), at(398, 2, 100, 1, 0)}));
    for (int i = 0; i < 120; i++) {
        float x = 10.0f + (float)i * 3.2f;
        faces.push_back(polygon({at(x, 100, 150, 0, 0), at(x + 3.0f, 285, 150, 1, 1), at(x + 3.0f, 100, 150, 1, 0)}));
    }
    for (int i = 0; i < 240; i++) {
        float x = 10.0f + (float)(i % 120) * 3.1f, z = 20.0f + (float)i * 0.2f;
        faces.push_back(polygon({at(x, 290, z, 0, 0), at(x + 2.5f, 290, z + 0.5f, 1, 0), at(x + 1.2f, 8, z, 0.5f, 1)}));
    }
    for (int i = 0; i < 12; i++) {
        float x = 20.0f + (float)i * 31.0f;
        faces.push_back(polygon({at(x, 280, 3, 0, 0), at(x + 4.0f, 280, 3, 1, 0), at(x + 2.0f, 20, 3, 0.5f, 1)}));
    }
    for (auto& f : faces)
        for (int i = 0; i < f.count; i++) f.v[i].lx = f.v[i].x * 0.9f, f.v[i].ly = f.v[i].y, f.v[i].lz = f.v[i].z;
    for (int camera = 0; camera < 2; camera++) {
        std::vector<ScanlineSpanList> whole_lists(300), band_lists(300);
        SpanRows whole;
        ASSERT_EQ(span_rows_create(&whole, whole_lists.data(), 0, 300, 0), 1);  // no hints, no floors
        std::vector<SpanRows> bands(25);
        for (int b = 0; b < 25; b++) ASSERT_EQ(span_rows_create(&bands[b], &band_lists[b * 12], b * 12, 12, 400), 1);
        alignas(8) unsigned char record[POLYGON_RECORD_MAX];
        SpanNode a = {}, b = {};
        uint32_t id = 1;
        long floored = 0;
        for (const ClipPolygon& f : faces) {
            size_t size = camera ? polygon_record_camera(&f, &synthetic::test_screen, t->texture, id++, record)
                                 : polygon_record_light(&f, &synthetic::test_screen, id++, record);
            ASSERT_GT(size, 0u);
            polygon_walk((const PolygonRecord*)record, &whole, &a);
            for (SpanRows& band : bands) polygon_walk((const PolygonRecord*)record, &band, &b);
        }
        for (int r = 0; r < 25; r++) {
            SpanRows part = whole;
            part.lists = &whole_lists[r * 12], part.first_row = r * 12, part.row_count = 12;
            std::vector<SpanNode> want = row_spans(&part), got = row_spans(&bands[r]);
            ASSERT_EQ(want.size(), got.size()) << "band " << r;
            for (size_t i = 0; i < want.size(); i++)
                ASSERT_EQ(std::memcmp(&want[i], &got[i], sizeof(SpanNode)), 0) << "band " << r << " span " << i;
            for (int i = 0; i < 12; i++) floored += band_lists[r * 12 + i].floor_credit >= 0;
        }
        EXPECT_GT(floored, 100) << "rows that kept floors";
        span_rows_destroy(&whole);
        for (SpanRows& band : bands) span_rows_destroy(&band);
    }
}

}  // namespace
