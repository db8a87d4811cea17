// Shading set-up: shading_setup.h describes it.
#include "pipeline/shading_setup.h"

#include <cmath>

#ifdef __SSE2__
#include <xmmintrin.h>
#endif

#include "texture/texture.h"

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

