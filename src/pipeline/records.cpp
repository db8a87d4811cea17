// Polygon records: the layout, the checkpoints and floors of tall ones, and
// the walks into rows; records.h describes them.
#include "pipeline/records.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <xmmintrin.h>
#endif

#include "pipeline/neutral_texture.h"
#include "pipeline/shading_setup.h"
#include "raster/insert.h"
#include "raster/screen.h"
#include "texture/texture.h"

namespace {

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

}  // namespace

int setup_record_chains(const ClipVertex v[3], const int32_t rows[3], const Screen* screen, EdgeChains* c) {
    return setup_triangle_chains(v, rows, screen, c) && chains_make_a_span(c);
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

}  // namespace

void polygon_walk(const PolygonRecord* record, SpanRows* rows, SpanNode* span) {
    walk_with(record, rows, span, polygon_record_shading(record));
}

void polygon_walk_kept(const PolygonRecord* record, SpanRows* rows, SpanNode* span, ShadingStore* store) {
    const SpanShading* shading = polygon_record_shading(record);
    if (shading) {
        store->kept.push_back(*shading);
        shading = &store->kept.back();
    }
    walk_with(record, rows, span, shading);
}

namespace {

// Walks a record just built (size > 0) into `rows`; 0 when setup rejected
// the polygon (size 0).
int walk_built(size_t size, const void* record, SpanRows* rows, ShadingStore* store) {
    if (!size) return 0;
    SpanNode span = {};
    if (store)
        polygon_walk_kept((const PolygonRecord*)record, rows, &span, store);
    else
        polygon_walk((const PolygonRecord*)record, rows, &span);  // a light record keeps no shading
    return 1;
}

}  // namespace

int emit_polygon_light(const ClipPolygon* polygon, const Screen* screen, uint32_t face_id, SpanRows* rows) {
    alignas(8) unsigned char record[POLYGON_RECORD_MAX];
    return walk_built(polygon_record_light(polygon, screen, face_id, record), record, rows, nullptr);
}

int emit_polygon_camera(const ClipPolygon* polygon, const Screen* screen, Texture* texture, uint32_t face_id,
                        SpanRows* rows, ShadingStore* store) {
    alignas(8) unsigned char record[POLYGON_RECORD_MAX];
    return walk_built(polygon_record_camera(polygon, screen, texture, face_id, record), record, rows, store);
}
