// Scene records: what one 3DS file becomes once loaded.
//
// The world is y-up: the reader stores every file position as
// (file x, file z, file y). All floats are single precision, all integers
// signed 32-bit. Scenes, their arrays, names and textures are never freed:
// they live until the process ends.
#pragma once

#include <cstdint>

#include "math/vecmath.h"

struct Texture;

// Eleven floats in this order: the pipeline copies them by position.
struct SceneVertex {
    float x, y, z;     // object space, y-up
    float u, v;        // mapping coordinates exactly as stored in the file
    float lx, ly, lz;  // light-view position, written by every light pass
    float nx, ny, nz;  // unit vertex normal (0, 0, 0 when no face uses it)
};

struct SceneFace {
    int32_t face_id;          // unique over all faces of all scenes, from 1
    int32_t material_index;   // into the scene's materials; -1 for none
    SceneVertex* corners[3];  // into the owning object's vertices, file order
    float plane_nx, plane_ny, plane_nz;  // unit normalize((c2 - c0) x (c1 - c0))
    float plane_d;                       // -(n . c0): n . p + d = 0 on the plane
    uint16_t vertex_index[3];            // corners[k] is &vertices[vertex_index[k]]: per-vertex
                                         // arrays are indexed without a division by the vertex size
};

struct SceneObject {
    int32_t node_id;            // keyframer node id (0xB030), 0 if none
    char* name;                 // at most 63 characters
    int32_t vertex_count;       // 0..65535
    int32_t face_count;         // 0..65535
    SceneFace* faces;
    SceneVertex* vertices;
    float* face_planes;         // the faces' planes again, four faces to a block of 16 floats: nx of
                                // faces 4b..4b+3, then ny, nz and d; the facing test reads them four
                                // faces at a time without gathering them; null: read the faces
    Matrix4 matrix;             // pose: local to world
    int32_t parent_node_id;     // from the node header, unchanged
    int32_t position_key_count;
    int32_t rotation_key_count;
    float* position_key_frames;
    float* position_keys_x;     // y-up
    float* position_keys_y;
    float* position_keys_z;
    float* rotation_key_frames;
    float* rotation_key_angles;  // as stored
    float* rotation_key_axis_x;  // y-up
    float* rotation_key_axis_y;
    float* rotation_key_axis_z;
};

struct SceneCamera {
    char* name;
    Matrix4 matrix;      // pose from the first position and target keys
    float position[3];   // chunk 0x4700, file order (not swapped)
    float target[3];     // chunk 0x4700, file order
    float bank;
    float lens;
    int32_t target_key_count;
    int32_t position_key_count;
    float* target_key_frames;
    float* target_keys_x;  // y-up
    float* target_keys_y;
    float* target_keys_z;
    float* position_key_frames;
    float* position_keys_x;  // y-up
    float* position_keys_y;
    float* position_keys_z;
};

struct SceneLight {
    char* name;
    int32_t is_spot;        // 1 with a spotlight chunk (0x4610)
    int32_t is_off;         // 1 with chunk 0x4620
    int32_t ray_shadows;    // 1 with chunk 0x4627
    float position[3];      // y-up
    float spot_target[3];   // y-up
    float hotspot;
    float falloff;
    float inner_range;
    float outer_range;
    float multiplier;
    float colour[3];        // red, green, blue, 0.0..1.0 as stored
    int32_t colour_bytes[3];  // each colour * 255, truncated
};

struct Material {
    char* name;        // at most 63 characters; also the texture's base name
    Texture* texture;  // bound after loading; null until then
};

struct Scene {
    int32_t segment_start;  // keyframer segment (0xB008), 0 without one
    int32_t segment_end;
    int32_t object_count;
    int32_t camera_count;
    int32_t light_count;
    int32_t material_count;
    SceneObject* objects;    // file order
    SceneCamera* cameras;
    SceneLight* lights;
    Material* materials;     // the scene's material table
};

// Next face id to hand out: 1 at program start, never reset, so ids stay
// unique across every scene loaded in the process and 0 can mean "no face".
int32_t scene_next_face_id();       // hands out one id and advances the counter
int32_t scene_peek_face_id();       // the id the next face will get
