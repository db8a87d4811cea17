// The whole program on the headless backend, in a copy of the demo folder.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "display/bmp.h"
#include "display/font.h"
#include "platform/headless.h"
#include "scene/scene.h"
#include "test_support.h"
#include "texture/image.h"

namespace {

// The default frame size drawn on 2 threads.
const AppSettings two_threads = {2, SCREEN_WIDTH, SCREEN_HEIGHT, 0, LIGHT_FROM_FILE, {}};

const char* const full_log =
    "__________Varnel - Log__________\nLoading World ..\n    OK\nLoading textures ...\n"
    "    OK\nInit engine ...\n    OK\nDDraw is running..\nLocking some memory ...\n    OK\n"
    "Rendering !\n";

// Starts the program for `frames` ticks of the given events; the test then
// drives messages itself.
class Program : public ::testing::Test {
protected:
    Program() : data_(::testing::UnitTest::GetInstance()->current_test_info()->name()) {}
    void start(int frames, const char* events = "") {
        ASSERT_TRUE(data_.copied());
        std::vector<HeadlessEvent> list(64);
        int count = 0;
        const char* error;
        ASSERT_EQ(headless_parse_events(events, list.data(), 64, &count, &error), 1);
        headless_configure(frames, list.data(), count);
        platform_use(headless_backend());
        ASSERT_EQ(app_startup(&two_threads), STARTUP_OK);
        started_ = true;
        app = app_state();
    }
    // Delivers messages up to and including the next tick; 0 once closed.
    int tick() {
        Message m;
        while (platform_next_message(&m)) {
            window_proc(m.type, m.key);
            if (m.type == MSG_TIMER) return 1;
        }
        return 0;
    }
    ~Program() override {
        if (started_) app_shutdown();
    }
    DemoCopy data_;
    bool started_ = false;
    AppState* app = nullptr;
};

TEST_F(Program, CompleteStartUpWritesTheWholeLogAndRuns) {
    start(3);
    EXPECT_EQ(read_file("Engine.log"), full_log);
    // Right after start-up the light stands where the camera is.
    for (int i = 0; i < 16; i++) EXPECT_EQ(app->light_pose.m[i], app->camera_pose.m[i]);
    while (tick()) {}
    EXPECT_EQ(app->frame_counter, 3);
    EXPECT_EQ(headless_present_count(), 3);
}

TEST_F(Program, MouseRightTurnsRightAndMouseDownLooksDown) {
    start(2, "1:mouse:30,0 2:mouse:0,45");
    ASSERT_EQ(tick(), 1);
    // Screen right is world -x at the start pose: the view axis turns that way.
    EXPECT_LT(app->view_matrix.m[8], -0.09f);
    EXPECT_NEAR(app->view_matrix.m[9], 0.0f, 1e-6f);
    ASSERT_EQ(tick(), 1);
    EXPECT_FLOAT_EQ(app->camera_pitch, -45 * 0.0033333334f);
    EXPECT_LT(app->view_matrix.m[9], -0.14f);  // looking down
    // Pitch lives apart from the pose: camera_pose keeps a level view axis.
    EXPECT_NEAR(app->camera_pose.m[9], 0.0f, 1e-6f);
}

TEST_F(Program, FailedLockSkipsCopyCounterAndPresent) {
    start(3);
    ASSERT_EQ(tick(), 1);
    EXPECT_EQ(app->frame_counter, 1);
    headless_fail_locks(1);
    ASSERT_EQ(tick(), 1);
    EXPECT_EQ(app->frame_counter, 1);
    EXPECT_EQ(headless_present_count(), 1);
    ASSERT_EQ(tick(), 1);
    EXPECT_EQ(app->frame_counter, 2);
    EXPECT_EQ(headless_present_count(), 2);
    // The frame shown second went into the first staging surface, and it is
    // the frame buffer with "1st Frame" added at (10, 10): elsewhere equal.
    EXPECT_EQ(headless_last_shown(), 0);
    const uint32_t* shown = headless_surface_pixels(0);
    long different_outside_text = 0, different_inside_text = 0;
    for (int y = 0; y < SCREEN_HEIGHT; y++)
        for (int x = 0; x < SCREEN_WIDTH; x++) {
            bool text = x >= 10 && x < 10 + 9 * GLYPH_WIDTH && y >= 10 && y < 10 + GLYPH_HEIGHT;
            bool differs = shown[y * SCREEN_WIDTH + x] != app->frame_buffer[y * SCREEN_WIDTH + x];
            (text ? different_inside_text : different_outside_text) += differs;
        }
    EXPECT_EQ(different_outside_text, 0);
    EXPECT_GT(different_inside_text, 50);
}

// Every vertex's stored light-view position, the marker's place and the
// counter: what a tick leaves for the ticks after it.
std::vector<float> carried_state(const AppState* app) {
    std::vector<float> state = {(float)app->frame_counter};
    for (const Scene* scene : {app->world_scene, app->marker_scene})
        for (int i = 0; i < scene->object_count; i++) {
            const SceneObject& o = scene->objects[i];
            state.insert(state.end(), o.matrix.m + 12, o.matrix.m + 15);
            for (int v = 0; v < o.vertex_count; v++)
                state.insert(state.end(), {o.vertices[v].lx, o.vertices[v].ly, o.vertices[v].lz});
        }
    return state;
}

// A tick run unseen (varnel-render --first) leaves what a drawn one leaves,
// with the light at the camera (one pass serves both), turned away from it,
// and moved there again by F11; its Home and F12 write nothing.
TEST_F(Program, UnseenTicksLeaveWhatDrawnTicksLeave) {
    const char* const events = "2:mouse:-40,6 3:key:UP 4:key:F11 5:mouse:60,-8 6:key:HOME 6:key:F12";
    std::vector<std::vector<float>> drawn;
    start(7, events);
    while (tick()) drawn.push_back(carried_state(app));
    app_shutdown();
    std::remove("Graph.txt");
    std::remove("Screenshot 0.bmp");
    start(7, events);
    Message m;
    size_t ticks = 0;
    while (platform_next_message(&m)) {
        if (m.type != MSG_TIMER) {
            window_proc(m.type, m.key);
            continue;
        }
        frame_tick_unseen();
        ASSERT_LT(ticks, drawn.size());
        EXPECT_TRUE(carried_state(app) == drawn[ticks]) << "tick " << ticks + 1;
        ticks++;
    }
    EXPECT_EQ(ticks, drawn.size());
    EXPECT_EQ(headless_present_count(), 0);
    EXPECT_NE(access("Graph.txt", F_OK), 0);
    EXPECT_NE(access("Screenshot 0.bmp", F_OK), 0);
}

TEST_F(Program, WithoutAPathTheMarkerIsNeitherMovedNorDrawn) {
    std::remove("Pos.txt");
    start(2);
    EXPECT_EQ(app->marker_enabled, 0);
    while (tick()) {}
    Matrix4 identity;
    matrix_identity(&identity);
    for (int i = 0; i < app->marker_scene->object_count; i++)
        for (int k = 0; k < 16; k++) EXPECT_EQ(app->marker_scene->objects[i].matrix.m[k], identity.m[k]);
}

TEST_F(Program, TheMarkerFollowsThePathOneLapPerTenSeconds) {
    start(250);
    ASSERT_EQ(app->marker_enabled, 1);
    Vec3 first = {};
    for (int k = 1; k <= 250 && tick(); k++) {
        const float* m = app->marker_scene->objects[0].matrix.m;
        if (k == 1) first = Vec3{m[12], m[13], m[14]};
        if (k == 125) {  // 2.5 s: a quarter lap on, somewhere else
            float d = std::abs(m[12] - first.x) + std::abs(m[14] - first.z);
            EXPECT_GT(d, 1.0f);
        }
    }
}

TEST_F(Program, HomeWritesTheHistogramOnceAndAnUnwritableOneIsSkipped) {
    start(4, "2:key:HOME 2:key:HOME 4:key:HOME");
    ASSERT_EQ(tick(), 1);
    ASSERT_EQ(tick(), 1);
    std::string graph = read_file("Graph.txt");
    EXPECT_NE(graph.find(" : *"), std::string::npos);
    EXPECT_EQ(app->stats_requested, 0);
    // A dump that cannot be written (no room for a byte) leaves the old file
    // and the frames alone, and no temporary file.
    write_file("Graph.txt", "old\n");
    int ticked = 0;
    {
        FileSizeLimit limit(0);
        ASSERT_TRUE(limit.ok());
        ticked = tick() + tick();
    }
    ASSERT_EQ(ticked, 2);
    EXPECT_EQ(read_file("Graph.txt"), "old\n");
    EXPECT_NE(std::system("ls -A | grep -q partial"), 0) << "temporary file left behind";
    EXPECT_EQ(app->frame_counter, 4);
}

// Tab steps the window through the views and back to the frame. Each view
// is shown whole, with the counter and, under it, a line that starts with
// the view's name; the frame comes back without that line.
TEST_F(Program, TabShowsEveryViewWithItsNameThenTheFrameAgain) {
    start(FRAME_VIEW_COUNT + 2, "1:mouse:30,-8 1:key:F11 2:mouse:-50,12 2:key:TAB 3:key:TAB 4:key:TAB "
                                "5:key:TAB 6:key:TAB 7:key:TAB");
    ASSERT_EQ(tick(), 1);
    std::vector<uint32_t> expected((size_t)SCREEN_WIDTH * SCREEN_HEIGHT);
    for (int k = 1; k <= FRAME_VIEW_COUNT; k++) {
        ASSERT_EQ(tick(), 1);
        const int view = k % FRAME_VIEW_COUNT;
        ASSERT_EQ(app->view, view);
        ASSERT_EQ(frame_draw_view(view, expected.data()), 1);
        const uint32_t* shown = headless_surface_pixels(headless_last_shown());
        const char* name = frame_view_name(view);
        std::vector<uint32_t> named = expected;
        draw_text_additive(name, 10, 24, named.data());
        long line_pixels = 0;
        for (int y = 0; y < SCREEN_HEIGHT; y++)
            for (int x = 0; x < SCREEN_WIDTH; x++) {
                size_t i = (size_t)(y * SCREEN_WIDTH + x);
                if (y >= 10 && y < 10 + GLYPH_HEIGHT) continue;  // the counter
                bool line = y >= 24 && y < 24 + GLYPH_HEIGHT;
                if (line && x < 10 + GLYPH_WIDTH * (int)std::strlen(name)) {
                    ASSERT_EQ(shown[i], view ? named[i] : expected[i]) << name << " at " << x << "," << y;
                } else if (!line) {
                    ASSERT_EQ(shown[i], expected[i]) << name << " at " << x << "," << y;
                } else {
                    line_pixels += shown[i] != expected[i];
                }
            }
        EXPECT_EQ(line_pixels > 100, view != FRAME_VIEW_FRAME) << name << ": the legend after the name";
    }
}

// Runs varnel-render in the current folder; its exit code.
int render(const std::string& arguments) {
    std::string command = std::string(VARNEL_RENDER_PATH) + " --data . " + arguments + " 2>err.txt";
    return std::system(command.c_str());
}

TEST(Render, ScreenshotFromF12EqualsTheOutputFrame) {
    DemoCopy data("render_screenshot");
    ASSERT_TRUE(data.copied());
    ASSERT_EQ(render("--frames 3 --events '2:mouse:-40,10 3:key:F12' --out out.bmp"), 0);
    RgbImage* shot = bmp_read("Screenshot 0.bmp");
    RgbImage* frame = bmp_read("out.bmp");
    ASSERT_TRUE(shot && frame);
    ASSERT_EQ(shot->width, SCREEN_WIDTH);
    ASSERT_EQ(shot->height, SCREEN_HEIGHT);
    long lit = 0;
    for (int i = 0; i < SCREEN_WIDTH * SCREEN_HEIGHT; i++) {
        ASSERT_EQ(shot->pixels[i], frame->pixels[i]) << "pixel " << i;
        lit += frame->pixels[i] != 0;
    }
    EXPECT_GT(lit, SCREEN_WIDTH * SCREEN_HEIGHT / 4);  // a real frame, not an empty one
    rgb_image_free(shot);
    rgb_image_free(frame);
}

TEST(Render, SameEventsGiveTheSameFrameBitForBit) {
    DemoCopy data("render_repeat");
    ASSERT_TRUE(data.copied());
    const char* events = "--frames 12 --events '2:mouse:25,-8 4:key:UP 5:key:F11 7:key:LEFT 9:key:END'";
    ASSERT_EQ(render(std::string(events) + " --out a.png"), 0);
    ASSERT_EQ(render(std::string(events) + " --out b.png"), 0);
    std::string a = read_file("a.png"), b = read_file("b.png");
    EXPECT_GT(a.size(), 1000u);
    EXPECT_EQ(a, b);
}

TEST(Render, MissingTextureStopsStartUpWithExitCodeOne) {
    DemoCopy data("render_missing_texture");
    ASSERT_TRUE(data.copied());
    ASSERT_EQ(std::system("rm -f Textures/*.tga"), 0);
    EXPECT_NE(render("--frames 1"), 0);
    std::string log = read_file("Engine.log");
    EXPECT_EQ(log.substr(log.size() - 21), "Loading textures ...\n");
    std::string err = read_file("err.txt");
    EXPECT_NE(err.find("Textures"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

}  // namespace

namespace {

// Stepping through every view and back, with F12 and Home on the way,
// leaves every frame as a run that never left the frame draws it: the last
// frame, the screenshot taken while a view was shown, and the histogram.
TEST(Render, TabThroughEveryViewAndBackLeavesTheFramesAlone) {
    DemoCopy data("render_views_tab");
    ASSERT_TRUE(data.copied());
    const std::string walk = "2:mouse:40,-6 3:key:LEFT 3:key:LEFT 4:key:F11 5:mouse:-70,15 6:key:UP 8:key:F12 "
                             "9:key:HOME 10:key:END 11:mouse:5,3 ";
    const std::string tabs = "5:key:TAB 6:key:TAB 7:key:TAB 8:key:TAB 9:key:TAB 10:key:TAB";
    ASSERT_EQ(render("--frames 14 --events '" + walk + "' --out plain.png"), 0);
    ASSERT_EQ(std::rename("Screenshot 0.bmp", "plain.bmp"), 0);
    std::string plain_graph = read_file("Graph.txt");
    ASSERT_EQ(render("--frames 14 --events '" + walk + tabs + "' --out stepped.png"), 0);
    EXPECT_EQ(read_file("stepped.png"), read_file("plain.png"));
    EXPECT_EQ(read_file("Screenshot 0.bmp"), read_file("plain.bmp"));
    EXPECT_EQ(read_file("Graph.txt"), plain_graph);
    EXPECT_GT(plain_graph.size(), 100u);
}

// --view writes views instead of the frame: one view to --out itself,
// several beside it with their names; "frame" is the frame. Unknown names
// and views without --out are usage errors.
TEST(Render, ViewOptionWritesEachViewAndRefusesUnknownNames) {
    DemoCopy data("render_views_option");
    ASSERT_TRUE(data.copied());
    const std::string events = "--frames 3 --events '1:mouse:20,0 2:key:F11 2:mouse:-40,5'";
    ASSERT_EQ(render(events + " --out plain.png"), 0);
    ASSERT_EQ(render(events + " --out one.png --view frame"), 0);
    EXPECT_EQ(read_file("one.png"), read_file("plain.png"));
    ASSERT_EQ(render(events + " --out v.png --view ids --view shadow --view frame --view spans --view light "
                              "--view levels"),
              0);
    EXPECT_EQ(read_file("v-frame.png"), read_file("plain.png"));
    for (const char* name : {"spans", "ids", "light", "levels", "shadow"}) {
        std::string file = std::string("v-") + name + ".png";
        EXPECT_GT(read_file(file).size(), 1000u) << file;
        EXPECT_NE(read_file(file), read_file("plain.png")) << file;
    }
    EXPECT_EQ(WEXITSTATUS(render("--frames 1 --out x.png --view depth")), 2);
    std::string err = read_file("err.txt");
    EXPECT_NE(err.find("--view 'depth': takes frame"), std::string::npos) << err;
    EXPECT_NE(err.find("usage: varnel-render"), std::string::npos) << err;
    EXPECT_EQ(WEXITSTATUS(render("--frames 1 --view spans")), 2);
    EXPECT_EQ(read_file("x.png"), "");
    // Closed before the first tick: there is no frame, and no file claims one.
    EXPECT_EQ(WEXITSTATUS(render("--frames 3 --events 1:quit --out q.png")), 1);
    EXPECT_EQ(read_file("q.png"), "");
    EXPECT_NE(read_file("err.txt").find("no frame was drawn"), std::string::npos);
}

// At a wide frame of odd width: F12's screenshot has the BMP layout (rows
// padded to four bytes) and equals the frame; Graph.txt counts spans longer
// than the default width and the histogram chart reads it; every view is
// written at the size. A size out of range is refused before anything is
// drawn or written.
TEST(Render, WideOddSizeScreenshotHistogramAndViews) {
    DemoCopy data("render_wide_odd");
    ASSERT_TRUE(data.copied());
    const int w = 1201, h = 677;
    ASSERT_EQ(render("--size 1201x677 --frames 3 --events '2:mouse:-30,4 3:key:F12 3:key:HOME' --out out.bmp "
                     "--view frame --view shadow"),
              0);
    std::string shot = read_file("Screenshot 0.bmp");
    const size_t row = ((size_t)w * 3 + 3) & ~(size_t)3;  // 3604: one pad byte
    ASSERT_EQ(shot.size(), 54 + row * h);
    RgbImage* screenshot = bmp_read("Screenshot 0.bmp");
    RgbImage* frame = bmp_read("out-frame.bmp");
    ASSERT_TRUE(screenshot && frame);
    ASSERT_EQ(frame->width, w);
    ASSERT_EQ(frame->height, h);
    EXPECT_EQ(std::memcmp(screenshot->pixels, frame->pixels, (size_t)w * h * 4), 0);
    rgb_image_free(screenshot);
    rgb_image_free(frame);
    RgbImage* shadow = bmp_read("out-shadow.bmp");
    ASSERT_TRUE(shadow);
    EXPECT_EQ(shadow->width, w);
    rgb_image_free(shadow);

    std::string graph = read_file("Graph.txt"), last = graph.substr(graph.rfind('\n', graph.size() - 2) + 1);
    EXPECT_GT(std::atoi(last.c_str()), 400) << last;
    std::string command = std::string(VARNEL_TOOL_PATH) + " histogram Graph.txt chart.png";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_GT(read_file("chart.png").size(), 1000u);

    for (const char* size : {"0x0", "400", "-400x300", "400x300x2", "abc", "99999x99999", "7681x4320"}) {
        EXPECT_EQ(WEXITSTATUS(render(std::string("--frames 1 --out bad.png --size ") + size)), 2) << size;
        EXPECT_NE(read_file("err.txt").find("160x120 to 7680x4320"), std::string::npos) << size;
        EXPECT_EQ(read_file("bad.png"), "") << size;
    }
}

// Mistakes in what varnel-render is asked for are found before it starts:
// a --out folder that is not there ends it before start-up, with nothing
// drawn or written; events after the last frame are named in one warning.
TEST(Render, OutputFolderAndLateEventsAreCheckedBeforeTheFirstFrame) {
    DemoCopy data("render_checked_first");
    ASSERT_TRUE(data.copied());
    std::remove("Engine.log");
    int status = render("--frames 2 --out missing/frame.png");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    std::string err = read_file("err.txt");
    EXPECT_NE(err.find("cannot write"), std::string::npos) << err;
    EXPECT_NE(err.find("/missing"), std::string::npos) << err;
    EXPECT_EQ(read_file("Engine.log"), "") << "start-up ran";

    EXPECT_EQ(render("--frames 2 --events '5:key:F12 2:key:END 3:mouse:4,-1 9:quit'"), 0);
    err = read_file("err.txt");
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("3 events after the last frame (2) never delivered: 5:key:F12 3:mouse:4,-1 9:quit"),
              std::string::npos)
        << err;
    EXPECT_EQ(render("--frames 2 --events '2:key:END'"), 0);
    EXPECT_EQ(read_file("err.txt"), "");
}

}  // namespace
