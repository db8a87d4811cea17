#include "platform/sdl.h"

#include <SDL.h>

#include "platform/x11_loss.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

namespace {

struct SdlPlatform {
    SDL_Window* window;
    SDL_Renderer* renderer;
    SDL_Texture* textures[2];        // the two staging surfaces
    std::vector<uint32_t> packed[2]; // used when a texture's pitch is not width * 4
    uint32_t* locked_pixels[2];      // texture memory while locked
    int locked_pitch[2];
    int width, height;               // frame size
    uint32_t start_ms;               // SDL_GetTicks() at window creation
    uint64_t next_tick_us;           // when the next tick is due, on the microsecond clock
    int mouse_dx, mouse_dy;          // motion summed since the last read
    int quit;
    int quit_code;
    const char* error;
};

SdlPlatform sdl = {};

struct KeyMap {
    SDL_Keycode sdl_key;
    uint32_t key;
};

const KeyMap key_map[] = {
    {SDLK_ESCAPE, KEY_ESCAPE}, {SDLK_END, KEY_END},     {SDLK_HOME, KEY_HOME},
    {SDLK_LEFT, KEY_LEFT},     {SDLK_UP, KEY_UP},       {SDLK_RIGHT, KEY_RIGHT},
    {SDLK_DOWN, KEY_DOWN},     {SDLK_F11, KEY_F11},     {SDLK_F12, KEY_F12},
    {SDLK_TAB, KEY_TAB},
};

// Microseconds on SDL's high-resolution clock: ticks are spaced by it, so
// the millisecond clock's rounding cannot bring one in early.
uint64_t now_us() {
    static const uint64_t frequency = SDL_GetPerformanceFrequency();
    uint64_t count = SDL_GetPerformanceCounter();
    return count / frequency * 1000000u + count % frequency * 1000000u / frequency;
}

// SDL quietly falls back to a driver that shows nothing when there is no
// display; that only counts as a display when the user asked for it.
int invisible_driver_chosen_silently() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver) return 1;
    if (std::strcmp(driver, "offscreen") != 0 && std::strcmp(driver, "dummy") != 0) return 0;
    const char* asked = std::getenv("SDL_VIDEODRIVER");
    return !(asked && std::strcmp(asked, driver) == 0);
}

// SDL's video subsystem with our driver preferences; 1, or 0 with the
// reason in sdl.error. Each call is matched by one SDL_QuitSubSystem or by
// the SDL_Quit at the end.
int video_init() {
    // Without a Wayland session, probing for one only prints noise; the
    // user's own SDL_VIDEODRIVER still takes precedence over this hint.
    if (!std::getenv("WAYLAND_DISPLAY")) SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11,offscreen,dummy");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0) {
        sdl.error = SDL_GetError();
        return 0;
    }
    if (invisible_driver_chosen_silently()) {
        sdl.error = "no display found";
        SDL_Quit();
        return 0;
    }
    return 1;
}

int desktop_size(int* width, int* height) {
    if (!video_init()) return 0;
    SDL_DisplayMode desktop;
    int ok = SDL_GetDesktopDisplayMode(0, &desktop) == 0;
    if (ok) {
        *width = desktop.w;
        *height = desktop.h;
    } else {
        sdl.error = SDL_GetError();
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER);
    return ok;
}

int window_create(const char* title, int width, int height, int windowed) {
    if (!video_init()) return 0;
    // Losing the X display or the window ends the program with one line,
    // not through exit() under running threads.
    if (std::strcmp(SDL_GetCurrentVideoDriver(), "x11") == 0) x11_end_on_display_loss();
    sdl.width = width;
    sdl.height = height;
    sdl.quit = 0;
    sdl.mouse_dx = sdl.mouse_dy = 0;
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    if (windowed) {
        sdl.window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height,
                                      SDL_WINDOW_RESIZABLE);
    } else {
        // A borderless window covering the desktop first, then the full-screen
        // request: without a window manager the request alone can leave a
        // frame-sized window while SDL believes it covers the screen.
        SDL_DisplayMode desktop;
        int window_w = width, window_h = height;
        if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
            window_w = desktop.w;
            window_h = desktop.h;
        }
        sdl.window = SDL_CreateWindow(title, 0, 0, window_w, window_h, SDL_WINDOW_BORDERLESS);
        if (sdl.window) SDL_SetWindowFullscreen(sdl.window, SDL_WINDOW_FULLSCREEN_DESKTOP);
    }
    if (!sdl.window) {
        sdl.error = SDL_GetError();
        SDL_Quit();
        return 0;
    }
    sdl.renderer = SDL_CreateRenderer(sdl.window, -1, SDL_RENDERER_ACCELERATED);
    if (!sdl.renderer) sdl.renderer = SDL_CreateRenderer(sdl.window, -1, SDL_RENDERER_SOFTWARE);
    if (!sdl.renderer) {
        sdl.error = SDL_GetError();
        SDL_DestroyWindow(sdl.window);
        sdl.window = nullptr;
        SDL_Quit();
        return 0;
    }
    SDL_SetRelativeMouseMode(SDL_TRUE);
    sdl.start_ms = SDL_GetTicks();
    sdl.next_tick_us = now_us() + TICK_MS * 1000;
    return 1;
}

void surfaces_release() {
    for (int i = 0; i < 2; i++) {
        if (sdl.textures[i]) SDL_DestroyTexture(sdl.textures[i]);
        sdl.textures[i] = nullptr;
        std::vector<uint32_t>().swap(sdl.packed[i]);
    }
}

void window_destroy() {
    surfaces_release();
    if (sdl.renderer) SDL_DestroyRenderer(sdl.renderer);
    if (sdl.window) SDL_DestroyWindow(sdl.window);
    sdl.renderer = nullptr;
    sdl.window = nullptr;
}

uint32_t key_code(SDL_Keycode k) {
    for (const KeyMap& m : key_map)
        if (m.sdl_key == k) return m.key;
    return 0;
}

// The message an SDL event stands for; 0 for events that carry none (mouse
// motion is summed here for the next tick to read).
int translate_event(const SDL_Event& e, Message* message) {
    switch (e.type) {
    case SDL_QUIT:  // the window manager's close, SIGINT and SIGTERM
        message->type = MSG_CLOSE;
        message->key = 0;
        return 1;
    case SDL_KEYDOWN: {  // auto-repeat included
        uint32_t key = key_code(e.key.keysym.sym);
        if (!key) return 0;
        message->type = MSG_KEYDOWN;
        message->key = key;
        return 1;
    }
    case SDL_MOUSEMOTION:
        sdl.mouse_dx += e.motion.xrel;
        sdl.mouse_dy += e.motion.yrel;
        return 0;
    default:
        return 0;
    }
}

// Every pending event is handed out before a tick, so a frame that takes
// longer than the tick never starves input. A due tick is delivered once,
// however late, and the next one falls due TICK_MS after it was handed out:
// late ticks are not caught up.
int next_message(Message* message) {
    for (;;) {
        if (sdl.quit) {
            message->type = MSG_QUIT;
            message->key = (uint32_t)sdl.quit_code;
            SDL_Quit();
            return 0;
        }
        SDL_Event e;
        while (SDL_PollEvent(&e))
            if (translate_event(e, message)) return 1;
        uint64_t now = now_us();
        if (now >= sdl.next_tick_us) {
            sdl.next_tick_us = now + TICK_MS * 1000;
            message->type = MSG_TIMER;
            message->key = 0;
            return 1;
        }
        // Events are waited for in whole milliseconds, which SDL may stretch;
        // the last fraction is slept on the microsecond clock, so ticks keep
        // close to TICK_MS apart. Events of that fraction wait under 1 ms.
        uint64_t left_us = sdl.next_tick_us - now;
        if (left_us < 1000)
            std::this_thread::sleep_for(std::chrono::microseconds(left_us));
        else if (SDL_WaitEventTimeout(&e, (int)(left_us / 1000)) && translate_event(e, message))
            return 1;
    }
}

void post_quit(int code) {
    sdl.quit = 1;
    sdl.quit_code = code;
}

void show_cursor(int show) {
    SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
    if (show && sdl.window) SDL_SetRelativeMouseMode(SDL_FALSE);
}

void mouse_motion(int* dx, int* dy) {
    *dx = sdl.mouse_dx;
    *dy = sdl.mouse_dy;
    sdl.mouse_dx = sdl.mouse_dy = 0;
}

uint32_t elapsed_ms() { return SDL_GetTicks() - sdl.start_ms; }

// The packed copy of surface `index`, width * height words; 0 when its
// memory cannot be had.
int packed_make(int index) {
    const size_t words = (size_t)sdl.width * (size_t)sdl.height;
    if (sdl.packed[index].size() == words) return 1;
    try {
        sdl.packed[index].assign(words, 0);
    } catch (const std::bad_alloc&) {
        std::vector<uint32_t>().swap(sdl.packed[index]);
        return 0;
    }
    return 1;
}

int surfaces_create(int width, int height) {
    if (!sdl.renderer) {
        sdl.error = "no window";
        return 0;
    }
    for (int i = 0; i < 2; i++) {
        sdl.textures[i] = SDL_CreateTexture(sdl.renderer, SDL_PIXELFORMAT_RGB888,
                                            SDL_TEXTUREACCESS_STREAMING, width, height);
        if (!sdl.textures[i]) {
            sdl.error = SDL_GetError();
            surfaces_release();
            return 0;
        }
    }
    sdl.width = width;
    sdl.height = height;
    // A texture whose rows are padded is written through a packed copy,
    // made here so that no frame allocates and its memory is known now.
    for (int i = 0; i < 2; i++) {
        void* memory;
        int pitch;
        if (SDL_LockTexture(sdl.textures[i], nullptr, &memory, &pitch) != 0) continue;  // the frame's lock says so
        SDL_UnlockTexture(sdl.textures[i]);
        if (pitch != width * 4 && !packed_make(i)) {
            surfaces_release();
            sdl.error = "not enough memory for the display surfaces";
            return PLATFORM_NO_MEMORY;
        }
    }
    return 1;
}

// Hands out packed width * 4-byte rows: the texture memory itself when its
// pitch allows, else a packed buffer copied in at unlock.
int surface_lock(int index, uint32_t** pixels) {
    void* memory;
    int pitch;
    if (!sdl.textures[index] || SDL_LockTexture(sdl.textures[index], nullptr, &memory, &pitch) != 0)
        return 0;
    sdl.locked_pixels[index] = (uint32_t*)memory;
    sdl.locked_pitch[index] = pitch;
    if (pitch == sdl.width * 4) {
        *pixels = (uint32_t*)memory;
        return 1;
    }
    if (!packed_make(index)) {
        SDL_UnlockTexture(sdl.textures[index]);
        sdl.locked_pixels[index] = nullptr;
        sdl.error = "not enough memory for a display surface";
        return 0;
    }
    *pixels = sdl.packed[index].data();
    return 1;
}

void surface_unlock(int index) {
    if (!sdl.locked_pixels[index]) return;
    if (sdl.locked_pitch[index] != sdl.width * 4)
        for (int y = 0; y < sdl.height; y++)
            std::memcpy((char*)sdl.locked_pixels[index] + (size_t)y * sdl.locked_pitch[index],
                        sdl.packed[index].data() + (size_t)y * sdl.width, (size_t)sdl.width * 4);
    SDL_UnlockTexture(sdl.textures[index]);
    sdl.locked_pixels[index] = nullptr;
}

// Scales the frame by the largest factor that fits the window's real drawable
// size, centred, with black bars.
void surface_show(int index) {
    if (!sdl.textures[index]) return;
    int out_w, out_h;
    if (SDL_GetRendererOutputSize(sdl.renderer, &out_w, &out_h) != 0) return;
    double scale = (double)out_w / sdl.width;
    if ((double)out_h / sdl.height < scale) scale = (double)out_h / sdl.height;
    SDL_Rect dst;
    dst.w = (int)(sdl.width * scale);
    dst.h = (int)(sdl.height * scale);
    dst.x = (out_w - dst.w) / 2;
    dst.y = (out_h - dst.h) / 2;
    SDL_SetRenderDrawColor(sdl.renderer, 0, 0, 0, 255);
    SDL_RenderClear(sdl.renderer);
    SDL_RenderCopy(sdl.renderer, sdl.textures[index], nullptr, &dst);
    SDL_RenderPresent(sdl.renderer);
}

const char* error() { return sdl.error ? sdl.error : "no error"; }

// SDL turns SIGINT and SIGTERM into its quit event when events are pumped;
// this looks without taking it, so the message loop still sees it.
int quit_requested() {
    SDL_PumpEvents();
    return SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_QUIT, SDL_QUIT) > 0;
}

const PlatformBackend backend = {
    "sdl",           window_create, desktop_size,   window_destroy,
    next_message,    post_quit,     show_cursor,    mouse_motion,   elapsed_ms,
    surfaces_create, surface_lock,  surface_unlock, surface_show,
    surfaces_release, error,         quit_requested,
};

}  // namespace

const PlatformBackend* sdl_backend() { return &backend; }
