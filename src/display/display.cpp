#include "display/display.h"

#include "platform/platform.h"

namespace {

struct Display {
    int ready;        // both staging surfaces exist
    int current;      // index of the staging surface the next frame is written into: 1 first, then 0, 1, ...
    int locked;       // the current surface is locked
    const char* error;
};

Display display = {};

int current_index() { return display.current; }

}  // namespace

int display_init(int width, int height) {
    display = Display{};
    display.current = 1;
    const int made = platform_surfaces_create(width, height);
    if (made != 1) {
        display.error = platform_error();
        return made == PLATFORM_NO_MEMORY ? DISPLAY_NO_MEMORY : 0;
    }
    display.ready = 1;
    return 1;
}

int display_lock(uint32_t** pixels) {
    if (!display.ready) return 0;
    if (!platform_surface_lock(current_index(), pixels)) return 0;
    display.locked = 1;
    return 1;
}

// Unlocks the current surface, makes the other one current and shows the
// frame just written: consecutive frames alternate, starting with the second.
void display_present() {
    if (!display.ready || !display.locked) return;
    int shown = current_index();
    platform_surface_unlock(shown);
    display.locked = 0;
    display.current = 1 - display.current;
    platform_surface_show(shown);
}

void display_release() {
    if (!display.ready) return;
    if (display.locked) platform_surface_unlock(current_index());
    platform_surfaces_release();
    display = Display{};
}

const char* display_error() { return display.error ? display.error : "no error"; }
int display_current_surface() { return current_index(); }
