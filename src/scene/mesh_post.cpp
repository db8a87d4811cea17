// Post-processing of a loaded scene: face planes, vertex normals, face ids and
// camera poses.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "scene/mesh_post.h"

namespace {

// Length of a vector, or 0 when it has no usable direction (zero, NaN or
// infinite length), so callers store a zero vector instead of NaNs.
float usable_length(float x, float y, float z) {
    float length = std::sqrt(x * x + y * y + z * z);
    if (!(length > 0.0f) || std::isinf(length)) return 0.0f;
    return length;
}

// -- exact-position index -----------------------------------------------------
// Open addressing over the bit patterns of (x, y, z); -0.0 is stored as +0.0
// so the two compare equal, exactly as float == does. Each distinct position
// gets a group number; NaN positions equal nothing, not even themselves.

struct PositionSlot {
    uint32_t key[3];  // bit patterns of x, y, z with -0.0 folded into +0.0
    int32_t group;    // -1 for an empty slot
};

uint32_t position_bits(float value) {
    if (value == 0.0f) value = 0.0f;  // folds -0.0 into +0.0
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

uint32_t position_hash(const uint32_t key[3]) {
    uint32_t h = key[0] * 0x9E3779B1u;
    h = (h ^ (h >> 15) ^ key[1]) * 0x85EBCA77u;
    h = (h ^ (h >> 13) ^ key[2]) * 0xC2B2AE3Du;
    return h ^ (h >> 16);
}

// Fills group[i] for every vertex (-1 for NaN positions); returns the number of
// groups, or -1 when the index cannot be allocated.
int32_t group_positions(const SceneVertex* vertices, int32_t count, int32_t* group) {
    uint32_t capacity = 16;
    while (capacity < 2u * (uint32_t)count) capacity <<= 1;
    PositionSlot* slots = (PositionSlot*)std::malloc(sizeof(PositionSlot) * capacity);
    if (!slots) return -1;
    for (uint32_t i = 0; i < capacity; i++) slots[i].group = -1;

    int32_t groups = 0;
    for (int32_t i = 0; i < count; i++) {
        const SceneVertex& v = vertices[i];
        if (std::isnan(v.x) || std::isnan(v.y) || std::isnan(v.z)) {
            group[i] = -1;
            continue;
        }
        uint32_t key[3] = {position_bits(v.x), position_bits(v.y), position_bits(v.z)};
        uint32_t at = position_hash(key) & (capacity - 1);
        while (slots[at].group >= 0 && std::memcmp(slots[at].key, key, sizeof key) != 0) at = (at + 1) & (capacity - 1);
        if (slots[at].group < 0) {
            std::memcpy(slots[at].key, key, sizeof key);
            slots[at].group = groups++;
        }
        group[i] = slots[at].group;
    }
    std::free(slots);
    return groups;
}

}  // namespace

int compute_face_planes(SceneObject* object) {
    for (int32_t i = 0; i < object->face_count; i++) {
        SceneFace& f = object->faces[i];
        const SceneVertex& c0 = *f.corners[0];
        const SceneVertex& c1 = *f.corners[1];
        const SceneVertex& c2 = *f.corners[2];
        float ax = c2.x - c0.x, ay = c2.y - c0.y, az = c2.z - c0.z;
        float bx = c1.x - c0.x, by = c1.y - c0.y, bz = c1.z - c0.z;
        float nx = ay * bz - az * by;
        float ny = az * bx - ax * bz;
        float nz = ax * by - ay * bx;
        float length = usable_length(nx, ny, nz);
        if (length == 0.0f) {
            f.plane_nx = f.plane_ny = f.plane_nz = f.plane_d = 0.0f;
            continue;
        }
        f.plane_nx = nx / length;
        f.plane_ny = ny / length;
        f.plane_nz = nz / length;
        f.plane_d = -(f.plane_nx * c0.x + f.plane_ny * c0.y + f.plane_nz * c0.z);
    }
    return face_plane_blocks(object);
}

int face_plane_blocks(SceneObject* object) {
    std::free(object->face_planes);
    object->face_planes = nullptr;
    // Faces past the last one in their block face nowhere: zeros.
    const size_t blocks = ((size_t)object->face_count + 3) / 4;
    if (blocks == 0) return 1;
    float* p = (float*)std::calloc(blocks * 16, sizeof(float));
    if (!p) return 0;
    for (int32_t i = 0; i < object->face_count; i++) {
        const SceneFace& f = object->faces[i];
        float* block = p + (size_t)(i / 4) * 16 + (size_t)(i % 4);
        block[0] = f.plane_nx;
        block[4] = f.plane_ny;
        block[8] = f.plane_nz;
        block[12] = f.plane_d;
    }
    object->face_planes = p;
    return 1;
}

// All vertices of one position share one running sum, and the sums are
// accumulated in face order and corner order, so every vertex gets bit for bit
// the sum the vertex-by-corner comparison would build, in linear time.
int compute_vertex_normals(SceneObject* object) {
    int32_t count = object->vertex_count;
    if (count == 0) return 1;
    int32_t* group = (int32_t*)std::malloc(sizeof(int32_t) * (size_t)count);
    if (!group) return 0;
    int32_t groups = group_positions(object->vertices, count, group);
    Vec3* sum = groups >= 0 ? (Vec3*)std::calloc((size_t)groups + 1, sizeof(Vec3)) : nullptr;
    if (!sum) {
        std::free(group);
        return 0;
    }
    for (int32_t i = 0; i < object->face_count; i++) {
        const SceneFace& f = object->faces[i];
        for (int k = 0; k < 3; k++) {
            int32_t g = group[f.corners[k] - object->vertices];
            if (g < 0) continue;
            sum[g].x += f.plane_nx;
            sum[g].y += f.plane_ny;
            sum[g].z += f.plane_nz;
        }
    }
    for (int32_t i = 0; i < count; i++) {
        SceneVertex& v = object->vertices[i];
        v.nx = v.ny = v.nz = 0.0f;
        if (group[i] < 0) continue;
        const Vec3& s = sum[group[i]];
        float length = usable_length(s.x, s.y, s.z);
        if (length == 0.0f) continue;
        v.nx = s.x / length;
        v.ny = s.y / length;
        v.nz = s.z / length;
    }
    std::free(sum);
    std::free(group);
    return 1;
}

void assign_face_ids(SceneObject* object) {
    for (int32_t i = 0; i < object->face_count; i++) object->faces[i].face_id = scene_next_face_id();
}

// Rows 0..2 are the camera's x, y and z axes in the world, z along the view
// direction d from the first position key P to the first target key T, x
// horizontal; row 3 is P. A camera without a usable direction (no target key,
// or T equal to P) keeps the identity rotation; one looking straight up or
// down gets the limit of the general rows as the view tilts towards +z.
void build_camera_matrix(SceneCamera* camera) {
    Matrix4* m = &camera->matrix;
    matrix_identity(m);
    if (camera->position_key_count <= 0 || !camera->position_keys_x) return;
    float px = camera->position_keys_x[0], py = camera->position_keys_y[0], pz = camera->position_keys_z[0];
    if (camera->target_key_count <= 0 || !camera->target_keys_x) {
        m->m[12] = px;  // stored keys are y-up; the translation takes the file's order
        m->m[13] = pz;
        m->m[14] = py;
        return;
    }
    m->m[12] = px;
    m->m[13] = py;
    m->m[14] = pz;
    float dx = camera->target_keys_x[0] - px;
    float dy = camera->target_keys_y[0] - py;
    float dz = camera->target_keys_z[0] - pz;
    float length = usable_length(dx, dy, dz);
    if (length == 0.0f) return;
    dx /= length;
    dy /= length;
    dz /= length;
    float h2 = dx * dx + dz * dz;
    float h = std::sqrt(h2);
    if (!(h > 0.0f)) {  // straight up or down
        m->m[0] = -1.0f;
        m->m[5] = 0.0f;
        m->m[6] = dy > 0.0f ? 1.0f : -1.0f;
    } else {
        m->m[0] = -dz / h;
        m->m[1] = 0.0f;
        m->m[2] = dx / h;
        float ux = dx * dy, uy = -h2, uz = dz * dy;
        float ulength = usable_length(ux, uy, uz);
        m->m[4] = ulength > 0.0f ? ux / ulength : 0.0f;
        m->m[5] = ulength > 0.0f ? uy / ulength : 0.0f;
        m->m[6] = ulength > 0.0f ? uz / ulength : 0.0f;
    }
    m->m[8] = dx;
    m->m[9] = dy;
    m->m[10] = dz;
}
