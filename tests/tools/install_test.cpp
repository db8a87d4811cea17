// The install: into a scratch prefix, the installed varnel-render, started
// with no --data in a folder without a world, says where it found the
// installed demo and draws the same frame as the build's demo folder.
#include <gtest/gtest.h>

#include <string>

#include "import_test_util.h"

namespace {

TEST(Install, InstalledRenderFindsInstalledDemo) {
    ScratchDir scratch("install");
    ASSERT_TRUE(scratch.ok());
    const std::string prefix = scratch.path() + "/prefix";
    std::string out;
    ASSERT_EQ(run_capture("cmake --install '" VARNEL_BUILD_DIR "' --prefix '" + prefix + "'", &out), 0)
        << out;
    for (const char* file : {"bin/varnel-render", "bin/varnel-tool", "share/varnel/data/Svet.3ds",
                             "share/varnel/data/Textures"})
        EXPECT_TRUE(file_exists(prefix + "/" + file)) << file;
    ASSERT_EQ(mkdir((scratch.path() + "/empty").c_str(), 0755), 0);
    const std::string frame = scratch.path() + "/installed.bmp";
    ASSERT_EQ(run_capture("cd '" + scratch.path() + "/empty' && '" + prefix + "/bin/varnel-render' --frames 2 --out '" +
                              frame + "'",
                          &out),
              0)
        << out;
    EXPECT_NE(out.find(prefix + "/share/varnel/data"), std::string::npos) << out;
    const std::string built = scratch.path() + "/built.bmp";
    ASSERT_EQ(run_capture(std::string("'") + VARNEL_RENDER_PATH + "' --data '" + VARNEL_DEMO_DATA +
                              "' --frames 2 --out '" + built + "'",
                          &out),
              0)
        << out;
    EXPECT_EQ(read_file(frame), read_file(built));
}

}  // namespace
