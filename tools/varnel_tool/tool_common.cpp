#include "varnel_tool/tool_common.h"

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "asset/cone_image.h"
#include "asset/font_atlas.h"
#include "asset/image_encode.h"
#include "asset/procedural.h"
#include "asset/ripmap.h"
#include "asset/world.h"
#include "asset/write3ds.h"

int error_line(const char* command, const char* what) {
    std::fprintf(stderr, "varnel-tool %s: %s\n", command, what);
    return 1;
}

int output_blocked(const char* command, const char* out, int force) {
    if (force || !asset_file_exists(out)) return 0;
    return error_line(command, (std::string(out) + " exists; use --force to replace it").c_str());
}

int parse_arguments(int argc, char** argv, const char* const* valued, Arguments* a, const char** bad) {
    a->force = 0;
    for (int i = 0; i < argc; i++) {
        const char* s = argv[i];
        if (std::strcmp(s, "--force") == 0) {
            a->force = 1;
            continue;
        }
        if (std::strncmp(s, "--", 2) == 0) {
            int known = 0;
            for (const char* const* v = valued; *v; v++)
                if (std::strcmp(s, *v) == 0) known = 1;
            if (!known || i + 1 >= argc) {
                *bad = s;
                return 0;
            }
            a->values.push_back({s, argv[++i]});
            continue;
        }
        a->positional.push_back(s);
    }
    return 1;
}

const char* option_value(const Arguments& a, const char* name) {
    for (const auto& v : a.values)
        if (v.first == name) return v.second;
    return nullptr;
}

int parse_int(const char* s, int lo, int hi, int* out) {
    char* end;
    long v = std::strtol(s, &end, 10);
    if (end == s || *end || v < lo || v > hi) return 0;
    *out = (int)v;
    return 1;
}

int folder_is_empty(const char* path) {
    DIR* d = opendir(path);
    if (!d) return 0;
    int empty = 1;
    while (struct dirent* e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) empty = 0;
    closedir(d);
    return empty;
}

int procedural_texture_file(const std::string& material, std::vector<DataFile>* files, std::string* why) {
    const ProceduralTexture* t = procedural_find(material.c_str());
    if (!t) {
        *why = "no texture is drawn for material " + material;
        return 0;
    }
    std::vector<Rgba8> base((size_t)t->base_width * t->base_height);
    t->paint(base.data(), t->base_width, t->base_height);
    DataFile f = {"Textures/" + material + ".tga", {}};
    if (!texture_encode(base.data(), t->base_width, t->base_height, &f.data)) {
        *why = ripmap_error();
        return 0;
    }
    files->push_back(f);
    return 1;
}

int data_files_shared(std::vector<DataFile>* files, std::vector<std::string>* marker_materials, std::string* why) {
    SceneBuild star;
    demo_star_build(&star);
    DataFile star_file = {"Star.3ds", {}};
    if (!scene_encode_3ds(&star, &star_file.data)) {
        *why = write3ds_error();
        return 0;
    }
    files->push_back(star_file);
    for (const MaterialDef& m : star.materials) {
        if (!procedural_texture_file(m.name, files, why)) return 0;
        marker_materials->push_back(m.name);
    }
    ConeShape cone = cone_default();
    std::vector<uint8_t> grey;
    DataFile cone_file = {"Cone.tga", {}};
    if (!cone_paint(&cone, &grey) || !tga_encode_grey(grey.data(), cone.width, cone.height, &cone_file.data)) {
        *why = "cannot draw the cone";
        return 0;
    }
    files->push_back(cone_file);
    std::vector<Rgba8> atlas;
    DataFile font_file = {"Font.bmp", {}};
    if (!font_atlas_render(DEMO_FONT_PATH, &atlas)) {
        *why = std::string(DEMO_FONT_PATH) + ": " + font_atlas_error();
        return 0;
    }
    bmp_encode_rgb(atlas.data(), ATLAS_WIDTH, ATLAS_HEIGHT, &font_file.data);
    files->push_back(font_file);
    return 1;
}
