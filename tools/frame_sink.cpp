#include "frame_sink.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

// Slots are used round the ring: [next_write, next_fill) are committed and
// wait for the writer, the rest are free. Counters only grow; a slot is
// counter % slots.
struct FrameSink {
    FrameWrite write;
    void* target;
    std::vector<std::vector<uint32_t>> slots;
    std::vector<int> jobs;          // per slot, what commit was given
    long next_fill;                 // the slot the drawing fills next
    long next_write;                // the slot the writer takes next
    int closing;                    // no more frames come
    int failed;                     // a write failed: nothing more is taken
    FrameSinkFigures figures;
    std::mutex lock;
    std::condition_variable changed;
    std::thread writer;
};

namespace {

double now_ms() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void write_loop(FrameSink* s) {
    std::unique_lock<std::mutex> hold(s->lock);
    for (;;) {
        s->changed.wait(hold, [s] { return s->next_write < s->next_fill || s->closing; });
        if (s->next_write == s->next_fill) return;  // closing, and every frame is written
        const size_t slot = (size_t)(s->next_write % (long)s->slots.size());
        hold.unlock();  // the slot is the writer's until next_write moves past it
        double t0 = now_ms();
        int ok = s->failed ? 0 : s->write(s->target, s->slots[slot].data(), s->jobs[slot]);
        double t1 = now_ms();
        hold.lock();
        s->figures.write_ms += t1 - t0;
        s->figures.written += ok;
        if (!ok) s->failed = 1;
        s->next_write++;
        s->changed.notify_all();
    }
}

}  // namespace

FrameSink* frame_sink_start(FrameWrite write, void* target, size_t pixels, int slots) {
    FrameSink* s = new (std::nothrow) FrameSink{};
    if (!s) return nullptr;
    s->write = write;
    s->target = target;
    try {
        s->slots.assign((size_t)slots, std::vector<uint32_t>(pixels));
        s->jobs.assign((size_t)slots, 0);
        s->writer = std::thread(write_loop, s);
    } catch (...) {  // no memory or no thread: no sink
        delete s;
        return nullptr;
    }
    return s;
}

uint32_t* frame_sink_slot(FrameSink* s) {
    double t0 = now_ms();
    std::unique_lock<std::mutex> hold(s->lock);
    s->changed.wait(hold, [s] { return s->next_fill - s->next_write < (long)s->slots.size() || s->failed; });
    s->figures.wait_ms += now_ms() - t0;
    if (s->failed) return nullptr;
    return s->slots[(size_t)(s->next_fill % (long)s->slots.size())].data();
}

void frame_sink_commit(FrameSink* s, int job) {
    std::lock_guard<std::mutex> hold(s->lock);
    s->jobs[(size_t)(s->next_fill % (long)s->slots.size())] = job;
    s->next_fill++;
    s->changed.notify_all();
}

int frame_sink_finish(FrameSink* s, FrameSinkFigures* figures) {
    double t0 = now_ms();
    {
        std::lock_guard<std::mutex> hold(s->lock);
        s->closing = 1;
        s->changed.notify_all();
    }
    s->writer.join();
    s->figures.finish_ms = now_ms() - t0;
    int ok = !s->failed;
    if (figures) *figures = s->figures;
    delete s;
    return ok;
}
