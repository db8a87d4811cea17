// The soak: varnel-tool's input script, replayed for the camera it drives,
// and a short soak run through varnel-render for crashes, warnings and
// memory. `make soak` runs the long one.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "math/vecmath.h"
#include "platform/headless.h"
#include "raster/resolve.h"
#include "raster/span_pool.h"
#include "scene/scene.h"
#include "test_support.h"

namespace {

// The default frame size drawn on 2 threads.
const AppSettings two_threads = {2, SCREEN_WIDTH, SCREEN_HEIGHT, 0, LIGHT_FROM_FILE, {}};

// About 1.5 s in a release build and 5 s under the sanitizers. The script's
// first tour (an object, a wall, spins and pitches, a long run, far outside)
// fits in its first 1000 frames.
const int soak_frames = 1000;

std::string tool_output(const std::string& arguments, const std::string& file) {
    std::string command = std::string("'") + VARNEL_TOOL_PATH + "' " + arguments + " > " + file;
    if (std::system(command.c_str()) != 0) return "";
    return read_file(file);
}

std::vector<HeadlessEvent> parse_script(const std::string& text) {
    int count = 0;
    const char* error = "";
    EXPECT_EQ(headless_parse_events(text.c_str(), nullptr, 0, &count, &error), 1) << error;
    std::vector<HeadlessEvent> events((size_t)count);
    EXPECT_EQ(headless_parse_events(text.c_str(), events.data(), count, &count, &error), 1) << error;
    return events;
}

struct Box {
    Vec3 lo, hi;
};

Box object_box(const Scene* scene, const char* prefix) {
    Box b = {{1e30f, 1e30f, 1e30f}, {-1e30f, -1e30f, -1e30f}};
    for (int i = 0; i < scene->object_count; i++) {
        const SceneObject& o = scene->objects[i];
        if (std::strncmp(o.name, prefix, std::strlen(prefix)) != 0) continue;
        for (int k = 0; k < o.vertex_count; k++) {
            const SceneVertex& v = o.vertices[k];
            b.lo = Vec3{std::min(b.lo.x, v.x), std::min(b.lo.y, v.y), std::min(b.lo.z, v.z)};
            b.hi = Vec3{std::max(b.hi.x, v.x), std::max(b.hi.y, v.y), std::max(b.hi.z, v.z)};
        }
    }
    return b;
}

// How far p lies outside the box; 0 inside.
float distance_outside(const Box& b, Vec3 p) {
    float dx = std::max({b.lo.x - p.x, 0.0f, p.x - b.hi.x});
    float dy = std::max({b.lo.y - p.y, 0.0f, p.y - b.hi.y});
    float dz = std::max({b.lo.z - p.z, 0.0f, p.z - b.hi.z});
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// The same numbers give the same script. Replayed through the program's key
// handling and its mouse look (without rendering), it takes the camera into
// the obelisk and a wall, far outside the world, under the floor and high
// above, looking straight up, straight down and past both; it presses F11
// every few hundred frames, toggles the filter, asks for the histogram and
// one screenshot, and never quits.
TEST(Soak, ScriptIsRepeatableAndWalksTheCameraEverywhere) {
    DemoCopy data("soak_walk");
    ASSERT_TRUE(data.copied());
    std::string script = tool_output("soak-events " + std::to_string(soak_frames) + " 3", "a.txt");
    EXPECT_EQ(script, tool_output("soak-events " + std::to_string(soak_frames) + " 3", "b.txt"));
    EXPECT_NE(script, tool_output("soak-events " + std::to_string(soak_frames) + " 4", "c.txt"));
    std::vector<HeadlessEvent> events = parse_script(script);
    ASSERT_GT(events.size(), 1000u);
    headless_configure(soak_frames, events.data(), (int)events.size());
    platform_use(headless_backend());
    ASSERT_EQ(app_startup(&two_threads), STARTUP_OK);
    AppState* app = app_state();
    const Box world = object_box(app->world_scene, "");
    const Box obelisk = object_box(app->world_scene, "Obelisk");
    const Box walls[] = {object_box(app->world_scene, "WallLeft"), object_box(app->world_scene, "WallRight"),
                         object_box(app->world_scene, "WallFar"), object_box(app->world_scene, "WallNear")};
    int in_obelisk = 0, in_wall = 0, ticks = 0, presses[256] = {}, last_light = 0, light_gap = 0;
    float farthest = 0.0f, lowest = 1e30f, highest = -1e30f;
    double most_up = 0.0, most_down = 0.0, most_over = 1.0;  // sine and cosine of the pitch
    Message m;
    while (platform_next_message(&m)) {
        if (m.type == MSG_KEYDOWN) {
            presses[m.key & 255]++;
            if (m.key == KEY_F11) {  // before tick ticks + 1
                light_gap = std::max(light_gap, ticks + 1 - last_light);
                last_light = ticks + 1;
            }
        }
        if (m.type != MSG_TIMER) {
            window_proc(m.type, m.key);
            continue;
        }
        // The tick's mouse look: yaw into the pose, pitch kept apart.
        int dx, dy;
        platform_mouse_motion(&dx, &dy);
        matrix_rotate_y(&app->camera_pose, (float)dx * 0.0033333334f);
        app->camera_pitch = app->camera_pitch - (float)dy * 0.0033333334f;
        ticks++;
        Vec3 eye = {app->camera_pose.m[12], app->camera_pose.m[13], app->camera_pose.m[14]};
        in_obelisk += distance_outside(obelisk, eye) == 0.0f;
        for (const Box& w : walls) in_wall += distance_outside(w, eye) == 0.0f;
        farthest = std::max(farthest, distance_outside(world, eye));
        lowest = std::min(lowest, eye.y);
        highest = std::max(highest, eye.y);
        // The pitch is unlimited; what counts is where it points.
        most_up = std::max(most_up, std::sin((double)app->camera_pitch));
        most_down = std::min(most_down, std::sin((double)app->camera_pitch));
        most_over = std::min(most_over, std::cos((double)app->camera_pitch));
    }
    app_shutdown();
    EXPECT_EQ(ticks, soak_frames);
    EXPECT_GT(in_obelisk, 0);
    EXPECT_GT(in_wall, 0);
    EXPECT_GT(farthest, 1000.0f);  // the courtyard is about 430 x 610 units
    EXPECT_LT(lowest, world.lo.y - 50.0f);
    EXPECT_GT(highest, world.hi.y + 50.0f);
    EXPECT_GT(most_up, 0.9999);  // straight up and down, within a mouse pixel
    EXPECT_LT(most_down, -0.9999);
    EXPECT_LT(most_over, -0.1);  // past the vertical, upside down
    EXPECT_GE(presses[KEY_F11], 3);
    EXPECT_LE(std::max(light_gap, soak_frames - last_light), 400);
    EXPECT_GE(presses[KEY_END], 1);
    EXPECT_EQ(presses[KEY_HOME], 1);
    EXPECT_EQ(presses[KEY_F12], 1);
    EXPECT_EQ(presses[KEY_ESCAPE], 0);
}

void* refuse_memory(void*, size_t) { return nullptr; }

// The tick's record carries what each resolve drew: with the span pool unable
// to grow both passes warn; once it can grow again the warning is gone. The
// world is split once, so rows hold more spans than the spare nodes every
// row starts with.
TEST(Soak, FrameRecordCarriesTheWarningsOfEachPass) {
    DemoCopy data("soak_warnings");
    ASSERT_TRUE(data.copied());
    ASSERT_EQ(std::system((std::string(VARNEL_TOOL_PATH) + " split --force 1 Svet.3ds Svet.3ds >/dev/null").c_str()), 0);
    headless_configure(2, nullptr, 0);
    platform_use(headless_backend());
    ASSERT_EQ(app_startup(&two_threads), STARTUP_OK);
    span_pool_set_allocator(refuse_memory);
    Message m;
    while (platform_next_message(&m) && m.type != MSG_TIMER) window_proc(m.type, m.key);
    window_proc(m.type, m.key);
    const FramePhases* phases = app_frame_phases();
    EXPECT_EQ(phases->frame.light_warnings & RESOLVE_WARNING_OUT_OF_MEMORY, (uint32_t)RESOLVE_WARNING_OUT_OF_MEMORY);
    EXPECT_EQ(phases->frame.camera_warnings & RESOLVE_WARNING_OUT_OF_MEMORY, (uint32_t)RESOLVE_WARNING_OUT_OF_MEMORY);
    // The shown frame carries the warning too: it is the frame buffer below the counter's rows.
    const uint32_t* shown = headless_surface_pixels(headless_last_shown());
    const uint32_t* frame = app_state()->frame_buffer;
    long differing = 0;
    for (int i = 30 * SCREEN_WIDTH; i < SCREEN_WIDTH * SCREEN_HEIGHT; i++) differing += shown[i] != frame[i];
    EXPECT_EQ(differing, 0);
    EXPECT_NE(frame[55 * SCREEN_WIDTH + 60], 0u);  // inside the memory warning's text
    span_pool_set_allocator(nullptr);
    while (platform_next_message(&m) && m.type != MSG_TIMER) window_proc(m.type, m.key);
    window_proc(m.type, m.key);
    EXPECT_EQ(phases->frame.light_warnings, 0u);
    EXPECT_EQ(phases->frame.camera_warnings, 0u);
    app_shutdown();
}

// The number after "key": inside the object named group ("" for the top
// level); -1 when missing.
double json_number(const std::string& json, const std::string& group, const std::string& key) {
    size_t at = group.empty() ? 0 : json.find("\"" + group + "\": {");
    if (at == std::string::npos) return -1;
    at = json.find("\"" + key + "\": ", at);
    if (at == std::string::npos) return -1;
    return std::atof(json.c_str() + at + key.size() + 4);
}

// The short soak: exits cleanly, reports every warning count, and keeps the
// resident memory flat after the first 100 frames.
TEST(Soak, ShortSoakRunsCleanWithFlatMemory) {
    DemoCopy data("soak_run");
    ASSERT_TRUE(data.copied());
    ASSERT_FALSE(tool_output("soak-events " + std::to_string(soak_frames) + " 1", "soak.txt").empty());
    std::string command = std::string(VARNEL_RENDER_PATH) + " --data . --frames " + std::to_string(soak_frames) +
                          " --events-file soak.txt --bench > soak.json 2> soak.err";
    ASSERT_EQ(std::system(command.c_str()), 0) << read_file("soak.err");
    std::string json = read_file("soak.json");
    ASSERT_EQ(std::count(json.begin(), json.end(), '\n'), 1) << json;
    EXPECT_EQ(json_number(json, "", "frames"), soak_frames);
    for (const char* warning : {"light_overlap", "camera_overlap", "out_of_memory"}) {
        double frames = json_number(json, "warning_frames", warning);
        EXPECT_GE(frames, 0) << warning << " missing: " << json;
        EXPECT_LE(frames, soak_frames) << warning;
    }
    double early = json_number(json, "rss_kb", "early"), end = json_number(json, "rss_kb", "end");
    double max_after = json_number(json, "rss_kb", "max_after");
    ASSERT_GT(early, 0) << json;
    // The span pools and the frame's record storage only grow, to what the
    // busiest frame so far needed; that growth is by design and bounded by
    // the scene, so it is taken out.
    // Anything else a frame keeps is a leak. 1 MiB leaves room for the
    // allocator's and the kernel's page rounding and, under the sanitizer,
    // for its bookkeeping of the histogram and screenshot buffers; a leak of
    // 2 KiB a frame would exceed it within the run.
    double pool_kb = (json_number(json, "span_pool_nodes", "end") - json_number(json, "span_pool_nodes", "early")) *
                     sizeof(SpanNode) / 1024.0 +
                     json_number(json, "frame_storage_kb", "end") - json_number(json, "frame_storage_kb", "early");
    EXPECT_LE(end - early - pool_kb, 1024.0) << json;
    EXPECT_LE(max_after - early - pool_kb, 1024.0) << json;
}

// A script file is not held to the command line's event limit; a missing one
// is a clean failure.
TEST(Soak, EventsFileOfAnyLength) {
    DemoCopy data("soak_long_file");
    ASSERT_TRUE(data.copied());
    std::string text = "# every frame many presses\n";
    for (int i = 0; i < 8202; i++) text += i % 2 ? "1:key:LEFT\r\n" : "1:key:RIGHT\r\n";
    text += "2:key:END";
    write_file("events.txt", text);
    std::string render = std::string(VARNEL_RENDER_PATH) + " --data . --frames 2 --bench";
    EXPECT_EQ(std::system((render + " --events-file events.txt > out.json 2>&1").c_str()), 0) << read_file("out.json");
    EXPECT_EQ(json_number(read_file("out.json"), "", "frames"), 2);
    EXPECT_NE(std::system((render + " --events-file missing.txt 2> err.txt").c_str()), 0);
    EXPECT_NE(read_file("err.txt").find("missing.txt"), std::string::npos);
}

// varnel-render in the current folder: its peak resident set in KiB, -1
// when it failed.
long render_peak_kb(const std::string& arguments) {
    std::string command = std::string("exec '") + VARNEL_RENDER_PATH + "' --data . --threads 1 " + arguments + " >/dev/null";
    pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), (char*)nullptr);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss;
}

// The runner holds a long script once (its text, then one parsed array),
// and per-frame records only for --bench, which reports them.
TEST(Soak, RunnerHoldsOneCopyOfItsScriptAndNoUnusedRecords) {
    DemoCopy data("soak_runner_memory");
    ASSERT_TRUE(data.copied());
    const int events = 1500000;
    std::string text;
    for (int i = 0; i < events; i++) text += "1:key:UP\n";
    write_file("events.txt", text);
    const double one_copy_kb = (text.size() + events * sizeof(HeadlessEvent)) / 1024.0;
    long base = render_peak_kb("--frames 1");
    ASSERT_GT(base, 0);
    EXPECT_LT(render_peak_kb("--frames 1 --events-file events.txt") - base, 1.2 * one_copy_kb);
    EXPECT_LT(render_peak_kb("--frames 1000000 --events 1:quit") - base, 4096);
}

}  // namespace
