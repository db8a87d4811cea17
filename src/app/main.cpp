// varnel: the program. Every file name is relative to the data folder, which
// --data names (default: the working directory). The frame is drawn on every
// core, or on VARNEL_THREADS threads (1..256).
#include <cstdio>

#include "app/app.h"
#include "app/command_line.h"
#include "platform/sdl.h"

int main(int argc, char** argv) {
    AppSettings settings;
    int code = app_command_line(argc, argv, stdout, stderr, &settings);
    if (code >= 0) return code;
    return app_main(sdl_backend(), &settings);
}
