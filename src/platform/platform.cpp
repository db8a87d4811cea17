#include "platform/platform.h"

namespace {
const PlatformBackend* active = nullptr;  // chosen once at start-up
}

void platform_use(const PlatformBackend* backend) { active = backend; }
const PlatformBackend* platform_backend() { return active; }

int platform_window_create(const char* title, int width, int height, int windowed) {
    return active->window_create(title, width, height, windowed);
}
int platform_desktop_size(int* width, int* height) { return active->desktop_size(width, height); }
void platform_window_destroy() { active->window_destroy(); }
int platform_next_message(Message* message) { return active->next_message(message); }
void platform_post_quit(int code) { active->post_quit(code); }
void platform_show_cursor(int show) { active->show_cursor(show); }
void platform_mouse_motion(int* dx, int* dy) { active->mouse_motion(dx, dy); }
uint32_t platform_elapsed_ms() { return active->elapsed_ms(); }
int platform_surfaces_create(int width, int height) { return active->surfaces_create(width, height); }
int platform_surface_lock(int index, uint32_t** pixels) { return active->surface_lock(index, pixels); }
void platform_surface_unlock(int index) { active->surface_unlock(index); }
void platform_surface_show(int index) { active->surface_show(index); }
void platform_surfaces_release() { active->surfaces_release(); }
const char* platform_error() { return active->error(); }
int platform_quit_requested() { return active->quit_requested(); }
