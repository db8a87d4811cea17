// Frame sizes: the default, and the range the command line accepts. The
// size is chosen once at start-up and fixed for the run.
#pragma once

enum {
    SCREEN_WIDTH = 400,  // the default frame
    SCREEN_HEIGHT = 300,
    SCREEN_MIN_WIDTH = 160,
    SCREEN_MIN_HEIGHT = 120,
    SCREEN_MAX_WIDTH = 7680,
    SCREEN_MAX_HEIGHT = 4320,
};
