// varnel: the program. Every file name is relative to the data folder, which
// --data names (default: the working directory). The frame is drawn on every
// core, or on VARNEL_THREADS threads (1..256).
#include <cstdio>
#include <new>

#include "app/app.h"
#include "app/command_line.h"
#include "platform/sdl.h"

int main(int argc, char** argv) {
    AppSettings settings;
    // The command line's own strings are the only allocations here that
    // throw; everything start-up allocates is checked where it is made.
    int code;
    try {
        code = app_command_line(argc, argv, stdout, stderr, &settings);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "varnel: not enough memory\n");
        return 1;
    }
    if (code >= 0) return code;
    return app_main(sdl_backend(), &settings);
}
