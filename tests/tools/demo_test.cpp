// The demo data folder as the program sees it: every file through the
// engine's own readers, the world's winding against the engine's facing
// test, and frames rendered from it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "asset_test_util.h"
#include "demo_fixture.h"
#include "display/bmp.h"
#include "display/font.h"
#include "scene/load3ds.h"
#include "texture/cone.h"
#include "texture/image.h"
#include "texture/texture.h"
#include "texture/tga.h"

namespace {

const Vec3 start_eye = {0.0f, 30.0f, -50.0f};

Vec3 position(const SceneVertex* v) { return Vec3{v->x, v->y, v->z}; }

Vec3 sub(Vec3 a, Vec3 b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 cross(Vec3 a, Vec3 b) { return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// The object pass's facing test: drawn when s <= 0.1.
float facing_distance(const SceneFace& f, Vec3 eye) {
    return f.plane_nx * eye.x + f.plane_ny * eye.y + f.plane_nz * eye.z + f.plane_d;
}

Vec3 centroid(const SceneFace& f) {
    Vec3 a = position(f.corners[0]), b = position(f.corners[1]), c = position(f.corners[2]);
    return Vec3{(a.x + b.x + c.x) / 3, (a.y + b.y + c.y) / 3, (a.z + b.z + c.z) / 3};
}

// Ray o + t d against a triangle, t in (lo, hi); both sides count.
bool ray_hits(Vec3 o, Vec3 d, const SceneFace& f, float lo, float hi) {
    Vec3 a = position(f.corners[0]), b = position(f.corners[1]), c = position(f.corners[2]);
    Vec3 e1 = sub(b, a), e2 = sub(c, a), p = cross(d, e2);
    float det = dot(e1, p);
    if (std::fabs(det) < 1e-9f) return false;
    float inv = 1.0f / det;
    Vec3 s = sub(o, a);
    float u = dot(s, p) * inv;
    if (u < 0.0f || u > 1.0f) return false;
    Vec3 q = cross(s, e1);
    float v = dot(d, q) * inv;
    if (v < 0.0f || u + v > 1.0f) return false;
    float t = dot(e2, q) * inv;
    return t > lo && t < hi;
}

bool occluded(const Scene* scene, Vec3 eye, Vec3 target, const SceneFace* self) {
    Vec3 d = sub(target, eye);
    for (int i = 0; i < scene->object_count; i++)
        for (int j = 0; j < scene->objects[i].face_count; j++) {
            const SceneFace& f = scene->objects[i].faces[j];
            if (&f != self && ray_hits(eye, d, f, 1e-4f, 0.999f)) return true;
        }
    return false;
}

// Every face whose middle an eye can see must turn its drawn side to that
// eye. Returns the number of faces checked.
int check_visible_faces(const Scene* scene, Vec3 eye) {
    int visible = 0;
    for (int i = 0; i < scene->object_count; i++)
        for (int j = 0; j < scene->objects[i].face_count; j++) {
            const SceneFace& f = scene->objects[i].faces[j];
            if (occluded(scene, eye, centroid(f), &f)) continue;
            visible++;
            EXPECT_LE(facing_distance(f, eye), 0.1f)
                << scene->objects[i].name << " face " << j << " is seen from its culled side";
        }
    return visible;
}

int object_index(const Scene* scene, const char* name) {
    for (int i = 0; i < scene->object_count; i++)
        if (std::strcmp(scene->objects[i].name, name) == 0) return i;
    return -1;
}

TEST_F(DemoData, WorldLoadsWithMaterialsOnEveryFace) {
    Scene* world = scene_load(file("Svet.3ds").c_str());
    ASSERT_NE(world, nullptr) << scene_load_error();
    EXPECT_GE(world->material_count, 4);
    int faces = 0;
    for (int i = 0; i < world->object_count; i++) {
        const SceneObject& o = world->objects[i];
        faces += o.face_count;
        for (int j = 0; j < o.face_count; j++) {
            ASSERT_GE(o.faces[j].material_index, 0) << o.name;
            ASSERT_LT(o.faces[j].material_index, world->material_count) << o.name;
        }
    }
    EXPECT_GE(faces, 2000);
    EXPECT_LE(faces, 8000);
    for (const char* name : {"Floor", "WallLeft", "WallRight", "WallFar", "Crates", "Steps", "ArcadeLeft"})
        EXPECT_GE(object_index(world, name), 0) << name;
    Scene* star = scene_load(file("Star.3ds").c_str());
    ASSERT_NE(star, nullptr) << scene_load_error();
    ASSERT_EQ(star->material_count, 1);
    for (int i = 0; i < world->material_count; i++)
        EXPECT_STRNE(world->materials[i].name, star->materials[0].name) << "the marker has its own material";
    scene_free(star);
    scene_free(world);
}

TEST_F(DemoData, FloorAndInnerWallsFaceTheStartCamera) {
    Scene* world = scene_load(file("Svet.3ds").c_str());
    ASSERT_NE(world, nullptr) << scene_load_error();
    const SceneObject& floor = world->objects[object_index(world, "Floor")];
    for (int j = 0; j < floor.face_count; j++) ASSERT_LE(facing_distance(floor.faces[j], start_eye), 0.1f) << j;
    // Side walls: the inner face (|x| = 200) is drawn, the outer (|x| = 216)
    // culled, and each covers the courtyard's length (580) at full height.
    for (const char* name : {"WallLeft", "WallRight"}) {
        const SceneObject& wall = world->objects[object_index(world, name)];
        double inner = 0, outer = 0;
        for (int j = 0; j < wall.face_count; j++) {
            const SceneFace& f = wall.faces[j];
            Vec3 a = position(f.corners[0]), b = position(f.corners[1]), c = position(f.corners[2]);
            Vec3 n = cross(sub(b, a), sub(c, a));
            double area = 0.5 * std::sqrt(dot(n, n));
            float x = std::fabs(centroid(f).x);
            if (std::fabs(x - 200.0f) < 0.01f && std::fabs(f.plane_nx) > 0.99f) {
                inner += area;
                EXPECT_LE(facing_distance(f, start_eye), 0.1f) << name << " face " << j;
            } else if (std::fabs(x - 216.0f) < 0.01f) {
                outer += area;
                EXPECT_GT(facing_distance(f, start_eye), 0.1f) << name << " face " << j;
            }
        }
        EXPECT_GE(inner, 580.0 * 130.0) << name;
        EXPECT_GE(outer, 580.0 * 130.0) << name;
    }
    scene_free(world);
}

TEST_F(DemoData, EveryFaceSeenFromInsideTheCourtyardIsDrawnFromThatSide) {
    Scene* world = scene_load(file("Svet.3ds").c_str());
    ASSERT_NE(world, nullptr) << scene_load_error();
    EXPECT_GT(check_visible_faces(world, start_eye), 600);
    // In the left arcade's walk, above the middle, and by the landing.
    for (Vec3 eye : {Vec3{160, 20, 300}, Vec3{-20, 110, 100}, Vec3{30, 45, 440}, Vec3{-185, 60, -120}}) {
        SCOPED_TRACE(testing::Message() << "eye " << eye.x << "," << eye.y << "," << eye.z);
        EXPECT_GT(check_visible_faces(world, eye), 200);
    }
    Scene* star = scene_load(file("Star.3ds").c_str());
    ASSERT_NE(star, nullptr);
    for (Vec3 eye : {Vec3{0, 0, -30}, Vec3{0, 0, 30}, Vec3{30, 10, 0}, Vec3{-5, -40, 3}})
        EXPECT_GT(check_visible_faces(star, eye), 5);
    scene_free(star);
    scene_free(world);
}

TEST_F(DemoData, EveryMaterialHasARipMappedTextureOfPowerOfTwoSize) {
    char folder[512];
    std::snprintf(folder, sizeof folder, "%s", file("Textures").c_str());
    for (const char* name : {"Svet.3ds", "Star.3ds"}) {
        Scene* scene = scene_load(file(name).c_str());
        ASSERT_NE(scene, nullptr);
        ASSERT_EQ(bind_material_textures(scene, folder), 1) << texture_error();
        for (int m = 0; m < scene->material_count; m++) {
            SCOPED_TRACE(scene->materials[m].name);
            const Texture* t = scene->materials[m].texture;
            ASSERT_NE(t, nullptr);
            ASSERT_GE(t->base_width, 32);
            ASSERT_EQ(t->base_width & (t->base_width - 1), 0);
            ASSERT_EQ(t->base_height & (t->base_height - 1), 0);
            int lx = 0, ly = 0;
            while ((2 << (lx + 1)) <= 2 * t->base_width) lx++;
            while ((2 << (ly + 1)) <= 2 * t->base_height) ly++;
            EXPECT_EQ(t->level_count_x, lx);
            EXPECT_EQ(t->level_count_y, ly);
            // Not a flat colour: the base level uses many palette entries
            // and its brightness varies.
            const TextureLevel& base = t->levels[0];
            std::set<int> used(base.texels, base.texels + base.width * base.height);
            EXPECT_GE(used.size(), 48u);
            double sum = 0, sum2 = 0;
            for (int i = 0; i < base.width * base.height; i++) {
                uint32_t c = t->shade_table[base.texels[i] * 64 + 63];
                double y = 0.3 * (c >> 16 & 255) + 0.59 * (c >> 8 & 255) + 0.11 * (c & 255);
                sum += y, sum2 += y * y;
            }
            double n = base.width * base.height, sd = std::sqrt(sum2 / n - (sum / n) * (sum / n));
            EXPECT_GT(sd, 8.0);
            // Each reduction keeps the base's mean colour: a box filter, not
            // a cut-out of part of the base.
            auto mean = [&](const TextureLevel& l) {
                double r = 0, g = 0, b = 0;
                for (int i = 0; i < l.width * l.height; i++) {
                    uint32_t c = t->shade_table[l.texels[i] * 64 + 63];
                    r += c >> 16 & 255, g += c >> 8 & 255, b += c & 255;
                }
                double k = 1.0 / (l.width * l.height);
                return std::vector<double>{r * k, g * k, b * k};
            };
            std::vector<double> m0 = mean(base);
            for (int b = 0; b < t->level_count_y; b++)
                for (int a = 0; a < t->level_count_x; a++) {
                    const TextureLevel& l = t->levels[a + b * t->level_count_x];
                    ASSERT_EQ(l.width, t->base_width >> a);
                    ASSERT_EQ(l.height, t->base_height >> b);
                    std::vector<double> ml = mean(l);
                    for (int c = 0; c < 3; c++) EXPECT_NEAR(ml[c], m0[c], 6.0) << "level " << a << "," << b;
                }
        }
        // Textures are owned by the materials; free them with the scene.
        for (int m = 0; m < scene->material_count; m++) texture_free(scene->materials[m].texture);
        scene_free(scene);
    }
}

TEST_F(DemoData, ConeIsRoundAtTheMaskThreshold) {
    RgbImage* cone = tga_read_rgb(file("Cone.tga").c_str());
    ASSERT_NE(cone, nullptr) << tga_error();
    RgbImage* mask = cone_mask_resample(cone, 400, 300);
    ASSERT_NE(mask, nullptr);
    ASSERT_EQ(mask->width, 400);
    ASSERT_EQ(mask->height, 300);
    // Walk out from the centre in 24 directions to the first unlit pixel.
    std::vector<double> radii;
    for (int k = 0; k < 24; k++) {
        double a = k * 3.14159265 / 12.0;
        double r = 0;
        for (; r < 200; r += 0.25) {
            int x = (int)(200 + r * std::cos(a)), y = (int)(150 + r * std::sin(a));
            if (x < 0 || x >= 400 || y < 0 || y >= 300 || (mask->pixels[y * 400 + x] & 255) < 120) break;
        }
        radii.push_back(r);
    }
    double lo = radii[0], hi = radii[0];
    for (double r : radii) lo = std::fmin(lo, r), hi = std::fmax(hi, r);
    EXPECT_LT(hi - lo, 2.0);
    EXPECT_GT(lo, 90.0);
    EXPECT_LT(hi, 148.0);
    EXPECT_EQ(mask->pixels[150 * 400 + 200] & 255, 255u);
    EXPECT_EQ(mask->pixels[0] & 255, 0u);
    rgb_image_free(mask);
}

TEST_F(DemoData, FontAtlasHoldsADistinctLightGlyphForEveryPrintableCode) {
    RgbImage* atlas = bmp_read(file("Font.bmp").c_str());
    ASSERT_NE(atlas, nullptr) << bmp_error();
    ASSERT_GE(atlas->width, 176);
    ASSERT_GE(atlas->height, 78);
    std::set<std::vector<uint32_t>> cells;
    for (int c = 32; c < 127; c++) {
        int cx = (c & 15) * 11, cy = ((c - 32) / 16) * 13, bright = 0;
        std::vector<uint32_t> cell;
        for (int y = 0; y < 13; y++)
            for (int x = 0; x < 11; x++) {
                uint32_t p = atlas->pixels[(cy + y) * atlas->width + cx + x];
                cell.push_back(p);
                bright += (p >> 8 & 255) >= 160;
            }
        if (c == 32) {
            EXPECT_EQ(bright, 0) << "the space is blank";
        } else {
            EXPECT_GE(bright, c == '.' || c == '\'' || c == '`' ? 1 : 2) << "code " << c;
        }
        cells.insert(cell);
    }
    EXPECT_EQ(cells.size(), 95u) << "two codes share a glyph";
    rgb_image_free(atlas);
}

// Start camera projection: world +x is on the left, focal length 200.
bool project_start(Vec3 p, float* sx, float* sy) {
    float z = p.z - start_eye.z;
    if (z < 1.0f) return false;
    *sx = 200.0f - 200.0f * (p.x - start_eye.x) / z;
    *sy = 150.0f - 200.0f * (p.y - start_eye.y) / z;
    return true;
}

TEST_F(DemoData, MarkerPathIsAClosedLoopInTheLitViewOfTheStartCamera) {
    FILE* f = std::fopen(file("Pos.txt").c_str(), "r");
    ASSERT_NE(f, nullptr);
    int n = 0;
    ASSERT_EQ(std::fscanf(f, "%d", &n), 1);
    ASSERT_GE(n, 8);
    ASSERT_LE(n, 16);
    std::vector<Vec3> points(n);
    for (Vec3& p : points) ASSERT_EQ(std::fscanf(f, "%f %f %f", &p.x, &p.y, &p.z), 3);
    std::fclose(f);
    Scene* world = scene_load(file("Svet.3ds").c_str());
    ASSERT_NE(world, nullptr);
    for (int i = 0; i < n; i++) {
        SCOPED_TRACE(i);
        // Along each segment: above the floor by more than the star's size,
        // in front of the camera inside the cone, and in plain view.
        for (int k = 0; k < 4; k++) {
            Vec3 a = points[i], b = points[(i + 1) % n];
            float t = k / 4.0f;
            Vec3 p = {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t};
            EXPECT_GT(p.y, 10.0f);
            float sx, sy;
            ASSERT_TRUE(project_start(p, &sx, &sy));
            EXPECT_LT(std::hypot(sx - 200.0f, sy - 150.0f), 110.0f);
            EXPECT_FALSE(occluded(world, start_eye, p, nullptr));
        }
    }
    scene_free(world);
}

TEST(DemoFolder, NeverReplacesAUsersFilesWithoutForce) {
    ScratchFolder dir("demo_folder");
    ASSERT_TRUE(dir.ok());
    ASSERT_EQ(mkdir("mine", 0755), 0);
    write_text("mine/Svet.3ds", "my own world");
    EXPECT_NE(run_exit_code(tool_command("demo mine 2>err.txt")), 0);
    EXPECT_EQ(read_text("mine/Svet.3ds"), "my own world");
    EXPECT_NE(read_text("err.txt").find("--force"), std::string::npos);
    EXPECT_FALSE(file_exists("mine/Textures"));
    EXPECT_EQ(run_exit_code(tool_command("demo --force mine >/dev/null")), 0);
    EXPECT_NE(read_text("mine/Svet.3ds"), "my own world");
    // A folder the tool made, or an empty one, is regenerated freely.
    EXPECT_EQ(run_exit_code(tool_command("demo made >/dev/null")), 0);
    EXPECT_EQ(run_exit_code(tool_command("demo made >/dev/null")), 0);
    ASSERT_EQ(mkdir("empty", 0755), 0);
    EXPECT_EQ(run_exit_code(tool_command("demo empty >/dev/null")), 0);
    EXPECT_EQ(read_text("made/Svet.3ds"), read_text("empty/Svet.3ds"));
    EXPECT_EQ(run_exit_code(tool_command("demo empty >/dev/null")), 0);
    EXPECT_EQ(run_exit_code("ls -A made made/Textures | grep -q partial"), 1) << "temporary files left behind";
    EXPECT_NE(run_exit_code(tool_command("demo 2>/dev/null")), 0);
}

bool have_convert() { return run_exit_code("command -v convert >/dev/null 2>&1") == 0; }

TEST(TextureCommand, TurnsPngAndJpegIntoLoadableTextures) {
    if (!have_convert()) GTEST_SKIP() << "ImageMagick convert is needed to make the input images";
    ScratchFolder dir("texture_command");
    ASSERT_TRUE(dir.ok());
    ASSERT_EQ(run_exit_code("convert -size 300x200 gradient:red-blue in.png"), 0);
    ASSERT_EQ(run_exit_code("convert -size 64x20 gradient:white-black -quality 95 in.jpg"), 0);
    struct Case {
        const char* args;
        const char* out;
        int base_width, base_height;  // nearest powers of two, within --max
    };
    for (Case c : {Case{"in.png a.tga", "a.tga", 256, 256}, Case{"--max 64 in.png b.tga", "b.tga", 64, 64},
                   Case{"in.jpg c.tga", "c.tga", 64, 16}}) {
        SCOPED_TRACE(c.args);
        ASSERT_EQ(run_exit_code(tool_command(std::string("texture ") + c.args + " >/dev/null")), 0);
        Texture* t = texture_load(c.out);
        ASSERT_NE(t, nullptr) << texture_error();
        EXPECT_EQ(t->base_width, c.base_width);
        EXPECT_EQ(t->base_height, c.base_height);
        // The image's top stays on top: first row red or white, last row
        // blue or black, through the palette.
        const TextureLevel& base = t->levels[0];
        auto row_mean = [&](int y, int shift) {
            double sum = 0;
            for (int x = 0; x < base.width; x++) sum += t->shade_table[base.texels[y * base.width + x] * 64 + 63] >> shift & 255;
            return sum / base.width;
        };
        EXPECT_GT(row_mean(0, 16), row_mean(base.height - 1, 16) + 150) << "red channel, top against bottom";
        texture_free(t);
    }
    std::string before = read_text("a.tga");
    EXPECT_NE(run_exit_code(tool_command("texture in.jpg a.tga 2>/dev/null")), 0);
    EXPECT_EQ(read_text("a.tga"), before);
    EXPECT_EQ(run_exit_code(tool_command("texture --force in.jpg a.tga >/dev/null")), 0);
    EXPECT_NE(read_text("a.tga"), before);
    write_text("junk.png", "\x89PNG\r\n\x1a\n not really");
    EXPECT_NE(run_exit_code(tool_command("texture junk.png junk.tga 2>/dev/null")), 0);
    EXPECT_NE(run_exit_code(tool_command("texture missing.png junk.tga 2>/dev/null")), 0);
    // A named pipe is refused at once instead of waiting for a writer.
    ASSERT_EQ(run_exit_code("mkfifo pipe.png"), 0);
    EXPECT_EQ(run_exit_code("timeout 10 " + tool_command("texture pipe.png junk.tga 2>/dev/null")), 1);
    EXPECT_NE(run_exit_code(tool_command("texture --max 100 in.png junk.tga 2>/dev/null")), 0);
    EXPECT_FALSE(file_exists("junk.tga"));
}

TEST(FontAndConeCommands, MakeFilesTheEngineReads) {
    ScratchFolder dir("font_cone_commands");
    ASSERT_TRUE(dir.ok());
    ASSERT_EQ(run_exit_code(tool_command("font /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf f.bmp")), 0);
    RgbImage* atlas = bmp_read("f.bmp");
    ASSERT_NE(atlas, nullptr) << bmp_error();
    EXPECT_EQ(atlas->width, 176);
    EXPECT_EQ(atlas->height, 78);
    rgb_image_free(atlas);
    EXPECT_NE(run_exit_code(tool_command("font /no/such/font.ttf g.bmp 2>/dev/null")), 0);
    EXPECT_NE(run_exit_code(tool_command("font /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf f.bmp 2>/dev/null")), 0);
    EXPECT_FALSE(file_exists("g.bmp"));

    // A square cone image holds an ellipse that the stretch to 400 x 300 makes round.
    ASSERT_EQ(run_exit_code(tool_command("cone --width 256 --height 256 --radius 100 c.tga")), 0);
    RgbImage* cone = tga_read_rgb("c.tga");
    ASSERT_NE(cone, nullptr) << tga_error();
    ASSERT_EQ(cone->width, 256);
    RgbImage* mask = cone_mask_resample(cone, 400, 300);
    ASSERT_NE(mask, nullptr);
    int right = 0, down = 0;
    while (right < 199 && (mask->pixels[150 * 400 + 200 + right] & 255) >= 120) right++;
    while (down < 149 && (mask->pixels[(150 + down) * 400 + 200] & 255) >= 120) down++;
    EXPECT_NEAR(right, 100, 3);
    EXPECT_NEAR(down, 100, 3);
    rgb_image_free(mask);
    EXPECT_NE(run_exit_code(tool_command("cone --width 0 d.tga 2>/dev/null")), 0);
    EXPECT_FALSE(file_exists("d.tga"));
}

}  // namespace
