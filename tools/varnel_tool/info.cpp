// varnel-tool info FILE.3ds: loads a scene the way the engine does and prints
// one JSON object describing it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "scene/chunk_io.h"
#include "scene/load3ds.h"
#include "scene/regular_file.h"
#include "varnel_tool/commands.h"

namespace {

// The texture map file a material names in the file (MAT_MAPNAME inside
// MAT_TEXMAP). The engine does not read it, but it tells which image the
// author meant for the material.
struct MapName {
    std::string material;
    std::string map;
};

enum { CHUNK_MAIN = 0x4D4D, CHUNK_EDITOR = 0x3D3D, CHUNK_MATERIAL = 0xAFFF, CHUNK_MATERIAL_NAME = 0xA000,
       CHUNK_TEXTURE_MAP = 0xA200, CHUNK_MAP_NAME = 0xA300 };
const int max_map_depth = 8;

// Walks the main, editor, material and texture map chunks from the file's
// position to `end`; any chunk that does not fit its parent ends the walk.
// `in_map` is 1 inside a texture map (not a reflection or bump map).
void read_map_names(FILE* file, long end, int depth, int in_map, std::vector<MapName>* names) {
    while (depth < max_map_depth) {
        long start = std::ftell(file);
        if (start < 0 || start >= end) return;
        ChunkCursor c = chunk_cursor(file, end);
        uint16_t id;
        uint32_t length;
        if (!chunk_read_u16(&c, &id) || !chunk_read_u32(&c, &length) || length < 6 ||
            (uint64_t)length > (uint64_t)(end - start))
            return;
        long chunk_end = start + (long)length;
        char name[chunk_name_max + 1];
        ChunkCursor data = chunk_cursor(file, chunk_end);
        if (id == CHUNK_MATERIAL) names->push_back(MapName{});
        if (id == CHUNK_MAIN || id == CHUNK_EDITOR || id == CHUNK_MATERIAL || id == CHUNK_TEXTURE_MAP)
            read_map_names(file, chunk_end, depth + 1, id == CHUNK_TEXTURE_MAP, names);
        else if (id == CHUNK_MATERIAL_NAME && !names->empty() && chunk_read_name(&data, name))
            names->back().material = name;
        else if (id == CHUNK_MAP_NAME && in_map && !names->empty() && chunk_read_name(&data, name))
            names->back().map = name;
        if (std::fseek(file, chunk_end, SEEK_SET) != 0) return;
    }
}

// Names are raw bytes: quotes, backslashes, control characters and bytes
// above 0x7F are escaped so the output is always valid JSON.
void print_json_string(const char* text) {
    std::putchar('"');
    for (const unsigned char* p = (const unsigned char*)text; *p; p++) {
        if (*p == '"' || *p == '\\')
            std::printf("\\%c", *p);
        else if (*p < 0x20 || *p >= 0x7F)
            std::printf("\\u%04x", *p);
        else
            std::putchar(*p);
    }
    std::putchar('"');
}

void print_mesh(const Scene* scene, const SceneObject* o) {
    std::printf("    {\"name\": ");
    print_json_string(o->name ? o->name : "");
    std::printf(", \"vertices\": %d, \"faces\": %d, \"materials\": [", o->vertex_count, o->face_count);
    // Materials in table order, each once.
    int listed = 0;
    for (int32_t m = 0; m < scene->material_count; m++) {
        int used = 0;
        for (int32_t f = 0; f < o->face_count && !used; f++) used = o->faces[f].material_index == m;
        if (!used) continue;
        if (listed++) std::printf(", ");
        print_json_string(scene->materials[m].name);
    }
    int32_t without = 0;
    for (int32_t f = 0; f < o->face_count; f++)
        if (o->faces[f].material_index < 0 || o->faces[f].material_index >= scene->material_count) without++;
    std::printf("], \"faces_without_material\": %d}", without);
}

// Each material with the texture file the engine loads for it and the map
// file the 3DS file names, null when it names none.
void print_material_images(const Scene* scene, const char* file_name) {
    std::vector<MapName> maps;
    const char* why;
    if (FILE* f = regular_file_open(file_name, &why)) {
        if (std::fseek(f, 0, SEEK_END) == 0) {
            long size = std::ftell(f);
            if (size > 0 && std::fseek(f, 0, SEEK_SET) == 0) read_map_names(f, size, 0, 0, &maps);
        }
        std::fclose(f);
    }
    std::printf("  \"material_images\": [");
    for (int32_t m = 0; m < scene->material_count; m++) {
        const char* name = scene->materials[m].name;
        std::printf(m ? ",\n    {\"name\": " : "\n    {\"name\": ");
        print_json_string(name);
        std::printf(", \"texture\": ");
        print_json_string(("Textures/" + std::string(name) + ".tga").c_str());
        std::printf(", \"map\": ");
        const MapName* found = nullptr;
        for (const MapName& n : maps)
            if (!found && n.material == name && !n.map.empty()) found = &n;
        if (found)
            print_json_string(found->map.c_str());
        else
            std::printf("null");
        std::printf("}");
    }
    std::printf(scene->material_count ? "\n  ],\n" : "],\n");
}

}  // namespace

int tool_info(int argc, char** argv) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: varnel-tool info FILE.3ds\n");
        return 2;
    }
    Scene* scene = scene_load(argv[0]);
    if (!scene) {
        std::fprintf(stderr, "varnel-tool info: %s: %s\n", argv[0], scene_load_error());
        return 1;
    }
    long vertices = 0, faces = 0;
    for (int32_t i = 0; i < scene->object_count; i++) {
        vertices += scene->objects[i].vertex_count;
        faces += scene->objects[i].face_count;
    }
    std::printf("{\n  \"objects\": %d,\n  \"cameras\": %d,\n  \"lights\": %d,\n  \"materials\": %d,\n",
                scene->object_count, scene->camera_count, scene->light_count, scene->material_count);
    std::printf("  \"vertices\": %ld,\n  \"faces\": %ld,\n  \"segment\": [%d, %d],\n", vertices, faces,
                scene->segment_start, scene->segment_end);
    print_material_images(scene, argv[0]);
    std::printf("  \"meshes\": [");
    for (int32_t i = 0; i < scene->object_count; i++) {
        std::printf(i ? ",\n" : "\n");
        print_mesh(scene, &scene->objects[i]);
    }
    std::printf(scene->object_count ? "\n  ]\n}\n" : "]\n}\n");
    scene_free(scene);
    return 0;
}
