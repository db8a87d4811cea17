// varnel-tool: the asset tool. Inspects scenes and images the way the engine
// reads them, and makes the data files the engine needs.
#include <cstdio>
#include <cstring>
#include <new>

#include "varnel_tool/commands.h"

namespace {

struct ToolCommand {
    const char* name;
    int (*run)(int argc, char** argv);
    const char* usage;  // one line of the command list
    const char* help;   // its options with their ranges, for COMMAND --help
};

int tool_help(int, char**);

const ToolCommand commands[] = {
    {"help", tool_help, "help                     this list", ""},
    {"info", tool_info, "info FILE.3ds            scene summary as JSON",
     "Prints the scene of a 3DS file as the engine reads it: objects, materials, lights, camera.\n"},
    {"decode", tool_decode, "decode [--indexed] IN OUT.ppm  a TGA or BMP file as the engine reads it",
     "  --indexed  read IN as an 8-bit indexed image (Cone.tga, Font.bmp)\n"},
    {"texture-info", tool_texture_info, "texture-info FILE.tga    the rip-map levels of a material texture",
     "Prints the rip-map levels the engine cuts out of a material texture.\n"},
    {"demo", tool_demo, "demo [--force] DIR       write the demo data folder",
     "  --force  replace files of an earlier demo folder\n"},
    {"import", tool_import,
     "import [--force] [--up AXIS] [--front AXIS] [--turn DEG] [--view V] [--ground G] [--scale S] [--max N] "
     "MODEL DIR   data folder from a model",
     "  --up AXIS     the model's up: +x -x +y -y +z -z (x means +x; any case), when the\n"
     "                file does not say or says wrong\n"
     "  --front AXIS  the model axis that faces the start camera, the same names; not\n"
     "                along --up (default: what the format holds to, else +z for\n"
     "                y-up models and -y for z-up ones)\n"
     "  --turn DEG    turns the model about its up, counter-clockwise seen from above,\n"
     "                -360 to 360 degrees (default 0)\n"
     "  --view V      the start view: three-quarter (default: the front turned 35 degrees\n"
     "                to the screen's right, so one side shows too, the eye at about 60%\n"
     "                of the model's height) or front (square on, the eye level with the\n"
     "                model's centre)\n"
     "  --ground G    what the model stands on: studio (default: a tiled floor under it\n"
     "                that sweeps up into a backdrop behind it) or none; the model, the\n"
     "                camera and the light are the same either way\n"
     "  --scale S     world units per model unit, 0.000001 to 1000000, instead of\n"
     "                fitting the start view\n"
     "  --max N       largest texture level size, a power of two from 2 to 2048\n"
     "                (default 256)\n"
     "  --force       replace DIR when an earlier import made it\n"
     "MODEL is any format the reader library knows (OBJ, glTF, FBX, Collada, 3DS, PLY, STL,\n"
     "Blend, X, MD2, ...). The summary says which axes were taken and why.\n"},
    {"split", tool_split, "split [--force] K IN.3ds OUT.3ds   every triangle cut into 4^K by its edge midpoints",
     "  K        0 to 4\n"
     "  --force  replace OUT.3ds\n"},
    {"texture", tool_texture, "texture [--force] [--max N] IN.png|IN.jpg OUT.tga   material texture",
     "  --max N  largest level size, a power of two from 2 to 2048 (default 256)\n"
     "  --force  replace OUT.tga\n"},
    {"font", tool_font, "font [--force] FONT.ttf OUT.bmp   glyph atlas", "  --force  replace OUT.bmp\n"},
    {"cone", tool_cone, "cone [--force] [--width W] [--height H] [--radius R] [--soft S] OUT.tga",
     "  --width W, --height H  the image's size, 1 to 4096 (default 400 x 300)\n"
     "  --radius R, --soft S   the cone's radius and soft edge in pixels of the 400 x 300\n"
     "                         view, 1 to 1000 (default 125 and 50)\n"
     "  --force                replace OUT.tga\n"},
    {"histogram", tool_histogram, "histogram [--force] Graph.txt OUT.png   span-length histogram as a bar chart",
     "  --force  replace OUT.png\n"},
    {"soak-events", tool_soak_events, "soak-events FRAMES [SEED]   input script for varnel-render --events-file",
     "  FRAMES  1 to 1000000\n"
     "  SEED    a number of 0 or more (default 1)\n"},
};

void print_usage(FILE* to) {
    std::fprintf(to, "usage: varnel-tool COMMAND ...   (varnel-tool COMMAND --help tells its options)\n");
    for (const ToolCommand& c : commands) std::fprintf(to, "  %s\n", c.usage);
}

int tool_help(int, char**) {
    print_usage(stdout);
    return 0;
}

int is_help(const char* arg) { return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        print_usage(stderr);
        return 2;
    }
    if (is_help(argv[1])) return tool_help(0, nullptr);
    for (const ToolCommand& c : commands) {
        if (std::strcmp(argv[1], c.name) != 0) continue;
        for (int i = 2; i < argc; i++)
            if (is_help(argv[i])) {
                std::printf("usage: varnel-tool %s\n%s", c.usage, c.help);
                return 0;
            }
        // A command's lists and strings that find no memory end it with one
        // line; its files are written whole or not at all, so none is left
        // half-written.
        try {
            return c.run(argc - 2, argv + 2);
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "varnel-tool %s: not enough memory\n", c.name);
            return 1;
        }
    }
    std::fprintf(stderr, "varnel-tool: unknown command '%s'\n", argv[1]);
    print_usage(stderr);
    return 2;
}
