// Keyframer tracks: node ids, parents, position and rotation keys of mesh
// objects, position keys of cameras and their targets, the frame segment.
#include "scene/keyframer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "scene/chunk_io.h"
#include "scene/load3ds.h"

namespace {

enum NodeKind {
    NODE_OBJECT_PENDING,  // inside an object node, before its header
    NODE_OBJECT_FOUND,    // an object node's header has been read
    NODE_CAMERA,          // inside a camera node
    NODE_CAMERA_TARGET,   // inside a camera target node
};

// Which record arrays `current_node` indexes. Set only by a node header, so a
// track can never use an object index on the camera array or the reverse.
enum TrackTarget {
    TARGET_NONE,           // tracks store nothing
    TARGET_OBJECT,         // objects[current_node]: position and rotation keys
    TARGET_CAMERA,         // cameras[current_node]: position keys
    TARGET_CAMERA_TARGET,  // cameras[current_node]: target keys
};

// Key header flag bits 0..4 (tension, continuity, bias, ease to, ease from)
// each add one float after the flags word; the reader drops them.
constexpr unsigned key_spline_bits = 0x1F;
constexpr long key_header_size = 6;  // frame (u32), flags (u16)

struct KeyframerState {
    Scene* scene;            // scene being loaded
    int counting;            // 1 during the counting pass: nothing is stored
    NodeKind node_kind;
    TrackTarget target;
    int32_t current_node;    // index into the target's records; -1 for none
    int32_t current_node_id; // last node id chunk (0xB030)
    int32_t key_index;       // where the next key is stored
    char node_name[chunk_name_max + 1];
};

KeyframerState kf = {nullptr, 1, NODE_OBJECT_PENDING, TARGET_NONE, -1, 0, 0, {0}};

int begin_node(FILE* file, long end, NodeKind kind) {
    kf.node_kind = kind;
    kf.target = TARGET_NONE;  // until this node's header names its record
    kf.current_node = -1;
    return read_chunks(file, end);
}

// First record filled so far whose name equals `name`; -1 when none.
// Records not yet filled have no name.
int32_t find_object(const char* name) {
    for (int32_t i = 0; i < kf.scene->object_count; i++)
        if (kf.scene->objects[i].name && std::strcmp(kf.scene->objects[i].name, name) == 0) return i;
    return -1;
}

int32_t find_camera(const char* name) {
    for (int32_t i = 0; i < kf.scene->camera_count; i++)
        if (kf.scene->cameras[i].name && std::strcmp(kf.scene->cameras[i].name, name) == 0) return i;
    return -1;
}

// Reads a track header and checks that the chunk can hold `count` keys of at
// least `key_data` bytes each. Returns the key count (low 16 bits) or -1.
int32_t read_track_header(ChunkCursor* c, long key_data) {
    uint16_t flags;
    uint32_t count;
    if (!chunk_read_u16(c, &flags) || !chunk_skip(c, 8) || !chunk_read_u32(c, &count))
        return chunk_fail("track header cut short");
    int32_t n = (int32_t)(count & 0xFFFF);
    if ((long)n * (key_header_size + key_data) > c->left) return chunk_fail("key count exceeds its chunk");
    return n;
}

// Reads one key header; the frame number keeps its low 16 bits.
int read_key_header(ChunkCursor* c, float* frame) {
    uint32_t number;
    uint16_t flags;
    if (!chunk_read_u32(c, &number) || !chunk_read_u16(c, &flags)) return 0;
    for (unsigned bit = 1; bit <= key_spline_bits; bit <<= 1)
        if ((flags & bit) && !chunk_skip(c, 4)) return 0;
    *frame = (float)(number & 0xFFFF);
    return 1;
}

// Replaces the `count` arrays at `arrays` by fresh ones of n floats each (none
// when n is 0). On a failed allocation all are left null. 1 on success.
int replace_key_arrays(float** arrays[], int count, int32_t n) {
    for (int i = 0; i < count; i++) {
        std::free(*arrays[i]);
        *arrays[i] = nullptr;
    }
    if (n == 0) return 1;
    for (int i = 0; i < count; i++) {
        *arrays[i] = (float*)std::malloc(sizeof(float) * (size_t)n);
        if (!*arrays[i]) {
            for (int k = 0; k < i; k++) {
                std::free(*arrays[k]);
                *arrays[k] = nullptr;
            }
            return 0;
        }
    }
    return 1;
}

}  // namespace

void keyframer_begin_pass(Scene* scene, int counting) {
    kf.scene = scene;
    kf.counting = counting;
    kf.node_kind = NODE_OBJECT_PENDING;
    kf.target = TARGET_NONE;
    kf.current_node = -1;
    kf.current_node_id = 0;
    kf.key_index = 0;
    kf.node_name[0] = '\0';
}

int keyframer_object_node(FILE* file, long end) { return begin_node(file, end, NODE_OBJECT_PENDING); }
int keyframer_camera_node(FILE* file, long end) { return begin_node(file, end, NODE_CAMERA); }
int keyframer_target_node(FILE* file, long end) { return begin_node(file, end, NODE_CAMERA_TARGET); }

int keyframer_segment(FILE* file, long end) {
    ChunkCursor c = chunk_cursor(file, end);
    uint32_t start, stop;
    if (!chunk_read_u32(&c, &start) || !chunk_read_u32(&c, &stop)) return chunk_fail("segment chunk too short");
    kf.scene->segment_start = (int32_t)start;
    kf.scene->segment_end = (int32_t)stop;
    return 0;
}

int keyframer_node_id(FILE* file, long end) {
    ChunkCursor c = chunk_cursor(file, end);
    uint16_t id;
    if (!chunk_read_u16(&c, &id)) return chunk_fail("node id chunk too short");
    kf.current_node_id = id;
    return 0;
}

int keyframer_node_header(FILE* file, long end) {
    ChunkCursor c = chunk_cursor(file, end);
    if (!chunk_read_name(&c, kf.node_name)) return chunk_fail("node name cut short");
    uint16_t flags1, flags2, parent;
    if (!chunk_read_u16(&c, &flags1) || !chunk_read_u16(&c, &flags2) || !chunk_read_u16(&c, &parent))
        return chunk_fail("node header too short");
    if (kf.counting) return 0;

    kf.current_node = -1;
    kf.target = TARGET_NONE;
    switch (kf.node_kind) {
    case NODE_OBJECT_PENDING:
        kf.current_node = find_object(kf.node_name);
        if (kf.current_node >= 0) {
            SceneObject* object = &kf.scene->objects[kf.current_node];
            object->node_id = kf.current_node_id;
            object->parent_node_id = parent;
            kf.target = TARGET_OBJECT;
        }
        kf.node_kind = NODE_OBJECT_FOUND;
        break;
    case NODE_CAMERA:
    case NODE_CAMERA_TARGET:
        kf.current_node = find_camera(kf.node_name);
        if (kf.current_node >= 0) kf.target = kf.node_kind == NODE_CAMERA ? TARGET_CAMERA : TARGET_CAMERA_TARGET;
        break;
    case NODE_OBJECT_FOUND:
        // A second header after an object node's own one: a light, spotlight
        // or ambient node, whose tracks this reader does not keep.
        break;
    }
    return 0;
}

int keyframer_position_track(FILE* file, long end) {
    ChunkCursor c = chunk_cursor(file, end);
    int32_t n = read_track_header(&c, 12);
    if (n < 0) return -1;

    int32_t* count = nullptr;  // destination track, null when nothing is stored
    float** arrays[4] = {nullptr, nullptr, nullptr, nullptr};  // frames, x, y, z
    if (!kf.counting && kf.current_node >= 0) {
        if (kf.target == TARGET_OBJECT && kf.current_node < kf.scene->object_count) {
            SceneObject* o = &kf.scene->objects[kf.current_node];
            count = &o->position_key_count;
            arrays[0] = &o->position_key_frames;
            arrays[1] = &o->position_keys_x;
            arrays[2] = &o->position_keys_y;
            arrays[3] = &o->position_keys_z;
        } else if (kf.target == TARGET_CAMERA && kf.current_node < kf.scene->camera_count) {
            SceneCamera* cam = &kf.scene->cameras[kf.current_node];
            count = &cam->position_key_count;
            arrays[0] = &cam->position_key_frames;
            arrays[1] = &cam->position_keys_x;
            arrays[2] = &cam->position_keys_y;
            arrays[3] = &cam->position_keys_z;
        } else if (kf.target == TARGET_CAMERA_TARGET && kf.current_node < kf.scene->camera_count) {
            SceneCamera* cam = &kf.scene->cameras[kf.current_node];
            count = &cam->target_key_count;
            arrays[0] = &cam->target_key_frames;
            arrays[1] = &cam->target_keys_x;
            arrays[2] = &cam->target_keys_y;
            arrays[3] = &cam->target_keys_z;
        }
    }
    if (count) {
        *count = 0;
        if (!replace_key_arrays(arrays, 4, n)) return chunk_fail("out of memory");
        *count = n;
        kf.key_index = 0;
    }
    for (int32_t i = 0; i < n; i++) {
        float frame, p[3];
        if (!read_key_header(&c, &frame) || !chunk_read_floats(&c, p, 3)) return chunk_fail("key runs past its chunk");
        if (count && kf.key_index < *count) {
            int32_t k = kf.key_index;
            (*arrays[0])[k] = frame;
            (*arrays[1])[k] = p[0];
            (*arrays[2])[k] = p[2];  // y-up: the file's z is our y
            (*arrays[3])[k] = p[1];
        }
        kf.key_index++;
    }
    return 0;
}

int keyframer_rotation_track(FILE* file, long end) {
    ChunkCursor c = chunk_cursor(file, end);
    int32_t n = read_track_header(&c, 16);
    if (n < 0) return -1;

    SceneObject* o = nullptr;  // destination, null when nothing is stored
    if (!kf.counting && kf.target == TARGET_OBJECT && kf.current_node >= 0 &&
        kf.current_node < kf.scene->object_count)
        o = &kf.scene->objects[kf.current_node];
    if (o) {
        float** arrays[5] = {&o->rotation_key_frames, &o->rotation_key_angles, &o->rotation_key_axis_x,
                             &o->rotation_key_axis_y, &o->rotation_key_axis_z};
        o->rotation_key_count = 0;
        if (!replace_key_arrays(arrays, 5, n)) return chunk_fail("out of memory");
        o->rotation_key_count = n;
        kf.key_index = 0;
    }
    for (int32_t i = 0; i < n; i++) {
        float frame, r[4];  // angle, axis x, y, z as in the file
        if (!read_key_header(&c, &frame) || !chunk_read_floats(&c, r, 4)) return chunk_fail("key runs past its chunk");
        if (o && kf.key_index < o->rotation_key_count) {
            int32_t k = kf.key_index;
            o->rotation_key_frames[k] = frame;
            o->rotation_key_angles[k] = r[0];
            o->rotation_key_axis_x[k] = r[1];
            o->rotation_key_axis_y[k] = r[3];  // y-up: the file's z is our y
            o->rotation_key_axis_z[k] = r[2];
        }
        kf.key_index++;
    }
    return 0;
}
