#include "app/command_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>

#include "app/app.h"
#include "pipeline/workers.h"

namespace {

const int size_beyond = 1000000;  // past any accepted side; keeps a long number from overflowing

const char* const help_text =
    "usage: varnel [--data DIR] [--size WxH|screen] [--window] [--light X,Y,Z:AX,AY,AZ|camera]\n"
    "\n"
    "Shows the world of a data folder (DIR, or the working folder, or else the demo\n"
    "beside the program) lit by a spotlight that casts shadows, drawn on the\n"
    "processor, full screen.\n"
    "\n"
    "--size WxH     the frame's size in pixels, from 160x120 to 7680x4320 (default\n"
    "               400x300), scaled to fill the screen with black bars\n"
    "--size screen  the frame at the desktop's own resolution, one pixel per pixel\n"
    "--window       an ordinary resizable window, first opened at the frame's size,\n"
    "               instead of full screen\n"
    "--light X,Y,Z:AX,AY,AZ\n"
    "               the light starts at X,Y,Z aiming at AX,AY,AZ (world units),\n"
    "               whatever Light.txt says\n"
    "--light camera the light starts where the camera is, whatever Light.txt says\n"
    "\n"
    "Reads:  Svet.3ds (the world), Star.3ds (the marker), Textures/<material>.tga,\n"
    "        Cone.tga, Font.bmp, Pos.txt (the marker's path, optional),\n"
    "        Light.txt (where the light starts, optional; else at the camera)\n"
    "Writes: Engine.log, Graph.txt (Home), \"Screenshot 0.bmp\", 1, ... (F12)\n"
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

// The folder of the running program, or "" when /proc cannot tell.
std::string program_folder() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    path[n] = '\0';
    char* slash = std::strrchr(path, '/');
    if (!slash) return "";
    *slash = '\0';
    return path;
}

int holds_world(const std::string& folder) { return access((folder + "/Svet.3ds").c_str(), R_OK) == 0; }

}  // namespace

std::string app_demo_beside_program() {
    std::string folder = program_folder();
    if (folder.empty()) return "";
    std::string installed = folder.substr(0, folder.rfind('/') == std::string::npos ? 0 : folder.rfind('/'));
    installed += "/share/varnel/data";  // <prefix>/bin/program
    if (holds_world(installed)) return installed;
    std::string built = folder + "/data";  // the build tree: build/<preset>/program
    return holds_world(built) ? built : "";
}

int app_enter_data(const char* data, FILE* err) {
    const char* program = app_program();
    if (data && chdir(data) != 0) {
        std::fprintf(err, "%s: cannot enter the data folder %s: %s\n", program, data, std::strerror(errno));
        return 0;
    }
    if (access("Svet.3ds", F_OK) == 0) return 1;
    std::string demo = data ? "" : app_demo_beside_program();
    if (!demo.empty() && chdir(demo.c_str()) == 0) {
        std::fprintf(err, "%s: no Svet.3ds in the working folder; showing the demo in %s\n", program, demo.c_str());
        return 1;
    }
    std::fprintf(err,
                 "%s: no world to show: %s%s holds no Svet.3ds; give a data folder with --data DIR, or make one "
                 "with varnel-tool demo DIR or varnel-tool import MODEL DIR\n",
                 program, data ? "the data folder " : "the working folder", data ? data : "");
    return 0;
}

int app_threads_from_environment(FILE* err) {
    const char* program = app_program();
    int cores = app_default_threads();
    const char* wanted = std::getenv("VARNEL_THREADS");
    if (!wanted) return cores;
    if (int n = app_parse_threads(wanted)) return n;
    std::fprintf(err, "%s: VARNEL_THREADS='%s' is not a number from 1 to 256; drawing on %d threads (one per core)\n",
                 program, wanted, cores);
    return cores;
}

std::string app_light_option_help(const char* value) {
    return std::string("--light takes ") + LIGHT_OPTION_TAKES + ", not '" + value + "'";
}

int app_parse_threads(const char* text) {
    char* end;
    long n = std::strtol(text, &end, 10);
    return end == text || *end || n < 1 || n > WORKERS_MAX ? 0 : (int)n;
}

int app_parse_size(const char* text, int screen, int* width, int* height) {
    if (screen && std::strcmp(text, "screen") == 0) {
        *width = *height = 0;
        return 1;
    }
    int values[2] = {0, 0};
    const char* p = text;
    for (int k = 0; k < 2; k++) {
        int digits = 0;
        for (; *p >= '0' && *p <= '9'; p++, digits++)
            values[k] = std::min(values[k] * 10 + (*p - '0'), size_beyond);
        if (!digits || *p != (k == 0 ? 'x' : '\0')) return 0;
        p++;
    }
    *width = values[0];
    *height = values[1];
    return 1;
}

int app_command_line(int argc, char** argv, FILE* out, FILE* err, AppSettings* settings) {
    const char* data = nullptr;
    *settings = AppSettings{0, SCREEN_WIDTH, SCREEN_HEIGHT, 0, LIGHT_FROM_FILE, {}};
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(help_text, out);
            return 0;
        }
        if (std::strcmp(argv[i], "--data") == 0 && i + 1 < argc) {
            data = argv[++i];
            continue;
        }
        if (std::strcmp(argv[i], "--light") == 0 && i + 1 < argc) {
            LightSource source;
            if (!light_option_parse(argv[++i], &source, &settings->light_start)) {
                std::fprintf(err, "varnel: %s\n", app_light_option_help(argv[i]).c_str());
                return 2;
            }
            settings->light = source;
            continue;
        }
        if (std::strcmp(argv[i], "--window") == 0) {
            settings->windowed = 1;
            continue;
        }
        if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            if (!app_parse_size(argv[++i], 1, &settings->width, &settings->height)) {
                std::fprintf(err,
                             "varnel: --size takes WxH or screen, not '%s'; frame sizes from %dx%d to %dx%d "
                             "are accepted\n",
                             argv[i], SCREEN_MIN_WIDTH, SCREEN_MIN_HEIGHT, SCREEN_MAX_WIDTH, SCREEN_MAX_HEIGHT);
                return 2;
            }
            // "screen" leaves 0 x 0, which is the desktop's size found later.
            int screen = std::strcmp(argv[i], "screen") == 0;
            if (!screen && !app_check_size(err, "varnel: --size", settings->width, settings->height,
                                                   app_views_bytes(settings->width, settings->height))) return 2;
            continue;
        }
        std::fprintf(err, "varnel: unknown or incomplete option %s (varnel --help tells the options)\n", argv[i]);
        return 2;
    }
    settings->threads = app_threads_from_environment(err);
    return app_enter_data(data, err) ? -1 : 1;
}
