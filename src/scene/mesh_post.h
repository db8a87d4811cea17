// Post-processing of a loaded scene, run by scene_load per object and per
// camera: face planes, vertex normals, face ids and camera poses.
#pragma once

#include "scene/scene.h"

// Unit plane normal normalize((c2 - c0) x (c1 - c0)) and d = -(n . c0) of every
// face; a degenerate face gets a zero normal and d = 0. Then
// face_plane_blocks. 1 on success, 0 when the blocks cannot be allocated.
int compute_face_planes(SceneObject* object);
// The faces' planes copied into the object's face_planes (see SceneObject),
// which it allocates anew; 1 on success, 0 (and null face_planes) when they
// cannot be allocated.
int face_plane_blocks(SceneObject* object);
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
