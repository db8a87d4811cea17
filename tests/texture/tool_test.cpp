#include <gtest/gtest.h>

#include "tga_files.h"

namespace {

std::string tool(const std::string& args) { return std::string("'") + VARNEL_TOOL_PATH + "' " + args; }

int exit_code(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ToolDecode, WritesWhatTheReadersMakeAsRgbPpm) {
    ScratchDir dir("tool_decode");
    ASSERT_TRUE(dir.ok());
    // Top-first 2 x 1 true colour: pixel (B 1, G 2, R 3), then (B 4, G 5, R 6).
    Bytes tga = tga_header(2, 2, 1, 24, 0x20);
    append(&tga, Bytes{1, 2, 3, 4, 5, 6});
    write_bytes("in.tga", tga);
    ASSERT_EQ(exit_code(tool("decode in.tga out.ppm")), 0);
    EXPECT_EQ(read_file("out.ppm"), std::string("P6\n2 1\n255\n\x03\x02\x01\x06\x05\x04", 17));

    // --indexed applies the palette; an index past the map is black.
    write_bytes("map.tga", tga_indexed_file(2, 1, {0x00102030}, Bytes{0, 9}));
    ASSERT_EQ(exit_code(tool("decode --indexed map.tga out.ppm")), 0);
    EXPECT_EQ(read_file("out.ppm"), std::string("P6\n2 1\n255\n\x10\x20\x30\0\0\0", 17));

    // BMP rows: blue, green, red, padded to 4 bytes; the PPM is red first.
    Bytes bmp(54, 0);
    bmp[0] = 'B', bmp[1] = 'M', bmp[10] = 54, bmp[14] = 40, bmp[18] = 1, bmp[22] = 1, bmp[26] = 1, bmp[28] = 24;
    append(&bmp, Bytes{7, 8, 9, 0});
    write_bytes("in.bmp", bmp);
    ASSERT_EQ(exit_code(tool("decode in.bmp out.ppm")), 0);
    EXPECT_EQ(read_file("out.ppm"), std::string("P6\n1 1\n255\n\x09\x08\x07", 14));
}

TEST(ToolDecode, RejectedFilesGiveOneLineAndNoOutput) {
    ScratchDir dir("tool_reject");
    ASSERT_TRUE(dir.ok());
    Bytes bad = tga_header(1, 2, 2, 8, 0, 300);
    write_bytes("bad.tga", bad);
    write_bytes("true.tga", tga_header(2, 1, 1, 24, 0));  // its pixel is missing
    write_file("bad.bmp", "BM not really");
    for (const char* args : {"decode bad.tga out.ppm", "decode --indexed true.tga out.ppm",
                             "decode bad.bmp out.ppm", "decode missing.tga out.ppm", "texture-info bad.tga"}) {
        SCOPED_TRACE(args);
        EXPECT_NE(exit_code(tool(args) + " 2>err.txt"), 0);
        std::string err = read_file("err.txt");
        EXPECT_FALSE(err.empty());
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
        EXPECT_TRUE(read_file("out.ppm").empty());
    }
}

// The readers take regular files only: a pipe is refused at once (under a
// time limit, so a reader that waits on it fails instead of hanging the
// suite), and a /proc file, whose size reads as 0, is no empty scene.
TEST(ToolReaders, RefuseWhatIsNotARegularFile) {
    ScratchDir dir("tool_not_regular");
    ASSERT_TRUE(dir.ok());
    ASSERT_EQ(system("mkfifo pipe.3ds pipe.tga pipe.bmp"), 0);
    const struct {
        const char* args;
        const char* says;
    } cases[] = {{"info pipe.3ds", "pipe.3ds: not a regular file"},
                 {"split 1 pipe.3ds out.3ds", "pipe.3ds: not a regular file"},
                 {"decode pipe.tga out.ppm", "pipe.tga: not a regular file"},
                 {"decode pipe.bmp out.ppm", "pipe.bmp: not a regular file"},
                 {"texture-info pipe.tga", "pipe.tga: not a regular file"},
                 {"info /dev/null", "/dev/null: not a regular file"},
                 {"info /proc/version", "/proc/version: not a 3DS file"},
                 {"split 2 /proc/cpuinfo out.3ds", "/proc/cpuinfo: not a 3DS file"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        EXPECT_EQ(exit_code("timeout 20 " + tool(c.args) + " 2>err.txt >/dev/null"), 1);
        EXPECT_NE(read_file("err.txt").find(c.says), std::string::npos) << read_file("err.txt");
    }
    EXPECT_TRUE(read_file("out.3ds").empty());
    EXPECT_TRUE(read_file("out.ppm").empty());
}

TEST(ToolTextureInfo, ListsEveryLevel) {
    ScratchDir dir("tool_texture_info");
    ASSERT_TRUE(dir.ok());
    std::vector<uint32_t> palette{0};
    write_bytes("t.tga", tga_indexed_file(256, 64, palette, Bytes(256 * 64, 0)));
    ASSERT_EQ(exit_code(tool("texture-info t.tga >out.txt")), 0);
    std::string out = read_file("out.txt");
    EXPECT_NE(out.find("levels 7 x 5"), std::string::npos) << out;
    EXPECT_NE(out.find("level 0,0: 128 x 32"), std::string::npos) << out;
    EXPECT_NE(out.find("level 0,4: 128 x 2"), std::string::npos) << out;
    EXPECT_NE(out.find("level 6,4: 2 x 2"), std::string::npos) << out;
}

}  // namespace
