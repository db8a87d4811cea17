// Tests over the demo data folder that the build makes with the tool under
// test (build/<preset>/data). They only read it; anything they write goes to
// a scratch folder of their own process, so parallel test processes never
// share a file.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "asset_test_util.h"

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
};
