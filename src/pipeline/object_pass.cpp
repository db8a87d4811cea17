// Object pass: one SceneObject into projected polygons for one of the two
// renderings of a frame.
//
// Per face: facing test in object space, transformation of the three corners
// into the eye's view, clipping against the four side planes, rejection of
// the whole polygon when a vertex is nearer than the near limit, projection,
// and hand-off to polygon setup. The light pass also leaves each corner's
// light-view position in the vertex, before clipping, for the camera pass's
// shadow test.
#include <cstdint>

#include "math/clip.h"
#include "pipeline/pipeline.h"
#include "pipeline/setup.h"
#include "raster/engine.h"

namespace {

// Faces whose plane has the eye more than this in front of it turn away;
// faces seen edge-on or slightly from behind are still drawn.
const double facing_limit = 0.1;
// Polygons with a vertex nearer than this to the eye's plane are dropped
// whole: there is no near clipping.
const double near_limit = 0.1;

struct ObjectPassState {
    Matrix4 object_to_view;  // object coordinates to the eye's view space
    Matrix4 view_to_object;  // its inverse; row 3 is the eye in object coordinates
    ClipVertex corners[3];   // the face being transformed, view space
    ClipPolygon polygon;     // clipped, then projected in place
};

ObjectPassState pass = {};

void begin_object(const Matrix4* object_matrix, const Matrix4* eye_pose) {
    // object_to_view = object_matrix * inverse(eye_pose): object first, then view.
    matrix_inverse_affine(eye_pose, &pass.object_to_view);
    matrix_multiply(&pass.object_to_view, object_matrix, &pass.object_to_view);
    matrix_inverse_affine(&pass.object_to_view, &pass.view_to_object);
}

// Signed distance of the eye from the face's plane, compared against the
// facing limit: 1 when the face turns towards the eye.
int faces_eye(const SceneFace* face) {
    const float* e = &pass.view_to_object.m[12];
    float s = face->plane_nx * e[0] + face->plane_ny * e[1] + face->plane_nz * e[2] + face->plane_d;
    return !((double)s > facing_limit);
}

void transform_corner(const SceneVertex* vertex, ClipVertex* out) {
    const float* m = pass.object_to_view.m;
    float x = vertex->x, y = vertex->y, z = vertex->z;
    out->x = x * m[0] + y * m[4] + z * m[8] + m[12];
    out->y = x * m[1] + y * m[5] + z * m[9] + m[13];
    out->z = x * m[2] + y * m[6] + z * m[10] + m[14];
}

// Clips the transformed corners into pass.polygon and projects it: screen
// x, y replace view x, y and z stays the view depth. 0 when nothing is left
// or a vertex lies nearer than the near limit.
int clip_and_project() {
    pass.polygon = clip_triangle(pass.corners, engine_frustum());
    ClipPolygon* p = &pass.polygon;
    if (p->count == 0) return 0;
    float focal = engine_focal_length();
    float centre_x = (float)(engine_width() / 2), centre_y = (float)(engine_height() / 2);
    for (int32_t i = 0; i < p->count; i++) {
        ClipVertex* v = &p->v[i];
        if ((double)v->z < near_limit) return 0;
        v->x = focal * v->x / v->z + centre_x;
        v->y = focal * v->y / v->z + centre_y;
    }
    return 1;
}

}  // namespace

void render_object_light_pass(const Matrix4* object_matrix, const Matrix4* eye_pose,
                              SceneObject* object) {
    begin_object(object_matrix, eye_pose);
    for (int32_t f = 0; f < object->face_count; f++) {
        const SceneFace* face = &object->faces[f];
        if (!faces_eye(face)) continue;
        for (int k = 0; k < 3; k++) {
            SceneVertex* vertex = face->corners[k];
            ClipVertex* corner = &pass.corners[k];
            transform_corner(vertex, corner);
            // Stored before clipping: the camera pass needs it even where
            // this face is clipped away or dropped here.
            vertex->lx = corner->x;
            vertex->ly = corner->y;
            vertex->lz = corner->z;
        }
        if (clip_and_project()) emit_polygon_light(&pass.polygon, (uint32_t)face->face_id);
    }
}

void render_object_camera_pass(const Matrix4* object_matrix, const Matrix4* eye_pose,
                               SceneObject* object, const Material* materials,
                               int material_count) {
    begin_object(object_matrix, eye_pose);
    for (int32_t f = 0; f < object->face_count; f++) {
        const SceneFace* face = &object->faces[f];
        if (!faces_eye(face)) continue;
        for (int k = 0; k < 3; k++) {
            const SceneVertex* vertex = face->corners[k];
            ClipVertex* corner = &pass.corners[k];
            transform_corner(vertex, corner);
            corner->u = vertex->u;
            corner->v = vertex->v;
            corner->lx = vertex->lx;
            corner->ly = vertex->ly;
            corner->lz = vertex->lz;
        }
        if (!clip_and_project()) continue;
        // Faces without a material (index -1) or whose material has no
        // texture get the neutral checker; emit_polygon_camera substitutes it
        // for a null texture.
        int32_t m = face->material_index;
        Texture* texture = materials && m >= 0 && m < material_count ? materials[m].texture : nullptr;
        emit_polygon_camera(&pass.polygon, texture, (uint32_t)face->face_id);
    }
}
