// A fixed set of worker threads, made once at start-up, that run the items
// of one job at a time together with the calling thread.
//
// A job is a function and a context applied to items 0..count-1. Items are
// handed out one at a time in index order to whichever thread is free, so
// a job's items must not depend on one another; workers_run returns once
// every item has finished, and everything the items wrote is then visible
// to the caller. Between jobs the workers spin briefly, then sleep.
#pragma once

#include <cstdint>

typedef void (*WorkItem)(void* context, int32_t item);

enum { WORKERS_MAX = 256, WORKERS_MAX_ITEMS = 65535 };  // items of one job; more are run as several jobs

// Starts threads - 1 workers (the caller is the remaining thread); threads
// is clamped to 1..WORKERS_MAX. A worker that cannot be started leaves the
// pool smaller (the caller says so). Returns the threads that run jobs, the
// caller included. Stops a pool already running first.
int workers_start(int threads);
// Joins every worker; safe to call when none runs.
void workers_stop();
// Threads that run jobs, the caller included (1 when no pool runs).
int workers_count();
// Runs item(context, i) for i in 0..count-1 on every thread; returns when
// all have finished.
void workers_run(WorkItem item, void* context, int32_t count);

// Test hook: worker starts after the first `started` fail as if the system
// refused them; -1 (the default) lets every start succeed.
void workers_fail_starts_after(int started);
