#include "fuzz/fuzz_entries.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "app/light_start.h"
#include "app/marker_path.h"
#include "display/bmp.h"
#include "display/font.h"
#include "scene/load3ds.h"
#include "scene/scene.h"
#include "texture/cone.h"
#include "texture/image.h"
#include "texture/texture.h"
#include "texture/tga.h"

namespace {

const char* const scratch_names[] = {"scene.3ds", "texture.tga", "cone.tga", "font.bmp", "Pos.txt", "Light.txt"};

// A folder of this process for the scratch files: parallel fuzz jobs and
// test runs never share one. It goes when the process exits normally; a
// plain array, so it outlives the static destructors that run before that.
char scratch_path[64];

void scratch_remove() {
    char file[128];
    for (const char* name : scratch_names) {
        std::snprintf(file, sizeof file, "%s/%s", scratch_path, name);
        std::remove(file);
    }
    rmdir(scratch_path);
}

std::string scratch_dir() {
    if (!scratch_path[0]) {
        std::snprintf(scratch_path, sizeof scratch_path, "/tmp/varnel_fuzz_%d", (int)getpid());
        mkdir(scratch_path, 0700);
        std::atexit(scratch_remove);
    }
    return scratch_path;
}

std::string write_scratch(const char* name, const uint8_t* data, size_t size) {
    std::string path = scratch_dir() + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) __builtin_trap();
    if (size && std::fwrite(data, 1, size, f) != size) __builtin_trap();
    std::fclose(f);
    return path;
}

// Reads the first and last word of every row: a size that promises more
// than was allocated shows up under AddressSanitizer even when the reader
// itself never touched those words.
void touch_rgb(const RgbImage* image) {
    if (image->width <= 0 || image->height <= 0) __builtin_trap();
    volatile uint32_t sink = 0;
    for (int32_t y = 0; y < image->height; y++) {
        const uint32_t* row = image->pixels + (size_t)y * image->width;
        sink = sink + row[0] + row[image->width - 1];
    }
}

void fuzz_scene_load(const uint8_t* data, size_t size) {
    Scene* scene = scene_load(write_scratch("scene.3ds", data, size).c_str());
    if (!scene) return;
    for (int32_t i = 0; i < scene->object_count; i++) {
        const SceneObject& o = scene->objects[i];
        for (int32_t k = 0; k < o.face_count; k++)
            for (const SceneVertex* c : o.faces[k].corners)
                if (c < o.vertices || c >= o.vertices + o.vertex_count) __builtin_trap();
    }
    scene_free(scene);
}

void fuzz_texture_load(const uint8_t* data, size_t size) {
    std::string path = write_scratch("texture.tga", data, size);
    if (IndexedImage* image = tga_read_indexed(path.c_str())) {
        volatile uint8_t sink = image->pixels[(size_t)image->width * image->height - 1];
        (void)sink;
        indexed_image_free(image);
    }
    Texture* texture = texture_load(path.c_str());
    if (!texture) return;
    volatile uint32_t sink = texture->shade_table[SHADE_PALETTE * SHADE_STEPS - 1];
    for (int32_t i = 0; i < texture->level_count_x * texture->level_count_y; i++) {
        const TextureLevel& l = texture->levels[i];
        if (l.width <= 0 || l.height <= 0 || l.last_texel != l.width * l.height - 1) __builtin_trap();
        sink = sink + l.texels[0] + l.texels[l.last_texel];
    }
    texture_free(texture);
}

void fuzz_cone(const uint8_t* data, size_t size) {
    RgbImage* image = tga_read_rgb(write_scratch("cone.tga", data, size).c_str());
    if (!image) return;
    touch_rgb(image);
    RgbImage* mask = cone_mask_resample(image, 400, 300);
    if (!mask) {
        rgb_image_free(image);
        return;
    }
    if (mask->width != 400 || mask->height != 300) __builtin_trap();
    touch_rgb(mask);
    rgb_image_free(mask);
}

void fuzz_bmp_read(const uint8_t* data, size_t size) {
    RgbImage* image = bmp_read(write_scratch("font.bmp", data, size).c_str());
    if (!image) return;
    touch_rgb(image);
    rgb_image_free(image);
}

// The path file has a fixed name in the working folder, so the entry reads
// it from its scratch folder and goes back afterwards.
void fuzz_marker_path(const uint8_t* data, size_t size) {
    write_scratch("Pos.txt", data, size);
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd) || chdir(scratch_dir().c_str()) != 0) __builtin_trap();
    int loaded = marker_path_load();
    if (chdir(cwd) != 0) __builtin_trap();
    if (!loaded) return;
    const float times[] = {0.0f, 0.25f, 0.999f, 1.0f, 1.5f, 12345.678f, 1e30f, -1.0f};
    for (float t : times) {
        Vec3 p = marker_path_position(t);
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) __builtin_trap();
    }
    marker_path_free();
}

// The light file, read as start-up reads it: a light it accepts has finite
// numbers, an aim off its position and a pose whose rows are finite.
void fuzz_light_file(const uint8_t* data, size_t size) {
    write_scratch("Light.txt", data, size);
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd) || chdir(scratch_dir().c_str()) != 0) __builtin_trap();
    LightFile file;
    const char* why = "";
    int read = light_file_read(&file, &why);
    if (chdir(cwd) != 0) __builtin_trap();
    if (read < 0 && !why[0]) __builtin_trap();  // a refusal always says why
    if (read <= 0) return;
    Matrix4 pose;
    if (!light_pose_from(&file.start, &pose)) __builtin_trap();
    for (float m : pose.m)
        if (!std::isfinite(m)) __builtin_trap();
}

}  // namespace

const FuzzTarget fuzz_targets[] = {
    {"scene_load", fuzz_scene_load},
    {"texture_load", fuzz_texture_load},
    {"cone", fuzz_cone},
    {"bmp_read", fuzz_bmp_read},
    {"marker_path", fuzz_marker_path},
    {"light_file", fuzz_light_file},
};
const int fuzz_target_count = sizeof fuzz_targets / sizeof fuzz_targets[0];

const FuzzTarget* fuzz_target_find(const char* name) {
    for (int i = 0; i < fuzz_target_count; i++)
        if (std::strcmp(fuzz_targets[i].name, name) == 0) return &fuzz_targets[i];
    return nullptr;
}
