// Object pass: one SceneObject into polygons for one of the two renderings of
// a frame, from the light's pose (pass 1) or the camera's view (pass 2).
//
// Per object and pass the eye is brought into object space once and every
// vertex is transformed once: its view position, its screen position and the
// frustum sides it lies on. Per face: facing test in object space, clipping
// against the four side planes (only faces that straddle one are clipped),
// rejection of the whole polygon when a vertex is nearer than the near
// limit, projection, and polygon setup into a record (records.h). The light
// pass also leaves each corner's light-view position in the vertex, for the
// camera pass's shadow test.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "math/vecmath.h"
#include "raster/span_pool.h"
#include "scene/scene.h"

struct Texture;
struct Screen;
struct ShadingStore;

// One object seen from one eye, through the screen it is drawn on.
struct ObjectView {
    Matrix4 object_to_view;  // object coordinates to the eye's view space
    Matrix4 view_to_object;  // its inverse; row 3 is the eye in object coordinates
    const Screen* screen;    // projection, frustum and the rows a record may cover
};

// A vertex in an eye's view: the same numbers a face's corner gets when it
// is transformed on its own, so either may be used.
// The first four words are all that classification reads, so a corner is
// one 16-byte load.
struct ViewVertex {
    float sx;        // screen position: focal * x / z + centre; meaningful only at z >= 0.1
    uint32_t sides;  // bit p: on or inside frustum plane p; bit 4 + p: on or outside it;
                     // VIEW_VERTEX_NEAR: z below the near limit 0.1
    int32_t row;     // ceil(sy), the first row at or below the vertex; 0 when |sy| >= 2^23 or NaN
    int32_t column;  // floor(sx), the column it lies in; 0 likewise
    float x, y, z;   // view space
    float sy;        // screen position, as sx
};
enum : uint32_t { VIEW_VERTEX_NEAR = 0x100 };

// Where the camera pass finds each corner's light-view position: in the
// vertex itself, or, for vertex i with marked[i] equal to `mark`, in the
// light pass's view vertices of this frame (which the frame stores into
// the vertices later).
struct LightViewSource {
    const ViewVertex* light_view;        // the object's light-pass view vertices; null: the vertices hold them
    const std::atomic<uint8_t>* marked;  // per vertex: `mark` when a light-facing face uses it this frame;
                                         // null: all count
    uint8_t mark;                        // this frame's mark, never 0
};

void object_view_begin(ObjectView* view, const Matrix4* object_matrix, const Matrix4* eye_pose,
                       const Screen* screen);
// Transforms vertices [0, count) of `vertices` into view vertices.
void object_view_vertices(const ObjectView* view, const SceneVertex* vertices, int32_t count,
                          ViewVertex* out);

// The faces of `object`, whose view vertices are `view`, in either pass,
// in two steps so that a caller can handle every face that turns towards
// the eye (the light pass marks their corners) and build records only for
// those that are drawn. A face turns away when its plane has the eye more
// than 0.1 in front of it.
// What classification may do besides, for the light; null members (or a
// null `extras`) do nothing.
struct ClassifyExtras {
    const int32_t* columns;       // per screen row, as SpanRows holds them: faces kept whole whose every
                                  // span lies outside them by span_outside_columns are dropped
    std::atomic<uint8_t>* marks;  // per vertex of the object: `mark` for every corner of every entry
    uint8_t mark;                 // the value marks get: this frame's, so nobody clears them between frames
};

// object_pass_classify writes, for each face of [first, first + count) that
// turns towards the eye, in order, one entry f << 2 | action, with f the
// face's index in the object and action CLIP_KEEP, CLIP_CUT or CLIP_DROP
// (the face makes no polygon, one that covers no pixel, or, with columns in
// `extras`, one kept whole whose every span would lie outside them); it
// returns the number of entries (at most count). `out` has room for count
// entries; those past the returned number may be overwritten. The record
// functions take a face with its action (not CLIP_DROP), write its
// polygon's record into `record` (POLYGON_RECORD_MAX bytes) and return the
// record's size: 0 when the polygon was clipped away, came too near or
// covers no row. The light record leaves the corners' light-view positions
// to the caller; the camera record takes them from `light` (null: the
// vertices hold them) and the texture from the face's material.
int32_t object_pass_classify(const ObjectView* eye, const SceneObject* object, int32_t first, int32_t count,
                             const ViewVertex* view, const ClassifyExtras* extras, uint32_t* out);
size_t object_pass_light_record(const ObjectView* eye, const SceneFace* face, const ViewVertex* view, int action,
                                void* record);
size_t object_pass_camera_record(const ObjectView* eye, const SceneFace* face, const ViewVertex* view, int action,
                                 const LightViewSource* light, const Material* materials, int32_t material_count,
                                 void* record);

// Both passes for a whole object straight into one row set, single-threaded
// (the frame runs them in parts, on every core): these serve tests and
// tools. Pass 1 stores every light-facing corner's light-view position in
// its vertex's lx, ly, lz. Pass 2's spans point to shading kept in `store`
// (polygon_walk_kept), which the caller owns.
void render_object_light_pass(const Matrix4* object_matrix, const Matrix4* eye_pose, const Screen* screen,
                              SceneObject* object, SpanRows* rows);
void render_object_camera_pass(const Matrix4* object_matrix, const Matrix4* eye_pose, const Screen* screen,
                               SceneObject* object, const Material* materials, int material_count,
                               SpanRows* rows, ShadingStore* store);
