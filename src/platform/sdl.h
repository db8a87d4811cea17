// SDL2 window backend: a full-screen-desktop window, or a resizable one,
// showing the frame scaled to fit with nearest-neighbour filtering and
// letterboxing; relative mouse motion and a 20 ms tick that never catches up
// late ticks.
#pragma once

#include "platform/platform.h"

const PlatformBackend* sdl_backend();
