// Resolve passes and camera-pass shading; resolve.h states the contracts.
#include "raster/resolve.h"

#include <cmath>
#include <cstdint>

#include "display/font.h"
#include "math/fixed.h"
#include "math/lanes.h"
#include "raster/engine.h"
#include "raster/row_walk.h"
#include "texture/texture.h"

const char* const WARNING_SPANS_OVERLAP = "Varnel narusen - prekreslovani !";
const char* const WARNING_OUT_OF_MEMORY = "Nedostatek pameti RAM !";

using namespace row_walk;

namespace {

const int32_t run_length = 16;               // pixels between exact divisions
const int32_t runs_per_fill = 32;            // runs a fill call takes: 512 pixels
const float texture_wrap = TEXTURE_WRAP_F;   // u, v are kept below this in magnitude
const float light_limit = LIGHT_REACH_F;     // sx, sy likewise, from the light view's centre
// Per remainder count c (2..15), the double just above 1/c. A difference a
// (|a| < 2^31) times it, truncated toward zero, is a / c truncated, as an
// integer division gives it, for a multiply in place of a division: the
// exact product lies beyond a / c, on a's side of zero, by less than 2^-21,
// and its rounding, by less than 2^-23, never takes it back past a / c when
// that is an integer (which is representable); a / c that is not an
// integer lies at least 1/15 from every integer.
struct RemainderScales {
    double of[16];
};
RemainderScales remainder_scales() {
    RemainderScales r = {};
    for (int c = 2; c < 16; c++) r.of[c] = std::nextafter(1.0 / c, 2.0);
    return r;
}
const RemainderScales remainder_scale = remainder_scales();

// A span's runs on their way to the fill, handed over a batch at a time.
struct RunBatch {
    FillRun runs[runs_per_fill];
    int32_t count;
    uint32_t* destination;  // where the batch's first run is drawn
};

// The next slot; a full batch is drawn first. Every run but a span's last
// is run_length pixels long, so a full batch ends runs_per_fill runs on.
inline FillRun* batch_next(const ShadeState* shade, RunBatch* b) {
    if (b->count == runs_per_fill) {
        shade->fill(shade, b->runs, b->count, b->destination);
        b->destination += runs_per_fill * run_length;
        b->count = 0;
    }
    return &b->runs[b->count++];
}

inline void batch_finish(const ShadeState* shade, RunBatch* b) {
    if (b->count > 0) shade->fill(shade, b->runs, b->count, b->destination);
}

const int32_t warning_x = 50;
const int32_t overlap_warning_y = 20;
const int32_t memory_warning_y = 50;

// The span's texture level: checked and loaded unless the previous span of
// the pass used the same one (neighbouring spans mostly share a face's
// texture). 0 when the texture has no such level.
int load_level(ShadeState* shade, const Texture* t, int32_t level_index) {
    if (t && t == shade->loaded_texture && level_index == shade->loaded_level) return 1;
    shade->loaded_texture = nullptr;
    if (!t || !t->levels || !t->shade_table) return 0;
    if (t->level_count_x < 1 || t->level_count_x > 31 || t->level_count_y < 1 || t->level_count_y > 31)
        return 0;
    if (level_index < 0 || level_index >= t->level_count_x * t->level_count_y) return 0;
    const TextureLevel* level = &t->levels[level_index];
    if (!level->texels || !level->colours) return 0;
    shade->shade_table = t->shade_table;
    shade->texels = level->texels;
    shade->colours = level->colours;
    shade->row_length = level->width;
    shade->u_mask = level->width_mask;
    shade->v_mask = level->last_row_offset;
    shade->v_shift = level->coord_shift & 31;
    shade->loaded_texture = t;
    shade->loaded_level = level_index;
    return 1;
}

// 16.16 texel coordinate, truncated; values beyond 2^30 in magnitude are
// reduced modulo 2^30, which keeps bits 16..29 and so the texel in any
// power-of-two level up to 16384 texels. Non-finite values give 0.
int32_t wrap_texture_coord(float t) {
    if (t > -texture_wrap && t < texture_wrap) return (int32_t)t;
    if (!std::isfinite(t)) return 0;
    return (int32_t)std::fmod((double)t, (double)texture_wrap);  // |t| >= 2^30: an integer, exact
}

int32_t light_coord(float offset, int32_t centre) {
    if (offset > -light_limit && offset < light_limit) return (int32_t)offset + centre;
    return SHADE_NO_LIGHT_POSITION;  // also NaN
}

// shade_coords, inlined into shade_span's run loop.
inline ShadeCoords coords_at(const ShadeState* shade, float w, float u_over_z, float v_over_z,
                             float lx_over_z, float ly_over_z, float lz_over_z) {
    ShadeCoords c;
    float scale = FIXED_ONE_F / w;
    c.u = wrap_texture_coord(scale * u_over_z);
    c.v = wrap_texture_coord(scale * v_over_z);
    if (lz_over_z > 0.0f) {  // in front of the light's eye plane (false for NaN)
        float k = shade->focal_fixed / lz_over_z;
        c.sx = light_coord(k * lx_over_z, shade->centre_x);
        c.sy = light_coord(k * ly_over_z, shade->centre_y);
    } else {
        c.sx = c.sy = SHADE_NO_LIGHT_POSITION;
    }
    return c;
}

}  // namespace

void shade_begin(ShadeState* state, const ShadeSettings* settings, const Screen* screen) {
    *state = ShadeState{};
    state->shadow_buffer = settings->shadow_buffer;
    // Above 256 a channel would carry into its neighbour.
    int32_t factor = settings->shadow_factor;
    state->shadow_factor = (uint32_t)(factor < 0 ? 0 : factor > 256 ? 256 : factor);
    state->width = screen->width;
    state->height = screen->height;
    int usable = state->shadow_buffer && state->width >= 4 && state->height >= 4;
    state->shadow_range_x = usable ? (uint32_t)(state->width - 3) : 0;
    state->shadow_range_y = usable ? (uint32_t)(state->height - 3) : 0;
    state->centre_x = screen->centre_x * FIXED_ONE;
    state->centre_y = screen->centre_y * FIXED_ONE;
    state->focal_fixed = screen->focal_length * FIXED_ONE_F;
    state->fill = settings->fill;
    state->lit_columns = settings->lit_columns;
    state->surface = settings->surface;
    state->weights = engine_bilinear_weights_packed();
    shade_fill_lanes(state);
}

void shade_fill_lanes(ShadeState* state) {
    const int32_t lane_values[SHADE_LANE_ROWS] = {
        (int32_t)(state->shadow_range_x + 0x80000000u), (int32_t)(state->shadow_range_y + 0x80000000u),
        state->width, (int32_t)(state->shadow_factor * 0x10001u), 0x003F003F, 0x00FF00FF, 0xFF, 2, INT32_MIN, ~7};
    for (int row = 0; row < SHADE_LANE_ROWS; row++)
        for (int k = 0; k < 8; k++) state->lanes[row][k] = lane_values[row];
}

int shade_span_prepare(ShadeState* state, const SpanNode* span) {
    const SpanShading* s = span->shading;
    if (!s || !load_level(state, s->texture, s->level_index)) return 0;
    state->d_w = span->d_inv_z;
    state->d_u = s->d_u_over_z;
    state->d_v = s->d_v_over_z;
    state->d_lx = s->d_lx_over_z;
    state->d_ly = s->d_ly_over_z;
    state->d_lz = s->d_lz_over_z;
    state->face_id = span->face_id;
    state->own_patch = 0;
    if (const SurfacePatches* surface = state->surface)
        if (span->face_id < surface->id_count && surface->faced[span->face_id] == surface->faced_mark)
            state->own_patch = surface->patch_of[span->face_id];
    return 1;
}

ShadeCoords shade_coords(const ShadeState* state, float w, float u_over_z, float v_over_z,
                         float lx_over_z, float ly_over_z, float lz_over_z) {
    return coords_at(state, w, u_over_z, v_over_z, lx_over_z, ly_over_z, lz_over_z);
}

#ifdef __SSE2__

namespace {

// shade_span four lanes at a time: u/z, v/z, lx/z, ly/z in one vector, w
// and lz/z in another (with ones in its other lanes, which divide nothing
// away). Every lane does what the plain steps do to its value, in the same
// order and precision, so the results are the same bit for bit.

// coords_at: one division gives 65536 / w and focal / lz, one multiply the
// four products; when all four lie in range and lz > 0 (nearly always) they
// are truncated together, anything else goes through coords_at itself.
inline __m128i coords4(const ShadeState* shade, __m128 planes, __m128 w_lz) {
    const __m128 q = _mm_div_ps(_mm_setr_ps(FIXED_ONE_F, shade->focal_fixed, 1.0f, 1.0f), w_lz);
    const __m128 t = _mm_mul_ps(_mm_shuffle_ps(q, q, _MM_SHUFFLE(1, 1, 0, 0)), planes);
    const __m128 high = _mm_setr_ps(texture_wrap, texture_wrap, light_limit, light_limit);
    const __m128 low = _mm_setr_ps(-texture_wrap, -texture_wrap, -light_limit, -light_limit);
    const int in_range = _mm_movemask_ps(_mm_and_ps(_mm_cmpgt_ps(t, low), _mm_cmplt_ps(t, high)));
    const int lz_positive = _mm_movemask_ps(_mm_cmpgt_ps(w_lz, _mm_setzero_ps())) & 2;  // false for NaN
    if (in_range == 0xF && lz_positive)
        return _mm_add_epi32(lanes_truncate(t), _mm_setr_epi32(0, 0, shade->centre_x, shade->centre_y));
    alignas(16) float p[4], wl[4];
    _mm_store_ps(p, planes);
    _mm_store_ps(wl, w_lz);
    const ShadeCoords c = coords_at(shade, wl[0], p[0], p[1], p[2], p[3], wl[1]);
    return _mm_setr_epi32(c.u, c.v, c.sx, c.sy);
}

// run_step for a run of run_length (16) pixels: the difference over 16,
// truncated toward zero as integer division does (a negative difference
// gets 15 added before the arithmetic shift).
inline __m128i run_steps4(__m128i start, __m128i end) {
    const __m128i diff = _mm_sub_epi32(end, start);
    return _mm_srai_epi32(_mm_add_epi32(diff, _mm_srli_epi32(_mm_srai_epi32(diff, 31), 28)), 4);
}

// remainder_step: the same products, two lanes to an instruction.
inline __m128i remainder_steps4(__m128i start, __m128i end, int32_t count) {
    const __m128i diff = _mm_sub_epi32(end, start);
    if (count == 1) return diff;
    const __m128d scale = _mm_set1_pd(remainder_scale.of[count]);
    const __m128d low = _mm_mul_pd(_mm_cvtepi32_pd(diff), scale);
    const __m128d high = _mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(diff, _MM_SHUFFLE(1, 0, 3, 2))), scale);
    return _mm_unpacklo_epi64(lanes_truncate_pd(low), lanes_truncate_pd(high));
}

// A run from the lanes u, v, sx, sy of start and step.
inline void store_run(FillRun* run, __m128i start, __m128i step, int32_t count) {
    _mm_storeu_si128((__m128i*)&run->u, start);
    _mm_storeu_si128((__m128i*)&run->du, step);
    run->count = count;
}

}  // namespace

void shade_span(const ShadeState* shade, int32_t count, float w, float u_over_z, float v_over_z,
                float lx_over_z, float ly_over_z, float lz_over_z, uint32_t* destination) {
    if (count <= 0) return;
    __m128 planes = _mm_setr_ps(u_over_z, v_over_z, lx_over_z, ly_over_z);
    __m128 w_lz = _mm_setr_ps(w, lz_over_z, 1.0f, 1.0f);
    const __m128 d_planes = _mm_setr_ps(shade->d_u, shade->d_v, shade->d_lx, shade->d_ly);
    const __m128 d_w_lz = _mm_setr_ps(shade->d_w, shade->d_lz, 0.0f, 0.0f);
    __m128i start = coords4(shade, planes, w_lz);
    RunBatch batch;
    batch.count = 0;
    batch.destination = destination;
    // A pixel alone is drawn from its start: no end to work out, no step.
    if (count == 1) {
        store_run(batch_next(shade, &batch), start, _mm_setzero_si128(), 1);
        batch_finish(shade, &batch);
        return;
    }
    // Runs of run_length pixels, then the rest, through one block: the
    // planes stepped to the run's end by one multiply-add, the end exact,
    // the fill stepping between; only the step's division differs.
    const __m128 full = _mm_set1_ps((float)run_length);
    auto block = [&](int32_t pixels, __m128 r, auto steps) {
        planes = _mm_add_ps(planes, _mm_mul_ps(r, d_planes));
        w_lz = _mm_add_ps(w_lz, _mm_mul_ps(r, d_w_lz));
        const __m128i end = coords4(shade, planes, w_lz);
        store_run(batch_next(shade, &batch), start, steps(start, end), pixels);
        start = end;
    };
    for (; count >= run_length; count -= run_length) block(run_length, full, run_steps4);
    if (count > 0)
        block(count, _mm_set1_ps((float)count), [count](__m128i a, __m128i b) { return remainder_steps4(a, b, count); });
    batch_finish(shade, &batch);
}

#else  // the plain steps

namespace {

int32_t run_step(int32_t start, int32_t end, int32_t pixels) {
    // Both ends lie in [-2^30, 2^30), so the difference fits 32 bits.
    return (end - start) / pixels;
}

// run_step for a remainder run of 1..15 pixels, by a double multiply
// (remainder_scale says why it gives the same integer): a division by a
// variable count takes several times longer, and four of them sit between
// every span end and its fill. A run of one pixel (most spans of small
// faces) divides by one: the difference.
inline int32_t remainder_step(int32_t start, int32_t end, int32_t count) {
    return count == 1 ? end - start : (int32_t)((double)(end - start) * remainder_scale.of[count]);
}

}  // namespace

void shade_span(const ShadeState* shade, int32_t count, float w, float u_over_z, float v_over_z,
                float lx_over_z, float ly_over_z, float lz_over_z, uint32_t* destination) {
    if (count <= 0) return;
    ShadeCoords start = coords_at(shade, w, u_over_z, v_over_z, lx_over_z, ly_over_z, lz_over_z);
    RunBatch batch;
    batch.count = 0;
    batch.destination = destination;
    // A pixel alone is drawn from its start: no end to work out, no step.
    if (count == 1) {
        *batch_next(shade, &batch) = FillRun{start.u, start.v, start.sx, start.sy, 0, 0, 0, 0, 1};
        batch_finish(shade, &batch);
        return;
    }
    // Runs of run_length pixels, then the rest, through one block, as above.
    auto block = [&](int32_t pixels, float r, auto step) {
        w += r * shade->d_w;
        u_over_z += r * shade->d_u;
        v_over_z += r * shade->d_v;
        lx_over_z += r * shade->d_lx;
        ly_over_z += r * shade->d_ly;
        lz_over_z += r * shade->d_lz;
        const ShadeCoords end = coords_at(shade, w, u_over_z, v_over_z, lx_over_z, ly_over_z, lz_over_z);
        *batch_next(shade, &batch) = FillRun{start.u, start.v, start.sx, start.sy, step(start.u, end.u),
                                             step(start.v, end.v), step(start.sx, end.sx), step(start.sy, end.sy),
                                             pixels};
        start = end;
    };
    for (; count >= run_length; count -= run_length)
        block(run_length, (float)run_length, [](int32_t a, int32_t b) { return run_step(a, b, run_length); });
    if (count > 0) block(count, (float)count, [count](int32_t a, int32_t b) { return remainder_step(a, b, count); });
    batch_finish(shade, &batch);
}

#endif

void resolve_light_rows(const SpanRows* rows, uint32_t* shadow_buffer, int32_t width, ResolveCounts* counts) {
    resolve_rows(rows, shadow_buffer, width, counts,
                 [](const SpanNode* span, int32_t a, int32_t b, uint32_t* line) {
                     const uint32_t id = span->face_id;
                     for (int32_t x = a; x < b; x++) line[x] = id;
                     return 1;
                 });
}

void resolve_camera_rows(const SpanRows* rows, uint32_t* frame_buffer, ShadeState* state,
                         ResolveCounts* counts) {
    state->loaded_texture = nullptr;  // textures may have changed since the last pass
    resolve_rows(rows, frame_buffer, state->width, counts,
                 [state](const SpanNode* span, int32_t a, int32_t b, uint32_t* line) {
                     if (!shade_span_prepare(state, span)) return 0;
                     float column = (float)a;
                     shade_span(state, b - a, span->inv_z + column * span->d_inv_z,
                                span->u_over_z + column * state->d_u, span->v_over_z + column * state->d_v,
                                span->lx_over_z + column * state->d_lx, span->ly_over_z + column * state->d_ly,
                                span->lz_over_z + column * state->d_lz, line + a);
                     return 1;
                 });
}

uint32_t resolve_draw_warnings(int32_t overlaps, int out_of_memory, uint32_t* buffer) {
    uint32_t drawn = 0;
    if (overlaps > 0) {
        draw_text(WARNING_SPANS_OVERLAP, warning_x, overlap_warning_y, buffer);
        drawn |= RESOLVE_WARNING_OVERLAP;
    }
    if (out_of_memory) {
        draw_text(WARNING_OUT_OF_MEMORY, warning_x, memory_warning_y, buffer);
        drawn |= RESOLVE_WARNING_OUT_OF_MEMORY;
    }
    return drawn;
}
