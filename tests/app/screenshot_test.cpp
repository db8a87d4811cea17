#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <dirent.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "app/screenshot.h"
#include "display/bmp.h"
#include "display/font.h"
#include "test_support.h"
#include "texture/image.h"

namespace {

uint32_t le32(const std::string& s, size_t at) {
    return (uint32_t)(uint8_t)s[at] | (uint32_t)(uint8_t)s[at + 1] << 8 |
           (uint32_t)(uint8_t)s[at + 2] << 16 | (uint32_t)(uint8_t)s[at + 3] << 24;
}

std::vector<uint32_t> frame(int width, int height) {  // 0x00RRGGBB
    std::vector<uint32_t> p((size_t)width * height);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            p[(size_t)y * width + x] = (uint32_t)(x & 0xFF) << 16 | (uint32_t)(y & 0xFF) << 8 | (uint32_t)((x * y) & 0xFF);
    return p;
}

std::vector<uint32_t> swapped(std::vector<uint32_t> p) {  // -> 0x00BBGGRR, top byte junk
    for (uint32_t& w : p) w = 0xA5000000u | (w & 0xFF00u) | ((w >> 16) & 0xFFu) | ((w & 0xFFu) << 16);
    return p;
}

std::vector<std::string> files_here() {
    std::vector<std::string> names;
    DIR* d = opendir(".");
    while (dirent* e = d ? readdir(d) : nullptr)
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    if (d) closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(BmpWriter, HeaderRowPaddingAndReadBack) {
    ScratchDir dir("bmp_write");
    ASSERT_TRUE(dir.ok());
    for (int w : {37, 38, 39, 40, 401}) {
        SCOPED_TRACE(w);
        const int h = 3;
        std::vector<uint32_t> original = frame(w, h), words = swapped(original);
        RgbImage image = {words.data(), w, h};
        ASSERT_EQ(bmp_write("out.bmp", &image), 1);
        std::string s = read_file("out.bmp");
        const size_t row = ((size_t)(w + 1) * 3) & ~(size_t)3;
        ASSERT_EQ(s.size(), 54 + row * h);
        EXPECT_EQ(s.substr(0, 2), "BM");
        EXPECT_EQ(le32(s, 2), s.size());
        EXPECT_EQ(le32(s, 10), 54u);
        EXPECT_EQ(le32(s, 14), 40u);
        EXPECT_EQ(le32(s, 18), (uint32_t)w);
        EXPECT_EQ(le32(s, 22), (uint32_t)h);
        EXPECT_EQ(le32(s, 26), 1u | 24u << 16);  // planes, bits
        EXPECT_EQ(le32(s, 30), 0u);
        EXPECT_EQ(le32(s, 34), row * h);
        EXPECT_EQ(le32(s, 38), 96u);
        EXPECT_EQ(le32(s, 42), 96u);
        // First file row is the bottom image row, blue-green-red per pixel.
        uint32_t last_left = original[(size_t)(h - 1) * w];
        EXPECT_EQ((uint8_t)s[54], (uint8_t)last_left);
        EXPECT_EQ((uint8_t)s[56], (uint8_t)(last_left >> 16));

        RgbImage* back = bmp_read("out.bmp");
        ASSERT_NE(back, nullptr) << bmp_error();
        EXPECT_EQ(std::vector<uint32_t>(back->pixels, back->pixels + w * h), original);
        rgb_image_free(back);
        EXPECT_EQ(files_here(), std::vector<std::string>{"out.bmp"});  // no temporaries left
    }
    if (std::system("convert -version >/dev/null 2>&1") == 0) {  // an independent reader agrees
        ASSERT_EQ(std::system("convert out.bmp -depth 8 rgb:out.rgb"), 0);
        std::string rgb = read_file("out.rgb");
        std::vector<uint32_t> original = frame(401, 3);
        ASSERT_EQ(rgb.size(), original.size() * 3);
        for (size_t i = 0; i < original.size(); i++)
            ASSERT_EQ((uint32_t)(uint8_t)rgb[3 * i] << 16 | (uint32_t)(uint8_t)rgb[3 * i + 1] << 8 | (uint8_t)rgb[3 * i + 2],
                      original[i]) << i;
    }
}

TEST(Screenshot, FirstFreeNamesAndReadBackEqualToTheFrame) {
    ScratchDir dir("screenshots");
    ASSERT_TRUE(dir.ok());
    // The frame as the frame buffer holds it, 0x00RRGGBB; it must stay as it is.
    std::vector<uint32_t> original = frame(SCREEN_WIDTH, SCREEN_HEIGHT), words = original;
    for (int i = 0; i < 17; i++) ASSERT_EQ(screenshot_save(words.data(), SCREEN_WIDTH, SCREEN_HEIGHT), 1);
    EXPECT_EQ(words, original);
    EXPECT_EQ(read_file("Screenshot 0.bmp").size(), 360054u);
    EXPECT_FALSE(read_file("Screenshot f.bmp").empty());
    EXPECT_FALSE(read_file("Screenshot10.bmp").empty());  // the seventeenth
    EXPECT_EQ(files_here().size(), 17u);

    RgbImage* back = bmp_read("Screenshot 1.bmp");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::vector<uint32_t>(back->pixels, back->pixels + SCREEN_WIDTH * SCREEN_HEIGHT), original);
    rgb_image_free(back);

    // A gap is filled first; a file already under a name is never touched.
    std::remove("Screenshot 3.bmp");
    write_file("Screenshot11.bmp", "not mine");
    ASSERT_EQ(screenshot_save(words.data(), SCREEN_WIDTH, SCREEN_HEIGHT), 1);
    EXPECT_EQ(read_file("Screenshot 3.bmp").size(), 360054u);
    ASSERT_EQ(screenshot_save(words.data(), SCREEN_WIDTH, SCREEN_HEIGHT), 1);
    EXPECT_EQ(read_file("Screenshot11.bmp"), "not mine");
    EXPECT_EQ(read_file("Screenshot12.bmp").size(), 360054u);
}

// A write cut short by the file size limit: the screenshot leaves no file,
// and bmp_write leaves the previous file of its name as it was.
TEST(Screenshot, ShortWriteLeavesNoPartialFile) {
    ScratchDir dir("short_write");
    ASSERT_TRUE(dir.ok());
    std::vector<uint32_t> words = frame(SCREEN_WIDTH, SCREEN_HEIGHT);
    RgbImage image = {words.data(), SCREEN_WIDTH, SCREEN_HEIGHT};
    write_file("out.bmp", "previous");

    int shot = -1, written = -1;
    {
        FileSizeLimit limit(100000);
        ASSERT_TRUE(limit.ok());
        shot = screenshot_save(words.data(), SCREEN_WIDTH, SCREEN_HEIGHT);
        written = bmp_write("out.bmp", &image);
    }

    EXPECT_EQ(shot, 0);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(read_file("out.bmp"), "previous");
    EXPECT_EQ(files_here(), std::vector<std::string>{"out.bmp"});

    // Without the limit the explicit name is replaced by the complete file.
    ASSERT_EQ(bmp_write("out.bmp", &image), 1);
    EXPECT_EQ(read_file("out.bmp").size(), 360054u);
    EXPECT_EQ(bmp_write("no such folder/out.bmp", &image), 0);
    EXPECT_EQ(bmp_write_new("out.bmp", &image), -1);
    RgbImage empty = {words.data(), 0, 5};
    EXPECT_EQ(bmp_write("empty.bmp", &empty), 0);
    EXPECT_EQ(files_here(), std::vector<std::string>{"out.bmp"});
}

}  // namespace
