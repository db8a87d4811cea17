// Platform layer: a window with a periodic tick, key-down events, relative
// mouse motion, a millisecond clock and two staging surfaces to show frames.
//
// Backends are const tables of functions; the application picks one with
// platform_use() and then talks only to the platform_* wrappers, so the
// window procedure and the frame tick are the same for every backend.
#pragma once

#include <cstdint>

// Messages the window procedure understands (values as on the desktop
// platform the program was first written for).
enum {
    MSG_DESTROY = 0x0002,
    MSG_CLOSE = 0x0010,
    MSG_KEYDOWN = 0x0100,
    MSG_TIMER = 0x0113,
    MSG_QUIT = 0x0012,
};

// Virtual-key codes of the keys the program reacts to.
enum {
    KEY_TAB = 9,
    KEY_ESCAPE = 27,
    KEY_END = 35,
    KEY_HOME = 36,
    KEY_LEFT = 37,
    KEY_UP = 38,
    KEY_RIGHT = 39,
    KEY_DOWN = 40,
    KEY_F11 = 122,
    KEY_F12 = 123,
};

struct Message {
    uint32_t type;  // MSG_*
    uint32_t key;   // KEY_* for MSG_KEYDOWN, the quit code for MSG_QUIT
};

enum { TICK_MS = 20 };

enum { PLATFORM_NO_MEMORY = -1 };  // a result of surfaces_create

struct PlatformBackend {
    const char* name;
    // A full-screen window showing width x height frames scaled to fit, or
    // with `windowed` an ordinary resizable one first opened at that size; 1/0.
    int (*window_create)(const char* title, int width, int height, int windowed);
    int (*desktop_size)(int* width, int* height);  // the desktop's resolution; 1/0
    void (*window_destroy)();
    int (*next_message)(Message* message);  // waits; 0 once the quit message came
    void (*post_quit)(int code);
    void (*show_cursor)(int show);
    void (*mouse_motion)(int* dx, int* dy);  // motion since the last call, pixels
    uint32_t (*elapsed_ms)();                // since the program started
    // Two staging surfaces: 1, 0 when the system refuses them, or
    // PLATFORM_NO_MEMORY when their memory cannot be had.
    int (*surfaces_create)(int width, int height);
    int (*surface_lock)(int index, uint32_t** pixels);  // packed width * 4 bytes per row
    void (*surface_unlock)(int index);
    void (*surface_show)(int index);
    void (*surfaces_release)();
    const char* (*error)();  // why the last call failed
    int (*quit_requested)();  // 1: a close (SIGINT, SIGTERM, the window manager's) waits to be handed out
};

void platform_use(const PlatformBackend* backend);
const PlatformBackend* platform_backend();

int platform_window_create(const char* title, int width, int height, int windowed);
int platform_desktop_size(int* width, int* height);
void platform_window_destroy();
int platform_next_message(Message* message);
void platform_post_quit(int code);
void platform_show_cursor(int show);
void platform_mouse_motion(int* dx, int* dy);
uint32_t platform_elapsed_ms();
int platform_surfaces_create(int width, int height);
int platform_surface_lock(int index, uint32_t** pixels);
void platform_surface_unlock(int index);
void platform_surface_show(int index);
void platform_surfaces_release();
const char* platform_error();
int platform_quit_requested();
