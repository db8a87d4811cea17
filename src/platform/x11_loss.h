// What happens when the X display or the window is lost under the SDL
// backend: Xlib's own handlers print and call exit(), whose static
// destructors must not be relied on while the frame's threads run. These
// print one line and end the process at once instead.
#pragma once

// Installs Xlib's I/O error handler (the connection is gone: server ended,
// remote display dropped, client killed) and error handler (a request
// failed, as every request on a window another client destroyed does).
// Either prints one line on stderr and ends the process with exit code 1
// without running exit handlers. SIGPIPE is ignored from then on, so that a
// write to a connection that broke reaches the I/O error handler instead of
// ending the process by the signal. Call once SDL's x11 driver is up.
void x11_end_on_display_loss();
