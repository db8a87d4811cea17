// The SDL backend on SDL's dummy video driver, with frames slower than the
// tick: input must never wait behind ticks. And the program on a private X
// server (Xvfb, skipped when it is not installed) that goes away under it.
#include <gtest/gtest.h>

#include <SDL.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "platform/sdl.h"
#include "test_support.h"

namespace {

double now_ms() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void push_key(SDL_Keycode key) {
    SDL_Event e = {};
    e.type = SDL_KEYDOWN;
    e.key.keysym.sym = key;
    SDL_PushEvent(&e);
}

void push_motion(int dx, int dy) {
    SDL_Event e = {};
    e.type = SDL_MOUSEMOTION;
    e.motion.xrel = dx;
    e.motion.yrel = dy;
    SDL_PushEvent(&e);
}

// What reached the loop, numbered by the ticks that came before it.
struct SlowRun {
    std::vector<int> keys_after_tick;   // one entry per MSG_KEYDOWN
    int close_after_tick = -1;
    int motion_dx = 0, motion_dy = 0;   // read by tick 4
    double min_tick_gap_ms = 1e9;
    int ticks = 0;
};

// Ticks take frame_ms each; during tick 3 two keys and a mouse move arrive,
// during tick 5 the close: `signal` raised, or SDL's quit event pushed.
SlowRun run_slow_frames(int frame_ms, int signal) {
    SlowRun run;
    const PlatformBackend* b = sdl_backend();
    if (!b->window_create("slow frames", 400, 300, 0)) {
        ADD_FAILURE() << b->error();
        return run;
    }
    double last_tick = -1e9;
    Message m;
    while (b->next_message(&m) && run.ticks < 12) {
        if (m.type == MSG_KEYDOWN) run.keys_after_tick.push_back(run.ticks);
        if (m.type == MSG_CLOSE) {
            run.close_after_tick = run.ticks;
            b->window_destroy();
            b->post_quit(0);
        }
        if (m.type != MSG_TIMER) continue;
        double t = now_ms();
        if (run.ticks) run.min_tick_gap_ms = std::min(run.min_tick_gap_ms, t - last_tick);
        last_tick = t;
        run.ticks++;
        if (run.ticks == 4) b->mouse_motion(&run.motion_dx, &run.motion_dy);
        if (run.ticks == 3) {
            push_key(SDLK_LEFT);
            push_key(SDLK_LEFT);  // key repeat
            push_motion(7, -2);
        }
        if (run.ticks == 5) {
            if (signal) {
                std::raise(signal);
            } else {
                SDL_Event e = {};
                e.type = SDL_QUIT;
                SDL_PushEvent(&e);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(frame_ms));
    }
    if (run.close_after_tick < 0) {  // the loop was cut off: end SDL anyway
        b->window_destroy();
        b->post_quit(0);
        b->next_message(&m);
    }
    return run;
}

class SdlSlowFrames : public ::testing::Test {
protected:
    void SetUp() override { setenv("SDL_VIDEODRIVER", "dummy", 1); }
};

TEST_F(SdlSlowFrames, KeysMotionAndCloseComeBeforeTheNextTick) {
    for (int frame_ms : {25, 100}) {
        SlowRun run = run_slow_frames(frame_ms, 0);
        EXPECT_EQ(run.keys_after_tick, (std::vector<int>{3, 3})) << frame_ms << " ms frames";
        EXPECT_EQ(run.motion_dx, 7);
        EXPECT_EQ(run.motion_dy, -2);
        EXPECT_EQ(run.close_after_tick, 5);
        EXPECT_EQ(run.ticks, 5);
        EXPECT_GE(run.min_tick_gap_ms, 19.9);  // a late tick is not followed by a catch-up one
    }
}

// SIGTERM and SIGINT become the window's close, however slow the frame.
TEST_F(SdlSlowFrames, TerminationSignalsCloseTheWindow) {
    for (int signal : {SIGTERM, SIGINT}) {
        SlowRun run = run_slow_frames(25, signal);
        EXPECT_EQ(run.close_after_tick, 5) << "signal " << signal;
    }
}

// Fast frames still tick every 20 ms, never sooner.
TEST_F(SdlSlowFrames, FastFramesTickEveryTwentyMilliseconds) {
    const PlatformBackend* b = sdl_backend();
    ASSERT_EQ(b->window_create("fast frames", 400, 300, 0), 1) << b->error();
    double first = 0, last = 0, min_gap = 1e9;
    int ticks = 0;
    Message m;
    while (ticks < 11 && b->next_message(&m)) {
        if (m.type != MSG_TIMER) continue;
        double t = now_ms();
        if (ticks) min_gap = std::min(min_gap, t - last);
        if (!ticks) first = t;
        last = t;
        ticks++;
    }
    b->window_destroy();
    b->post_quit(0);
    b->next_message(&m);
    EXPECT_GE(min_gap, 19.9);
    EXPECT_LT(last - first, 10 * 20 * 1.5);  // ticks are not lost while frames are fast
}

// The program itself on the dummy driver, full screen at the default size,
// in a window at an odd size and at the desktop's own size: SIGTERM ends
// each within a frame with exit code 0 and a complete log; a bad
// VARNEL_THREADS is said before anything starts.
TEST_F(SdlSlowFrames, ProgramEndsCleanlyOnSigterm) {
    DemoCopy data("sdl_sigterm");
    ASSERT_TRUE(data.copied());
    const std::vector<std::vector<const char*>> runs = {{}, {"--window", "--size", "401x301"}, {"--size", "screen"}};
    for (const std::vector<const char*>& options : runs) {
        std::remove("Engine.log");  // the demo folder may hold one from an earlier run
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            setenv("VARNEL_THREADS", "2", 1);
            std::vector<const char*> argv = {VARNEL_PROGRAM_PATH};
            argv.insert(argv.end(), options.begin(), options.end());
            argv.push_back(nullptr);
            execv(VARNEL_PROGRAM_PATH, const_cast<char* const*>(argv.data()));
            _exit(127);
        }
        // Rendering once the log says so.
        for (int i = 0; i < 500 && read_file("Engine.log").find("Rendering !") == std::string::npos; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_NE(read_file("Engine.log").find("Rendering !"), std::string::npos) << options.size();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kill(pid, SIGTERM);
        int status = 0;
        pid_t done = 0;
        for (int i = 0; i < 300 && (done = waitpid(pid, &status, WNOHANG)) == 0; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            FAIL() << "still running 3 s after SIGTERM";
        }
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0) << options.size();
    }

    std::string run = std::string("VARNEL_THREADS=0 ") + VARNEL_PROGRAM_PATH + " --data 'no such folder' 2>err.txt";
    int status = std::system(run.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(read_file("err.txt").find("varnel: VARNEL_THREADS='0'"), std::string::npos);
}

// SIGTERM while start-up waits in a read (a named pipe, a hung network
// file) makes the read fail: start-up then says it was interrupted instead
// of blaming the file. Here the world is missing and SIGTERM came first.
TEST_F(SdlSlowFrames, StartupCutShortBySigtermSaysSo) {
    ScratchDir dir("sdl_startup_interrupted");
    ASSERT_TRUE(dir.ok());
    for (int signalled : {0, 1}) {
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0);  // SDL's SIGTERM handler
        if (signalled) std::raise(SIGTERM);
        platform_use(sdl_backend());
        testing::internal::CaptureStderr();
        const AppSettings settings = {2, SCREEN_WIDTH, SCREEN_HEIGHT, 0, LIGHT_FROM_FILE, {}};
        StartupResult result = app_startup(&settings);
        std::string err = testing::internal::GetCapturedStderr();
        app_shutdown();
        platform_window_destroy();
        SDL_Quit();
        EXPECT_EQ(result, signalled ? STARTUP_INTERRUPTED : STARTUP_WORLD) << err;
        EXPECT_EQ(err.find("Svet.3ds") != std::string::npos, !signalled) << err;
        EXPECT_EQ(err.find("start-up interrupted while loading the world") != std::string::npos, !!signalled) << err;
    }
}

}  // namespace
