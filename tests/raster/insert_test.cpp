#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "raster/insert.h"
#include "raster/span_pool.h"
#include "span_rows.h"

namespace {

class InsertTest : public ::testing::Test {
protected:
    ScanlineSpanList row;
    void SetUp() override {
        span_pool_set_allocator(nullptr);
        ASSERT_EQ(span_pool_create(&test_pool), 1);
        ASSERT_EQ(span_list_create(&test_pool, SPAN_LIST_INITIAL_NODES, &row), 1);
    }
    void TearDown() override {
        span_pool_destroy(&test_pool);
        span_pool_set_allocator(nullptr);
    }
    void insert(SpanNode s) { insert_span(&s, &row); }
    std::vector<Piece> pieces() { return visible(&row); }
};

TEST_F(InsertTest, WorkedExampleWithCrossing) {
    SpanNode s = make_span(0, 100, 1.0f, 0.0f, 1);
    insert(s);
    SpanNode n = make_span(20, 80, 0.5f, 0.01f, 2);
    insert(n);
    // Q = 50; S is nearer on the left and splits around N's right part.
    EXPECT_EQ(pieces(), (std::vector<Piece>{{0, 50, 1}, {50, 80, 2}, {80, 100, 1}}));
    std::vector<SpanNode*> nodes = chain_nodes(&row);
    EXPECT_TRUE(same_surface(*nodes[1], n));
    EXPECT_TRUE(same_surface(*nodes[2], s));  // the copy S' carries every word of S
}

TEST_F(InsertTest, WorkedExampleWithoutCrossing) {
    insert(make_span(10, 20, 0.5f, 0.0f, 1));
    insert(make_span(15, 30, 0.6f, 0.0f, 2));
    EXPECT_EQ(pieces(), (std::vector<Piece>{{10, 15, 1}, {15, 30, 2}}));
}

TEST_F(InsertTest, FirstSpanOfEmptyRowIsAppendedUnchanged) {
    SpanNode s = make_span(7, 3, 0.5f, 0.0f, 1);  // covers no column
    insert(s);
    EXPECT_EQ(pieces(), (std::vector<Piece>{{7, 3, 1}}));
    EXPECT_TRUE(same_surface(*row.first, s));
}

TEST_F(InsertTest, TouchingSpansDoNotOverlap) {
    insert(make_span(10, 20, 0.1f, 0.0f, 1));
    insert(make_span(0, 10, 0.9f, 0.0f, 2));   // ends where S begins: stored in front
    insert(make_span(20, 30, 0.9f, 0.0f, 3));  // begins at S's end: walks on
    EXPECT_EQ(pieces(), (std::vector<Piece>{{0, 10, 2}, {10, 20, 1}, {20, 30, 3}}));
}

TEST_F(InsertTest, TiesGoToTheExistingSpan) {
    insert(make_span(10, 50, 0.5f, 0.001f, 1));
    insert(make_span(10, 50, 0.5f, 0.001f, 2));  // same plane, same columns
    insert(make_span(0, 60, 0.5f, 0.001f, 3));   // same plane, wider
    EXPECT_EQ(pieces(), (std::vector<Piece>{{0, 10, 3}, {10, 50, 1}, {50, 60, 3}}));
}

TEST_F(InsertTest, ParallelPlanesNeverCross) {
    // Equal gradients give Q = -1; with the overlap reaching left of column 0
    // that must not count as a crossing: the nearer span owns all of it.
    insert(make_span(-20, 30, 0.5f, 0.002f, 1));
    insert(make_span(-30, 40, 0.6f, 0.002f, 2));
    EXPECT_EQ(pieces(), (std::vector<Piece>{{-30, 40, 2}}));
    int counts = 1;
    SpanNode a = make_span(0, 0, 0.5f, 0.002f, 1), b = make_span(0, 0, 0.6f, 0.002f, 2);
    EXPECT_EQ(crossing_column(&a, &b, -20, 30, &counts), -1);
    EXPECT_EQ(counts, 0);
}

TEST_F(InsertTest, CrossingColumnRoundsHalfUpAndCountsOnlyInside) {
    int counts;
    SpanNode s = make_span(0, 0, 1.0f, 0.0f, 1);
    SpanNode n = make_span(0, 0, 0.6875f, 0.125f, 2);  // crosses at 2.5 exactly
    EXPECT_EQ(crossing_column(&n, &s, 0, 10, &counts), 3);
    EXPECT_EQ(counts, 1);
    EXPECT_EQ(crossing_column(&n, &s, 3, 10, &counts), 3);  // at lo: does not count
    EXPECT_EQ(counts, 0);
    EXPECT_EQ(crossing_column(&n, &s, 0, 3, &counts), 3);  // at hi: does not count
    EXPECT_EQ(counts, 0);
    SpanNode m = make_span(0, 0, 0.68875f, 0.125f, 3);  // crosses at 2.49
    EXPECT_EQ(crossing_column(&m, &s, 0, 10, &counts), 2);
    // Nearly parallel: the crossing lies far beyond the int32 range.
    SpanNode far = make_span(0, 0, 0.5f, 1e-30f, 4);
    SpanNode far_s = make_span(0, 0, 0.6f, 0.0f, 5);
    crossing_column(&far, &far_s, -2147483647 - 1, 2147483647, &counts);
    EXPECT_EQ(counts, 0);
}

TEST_F(InsertTest, CrossingAtOverlapEndUsesTheProbe) {
    insert(make_span(0, 10, 1.0f, 0.0f, 1));
    // Crosses S exactly at column 5 = lo: no crossing, N nearer at the probe.
    insert(make_span(5, 20, 0.5f, 0.1f, 2));
    EXPECT_EQ(pieces(), (std::vector<Piece>{{0, 5, 1}, {5, 20, 2}}));
}

TEST_F(InsertTest, NearerInsideFartherSplitsIt) {
    SpanNode s = make_span(0, 100, 0.2f, 0.0f, 1);
    insert(s);
    insert(make_span(40, 60, 0.5f, 0.0f, 2));
    EXPECT_EQ(pieces(), (std::vector<Piece>{{0, 40, 1}, {40, 60, 2}, {60, 100, 1}}));
    insert(make_span(45, 55, 0.3f, 0.0f, 3));  // farther inside nearer: nothing changes
    EXPECT_EQ(pieces(), (std::vector<Piece>{{0, 40, 1}, {40, 60, 2}, {60, 100, 1}}));
}

TEST_F(InsertTest, FourPieces) {
    // S is nearer left of the crossing at 15, N is nearer right of it; N starts
    // left of S and ends inside it.
    insert(make_span(10, 50, 0.8f, -0.01f, 1));
    insert(make_span(0, 30, 0.5f, 0.01f, 2));
    EXPECT_EQ(pieces(), (std::vector<Piece>{{0, 10, 2}, {10, 15, 1}, {15, 30, 2}, {30, 50, 1}}));
}

TEST_F(InsertTest, NearerSpanCoveringSeveral) {
    insert(make_span(0, 10, 0.1f, 0.0f, 1));
    insert(make_span(10, 20, 0.1f, 0.0f, 2));
    insert(make_span(20, 30, 0.1f, 0.0f, 3));
    insert(make_span(35, 50, 0.1f, 0.0f, 4));
    std::vector<SpanNode*> before = chain_nodes(&row);
    insert(make_span(5, 40, 0.9f, 0.0f, 5));
    EXPECT_EQ(pieces(), (std::vector<Piece>{{0, 5, 1}, {5, 40, 5}, {40, 50, 4}}));
    EXPECT_EQ(row.node_count, 20);  // the hidden spans became spares ...
    std::vector<SpanNode*> after = chain_nodes(&row);
    EXPECT_EQ(after[1], before[2]);      // ... span 3's, moved to the end, took N's front part
    EXPECT_EQ(after.back(), before[1]);  // span 2's is the chain's last spare
}

TEST_F(InsertTest, EveryConfigurationAssignsColumnsToTheirWinner) {
    // S on [20, 40), nearer on the left (falling); N rising. For each of the
    // nine placements of N against S and all four outcomes, the row must be
    // exactly the per-column assignment.
    struct Case { int32_t nl, nr; };
    const Case placements[] = {{10, 30}, {25, 35}, {25, 50}, {10, 50}, {20, 30},
                               {20, 50}, {25, 40}, {10, 40}, {20, 40}};
    const float s_inv = 0.6f, s_d = -0.01f;
    for (const Case& c : placements) {
        int32_t lo = c.nl > 20 ? c.nl : 20, hi = c.nr < 40 ? c.nr : 40;
        // Crossing at k + 0.7: rounded to k + 1, which is also where the
        // exact per-column comparison changes sides.
        double mid = (lo + hi) / 2 + 0.7;
        struct Outcome { float inv, d; };
        const Outcome outcomes[] = {
            {(float)(s_inv + s_d * mid - 0.02 * mid), 0.02f},   // crossing, S left winner
            {(float)(s_inv + s_d * mid + 0.02 * mid), -0.02f},  // crossing, N left winner
            {0.9f, -0.01f},                                     // N nearer throughout
            {0.1f, -0.01f},                                     // S nearer throughout
        };
        for (int variant = 0; variant < 8; variant++) {
            const Outcome& o = outcomes[variant % 4];
            bool right_neighbour = variant < 4;
            TearDown();
            SetUp();
            // Stale spares that would hide everything if the walk ever ran
            // past the visible part.
            for (int i = 0; i < SPAN_LIST_INITIAL_NODES; i++) insert(make_span(-1000, 1000, 10.0f, 0.0f, 99));
            span_list_reset(&row);
            insert(make_span(0, 5, 0.5f, 0.0f, 7));  // a neighbour on the left, maybe one on the right
            if (right_neighbour) insert(make_span(60, 70, 0.5f, 0.0f, 8));
            insert(make_span(20, 40, s_inv, s_d, 1));
            SpanNode n = make_span(c.nl, c.nr, o.inv, o.d, 2);
            insert(n);
            std::vector<uint32_t> expect(80, 0), got(80, 0);
            for (int x = 0; x < 80; x++) {
                double wn = (double)n.inv_z + x * (double)n.d_inv_z;
                double ws = (double)s_inv + x * (double)s_d;
                bool in_n = x >= c.nl && x < c.nr, in_s = x >= 20 && x < 40;
                if (x < 5) expect[x] = 7;
                if (x >= 60 && x < 70 && right_neighbour) expect[x] = 8;
                if (in_s) expect[x] = 1;
                if (in_n && (!in_s || wn > ws)) expect[x] = 2;
            }
            std::vector<Piece> p = pieces();
            for (size_t i = 0; i < p.size(); i++) {
                if (i + 1 < p.size()) {
                    EXPECT_LE(p[i].right, p[i + 1].left);
                }
                for (int x = p[i].left; x < p[i].right; x++) got[x] = p[i].face_id;
            }
            for (int x = 0; x < 80; x++)
                EXPECT_EQ(got[x], expect[x]) << "N [" << c.nl << "," << c.nr << ") inv " << o.inv
                                             << " d " << o.d << " column " << x;
        }
    }
}

TEST_F(InsertTest, ReversedSpanKeepsTheRowSorted) {
    // A span with x_left > x_right covers nothing; it must not leave pieces
    // out of order that a later span would be overdrawn by.
    insert(make_span(0, 10, 0.2f, 0.0f, 1));
    insert(make_span(8, 3, 0.9f, 0.0f, 2));
    std::vector<Piece> p = pieces();
    for (size_t i = 0; i + 1 < p.size(); i++) {
        EXPECT_LE(p[i].left, p[i].right);
        EXPECT_LE(p[i].right, p[i + 1].left);
    }
    insert(make_span(4, 6, 0.5f, 0.0f, 3));
    std::vector<uint32_t> owner(10, 0);
    for (const Piece& q : pieces())
        for (int x = q.left; x < q.right; x++) owner[x] = q.face_id;
    EXPECT_EQ(owner, (std::vector<uint32_t>{1, 1, 1, 1, 3, 3, 1, 1, 1, 1}));
}

TEST_F(InsertTest, EmptySpansAtOneColumnCutAsTheirNearestAlone) {
    // Empty spans at column 50 of depths `empties` (last in the row, or in
    // front of a span), then a span across 50: it is cut there iff one of
    // them is at least as near, and the row keeps one empty node at 50
    // whatever their number.
    const float nan = std::nanf("");
    struct Case {
        std::vector<float> empties;
        float across;
        bool cut;
    } cases[] = {
        {{0.3f, 0.6f, 0.4f}, 0.5f, true},  {{0.3f, 0.6f, 0.4f}, 0.7f, false},
        {{0.3f, 0.6f, 0.4f}, 0.6f, true},  {{0.2f, nan, 0.1f}, 0.9f, true},
        {{nan}, nan, true},                {{0.2f, 0.1f}, nan, true},
    };
    for (const Case& c : cases) {
        for (int neighbour : {0, 1}) {
            span_list_reset(&row);
            if (neighbour) insert(make_span(60, 70, 0.05f, 0.0f, 90));  // the empties go in front of it
            uint32_t id = 1;
            for (float w : c.empties) insert(make_span(50, 50, w, 0.0f, id++));
            EXPECT_EQ(row.active_count, 1 + neighbour);
            insert(make_span(40, 60, c.across, 0.0f, 99));
            std::vector<Piece> want = c.cut ? std::vector<Piece>{{40, 50, 99}, {50, 60, 99}}
                                             : std::vector<Piece>{{40, 60, 99}};
            std::vector<Piece> got;
            for (const Piece& p : pieces())
                if (p.left < p.right && p.face_id == 99) got.push_back(p);
            EXPECT_EQ(got, want) << "across " << c.across << " neighbour " << neighbour;
        }
    }
}

TEST_F(InsertTest, HidingTheLastSpanOfAFullChainKeepsTheNewSpan) {
    // Every node visible (no spare behind them): the span that hides the
    // last one and runs on past it must land in the freed node.
    for (int nodes : {1, 2}) {
        ScanlineSpanList full;
        ASSERT_EQ(span_list_create(&test_pool, nodes, &full), 1);
        for (int i = 0; i < nodes; i++) {
            SpanNode s = make_span(10 + 20 * i, 20 + 20 * i, 0.1f, 0.0f, 1 + i);
            insert_span(&s, &full);
        }
        SpanNode n = make_span(5 + 20 * (nodes - 1), 40 + 20 * nodes, 0.9f, 0.0f, 9);
        insert_span(&n, &full);
        std::vector<Piece> want = {{5 + 20 * (nodes - 1), 40 + 20 * nodes, 9}};
        if (nodes == 2) want.insert(want.begin(), Piece{10, 20, 1});
        EXPECT_EQ(visible(&full), want) << nodes;
    }
}

void* no_memory(void*, size_t) { return nullptr; }

TEST_F(InsertTest, ExhaustedPoolInterruptsTheInsertion) {
    // Fill the row and leave exactly two nodes in the pool's block.
    for (int i = 0; i < 20; i++) insert(make_span(200 + 10 * i, 205 + 10 * i, 0.1f, 0.0f, 100 + i));
    ScanlineSpanList filler;
    ASSERT_EQ(span_list_create(&test_pool, 1024 - 20 - 2, &filler), 1);
    span_pool_set_allocator(no_memory);
    insert(make_span(0, 100, 0.2f, 0.0f, 1));  // takes the last node
    EXPECT_EQ(span_pool_status(&test_pool), 0);
    // N strictly inside S and nearer: N is stored, S' cannot be; S is not trimmed yet.
    insert(make_span(40, 60, 0.5f, 0.0f, 2));
    EXPECT_EQ(span_pool_status(&test_pool), -1);
    std::vector<Piece> p = pieces();
    ASSERT_EQ(row.active_count, 22);
    EXPECT_EQ(p[0], (Piece{0, 100, 1}));
    EXPECT_EQ(p[1], (Piece{40, 60, 2}));
    // Nothing more is stored while the pool cannot grow.
    insert(make_span(150, 160, 0.5f, 0.0f, 3));
    EXPECT_EQ(row.active_count, 22);
    span_pool_set_allocator(nullptr);
    insert(make_span(150, 160, 0.5f, 0.0f, 3));
    EXPECT_EQ(row.active_count, 23);
    EXPECT_EQ(span_pool_status(&test_pool), 0);
}

// -- randomized comparison with a per-column oracle --------------------------

struct RandomRow {
    std::vector<SpanNode> spans;  // every span inserted so far, in order
};

double depth(const SpanNode& s, int x) { return (double)s.inv_z + x * (double)s.d_inv_z; }

bool covers(const SpanNode& s, int x) { return x >= s.x_left && x < s.x_right; }

// A mismatch with the oracle is allowed only where two covering spans cross
// within a column of x (the crossing is rounded to a whole column, and one
// misplaced column can carry into later comparisons) or where the two owners
// are practically tied. Left of column 0 the crossing is truncated toward
// zero, which can move it by one more column there.
bool mismatch_allowed(const std::vector<SpanNode>& spans, int x, const SpanNode& got, const SpanNode& best) {
    double wg = depth(got, x), wb = depth(best, x);
    double scale = std::fabs(wb) > 1.0 ? std::fabs(wb) : 1.0;
    if (wb - wg <= 1e-6 * scale) return true;
    double slack = 0.0;
    bool near_crossing = false;
    for (size_t i = 0; i < spans.size(); i++) {
        if (!covers(spans[i], x)) continue;
        for (size_t j = i + 1; j < spans.size(); j++) {
            if (!covers(spans[j], x) || spans[i].d_inv_z == spans[j].d_inv_z) continue;
            double cross = ((double)spans[i].inv_z - spans[j].inv_z) / ((double)spans[j].d_inv_z - spans[i].d_inv_z);
            if (std::fabs(cross - x) <= (x < 0 ? 2.0 : 1.0)) {
                near_crossing = true;
                double g = std::fabs((double)spans[i].d_inv_z - spans[j].d_inv_z);
                slack = g > slack ? g : slack;
            }
        }
    }
    return near_crossing && wb - wg <= 3.0 * slack + 1e-6 * scale;
}

TEST_F(InsertTest, RandomRowsMatchPerColumnOracle) {
    enum { ROWS = 300, LO = -60, HI = 460, COLUMNS = HI - LO };
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    auto pick = [&](int n) { return (int)(rng() % (unsigned)n); };
    std::vector<ScanlineSpanList> rows(ROWS);
    for (ScanlineSpanList& r : rows) ASSERT_EQ(span_list_create(&test_pool, SPAN_LIST_INITIAL_NODES, &r), 1);
    long mismatches = 0, checked = 0;
    uint32_t next_id = 1;

    for (int y = 0; y < ROWS; y++) {
        ScanlineSpanList* list = &rows[y];
        std::vector<SpanNode> spans;
        std::vector<int> owner(COLUMNS, -1);  // oracle: index of the nearest covering span
        int count = 1 + pick(y % 4 == 0 ? 120 : 40);
        for (int k = 0; k < count; k++) {
            int32_t left = LO + pick(COLUMNS - 20);
            int32_t width = pick(10) == 0 ? 0 : 1 + pick(pick(3) == 0 ? 300 : 60);
            float inv = 0.02f + unit(rng), d = (unit(rng) - 0.5f) * 0.004f;
            int kind = spans.empty() ? 9 : pick(10);
            SpanNode other = spans.empty() ? SpanNode{} : spans[pick((int)spans.size())];
            if (kind == 0) {  // the same plane as an earlier span, maybe the same range
                inv = other.inv_z;
                d = other.d_inv_z;
                if (pick(2)) { left = other.x_left; width = other.x_right - other.x_left; }
            } else if (kind == 1) {  // parallel to an earlier span
                d = other.d_inv_z;
            } else if (kind == 2 || kind == 3) {  // crossing it near one of its ends
                int32_t end = kind == 2 ? other.x_left : other.x_right;
                double cross = end + (pick(9) - 4) * 0.25;
                double w = (double)other.inv_z + cross * (double)other.d_inv_z;
                inv = (float)(w - cross * (double)d);
                if (pick(2)) { left = end - pick(30); width = pick(60); }
            } else if (kind == 4 || kind == 5) {  // crossing it well inside, maybe sharing an end
                int32_t w = other.x_right - other.x_left;
                double cross = other.x_left + (w > 0 ? pick(w) : 0) + 0.1 * pick(10);
                d = other.d_inv_z + (pick(2) ? 1.0f : -1.0f) * (0.002f + 0.03f * unit(rng));
                inv = (float)((double)other.inv_z + cross * ((double)other.d_inv_z - (double)d));
                if (kind == 5) {
                    if (pick(2)) left = other.x_left;
                    else width = other.x_right - left;
                    if (width < 0) width = 0;
                }
            }
            if (left < LO) left = LO;
            if (left + width > HI) width = HI - left;
            SpanNode s = make_span(left, left + width, inv, d, next_id++);
            spans.push_back(s);
            int index = (int)spans.size() - 1;
            for (int x = s.x_left; x < s.x_right; x++)
                if (owner[x - LO] < 0 || depth(s, x) > depth(spans[owner[x - LO]], x)) owner[x - LO] = index;

            SpanNode record = s;
            insert_span(&record, list);
            EXPECT_TRUE(same_surface(record, s));  // only links and range are working state

            std::vector<SpanNode*> nodes = chain_nodes(list);
            if (HasFailure()) return;
            std::vector<int> got(COLUMNS, -1);
            int32_t previous_right = -2147483647;
            for (int i = 0; i < list->active_count; i++) {
                const SpanNode* v = nodes[i];
                ASSERT_LE(v->x_left, v->x_right);
                ASSERT_LE(previous_right, v->x_left) << "row " << y << " unsorted or overlapping";
                previous_right = v->x_right;
                int src = (int)(v->face_id - spans[0].face_id);
                ASSERT_TRUE(src >= 0 && src < (int)spans.size());
                ASSERT_TRUE(same_surface(*v, spans[src]));
                for (int x = v->x_left; x < v->x_right; x++) {
                    ASSERT_TRUE(covers(spans[src], x)) << "piece reaches beyond its span";
                    got[x - LO] = src;
                }
            }
            for (int c = 0; c < COLUMNS; c++) {
                checked++;
                if (got[c] == owner[c]) continue;
                ASSERT_TRUE(got[c] >= 0 && owner[c] >= 0) << "row " << y << " column " << c + LO << " lost";
                mismatches++;
                ASSERT_TRUE(mismatch_allowed(spans, c + LO, spans[got[c]], spans[owner[c]]))
                    << "row " << y << " column " << c + LO << " owned by " << got[c] << ", nearest is " << owner[c];
            }
        }
    }
    // The rows settled on what they needed, and every node came from the pool once.
    long total = row.node_count;
    for (ScanlineSpanList& r : rows) total += r.node_count;
    EXPECT_EQ(total, pool_nodes_taken());
    EXPECT_LT(mismatches, checked / 200);  // rounding at crossings only, a small fraction
}

}  // namespace
