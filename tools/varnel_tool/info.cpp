// varnel-tool info FILE.3ds: loads a scene the way the engine does and prints
// one JSON object describing it.
#include <cstdio>
#include <cstdlib>

#include "scene/load3ds.h"
#include "varnel_tool/commands.h"

namespace {

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
    std::printf("  \"vertices\": %ld,\n  \"faces\": %ld,\n  \"segment\": [%d, %d],\n  \"meshes\": [", vertices, faces,
                scene->segment_start, scene->segment_end);
    for (int32_t i = 0; i < scene->object_count; i++) {
        std::printf(i ? ",\n" : "\n");
        print_mesh(scene, &scene->objects[i]);
    }
    std::printf(scene->object_count ? "\n  ]\n}\n" : "]\n}\n");
    scene_free(scene);
    return 0;
}
