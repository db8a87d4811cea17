// Application shell: start-up in a fixed order, the window procedure with the
// 20 ms frame tick and the keys, and shutdown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "app/light_start.h"
#include "app/screen_size.h"
#include "math/vecmath.h"
#include "pipeline/frame.h"
#include "platform/platform.h"
#include "raster/screen.h"
#include "texture/cone.h"

struct Scene;
struct RgbImage;
struct SurfacePatches;

// How a run is set up, from the command line; fixed for the run.
struct AppSettings {
    int threads;   // drawing threads, 1..256
    int width;     // frame size in pixels; 0 x 0: the desktop's own (--size screen)
    int height;
    int windowed;  // 1: a resizable window the frame is scaled into; 0: full screen
    int light;     // LightSource: where the light starts (0: "Light.txt", else the camera)
    LightStart light_start;  // for LIGHT_GIVEN
};

// The program's state; one instance, created by app_startup.
struct AppState {
    Screen screen;                 // the frame's size and projection, fixed for the run
    Matrix4 camera_pose;           // camera to world; mouse yaw and arrow keys change it
    Matrix4 view_matrix;           // camera_pose with the pitch applied, rebuilt every tick
    Matrix4 light_pose;            // light to world: "Light.txt", --light or the camera; changes only with F11
    int smooth_surfaces;           // "Light.txt" says "smooth": the smooth-surface rule is on
    SurfacePatches* surface;       // its patches, made once the scenes are loaded; else null
    float camera_pitch;            // radians, accumulated, unlimited
    Scene* world_scene;            // "Svet.3ds"
    Scene* marker_scene;           // "Star.3ds"
    RgbImage* cone_mask;           // "Cone.tga" resampled to the screen size
    ConeRuns cone_runs;            // the columns of each row outside the cone, from cone_mask
    int marker_enabled;            // 1: "Pos.txt" was read, the marker moves and is drawn
    int bilinear_filtering;        // toggled by End
    int stats_requested;           // Home: "Graph.txt" after the next camera pass
    int screenshot_requested;      // F12: screenshot after the next present
    int frame_counter;             // frames presented
    uint32_t* frame_buffer;        // camera pass output, 0x00RRGGBB
    uint32_t* shadow_buffer;       // light pass output: face id per pixel, 0 for none
    int view;                      // FrameView the window shows; Tab steps through them
};

// What the latest tick cost, milliseconds, and what its frame found.
struct FramePhases {
    double look;          // mouse look
    FrameReport frame;    // the frame's parts and warnings
    double present;       // statistics, copy to the display, counter, screenshot
};

// Start-up steps that can fail, for the error line and the exit code.
enum StartupResult {
    STARTUP_OK = 0,
    STARTUP_NO_DISPLAY,
    STARTUP_WORLD,
    STARTUP_MARKER,
    STARTUP_TEXTURES,
    STARTUP_CONE,
    STARTUP_MEMORY,
    STARTUP_INTERRUPTED,  // SIGINT, SIGTERM or a close came while a step ran, and it failed
    STARTUP_ENGINE,       // the rasterizer cannot be set up for the frame's size
};

// Runs start-up (log, window, poses, scenes, path, textures, cone, engine
// and the drawing threads, font, display, buffers) for a frame of the
// settings' size (not 0 x 0); STARTUP_OK or the step that failed, after
// printing one line about it to stderr.
StartupResult app_startup(const AppSettings* settings);
// Message loop until quit; the quit code.
int app_run();
void app_shutdown();
// The whole program on the chosen backend: 0 on a normal exit, 1 when
// start-up failed, 2 when the frame size is out of range or its buffers
// cannot be allocated (said on stderr before any window opens).
int app_main(const PlatformBackend* backend, const AppSettings* settings);
// 1 when a frame of width x height lies in the accepted range and the
// memory its buffers need, with extra_bytes more (the views' own), can be
// had now; otherwise 0, after one line on `err` naming the accepted range,
// prefixed by `program`.
int app_check_size(FILE* err, const char* program, int width, int height, size_t extra_bytes);
// What every view of a width x height frame needs of its own, for a window
// whose Tab reaches them all.
size_t app_views_bytes(int width, int height);
// The program whose messages start-up and the frames print ("varnel" until
// a program names itself, as varnel-render does).
void app_set_program(const char* name);
const char* app_program();
// The drawing threads wanted when nobody says: one per core, at most 256.
int app_default_threads();

int window_proc(uint32_t message, uint32_t key);
void frame_tick();
// A tick whose frame nobody sees (varnel-render --first): the mouse look,
// the marker's time and what later frames read of this one (frame_advance),
// and the counter as if the frame had been shown; nothing is drawn or
// presented. Home and F12 asked for before it are dropped: their files
// belong to a run that draws this tick.
void frame_tick_unseen();

AppState* app_state();
const FramePhases* app_frame_phases();
// "%dst Frame", "%dnd Frame" or "%dth Frame" by n mod 10.
void format_frame_counter(int n, char* text, int size);
