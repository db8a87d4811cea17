// An imported model on its stage, as a user first sees it: whole and large
// in the first frame, standing on the studio ground, lit from above and to
// one side, its shadow thrown on the ground, and no specks of shadow on its
// own smooth surfaces. Package models and a smooth sphere of our own, with
// and without the ground, at 400 x 300 and 640 x 360.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "import_test_util.h"
#include "raster/views.h"
#include "scene/load3ds.h"

namespace {

const char* const testmodels = "/usr/share/assimp/models";

struct Views {
    RgbImage* frame = nullptr;
    RgbImage* shadow = nullptr;
    ~Views() {
        if (frame) rgb_image_free(frame);
        if (shadow) rgb_image_free(shadow);
    }
};

// The first frame of `dir` and its shadow view at `size`.
bool render_views(const std::string& dir, const char* size, Views* v) {
    const std::string out = dir + ".view.bmp";
    std::string log;
    if (run_capture(std::string("'") + VARNEL_RENDER_PATH + "' --data '" + dir + "' --frames 1 --size " + size +
                        " --out '" + out + "' --view frame --view shadow",
                    &log) != 0)
        return false;
    v->frame = bmp_read((dir + ".view-frame.bmp").c_str());
    v->shadow = bmp_read((dir + ".view-shadow.bmp").c_str());
    return v->frame && v->shadow;
}

// Sizes of the 4- or 8-connected pieces of `mask` (w x h); label[i] is the
// piece of pixel i (from 0), -1 outside the mask.
std::vector<long> pieces(const std::vector<uint8_t>& mask, int w, int h, bool eight, std::vector<int>* label) {
    label->assign(mask.size(), -1);
    std::vector<long> sizes;
    std::vector<int> stack;
    for (int start = 0; start < w * h; start++) {
        if (!mask[(size_t)start] || (*label)[(size_t)start] >= 0) continue;
        const int id = (int)sizes.size();
        sizes.push_back(0);
        stack.assign(1, start);
        (*label)[(size_t)start] = id;
        while (!stack.empty()) {
            const int p = stack.back();
            stack.pop_back();
            sizes.back()++;
            const int x = p % w, y = p / w;
            for (int dy = -1; dy <= 1; dy++)
                for (int dx = -1; dx <= 1; dx++) {
                    if ((!dx && !dy) || (!eight && dx && dy)) continue;
                    const int nx = x + dx, ny = y + dy, q = ny * w + nx;
                    if (nx < 0 || ny < 0 || nx >= w || ny >= h || !mask[(size_t)q] || (*label)[(size_t)q] >= 0) continue;
                    (*label)[(size_t)q] = id;
                    stack.push_back(q);
                }
        }
    }
    return sizes;
}

// The share of the lit and shadowed pixels that lie in specks: pieces of
// one verdict under 24 pixels whose every neighbour has the other verdict.
double speck_share(const RgbImage* shadow) {
    const int w = shadow->width, h = shadow->height;
    long specks = 0, tested = 0;
    for (uint32_t verdict : {(uint32_t)VIEW_LIT, (uint32_t)VIEW_NOT_FOUND}) {
        const uint32_t other = verdict == VIEW_LIT ? VIEW_NOT_FOUND : VIEW_LIT;
        std::vector<uint8_t> mask((size_t)w * h);
        for (size_t i = 0; i < mask.size(); i++) mask[i] = shadow->pixels[i] == verdict;
        std::vector<int> label;
        const std::vector<long> sizes = pieces(mask, w, h, false, &label);
        std::vector<uint8_t> enclosed(sizes.size(), 1);
        for (int p = 0; p < w * h; p++) {
            if (label[(size_t)p] < 0) continue;
            tested++;
            const int x = p % w, y = p / w;
            const int near[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
            for (const auto& n : near)
                if (n[0] < 0 || n[1] < 0 || n[0] >= w || n[1] >= h ||
                    (label[(size_t)(n[1] * w + n[0])] != label[(size_t)p] && shadow->pixels[n[1] * w + n[0]] != other))
                    enclosed[(size_t)label[(size_t)p]] = 0;
        }
        for (size_t i = 0; i < sizes.size(); i++)
            if (sizes[i] < 24 && enclosed[i]) specks += sizes[i];
    }
    return tested ? (double)specks / (double)tested : 0.0;
}

// A smooth sphere of 40 x 50 faces, as an OBJ file.
void write_sphere(const std::string& path) {
    const int rings = 40, sides = 50;
    std::string obj = "v 0 1 0\n";
    for (int i = 1; i < rings; i++)
        for (int j = 0; j < sides; j++) {
            const double t = M_PI * i / rings, p = 2 * M_PI * j / sides;
            obj += "v " + std::to_string(std::sin(t) * std::cos(p)) + " " + std::to_string(std::cos(t)) + " " +
                   std::to_string(std::sin(t) * std::sin(p)) + "\n";
        }
    obj += "v 0 -1 0\n";
    auto at = [&](int i, int j) { return std::to_string(2 + (i - 1) * sides + j % sides); };
    const std::string last = std::to_string(2 + (rings - 1) * sides);
    for (int j = 0; j < sides; j++) obj += "f 1 " + at(1, j + 1) + " " + at(1, j) + "\n";
    for (int i = 1; i + 1 < rings; i++)
        for (int j = 0; j < sides; j++)
            obj += "f " + at(i, j) + " " + at(i, j + 1) + " " + at(i + 1, j + 1) + "\nf " + at(i, j) + " " +
                   at(i + 1, j + 1) + " " + at(i + 1, j) + "\n";
    for (int j = 0; j < sides; j++) obj += "f " + at(rings - 1, j) + " " + at(rings - 1, j + 1) + " " + last + "\n";
    write_text(path, obj);
}

class ImportStage : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.ok()); }
    std::string at(const std::string& name) const { return scratch_.path() + "/" + name; }
    ScratchDir scratch_{"import_stage_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())};
};

// The whole first frame. The bare import (--ground none) places and lights
// the model the same: where it leaves black is the ground, on which the
// shadow view finds the model's shadow and the lit cone. The model's own
// pixels are the same in both, so the ground hides none of it.
TEST_F(ImportStage, ModelsStandOnTheGroundInTheLightWithTheirShadows) {
    write_sphere(at("sphere.obj"));
    const struct {
        std::string model;
        bool shadow;  // casts a shadow a frame shows (thin legs do not)
    } cases[] = {
        {at("sphere.obj"), true},
        {std::string(testmodels) + "/Collada/duck.dae", true},
        {std::string(testmodels) + "/MS3D/jeep1.ms3d", true},
        {std::string(testmodels) + "/MS3D/twospheres.ms3d", true},
        {std::string(testmodels) + "/OBJ/spider.obj", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        if (!file_exists(c.model)) {
            std::printf("[  SKIP    ] %s: the package assimp-testmodels is not installed (make deps)\n", c.model.c_str());
            continue;
        }
        std::string out;
        ASSERT_EQ(import_model(c.model, at("bare"), "--force --ground none --max 64", &out), 0) << out;
        EXPECT_NE(out.find("ground     none"), std::string::npos) << out;
        ASSERT_EQ(import_model(c.model, at("stage"), "--force --max 64", &out), 0) << out;
        EXPECT_NE(out.find("ground     studio"), std::string::npos) << out;
        for (const char* size : {"400x300", "640x360"}) {
            SCOPED_TRACE(size);
            Views bare, stage;
            ASSERT_TRUE(render_views(at("bare"), size, &bare));
            ASSERT_TRUE(render_views(at("stage"), size, &stage));
            const int w = bare.frame->width, h = bare.frame->height;
            int left = w, right = -1, top = h, bottom = -1;
            long ground = 0, shadowed = 0, lit = 0, model = 0, same = 0;
            std::vector<uint8_t> shade((size_t)w * h, 0);
            for (int i = 0; i < w * h; i++) {
                if (bare.frame->pixels[i]) {
                    left = std::min(left, i % w), right = std::max(right, i % w);
                    top = std::min(top, i / w), bottom = std::max(bottom, i / w);
                    model++;
                    same += stage.frame->pixels[i] == bare.frame->pixels[i];
                    continue;
                }
                ground++;
                shade[(size_t)i] = stage.shadow->pixels[i] == VIEW_NOT_FOUND;
                shadowed += shade[(size_t)i];
                lit += stage.shadow->pixels[i] == VIEW_LIT;
            }
            EXPECT_GE(left, 2);
            EXPECT_GE(top, 2);
            EXPECT_LE(right, w - 3);
            EXPECT_LE(bottom, h - 3);
            EXPECT_GE(bottom - top + 1, 0.45 * h) << "the model fills at least 45% of the frame's height";
            EXPECT_GE(same, model * 99 / 100) << "the ground hides none of the model";
            EXPECT_GE(ground, (long)w * h * 3 / 10) << "the ground fills the frame around the model";
            EXPECT_GE(lit, (long)w * h / 10) << "lit ground";
            EXPECT_LE(speck_share(bare.shadow), 0.015) << "no acne on the model";
            if (!c.shadow) continue;
            std::vector<int> label;
            const std::vector<long> sizes = pieces(shade, w, h, true, &label);
            EXPECT_GE(shadowed, (long)w * h / 50) << "the model's shadow on the ground";
            EXPECT_GE(sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end()), (long)w * h * 3 / 200);
        }
    }
}

// The ground under models whose lowest point is a flat plane, a single
// spike or a floor of their own: its top just below that point, the model
// whole above it; without "smooth", a dense sphere lit from the side shows
// acne, which the rule removes while the shadow it throws stays.
TEST_F(ImportStage, GroundUnderAnyShapeAndTheSmoothRule) {
    write_text(at("plane.obj"), "v -1 0 -1\nv 1 0 -1\nv 1 0 1\nv -1 0 1\nf 1 3 2\nf 1 4 3\n");
    write_text(at("spike.obj"), "v 0 0 0\nv 0.3 1.2 0.3\nv -0.3 1.2 0.3\nv 0 1.2 -0.3\nf 1 2 3\nf 1 3 4\nf 1 4 2\n"
                                "f 2 4 3\n");
    write_text(at("floor.obj"), "v -3 0 -3\nv 3 0 -3\nv 3 0 3\nv -3 0 3\nv 0 0 0\nv 0 2 0\nv 1 2 1\n"
                                "f 1 3 2\nf 1 4 3\nf 5 6 7\nf 5 7 6\n");
    for (const char* model : {"plane.obj", "spike.obj", "floor.obj"}) {
        SCOPED_TRACE(model);
        std::string out;
        ASSERT_EQ(import_model(at(model), at("data"), "--force --max 16", &out), 0) << out;
        Scene* world = scene_load(at("data/Svet.3ds").c_str());
        ASSERT_NE(world, nullptr);
        // The model's lowest point and farthest depth, then the ground's
        // height wherever it lies no deeper than that (its floor: the sweep
        // rises only behind the model).
        float model_low = 1e30f, model_far = -1e30f, ground_high = -1e30f;
        for (int pass = 0; pass < 2; pass++)
            for (int i = 0; i < world->object_count; i++) {
                const SceneObject& o = world->objects[i];
                if ((std::string(o.name) == "Ground") != (pass == 1)) continue;
                for (int v = 0; v < o.vertex_count; v++) {
                    const SceneVertex& p = o.vertices[v];
                    if (pass == 0) model_low = std::min(model_low, p.y), model_far = std::max(model_far, p.z);
                    else if (p.z <= model_far) ground_high = std::max(ground_high, p.y);
                }
            }
        scene_free(world);
        EXPECT_LT(ground_high, model_low) << "the ground's top lies below the model's lowest point";
    }

    write_sphere(at("sphere.obj"));
    std::string out;
    ASSERT_EQ(import_model(at("sphere.obj"), at("data"), "--force --ground none --max 16", &out), 0) << out;
    const std::string light = read_text(at("data/Light.txt"));
    ASSERT_NE(light.find("\nsmooth\n"), std::string::npos) << light;
    double specks[2];
    for (int smooth = 0; smooth < 2; smooth++) {
        std::string text = light;
        if (!smooth) text.erase(text.find("\nsmooth\n") + 1, 7);
        write_text(at("data/Light.txt"), text);
        Views v;
        ASSERT_TRUE(render_views(at("data"), "400x300", &v));
        specks[smooth] = speck_share(v.shadow);
    }
    EXPECT_GT(specks[0], 0.01) << "the plain test leaves acne on a dense sphere lit from the side";
    EXPECT_LT(specks[1], 0.005) << "the smooth rule removes it";
}

}  // namespace
