// Frames rendered by varnel-render from the demo folder: the start view lit
// inside the cone and darkened outside it, and long shadows in view once the
// light has been moved.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "approved_image.h"
#include "demo_fixture.h"
#include "display/bmp.h"
#include "display/font.h"
#include "texture/image.h"

namespace {

// Walk to the left and back a little, look down and to the right, move the
// light there (F11), then return to the start pose. The same script is in
// the README.
const char* const shadow_events =
    "2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT "
    "2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT "
    "2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:key:LEFT 2:mouse:0,270 "
    "3:key:DOWN 3:key:DOWN 3:key:DOWN 3:key:DOWN 3:key:DOWN 3:mouse:120,-210 4:key:F11 4:mouse:-120,210 "
    "5:key:UP 5:key:UP 5:key:UP 5:key:UP 5:key:UP 5:mouse:0,-270 "
    "6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT "
    "6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT "
    "6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT 6:key:RIGHT "
    "6:key:RIGHT";

class DemoFrames : public DemoData {
protected:
    RgbImage* render(const std::string& out, int frames, const char* events, const std::string& options = "") {
        return DemoData::render(VARNEL_DEMO_DATA, out, frames, events, options);
    }
};

double luminance(uint32_t c) { return 0.3 * (c >> 16 & 255) + 0.59 * (c >> 8 & 255) + 0.11 * (c & 255); }

double from_centre(int x, int y) { return std::hypot(x + 0.5 - 200.0, y + 0.5 - 150.0); }

TEST_F(DemoFrames, StartViewIsTexturedAndLitInsideTheConeAndDarkOutside) {
    RgbImage* frame = render(scratch("start.bmp"), 2, nullptr);
    ASSERT_NE(frame, nullptr) << "varnel-render failed";
    ASSERT_EQ(frame->width, 400);
    ASSERT_EQ(frame->height, 300);
    std::set<uint32_t> colours;
    int inside = 0, covered = 0;
    double lit_floor = 0, dark_floor = 0;
    int lit_n = 0, dark_n = 0;
    for (int y = 0; y < 300; y++)
        for (int x = 0; x < 400; x++) {
            uint32_t c = frame->pixels[y * 400 + x];
            double r = from_centre(x, y);
            if (r < 100 && y >= 150) {  // the courtyard is open above: only below the horizon
                inside++;
                covered += c != 0;
                colours.insert(c);
            }
            if (y >= 240) {  // the floor, near the camera
                if (r < 115) lit_floor += luminance(c), lit_n++;
                if (r > 140) dark_floor += luminance(c), dark_n++;
            }
        }
    EXPECT_GT(covered, inside * 95 / 100) << "the cone shows the world, not the background";
    EXPECT_GT(colours.size(), 500u) << "textured, not flat";
    ASSERT_GT(lit_n, 1000);
    ASSERT_GT(dark_n, 1000);
    lit_floor /= lit_n;
    dark_floor /= dark_n;
    EXPECT_GT(lit_floor, 80.0);
    EXPECT_GT(dark_floor, 10.0) << "shadowed floor keeps a darkened texture";
    EXPECT_LT(dark_floor, lit_floor * 0.6);
    rgb_image_free(frame);
}

TEST_F(DemoFrames, MovedLightThrowsShadowsIntoTheStartView) {
    RgbImage* start = render(scratch("start.bmp"), 8, nullptr);
    RgbImage* moved = render(scratch("moved.bmp"), 8, shadow_events);
    ASSERT_NE(start, nullptr);
    ASSERT_NE(moved, nullptr);
    // Same camera pose: a pixel the new light does not reach is the start
    // pixel darkened to about 100/256.
    int bright = 0, shadowed = 0;
    for (int i = 0; i < 400 * 300; i++) {
        int x = i % 400, y = i / 400;
        double a = luminance(start->pixels[i]), b = luminance(moved->pixels[i]);
        if (from_centre(x, y) > 110 || a < 60) continue;
        bright++;
        shadowed += b > 0.3 * a && b < 0.5 * a;
    }
    ASSERT_GT(bright, 10000);
    EXPECT_GT(shadowed, bright / 20) << "the moved light casts shadows across what the camera sees";
    EXPECT_LT(shadowed, bright * 9 / 10) << "and still lights part of it";
    rgb_image_free(start);
    rgb_image_free(moved);
}

// The demo at a 16:9 size and at an odd one: the start view (one pass
// serves both eyes) and the camera turned and stepped away from the light
// (both passes in full), each equal to its approved image on 1 thread and
// the same on 3.
TEST_F(DemoFrames, ApprovedAtOtherSizes) {
    const char* const moved = "2:mouse:-60,12 2:key:LEFT 2:key:LEFT 2:key:DOWN";
    const struct {
        const char* name;
        int width, height;
        const char* events;
    } shots[] = {
        {"demo_640x360_start", 640, 360, nullptr},
        {"demo_640x360_moved", 640, 360, moved},
        {"demo_401x301_start", 401, 301, nullptr},
        {"demo_401x301_moved", 401, 301, moved},
    };
    for (const auto& shot : shots) {
        std::vector<uint32_t> first;
        for (int threads : {1, 3}) {
            std::string options = "--size " + std::to_string(shot.width) + "x" + std::to_string(shot.height) +
                                  " --threads " + std::to_string(threads);
            RgbImage* frame = render(scratch("sized.bmp"), 2, shot.events, options);
            ASSERT_NE(frame, nullptr) << shot.name;
            ASSERT_EQ(frame->width, shot.width);
            ASSERT_EQ(frame->height, shot.height);
            std::vector<uint32_t> words(frame->pixels, frame->pixels + (size_t)shot.width * shot.height);
            rgb_image_free(frame);
            if (first.empty()) {
                first = words;
                std::string failure = approved::check(shot.name, words, shot.width, shot.height);
                EXPECT_TRUE(failure.empty()) << failure;
            } else {
                EXPECT_TRUE(words == first) << shot.name << ": " << threads << " threads draw another frame";
            }
        }
    }
}

}  // namespace
