// libFuzzer entry for the 3DS reader. scene_load reads a named file, so each
// input is written to a scratch file of this process first.
//
//   cmake --preset fuzz && cmake --build --preset fuzz
//   build/fuzz/fuzz/fuzz_scene_load -max_len=4096 CORPUS_DIR
#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "scene/load3ds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/varnel_fuzz_scene_" + std::to_string(getpid()) + ".3ds";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    Scene* scene = scene_load(path.c_str());
    if (scene) {
        // Every corner must point into its own object's vertices.
        for (int32_t i = 0; i < scene->object_count; i++) {
            const SceneObject& o = scene->objects[i];
            for (int32_t k = 0; k < o.face_count; k++)
                for (const SceneVertex* c : o.faces[k].corners)
                    if (c < o.vertices || c >= o.vertices + o.vertex_count) __builtin_trap();
        }
        scene_free(scene);
    }
    return 0;
}
