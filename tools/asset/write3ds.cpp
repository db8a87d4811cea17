#include "asset/write3ds.h"

#include <cstring>

namespace {

enum {
    CHUNK_MAIN = 0x4D4D,
    CHUNK_VERSION = 0x0002,
    CHUNK_EDITOR = 0x3D3D,
    CHUNK_MESH_VERSION = 0x3D3E,
    CHUNK_MATERIAL = 0xAFFF,
    CHUNK_MATERIAL_NAME = 0xA000,
    CHUNK_DIFFUSE = 0xA020,
    CHUNK_COLOUR_24 = 0x0011,
    CHUNK_TEXTURE_MAP = 0xA200,
    CHUNK_PERCENT = 0x0030,
    CHUNK_MAP_NAME = 0xA300,
    CHUNK_NAMED_OBJECT = 0x4000,
    CHUNK_TRIANGLES = 0x4100,
    CHUNK_VERTICES = 0x4110,
    CHUNK_FACES = 0x4120,
    CHUNK_MATERIAL_GROUP = 0x4130,
    CHUNK_MAPPING = 0x4140,
    CHUNK_MESH_MATRIX = 0x4160,
};

const uint32_t file_version = 3;
const uint32_t face_flags = 7;  // all three edges visible

struct Write3dsState {
    const char* error;  // reason for the last failure
};

Write3dsState state = {"no error"};

int fail(const char* why) {
    state.error = why;
    return 0;
}

// Opens a chunk; chunk_end patches its length once its children are written.
size_t chunk_begin(ByteBuffer* b, uint32_t id) {
    size_t at = b->size();
    buffer_put_u16(b, id);
    buffer_put_u32(b, 0);
    return at;
}

void chunk_end(ByteBuffer* b, size_t at) { buffer_patch_u32(b, at + 2, (uint32_t)(b->size() - at)); }

void put_string(ByteBuffer* b, const std::string& s) { buffer_put_bytes(b, s.c_str(), s.size() + 1); }

void put_material(ByteBuffer* b, const MaterialDef& m) {
    size_t entry = chunk_begin(b, CHUNK_MATERIAL);
    size_t name = chunk_begin(b, CHUNK_MATERIAL_NAME);
    put_string(b, m.name);
    chunk_end(b, name);
    size_t diffuse = chunk_begin(b, CHUNK_DIFFUSE);
    size_t colour = chunk_begin(b, CHUNK_COLOUR_24);
    buffer_put_u8(b, m.diffuse.r);
    buffer_put_u8(b, m.diffuse.g);
    buffer_put_u8(b, m.diffuse.b);
    chunk_end(b, colour);
    chunk_end(b, diffuse);
    size_t map = chunk_begin(b, CHUNK_TEXTURE_MAP);
    size_t strength = chunk_begin(b, CHUNK_PERCENT);
    buffer_put_u16(b, 100);
    chunk_end(b, strength);
    size_t map_name = chunk_begin(b, CHUNK_MAP_NAME);
    put_string(b, m.name + ".tga");
    chunk_end(b, map_name);
    chunk_end(b, map);
    chunk_end(b, entry);
}

void put_mesh(ByteBuffer* b, const Mesh& mesh, const SceneBuild* scene) {
    size_t object = chunk_begin(b, CHUNK_NAMED_OBJECT);
    put_string(b, mesh.name);
    size_t tri = chunk_begin(b, CHUNK_TRIANGLES);

    size_t vertices = chunk_begin(b, CHUNK_VERTICES);
    buffer_put_u16(b, (uint32_t)mesh.vertices.size());
    for (const MeshVertex& v : mesh.vertices) {
        buffer_put_f32(b, v.x);
        buffer_put_f32(b, v.z);  // the file is z-up
        buffer_put_f32(b, v.y);
    }
    chunk_end(b, vertices);

    size_t mapping = chunk_begin(b, CHUNK_MAPPING);
    buffer_put_u16(b, (uint32_t)mesh.vertices.size());
    for (const MeshVertex& v : mesh.vertices) {
        buffer_put_f32(b, v.u);
        buffer_put_f32(b, v.v);
    }
    chunk_end(b, mapping);

    size_t matrix = chunk_begin(b, CHUNK_MESH_MATRIX);
    const float identity[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    for (float f : identity) buffer_put_f32(b, f);
    chunk_end(b, matrix);

    size_t faces = chunk_begin(b, CHUNK_FACES);
    buffer_put_u16(b, (uint32_t)mesh.faces.size());
    for (const MeshFace& f : mesh.faces) {
        for (int k = 0; k < 3; k++) buffer_put_u16(b, f.corner[k]);
        buffer_put_u16(b, face_flags);
    }
    for (size_t m = 0; m < scene->materials.size(); m++) {
        uint32_t count = 0;
        for (const MeshFace& f : mesh.faces) count += f.material == (int32_t)m;
        if (count == 0) continue;
        size_t group = chunk_begin(b, CHUNK_MATERIAL_GROUP);
        put_string(b, scene->materials[m].name);
        buffer_put_u16(b, count);
        for (size_t i = 0; i < mesh.faces.size(); i++)
            if (mesh.faces[i].material == (int32_t)m) buffer_put_u16(b, (uint32_t)i);
        chunk_end(b, group);
    }
    chunk_end(b, faces);

    chunk_end(b, tri);
    chunk_end(b, object);
}

}  // namespace

const char* write3ds_error() { return state.error; }

int scene_encode_3ds(const SceneBuild* scene, ByteBuffer* out) {
    for (const MaterialDef& m : scene->materials)
        if (m.name.empty() || m.name.size() > (size_t)MESH_MAX_NAME || m.name.find('\0') != std::string::npos)
            return fail("material name empty or longer than 63 characters");
    for (const Mesh& mesh : scene->meshes) {
        if (mesh.name.empty() || mesh.name.size() > (size_t)MESH_MAX_NAME) return fail("object name empty or longer than 63 characters");
        if (mesh.vertices.size() > (size_t)MESH_MAX_ITEMS) return fail("more than 65535 vertices in one object");
        if (mesh.faces.size() > (size_t)MESH_MAX_ITEMS) return fail("more than 65535 faces in one object");
        for (const MeshFace& f : mesh.faces) {
            if (f.material < 0 || (size_t)f.material >= scene->materials.size()) return fail("face without a material");
            for (int k = 0; k < 3; k++)
                if (f.corner[k] >= mesh.vertices.size()) return fail("face corner out of range");
        }
    }
    size_t main = chunk_begin(out, CHUNK_MAIN);
    size_t version = chunk_begin(out, CHUNK_VERSION);
    buffer_put_u32(out, file_version);
    chunk_end(out, version);
    size_t editor = chunk_begin(out, CHUNK_EDITOR);
    size_t mesh_version = chunk_begin(out, CHUNK_MESH_VERSION);
    buffer_put_u32(out, file_version);
    chunk_end(out, mesh_version);
    for (const MaterialDef& m : scene->materials) put_material(out, m);
    for (const Mesh& mesh : scene->meshes) put_mesh(out, mesh, scene);
    chunk_end(out, editor);
    chunk_end(out, main);
    return 1;
}
