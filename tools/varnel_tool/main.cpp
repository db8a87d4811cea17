// varnel-tool: the asset tool. Inspects scenes and images the way the engine
// reads them, and makes the data files the engine needs.
#include <cstdio>
#include <cstring>

#include "varnel_tool/commands.h"

namespace {

struct ToolCommand {
    const char* name;
    int (*run)(int argc, char** argv);
    const char* usage;
};

int tool_help(int, char**);

const ToolCommand commands[] = {
    {"help", tool_help, "help                     this list"},
    {"info", tool_info, "info FILE.3ds            scene summary as JSON"},
    {"decode", tool_decode, "decode [--indexed] IN OUT.ppm  a TGA or BMP file as the engine reads it"},
    {"texture-info", tool_texture_info, "texture-info FILE.tga    the rip-map levels of a material texture"},
    {"demo", tool_demo, "demo [--force] DIR       write the demo data folder"},
    {"import", tool_import, "import [--force] [--up x|y|z] [--scale S] [--max N] MODEL DIR   data folder from a model"},
    {"split", tool_split, "split [--force] K IN.3ds OUT.3ds   every triangle cut into 4^K by its edge midpoints"},
    {"texture", tool_texture, "texture [--force] [--max N] IN.png|IN.jpg OUT.tga   material texture"},
    {"font", tool_font, "font [--force] FONT.ttf OUT.bmp   glyph atlas"},
    {"cone", tool_cone, "cone [--force] [--width W] [--height H] [--radius R] [--soft S] OUT.tga"},
    {"histogram", tool_histogram, "histogram [--force] Graph.txt OUT.png   span-length histogram as a bar chart"},
    {"soak-events", tool_soak_events, "soak-events FRAMES [SEED]   input script for varnel-render --events-file"},
};

void print_usage() {
    std::fprintf(stderr, "usage: varnel-tool COMMAND ...\n");
    for (const ToolCommand& c : commands) std::fprintf(stderr, "  %s\n", c.usage);
}

int tool_help(int, char**) {
    print_usage();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        print_usage();
        return 2;
    }
    for (const ToolCommand& c : commands)
        if (std::strcmp(argv[1], c.name) == 0) return c.run(argc - 2, argv + 2);
    std::fprintf(stderr, "varnel-tool: unknown command '%s'\n", argv[1]);
    print_usage();
    return 2;
}
