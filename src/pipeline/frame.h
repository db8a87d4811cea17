// The frame, on every core: the marker, the light pass into the shadow
// buffer, the cone, the camera pass into the frame buffer, and the passes'
// warnings, in that order. This is the only place that order is written.
//
// How the work is divided: every vertex is transformed once per pass; faces
// are cut into fixed chunks that become polygon records, kept in face order;
// the screen is cut into fixed bands of rows, each with its own span lists
// and pool, into which the records are walked and which are then resolved.
// Chunks and bands are the same whatever the thread count and every band
// sees the records in face order, so every thread count draws the same
// frame, bit for bit.
#pragma once

#include <cstdint>

#include "math/vecmath.h"
#include "raster/span_pool.h"

struct Scene;
struct RgbImage;

// What one frame draws.
struct FrameScene {
    Scene* world;               // drawn in both passes
    Scene* marker;              // drawn after the world when marker_on (may be null otherwise)
    int marker_on;
    Vec3 marker_position;       // written into every marker object's translation
    Matrix4 light_pose;         // light to world
    Matrix4 view_matrix;        // camera to world, pitch applied
    const RgbImage* cone_mask;  // screen-sized; a low byte below 120 lights nothing; null: no cone
    int bilinear;               // texture filter: 1 bilinear, 0 nearest
    int shadow_factor;          // 256ths of each channel a shadowed pixel keeps
};

// Where it goes: all screen-sized, all written whole.
struct FrameTargets {
    uint32_t* frame_buffer;   // 0x00RRGGBB
    uint32_t* shadow_buffer;  // face id the light sees per pixel, 0 for none
    uint32_t* display;        // a locked display surface that gets a copy of the frame, or null
};

// What the latest frame cost and found. The parts run one after another,
// each on every thread.
struct FrameReport {
    double vertices;           // ms: every vertex into both views
    double faces;              // ms: polygon records of both passes
    double light_rows;         // ms: light rows walked and resolved, cone
    double camera_rows;        // ms: camera rows walked, shaded and resolved
    double total;              // ms, the whole frame
    int32_t light_spans;       // visible spans after each pass
    int32_t camera_spans;
    uint32_t light_warnings;   // RESOLVE_WARNING_* bits drawn into the shadow buffer
    uint32_t camera_warnings;  // and into the frame buffer
};

// Creates the row bands for the engine's screen (engine_init first) and the
// worker threads; threads is clamped to 1..256. Returns the threads that
// draw, or 0 when the rows could not be allocated: frames are then black
// and report no spans, as they are when the engine's screen size has changed
// since. Calling it again starts over.
int frame_init(int threads);
void frame_shutdown();  // joins every worker, frees the rows
int frame_threads();

void frame_render(const FrameScene* scene, const FrameTargets* targets, FrameReport* report);
// The monotonic clock, in milliseconds, that the report's times are measured
// on; callers timing their own parts of a tick use it too.
double frame_clock_ms();

// Every row's span list as the latest camera pass left them, row 0 first;
// null when the rows could not be allocated.
const ScanlineSpanList* frame_span_lists();
// Nodes the bands' pools hold.
long frame_span_pool_nodes();
// Test hook: 0 makes frames with the light at the camera run both passes in
// full instead of sharing one (they must draw the same); frame_init sets 1.
void frame_share_eyes(int allow);
// Bytes the frame has allocated for its own working storage so far
// (records, per-vertex arrays); it grows only while frames need more than
// every frame before them.
long frame_storage_bytes();
