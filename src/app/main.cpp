// varnel: the program. Every file name is relative to the data folder, which
// --data names (default: the working directory). The frame is drawn on every
// core, or on VARNEL_THREADS threads (1..256).
#include <cstdio>
#include <cstdlib>

#include "app/app.h"
#include "app/command_line.h"
#include "platform/sdl.h"

int main(int argc, char** argv) {
    int code = app_command_line(argc, argv, stdout, stderr);
    if (code >= 0) return code;
    int threads = app_default_threads();
    if (const char* wanted = std::getenv("VARNEL_THREADS")) {
        char* end;
        long n = std::strtol(wanted, &end, 10);
        if (end == wanted || *end || n < 1 || n > 256) {
            std::fprintf(stderr, "varnel: VARNEL_THREADS must be a number from 1 to 256, not '%s'\n", wanted);
            return 2;
        }
        threads = (int)n;
    }
    return app_main(sdl_backend(), threads);
}
