#include "app/command_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/app.h"
#include "pipeline/workers.h"

namespace {

const char* const help_text =
    "usage: varnel [--data DIR]\n"
    "\n"
    "Shows the world of a data folder (DIR, or the working folder) lit by a spotlight\n"
    "that casts shadows, 400 x 300 pixels drawn on the processor.\n"
    "\n"
    "Reads:  Svet.3ds (the world), Star.3ds (the marker), Textures/<material>.tga,\n"
    "        Cone.tga, Font.bmp, Pos.txt (the marker's path, optional)\n"
    "Writes: Engine.log, Graph.txt (Home), Screenshot NN.bmp (F12)\n"
    "\n"
    "Keys:   mouse turns and looks up and down, arrow keys walk, F11 puts the light\n"
    "        where the camera is, End switches texture filtering, Tab steps through\n"
    "        views of the frame's insides (spans, ids, light, levels, shadow),\n"
    "        Escape quits.\n"
    "\n"
    "VARNEL_THREADS=N draws the frame on N threads (default: one per core).\n"
    "\n"
    "A data folder: varnel-tool demo DIR, or varnel-tool import MODEL DIR for a\n"
    "model of your own (OBJ, glTF, 3DS, Collada, FBX, ...).\n";

}  // namespace

int app_parse_threads(const char* text) {
    char* end;
    long n = std::strtol(text, &end, 10);
    return end == text || *end || n < 1 || n > WORKERS_MAX ? 0 : (int)n;
}

int app_command_line(int argc, char** argv, FILE* out, FILE* err, int* threads) {
    const char* data = nullptr;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(help_text, out);
            return 0;
        }
        if (std::strcmp(argv[i], "--data") == 0 && i + 1 < argc) {
            data = argv[++i];
            continue;
        }
        std::fprintf(err, "varnel: unknown or incomplete option %s (varnel --help tells the options)\n", argv[i]);
        return 2;
    }
    *threads = app_default_threads();
    if (const char* wanted = std::getenv("VARNEL_THREADS")) {
        *threads = app_parse_threads(wanted);
        if (!*threads) {
            std::fprintf(err, "varnel: VARNEL_THREADS must be a number from 1 to 256, not '%s'\n", wanted);
            return 2;
        }
    }
    if (data && chdir(data) != 0) {
        std::fprintf(err, "varnel: cannot enter the data folder %s: %s\n", data, std::strerror(errno));
        return 1;
    }
    return -1;
}
