// The frame, on every core: the light pass into the shadow buffer, the
// cone, the camera pass into the frame buffer, and the passes' warnings, in
// that order. This is the only place that order is written.
//
// How the work is divided: every vertex is transformed once per pass; faces
// are cut into chunks (their size set by the world alone) that become
// polygon records, kept in face order;
// the screen is cut into fixed bands of rows, each with its own span lists
// and pool, into which the records are walked and which are then resolved.
// Chunks and bands are the same whatever the thread count and every band
// sees the records in face order, so every thread count draws the same
// frame, bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "math/vecmath.h"
#include "raster/span_pool.h"

struct Scene;
struct RgbImage;
struct Screen;
struct ConeRuns;
struct SurfacePatches;

// What one frame draws. The scenes are placed by the caller (the marker's
// objects where its path is) and read as they are, but for one thing the
// frame writes into them: see frame_render.
struct FrameScene {
    Scene* world;               // drawn in both passes
    Scene* marker;              // drawn after the world when marker_on (may be null otherwise)
    int marker_on;
    Matrix4 light_pose;         // light to world
    Matrix4 camera_pose;        // camera to world, pitch applied
    const RgbImage* cone_mask;  // screen-sized; a low byte below 120 lights nothing; null: no cone
    const ConeRuns* cone_runs;  // the same mask as runs, made once (texture/cone.h); null: the mask is read
    int bilinear;               // texture filter: 1 bilinear, 0 nearest
    int shadow_factor;          // 256ths of each channel a shadowed pixel keeps
    const SurfacePatches* surface;  // the smooth-surface rule's patches (pipeline/surface.h); null: off
};

// Where it goes: all screen-sized, all written whole.
struct FrameTargets {
    uint32_t* frame_buffer;   // 0x00RRGGBB
    uint32_t* shadow_buffer;  // face id the light sees per pixel, 0 for none
    uint32_t* display;        // a locked display surface, or null
    int view;                 // FrameView the display gets: the frame itself, or a view of it
};

// What the latest frame cost and found. The parts run one after another,
// each on every thread.
struct FrameReport {
    double vertices;           // ms: every vertex into both views
    double faces;              // ms: the light pass's polygon records (both passes' when the eyes are one)
    double light_rows;         // ms: light rows walked and resolved, cone; the camera records when the eyes differ
    double camera_rows;        // ms: camera rows walked, shaded and resolved
    double total;              // ms, the whole frame
    int32_t light_spans;       // visible spans after each pass
    int32_t camera_spans;
    uint32_t light_warnings;   // RESOLVE_WARNING_* bits drawn into the shadow buffer
    uint32_t camera_warnings;  // and into the frame buffer
};

// Creates the row bands for `screen` (made by engine_init; every target
// handed to frame_render has its size) and the worker threads; threads is
// clamped to 1..256. Returns the threads that draw (fewer than asked when
// the system refuses some), or 0 when the rows could not be allocated: no
// thread is started then, and frames are black and report no spans.
// Calling it again starts over.
int frame_init(int threads, const Screen* screen);
void frame_shutdown();  // joins every worker, frees the rows
int frame_threads();

// One frame. Reads the scene, writes every target whole and the report, and
// writes one thing into the scenes: the light-view position (lx, ly, lz) of
// every corner of a face that turns towards the light, into its vertex.
// Those stay for later frames, which read them for the faces the light has
// turned away from since (their pixels are in shadow wherever those point).
void frame_render(const FrameScene* scene, const FrameTargets* targets, FrameReport* report);
// What frame_render leaves for the frames after it, without drawing: the
// light-view positions stored in the vertices, so that the frames drawn
// after it are those drawn after frame_render. No target is written;
// frame_draw_view has no frame until the next frame_render.
void frame_advance(const FrameScene* scene);
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
// Bytes the frame has allocated for its own working storage since
// frame_init (records, per-vertex arrays); it grows only while frames need
// more than every frame before them, and frame_shutdown releases it.
long frame_storage_bytes();
// Test hook: growth of that storage past `bytes` in all fails as if memory
// ran out; -1 (the default) lifts the limit.
void frame_storage_limit(long bytes);

// -- views of the latest frame ------------------------------------------------
// Pictures of what the latest frame is made of, drawn from its own rows and
// buffers after it, for people learning how it is drawn or finding out why a
// pixel looks as it does. Drawing one changes nothing the frames that follow
// draw.
enum FrameView {
    FRAME_VIEW_FRAME = 0,  // "frame":  the frame itself
    FRAME_VIEW_SPANS,      // "spans":  every visible span of the camera pass in a colour of its own
    FRAME_VIEW_IDS,        // "ids":    the light's id buffer after the cone, a colour per face
    FRAME_VIEW_LIGHT,      // "light":  the scene as the camera would see it from the light's pose
    FRAME_VIEW_LEVELS,     // "levels": each pixel's texture level, x level red, y level green
    FRAME_VIEW_SHADOW,     // "shadow": each pixel's shadow verdict (raster/views.h)
    FRAME_VIEW_COUNT
};
const char* frame_view_name(int view);    // null for no view
const char* frame_view_legend(int view);  // what its colours mean; null for the frame and for no view
int frame_view_find(const char* name);  // the FrameView of that name, or -1
// Makes the storage a view draws with beyond the frame's own (the light
// view's rows and shadow buffer), which it would otherwise make when first
// drawn; 1, or 0 when memory ran out or frame_init has not made the rows.
// A view drawn without its storage is black with the memory warning.
int frame_view_prepare(int view);
// Bytes frame_view_prepare allocates for a view at width x height; 0 for
// the views that need nothing of their own.
size_t frame_view_bytes(int view, int width, int height);
// Bytes frame_init's rows take at width x height, before any frame grows them.
size_t frame_rows_bytes(int width, int height);
// Draws a view of the latest frame into `out` (screen-sized, 0x00RRGGBB).
// Everything the frame was given must still be there: its scenes, its cone
// mask, and its targets holding what it left. 1, or 0 (out untouched)
// when no frame has been drawn since frame_init or the view is unknown.
int frame_draw_view(int view, uint32_t* out);
