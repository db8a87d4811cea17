// The worker pool and the frame on several threads: every item of every job
// runs exactly once, a worker that cannot be started leaves a smaller pool,
// and whole walks through the demo world draw the same frames and the same
// statistics on any number of threads.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/workers.h"
#include "test_support.h"

namespace {

struct Tally {
    std::vector<std::atomic<int>> runs;
    explicit Tally(int items) : runs((size_t)items) {}
};

void count_item(void* context, int32_t item) { ((Tally*)context)->runs[(size_t)item]++; }

// Many jobs in a row, of every size around the thread count, as a frame
// runs them: each item exactly once, all finished when workers_run returns.
TEST(Threads, EveryItemOfEveryJobRunsOnce) {
    for (int threads : {1, 2, 3, 8}) {
        ASSERT_EQ(workers_start(threads), threads);
        EXPECT_EQ(workers_count(), threads);
        for (int job = 0; job < 300; job++) {
            int items = job % 40;
            Tally tally(items);
            workers_run(count_item, &tally, items);
            for (int i = 0; i < items; i++) ASSERT_EQ(tally.runs[(size_t)i].load(), 1) << threads << " " << job;
        }
        // More items than one job holds run as several jobs.
        const int big_count = 2 * WORKERS_MAX_ITEMS + 3;
        Tally big(big_count);
        workers_run(count_item, &big, big_count);
        for (int i = 0; i < big_count; i++) ASSERT_EQ(big.runs[(size_t)i].load(), 1) << i;
        workers_stop();
        EXPECT_EQ(workers_count(), 1);
    }
    workers_stop();  // harmless when none runs
}

// The system refuses the third thread: two draw, and jobs still run every
// item (start-up says how many of how many).
TEST(Threads, RefusedWorkerLeavesASmallerPool) {
    workers_fail_starts_after(1);
    testing::internal::CaptureStderr();
    int running = workers_start(4);
    std::string err = testing::internal::GetCapturedStderr();
    workers_fail_starts_after(-1);
    EXPECT_EQ(running, 2);
    EXPECT_EQ(workers_count(), 2);
    EXPECT_EQ(err, "");
    Tally tally(100);
    workers_run(count_item, &tally, 100);
    for (auto& r : tally.runs) EXPECT_EQ(r.load(), 1);
    workers_stop();
}

// exit() while the workers spin or sleep between jobs (Xlib calls it when
// the display goes away) ends the process at once.
TEST(Threads, ExitWithThePoolRunningEndsAtOnce) {
    for (int idle_ms : {0, 200}) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            workers_start(4);
            Tally tally(64);
            workers_run(count_item, &tally, 64);
            std::this_thread::sleep_for(std::chrono::milliseconds(idle_ms));
            std::exit(3);
        }
        int status = wait_child(pid, 5000);
        EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 3) << status << ", idle " << idle_ms;
    }
}

// varnel-render in the current folder; its exit code.
int render(const std::string& arguments) {
    return std::system((std::string(VARNEL_RENDER_PATH) + " --data . " + arguments + " 2>err.txt").c_str());
}

// A walk through the demo world with the light moved, the filter switched
// and the histogram written: the last frame and the histogram are the same
// on 1, 2, 3 and 8 threads. On 3 every frame goes out, through the writer
// thread that runs beside the drawing.
TEST(Threads, WalkDrawsTheSameFramesOnAnyNumberOfThreads) {
    DemoCopy data("threads_walk");
    ASSERT_TRUE(data.copied());
    const std::string walk =
        "--frames 60 --events '3:mouse:-30,4 5:key:UP 6:key:UP 7:key:UP 10:key:F11 15:mouse:90,-12 "
        "20:key:LEFT 21:key:LEFT 25:key:END 30:mouse:-200,30 35:key:F11 40:key:DOWN 45:key:END "
        "50:mouse:15,40 60:key:HOME'";
    std::string first_frame, first_graph;
    for (int threads : {1, 2, 3, 8}) {
        std::string out = "walk" + std::to_string(threads) + ".png";
        std::string named = threads == 3 ? "walk3-%02d.png" : out;
        if (threads == 3) out = "walk3-60.png";
        ASSERT_EQ(render(walk + " --threads " + std::to_string(threads) + " --out " + named), 0) << read_file("err.txt");
        std::string frame = read_file(out), graph = read_file("Graph.txt");
        ASSERT_GT(frame.size(), 1000u);
        ASSERT_FALSE(graph.empty());
        if (threads == 1) {
            first_frame = frame;
            first_graph = graph;
            continue;
        }
        EXPECT_EQ(frame, first_frame) << threads << " threads";
        EXPECT_EQ(graph, first_graph) << threads << " threads";
    }
}

TEST(Threads, BadThreadCountsAreRefused) {
    DemoCopy data("threads_refused");
    ASSERT_TRUE(data.copied());
    for (const char* bad : {"0", "-2", "two", "257", "3x", ""}) {
        int status = render(std::string("--frames 1 --threads '") + bad + "'");
        ASSERT_TRUE(WIFEXITED(status)) << bad;
        EXPECT_EQ(WEXITSTATUS(status), 2) << bad;
        std::string err = read_file("err.txt");
        EXPECT_NE(err.find("usage: varnel-render"), std::string::npos) << bad << ": " << err;
    }
    EXPECT_EQ(render("--frames 1 --threads 256"), 0) << read_file("err.txt");
}

}  // namespace
