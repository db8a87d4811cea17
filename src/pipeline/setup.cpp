// Polygon setup: one projected polygon becomes one span per covered row.
//
// Rows are sampled at integer y with no half-pixel offset: an edge from A
// down to B covers the rows A.y <= y < B.y, and a span covers the columns
// floor(left edge) <= x < floor(right edge). Edge x is carried in 16.16 and
// stepped with one addition per row; the attributes are carried per row as
// their value at column 0 plus a per-column gradient, so insert_span can
// evaluate any column with one multiply-add.
#include "pipeline/setup.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>

#ifdef __SSE2__
#include <xmmintrin.h>
#endif

#include "pipeline/neutral_texture.h"
#include "raster/screen.h"
#include "raster/insert.h"
#include "texture/texture.h"

namespace {

// Area ratio thresholds, highest level first; each level quarters the
// texel area, so they sit near the powers of 4.
const float level_thresholds[] = {262000.0f, 65500.0f, 16000.0f, 4000.0f, 1000.0f,
                                  250.0f,    70.0f,    20.0f,    5.0f};
const int top_level = 9;
static_assert(sizeof level_thresholds / sizeof level_thresholds[0] == top_level,
              "one threshold per level above 0");

// Float to 16.16 by truncation, saturating instead of overflowing: only the
// steps of one-row edges can get this large, and those are never added.
inline int32_t fixed_from_float(float value) {
    if (std::fabs(value) < 2147483520.0f) return (int32_t)value;  // the common case, one test
    if (value >= 2147483520.0f) return INT32_MAX;  // largest float below 2^31
    if (value <= -2147483648.0f) return INT32_MIN;
    if (!(value == value)) return 0;
    return (int32_t)value;
}

PlaneGradient plane_through(float a0, float a1, float a2, const ClipVertex* p0,
                            const ClipVertex* p1, const ClipVertex* p2, float d) {
    PlaneGradient g;
    g.dx = ((a1 - a0) * (p2->y - p0->y) - (a2 - a0) * (p1->y - p0->y)) / d;
    g.dy = ((a2 - a0) * (p1->x - p0->x) - (a1 - a0) * (p2->x - p0->x)) / d;
    g.at_origin = a0 - p0->x * g.dx - p0->y * g.dy;
    return g;
}

// Twice the signed screen area spanned by the first three vertices.
float screen_determinant(const ClipPolygon* p) {
    const ClipVertex* v = p->v;
    return (v[1].x - v[0].x) * (v[2].y - v[0].y) - (v[2].x - v[0].x) * (v[1].y - v[0].y);
}

// The six planes in record order W, U, V, LX, LY, LZ (two lanes spare).
struct AttributePlanes {
    alignas(16) float dx[8];
    alignas(16) float dy[8];
    alignas(16) float at_origin[8];
};

// The planes compute_gradients describes, through the first three vertices;
// 0 when they are collinear on screen. Every attribute goes through the
// same single-precision steps as plane_through, one attribute per SSE lane:
// W = 1 / z, U = (W * u) * tw, V = (W * v) * th, LX = W * lx, ... (a factor
// of 1 in a lane leaves its value as it is).
int attribute_planes(const ClipPolygon* polygon, int32_t tw, int32_t th, AttributePlanes* out) {
    const ClipVertex* p = polygon->v;
    float d = screen_determinant(polygon);
    if (d == 0.0f) return 0;
#ifdef __SSE2__
    __m128 a[3], b[3];  // per vertex: W, U, V, LX and LY, LZ, -, -
    const __m128 scale = _mm_setr_ps(1.0f, (float)tw, (float)th, 1.0f);
    for (int i = 0; i < 3; i++) {
        const __m128 w = _mm_set1_ps(1.0f / p[i].z);
        a[i] = _mm_mul_ps(_mm_mul_ps(w, _mm_setr_ps(1.0f, p[i].u, p[i].v, p[i].lx)), scale);
        b[i] = _mm_mul_ps(w, _mm_setr_ps(p[i].ly, p[i].lz, 0.0f, 0.0f));
    }
    const __m128 y20 = _mm_set1_ps(p[2].y - p[0].y), y10 = _mm_set1_ps(p[1].y - p[0].y);
    const __m128 x10 = _mm_set1_ps(p[1].x - p[0].x), x20 = _mm_set1_ps(p[2].x - p[0].x);
    const __m128 dd = _mm_set1_ps(d), x0 = _mm_set1_ps(p[0].x), y0 = _mm_set1_ps(p[0].y);
    for (int half = 0; half < 2; half++) {
        const __m128* v = half ? b : a;
        __m128 d1 = _mm_sub_ps(v[1], v[0]), d2 = _mm_sub_ps(v[2], v[0]);
        __m128 dx = _mm_div_ps(_mm_sub_ps(_mm_mul_ps(d1, y20), _mm_mul_ps(d2, y10)), dd);
        __m128 dy = _mm_div_ps(_mm_sub_ps(_mm_mul_ps(d2, x10), _mm_mul_ps(d1, x20)), dd);
        __m128 at_origin = _mm_sub_ps(_mm_sub_ps(v[0], _mm_mul_ps(x0, dx)), _mm_mul_ps(y0, dy));
        _mm_store_ps(out->dx + 4 * half, dx);
        _mm_store_ps(out->dy + 4 * half, dy);
        _mm_store_ps(out->at_origin + 4 * half, at_origin);
    }
#else
    float values[6][3];
    for (int i = 0; i < 3; i++) {
        float w = 1.0f / p[i].z;
        float attributes[6] = {w, w * p[i].u * (float)tw, w * p[i].v * (float)th, w * p[i].lx, w * p[i].ly,
                               w * p[i].lz};
        for (int k = 0; k < 6; k++) values[k][i] = attributes[k];
    }
    for (int k = 0; k < 6; k++) {
        PlaneGradient g = plane_through(values[k][0], values[k][1], values[k][2], &p[0], &p[1], &p[2], d);
        out->dx[k] = g.dx;
        out->dy[k] = g.dy;
        out->at_origin[k] = g.at_origin;
    }
#endif
    return 1;
}

// setup_edge with the rows ceil(a.y) and ceil(b.y) already worked out: a
// chain's vertices are each the end of one edge and the start of the next.
inline __attribute__((always_inline)) int edge_between(const ClipVertex* a, const ClipVertex* b, float top,
                                                       float bottom, EdgeStep* edge) {
    int32_t count = (int32_t)(bottom - top);
    if (count <= 0) return 0;  // a negative count would never end the walk
    // count >= 1 means b->y > a->y, so the division is safe.
    float slope = (b->x - a->x) / (b->y - a->y);
    edge->x = fixed_from_float((a->x + (top - a->y) * slope) * FIXED_ONE_F);
    edge->y = (int32_t)top;
    edge->count = count;
    edge->dx = fixed_from_float(slope * FIXED_ONE_F);
    return 1;
}

// Record layout: the header; a camera record's shading; the planes (starts,
// row steps, W's column step), padded to 8 bytes; then the left and right
// edges; a record of more than 16 rows then its checkpoints, padded to 8
// bytes, and its FaceFloors.
size_t shading_bytes(int planes) { return planes == 6 ? sizeof(SpanShading) : 0; }
size_t planes_bytes(int planes) { return ((size_t)(2 * planes + 1) * sizeof(float) + 7) & ~(size_t)7; }
size_t edges_offset(int planes) { return sizeof(PolygonRecord) + shading_bytes(planes) + planes_bytes(planes); }
static_assert(sizeof(PolygonRecord) % alignof(SpanShading) == 0, "the shading starts aligned");

float* record_planes(PolygonRecord* record) { return (float*)((char*)(record + 1) + shading_bytes(record->planes)); }

// The rows a walk of the chains makes, from the first left edge's row: it
// ends when the right chain is used up or at the polygon's end row,
// whichever comes first; its first row is always made.
int32_t chain_rows(const EdgeChains* c) {
    int32_t right_rows = 0;
    for (int32_t i = 0; i < c->right_count; i++) right_rows += c->right[i].count;
    int32_t to_end = c->end_row - c->left[0].y;
    return to_end < 1 ? 1 : right_rows < to_end ? right_rows : to_end;
}

// Fills the header and the edges of a record from its chains, leaving the
// planes to the caller; the walk starts at the first left edge's row.
// Returns the record's size.
size_t record_begin(PolygonRecord* record, const EdgeChains* c, uint32_t face_id, int planes) {
    record->face_id = face_id;
    record->first_row = c->left[0].y;
    record->row_count = chain_rows(c);
    record->left_count = (uint8_t)c->left_count;
    record->right_count = (uint8_t)c->right_count;
    record->planes = (uint8_t)planes;
    record->checkpoints = 0;
    std::memset(record->unused, 0, sizeof record->unused);
    EdgeStep* edges = (EdgeStep*)((char*)record + edges_offset(planes));
    // A few 16-byte entries: copied in place, cheaper than a memcpy call.
    for (int32_t i = 0; i < c->left_count; i++) edges[i] = c->left[i];
    for (int32_t i = 0; i < c->right_count; i++) edges[c->left_count + i] = c->right[i];
    size_t size = edges_offset(planes) + sizeof(EdgeStep) * (size_t)(c->left_count + c->right_count);
    record->size = (uint16_t)size;
    return size;
}

// Checkpoints: up to 8, one per 16 rows or more, none for 16 rows or fewer.
// With n <= (rows - 1) / 16 and spacing = ceil(rows / (n + 1)), the last
// one, n * spacing, lies inside the record.
int32_t checkpoint_count(int32_t rows) { return rows > 16 ? std::min(8, (rows - 1) / 16) : 0; }
int32_t checkpoint_spacing(int32_t rows, int32_t count) { return (rows + count) / (count + 1); }

// A walk's plane values, stepped row by row in float: the depth plane
// alone (light pass) or all six (camera pass), kept in the record's and the
// span's order W, U, V, LX, LY, LZ. The walks and the checkpoints step them
// alike, so a checkpoint holds the very sums a walk reaches at its row.
struct DepthPlanes {
    float w, dw;
    explicit DepthPlanes(const RecordPlanes& p) : w(p.start[0]), dw(p.row_step[0]) {}
    void load(const float* v) { w = v[0]; }
    void save(float* out) const { out[0] = w; }
    void put(SpanNode* span) const { span->inv_z = w; }
    void step() { w += dw; }
};

#ifdef __SSE2__
struct FullPlanes {
    __m128 a, b;    // W, U, V, LX and LY, LZ, 0, 0
    __m128 da, db;  // their row steps
    explicit FullPlanes(const RecordPlanes& p)
        : da(_mm_loadu_ps(p.row_step)), db(_mm_loadl_pi(_mm_setzero_ps(), (const __m64*)(p.row_step + 4))) {
        load(p.start);
    }
    void load(const float* v) {
        a = _mm_loadu_ps(v);
        b = _mm_loadl_pi(_mm_setzero_ps(), (const __m64*)(v + 4));
    }
    void save(float* out) const {
        _mm_storeu_ps(out, a);
        _mm_storel_pi((__m64*)(out + 4), b);
    }
    void put(SpanNode* span) const {  // inv_z .. lz_over_z lie in this order
        _mm_storeu_ps(&span->inv_z, a);
        _mm_storel_pi((__m64*)&span->ly_over_z, b);
    }
    void step() {
        a = _mm_add_ps(a, da);
        b = _mm_add_ps(b, db);
    }
};
#else
struct FullPlanes {
    float a[6], da[6];
    explicit FullPlanes(const RecordPlanes& p) {
        for (int k = 0; k < 6; k++) a[k] = p.start[k], da[k] = p.row_step[k];
    }
    void load(const float* v) {
        for (int k = 0; k < 6; k++) a[k] = v[k];
    }
    void save(float* out) const {
        for (int k = 0; k < 6; k++) out[k] = a[k];
    }
    void put(SpanNode* span) const {
        span->inv_z = a[0];
        span->u_over_z = a[1];
        span->v_over_z = a[2];
        span->lx_over_z = a[3];
        span->ly_over_z = a[4];
        span->lz_over_z = a[5];
    }
    void step() {
        for (int k = 0; k < 6; k++) a[k] += da[k];
    }
};
#endif

// The values of `count` checkpoints `spacing` rows apart into `out`.
template <typename Planes>
void checkpoints_fill(const PolygonRecord* record, int32_t count, int32_t spacing, float* out) {
    Planes p(polygon_record_planes(record));
    for (int32_t j = 0; j < count; j++, out += record->planes) {
        for (int32_t r = 0; r < spacing; r++) p.step();
        p.save(out);
    }
}

// What a walk asks rows' floors with, worked out when it first meets a row
// that has them (a tall record's when the record is made). A row whose
// floors lie above the top of the whole face over the face's columns gets
// no span from it, whatever that row's span is.
struct FaceFloors {
    double margin;             // of every row's 1/z line (span_line_margin); negative: not worked out
    double top;                // the face's highest 1/z over its columns, with every rounding; NaN: unknown
    int32_t x_left, x_right;   // every span of the face lies within [x_left, x_right]
};
static_assert(sizeof(PolygonRecord) + sizeof(SpanShading) + 13 * sizeof(float) + 2 * EDGE_CHAIN_MAX * sizeof(EdgeStep) +
                      8 * 6 * sizeof(float) + sizeof(FaceFloors) <= POLYGON_RECORD_MAX,
              "the largest camera record fits");

// Rows step 1/z as a float sum of row steps: each row's value stays within
// w_abs = |start| + rows * |step| (doubled for rounding) and within
// rows * 2^-24 * w_abs of the exact plane. Edge x is 16.16 and stays
// between the two ends of each edge entry.
void face_floors_work_out(const PolygonRecord* record, FaceFloors* f) {
    const RecordPlanes planes = polygon_record_planes(record);
    double w0 = planes.start[0], dw = planes.row_step[0], d = planes.column_step[0];
    double rows = (double)record->row_count;
    double w_abs = std::fabs(w0) + rows * std::fabs(dw);
    f->margin = span_line_margin(2.0 * w_abs, d);
    const EdgeStep* edges = polygon_record_edges(record);
    int64_t lo = INT64_MAX, hi = INT64_MIN;
    for (int32_t i = 0; i < record->left_count + record->right_count; i++) {
        int64_t x0 = edges[i].x, x1 = x0 + (int64_t)(edges[i].count - 1) * edges[i].dx;
        if (i < record->left_count) {
            lo = std::min(lo, std::min(x0, x1));
        } else {
            hi = std::max(hi, std::max(x0, x1));
        }
    }
    f->x_left = (int32_t)(lo >> 16);
    f->x_right = (int32_t)(hi >> 16);
    double high = std::max(w0, w0 + (rows - 1.0) * dw) + std::max((double)f->x_left * d, (double)f->x_right * d);
    f->top = high + rows * 0x1p-23 * w_abs + f->margin;
    // Edges that wrapped in 32 bits (never on a screen) leave the columns unknown.
    if (lo < INT32_MIN || hi > INT32_MAX || f->x_left < 0) f->top = NAN;
}

// A walk's floors when it first needs them: kept behind a record's
// checkpoints (see record_finish_tall) or worked out.
void face_floors_make(const PolygonRecord* record, FaceFloors* f) {
    if (record->checkpoints)
        *f = *(const FaceFloors*)((const char*)record + record->size - sizeof(FaceFloors));
    else
        face_floors_work_out(record, f);
}

// record_finish for a record of more than 16 rows: its `count` checkpoints,
// then its floors. A record this tall is walked by several bands, and each
// would work out the floors as soon as it met a row that has them: they are
// worked out once, here. Kept out of line, so that record_finish stays a
// test for the records of small faces.
__attribute__((noinline)) size_t record_finish_tall(PolygonRecord* record, size_t size, int32_t count) {
    int32_t spacing = checkpoint_spacing(record->row_count, count);
    float* out = (float*)((char*)record + size);
    if (record->planes == 1)
        checkpoints_fill<DepthPlanes>(record, count, spacing, out);
    else
        checkpoints_fill<FullPlanes>(record, count, spacing, out);
    record->checkpoints = (uint8_t)count;
    size += ((size_t)(count * record->planes) * sizeof(float) + 7) & ~(size_t)7;
    face_floors_work_out(record, (FaceFloors*)((char*)record + size));
    size += sizeof(FaceFloors);
    record->size = (uint16_t)size;
    return size;
}

// Appends what a tall record keeps besides to a record whose planes are
// filled; returns the record's new size.
inline size_t record_finish(PolygonRecord* record, size_t size) {
    const int32_t count = checkpoint_count(record->row_count);
    return count ? record_finish_tall(record, size, count) : size;
}

// Where a walk stands on the two chains: the 16.16 x of both edges in the
// current row and the chain entries they lie on.
struct ChainWalk {
    const EdgeStep* left;     // left edges, top to bottom
    const EdgeStep* right;    // right edges, bottom to top
    int32_t left_count;
    int32_t left_entry, right_entry;  // entries being walked
    int32_t left_rows, right_rows;    // rows of those entries not yet left
    int32_t xl, xr;
};

ChainWalk chains_start(const EdgeStep* left, int32_t left_count, const EdgeStep* right, int32_t right_count) {
    ChainWalk c;
    c.left = left;
    c.right = right;
    c.left_count = left_count;
    c.left_entry = 0;
    c.xl = left[0].x;
    c.left_rows = left[0].count;
    c.right_entry = right_count - 1;
    c.xr = right[c.right_entry].x;
    c.right_rows = right[c.right_entry].count;
    return c;
}

ChainWalk chains_begin(const PolygonRecord* record) {
    const EdgeStep* edges = polygon_record_edges(record);
    return chains_start(edges, record->left_count, edges + record->left_count, record->right_count);
}

// One row down: the right chain (never used up before the last row: a
// record's row count is at most the right chain's rows), then the left
// chain, which keeps its last x if rounding made it run out first.
inline void chains_step(ChainWalk* c) {
    if (--c->right_rows > 0) {
        c->xr += c->right[c->right_entry].dx;
    } else {
        c->right_entry--;
        c->xr = c->right[c->right_entry].x;
        c->right_rows = c->right[c->right_entry].count;
    }
    if (--c->left_rows > 0) {
        c->xl += c->left[c->left_entry].dx;
    } else if (c->left_entry + 1 < c->left_count) {
        c->left_entry++;
        c->xl = c->left[c->left_entry].x;
        c->left_rows = c->left[c->left_entry].count;
    }
}

// Whether a row whose edges stand at the 16.16 positions xl and xr rounds to
// columns x_left < x_right with x_right > 0: the only rows insert_row makes
// a span for.
inline int row_makes_a_span(int32_t xl, int32_t xr) {
    const int32_t x_left = xl >> 16, x_right = xr >> 16;
    return x_right > 0 && x_right > x_left;
}

// 1 when some row of the chains' walk makes a span (row_makes_a_span). A polygon
// without one (a sliver between pixel centres, a tip off the left edge)
// would make a record whose walks change no row; it is dropped before its
// planes are built. Mostly the first row answers. Taller polygons are left
// to their walks: there deep rows' floors pass runs of hidden rows at once,
// cheaper than asking each row here.
int chains_make_a_span(const EdgeChains* chains) {
    if (chains->end_row - chains->left[0].y == 1)  // one row: the walk's start is all there is
        return row_makes_a_span(chains->left[0].x, chains->right[chains->right_count - 1].x);
    const int32_t rows = chain_rows(chains);
    if (rows > 4) return 1;
    ChainWalk c = chains_start(chains->left, chains->left_count, chains->right, chains->right_count);
    for (int32_t y = 0;;) {
        if (row_makes_a_span(c.xl, c.xr)) return 1;
        if (++y >= rows) return 0;
        chains_step(&c);
    }
}

// `rows` calls of chains_step at once. Edge x is 16.16 and advanced by
// integer addition, so k additions are one multiply (modulo 2^32, as the
// additions wrap); entries are left just as the row-by-row steps leave them.
inline void chains_skip(ChainWalk* c, int32_t rows) {
    if (rows <= 0) return;  // most records start in the band they are walked for
    int32_t k = rows;
    while (k >= c->right_rows && c->right_entry > 0) {
        k -= c->right_rows;
        c->right_entry--;
        c->xr = c->right[c->right_entry].x;
        c->right_rows = c->right[c->right_entry].count;
    }
    c->xr = (int32_t)((uint32_t)c->xr + (uint32_t)k * (uint32_t)c->right[c->right_entry].dx);
    c->right_rows -= k;
    k = rows;
    while (k >= c->left_rows && c->left_rows > 0 && c->left_entry + 1 < c->left_count) {
        k -= c->left_rows;
        c->left_entry++;
        c->xl = c->left[c->left_entry].x;
        c->left_rows = c->left[c->left_entry].count;
    }
    // The last entry adds its step until one row before it runs out, then
    // keeps its x.
    int32_t adds = k < c->left_rows ? k : c->left_rows > 0 ? c->left_rows - 1 : 0;
    c->xl = (int32_t)((uint32_t)c->xl + (uint32_t)adds * (uint32_t)c->left[c->left_entry].dx);
    c->left_rows -= k;
}

// The rows of the record that lie in the set: [first, end).
inline int rows_in_set(const PolygonRecord* record, const SpanRows* rows, int32_t* first, int32_t* end) {
    *first = record->first_row > rows->first_row ? record->first_row : rows->first_row;
    int32_t record_end = record->first_row + record->row_count, set_end = rows->first_row + rows->row_count;
    *end = record_end < set_end ? record_end : set_end;
    return *first < *end;
}

// How many rows from y on (before end) the floors hide the whole face in.
// Asked after a row with floors got no span, so rows without them pay nothing.
int32_t hidden_rows(const PolygonRecord* record, SpanRows* rows, int32_t y, int32_t end, FaceFloors* f) {
    if (f->margin < 0.0) face_floors_make(record, f);
    const ScanlineSpanList* list = &rows->lists[y - rows->first_row];
    int32_t k = 0;
    while (y + k < end && span_list_hides(list + k, f->x_left, f->x_right, f->top)) k++;
    return k;
}

// Inserts the span of the current row if it covers a column right of
// column 0, lies near the columns the rows read (all of them, or the
// light's cone) and the row's floors do not hide it. A span that covers none
// (it ends at or left of column 0, or the edges meet within one column: the
// tips of triangles, and thin geometry far off) would show nothing yet take
// a node, and could cut the spans it lies on; deep rows of thin faces would
// pile such nodes up. 1 when the row has floors and got no span: the rows
// below may then hide the whole face. xl, xr: the row's 16.16 edge positions.
inline int insert_row(int32_t xl, int32_t xr, SpanNode* span, SpanRows* rows, int32_t y, const PolygonRecord* record,
                      FaceFloors* f) {
    ScanlineSpanList* list = &rows->lists[y - rows->first_row];
    if (!row_makes_a_span(xl, xr)) return list->floor_credit >= 0;
    const int32_t x_left = xl >> 16, x_right = xr >> 16;
    if (rows->columns && span_outside_columns(x_left, x_right, rows->columns[2 * y], rows->columns[2 * y + 1]))
        return 0;
    if (list->floor_credit >= 0) {
        if (f->margin < 0.0) face_floors_make(record, f);
        double top = span_line_top(span->inv_z, span->d_inv_z, x_left, x_right, f->margin);
        if (span_list_hides(list, x_left, x_right, top)) return 1;
    }
    span->x_left = x_left;
    span->x_right = x_right;
    insert_span(span, list);
    return 0;
}

// One row of a walk: its span, and when the row has floors and got none, how
// many rows after it the floors let the walk pass (0 otherwise).
inline int32_t walk_row(const ChainWalk* c, SpanNode* span, SpanRows* rows, int32_t y, int32_t end,
                        const PolygonRecord* record, FaceFloors* f) {
    if (!insert_row(c->xl, c->xr, span, rows, y, record, f) || y + 1 >= end) return 0;
    return hidden_rows(record, rows, y + 1, end, f);
}

// The plane values of the checkpoint a walk from relative row `at` to row
// `to` (at <= to) may jump to, with its row in *row; null when none lies in
// (at, to].
inline const float* checkpoint_between(const PolygonRecord* record, int32_t at, int32_t to, int32_t* row) {
    if (!record->checkpoints) return nullptr;
    const RecordCheckpoints ck = polygon_record_checkpoints(record);
    int32_t j = std::min(to / ck.spacing, ck.count);
    if (j * ck.spacing <= at) return nullptr;
    *row = j * ck.spacing;
    return ck.values + (size_t)(j - 1) * record->planes;
}

// The walk of a record's rows that lie in the set, with its planes. Rows
// above the set, and runs of rows whose floors hide the face, are stepped
// over (the same sums, no spans, from the nearest checkpoint), so each
// row's values are the ones a walk over all rows reaches there.
template <typename Planes>
void walk_planes(const PolygonRecord* record, SpanRows* rows, SpanNode* span) {
    int32_t first, end;
    if (!rows_in_set(record, rows, &first, &end)) return;
    Planes p(polygon_record_planes(record));
    FaceFloors f = {-1.0, 0.0, 0, 0};
    if (record->row_count == 1) {  // nearly half the records of small faces
        // The row's ends are where the walk starts: the first left edge's x
        // and the last right edge's (the right chain runs bottom to top).
        const EdgeStep* edges = polygon_record_edges(record);
        p.put(span);
        insert_row(edges[0].x, edges[record->left_count + record->right_count - 1].x, span, rows, first, record, &f);
        return;
    }
    ChainWalk c = chains_begin(record);
    // The walk from relative row `at` to row `to`, making no spans.
    auto skip_rows = [&](int32_t at, int32_t to) {
        chains_skip(&c, to - at);
        if (const float* v = checkpoint_between(record, at, to, &at)) p.load(v);
        for (; at < to; at++) p.step();
    };
    skip_rows(0, first - record->first_row);
    for (int32_t y = first;;) {
        p.put(span);
        if (int32_t k = walk_row(&c, span, rows, y, end, record, &f)) {
            if ((y += 1 + k) >= end) return;
            skip_rows(y - 1 - k - record->first_row, y - record->first_row);
            continue;
        }
        if (++y >= end) return;
        p.step();
        chains_step(&c);
    }
}

}  // namespace

int setup_edge(const ClipVertex* a, const ClipVertex* b, EdgeStep* edge) {
    return edge_between(a, b, setup_ceil(a->y), setup_ceil(b->y), edge);
}

namespace {

// 1 when 0 <= x <= width and 0 <= y <= height at each of the n vertices (NaN
// fails every comparison).
inline int on_screen(const ClipVertex* v, int32_t n, float width, float height) {
#ifdef __SSE2__
    // Two vertices' x, y per vector; an odd count takes the last one twice.
    const __m128 low = _mm_setzero_ps(), high = _mm_setr_ps(width, height, width, height);
    int inside = 0xF;
    for (int32_t i = 0; i < n; i += 2) {
        const ClipVertex* b = &v[i + 1 < n ? i + 1 : i];
        const __m128 p = _mm_loadh_pi(_mm_loadl_pi(low, (const __m64*)&v[i].x), (const __m64*)&b->x);
        inside &= _mm_movemask_ps(_mm_and_ps(_mm_cmpge_ps(p, low), _mm_cmple_ps(p, high)));
    }
    return inside == 0xF;
#else
    for (int32_t i = 0; i < n; i++)
        if (!(v[i].x >= 0.0f && v[i].x <= width && v[i].y >= 0.0f && v[i].y <= height)) return 0;
    return 1;
#endif
}

}  // namespace

namespace {

// The chains of the n vertices v, whose rows ceil(y) are `row`.
int chains_between(const ClipVertex* v, int32_t n, const float* row, const Screen* screen, EdgeChains* c) {
    c->left_count = c->right_count = 0;
    if (n < 3 || n > CLIP_MAX_VERTICES) return 0;

    // Rows and columns are written unchecked, so every vertex must lie on the
    // screen; the frustum keeps projected vertices 2 pixels inside, and this
    // only rejects geometry that was not finite to begin with.
    if (!on_screen(v, n, (float)screen->width, (float)screen->height)) return 0;

    float min_y = HUGE_VALF, max_y = -HUGE_VALF;  // every vertex lies on the screen
    int32_t top = 0, bottom = 0;
    for (int32_t i = 0; i < n; i++) {  // ties: the first vertex in order wins
        float y = v[i].y;
        if (y < min_y) min_y = y, top = i;
        if (y > max_y) max_y = y, bottom = i;
    }
    c->first_row = (int32_t)row[top];
    c->end_row = (int32_t)row[bottom];
    if (c->first_row >= c->end_row) return 0;

    for (int32_t i = top; i != bottom;) {
        int32_t next = i + 1 == n ? 0 : i + 1;
        if (edge_between(&v[i], &v[next], row[i], row[next], &c->left[c->left_count])) c->left_count++;
        i = next;
    }
    for (int32_t i = bottom; i != top;) {
        int32_t next = i + 1 == n ? 0 : i + 1;
        if (edge_between(&v[next], &v[i], row[next], row[i], &c->right[c->right_count])) c->right_count++;
        i = next;
    }
    // Both chains span first_row..end_row, so each holds an edge with a
    // positive count; the test only guards against a broken invariant.
    return c->left_count > 0 && c->right_count > 0;
}

}  // namespace

int setup_edge_chains(const ClipPolygon* polygon, const Screen* screen, EdgeChains* c) {
    float row[CLIP_MAX_VERTICES];  // ceil(y) of every vertex
    const int32_t n = polygon->count < CLIP_MAX_VERTICES ? polygon->count : CLIP_MAX_VERTICES;
    for (int32_t i = 0; i < n; i++) row[i] = setup_ceil(polygon->v[i].y);
    return chains_between(polygon->v, polygon->count, row, screen, c);
}

int compute_gradients(const ClipPolygon* polygon, int32_t tw, int32_t th, PolygonGradients* g) {
    AttributePlanes planes;
    if (!attribute_planes(polygon, tw, th, &planes)) return 0;
    PlaneGradient* order[6] = {&g->w, &g->u, &g->v, &g->lx, &g->ly, &g->lz};
    for (int k = 0; k < 6; k++) *order[k] = PlaneGradient{planes.dx[k], planes.dy[k], planes.at_origin[k]};
    return 1;
}

float texel_area_ratio(const ClipPolygon* polygon, const Texture* texture) {
    int32_t n = polygon->count;
    if (n < 3 || n > CLIP_MAX_VERTICES) return 0.0f;
    float base_width = (float)texture->base_width, base_height = (float)texture->base_height;
    float s = 0.0f, t = 0.0f;
    const ClipVertex* prev = &polygon->v[n - 1];
    for (int32_t i = 0; i < n; i++) {
        const ClipVertex* cur = &polygon->v[i];
        s += prev->x * cur->y - cur->x * prev->y;
        float prev_u = prev->u * base_width, prev_v = prev->v * base_height;
        float cur_u = cur->u * base_width, cur_v = cur->v * base_height;
        t += prev_u * cur_v - cur_u * prev_v;
        prev = cur;
    }
    return std::fabs(t / s);  // S = 0 gives inf or NaN: level 9 or 0, both valid
}

int select_texture_level(float ratio) {
    for (int i = 0; i < top_level; i++)
        if (ratio > level_thresholds[i]) return top_level - i;
    return 0;
}

const SpanShading* polygon_record_shading(const PolygonRecord* record) {
    return record->planes == 6 ? (const SpanShading*)(record + 1) : nullptr;
}

RecordPlanes polygon_record_planes(const PolygonRecord* record) {
    const float* p = (const float*)((const char*)(record + 1) + shading_bytes(record->planes));
    return RecordPlanes{p, p + record->planes, p + 2 * record->planes};
}

const EdgeStep* polygon_record_edges(const PolygonRecord* record) {
    return (const EdgeStep*)((const char*)record + edges_offset(record->planes));
}

RecordCheckpoints polygon_record_checkpoints(const PolygonRecord* record) {
    const EdgeStep* end = polygon_record_edges(record) + record->left_count + record->right_count;
    int32_t count = record->checkpoints;
    return RecordCheckpoints{(const float*)end, count, count ? checkpoint_spacing(record->row_count, count) : 0};
}

namespace {

// A record's chains: setup_edge_chains, less the short polygons that would
// give no row a span.
int record_chains(const ClipPolygon* polygon, const Screen* screen, EdgeChains* c) {
    return setup_edge_chains(polygon, screen, c) && chains_make_a_span(c);
}

// chains_between for a triangle, the shape of every face kept whole: the
// same chains, each of the three edges worked out once, without walking
// the vertex order. With top and bottom the first vertices in order of
// least and greatest y, and m the third: when m follows top the left chain
// is top-m-bottom and the right chain the edge top-bottom; otherwise the
// left chain is that edge and the right chain, bottom to top, m-bottom and
// top-m. Edges of no rows are left out, as chains_between leaves them.
int triangle_chains(const ClipVertex* v, const int32_t* rows, const Screen* screen, EdgeChains* c) {
    c->left_count = c->right_count = 0;
    if (!on_screen(v, 3, (float)screen->width, (float)screen->height)) return 0;
    int32_t top = 0, bottom = 0;
    for (int32_t i = 1; i < 3; i++) {
        if (v[i].y < v[top].y) top = i;
        if (v[i].y > v[bottom].y) bottom = i;
    }
    c->first_row = rows[top];
    c->end_row = rows[bottom];
    if (c->first_row >= c->end_row) return 0;
    const int32_t m = 3 - top - bottom;
    const float row_t = (float)rows[top], row_m = (float)rows[m], row_b = (float)rows[bottom];
    if (m == (top == 2 ? 0 : top + 1)) {
        c->left_count += edge_between(&v[top], &v[m], row_t, row_m, &c->left[0]);
        c->left_count += edge_between(&v[m], &v[bottom], row_m, row_b, &c->left[c->left_count]);
        c->right_count = edge_between(&v[top], &v[bottom], row_t, row_b, &c->right[0]);
    } else {
        c->left_count = edge_between(&v[top], &v[bottom], row_t, row_b, &c->left[0]);
        c->right_count += edge_between(&v[m], &v[bottom], row_m, row_b, &c->right[0]);
        c->right_count += edge_between(&v[top], &v[m], row_t, row_m, &c->right[c->right_count]);
    }
    return 1;  // the edge top-bottom has end_row - first_row > 0 rows
}

}  // namespace

int setup_record_chains(const ClipVertex v[3], const int32_t rows[3], const Screen* screen, EdgeChains* c) {
    return triangle_chains(v, rows, screen, c) && chains_make_a_span(c);
}

size_t polygon_record_light(const ClipPolygon* polygon, const Screen* screen, uint32_t face_id, void* out) {
    EdgeChains c;
    return record_chains(polygon, screen, &c) ? polygon_record_light_from(polygon, &c, face_id, out) : 0;
}

size_t polygon_record_camera(const ClipPolygon* polygon, const Screen* screen, Texture* texture, uint32_t face_id,
                             void* out) {
    EdgeChains c;
    return record_chains(polygon, screen, &c) ? polygon_record_camera_from(polygon, &c, texture, face_id, out) : 0;
}

size_t polygon_record_light_from(const ClipPolygon* polygon, const EdgeChains* chains, uint32_t face_id, void* out) {
    // Only depth matters to the light: the W plane is the one compute_gradients
    // would build, without the five texture and light-view planes.
    float d = screen_determinant(polygon);
    if (d == 0.0f) return 0;
    const ClipVertex* p = polygon->v;
    PlaneGradient gw = plane_through(1.0f / p[0].z, 1.0f / p[1].z, 1.0f / p[2].z, &p[0], &p[1], &p[2], d);
    PolygonRecord* record = (PolygonRecord*)out;
    size_t size = record_begin(record, chains, face_id, 1);
    float* planes = record_planes(record);
    planes[0] = gw.at_origin + (float)record->first_row * gw.dy;
    planes[1] = gw.dy;
    planes[2] = gw.dx;
    return record_finish(record, size);
}

size_t polygon_record_camera_from(const ClipPolygon* polygon, const EdgeChains* chains, Texture* texture,
                                  uint32_t face_id, void* out) {
    // A texture without a level on an axis cannot be addressed; such faces
    // are drawn like faces without a texture.
    if (!texture || texture->level_count_x < 1 || texture->level_count_y < 1 || !texture->levels ||
        !texture->shade_table)
        texture = pipeline_neutral_texture();
    if (!texture) return 0;  // not even the neutral one could be built: out of memory

    int32_t level = select_texture_level(texel_area_ratio(polygon, texture));
    int32_t levels_u = texture->level_count_x, levels_v = texture->level_count_y;
    int32_t level_u = level < levels_u ? level : levels_u - 1;
    int32_t level_v = level < levels_v ? level : levels_v - 1;
    AttributePlanes g;
    if (!attribute_planes(polygon, texture->base_width >> level_u, texture->base_height >> level_v, &g))
        return 0;

    PolygonRecord* record = (PolygonRecord*)out;
    size_t size = record_begin(record, chains, face_id, 6);
    *(SpanShading*)(record + 1) =
        SpanShading{g.dx[1], g.dx[2], g.dx[3], g.dx[4], g.dx[5], level_v * levels_u + level_u, texture};
    float row = (float)record->first_row;
    float* planes = record_planes(record);
    for (int k = 0; k < 6; k++) {
        planes[k] = g.at_origin[k] + row * g.dy[k];
        planes[6 + k] = g.dy[k];
    }
    planes[12] = g.dx[0];
    return record_finish(record, size);
}

namespace {

void walk_with(const PolygonRecord* record, SpanRows* rows, SpanNode* span, const SpanShading* shading) {
    span->face_id = record->face_id;
    span->d_inv_z = polygon_record_planes(record).column_step[0];
    span->shading = shading;
    if (record->planes == 6) {
        walk_planes<FullPlanes>(record, rows, span);
    } else {
        walk_planes<DepthPlanes>(record, rows, span);
    }
}

// Copies of the shading of records that die before their spans, for the
// whole process: std::deque never moves what it holds.
struct KeptShadings {
    std::mutex mutex;
    std::deque<SpanShading> kept;
};

KeptShadings& kept_shadings = *new KeptShadings;  // never destroyed: spans may point into it until exit

const SpanShading* keep_shading(const SpanShading* shading) {
    std::lock_guard<std::mutex> lock(kept_shadings.mutex);
    kept_shadings.kept.push_back(*shading);
    return &kept_shadings.kept.back();
}

}  // namespace

void polygon_walk(const PolygonRecord* record, SpanRows* rows, SpanNode* span) {
    walk_with(record, rows, span, polygon_record_shading(record));
}

void polygon_walk_kept(const PolygonRecord* record, SpanRows* rows, SpanNode* span) {
    const SpanShading* shading = polygon_record_shading(record);
    walk_with(record, rows, span, shading ? keep_shading(shading) : nullptr);
}

namespace {

// Walks a record just built (size > 0) into `rows`; 0 when setup rejected
// the polygon (size 0).
int walk_built(size_t size, const void* record, SpanRows* rows) {
    if (!size) return 0;
    SpanNode span = {};
    polygon_walk_kept((const PolygonRecord*)record, rows, &span);
    return 1;
}

}  // namespace

int emit_polygon_light(const ClipPolygon* polygon, const Screen* screen, uint32_t face_id, SpanRows* rows) {
    alignas(8) unsigned char record[POLYGON_RECORD_MAX];
    return walk_built(polygon_record_light(polygon, screen, face_id, record), record, rows);
}

int emit_polygon_camera(const ClipPolygon* polygon, const Screen* screen, Texture* texture, uint32_t face_id,
                        SpanRows* rows) {
    alignas(8) unsigned char record[POLYGON_RECORD_MAX];
    return walk_built(polygon_record_camera(polygon, screen, texture, face_id, record), record, rows);
}
