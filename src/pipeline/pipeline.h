// Geometry pipeline: object pass (facing test, transformation, clipping, near
// rejection, projection) and polygon setup (edge chains, gradients, texture
// level, one span per covered row).
#pragma once

#include "math/clip.h"
#include "math/vecmath.h"
#include "scene/scene.h"

struct Texture;

// Pass 1: renders the object from the light's pose and stores every
// light-facing vertex's light-view position in its lx, ly, lz.
void render_object_light_pass(const Matrix4* object_matrix, const Matrix4* eye_pose,
                              SceneObject* object);
// Pass 2: renders the object from the camera's view with its faces' textures.
void render_object_camera_pass(const Matrix4* object_matrix, const Matrix4* eye_pose,
                               SceneObject* object, const Material* materials,
                               int material_count);

// Polygon setup: 1 when the polygon was walked, 0 when setup rejected it.
int emit_polygon_camera(const ClipPolygon* polygon, Texture* texture, uint32_t face_id);
int emit_polygon_light(const ClipPolygon* polygon, uint32_t face_id);
