// Where the light starts: "Light.txt", --light, and the camera when neither
// says otherwise or the file cannot be used.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/app.h"
#include "app/light_start.h"
#include "platform/headless.h"
#include "test_support.h"

namespace {

// What start-up writes to stderr, through a file in the working folder.
StartupResult startup_telling(const AppSettings* settings, std::string* err) {
    std::fflush(stderr);
    const int saved = dup(2);
    FILE* f = std::fopen("stderr.txt", "w");
    dup2(fileno(f), 2);
    StartupResult result = app_startup(settings);
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::fclose(f);
    *err = read_file("stderr.txt");
    return result;
}

TEST(LightFile, SoundAndDamagedTexts) {
    const struct {
        const char* text;
        int ok;
        const char* why;  // part of the reason when refused
    } cases[] = {
        {"10 20 -30\n0 5 40\n", 1, ""},
        {"# a comment\n10 20 -30 # where it stands\n0 5 40\nsmooth\n", 1, ""},
        {"1e1 2e1 -3e1 0 5 40", 1, ""},
        {"10 20 -30\n0 5\n", 0, "the point the light aims at is missing"},
        {"10 20\n", 0, "fewer than six numbers"},
        {"", 0, "fewer than six numbers"},
        {"10 twenty -30 0 5 40", 0, "text where a number should be"},
        {"10 20 -30 0 5 NaN", 0, "not a finite number"},
        {"10 20 -30 inf 5 40", 0, "not a finite number"},
        {"10 20 -30 0 5 1e39", 0, "not a finite number"},
        {"1 2 3 1 2 3", 0, "aims at its own position"},
        {"1 2 3 4 5 6 shiny", 0, "unknown word"},
        {"1 2 3 4 5 6 7", 0, "unknown word"},
        {"1 2 3\0 4 5 6", 0, "zero byte"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        LightFile file;
        const char* why = "";
        const long size = c.text == std::string("1 2 3") ? 12 : (long)std::string(c.text).size();
        EXPECT_EQ(light_text_parse(c.text, size, &file, &why), c.ok);
        EXPECT_NE(std::string(why).find(c.why), std::string::npos) << why;
    }
    LightFile file;
    const char* why;
    ASSERT_EQ(light_text_parse("# a comment\n10 20 -30\n0 5 40\nsmooth\n", 36, &file, &why), 1);
    EXPECT_EQ(file.start.position.z, -30.0f);
    EXPECT_EQ(file.start.aim.z, 40.0f);
    EXPECT_EQ(file.smooth, 1);
}

TEST(LightFile, OptionValues) {
    LightSource source;
    LightStart start = {};
    EXPECT_EQ(light_option_parse("camera", &source, &start), 1);
    EXPECT_EQ(source, LIGHT_AT_CAMERA);
    EXPECT_EQ(light_option_parse("1,2,3:4,5.5,-6e1", &source, &start), 1);
    EXPECT_EQ(source, LIGHT_GIVEN);
    EXPECT_EQ(start.aim.y, 5.5f);
    EXPECT_EQ(start.aim.z, -60.0f);
    for (const char* bad : {"", "1,2,3", "1,2,3:4,5", "1,2:3,4,5,6", "1,2,3:4,5,6,7", "1,2,3;4,5,6", "a,2,3:4,5,6",
                            "1,2,3:1,2,3", "nan,2,3:4,5,6", "1,,3:4,5,6", "Camera"})
        EXPECT_EQ(light_option_parse(bad, &source, &start), 0) << bad;
}

// A light aimed along +z from the camera's place is the start camera's
// pose, up to the last bits of its turn by a float's pi; straight down keeps
// world -x as its right. Every pose is a turn: rows of length 1, square.
TEST(LightFile, PosesLookAtTheAim) {
    Matrix4 camera;
    matrix_identity(&camera);
    matrix_rotate_z(&camera, -3.1415925f);
    matrix_translate(&camera, 0.0f, -30.0f, -50.0f);
    Matrix4 pose;
    const LightStart along = {{0, 30, -50}, {0, 30, 10}};
    ASSERT_EQ(light_pose_from(&along, &pose), 1);
    for (int i = 0; i < 16; i++) EXPECT_NEAR(pose.m[i], camera.m[i], 1e-5) << i;
    const LightStart down = {{5, 50, 5}, {5, 0, 5}};
    ASSERT_EQ(light_pose_from(&down, &pose), 1);
    EXPECT_EQ(pose.m[0], -1.0f);
    EXPECT_EQ(pose.m[9], -1.0f);  // looking along world -y
    const LightStart aside = {{30, 60, -40}, {0, 10, 20}};
    ASSERT_EQ(light_pose_from(&aside, &pose), 1);
    Vec3 aimed = matrix_transform_point(&pose, Vec3{0, 0, 1});
    const float dx = aimed.x - 30, dy = aimed.y - 60, dz = aimed.z + 40, length = std::sqrt(30.f * 30 + 50 * 50 + 60 * 60);
    EXPECT_NEAR(dx, -30 / length, 1e-5);
    EXPECT_NEAR(dy, -50 / length, 1e-5);
    EXPECT_NEAR(dz, 60 / length, 1e-5);
    EXPECT_NEAR(pose.m[1], 0.0f, 1e-7) << "the light's right is level";
    EXPECT_LT(pose.m[5], 0.0f) << "its down (the screen's) points down in the world";
    const LightStart same = {{1, 2, 3}, {1, 2, 3}};
    EXPECT_EQ(light_pose_from(&same, &pose), 0);
}

// Start-up in a copy of the demo: the light at the camera without a file;
// where the file puts it; at the camera again, with one line on stderr, for
// a damaged file; and where --light says, whatever the file.
TEST(LightFile, StartUpTakesTheFileUnlessTheCommandLineSays) {
    DemoCopy dir("light_start");
    ASSERT_TRUE(dir.copied());
    const struct {
        const char* file;  // null: none
        int source;
        const char* option;
        int at_camera;
        const char* says;
    } cases[] = {
        {nullptr, LIGHT_FROM_FILE, nullptr, 1, ""},
        {"40 80 -20\n0 10 30\n", LIGHT_FROM_FILE, nullptr, 0, ""},
        {"40 80 -20\n0 10\n", LIGHT_FROM_FILE, nullptr, 1, "Light.txt: fewer than six numbers"},
        {"40 80 -20\n40 80 -20\n", LIGHT_FROM_FILE, nullptr, 1, "the light starts at the camera"},
        {"40 80 -20\n0 10 30\n", LIGHT_AT_CAMERA, "camera", 1, ""},
        {nullptr, LIGHT_GIVEN, "40,80,-20:0,10,30", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "no file");
        std::remove("Light.txt");
        if (c.file) write_file("Light.txt", c.file);
        AppSettings settings = {1, SCREEN_WIDTH, SCREEN_HEIGHT, 0, c.source, {}};
        LightSource source;
        if (c.option) {
            ASSERT_EQ(light_option_parse(c.option, &source, &settings.light_start), 1);
        }
        headless_configure(1, nullptr, 0);
        platform_use(headless_backend());
        std::string err;
        ASSERT_EQ(startup_telling(&settings, &err), STARTUP_OK);
        const AppState* app = app_state();
        const int same = std::memcmp(&app->light_pose, &app->camera_pose, sizeof(Matrix4)) == 0;
        EXPECT_EQ(same, c.at_camera);
        if (!c.at_camera) {
            EXPECT_NEAR(app->light_pose.m[12], 40.0f, 1e-4);
        }
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_EQ(err.empty(), c.says[0] == '\0') << err;
        app_shutdown();
    }
    std::remove("Light.txt");
}

}  // namespace
