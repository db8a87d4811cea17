// The object pass's AVX2 routines; object_pass_avx2.h gives their contract.
// Only these functions are compiled for AVX2 (a target attribute, not a
// flag for the whole file), so nothing shared with other files, inline
// functions of headers included, can end up with AVX2 instructions. FMA is
// not among the targets: a product and a sum stay two roundings, as in the
// SSE2 loops.
#include "pipeline/object_pass_avx2.h"

#ifdef OBJECT_PASS_AVX2

#include <immintrin.h>

#include "math/clip.h"
#include "math/fixed.h"
#include "pipeline/face_verdict.h"
#include "raster/screen.h"

#define AVX2 __attribute__((target("avx2")))

namespace {

// A 4 x 4 transpose of words within each 128-bit half: row j of the four
// inputs becomes lane j of each output, in both halves at once.
AVX2 inline void transpose_halves(__m256 r[4]) {
    const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpacklo_ps(r[2], r[3]);
    const __m256 t2 = _mm256_unpackhi_ps(r[0], r[1]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    r[0] = _mm256_castpd_ps(_mm256_unpacklo_pd(_mm256_castps_pd(t0), _mm256_castps_pd(t1)));
    r[1] = _mm256_castpd_ps(_mm256_unpackhi_pd(_mm256_castps_pd(t0), _mm256_castps_pd(t1)));
    r[2] = _mm256_castpd_ps(_mm256_unpacklo_pd(_mm256_castps_pd(t2), _mm256_castps_pd(t3)));
    r[3] = _mm256_castpd_ps(_mm256_unpackhi_pd(_mm256_castps_pd(t2), _mm256_castps_pd(t3)));
}

// whole_row (up = 1) or whole_column (up = 0) in each lane: the truncation,
// moved one up or down where it lies below or above x; 0 where |x| >= 2^23
// or x is NaN.
AVX2 inline __m256i whole8(__m256 x, int up) {
    const __m256 magnitude = _mm256_and_ps(x, _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF)));
    const __m256i fits = _mm256_castps_si256(_mm256_cmp_ps(magnitude, _mm256_set1_ps(FLOAT_WHOLE), _CMP_LT_OQ));
    const __m256i t = _mm256_cvttps_epi32(x);  // used only where it fits
    const __m256 back = _mm256_cvtepi32_ps(t);
    const __m256i whole = up ? _mm256_sub_epi32(t, _mm256_castps_si256(_mm256_cmp_ps(back, x, _CMP_LT_OQ)))
                             : _mm256_add_epi32(t, _mm256_castps_si256(_mm256_cmp_ps(back, x, _CMP_GT_OQ)));
    return _mm256_and_si256(fits, whole);
}

// For each 8-bit lane mask, the numbers of its set lanes in order, four
// bits each: the permutation that packs those lanes to the front.
struct LanePacking {
    uint32_t lanes[256];
};

constexpr LanePacking make_lane_packing() {
    LanePacking t{};
    for (int m = 0; m < 256; m++)
        for (int lane = 0, k = 0; lane < 8; lane++)
            if (m >> lane & 1) t.lanes[m] |= (uint32_t)lane << (4 * k++);
    return t;
}

constexpr LanePacking lane_packing = make_lane_packing();

// Faces f..f + 7, f a multiple of 4, so that their planes are two whole
// blocks: the entries of those that turn towards the eye, packed in order
// to out (the faces the lanes leave open decided one by one), and their
// corners marked. Returns the number of entries.
template <bool with_columns, bool with_marks>
AVX2 int32_t classify_eight(const SceneObject* object, int32_t f, const ViewVertex* view,
                            const ClassifyExtras& extras, int32_t height, const __m256 eye[3], uint32_t* out) {
    // The facing test, as the four-lane one: NaN faces the eye.
    const float* b = object->face_planes + (size_t)f * 4;
    const __m256 nx = _mm256_loadu2_m128(b + 16, b), ny = _mm256_loadu2_m128(b + 20, b + 4);
    const __m256 nz = _mm256_loadu2_m128(b + 24, b + 8), d = _mm256_loadu2_m128(b + 28, b + 12);
    const __m256 s = _mm256_add_ps(
        _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(nx, eye[0]), _mm256_mul_ps(ny, eye[1])), _mm256_mul_ps(nz, eye[2])),
        d);
    const uint32_t facing = ~(uint32_t)_mm256_movemask_ps(_mm256_cmp_ps(s, _mm256_set1_ps((float)face_verdict::facing_limit), _CMP_GE_OQ)) & 0xFF;
    if (!facing) return 0;

    // Each corner's sx, sides, row and column in one load, faces j and j + 4
    // in the two halves, turned into lanes. Faces that turn away are read
    // too: their corners exist, and their lanes are never stored.
    const SceneFace* q = &object->faces[f];
    __m256 sx[3];
    __m256i sides[3], row[3], column[3];
    for (int k = 0; k < 3; k++) {
        __m256 w[4];
        for (int j = 0; j < 4; j++)
            w[j] = _mm256_loadu2_m128(&view[q[j + 4].vertex_index[k]].sx, &view[q[j].vertex_index[k]].sx);
        transpose_halves(w);
        sx[k] = w[0];
        sides[k] = _mm256_castps_si256(w[1]);
        row[k] = _mm256_castps_si256(w[2]);
        column[k] = _mm256_castps_si256(w[3]);
    }
    const __m256i ones = _mm256_set1_epi32(-1), one = _mm256_set1_epi32(1), zero = _mm256_setzero_si256();
    const __m256i inside_bits = _mm256_set1_epi32(CLIP_SIDES_INSIDE);

    // face_verdict::action's steps in its order; `open` holds the lanes no step has
    // decided yet. A corner outside a plane: clip_triangle_action's verdict,
    // CLIP_DROP where all three are on or outside one plane, else CLIP_CUT.
    const __m256i all = _mm256_and_si256(_mm256_and_si256(sides[0], sides[1]), sides[2]);
    const __m256i any = _mm256_or_si256(_mm256_or_si256(sides[0], sides[1]), sides[2]);
    __m256i open = _mm256_cmpeq_epi32(_mm256_and_si256(all, inside_bits), inside_bits);
    const __m256i out_of_none =
        _mm256_cmpeq_epi32(_mm256_andnot_si256(all, _mm256_and_si256(_mm256_srli_epi32(all, 4), inside_bits)), zero);
    __m256i action = _mm256_blendv_epi8(_mm256_set1_epi32(CLIP_DROP), _mm256_set1_epi32(CLIP_CUT), out_of_none);
    // Dropped: a corner nearer than the near limit, no row, or one column
    // whose sides the corners keep clear of.
    const __m256i near_bit = _mm256_set1_epi32((int)VIEW_VERTEX_NEAR);
    __m256i dropped = _mm256_cmpeq_epi32(_mm256_and_si256(any, near_bit), near_bit);
    const __m256i first_row = _mm256_min_epi32(_mm256_min_epi32(row[0], row[1]), row[2]);
    const __m256i end_row = _mm256_max_epi32(_mm256_max_epi32(row[0], row[1]), row[2]);
    const __m256i rows = _mm256_sub_epi32(end_row, first_row);
    dropped = _mm256_or_si256(dropped, _mm256_cmpgt_epi32(one, rows));
    const __m256i least = _mm256_min_epi32(_mm256_min_epi32(column[0], column[1]), column[2]);
    const __m256i greatest = _mm256_max_epi32(_mm256_max_epi32(column[0], column[1]), column[2]);
    const __m256i one_column = _mm256_cmpeq_epi32(least, greatest);
    const __m256i one_row = _mm256_cmpeq_epi32(rows, one);
    // left and right as action's loop takes them: sx 1, then sx 2,
    // replaces the running one where it is less (greater).
    const __m256 left = _mm256_min_ps(sx[2], _mm256_min_ps(sx[1], sx[0]));
    const __m256 right = _mm256_max_ps(sx[2], _mm256_max_ps(sx[1], sx[0]));
    const __m256 onef = _mm256_set1_ps(1.0f), columnf = _mm256_cvtepi32_ps(least);
    const __m256 slack = _mm256_add_ps(_mm256_set1_ps(face_verdict::edge_slack),
                                       _mm256_mul_ps(_mm256_add_ps(_mm256_cvtepi32_ps(rows), onef),
                                                     _mm256_set1_ps(face_verdict::row_slack)));
    const __m256 clear = _mm256_and_ps(_mm256_cmp_ps(_mm256_sub_ps(left, columnf), slack, _CMP_GT_OQ),
                                       _mm256_cmp_ps(_mm256_sub_ps(_mm256_add_ps(columnf, onef), right), slack,
                                                     _CMP_GT_OQ));
    dropped = _mm256_or_si256(dropped, _mm256_and_si256(one_column, _mm256_castps_si256(clear)));
    // Several columns crossed by one row: the double-precision test, left
    // to the one-by-one code.
    __m256i slow = _mm256_and_si256(open, _mm256_andnot_si256(dropped, _mm256_andnot_si256(one_column, one_row)));
    action = _mm256_blendv_epi8(action, _mm256_set1_epi32(CLIP_DROP), _mm256_and_si256(open, dropped));
    open = _mm256_andnot_si256(_mm256_or_si256(dropped, slow), open);
    // The rest are kept whole, unless their first row (their only one) lies
    // outside the columns; a taller face with its first row outside is left
    // to the one-by-one code, which looks at the others.
    if (with_columns && extras.columns) {
        const __m256i below_end = _mm256_xor_si256(_mm256_cmpgt_epi32(end_row, _mm256_set1_epi32(height)), ones);
        const __m256i in_rows = _mm256_andnot_si256(_mm256_cmpgt_epi32(zero, first_row), below_end);
        const __m256i tested = _mm256_and_si256(open, in_rows);
        const __m256i at = _mm256_slli_epi32(_mm256_and_si256(first_row, tested), 1);  // row 0 where untested
        const __m256i low = _mm256_i32gather_epi32((const int*)extras.columns, at, 4);
        const __m256i high = _mm256_i32gather_epi32((const int*)extras.columns + 1, at, 4);
        // span_outside_columns(least - 1, greatest + 1, low, high)
        const __m256i outside = _mm256_and_si256(
            tested, _mm256_or_si256(_mm256_cmpgt_epi32(low, _mm256_add_epi32(greatest, one)),
                                    _mm256_cmpgt_epi32(_mm256_sub_epi32(least, one), high)));
        action = _mm256_blendv_epi8(action, _mm256_set1_epi32(CLIP_DROP), _mm256_and_si256(outside, one_row));
        slow = _mm256_or_si256(slow, _mm256_andnot_si256(one_row, outside));
        open = _mm256_andnot_si256(outside, open);
    }
    action = _mm256_blendv_epi8(action, _mm256_set1_epi32(CLIP_KEEP), open);

    // The facing lanes' entries, packed in face order (stored whole: the
    // caller's room covers the eight faces).
    const __m256i entries = _mm256_or_si256(
        _mm256_slli_epi32(_mm256_add_epi32(_mm256_set1_epi32(f), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)), 2),
        action);
    const __m256i order = _mm256_srlv_epi32(_mm256_set1_epi32((int)lane_packing.lanes[facing]),
                                            _mm256_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28));
    _mm256_storeu_si256((__m256i*)out, _mm256_permutevar8x32_epi32(entries, order));
    for (uint32_t m = (uint32_t)_mm256_movemask_ps(_mm256_castsi256_ps(slow)) & facing; m; m &= m - 1) {
        const int lane = __builtin_ctz(m);
        const uint16_t* k = q[lane].vertex_index;
        const ViewVertex* v[3] = {&view[k[0]], &view[k[1]], &view[k[2]]};
        out[__builtin_popcount(facing & ((1u << lane) - 1))] =
            (uint32_t)(f + lane) << 2 | (uint32_t)face_verdict::action(v, extras.columns, height);
    }
    if (with_marks)
        for (uint32_t m = facing; m; m &= m - 1) {
            const uint16_t* k = q[__builtin_ctz(m)].vertex_index;
            extras.marks[k[0]].store(extras.mark, std::memory_order_relaxed);
            extras.marks[k[1]].store(extras.mark, std::memory_order_relaxed);
            extras.marks[k[2]].store(extras.mark, std::memory_order_relaxed);
        }
    return __builtin_popcount(facing);
}

// Faces [first, first + count), count a multiple of 8, eight at a time.
template <bool with_columns, bool with_marks>
AVX2 int32_t classify_eights(const ObjectView* eye, const SceneObject* object, int32_t first, int32_t count,
                             const ViewVertex* view, const ClassifyExtras& extras, uint32_t* out) {
    const float* e = &eye->view_to_object.m[12];
    const __m256 position[3] = {_mm256_set1_ps(e[0]), _mm256_set1_ps(e[1]), _mm256_set1_ps(e[2])};
    const int32_t height = eye->screen->height;
    int32_t n = 0;
    for (int32_t f = first; f < first + count; f += 8)
        n += classify_eight<with_columns, with_marks>(object, f, view, extras, height, position, out + n);
    return n;
}

}  // namespace

// Eight vertices at a time, as the four-lane loop of object_view_vertices
// does four: the same operations in the same order in every lane.
AVX2 int32_t object_view_vertices_avx2(const ObjectView* view, const SceneVertex* vertices, int32_t count,
                                       ViewVertex* out) {
    const float* m = view->object_to_view.m;
    const Plane* p = view->screen->frustum.planes;
    const __m256 zero = _mm256_setzero_ps();
    const __m256 near = _mm256_set1_ps((float)face_verdict::near_limit);  // z < 0.1f is (double)z < 0.1, as there
    __m256 matrix[16], plane[4][4];
    for (int k = 0; k < 16; k++) matrix[k] = _mm256_set1_ps(m[k]);
    for (int k = 0; k < 4; k++) {
        const float coefficient[4] = {p[k].a, p[k].b, p[k].c, p[k].d};
        for (int j = 0; j < 4; j++) plane[k][j] = _mm256_set1_ps(coefficient[j]);
    }
    const __m256 focal = _mm256_set1_ps(view->screen->focal_length);
    const __m256 centre_x = _mm256_set1_ps((float)view->screen->centre_x);
    const __m256 centre_y = _mm256_set1_ps((float)view->screen->centre_y);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        // x, y, z (and u, unused) of vertices j and j + 4 in one load each.
        const SceneVertex* s = &vertices[i];
        __m256 w[4];
        for (int j = 0; j < 4; j++) w[j] = _mm256_loadu2_m128(&s[j + 4].x, &s[j].x);
        transpose_halves(w);
        __m256 c[3];
        for (int k = 0; k < 3; k++)
            c[k] = _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(w[0], matrix[k]),
                                                             _mm256_mul_ps(w[1], matrix[4 + k])),
                                               _mm256_mul_ps(w[2], matrix[8 + k])),
                                 matrix[12 + k]);
        const __m256 sx = _mm256_add_ps(_mm256_div_ps(_mm256_mul_ps(focal, c[0]), c[2]), centre_x);
        const __m256 sy = _mm256_add_ps(_mm256_div_ps(_mm256_mul_ps(focal, c[1]), c[2]), centre_y);
        __m256i sides = _mm256_and_si256(_mm256_castps_si256(_mm256_cmp_ps(c[2], near, _CMP_LT_OQ)),
                                         _mm256_set1_epi32((int)VIEW_VERTEX_NEAR));
        for (int k = 0; k < 4; k++) {
            const __m256 distance = _mm256_add_ps(
                _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(plane[k][0], c[0]), _mm256_mul_ps(plane[k][1], c[1])),
                              _mm256_mul_ps(plane[k][2], c[2])),
                plane[k][3]);
            const __m256i inside = _mm256_castps_si256(_mm256_cmp_ps(distance, zero, _CMP_GE_OQ));
            const __m256i outside = _mm256_castps_si256(_mm256_cmp_ps(distance, zero, _CMP_LE_OQ));
            sides = _mm256_or_si256(sides, _mm256_and_si256(inside, _mm256_set1_epi32(1 << k)));
            sides = _mm256_or_si256(sides, _mm256_and_si256(outside, _mm256_set1_epi32(16 << k)));
        }
        // Lanes to records: sx, sides, row and column of a vertex are one
        // transposed row, x, y, z and sy the next; vertex j in the low
        // halves, j + 4 in the high ones.
        __m256 front[4] = {sx, _mm256_castsi256_ps(sides), _mm256_castsi256_ps(whole8(sy, 1)),
                           _mm256_castsi256_ps(whole8(sx, 0))};
        __m256 back[4] = {c[0], c[1], c[2], sy};
        transpose_halves(front);
        transpose_halves(back);
        for (int j = 0; j < 4; j++) {
            _mm256_storeu2_m128(&out[i + j + 4].sx, &out[i + j].sx, front[j]);
            _mm256_storeu2_m128(&out[i + j + 4].x, &out[i + j].x, back[j]);
        }
    }
    return i;
}

// The copies by what classification does besides, [columns][marks], as
// the four-lane loop's.
const ClassifyLoop classify_eights_loops[2][2] = {{classify_eights<false, false>, classify_eights<false, true>},
                                                  {classify_eights<true, false>, classify_eights<true, true>}};

AVX2 int32_t object_pass_classify_avx2(const ObjectView* eye, const SceneObject* object, int32_t first, int32_t count,
                                       const ViewVertex* view, const ClassifyExtras* extras, uint32_t* out) {
    const ClassifyExtras& e = *extras;
    return classify_eights_loops[e.columns != nullptr][e.marks != nullptr](eye, object, first, count, view, e, out);
}

#endif
