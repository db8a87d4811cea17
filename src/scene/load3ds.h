// Table-driven 3DS reader.
//
// scene_load reads the file twice: a counting pass sizes the object, camera,
// light and material arrays, a filling pass stores into them. Then every
// object gets its face planes, vertex normals and face ids, and every camera
// its pose. A file the reader rejects gives null; scene_load_error() then
// says why in a few words ("cannot open file", "chunk length below 6", ...).
#pragma once

#include <cstdio>

#include "scene/scene.h"

Scene* scene_load(const char* file_name);
const char* scene_load_error();

// Frees a scene and everything it owns (names, vertices, faces, key arrays;
// not material textures). The engine keeps its scenes for the whole run; tools
// and tests free theirs. Null is allowed.
void scene_free(Scene* scene);

// Recursive chunk walk from the current position up to `end`; 0 on success,
// nonzero to abort the load. Also used by the keyframer node handlers.
int read_chunks(FILE* file, long end);

// -- post-processing, run by scene_load per object and per camera -------------
// Unit plane normal normalize((c2 - c0) x (c1 - c0)) and d = -(n . c0) of every
// face; a degenerate face gets a zero normal and d = 0.
void compute_face_planes(SceneObject* object);
// Every vertex normal is the normalised sum, in face order and corner order,
// of the plane normals of all face corners whose position equals the vertex's
// exactly (+0.0 equals -0.0, NaN equals nothing). Linear time: positions are
// indexed by value. A zero sum gives a zero normal. 1 on success, 0 when the
// index cannot be allocated.
int compute_vertex_normals(SceneObject* object);
// Hands out the process-wide face ids, faces in order.
void assign_face_ids(SceneObject* object);
// Pose from the first position key and first target key of the camera.
void build_camera_matrix(SceneCamera* camera);
