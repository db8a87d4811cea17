// One line of progress on a terminal, redrawn in place: frames done of the
// total, frames a second and the time left.
#pragma once

#include <cstdio>

struct ProgressLine {
    FILE* to;          // null: nothing is shown
    int total;         // frames the run writes
    double start_ms;   // when the first frame began
    double shown_ms;   // when the line was last drawn
    int drawn;         // 1 while a line stands on the terminal
};

// Shows progress on `to` only when it is a terminal and `wanted`.
void progress_begin(ProgressLine* p, FILE* to, int wanted, int total, double now_ms);
// `done` of the total are written; redraws at most four times a second.
void progress_update(ProgressLine* p, int done, double now_ms);
// Clears the line, so what is printed next starts on a clean one.
void progress_end(ProgressLine* p);
