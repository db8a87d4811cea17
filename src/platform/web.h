// Browser backend: a <canvas> as the display, the page's keys and mouse
// (pointer lock on a click), and a 20 ms tick from the browser's loop.
//
// A page cannot wait in a message loop, so the loop is the browser's:
// web_loop_start has it call back 50 times a second, and every call hands
// the messages due to the window procedure: the keys that arrived since the
// last call, then one MSG_TIMER. A call that comes late still delivers one
// tick, and the next is due 20 ms after it: late ticks are not caught up.
//
// A script in the headless backend's syntax can stand in for the page's
// input and clock (web_use_script): its events, its ticks numbered from 1
// and its clock of 20 * k ms during tick k, so a page driven by a script
// draws the frames varnel-render draws from the same script. Its ticks run
// back to back, the canvas shown between browser frames.
#pragma once

#include <cstdint>

#include "platform/headless.h"
#include "platform/platform.h"

const PlatformBackend* web_backend();

// Input from the page and the browser's clock, for the window opened next.
void web_use_page_input();
// Input and clock from a script of `frames` ticks, for the window opened
// next; after the last tick the window is closed, as varnel-render's is.
void web_use_script(int frames, const HeadlessEvent* events, int count);

// Starts the browser's loop (once): while a window is open, each call hands
// every message due to `dispatch`. next_message in the table never waits: it
// returns 0 when nothing more is due in this call of the loop, and after the
// quit message.
void web_loop_start(int (*dispatch)(uint32_t message, uint32_t key));
// 1 from window_create until the quit is posted.
int web_running();
