// Headless backend: in-memory surfaces, input from a script and a clock that
// reads exactly 20 * k ms during tick k, so every run is repeatable.
//
// Ticks are numbered 1..frames. The events of frame k arrive after tick k - 1
// and before tick k, in the order given; mouse moves of frame k are summed
// into the motion tick k reads. After the last tick, or at a quit event (the
// window manager's close), the window is closed.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

enum { HEADLESS_KEY = 0, HEADLESS_MOUSE = 1, HEADLESS_QUIT = 2 };

struct HeadlessEvent {
    int frame;   // 1-based tick the event precedes
    int kind;    // HEADLESS_KEY, HEADLESS_MOUSE or HEADLESS_QUIT
    int key;     // KEY_* for a key
    int dx, dy;  // pixels for a mouse move
};

// Parses "5:mouse:20,-3 10:key:F11 12:key:F12 30:quit" (keys ESC END HOME
// LEFT UP RIGHT DOWN F11 F12). Events are separated by blanks, tabs, line ends or
// commas; '#' starts a comment that runs to the end of its line. 1 on
// success; 0 with a reason in *error. With events null nothing is stored
// and *count is the number of events the whole text holds (max_events is
// not used), so a caller can size its array from the text.
int headless_parse_events(const char* text, HeadlessEvent* events, int max_events, int* count,
                          const char** error);

const PlatformBackend* headless_backend();
// Resets the backend for a run of `frames` ticks with these events.
void headless_configure(int frames, const HeadlessEvent* events, int count);
// The same, taking the events over instead of copying them (*events is left
// empty), for scripts of millions of events.
void headless_configure_taking(int frames, std::vector<HeadlessEvent>* events);
// The script name of a KEY_* code ("F12"); null for a key scripts cannot name.
const char* headless_key_name(int key);

// Inspection and fault injection for tests and the headless runner.
const uint32_t* headless_surface_pixels(int index);  // staging surface 0 or 1
int headless_present_count();                        // surfaces shown so far
int headless_last_shown();                           // index of the last one, -1 before any
void headless_fail_locks(int count);                 // the next `count` locks fail
void headless_fail_surfaces(int fail);               // surfaces_create fails while set (PLATFORM_NO_MEMORY: for want of memory)
int headless_cursor_visible();
