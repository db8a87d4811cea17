// Tests over the demo data folder that the build makes with the tool under
// test (build/<preset>/data). They only read it; anything they write goes to
// a scratch folder of their own process, so parallel test processes never
// share a file.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "asset_test_util.h"
#include "display/bmp.h"
#include "texture/image.h"

class DemoData : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(file_exists(file(".varnel-demo"))) << "the build did not make " << VARNEL_DEMO_DATA;
    }
    static std::string file(const std::string& name) { return std::string(VARNEL_DEMO_DATA) + "/" + name; }
    // A scratch file name unique to this process.
    static std::string scratch(const std::string& name) {
        mkdir(VARNEL_TEST_TMP, 0755);
        return std::string(VARNEL_TEST_TMP) + "/" + std::to_string(getpid()) + "_" + name;
    }
    // Renders `frames` ticks of data folder `data` with varnel-render (and
    // its `options`, if any) and reads the last frame back as 0x00RRGGBB
    // words; null when it fails.
    static RgbImage* render(const std::string& data, const std::string& out_bmp, int frames, const char* events,
                            const std::string& options = "") {
        std::string command = std::string("'") + VARNEL_RENDER_PATH + "' --data '" + data + "' --frames " +
                              std::to_string(frames) + " --out '" + out_bmp + "' " + options;
        if (events) command += std::string(" --events '") + events + "'";
        if (run_exit_code(command) != 0) return nullptr;
        RgbImage* frame = bmp_read(out_bmp.c_str());
        unlink(out_bmp.c_str());
        return frame;
    }
};
