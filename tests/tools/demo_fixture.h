// The demo data folder made once per test program by the tool under test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "asset_test_util.h"

// One demo folder for the whole program, made by the tool under test.
class DemoData : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        mkdir(VARNEL_TEST_TMP, 0755);
        folder_ = new std::string(std::string(VARNEL_TEST_TMP) + "/demo_data");
        run_exit_code("rm -rf '" + *folder_ + "'");
        made_ = run_exit_code(tool_command("demo '" + *folder_ + "' >/dev/null")) == 0;
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(made_) << "varnel-tool demo failed"; }
    static std::string file(const std::string& name) { return *folder_ + "/" + name; }

    static inline std::string* folder_ = nullptr;
    static inline bool made_ = false;
};
