// Asset commands: the demo data folder, and textures, font atlases and cone
// images made from users' own files. Every file is written through
// asset_file_write: complete or not at all, and an existing file is replaced
// only with --force (or inside a folder this tool made).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "asset/asset_file.h"
#include "asset/cone_image.h"
#include "asset/font_atlas.h"
#include "asset/image_encode.h"
#include "asset/ripmap.h"
#include "asset/world.h"
#include "asset/write3ds.h"
#include "import/import.h"
#include "varnel_tool/commands.h"
#include "varnel_tool/tool_common.h"

namespace {

// Marks a folder made by `demo`: its files may be regenerated freely.
const char* const demo_marker = ".varnel-demo";
const char* const demo_marker_text =
    "This folder was made by varnel-tool demo; running it again replaces the files here.\n";

const int default_texture_max = 256;   // largest base level `texture` makes by default
const int texture_max_limit = 2048;

// The demo command's failures: one line on stderr, result 0.
int demo_fail(const std::string& what) {
    error_line("demo", what.c_str());
    return 0;
}

int write_buffer(const std::string& path, const ByteBuffer& data, AssetWriteMode mode) {
    return asset_file_write(path.c_str(), data.data(), data.size(), mode);
}

int make_demo_files(std::vector<DataFile>* files) {
    SceneBuild world;
    demo_world_build(&world);
    DataFile world_file = {"Svet.3ds", {}};
    if (!scene_encode_3ds(&world, &world_file.data)) return demo_fail(write3ds_error());
    files->push_back(world_file);
    std::string why;
    std::vector<std::string> marker_materials;
    for (const MaterialDef& m : world.materials)
        if (!procedural_texture_file(m.name, files, &why)) return demo_fail(why);
    if (!data_files_shared(files, &marker_materials, &why)) return demo_fail(why);
    std::string path = demo_path_text();
    files->push_back(DataFile{"Pos.txt", ByteBuffer(path.begin(), path.end())});
    return 1;
}

}  // namespace

int tool_demo(int argc, char** argv) {
    Arguments a;
    const char* const valued[] = {nullptr};
    const char* bad = nullptr;
    if (!parse_arguments(argc, argv, valued, &a, &bad) || a.positional.size() != 1) {
        std::fprintf(stderr, "usage: varnel-tool demo [--force] DIR\n");
        return 2;
    }
    const std::string dir = a.positional[0];
    const std::string marker = dir + "/" + demo_marker;
    int ours = 0;  // files here may be replaced without asking
    if (!asset_file_exists(dir.c_str())) {
        if (!asset_make_folder(dir.c_str())) return error_line("demo", asset_error());
        ours = 1;
    } else {
        ours = asset_file_exists(marker.c_str()) || folder_is_empty(dir.c_str());
    }

    std::vector<DataFile> files;
    if (!make_demo_files(&files)) return 1;
    if (!ours && !a.force)
        for (const DataFile& f : files)
            if (asset_file_exists((dir + "/" + f.name).c_str()))
                return error_line("demo", (dir + "/" + f.name +
                                           " exists and was not made by this tool; use --force to replace it").c_str());
    if (!asset_make_folder((dir + "/Textures").c_str())) return error_line("demo", asset_error());
    AssetWriteMode mode = ours || a.force ? ASSET_REPLACE : ASSET_KEEP_EXISTING;
    if (ours) {  // marked first, so an interrupted run can simply be repeated
        ByteBuffer text(demo_marker_text, demo_marker_text + std::strlen(demo_marker_text));
        if (!write_buffer(marker, text, ASSET_REPLACE)) return error_line("demo", asset_error());
    }
    for (const DataFile& f : files)
        if (!write_buffer(dir + "/" + f.name, f.data, mode)) return error_line("demo", asset_error());
    if (ours) {  // and again last: the build uses the marker's time as its stamp
        ByteBuffer text(demo_marker_text, demo_marker_text + std::strlen(demo_marker_text));
        if (!write_buffer(marker, text, ASSET_REPLACE)) return error_line("demo", asset_error());
    }
    std::printf("varnel-tool demo: %zu files written to %s\n", files.size(), dir.c_str());
    return 0;
}

int tool_texture(int argc, char** argv) {
    Arguments a;
    const char* const valued[] = {"--max", nullptr};
    const char* bad = nullptr;
    int max_base = default_texture_max;
    const char* m = nullptr;
    if (parse_arguments(argc, argv, valued, &a, &bad) && (m = option_value(a, "--max")) &&
        (!parse_int(m, 2, texture_max_limit, &max_base) || !is_power_of_two(max_base))) {
        std::fprintf(stderr, "varnel-tool texture: --max '%s': takes a power of two from 2 to %d\n", m, texture_max_limit);
        return 2;
    }
    if (bad || a.positional.size() != 2) {
        std::fprintf(stderr, "usage: varnel-tool texture [--force] [--max N] IN.png|IN.jpg OUT.tga\n"
                             "  N: largest level size, a power of two from 2 to %d (default %d)\n",
                     texture_max_limit, default_texture_max);
        return 2;
    }
    const char* in = a.positional[0];
    const char* out = a.positional[1];
    if (output_blocked("texture", out, a.force)) return 1;
    std::vector<Rgba8> rgba;
    int w, h;
    const char* why;
    if (!import_load_image(in, &rgba, &w, &h, &why)) return error_line("texture", (std::string(in) + ": " + why).c_str());
    ByteBuffer file;
    int bw, bh;
    if (!texture_encode_image(rgba.data(), w, h, max_base, &file, &bw, &bh)) return error_line("texture", ripmap_error());
    if (!write_buffer(out, file, a.force ? ASSET_REPLACE : ASSET_KEEP_EXISTING)) return error_line("texture", asset_error());
    std::printf("varnel-tool texture: %s: %d x %d levels from %d x %d, file %d x %d\n", out, bw, bh, w, h, 2 * bw, 2 * bh);
    return 0;
}

int tool_font(int argc, char** argv) {
    Arguments a;
    const char* const valued[] = {nullptr};
    const char* bad = nullptr;
    if (!parse_arguments(argc, argv, valued, &a, &bad) || a.positional.size() != 2) {
        std::fprintf(stderr, "usage: varnel-tool font [--force] FONT.ttf OUT.bmp\n");
        return 2;
    }
    const char* out = a.positional[1];
    if (output_blocked("font", out, a.force)) return 1;
    std::vector<Rgba8> atlas;
    if (!font_atlas_render(a.positional[0], &atlas))
        return error_line("font", (std::string(a.positional[0]) + ": " + font_atlas_error()).c_str());
    ByteBuffer file;
    bmp_encode_rgb(atlas.data(), ATLAS_WIDTH, ATLAS_HEIGHT, &file);
    if (!write_buffer(out, file, a.force ? ASSET_REPLACE : ASSET_KEEP_EXISTING)) return error_line("font", asset_error());
    return 0;
}

int tool_cone(int argc, char** argv) {
    Arguments a;
    const char* const valued[] = {"--width", "--height", "--radius", "--soft", nullptr};
    const char* bad = nullptr;
    ConeShape shape = cone_default();
    int radius = (int)shape.radius, soft = (int)shape.softness;
    const char* v;
    int ok = parse_arguments(argc, argv, valued, &a, &bad) && a.positional.size() == 1;
    struct Bound {
        const char* option;
        int high;
        int* value;
    };
    const Bound bounds[] = {{"--width", 4096, &shape.width}, {"--height", 4096, &shape.height},
                            {"--radius", 1000, &radius}, {"--soft", 1000, &soft}};
    for (const Bound& b : bounds)
        if (!bad && (v = option_value(a, b.option)) && !parse_int(v, 1, b.high, b.value)) {
            std::fprintf(stderr, "varnel-tool cone: %s '%s': takes a number from 1 to %d\n", b.option, v, b.high);
            return 2;
        }
    if (!ok) {
        std::fprintf(stderr, "usage: varnel-tool cone [--force] [--width W] [--height H] [--radius R] [--soft S] OUT.tga\n"
                             "  R and S in screen pixels of the 400 x 300 view (default 125 and 50)\n");
        return 2;
    }
    shape.radius = (float)radius;
    shape.softness = (float)soft;
    const char* out = a.positional[0];
    if (output_blocked("cone", out, a.force)) return 1;
    std::vector<uint8_t> grey;
    ByteBuffer file;
    if (!cone_paint(&shape, &grey) || !tga_encode_grey(grey.data(), shape.width, shape.height, &file))
        return error_line("cone", "cannot draw the cone");
    if (!write_buffer(out, file, a.force ? ASSET_REPLACE : ASSET_KEEP_EXISTING)) return error_line("cone", asset_error());
    return 0;
}
