#include "progress_line.h"

#include <unistd.h>

namespace {

const double redraw_ms = 250.0;

// "1:05:09" or "4:09".
void format_duration(double seconds, char* text, size_t size) {
    long s = seconds < 0 ? 0 : seconds > 3.6e7 ? 36000000L : (long)(seconds + 0.5);
    if (s >= 3600)
        std::snprintf(text, size, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, size, "%ld:%02ld", s / 60, s % 60);
}

}  // namespace

void progress_begin(ProgressLine* p, FILE* to, int wanted, int total, double now_ms) {
    *p = ProgressLine{wanted && isatty(fileno(to)) ? to : nullptr, total, now_ms, now_ms, 0};
}

void progress_update(ProgressLine* p, int done, double now_ms) {
    if (!p->to || (now_ms - p->shown_ms < redraw_ms && done < p->total)) return;
    p->shown_ms = now_ms;
    const double seconds = (now_ms - p->start_ms) / 1000.0;
    const double rate = seconds > 0 ? done / seconds : 0;
    char left[32] = "?";
    if (rate > 0) format_duration((p->total - done) / rate, left, sizeof left);
    // Carriage return, the line, then erase what a longer earlier one left.
    std::fprintf(p->to, "\rvarnel-render: %d of %d frames, %.1f a second, %s left\033[K", done, p->total, rate, left);
    std::fflush(p->to);
    p->drawn = 1;
}

void progress_end(ProgressLine* p) {
    if (!p->drawn) return;
    std::fputs("\r\033[K", p->to);
    std::fflush(p->to);
    p->drawn = 0;
}
