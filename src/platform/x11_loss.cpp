#include "platform/x11_loss.h"

#include <X11/Xlib.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

namespace {

// Nothing but stdio needs flushing: every file the program writes is
// opened, written and closed within one operation, never across a tick.
[[noreturn]] void end_now() {
    std::fflush(nullptr);
    _exit(1);
}

int on_io_error(Display* display) {
    std::fprintf(stderr, "varnel: the display %s went away; ending\n", XDisplayString(display));
    end_now();
}

// Unexpected errors reach this handler only: SDL catches the ones it
// expects with handlers of its own around those requests. Xlib's default
// would end the program here too.
int on_error(Display* display, XErrorEvent* error) {
    char text[128];
    XGetErrorText(display, error->error_code, text, (int)sizeof text);
    std::fprintf(stderr, "varnel: the window on display %s went away (X error: %s); ending\n",
                 XDisplayString(display), text);
    end_now();
}

}  // namespace

void x11_end_on_display_loss() {
    // A write to the connection of a server that has just ended raises
    // SIGPIPE, whose default ends the process by the signal, without a word;
    // ignored, the write fails and the I/O error handler takes over.
    signal(SIGPIPE, SIG_IGN);
    XSetIOErrorHandler(on_io_error);
    XSetErrorHandler(on_error);
}
