#include "platform/web.h"

#include <emscripten/emscripten.h>
#include <emscripten/html5.h>

#include <cstdlib>
#include <cstring>

namespace {

const char* const canvas_target = "#canvas";
const double script_call_ms = 40.0;  // a scripted run shows the canvas at least this often
enum { KEY_QUEUE = 64 };             // keys kept between two calls of the loop; more are dropped

struct WebPlatform {
    int width, height;                   // frame size
    int scripted;                        // input and clock from the headless script
    int open;                            // from window_create until the quit was handed out
    int quit;                            // post_quit was called
    int quit_code;
    int tick_due;                        // the loop's current call still owes its tick
    int ticks_this_call;                 // scripted ticks handed out in the current call
    double call_start_ms;                // browser clock when the current call began
    double start_ms;                     // browser clock at window_create
    Message keys[KEY_QUEUE];             // keys waiting, oldest at keys[first]
    int key_first, key_count;
    int mouse_dx, mouse_dy;              // pointer-locked motion summed since the last read
    // Allocated with calloc: a shortage is a null pointer, whatever the
    // build does with exceptions.
    uint32_t* surfaces[2];               // the staging surfaces, 0x00RRGGBB, width * height words
    uint32_t* rgba;                      // the surface being shown as the canvas's RGBA bytes
    int surfaces_ready;
    int callbacks_set;                   // the page's input callbacks are registered
    int (*dispatch)(uint32_t message, uint32_t key);
    const char* error;
};

WebPlatform web = {};

struct KeyMap {
    const char* name;  // KeyboardEvent.key
    uint32_t key;
};

const KeyMap key_map[] = {
    {"Escape", KEY_ESCAPE},   {"End", KEY_END},     {"Home", KEY_HOME},
    {"ArrowLeft", KEY_LEFT},  {"ArrowUp", KEY_UP},  {"ArrowRight", KEY_RIGHT},
    {"ArrowDown", KEY_DOWN},  {"F11", KEY_F11},     {"F12", KEY_F12},
    {"Tab", KEY_TAB},
};

const PlatformBackend* script() { return headless_backend(); }

// Keys in the table are queued for the next call of the loop, auto-repeat
// included, and kept from the browser (Tab would move the focus, arrows
// scroll the page); every other key is left to the browser.
EM_BOOL on_key(int, const EmscriptenKeyboardEvent* event, void*) {
    if (!web.open || web.scripted) return EM_FALSE;
    for (const KeyMap& m : key_map) {
        if (std::strcmp(event->key, m.name) != 0) continue;
        if (web.key_count < KEY_QUEUE) {
            web.keys[(web.key_first + web.key_count) % KEY_QUEUE] = Message{MSG_KEYDOWN, m.key};
            web.key_count++;
        }
        return EM_TRUE;
    }
    return EM_FALSE;
}

// The mouse turns the camera only while the pointer is locked to the canvas.
EM_BOOL on_mouse_move(int, const EmscriptenMouseEvent* event, void*) {
    if (!web.open || web.scripted) return EM_FALSE;
    EmscriptenPointerlockChangeEvent lock;
    if (emscripten_get_pointerlock_status(&lock) != EMSCRIPTEN_RESULT_SUCCESS || !lock.isActive) return EM_FALSE;
    web.mouse_dx += (int)event->movementX;
    web.mouse_dy += (int)event->movementY;
    return EM_TRUE;
}

// A click on the canvas locks the pointer to it (browsers allow that only
// inside a user's event).
EM_BOOL on_click(int, const EmscriptenMouseEvent*, void*) {
    if (web.open && !web.scripted) emscripten_request_pointerlock(canvas_target, EM_TRUE);
    return EM_FALSE;
}

void set_callbacks() {
    if (web.callbacks_set) return;
    emscripten_set_keydown_callback(canvas_target, nullptr, EM_TRUE, on_key);
    emscripten_set_mousemove_callback(canvas_target, nullptr, EM_TRUE, on_mouse_move);
    emscripten_set_click_callback(canvas_target, nullptr, EM_TRUE, on_click);
    web.callbacks_set = 1;
}

int window_create(const char*, int width, int height, int) {
    int has_canvas = EM_ASM_INT({
        var canvas = Module['canvas'];
        if (!canvas) return 0;
        canvas.width = $0;
        canvas.height = $1;
        Module['varnelImage'] = null;
        return 1;
    }, width, height);
    if (!has_canvas) {
        web.error = "the page has no canvas";
        return 0;
    }
    web.width = width;
    web.height = height;
    web.open = 1;
    web.quit = 0;
    web.tick_due = 0;
    web.key_count = 0;
    web.mouse_dx = web.mouse_dy = 0;
    web.start_ms = emscripten_get_now();
    set_callbacks();
    return 1;
}

// The canvas's size on the page, in CSS pixels.
int desktop_size(int* width, int* height) {
    *width = EM_ASM_INT({ return Module['canvas'] ? Module['canvas'].clientWidth : 0; });
    *height = EM_ASM_INT({ return Module['canvas'] ? Module['canvas'].clientHeight : 0; });
    if (*width > 0 && *height > 0) return 1;
    web.error = "the canvas has no size on the page";
    return 0;
}

void window_destroy() {}

// Never waits (see web.h): the keys queued, then the tick the current call
// of the loop owes; or, scripted, the script's messages until a tick was
// handed out and script_call_ms have passed in this call.
int next_message(Message* message) {
    if (!web.open) return 0;
    if (web.quit) {
        message->type = MSG_QUIT;
        message->key = (uint32_t)web.quit_code;
        web.open = 0;
        return 0;
    }
    if (web.scripted) {
        if (web.ticks_this_call > 0 && emscripten_get_now() - web.call_start_ms >= script_call_ms) return 0;
        if (!script()->next_message(message)) {
            web.open = 0;
            return 0;
        }
        if (message->type == MSG_TIMER) web.ticks_this_call++;
        return 1;
    }
    if (web.key_count > 0) {
        *message = web.keys[web.key_first];
        web.key_first = (web.key_first + 1) % KEY_QUEUE;
        web.key_count--;
        return 1;
    }
    if (web.tick_due) {
        web.tick_due = 0;
        message->type = MSG_TIMER;
        message->key = 0;
        return 1;
    }
    return 0;
}

void post_quit(int code) {
    web.quit = 1;
    web.quit_code = code;
    if (web.scripted) script()->post_quit(code);
}

// The cursor is hidden while the pointer is locked; showing it again (at
// the quit) hands the pointer back.
void show_cursor(int show) {
    if (show) emscripten_exit_pointerlock();
}

void mouse_motion(int* dx, int* dy) {
    if (web.scripted) {
        script()->mouse_motion(dx, dy);
        return;
    }
    *dx = web.mouse_dx;
    *dy = web.mouse_dy;
    web.mouse_dx = web.mouse_dy = 0;
}

uint32_t elapsed_ms() {
    if (web.scripted) return script()->elapsed_ms();
    return (uint32_t)(emscripten_get_now() - web.start_ms);
}

// Frees the surfaces; safe when none were made.
void surfaces_free() {
    for (uint32_t*& surface : web.surfaces) {
        std::free(surface);
        surface = nullptr;
    }
    std::free(web.rgba);
    web.rgba = nullptr;
}

int surfaces_create(int width, int height) {
    const size_t n = (size_t)width * (size_t)height;
    surfaces_free();
    for (uint32_t*& surface : web.surfaces) surface = (uint32_t*)std::calloc(n, 4);
    web.rgba = (uint32_t*)std::calloc(n, 4);
    if (!web.surfaces[0] || !web.surfaces[1] || !web.rgba) {
        surfaces_free();
        web.surfaces_ready = 0;
        web.error = "not enough memory for the display surfaces";
        return PLATFORM_NO_MEMORY;
    }
    web.width = width;
    web.height = height;
    web.surfaces_ready = 1;
    return 1;
}

int surface_lock(int index, uint32_t** pixels) {
    if (!web.surfaces_ready || index < 0 || index > 1) return 0;
    *pixels = web.surfaces[index];
    return 1;
}

void surface_unlock(int) {}

// 0x00RRGGBB words become the canvas's R, G, B, A bytes (0xAABBGGRR read as
// a little-endian word), opaque, and are put on the canvas whole. The
// ImageData is copied into rather than made over the module's memory, which
// is shared in the threaded build and which ImageData does not accept then.
void surface_show(int index) {
    if (!web.surfaces_ready || index < 0 || index > 1) return;
    const uint32_t* in = web.surfaces[index];
    uint32_t* out = web.rgba;
    const size_t n = (size_t)web.width * (size_t)web.height;
    for (size_t i = 0; i < n; i++) {
        uint32_t w = in[i];
        out[i] = 0xFF000000u | (w & 0x0000FF00u) | (w >> 16 & 0xFFu) | (w & 0xFFu) << 16;
    }
    EM_ASM({
        var canvas = Module['canvas'];
        var image = Module['varnelImage'];
        if (!image || image.width != $2 || image.height != $3) {
            Module['varnelContext'] = canvas.getContext('2d');
            image = Module['varnelImage'] = Module['varnelContext'].createImageData($2, $3);
        }
        image.data.set(HEAPU8.subarray($0, $0 + $1));
        Module['varnelContext'].putImageData(image, 0, 0);
    }, out, (int)(n * 4), web.width, web.height);
}

void surfaces_release() {
    surfaces_free();
    web.surfaces_ready = 0;
}

const char* error() { return web.error ? web.error : "no error"; }

// A page is closed by the browser, never by a signal during start-up.
int quit_requested() { return 0; }

const PlatformBackend backend = {
    "web",           window_create, desktop_size,   window_destroy,
    next_message,    post_quit,     show_cursor,    mouse_motion,   elapsed_ms,
    surfaces_create, surface_lock,  surface_unlock, surface_show,
    surfaces_release, error,         quit_requested,
};

// One call of the browser's loop: one tick due, and every message due
// handed to the window procedure.
void loop_call() {
    web.call_start_ms = emscripten_get_now();
    web.tick_due = 1;
    web.ticks_this_call = 0;
    Message message;
    while (web.open && next_message(&message)) web.dispatch(message.type, message.key);
}

}  // namespace

const PlatformBackend* web_backend() { return &backend; }

void web_use_page_input() { web.scripted = 0; }

void web_use_script(int frames, const HeadlessEvent* events, int count) {
    headless_configure(frames, events, count);
    web.scripted = 1;
}

void web_loop_start(int (*dispatch)(uint32_t message, uint32_t key)) {
    if (web.dispatch) return;
    web.dispatch = dispatch;
    // 50 calls a second on the browser's timer: each starts 20 ms after the
    // one before began (to the timer's whole milliseconds), or at once when
    // that one overran.
    emscripten_set_main_loop(loop_call, 1000 / TICK_MS, 0);
}

int web_running() { return web.open && !web.quit; }
