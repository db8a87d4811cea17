// The smooth-surface patches: surface.h says what they are for.
#include "pipeline/surface.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "scene/scene.h"

// Why patches, and these sizes: measured on fifteen imported models
// (animals, figures, a jeep, an engine, teapots, spheres of 4,000 faces, a
// duck of 4,200) on their stage, the light above and to one side, at
// 400 x 300 and 640 x 360, counting isolated specks (pieces of one verdict
// under 24 pixels inside the other) among the model's lit and shadowed
// pixels:
// - the plain test: 0.3 to 17 %, worst on dense meshes (a cat, a horse,
//   figures, a bunny), whose faces are smaller than the light's pixels;
// - a face's corner neighbours counted as its own: a duck's specks to a
//   third, but dense meshes keep many, since the light's 3 x 3
//   neighbourhood there spans several rings of faces;
// - patches: 0 to 1.7 % (an engine of many small parts 2.5 %); the sizes
//   below barely matter (a reach of 2 to 6 %, creases of 20 to 45 degrees,
//   neighbours within 35 to 90 degrees all came within 0.2 % of each other).
// A patch reaches 3 % of its object's diagonal, a few of the light's pixels
// at the distance the importer puts the light, so the faces' size does not
// matter. Within 30 degrees a patch is smooth: its faces cannot shadow each
// other. Neighbours within 50 degrees carry the rule across patch edges on
// a curved surface, where acne would otherwise draw the patches' outlines,
// but not across a box's edges. Faces turned away from the light never
// take the rule (the frame marks the ones that turn towards it).
const SurfaceShape SURFACE_SHAPE = {30.0f, 0.03f, 50.0f};

namespace {

// Growth does not pass through a corner shared by more faces than this: the
// apex of a fan, whose faces meet at a point and need not be one patch, and
// whose face list would otherwise be walked from every face around it.
const size_t grow_valence_max = 64;

struct Corner {
    float x, y, z;
    int32_t vertex;
};

int corner_less(const Corner& a, const Corner& b) {
    if (a.x != b.x) return a.x < b.x;
    if (a.y != b.y) return a.y < b.y;
    if (a.z != b.z) return a.z < b.z;
    return a.vertex < b.vertex;
}

// What one object's faces are grouped with: each vertex's position number
// (vertices at one position share it) and each position's faces.
struct Welded {
    std::vector<int32_t> position_of;  // per vertex
    std::vector<int32_t> first;        // per position: its faces are faces[first[p] .. first[p + 1])
    std::vector<int32_t> faces;
};

void weld(const SceneObject* o, Welded* w) {
    std::vector<Corner> corners((size_t)o->vertex_count);
    for (int32_t v = 0; v < o->vertex_count; v++)
        corners[(size_t)v] = Corner{o->vertices[v].x, o->vertices[v].y, o->vertices[v].z, v};
    std::sort(corners.begin(), corners.end(), corner_less);
    w->position_of.assign((size_t)o->vertex_count, 0);
    int32_t positions = 0;
    for (size_t i = 0; i < corners.size(); i++) {
        if (i > 0 && (corners[i].x != corners[i - 1].x || corners[i].y != corners[i - 1].y ||
                      corners[i].z != corners[i - 1].z))
            positions++;
        w->position_of[(size_t)corners[i].vertex] = positions;
    }
    positions += o->vertex_count > 0;
    w->first.assign((size_t)positions + 1, 0);
    for (int32_t f = 0; f < o->face_count; f++)
        for (int k = 0; k < 3; k++) w->first[(size_t)w->position_of[o->faces[f].vertex_index[k]] + 1]++;
    for (int32_t p = 0; p < positions; p++) w->first[(size_t)p + 1] += w->first[(size_t)p];
    w->faces.assign((size_t)w->first[(size_t)positions], 0);
    std::vector<int32_t> fill(w->first.begin(), w->first.end() - 1);
    for (int32_t f = 0; f < o->face_count; f++)
        for (int k = 0; k < 3; k++) w->faces[(size_t)fill[(size_t)w->position_of[o->faces[f].vertex_index[k]]]++] = f;
}

struct Builder {
    const SurfaceShape* shape;
    std::vector<uint32_t> patch_of;   // per face id
    std::vector<float> patch_normal;  // per patch: its first face's plane normal, 3 floats
    std::vector<uint64_t> pairs;      // touching patches, (p << 32 | q) both ways
};

float face_dot(const SceneFace& a, const SceneFace& b) {
    return a.plane_nx * b.plane_nx + a.plane_ny * b.plane_ny + a.plane_nz * b.plane_nz;
}

void centre_of(const SceneFace& f, float c[3]) {
    c[0] = (f.corners[0]->x + f.corners[1]->x + f.corners[2]->x) / 3.0f;
    c[1] = (f.corners[0]->y + f.corners[1]->y + f.corners[2]->y) / 3.0f;
    c[2] = (f.corners[0]->z + f.corners[1]->z + f.corners[2]->z) / 3.0f;
}

// Grows the object's patches in face order, each from its first face
// outwards through shared corners, then records which patches touch.
void group_object(Builder* b, const SceneObject* o) {
    if (o->face_count <= 0 || o->vertex_count <= 0) return;
    Welded w;
    weld(o, &w);
    float low[3] = {HUGE_VALF, HUGE_VALF, HUGE_VALF}, high[3] = {-HUGE_VALF, -HUGE_VALF, -HUGE_VALF};
    for (int32_t v = 0; v < o->vertex_count; v++) {
        const float p[3] = {o->vertices[v].x, o->vertices[v].y, o->vertices[v].z};
        for (int k = 0; k < 3; k++) low[k] = std::min(low[k], p[k]), high[k] = std::max(high[k], p[k]);
    }
    const float dx = high[0] - low[0], dy = high[1] - low[1], dz = high[2] - low[2];
    const float reach = b->shape->reach * std::sqrt(dx * dx + dy * dy + dz * dz);
    const float crease = std::cos(b->shape->crease_degrees * 3.14159265f / 180.0f);
    std::vector<uint32_t> patch((size_t)o->face_count, 0);
    std::vector<uint32_t> scanned(w.first.size(), 0);  // per position: the patch that last walked its faces
    std::vector<int32_t> queue;
    for (int32_t seed = 0; seed < o->face_count; seed++) {
        if (patch[(size_t)seed]) continue;
        const SceneFace& s = o->faces[seed];
        const uint32_t id = (uint32_t)(b->patch_normal.size() / 3);
        b->patch_normal.insert(b->patch_normal.end(), {s.plane_nx, s.plane_ny, s.plane_nz});
        float sc[3];
        centre_of(s, sc);
        patch[(size_t)seed] = id;
        queue.assign(1, seed);
        for (size_t q = 0; q < queue.size(); q++) {
            const SceneFace& f = o->faces[queue[q]];
            for (int k = 0; k < 3; k++) {
                const int32_t p = w.position_of[f.vertex_index[k]];
                const int32_t begin = w.first[(size_t)p], end = w.first[(size_t)p + 1];
                if (scanned[(size_t)p] == id || (size_t)(end - begin) > grow_valence_max) continue;
                scanned[(size_t)p] = id;
                for (int32_t i = begin; i < end; i++) {
                    const int32_t g = w.faces[(size_t)i];
                    if (patch[(size_t)g]) continue;
                    float c[3];
                    centre_of(o->faces[g], c);
                    const float ex = c[0] - sc[0], ey = c[1] - sc[1], ez = c[2] - sc[2];
                    if (face_dot(o->faces[g], s) >= crease && ex * ex + ey * ey + ez * ez <= reach * reach) {
                        patch[(size_t)g] = id;
                        queue.push_back(g);
                    }
                }
            }
        }
    }
    for (int32_t f = 0; f < o->face_count; f++) {
        const uint32_t face_id = (uint32_t)o->faces[f].face_id;
        if (face_id < b->patch_of.size()) b->patch_of[face_id] = patch[(size_t)f];
    }
    // Patches that share a corner position touch.
    std::vector<uint32_t> around;
    for (size_t p = 0; p + 1 < w.first.size(); p++) {
        around.clear();
        for (int32_t i = w.first[p]; i < w.first[p + 1]; i++) around.push_back(patch[(size_t)w.faces[(size_t)i]]);
        std::sort(around.begin(), around.end());
        around.erase(std::unique(around.begin(), around.end()), around.end());
        for (size_t i = 0; i < around.size(); i++)
            for (size_t j = i + 1; j < around.size(); j++) {
                b->pairs.push_back((uint64_t)around[i] << 32 | around[j]);
                b->pairs.push_back((uint64_t)around[j] << 32 | around[i]);
            }
    }
}

int build(Builder* b, Scene* const* scenes, int count, SurfacePatches* out, uint32_t** arrays) {
    b->patch_normal.assign(3, 0.0f);  // patch 0: no patch
    for (int s = 0; s < count; s++)
        for (int32_t i = 0; scenes[s] && i < scenes[s]->object_count; i++) group_object(b, &scenes[s]->objects[i]);
    std::sort(b->pairs.begin(), b->pairs.end());
    b->pairs.erase(std::unique(b->pairs.begin(), b->pairs.end()), b->pairs.end());
    const float near = std::cos(b->shape->near_degrees * 3.14159265f / 180.0f);
    const size_t patches = b->patch_normal.size() / 3;
    std::vector<uint32_t> near_start(patches + 1, 0), near_list;
    for (uint64_t pair : b->pairs) {
        const uint32_t p = (uint32_t)(pair >> 32), q = (uint32_t)pair;
        const float* a = &b->patch_normal[3 * (size_t)p];
        const float* c = &b->patch_normal[3 * (size_t)q];
        if (a[0] * c[0] + a[1] * c[1] + a[2] * c[2] < near) continue;
        near_list.push_back(q);  // pairs are sorted: by p, then q
        near_start[(size_t)p + 1]++;
    }
    for (size_t p = 0; p < patches; p++) near_start[p + 1] += near_start[p];
    const std::vector<uint32_t>* tables[3] = {&b->patch_of, &near_start, &near_list};
    for (int t = 0; t < 3; t++) {
        arrays[t] = (uint32_t*)std::malloc((tables[t]->size() + 1) * sizeof(uint32_t));
        if (!arrays[t]) return 0;
        if (!tables[t]->empty()) std::memcpy(arrays[t], tables[t]->data(), tables[t]->size() * sizeof(uint32_t));
    }
    *out = SurfacePatches{arrays[0], (uint32_t)b->patch_of.size(), arrays[1], arrays[2], nullptr, 0};
    return 1;
}

}  // namespace

SurfacePatches* surface_patches_build(Scene* const* scenes, int count, uint32_t id_count, const SurfaceShape* shape) {
    SurfacePatches* out = (SurfacePatches*)std::calloc(1, sizeof(SurfacePatches));
    uint32_t* arrays[3] = {nullptr, nullptr, nullptr};
    int ok = 0;
    if (out) {
        try {
            Builder b = {shape, std::vector<uint32_t>(id_count, 0), {}, {}};
            ok = build(&b, scenes, count, out, arrays);
        } catch (const std::bad_alloc&) {
            ok = 0;
        }
    }
    if (ok) return out;
    for (uint32_t* a : arrays) std::free(a);
    std::free(out);
    return nullptr;
}

void surface_patches_free(SurfacePatches* patches) {
    if (!patches) return;
    std::free((void*)patches->patch_of);
    std::free((void*)patches->near_start);
    std::free((void*)patches->near);
    std::free(patches);
}
