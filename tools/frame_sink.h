// Frames written while the next ones are drawn: a ring of frame-sized slots
// that the drawing fills and one writer thread empties, in order.
#pragma once

#include <cstddef>
#include <cstdint>

struct FrameSink;

// Writes one frame; 1, or 0 when writing failed (the sink then writes no
// more). `job` is what frame_sink_commit was given with it.
typedef int (*FrameWrite)(void* target, const uint32_t* pixels, int job);

// What the sink cost, for --bench.
struct FrameSinkFigures {
    double write_ms;    // the writer thread's time in `write`, all frames
    double wait_ms;     // the drawing's time waiting for a free slot, all frames
    double finish_ms;   // waiting in frame_sink_finish for the last frames
    int written;        // frames written
};

// A writer thread calling write(target, ...) for every committed frame of
// `pixels` words; null when the thread or the slots cannot be had.
FrameSink* frame_sink_start(FrameWrite write, void* target, size_t pixels, int slots);
// The next free slot, waiting while every slot is full; null once a write
// failed. The drawing fills it and hands it over with frame_sink_commit.
uint32_t* frame_sink_slot(FrameSink* sink);
void frame_sink_commit(FrameSink* sink, int job);
// Waits for every committed frame, ends the thread and frees the sink; 1
// when every write succeeded.
int frame_sink_finish(FrameSink* sink, FrameSinkFigures* figures);
