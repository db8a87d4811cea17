// Edge set-up: edges.h describes it.
#include "pipeline/edges.h"

#include <cmath>
#include <cstdint>

#ifdef __SSE2__
#include <xmmintrin.h>
#endif

#include "raster/screen.h"

namespace {

// Float to 16.16 by truncation, saturating instead of overflowing: only the
// steps of one-row edges can get this large, and those are never added.
inline int32_t fixed_from_float(float value) {
    if (std::fabs(value) < 2147483520.0f) return (int32_t)value;  // the common case, one test
    if (value >= 2147483520.0f) return INT32_MAX;  // largest float below 2^31
    if (value <= -2147483648.0f) return INT32_MIN;
    if (!(value == value)) return 0;
    return (int32_t)value;
}

// The edge from the upper vertex a to the lower vertex b covering the rows
// top <= y < bottom, their ceilings: a chain's vertices are each the end of
// one edge and the start of the next. 0 when it covers none (the entry is
// then not to be used).
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

// chains_between for a triangle, the shape of every face kept whole: the
// same chains, each of the three edges worked out once, without walking
// the vertex order. With top and bottom the first vertices in order of
// least and greatest y, and m the third: when m follows top the left chain
// is top-m-bottom and the right chain the edge top-bottom; otherwise the
// left chain is that edge and the right chain, bottom to top, m-bottom and
// top-m. Edges of no rows are left out, as chains_between leaves them.
int setup_triangle_chains(const ClipVertex v[3], const int32_t rows[3], const Screen* screen, EdgeChains* c) {
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

