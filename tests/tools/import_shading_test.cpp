// Faces without an image are shaded by the importer's fixed light: an
// untextured cube, tilted towards the camera, shows three faces in three
// shades of its one colour.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "import_test_util.h"

namespace {

// A unit cube in OBJ without materials, turned 35 degrees about y and then
// tilted 30 degrees about x, so its front, top and one side face the viewer
// of the square-on view.
std::string write_tilted_cube(const std::string& path) {
    const double turn = 35 * M_PI / 180, tilt = 30 * M_PI / 180;
    std::string obj;
    for (int i = 0; i < 8; i++) {
        double p[3] = {i & 1 ? 1.0 : -1.0, i & 2 ? 1.0 : -1.0, i & 4 ? 1.0 : -1.0};
        double x = std::cos(turn) * p[0] + std::sin(turn) * p[2], z = -std::sin(turn) * p[0] + std::cos(turn) * p[2];
        double y = std::cos(tilt) * p[1] - std::sin(tilt) * z;
        z = std::sin(tilt) * p[1] + std::cos(tilt) * z;
        char line[96];
        std::snprintf(line, sizeof line, "v %.6f %.6f %.6f\n", x, y, z);
        obj += line;
    }
    // Counter-clockwise seen from outside; vertex i has bit 0 = +x, 1 = +y, 2 = +z.
    obj += "f 1 3 4 2\nf 5 6 8 7\nf 1 2 6 5\nf 3 7 8 4\nf 1 5 7 3\nf 2 4 8 6\n";
    write_text(path, obj);
    return path;
}

TEST(ImportShading, UntexturedCubeShowsThreeShades) {
    ScratchDir scratch("import_shading");
    ASSERT_TRUE(scratch.ok());
    std::string out, dir = scratch.path() + "/data";
    ASSERT_EQ(import_model(write_tilted_cube(scratch.path() + "/cube.obj"), dir, "--view front", &out), 0) << out;
    std::remove((dir + "/Pos.txt").c_str());  // no marker in the picture
    RgbImage* frame = render_start_frame(dir);
    ASSERT_NE(frame, nullptr);
    std::map<uint32_t, long> counts;
    for (int i = 0; i < frame->width * frame->height; i++) counts[frame->pixels[i] & 0xFFFFFF]++;
    rgb_image_free(frame);
    // Faces large enough to see, lit apart by at least a few steps of grey.
    std::vector<int> shades;
    for (const auto& c : counts)
        if (c.first != 0 && c.second > 800) shades.push_back((int)(c.first & 255));
    ASSERT_GE(shades.size(), 3u) << out;
    std::sort(shades.begin(), shades.end());
    int distinct = 1;
    for (size_t i = 1; i < shades.size(); i++) distinct += shades[i] - shades[i - 1] >= 8;
    EXPECT_GE(distinct, 3) << out;
}

}  // namespace
