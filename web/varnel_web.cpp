// The page's program: the window program's start-up, window procedure and
// frame tick on the browser backend, started (and started again, in another
// folder, at another size or thread count) by the page through the
// functions below, which the module exports.
#include <emscripten/emscripten.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/app.h"
#include "pipeline/workers.h"
#include "platform/web.h"

namespace {

enum { TICK_TIMES = 1024 };  // the latest ticks' times kept for the figures

struct WebProgram {
    int started;                 // app_startup ran; app_shutdown is owed
    int ticks;                   // ticks handed to window_proc in this run
    double tick_ms[TICK_TIMES];  // ms of tick k at k % TICK_TIMES
    double frame_ms[TICK_TIMES]; // the same less its present phase (the canvas
                                 // put among it): the part varnel-render times too
};

WebProgram program = {};

// window_proc, timing every tick.
int dispatch(uint32_t message, uint32_t key) {
    if (message != MSG_TIMER) return window_proc(message, key);
    double t0 = frame_clock_ms();
    window_proc(message, key);
    double ms = frame_clock_ms() - t0;
    program.tick_ms[program.ticks % TICK_TIMES] = ms;
    program.frame_ms[program.ticks % TICK_TIMES] = ms - app_frame_phases()->present;
    program.ticks++;
    return 0;
}

// Median of the latest `count` entries of `times` (at most 1024); 0 before the first tick.
double median_of_latest(const double* times, int count) {
    count = std::min(std::min(count, program.ticks), (int)TICK_TIMES);
    if (count <= 0) return 0.0;
    std::vector<double> latest;
    for (int k = program.ticks - count; k < program.ticks; k++) latest.push_back(times[k % TICK_TIMES]);
    std::nth_element(latest.begin(), latest.begin() + count / 2, latest.end());
    return latest[(size_t)count / 2];
}

// Closes the window of a program still running, as its close button would,
// and shuts it down.
void stop() {
    if (web_running()) window_proc(MSG_CLOSE, 0);
    if (program.started) app_shutdown();
    program.started = 0;
}

// Threads the build can draw on: one without the threaded runtime.
int thread_limit() {
#ifdef __EMSCRIPTEN_PTHREADS__
    return WORKERS_MAX;
#else
    return 1;
#endif
}

}  // namespace

extern "C" {

// Stops the program running, then starts it in `folder` (read as the window
// program reads its data folder) for width x height frames on `threads`
// threads (1 where the page has no threads). With frames > 0 the input is
// `events`, a script in varnel-render's syntax, for that many ticks, after
// which the window closes; otherwise the page's keys and mouse drive it.
// 0 running, 1 start-up failed, 2 a size, thread count or script refused;
// every refusal is one line on stderr.
EMSCRIPTEN_KEEPALIVE int varnel_start(const char* folder, int width, int height, int threads, const char* events,
                                      int frames) {
    stop();
    program.ticks = 0;
    if (!app_check_size(stderr, "varnel", width, height, app_views_bytes(width, height))) return 2;
    if (threads < 1 || threads > thread_limit()) {
        std::fprintf(stderr, "varnel: this page draws on 1 to %d threads, not %d\n", thread_limit(), threads);
        return 2;
    }
    if (!events) events = "";
    std::vector<HeadlessEvent> script;
    if (frames > 0) {
        int count;
        const char* error;
        if (!headless_parse_events(events, nullptr, 0, &count, &error)) {
            std::fprintf(stderr, "varnel: the script: %s\n", error);
            return 2;
        }
        script.resize((size_t)count + 1);
        headless_parse_events(events, script.data(), count, &count, &error);
        script.resize((size_t)count);
    }
    if (!folder || chdir(folder) != 0) {
        std::fprintf(stderr, "varnel: cannot enter data folder %s\n", folder ? folder : "(none)");
        return 1;
    }
    platform_use(web_backend());
    if (frames > 0)
        web_use_script(frames, script.data(), (int)script.size());
    else
        web_use_page_input();
    const AppSettings settings = {threads, width, height, 1, LIGHT_FROM_FILE, {}};
    program.started = 1;
    if (app_startup(&settings) != STARTUP_OK) {
        stop();
        return 1;
    }
    return 0;
}

// 1 while the program runs: after a start until Escape, the end of a script
// or the next start.
EMSCRIPTEN_KEEPALIVE int varnel_running() { return web_running(); }

// FNV-1a (32 bits) over the frame buffer's bytes, each 0x00RRGGBB word
// taken low byte first; 0 when there is no frame buffer.
EMSCRIPTEN_KEEPALIVE uint32_t varnel_frame_checksum() {
    const AppState* app = app_state();
    if (!program.started || !app->frame_buffer) return 0;
    const size_t n = (size_t)app->screen.width * (size_t)app->screen.height;
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < n; i++)
        for (int shift = 0; shift < 32; shift += 8) hash = (hash ^ (app->frame_buffer[i] >> shift & 0xFFu)) * 16777619u;
    return hash;
}

EMSCRIPTEN_KEEPALIVE int varnel_ticks() { return program.ticks; }

// Median ms of the latest `count` ticks (at most 1024), whole or without
// their present phase; 0 before the first.
EMSCRIPTEN_KEEPALIVE double varnel_median_ms(int count) { return median_of_latest(program.tick_ms, count); }
EMSCRIPTEN_KEEPALIVE double varnel_median_frame_ms(int count) { return median_of_latest(program.frame_ms, count); }

// Threads the running program draws on, and the most this build can.
EMSCRIPTEN_KEEPALIVE int varnel_threads() { return program.started ? frame_threads() : 0; }
EMSCRIPTEN_KEEPALIVE int varnel_thread_limit() { return thread_limit(); }
// The view the window shows (Tab steps through them), 0 for the frame.
EMSCRIPTEN_KEEPALIVE int varnel_view() { return app_state()->view; }

}  // extern "C"

// The page starts the program once the module is ready.
int main() {
    web_loop_start(dispatch);
    return 0;
}
