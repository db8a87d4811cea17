#include "app/app.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/log.h"
#include "app/marker_path.h"
#include "app/screenshot.h"
#include "app/stats.h"
#include "display/bmp.h"
#include "display/display.h"
#include "display/font.h"
#include "pipeline/surface.h"
#include "pipeline/workers.h"
#include "raster/engine.h"
#include "scene/load3ds.h"
#include "texture/cone.h"
#include "texture/image.h"
#include "texture/texture.h"
#include "texture/tga.h"

namespace {

const char* const window_title = "Varnel - Engine 3.0 (Shadow buffer Xample)";
const float mouse_turn = 0.0033333334f;  // radians per pixel of mouse travel: 1/300
const float key_step = 5.0f;             // world units per arrow key press
const int shadow_factor = 100;           // shadowed pixels keep 100/256 of their colour

AppState app = {};
FramePhases phases = {};
const char* program = "varnel";  // the name every message starts with

// Start-up failures: one line on stderr naming the step and the file. A
// step that failed while a close was asked for was most likely cut short by
// it (SIGINT or SIGTERM interrupts a read that waits), so that is reported
// instead of blaming a file that may be fine.
StartupResult fail(StartupResult result, const char* what, const char* file, const char* why) {
    if (platform_quit_requested()) {
        std::fprintf(stderr, "%s: start-up interrupted while %s\n", program, what);
        return STARTUP_INTERRUPTED;
    }
    std::fprintf(stderr, "%s: %s failed: %s: %s\n", program, what, file, why);
    return result;
}

// A step whose memory could not be had: one line naming what it was for,
// at the frame's size.
StartupResult no_memory(const char* what, int width, int height) {
    std::fprintf(stderr, "%s: not enough memory for %s (%d x %d)\n", program, what, width, height);
    return STARTUP_MEMORY;
}

int has_faces(const Scene* scene) {
    for (int i = 0; i < scene->object_count; i++)
        if (scene->objects[i].face_count > 0) return 1;
    return 0;
}

void reset_object_matrices(Scene* scene) {
    for (int i = 0; i < scene->object_count; i++) matrix_identity(&scene->objects[i].matrix);
}

void mouse_look() {
    int dx, dy;
    platform_mouse_motion(&dx, &dy);
    matrix_rotate_y(&app.camera_pose, (float)dx * mouse_turn);
    app.view_matrix = app.camera_pose;
    app.camera_pitch = app.camera_pitch - (float)dy * mouse_turn;
    matrix_rotate_x(&app.view_matrix, app.camera_pitch);
}

size_t pixel_count() { return (size_t)app.screen.width * (size_t)app.screen.height; }

// The frame, or the view shown, is on the locked surface already: the
// counter goes on top, and a view's name and legend under it.
void present(uint32_t* surface) {
    char text[64];
    if (const char* legend = frame_view_legend(app.view)) {
        std::snprintf(text, sizeof text, "%s: %s", frame_view_name(app.view), legend);
        draw_text_additive(text, 10, 24, surface);
    }
    format_frame_counter(app.frame_counter, text, sizeof text);
    app.frame_counter++;
    draw_text_additive(text, 10, 10, surface);
    display_present();
}

// The light's start pose. A light file that cannot be used is one line on
// stderr and the camera's pose: it never stops the program.
void light_start(const AppSettings* settings) {
    app.light_pose = app.camera_pose;
    LightFile file;
    const char* why = "";
    const int read = light_file_read(&file, &why);
    if (read < 0)
        std::fprintf(stderr, "%s: %s: %s; the light starts at the camera\n", program, LIGHT_FILE_NAME, why);
    app.smooth_surfaces = read > 0 && file.smooth;
    if (settings->light == LIGHT_GIVEN)
        light_pose_from(&settings->light_start, &app.light_pose);
    else if (settings->light == LIGHT_FROM_FILE && read > 0)
        light_pose_from(&file.start, &app.light_pose);
}

void move_camera(float x, float y, float z) { matrix_translate(&app.camera_pose, x, y, z); }

// One component of a key step along the pitched view: key_step * f(pitch),
// the sine or cosine taken in double and the product rounded once.
float step_along(double (*f)(double), float pitch) { return (float)((double)key_step * f((double)pitch)); }

}  // namespace

void format_frame_counter(int n, char* text, int size) {
    int last = n % 10;
    const char* format = last == 1 ? "%dst Frame" : last == 2 ? "%dnd Frame" : "%dth Frame";
    std::snprintf(text, (size_t)size, format, n);
}

StartupResult app_startup(const AppSettings* settings) {
    app = AppState{};
    app.bilinear_filtering = 1;
    const int width = settings->width, height = settings->height;

    log_start();
    if (!platform_window_create(window_title, width, height, settings->windowed)) {
        std::fprintf(stderr,
                     "%s: no window can be opened (%s); use varnel-render to render "
                     "frames without a display\n", program,
                     platform_error());
        return STARTUP_NO_DISPLAY;
    }
    platform_show_cursor(0);

    // Camera at world (0, 30, -50) looking along +z; the light starts there
    // too, unless the data folder or the command line places it.
    matrix_identity(&app.camera_pose);
    matrix_rotate_z(&app.camera_pose, -3.1415925f);
    matrix_translate(&app.camera_pose, 0.0f, -30.0f, -50.0f);
    app.view_matrix = app.camera_pose;
    app.camera_pitch = 0.0f;
    light_start(settings);

    log_line("Loading World ..");
    app.world_scene = scene_load("Svet.3ds");
    if (!app.world_scene) return fail(STARTUP_WORLD, "loading the world", "Svet.3ds", scene_load_error());
    reset_object_matrices(app.world_scene);
    if (!has_faces(app.world_scene))  // loads, but nothing will be drawn
        std::fprintf(stderr, "%s: Svet.3ds holds no triangles; the frames stay black\n", program);
    app.marker_scene = scene_load("Star.3ds");
    if (!app.marker_scene) return fail(STARTUP_MARKER, "loading the marker", "Star.3ds", scene_load_error());
    reset_object_matrices(app.marker_scene);
    const int path = marker_path_load();
    if (path == MARKER_PATH_NO_MEMORY)
        return fail(STARTUP_MEMORY, "loading the marker's path", "Pos.txt", "out of memory");
    app.marker_enabled = path;
    if (app.smooth_surfaces) {  // every face id of the process is handed out by now
        Scene* scenes[2] = {app.world_scene, app.marker_scene};
        app.surface = surface_patches_build(scenes, 2, (uint32_t)scene_peek_face_id(), &SURFACE_SHAPE);
        if (!app.surface) return fail(STARTUP_MEMORY, "grouping the world's surfaces", LIGHT_FILE_NAME, "out of memory");
    }

    log_line("    OK");
    log_line("Loading textures ...");
    char folder[] = "Textures";
    if (!bind_material_textures(app.world_scene, folder))
        return fail(STARTUP_TEXTURES, "loading the world's textures", "Svet.3ds", texture_error());
    if (!bind_material_textures(app.marker_scene, folder))
        return fail(STARTUP_TEXTURES, "loading the marker's textures", "Star.3ds", texture_error());
    RgbImage* cone = tga_read_rgb("Cone.tga");
    if (!cone) return fail(STARTUP_CONE, "loading the cone", "Cone.tga", tga_error());
    app.cone_mask = cone_mask_resample(cone, width, height);
    if (!app.cone_mask) {
        rgb_image_free(cone);
        return fail(STARTUP_CONE, "resampling the cone", "Cone.tga", "out of memory");
    }
    if (!cone_runs_build(app.cone_mask, &app.cone_runs))
        return fail(STARTUP_CONE, "resampling the cone", "Cone.tga", "out of memory");

    log_line("    OK");
    log_line("Init engine ...");
    if (!engine_init(width, height, &app.screen)) {
        std::fprintf(stderr, "%s: the engine cannot be set up for a %d x %d frame\n", program, width, height);
        return STARTUP_ENGINE;
    }
    const int threads = frame_init(settings->threads, &app.screen);
    if (!threads) return no_memory("the span lists", width, height);
    if (threads < settings->threads)
        std::fprintf(stderr, "%s: only %d of %d threads could be started; drawing on %d\n", program, threads,
                     settings->threads, threads);
    // Without "Font.bmp" there is no text, as the data folder chose; one
    // that is there but cannot be read is said. One that found no memory
    // would leave the text out of every frame, so start-up stops.
    const int font = font_init(width, height);
    if (font == FONT_NO_MEMORY) return fail(STARTUP_MEMORY, "loading the font", "Font.bmp", "out of memory");
    if (!font && access("Font.bmp", F_OK) == 0)
        std::fprintf(stderr, "%s: Font.bmp: %s; no text is drawn\n", program, bmp_error());
    log_line("    OK");

    const int display = display_init(width, height);
    if (display != 1) log_line("DDraw is not running..");  // the failed step, as the log's last line
    if (display == DISPLAY_NO_MEMORY) return no_memory("the display surfaces", width, height);
    if (!display) {
        std::fprintf(stderr,
                     "%s: the display cannot be set up (%s); use varnel-render to render "
                     "frames without a display\n", program,
                     display_error());
        return STARTUP_NO_DISPLAY;
    }
    log_line("DDraw is running..");
    log_line("Locking some memory ...");
    app.frame_buffer = (uint32_t*)std::malloc(pixel_count() * 4);
    if (!app.frame_buffer) return no_memory("the frame buffer", width, height);
    app.shadow_buffer = (uint32_t*)std::malloc(pixel_count() * 4);
    if (!app.shadow_buffer) return no_memory("the shadow buffer", width, height);
    log_line("    OK");
    log_line("Rendering !");
    return STARTUP_OK;
}

namespace {

// The frame the next tick draws, from the application's state. The marker
// is put where its path is at this tick first: its objects' translation,
// one lap per 10 s.
FrameScene frame_scene() {
    if (app.marker_enabled) {
        const Vec3 p = marker_path_position((float)platform_elapsed_ms() * 0.0001f);
        for (int32_t i = 0; i < app.marker_scene->object_count; i++) {
            float* m = app.marker_scene->objects[i].matrix.m;
            m[12] = p.x, m[13] = p.y, m[14] = p.z;
        }
    }
    FrameScene scene = {};
    scene.world = app.world_scene;
    scene.marker = app.marker_scene;
    scene.marker_on = app.marker_enabled;
    scene.light_pose = app.light_pose;
    scene.camera_pose = app.view_matrix;
    scene.cone_mask = app.cone_mask;
    scene.cone_runs = &app.cone_runs;
    scene.bilinear = app.bilinear_filtering;
    scene.shadow_factor = shadow_factor;
    scene.surface = app.surface;
    return scene;
}

}  // namespace

void frame_tick() {
    double t0 = frame_clock_ms();
    mouse_look();
    double t1 = frame_clock_ms();
    FrameScene scene = frame_scene();
    // A surface that cannot be locked gets no copy, no counter and no present.
    uint32_t* surface = nullptr;
    int locked = display_lock(&surface);
    FrameTargets targets = {app.frame_buffer, app.shadow_buffer, locked ? surface : nullptr, app.view};
    frame_render(&scene, &targets, &phases.frame);
    double t2 = frame_clock_ms();
    if (app.stats_requested) {
        span_statistics_dump(frame_span_lists(), app.screen.height, app.screen.width);
        app.stats_requested = 0;
    }
    if (locked) present(surface);
    if (app.screenshot_requested) {
        screenshot_save(app.frame_buffer, app.screen.width, app.screen.height);
        app.screenshot_requested = 0;
    }
    phases.look = t1 - t0;
    phases.present = frame_clock_ms() - t2;
}

void frame_tick_unseen() {
    mouse_look();
    FrameScene scene = frame_scene();
    frame_advance(&scene);
    app.frame_counter++;
    app.stats_requested = app.screenshot_requested = 0;
    phases = FramePhases{};
}

int window_proc(uint32_t message, uint32_t key) {
    switch (message) {
    case MSG_DESTROY:
        display_release();
        platform_post_quit(0);
        return 0;
    case MSG_CLOSE:  // what the default handling does: destroy the window
        platform_show_cursor(1);  // closed by the window manager or a signal, not only Escape
        platform_window_destroy();
        return window_proc(MSG_DESTROY, 0);
    case MSG_TIMER:
        frame_tick();
        return 0;
    case MSG_KEYDOWN:
        break;
    default:
        return 0;
    }
    const float pitch = app.camera_pitch;
    switch (key) {
    case KEY_ESCAPE:
        platform_show_cursor(1);
        window_proc(MSG_CLOSE, 0);
        break;
    case KEY_END: app.bilinear_filtering = !app.bilinear_filtering; break;
    case KEY_HOME: app.stats_requested = 1; break;
    case KEY_LEFT: move_camera(-key_step, 0.0f, 0.0f); break;
    case KEY_RIGHT: move_camera(key_step, 0.0f, 0.0f); break;
    // Up and Down follow the pitched viewing direction (0, -sin p, cos p).
    case KEY_UP: move_camera(0.0f, -step_along(std::sin, pitch), step_along(std::cos, pitch)); break;
    case KEY_DOWN: move_camera(0.0f, step_along(std::sin, pitch), -step_along(std::cos, pitch)); break;
    case KEY_F11: app.light_pose = app.view_matrix; break;
    case KEY_F12: app.screenshot_requested = 1; break;
    case KEY_TAB: app.view = (app.view + 1) % FRAME_VIEW_COUNT; break;
    default: break;
    }
    return 0;
}

int app_run() {
    Message message;
    while (platform_next_message(&message)) window_proc(message.type, message.key);
    return (int)message.key;
}

void app_shutdown() {
    if (app.marker_enabled) marker_path_free();
    app.marker_enabled = 0;
    if (app.cone_mask) rgb_image_free(app.cone_mask);
    app.cone_mask = nullptr;
    cone_runs_free(&app.cone_runs);
    std::free(app.frame_buffer);
    std::free(app.shadow_buffer);
    app.frame_buffer = app.shadow_buffer = nullptr;
    frame_shutdown();
    surface_patches_free(app.surface);
    app.surface = nullptr;
    font_free();
}

int app_check_size(FILE* err, const char* program, int width, int height, size_t extra_bytes) {
    if (width >= SCREEN_MIN_WIDTH && width <= SCREEN_MAX_WIDTH && height >= SCREEN_MIN_HEIGHT &&
        height <= SCREEN_MAX_HEIGHT) {
        // The frame and shadow buffers, the cone mask, two display surfaces,
        // a view's picture, the span lists and what the caller adds: asked
        // for at once and handed back, so a size whose buffers cannot be
        // had is refused before anything opens.
        void* trial = std::malloc((size_t)width * (size_t)height * 4 * 6 + frame_rows_bytes(width, height) + extra_bytes);
        std::free(trial);
        if (trial) return 1;
        std::fprintf(err, "%s: the buffers of a %dx%d frame cannot be allocated; ", program, width, height);
    } else {
        std::fprintf(err, "%s: a %dx%d frame is out of range; ", program, width, height);
    }
    std::fprintf(err, "frame sizes from %dx%d to %dx%d are accepted\n", SCREEN_MIN_WIDTH, SCREEN_MIN_HEIGHT,
                 SCREEN_MAX_WIDTH, SCREEN_MAX_HEIGHT);
    return 0;
}

size_t app_views_bytes(int width, int height) {
    size_t bytes = 0;
    for (int view = 0; view < FRAME_VIEW_COUNT; view++) bytes += frame_view_bytes(view, width, height);
    return bytes;
}

int app_main(const PlatformBackend* backend, const AppSettings* settings) {
    platform_use(backend);
    AppSettings run = *settings;
    if (run.width == 0 && !platform_desktop_size(&run.width, &run.height)) {
        std::fprintf(stderr, "%s: --size screen: the desktop's size cannot be read (%s)\n", program, platform_error());
        return 1;
    }
    if (!app_check_size(stderr, program, run.width, run.height, app_views_bytes(run.width, run.height))) return 2;
    int code = 1;
    if (app_startup(&run) == STARTUP_OK) code = app_run();
    app_shutdown();
    return code;
}

int app_default_threads() {
    unsigned cores = std::thread::hardware_concurrency();
    return cores < 1 ? 1 : cores > WORKERS_MAX ? WORKERS_MAX : (int)cores;
}

void app_set_program(const char* name) { program = name; }
const char* app_program() { return program; }

AppState* app_state() { return &app; }
const FramePhases* app_frame_phases() { return &phases; }
