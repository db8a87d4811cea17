// varnel: the program. No command line; every file name is relative to the
// working directory.
#include "app/app.h"
#include "platform/sdl.h"

int main() { return app_main(sdl_backend()); }
