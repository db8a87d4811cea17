// split [--force] K IN.3ds OUT.3ds: the scene with every triangle cut into
// 4^K by its edge midpoints: the same picture with 4^K times the triangles,
// for benchmarks. The scene is read by the engine's own reader and written
// by the asset writer, so OUT holds what the engine drew from IN: its meshes
// and material names (textures are found by material name, so OUT loads
// with IN's Textures folder). Cameras, lights and keyframes, which the
// engine does not use, are not written.
#include <cstdio>
#include <cstring>
#include <string>

#include "asset/asset_file.h"
#include "asset/subdivide.h"
#include "asset/write3ds.h"
#include "scene/load3ds.h"
#include "varnel_tool/commands.h"
#include "varnel_tool/tool_common.h"

namespace {

// The file does not keep a colour the reader stores; viewers that ignore the
// texture show mid grey.
const Rgba8 unknown_diffuse = {128, 128, 128, 255};

int split_fail(const std::string& what) { return error_line("split", what.c_str()); }

int split_usage() {
    std::fprintf(stderr, "usage: varnel-tool split [--force] K IN.3ds OUT.3ds   (K from 0 to %d)\n",
                 SUBDIVIDE_MAX_LEVELS);
    return 2;
}

// The meshes and materials of a loaded scene in the writer's records:
// positions back in engine (x, y, z), corners as indices. 0 with `why` when
// a face has no material, which the file cannot say.
int scene_to_build(const Scene* scene, SceneBuild* out, const char** why) {
    for (int32_t m = 0; m < scene->material_count; m++)
        scene_add_material(out, scene->materials[m].name, unknown_diffuse);
    for (int32_t i = 0; i < scene->object_count; i++) {
        const SceneObject* o = &scene->objects[i];
        Mesh* mesh = scene_add_mesh(out, o->name);
        for (int32_t v = 0; v < o->vertex_count; v++) {
            const SceneVertex& s = o->vertices[v];
            mesh->vertices.push_back(MeshVertex{s.x, s.y, s.z, s.u, s.v});
        }
        for (int32_t f = 0; f < o->face_count; f++) {
            const SceneFace& s = o->faces[f];
            if (s.material_index < 0) {
                *why = "a face has no material, which the output cannot hold";
                return 0;
            }
            MeshFace face;
            for (int k = 0; k < 3; k++) face.corner[k] = (uint16_t)(s.corners[k] - o->vertices);
            face.material = s.material_index;
            mesh->faces.push_back(face);
        }
    }
    return 1;
}

int has_unused_parts(const Scene* scene) {
    int parts = scene->camera_count + scene->light_count;
    for (int32_t i = 0; i < scene->object_count; i++)
        parts += scene->objects[i].position_key_count + scene->objects[i].rotation_key_count;
    return parts > 0;
}

}  // namespace

int tool_split(int argc, char** argv) {
    static const char* const no_values[] = {nullptr};
    Arguments a;
    const char* bad = nullptr;
    if (!parse_arguments(argc, argv, no_values, &a, &bad) || a.positional.size() != 3) return split_usage();
    int force = a.force;
    const char* k_text = a.positional[0];
    const char* in = a.positional[1];
    const char* out = a.positional[2];
    // One digit: "01" or " 1" is not taken for a level.
    if (std::strlen(k_text) != 1 || k_text[0] < '0' || k_text[0] > '0' + SUBDIVIDE_MAX_LEVELS)
        return split_fail("K '" + std::string(k_text) + "': takes a whole number from 0 to " +
                          std::to_string(SUBDIVIDE_MAX_LEVELS)) + 1;  // a usage error
    int levels = k_text[0] - '0';
    if (output_blocked("split", out, force)) return 1;

    Scene* scene = scene_load(in);
    if (!scene) return split_fail(std::string(in) + ": " + scene_load_error());
    SceneBuild source;
    const char* why = nullptr;
    int converted = scene_to_build(scene, &source, &why);
    int unused = has_unused_parts(scene);
    scene_free(scene);
    if (!converted) return split_fail(std::string(in) + ": " + why);

    SceneBuild result;
    if (!scene_build_subdivide(&source, levels, &result))
        return split_fail(std::string(in) + ": " + subdivide_error());
    ByteBuffer file;
    if (!scene_encode_3ds(&result, &file)) return split_fail(std::string(in) + ": " + write3ds_error());
    if (!asset_file_write(out, file.data(), file.size(), force ? ASSET_REPLACE : ASSET_KEEP_EXISTING))
        return split_fail(asset_error());

    size_t faces_in = 0, faces_out = 0, vertices_out = 0;
    for (const Mesh& m : source.meshes) faces_in += m.faces.size();
    for (const Mesh& m : result.meshes) {
        faces_out += m.faces.size();
        vertices_out += m.vertices.size();
    }
    if (unused) std::fprintf(stderr, "varnel-tool split: %s: cameras, lights and keyframes are not copied\n", in);
    std::printf("varnel-tool split: %s: %zu faces cut into %zu (K = %d), %zu vertices, %zu objects\n", out,
                faces_in, faces_out, levels, vertices_out, result.meshes.size());
    return 0;
}
