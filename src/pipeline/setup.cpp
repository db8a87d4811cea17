// Polygon setup: one projected polygon becomes one span per covered row.
//
// Rows are sampled at integer y with no half-pixel offset: an edge from A
// down to B covers the rows A.y <= y < B.y, and a span covers the columns
// floor(left edge) <= x < floor(right edge). Edge x is carried in 16.16 and
// stepped with one addition per row; the attributes are carried per row as
// their value at column 0 plus a per-column gradient, so insert_span can
// evaluate any column with one multiply-add.
#include <cmath>
#include <cstdint>

#include "pipeline/pipeline.h"
#include "pipeline/setup.h"
#include "raster/engine.h"
#include "raster/insert.h"
#include "texture/texture.h"

namespace {

struct SetupState {
    EdgeChains chains;           // of the polygon being emitted
    PolygonGradients gradients;  // of the polygon being emitted
    SpanNode span;               // template handed to insert_span, refilled per row
};

SetupState setup = {};

// Area ratio thresholds, highest level first; each level quarters the
// texel area, so they sit near the powers of 4.
const float level_thresholds[] = {262000.0f, 65500.0f, 16000.0f, 4000.0f, 1000.0f,
                                  250.0f,    70.0f,    20.0f,    5.0f};
const int top_level = 9;
static_assert(sizeof level_thresholds / sizeof level_thresholds[0] == top_level,
              "one threshold per level above 0");

// Float to 16.16 by truncation, saturating instead of overflowing: only the
// steps of one-row edges can get this large, and those are never added.
int32_t fixed_from_float(float value) {
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

// Moves both chains down one row: right first, since only the right chain
// decides when the polygon ends. 0 when the right chain is used up. A left
// chain that runs out first (possible only when rounding made a chain
// non-monotone and an edge was skipped) keeps its last x.
int chains_advance(int32_t* xl, int32_t* xr) {
    EdgeChains* c = &setup.chains;
    EdgeStep* right = &c->right[c->right_cursor];
    if (--right->count > 0) {
        *xr += right->dx;
    } else {
        if (c->right_cursor == 0) return 0;
        c->right_cursor--;
        *xr = c->right[c->right_cursor].x;
    }
    EdgeStep* left = &c->left[c->left_cursor];
    if (--left->count > 0) {
        *xl += left->dx;
    } else if (c->left_cursor + 1 < c->left_count) {
        c->left_cursor++;
        *xl = c->left[c->left_cursor].x;
    }
    return 1;
}

}  // namespace

int setup_edge(const ClipVertex* a, const ClipVertex* b, EdgeStep* edge) {
    float top = std::ceil(a->y);
    int32_t count = (int32_t)(std::ceil(b->y) - top);
    if (count <= 0) return 0;  // a negative count would never end the walk
    // count >= 1 means b->y > a->y, so the division is safe.
    float slope = (b->x - a->x) / (b->y - a->y);
    edge->x = fixed_from_float((a->x + (top - a->y) * slope) * 65536.0f);
    edge->y = (int32_t)top;
    edge->count = count;
    edge->dx = fixed_from_float(slope * 65536.0f);
    return 1;
}

int setup_edge_chains(const ClipPolygon* polygon) {
    EdgeChains* c = &setup.chains;
    c->left_count = c->right_count = 0;
    int32_t n = polygon->count;
    if (n < 3 || n > CLIP_MAX_VERTICES) return 0;

    // Rows and columns are written unchecked, so every vertex must lie on the
    // screen; the frustum keeps projected vertices 2 pixels inside, and this
    // only rejects geometry that was not finite to begin with.
    float width = (float)engine_width(), height = (float)engine_height();
    for (int32_t i = 0; i < n; i++) {
        const ClipVertex* v = &polygon->v[i];
        if (!(v->x >= 0.0f && v->x <= width && v->y >= 0.0f && v->y <= height)) return 0;
    }

    float min_y = 65536.0f, max_y = -65536.0f;
    int32_t top = 0, bottom = 0;
    for (int32_t i = 0; i < n; i++) {  // ties: the first vertex in order wins
        float y = polygon->v[i].y;
        if (y < min_y) min_y = y, top = i;
        if (y > max_y) max_y = y, bottom = i;
    }
    c->first_row = (int32_t)std::ceil(min_y);
    c->end_row = (int32_t)std::ceil(max_y);
    if (c->first_row >= c->end_row) return 0;

    for (int32_t i = top; i != bottom; i = (i + 1) % n) {
        int32_t next = (i + 1) % n;
        if (setup_edge(&polygon->v[i], &polygon->v[next], &c->left[c->left_count])) c->left_count++;
    }
    for (int32_t i = bottom; i != top; i = (i + 1) % n) {
        int32_t next = (i + 1) % n;
        if (setup_edge(&polygon->v[next], &polygon->v[i], &c->right[c->right_count])) c->right_count++;
    }
    // Both chains span first_row..end_row, so each holds an edge with a
    // positive count; the test only guards against a broken invariant.
    if (c->left_count == 0 || c->right_count == 0) return 0;
    c->left_cursor = 0;
    c->right_cursor = c->right_count - 1;
    return 1;
}

int compute_gradients(const ClipPolygon* polygon, int32_t tw, int32_t th) {
    const ClipVertex* p = polygon->v;
    float d = screen_determinant(polygon);
    if (d == 0.0f) return 0;
    float w[3], u[3], v[3], lx[3], ly[3], lz[3];
    for (int i = 0; i < 3; i++) {
        w[i] = 1.0f / p[i].z;
        u[i] = w[i] * p[i].u * (float)tw;
        v[i] = w[i] * p[i].v * (float)th;
        lx[i] = w[i] * p[i].lx;
        ly[i] = w[i] * p[i].ly;
        lz[i] = w[i] * p[i].lz;
    }
    PolygonGradients* g = &setup.gradients;
    g->u = plane_through(u[0], u[1], u[2], &p[0], &p[1], &p[2], d);
    g->v = plane_through(v[0], v[1], v[2], &p[0], &p[1], &p[2], d);
    g->w = plane_through(w[0], w[1], w[2], &p[0], &p[1], &p[2], d);
    g->lx = plane_through(lx[0], lx[1], lx[2], &p[0], &p[1], &p[2], d);
    g->ly = plane_through(ly[0], ly[1], ly[2], &p[0], &p[1], &p[2], d);
    g->lz = plane_through(lz[0], lz[1], lz[2], &p[0], &p[1], &p[2], d);
    return 1;
}

float texel_area_ratio(const ClipPolygon* polygon, const Texture* texture) {
    int32_t n = polygon->count;
    if (n < 3 || n > CLIP_MAX_VERTICES) return 0.0f;
    float half_width = (float)texture->base_width, half_height = (float)texture->base_height;
    float s = 0.0f, t = 0.0f;
    const ClipVertex* prev = &polygon->v[n - 1];
    for (int32_t i = 0; i < n; i++) {
        const ClipVertex* cur = &polygon->v[i];
        s += prev->x * cur->y - cur->x * prev->y;
        float prev_u = prev->u * half_width, prev_v = prev->v * half_height;
        float cur_u = cur->u * half_width, cur_v = cur->v * half_height;
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

const EdgeChains* polygon_setup_chains() { return &setup.chains; }
const PolygonGradients* polygon_setup_gradients() { return &setup.gradients; }

int emit_polygon_camera(const ClipPolygon* polygon, Texture* texture, uint32_t face_id) {
    // A texture without a level on an axis cannot be addressed; such faces
    // are drawn like faces without a texture.
    if (!texture || texture->level_count_x < 1 || texture->level_count_y < 1 || !texture->levels ||
        !texture->shade_table)
        texture = pipeline_neutral_texture();
    ScanlineSpanList* rows = engine_scanline_lists();
    if (!rows || !setup_edge_chains(polygon)) return 0;

    int32_t level = select_texture_level(texel_area_ratio(polygon, texture));
    int32_t levels_u = texture->level_count_x, levels_v = texture->level_count_y;
    int32_t level_u = level < levels_u ? level : levels_u - 1;
    int32_t level_v = level < levels_v ? level : levels_v - 1;
    if (!compute_gradients(polygon, texture->base_width >> level_u, texture->base_height >> level_v))
        return 0;

    const PolygonGradients* g = &setup.gradients;
    SpanNode* span = &setup.span;
    span->d_u_over_z = g->u.dx;
    span->d_v_over_z = g->v.dx;
    span->d_inv_z = g->w.dx;
    span->d_lx_over_z = g->lx.dx;
    span->d_ly_over_z = g->ly.dx;
    span->d_lz_over_z = g->lz.dx;
    span->texture = texture;
    span->level_index = level_v * levels_u + level_u;
    span->face_id = face_id;

    const EdgeChains* c = &setup.chains;
    int32_t y = c->left[0].y;
    float row = (float)y;
    float w = g->w.at_origin + row * g->w.dy;
    float u = g->u.at_origin + row * g->u.dy;
    float v = g->v.at_origin + row * g->v.dy;
    float lx = g->lx.at_origin + row * g->lx.dy;
    float ly = g->ly.at_origin + row * g->ly.dy;
    float lz = g->lz.at_origin + row * g->lz.dy;
    int32_t xl = c->left[0].x, xr = c->right[c->right_cursor].x;
    for (;;) {
        int32_t x_right = xr >> 16;
        if (x_right > 0) {  // a span ending at or left of column 0 shows nothing
            span->inv_z = w;
            span->u_over_z = u;
            span->v_over_z = v;
            span->lx_over_z = lx;
            span->ly_over_z = ly;
            span->lz_over_z = lz;
            span->x_left = xl >> 16;
            span->x_right = x_right;
            insert_span(span, &rows[y]);
        }
        w += g->w.dy;
        u += g->u.dy;
        v += g->v.dy;
        lx += g->lx.dy;
        ly += g->ly.dy;
        lz += g->lz.dy;
        y++;
        // end_row <= screen height, so y always names an existing row.
        if (!chains_advance(&xl, &xr) || y >= c->end_row) return 1;
    }
}

int emit_polygon_light(const ClipPolygon* polygon, uint32_t face_id) {
    ScanlineSpanList* rows = engine_scanline_lists();
    if (!rows || !setup_edge_chains(polygon)) return 0;
    // Only depth matters to the light: the W plane is the one compute_gradients
    // would build, without the five texture and light-view planes.
    float d = screen_determinant(polygon);
    if (d == 0.0f) return 0;
    const ClipVertex* p = polygon->v;
    PlaneGradient* gw = &setup.gradients.w;
    *gw = plane_through(1.0f / p[0].z, 1.0f / p[1].z, 1.0f / p[2].z, &p[0], &p[1], &p[2], d);

    SpanNode* span = &setup.span;
    span->d_inv_z = gw->dx;
    span->face_id = face_id;

    const EdgeChains* c = &setup.chains;
    int32_t y = c->left[0].y;
    float w = gw->at_origin + (float)y * gw->dy;
    int32_t xl = c->left[0].x, xr = c->right[c->right_cursor].x;
    for (;;) {
        int32_t x_right = xr >> 16;
        if (x_right > 0) {
            span->inv_z = w;
            span->x_left = xl >> 16;
            span->x_right = x_right;
            insert_span(span, &rows[y]);
        }
        w += gw->dy;
        y++;
        if (!chains_advance(&xl, &xr) || y >= c->end_row) return 1;
    }
}
