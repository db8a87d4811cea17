// Object pass: an object's vertices into an eye's view, its faces through
// the facing test, the frustum and projection into polygon records, as
// object_pass.h describes; the eight-lane steps are in object_pass_avx2.cpp.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "math/clip.h"
#include "math/lanes.h"
#include "pipeline/face_verdict.h"
#include "pipeline/object_pass.h"
#include "pipeline/object_pass_avx2.h"
#include "pipeline/records.h"
#include "raster/engine.h"
#include "raster/insert.h"

namespace {

using face_verdict::facing_limit;
using face_verdict::near_limit;

// Corner k's view vertex; its index in the object's vertices indexes the
// marks alike.
const ViewVertex* corner_view(const SceneFace* face, int k, const ViewVertex* view) {
    return &view[face->vertex_index[k]];
}

// A screen position's row (ceil) and column (floor) as whole numbers: exact
// where |x| < 2^23, 0 elsewhere and for NaN.
inline int32_t whole_row(float y) { return std::fabs(y) < FLOAT_WHOLE ? (int32_t)setup_ceil(y) : 0; }
inline int32_t whole_column(float x) { return std::fabs(x) < FLOAT_WHOLE ? (int32_t)setup_floor(x) : 0; }

// The corners' view vertices into v and their view positions into the
// polygon's first three vertices (other clip fields cleared).
void face_corners(const SceneFace* face, const ViewVertex* view, const ViewVertex* v[3], ClipPolygon* polygon) {
    for (int k = 0; k < 3; k++) {
        v[k] = corner_view(face, k, view);
        ClipVertex c = {};
        c.x = v[k]->x;
        c.y = v[k]->y;
        c.z = v[k]->z;
        polygon->v[k] = c;
    }
}

// The face's corners, clip vertices with their view positions and the camera
// pass's attributes, into `polygon`, projected: screen x, y replace
// view x, y and z stays the view depth. A face kept whole takes its view
// vertices' screen positions, which are what projecting its corners gives;
// a face that is cut is clipped first. 0 when nothing is left or a vertex
// lies nearer than the near limit.
// On entry the polygon's first three vertices are the face's corners.
int clip_and_project(const Screen* screen, int action, const ViewVertex* const v[3], ClipPolygon* polygon) {
    if (action == CLIP_KEEP) {
        polygon->count = 3;
        for (int k = 0; k < 3; k++) {
            polygon->v[k].x = v[k]->sx;
            polygon->v[k].y = v[k]->sy;
        }
        return 1;
    }
    ClipPolygon cut = clip_triangle(polygon->v, &screen->frustum);
    *polygon = cut;
    if (polygon->count == 0) return 0;
    const float focal = screen->focal_length;
    const float centre_x = (float)screen->centre_x, centre_y = (float)screen->centre_y;
    for (int32_t i = 0; i < polygon->count; i++) {
        ClipVertex* p = &polygon->v[i];
        if ((double)p->z < near_limit) return 0;
        p->x = focal * p->x / p->z + centre_x;
        p->y = focal * p->y / p->z + centre_y;
    }
    return 1;
}

// The eye's view of the object and all its vertices in it, for the
// whole-object passes.
std::vector<ViewVertex> object_view_all(ObjectView* eye, const Matrix4* object_matrix, const Matrix4* eye_pose,
                                        const Screen* screen, const SceneObject* object) {
    object_view_begin(eye, object_matrix, eye_pose, screen);
    std::vector<ViewVertex> view((size_t)object->vertex_count);
    object_view_vertices(eye, object->vertices, object->vertex_count, view.data());
    return view;
}

#ifdef __SSE2__
// whole_row (up = 1) or whole_column (up = 0) in each lane: the truncation,
// moved one up or down where it lies below or above x.
inline __m128i whole4(__m128 x, int up) {
    const __m128 magnitude = _mm_and_ps(x, _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)));
    const __m128i fits = _mm_castps_si128(_mm_cmplt_ps(magnitude, _mm_set1_ps(FLOAT_WHOLE)));
    const __m128i t = lanes_truncate(x);  // used only where it fits
    const __m128 back = _mm_cvtepi32_ps(t);
    const __m128i whole = up ? _mm_sub_epi32(t, _mm_castps_si128(_mm_cmplt_ps(back, x)))
                             : _mm_add_epi32(t, _mm_castps_si128(_mm_cmpgt_ps(back, x)));
    return _mm_and_si128(fits, whole);
}
#endif

}  // namespace

void object_view_begin(ObjectView* view, const Matrix4* object_matrix, const Matrix4* eye_pose,
                       const Screen* screen) {
    view->screen = screen;
    // object_to_view = object_matrix * inverse(eye_pose): object first, then view.
    matrix_inverse_affine(eye_pose, &view->object_to_view);
    matrix_multiply(&view->object_to_view, object_matrix, &view->object_to_view);
    matrix_inverse_affine(&view->object_to_view, &view->view_to_object);
}

void object_view_vertices(const ObjectView* view, const SceneVertex* vertices, int32_t count,
                          ViewVertex* out) {
    const float* m = view->object_to_view.m;
    const ViewFrustum* frustum = &view->screen->frustum;
    const float focal = view->screen->focal_length;
    const float centre_x = (float)view->screen->centre_x, centre_y = (float)view->screen->centre_y;
    int32_t i = 0;
#ifdef OBJECT_PASS_AVX2
    if (engine_simd_level() == SIMD_AVX2) i = object_view_vertices_avx2(view, vertices, count, out);
#endif
#ifdef __SSE2__
    // Four vertices at a time, one per lane, through the same single-precision
    // operations in the same order as the loop below (and as
    // clip_vertex_sides), so every lane gets the scalar code's numbers.
    const Plane* p = frustum->planes;
    const __m128 zero = _mm_setzero_ps();
    // (double)z < 0.1 is z < 0.1f for every float z: 0.1f is the float
    // nearest 0.1 and lies above it, so no float is >= 0.1 and < 0.1f.
    const __m128 near = _mm_set1_ps((float)near_limit);
    // Every factor in all four lanes, once: the stores below could alias the
    // matrix and the planes, so the loop would load and spread them again.
    __m128 matrix[16], plane[4][4];
    for (int k = 0; k < 16; k++) matrix[k] = _mm_set1_ps(m[k]);
    for (int k = 0; k < 4; k++) {
        const float coefficient[4] = {p[k].a, p[k].b, p[k].c, p[k].d};
        for (int j = 0; j < 4; j++) plane[k][j] = _mm_set1_ps(coefficient[j]);
    }
    const __m128 focal4 = _mm_set1_ps(focal), centre_x4 = _mm_set1_ps(centre_x), centre_y4 = _mm_set1_ps(centre_y);
    for (; i + 4 <= count; i += 4) {
        // Each vertex's x, y, z (and u, unused) in one load, turned into lanes.
        static_assert(offsetof(SceneVertex, u) == 12, "x, y, z, u: four words in order");
        const SceneVertex* s = &vertices[i];
        __m128 x = _mm_loadu_ps(&s[0].x), y = _mm_loadu_ps(&s[1].x), z = _mm_loadu_ps(&s[2].x);
        __m128 u = _mm_loadu_ps(&s[3].x);
        _MM_TRANSPOSE4_PS(x, y, z, u);
        __m128 c[3];
        for (int k = 0; k < 3; k++)
            c[k] = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(x, matrix[k]), _mm_mul_ps(y, matrix[4 + k])),
                                         _mm_mul_ps(z, matrix[8 + k])),
                              matrix[12 + k]);
        const __m128 sx = _mm_add_ps(_mm_div_ps(_mm_mul_ps(focal4, c[0]), c[2]), centre_x4);
        const __m128 sy = _mm_add_ps(_mm_div_ps(_mm_mul_ps(focal4, c[1]), c[2]), centre_y4);
        __m128i sides =
            _mm_and_si128(_mm_castps_si128(_mm_cmplt_ps(c[2], near)), _mm_set1_epi32((int)VIEW_VERTEX_NEAR));
        for (int k = 0; k < 4; k++) {
            const __m128 distance = _mm_add_ps(
                _mm_add_ps(_mm_add_ps(_mm_mul_ps(plane[k][0], c[0]), _mm_mul_ps(plane[k][1], c[1])),
                           _mm_mul_ps(plane[k][2], c[2])),
                plane[k][3]);
            const __m128i inside = _mm_castps_si128(_mm_cmpge_ps(distance, zero));
            const __m128i outside = _mm_castps_si128(_mm_cmple_ps(distance, zero));
            sides = _mm_or_si128(sides, _mm_and_si128(inside, _mm_set1_epi32(1 << k)));
            sides = _mm_or_si128(sides, _mm_and_si128(outside, _mm_set1_epi32(16 << k)));
        }
        // Lanes to records: sx, sides, row and column of a vertex are one
        // transposed row, x, y, z and sy the next.
        static_assert(offsetof(ViewVertex, column) == 12 && offsetof(ViewVertex, x) == 16 &&
                          offsetof(ViewVertex, sy) == 28,
                      "eight words in order");
        __m128 front[4] = {sx, _mm_castsi128_ps(sides), _mm_castsi128_ps(whole4(sy, 1)),
                           _mm_castsi128_ps(whole4(sx, 0))};
        __m128 back[4] = {c[0], c[1], c[2], sy};
        _MM_TRANSPOSE4_PS(front[0], front[1], front[2], front[3]);
        _MM_TRANSPOSE4_PS(back[0], back[1], back[2], back[3]);
        for (int k = 0; k < 4; k++) {
            _mm_storeu_ps(&out[i + k].sx, front[k]);
            _mm_storeu_ps(&out[i + k].x, back[k]);
        }
    }
#endif
    for (; i < count; i++) {
        const SceneVertex* s = &vertices[i];
        ViewVertex* v = &out[i];
        float x = s->x, y = s->y, z = s->z;
        ClipVertex c = {};
        c.x = x * m[0] + y * m[4] + z * m[8] + m[12];
        c.y = x * m[1] + y * m[5] + z * m[9] + m[13];
        c.z = x * m[2] + y * m[6] + z * m[10] + m[14];
        v->x = c.x;
        v->y = c.y;
        v->z = c.z;
        v->sx = focal * c.x / c.z + centre_x;
        v->sy = focal * c.y / c.z + centre_y;
        v->sides = clip_vertex_sides(frustum, &c) | ((double)c.z < near_limit ? VIEW_VERTEX_NEAR : 0u);
        v->row = whole_row(v->sy);
        v->column = whole_column(v->sx);
    }
}

namespace {

size_t light_record(const ObjectView* eye, const SceneFace* face, int action, const ViewVertex* const v[3],
                    ClipPolygon* polygon, void* record) {
    if (!clip_and_project(eye->screen, action, v, polygon)) return 0;
    return polygon_record_light(polygon, eye->screen, (uint32_t)face->face_id, record);
}

// The camera pass's attributes of the face's corners into the polygon's
// first three vertices: mapping coordinates and light-view positions.
void camera_attributes(const SceneFace* face, const LightViewSource* light, ClipPolygon* polygon) {
    for (int k = 0; k < 3; k++) {
        const SceneVertex* vertex = face->corners[k];
        ClipVertex* c = &polygon->v[k];
        c->u = vertex->u;
        c->v = vertex->v;
        const uint32_t i = face->vertex_index[k];
        if (light && light->light_view &&
            (!light->marked || light->marked[i].load(std::memory_order_relaxed) == light->mark)) {
            c->lx = light->light_view[i].x;
            c->ly = light->light_view[i].y;
            c->lz = light->light_view[i].z;
        } else {
            c->lx = vertex->lx;
            c->ly = vertex->ly;
            c->lz = vertex->lz;
        }
    }
}

// Faces without a material (index -1) or whose material has no texture
// get the neutral checker; setup substitutes it for a null texture.
Texture* face_texture(const SceneFace* face, const Material* materials, int32_t material_count) {
    int32_t m = face->material_index;
    return materials && m >= 0 && m < material_count ? materials[m].texture : nullptr;
}

size_t camera_record(const ObjectView* eye, const SceneFace* face, int action,
                     const ViewVertex* const v[3], const LightViewSource* light, const Material* materials,
                     int32_t material_count, ClipPolygon* polygon, void* record) {
    camera_attributes(face, light, polygon);
    if (!clip_and_project(eye->screen, action, v, polygon)) return 0;
    return polygon_record_camera(polygon, eye->screen, face_texture(face, materials, material_count),
                                 (uint32_t)face->face_id, record);
}

// A face kept whole: its corners' view vertices into v, their screen
// positions and depths into the polygon (what clip_and_project leaves
// there) and its chains, from the rows the view vertices hold; 0 when setup
// rejects it, before anything else of the face is read.
int kept_chains(const Screen* screen, const SceneFace* face, const ViewVertex* view, const ViewVertex* v[3],
                ClipPolygon* polygon, EdgeChains* chains) {
    int32_t rows[3];
    polygon->count = 3;
    for (int k = 0; k < 3; k++) {
        v[k] = corner_view(face, k, view);
        polygon->v[k].x = v[k]->sx;
        polygon->v[k].y = v[k]->sy;
        polygon->v[k].z = v[k]->z;
        rows[k] = v[k]->row;
    }
    return setup_record_chains(polygon->v, rows, screen, chains);
}

// The entry of face f, which turns towards the eye; with_marks: extras.marks is set.
template <bool with_marks>
inline uint32_t classify_entry(const SceneObject* object, int32_t f, const ViewVertex* view,
                               const ClassifyExtras& extras, int32_t height) {
    const SceneFace* face = &object->faces[f];
    const uint32_t i0 = face->vertex_index[0], i1 = face->vertex_index[1], i2 = face->vertex_index[2];
    const ViewVertex* v[3] = {&view[i0], &view[i1], &view[i2]};
    const uint32_t entry = (uint32_t)f << 2 | (uint32_t)face_verdict::action(v, extras.columns, height);
    if (with_marks) {  // stored without a look first: a test and a branch cost more than the store
        extras.marks[i0].store(extras.mark, std::memory_order_relaxed);
        extras.marks[i1].store(extras.mark, std::memory_order_relaxed);
        extras.marks[i2].store(extras.mark, std::memory_order_relaxed);
    }
    return entry;
}

// object_pass_classify with or without each extra (with_marks: extras.marks
// is set): the camera's faces do not test for columns or marks they never
// have, nor the light's whether their marks are there.
template <bool with_columns, bool with_marks>
int32_t classify(const ObjectView* eye, const SceneObject* object, int32_t first, int32_t count,
                 const ViewVertex* view, const ClassifyExtras& given, uint32_t* out) {
    ClassifyExtras extras = given;
    if (!with_columns) extras.columns = nullptr;
    const int32_t height = eye->screen->height;
    // The facing test: the signed distance of the eye (held in registers)
    // from the face's plane against the facing limit; then face_verdict::action.
    const float* e = &eye->view_to_object.m[12];
    const float ex = e[0], ey = e[1], ez = e[2];
    const int32_t end = first + count;
    int32_t n = 0, f = first;
    auto one_face = [&](int32_t i) {  // NaN faces the eye, as in the lanes below
        const SceneFace* face = &object->faces[i];
        float s = face->plane_nx * ex + face->plane_ny * ey + face->plane_nz * ez + face->plane_d;
        if (!((double)s > facing_limit)) out[n++] = classify_entry<with_marks>(object, i, view, extras, height);
    };
#ifdef __SSE2__
    // Four faces at a time, one per lane, through the loop's own float
    // operations in its order. (double)s > 0.1 is s >= 0.1f for every float
    // s (0.1f is the float next above 0.1), and NaN passes neither.
    const __m128 limit = _mm_set1_ps((float)facing_limit);
    const __m128 x = _mm_set1_ps(ex), y = _mm_set1_ps(ey), z = _mm_set1_ps(ez);
    auto four_faces = [&](int32_t i, __m128 nx, __m128 ny, __m128 nz, __m128 d) {  // faces i..i+3
        const __m128 s = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(nx, x), _mm_mul_ps(ny, y)), _mm_mul_ps(nz, z)), d);
        for (int towards = ~_mm_movemask_ps(_mm_cmpge_ps(s, limit)) & 0xF; towards; towards &= towards - 1)
            out[n++] = classify_entry<with_marks>(object, i + __builtin_ctz((unsigned)towards), view, extras, height);
    };
    if (const float* blocks = object->face_planes) {
        // Up to the first whole block face by face, then a block at a time.
        for (; f < end && (f & 3); f++) one_face(f);
        for (; f + 4 <= end; f += 4) {
            const float* b = blocks + (size_t)f * 4;
            four_faces(f, _mm_loadu_ps(b), _mm_loadu_ps(b + 4), _mm_loadu_ps(b + 8), _mm_loadu_ps(b + 12));
        }
    } else {
        for (; f + 4 <= end; f += 4) {
            const SceneFace* q = &object->faces[f];
            __m128 nx = _mm_loadu_ps(&q[0].plane_nx), ny = _mm_loadu_ps(&q[1].plane_nx);
            __m128 nz = _mm_loadu_ps(&q[2].plane_nx), d = _mm_loadu_ps(&q[3].plane_nx);
            _MM_TRANSPOSE4_PS(nx, ny, nz, d);
            four_faces(f, nx, ny, nz, d);
        }
    }
#endif
    for (; f < end; f++) one_face(f);
    return n;
}

// The loop's copies by what classification does besides, [columns][marks]:
// the frame takes none (the camera's), marks (the light's where it is the
// camera or has no cone), both; and columns alone.
const ClassifyLoop classify_loops[2][2] = {{classify<false, false>, classify<false, true>},
                                           {classify<true, false>, classify<true, true>}};

int32_t classify_any(const ObjectView* eye, const SceneObject* object, int32_t first, int32_t count,
                     const ViewVertex* view, const ClassifyExtras& e, uint32_t* out) {
    return classify_loops[e.columns != nullptr][e.marks != nullptr](eye, object, first, count, view, e, out);
}

}  // namespace

int32_t object_pass_classify(const ObjectView* eye, const SceneObject* object, int32_t first, int32_t count,
                             const ViewVertex* view, const ClassifyExtras* extras, uint32_t* out) {
    const ClassifyExtras e = extras ? *extras : ClassifyExtras{};
#ifdef OBJECT_PASS_AVX2
    // With AVX2, the faces from the first block of four on go eight at a
    // time; the ones before and after by the loops here.
    if (object->face_planes && engine_simd_level() == SIMD_AVX2) {
        const int32_t lead = std::min(count, (4 - (first & 3)) & 3);
        const int32_t eights = (count - lead) & ~7;
        if (eights) {
            const int32_t tail = count - lead - eights;
            int32_t n = lead ? classify_any(eye, object, first, lead, view, e, out) : 0;
            n += object_pass_classify_avx2(eye, object, first + lead, eights, view, &e, out + n);
            return tail ? n + classify_any(eye, object, first + lead + eights, tail, view, e, out + n) : n;
        }
    }
#endif
    return classify_any(eye, object, first, count, view, e, out);
}

size_t object_pass_light_record(const ObjectView* eye, const SceneFace* face, const ViewVertex* view, int action,
                                void* record) {
    const ViewVertex* v[3];
    ClipPolygon polygon;
    if (action == CLIP_KEEP) {
        EdgeChains chains;
        if (!kept_chains(eye->screen, face, view, v, &polygon, &chains)) return 0;
        return polygon_record_light_from(&polygon, &chains, (uint32_t)face->face_id, record);
    }
    face_corners(face, view, v, &polygon);
    return light_record(eye, face, action, v, &polygon, record);
}

size_t object_pass_camera_record(const ObjectView* eye, const SceneFace* face, const ViewVertex* view, int action,
                                 const LightViewSource* light, const Material* materials, int32_t material_count,
                                 void* record) {
    const ViewVertex* v[3];
    ClipPolygon polygon;
    if (action == CLIP_KEEP) {
        EdgeChains chains;
        if (!kept_chains(eye->screen, face, view, v, &polygon, &chains)) return 0;
        camera_attributes(face, light, &polygon);
        return polygon_record_camera_from(&polygon, &chains, face_texture(face, materials, material_count),
                                          (uint32_t)face->face_id, record);
    }
    face_corners(face, view, v, &polygon);
    return camera_record(eye, face, action, v, light, materials, material_count, &polygon, record);
}

// Both whole-object passes run the faces through object_pass_classify in
// runs of this many, as the frame's chunks do.
enum { WHOLE_OBJECT_RUN = 256 };

void render_object_light_pass(const Matrix4* object_matrix, const Matrix4* eye_pose, const Screen* screen,
                              SceneObject* object, SpanRows* rows) {
    ObjectView eye;
    std::vector<ViewVertex> view = object_view_all(&eye, object_matrix, eye_pose, screen, object);
    alignas(8) unsigned char record[POLYGON_RECORD_MAX];
    uint32_t entries[WHOLE_OBJECT_RUN];
    SpanNode span = {};
    for (int32_t first = 0; first < object->face_count; first += WHOLE_OBJECT_RUN) {
        int32_t count = object->face_count - first < WHOLE_OBJECT_RUN ? object->face_count - first : WHOLE_OBJECT_RUN;
        int32_t n = object_pass_classify(&eye, object, first, count, view.data(), nullptr, entries);
        for (int32_t i = 0; i < n; i++) {
            const SceneFace* face = &object->faces[entries[i] >> 2];
            const int action = (int)(entries[i] & 3);
            // Stored even where the face is clipped away or dropped: the
            // camera pass needs it wherever the face is seen.
            for (int k = 0; k < 3; k++) {
                SceneVertex* vertex = face->corners[k];
                const ViewVertex* v = corner_view(face, k, view.data());
                vertex->lx = v->x;
                vertex->ly = v->y;
                vertex->lz = v->z;
            }
            if (action != CLIP_DROP && object_pass_light_record(&eye, face, view.data(), action, record))
                polygon_walk((const PolygonRecord*)record, rows, &span);
        }
    }
}

void render_object_camera_pass(const Matrix4* object_matrix, const Matrix4* eye_pose, const Screen* screen,
                               SceneObject* object, const Material* materials, int material_count,
                               SpanRows* rows, ShadingStore* store) {
    ObjectView eye;
    std::vector<ViewVertex> view = object_view_all(&eye, object_matrix, eye_pose, screen, object);
    alignas(8) unsigned char record[POLYGON_RECORD_MAX];
    uint32_t entries[WHOLE_OBJECT_RUN];
    SpanNode span = {};
    for (int32_t first = 0; first < object->face_count; first += WHOLE_OBJECT_RUN) {
        int32_t count = object->face_count - first < WHOLE_OBJECT_RUN ? object->face_count - first : WHOLE_OBJECT_RUN;
        int32_t n = object_pass_classify(&eye, object, first, count, view.data(), nullptr, entries);
        for (int32_t i = 0; i < n; i++) {
            const int action = (int)(entries[i] & 3);
            if (action != CLIP_DROP &&
                object_pass_camera_record(&eye, &object->faces[entries[i] >> 2], view.data(), action, nullptr,
                                          materials, material_count, record))
                polygon_walk_kept((const PolygonRecord*)record, rows, &span, store);
        }
    }
}
