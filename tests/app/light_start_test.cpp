// Where the light starts: "Light.txt", --light, and the camera when neither
// says otherwise or the file cannot be used.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/light_start.h"
#include "test_support.h"

namespace {

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

// Start-up in a copy of the demo, through varnel-render: a light file puts
// the light where --light with the same numbers does; a damaged one is one
// line on stderr and the light at the camera, as without a file; --light
// camera overrides a sound file. The frame shows where the light is.
TEST(LightFile, StartUpTakesTheFileUnlessTheCommandLineSays) {
    DemoCopy dir("light_start");
    ASSERT_TRUE(dir.copied());
    const std::string render = std::string("'") + VARNEL_RENDER_PATH + "' --data . --frames 2 --out frame.bmp";
    auto frame = [&](const char* file, const char* options, std::string* err) {
        std::remove("Light.txt");
        if (file) write_file("Light.txt", file);
        const int status = std::system((render + " " + options + " 2>stderr.txt").c_str());
        *err = read_file("stderr.txt");
        return status == 0 ? read_file("frame.bmp") : std::string();
    };
    std::string err;
    const std::string at_camera = frame(nullptr, "", &err);
    ASSERT_FALSE(at_camera.empty());
    EXPECT_EQ(err, "");
    const std::string placed = frame(nullptr, "--light 40,80,-20:0,10,30", &err);
    EXPECT_NE(placed, at_camera);
    const struct {
        const char* file;
        const char* options;
        const std::string* frame;
        const char* says;  // "": nothing
    } cases[] = {
        {"40 80 -20\n0 10 30\n", "", &placed, ""},
        {"# where\n40 80 -20 0 10 30\n", "", &placed, ""},
        {"40 80 -20\n0 10 30\n", "--light camera", &at_camera, ""},
        {"1 2 3\n4 5 6\n", "--light 40,80,-20:0,10,30", &placed, ""},
        {"40 80 -20\n0 10\n", "", &at_camera, "varnel-render: Light.txt: fewer than six numbers"},
        {"40 80 -20\n40 80 -20\n", "", &at_camera, "the light starts at the camera"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + c.options);
        EXPECT_EQ(frame(c.file, c.options, &err) == *c.frame, true);
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_EQ(err.empty(), c.says[0] == '\0') << err;
        EXPECT_LE(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    std::remove("Light.txt");
}

}  // namespace
