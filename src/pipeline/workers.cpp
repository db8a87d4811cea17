// Worker pool; workers.h states the contract.
//
// One 64-bit word publishes the job being run: its generation (bits 32-63),
// the next item to hand out (bits 16-31) and the item count (bits 0-15). A
// thread takes an item with a compare-and-swap on that word, so it can only
// take items of the generation it read; a worker still waking up from an
// older job fails the swap and never touches a newer job's description.
// The job's function and context sit in one of two slots chosen by the
// generation's low bit: the caller rewrites a slot only two jobs later, and
// a job is finished only when every item taken from it has finished, so a
// thread holding an item always reads its own job's slot.
#include "pipeline/workers.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

struct JobSlot {
    WorkItem item;
    void* context;
    int32_t first;  // item number of the job's item 0
};

struct WorkerPool {
    std::vector<std::thread> threads;       // the workers; the caller is not among them
    std::atomic<uint64_t> job{0};           // generation << 32 | next item << 16 | item count
    std::atomic<int32_t> finished{0};       // items of the current job that have finished
    std::atomic<int> stopping{0};
    JobSlot slots[2];                       // by the generation's low bit
    uint32_t generation;                    // of the latest job; written by the caller only
    std::mutex mutex;                       // guards the sleep below
    std::condition_variable wake;
    int fail_starts_after = -1;             // test hook, -1: off
};

// Made once and never destroyed: exit() (which Xlib calls when the display
// goes away) would otherwise run its destructor under workers still waiting
// on `wake` (pthread_cond_destroy then blocks for ever) or still joinable
// (std::terminate). workers_stop, from the program's own shutdown, is what
// ends the workers; whatever still runs at exit is simply dropped with the
// process.
WorkerPool& pool = *new WorkerPool;

// Waiting threads spin this many rounds, then give the processor away: a
// thread that holds an item may be waiting for it when the machine runs
// more threads than it has cores. Workers stop spinning for a job after
// idle_rounds and sleep: long enough to cover the gaps between the jobs of
// one frame, short against a frame tick. WebAssembly has no pause
// instruction: a round there is a bare load, about thirty times shorter
// (0.8 ns against 27 ns with a pause, measured here), so the page spins
// 32 times the rounds to wait as long before its workers sleep.
#ifdef __EMSCRIPTEN__
const int spin_rounds = 2000 * 32;
#else
const int spin_rounds = 2000;
#endif
const int idle_rounds = spin_rounds + 200;

uint32_t job_generation(uint64_t job) { return (uint32_t)(job >> 32); }
uint32_t job_next(uint64_t job) { return (uint32_t)(job >> 16) & 0xFFFFu; }
uint32_t job_count(uint64_t job) { return (uint32_t)job & 0xFFFFu; }

// One round of a wait: a pause instruction for the first spin_rounds, then
// the processor given away.
void wait_round(int round) {
    if (round >= spin_rounds) {
        std::this_thread::yield();
        return;
    }
#ifdef __SSE2__
    _mm_pause();
#endif
}

// Takes one item of generation `generation`; -1 when none is left (or that
// job is over).
int32_t take_item(uint32_t generation) {
    uint64_t job = pool.job.load(std::memory_order_acquire);
    for (;;) {
        if (job_generation(job) != generation || job_next(job) >= job_count(job)) return -1;
        if (pool.job.compare_exchange_weak(job, job + (1u << 16), std::memory_order_acq_rel,
                                           std::memory_order_acquire))
            return (int32_t)job_next(job);
    }
}

// Runs items of `generation` until none is left.
void run_items(uint32_t generation) {
    for (int32_t item; (item = take_item(generation)) >= 0;) {
        const JobSlot& slot = pool.slots[generation & 1];
        slot.item(slot.context, slot.first + item);
        pool.finished.fetch_add(1, std::memory_order_release);
    }
}

void worker_main() {
    uint32_t seen = job_generation(pool.job.load(std::memory_order_acquire));
    for (;;) {
        uint64_t job = pool.job.load(std::memory_order_acquire);
        for (int round = 0; job_generation(job) == seen && round < idle_rounds; round++) {
            if (pool.stopping.load(std::memory_order_relaxed)) return;
            wait_round(round);
            job = pool.job.load(std::memory_order_acquire);
        }
        if (job_generation(job) == seen) {
            std::unique_lock<std::mutex> lock(pool.mutex);
            pool.wake.wait(lock, [&] {
                return pool.stopping.load() || job_generation(pool.job.load()) != seen;
            });
            if (pool.stopping.load()) return;
            job = pool.job.load(std::memory_order_acquire);
        }
        seen = job_generation(job);
        run_items(seen);
    }
}

}  // namespace

int workers_start(int threads) {
    workers_stop();
    if (threads < 1) threads = 1;
    if (threads > WORKERS_MAX) threads = WORKERS_MAX;
    pool.stopping.store(0);
    // The list gets its room first, so only the starts themselves can fail.
    // A start fails with std::system_error when the system refuses the
    // thread (or its stack), with std::bad_alloc when its state finds no
    // memory; either way the threads already running draw the frames.
    int room = 1;
    try {
        pool.threads.reserve((size_t)threads - 1);
    } catch (const std::bad_alloc&) {
        room = 0;
    }
    for (int i = 1; i < threads; i++) {
        int refused = !room || (pool.fail_starts_after >= 0 && (int)pool.threads.size() >= pool.fail_starts_after);
        if (!refused) {
            try {
                pool.threads.emplace_back(worker_main);
                continue;
            } catch (const std::system_error&) {
            } catch (const std::bad_alloc&) {
            }
        }
        break;
    }
    return workers_count();
}

void workers_stop() {
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        pool.stopping.store(1);
    }
    pool.wake.notify_all();
    for (std::thread& t : pool.threads) t.join();
    pool.threads.clear();
    pool.stopping.store(0);
}

int workers_count() { return 1 + (int)pool.threads.size(); }

namespace {

// One job of at most WORKERS_MAX_ITEMS items, first .. first + count - 1.
void run_job(WorkItem item, void* context, int32_t first, int32_t count) {
    uint32_t generation = ++pool.generation;
    pool.slots[generation & 1] = JobSlot{item, context, first};
    pool.finished.store(0, std::memory_order_relaxed);
    {
        // Published under the lock, so a worker deciding to sleep either sees
        // the new job or is woken by the notification.
        std::lock_guard<std::mutex> lock(pool.mutex);
        pool.job.store((uint64_t)generation << 32 | (uint32_t)count, std::memory_order_release);
    }
    pool.wake.notify_all();
    run_items(generation);
    for (int round = 0; pool.finished.load(std::memory_order_acquire) < count; round++) wait_round(round);
}

}  // namespace

void workers_run(WorkItem item, void* context, int32_t count) {
    if (count <= 0) return;
    if (pool.threads.empty() || count == 1) {
        for (int32_t i = 0; i < count; i++) item(context, i);
        return;
    }
    for (int32_t first = 0; first < count; first += WORKERS_MAX_ITEMS)
        run_job(item, context, first, count - first < WORKERS_MAX_ITEMS ? count - first : WORKERS_MAX_ITEMS);
}

void workers_fail_starts_after(int started) { pool.fail_starts_after = started; }
