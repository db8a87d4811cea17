#include "platform/headless.h"

#include <strings.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

struct Headless {
    int frames;                        // ticks to run
    std::vector<HeadlessEvent> events; // sorted by frame, stable
    size_t next_event;                 // first event not yet delivered
    int tick;                          // last tick delivered (0 before the first)
    int closed;                        // the close message was sent
    int quit;                          // post_quit was called
    int quit_code;
    int64_t mouse_dx, mouse_dy;        // motion summed since the last read, handed out clamped to int
    uint32_t clock_ms;                 // 20 * tick
    int width, height;
    std::vector<uint32_t> surfaces[2];
    int surfaces_ready;
    int fail_locks;                    // locks still to fail
    int fail_surfaces;
    int present_count;
    int last_shown;
    int cursor_visible;
    const char* error;
};

Headless state = {};

struct KeyName {
    const char* name;
    int key;
};

const KeyName key_names[] = {
    {"ESC", KEY_ESCAPE}, {"END", KEY_END}, {"HOME", KEY_HOME}, {"LEFT", KEY_LEFT},
    {"UP", KEY_UP},      {"RIGHT", KEY_RIGHT}, {"DOWN", KEY_DOWN}, {"F11", KEY_F11},
    {"F12", KEY_F12},    {"TAB", KEY_TAB},   {"ESCAPE", KEY_ESCAPE},  // after ESC: names write ESC
};

// Parses a decimal integer at *p; 1 on success, advancing *p.
int parse_int(const char** p, int* value) {
    char* end;
    long v = std::strtol(*p, &end, 10);
    if (end == *p || v < -1000000 || v > 1000000) return 0;
    *value = (int)v;
    *p = end;
    return 1;
}

int window_create(const char*, int width, int height, int) {
    state.width = width;
    state.height = height;
    return 1;
}

int desktop_size(int*, int*) {
    state.error = "there is no desktop without a display";
    return 0;
}

void window_destroy() {}

int next_message(Message* message) {
    if (state.quit) {
        message->type = MSG_QUIT;
        message->key = (uint32_t)state.quit_code;
        return 0;
    }
    if (state.tick < state.frames) {
        int frame = state.tick + 1;
        while (state.next_event < state.events.size() &&
               state.events[state.next_event].frame <= frame) {
            const HeadlessEvent& e = state.events[state.next_event++];
            if (e.frame < frame) continue;
            if (e.kind == HEADLESS_MOUSE) {
                state.mouse_dx += e.dx;
                state.mouse_dy += e.dy;
                continue;
            }
            if (e.kind == HEADLESS_QUIT) {
                state.closed = 1;
                message->type = MSG_CLOSE;
                message->key = 0;
                return 1;
            }
            message->type = MSG_KEYDOWN;
            message->key = (uint32_t)e.key;
            return 1;
        }
        state.tick = frame;
        state.clock_ms = (uint32_t)(TICK_MS * frame);
        message->type = MSG_TIMER;
        message->key = 0;
        return 1;
    }
    if (!state.closed) {
        state.closed = 1;
        message->type = MSG_CLOSE;
        message->key = 0;
        return 1;
    }
    // Nothing left and nobody quit: behave as a closed window would.
    state.quit = 1;
    message->type = MSG_QUIT;
    message->key = 0;
    return 0;
}

void post_quit(int code) {
    state.quit = 1;
    state.quit_code = code;
}

void show_cursor(int show) { state.cursor_visible = show; }

// A frame's script may sum more motion than an int holds (each move is
// within a million pixels, the moves of one frame are not limited).
int clamp_to_int(int64_t v) { return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : (int)v; }

void mouse_motion(int* dx, int* dy) {
    *dx = clamp_to_int(state.mouse_dx);
    *dy = clamp_to_int(state.mouse_dy);
    state.mouse_dx = state.mouse_dy = 0;
}

uint32_t elapsed_ms() { return state.clock_ms; }

int surfaces_create(int width, int height) {
    if (state.fail_surfaces) {
        const int no_memory = state.fail_surfaces == PLATFORM_NO_MEMORY;
        state.error = no_memory ? "not enough memory for the display surfaces" : "surfaces unavailable";
        return no_memory ? PLATFORM_NO_MEMORY : 0;
    }
    try {
        for (std::vector<uint32_t>& s : state.surfaces) s.assign((size_t)width * height, 0);
    } catch (const std::bad_alloc&) {
        for (std::vector<uint32_t>& s : state.surfaces) std::vector<uint32_t>().swap(s);
        state.error = "not enough memory for the display surfaces";
        return PLATFORM_NO_MEMORY;
    }
    state.width = width;
    state.height = height;
    state.surfaces_ready = 1;
    return 1;
}

int surface_lock(int index, uint32_t** pixels) {
    if (!state.surfaces_ready || index < 0 || index > 1) return 0;
    if (state.fail_locks > 0) {
        state.fail_locks--;
        state.error = "lock refused";
        return 0;
    }
    *pixels = state.surfaces[index].data();
    return 1;
}

void surface_unlock(int) {}

void surface_show(int index) {
    state.present_count++;
    state.last_shown = index;
}

void surfaces_release() {
    for (std::vector<uint32_t>& s : state.surfaces) std::vector<uint32_t>().swap(s);
    state.surfaces_ready = 0;
}

const char* error() { return state.error ? state.error : "no error"; }

// The script's closes come through next_message only.
int quit_requested() { return 0; }

const PlatformBackend backend = {
    "headless",      window_create, desktop_size,    window_destroy,
    next_message,    post_quit,     show_cursor,     mouse_motion,    elapsed_ms,
    surfaces_create, surface_lock,  surface_unlock,  surface_show,
    surfaces_release, error,         quit_requested,
};

}  // namespace

int headless_parse_events(const char* text, HeadlessEvent* events, int max_events, int* count,
                          const char** error) {
    *count = 0;
    const char* p = text;
    for (;;) {
        for (;;) {  // separators, and comments from '#' to the end of the line
            if (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == ',') {
                p++;
            } else if (*p == '#') {
                p += std::strcspn(p, "\n");
            } else {
                break;
            }
        }
        if (!*p) return 1;
        HeadlessEvent e = {};
        if (!parse_int(&p, &e.frame) || e.frame < 1 || *p != ':') {
            *error = "event needs a frame number of 1 or more before ':'";
            return 0;
        }
        p++;
        if (std::strncmp(p, "key:", 4) == 0) {
            p += 4;
            size_t n = std::strcspn(p, " \t\n\r,#");
            e.kind = HEADLESS_KEY;
            e.key = -1;
            for (const KeyName& k : key_names)
                if (std::strlen(k.name) == n && strncasecmp(p, k.name, n) == 0) e.key = k.key;
            if (e.key < 0) {
                *error = "unknown key (ESC or ESCAPE, END, HOME, LEFT, UP, RIGHT, DOWN, F11, F12, TAB; any case)";
                return 0;
            }
            p += n;
        } else if (std::strncmp(p, "mouse:", 6) == 0) {
            p += 6;
            e.kind = HEADLESS_MOUSE;
            if (!parse_int(&p, &e.dx) || *p != ',' || (p++, !parse_int(&p, &e.dy))) {
                *error = "mouse event needs dx,dy";
                return 0;
            }
        } else if (std::strncmp(p, "quit", 4) == 0 && std::strchr(" \t\n\r,#", p[4])) {
            p += 4;
            e.kind = HEADLESS_QUIT;
        } else {
            *error = "event kind must be key, mouse or quit";
            return 0;
        }
        if (!events) {  // counting only
            (*count)++;
            continue;
        }
        if (*count >= max_events) {
            *error = "too many events";
            return 0;
        }
        events[(*count)++] = e;
    }
}

const PlatformBackend* headless_backend() { return &backend; }

void headless_configure(int frames, const HeadlessEvent* events, int count) {
    std::vector<HeadlessEvent> copy(events, events + count);
    headless_configure_taking(frames, &copy);
}

void headless_configure_taking(int frames, std::vector<HeadlessEvent>* events) {
    state = Headless{};
    state.frames = frames;
    state.events.swap(*events);
    std::vector<HeadlessEvent>().swap(*events);
    // Scripts usually come in frame order; sorting those anyway would take
    // a second array of their size.
    auto by_frame = [](const HeadlessEvent& a, const HeadlessEvent& b) { return a.frame < b.frame; };
    if (!std::is_sorted(state.events.begin(), state.events.end(), by_frame))
        std::stable_sort(state.events.begin(), state.events.end(), by_frame);
    state.last_shown = -1;
    state.cursor_visible = 1;
}

const char* headless_key_name(int key) {
    for (const KeyName& k : key_names)
        if (k.key == key) return k.name;
    return nullptr;
}

const uint32_t* headless_surface_pixels(int index) { return state.surfaces[index & 1].data(); }
int headless_present_count() { return state.present_count; }
int headless_last_shown() { return state.last_shown; }
void headless_fail_locks(int count) { state.fail_locks = count; }
void headless_fail_surfaces(int fail) { state.fail_surfaces = fail; }
int headless_cursor_visible() { return state.cursor_visible; }
