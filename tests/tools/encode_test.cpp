// The asset encoders, read back through the engine's own readers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "asset/asset_file.h"
#include "asset/image_encode.h"
#include "asset/mesh.h"
#include "asset/ripmap.h"
#include "asset/write3ds.h"
#include "asset_test_util.h"
#include "display/bmp.h"
#include "display/font.h"
#include "png_write.h"
#include "scene/load3ds.h"
#include "texture/image.h"
#include "texture/texture.h"
#include "texture/tga.h"

namespace {

int write_buffer(const char* path, const ByteBuffer& b) {
    return asset_file_write(path, b.data(), b.size(), ASSET_REPLACE);
}

// Walks the packets of a type 9 file row by row; false when a packet runs
// past its row or the data ends early.
bool packets_stay_in_rows(const ByteBuffer& file, int width, int height) {
    size_t at = 18 + 256 * 3;
    for (int row = 0; row < height; row++) {
        int filled = 0;
        while (filled < width) {
            if (at >= file.size()) return false;
            uint8_t h = file[at++];
            int n = (h & 0x7F) + 1;
            at += (h & 0x80) ? 1 : (size_t)n;
            filled += n;
        }
        if (filled != width) return false;
    }
    return at == file.size();
}

TEST(TgaEncode, IndexedRunLengthReadsBackExactly) {
    ScratchFolder dir("encode_tga");
    ASSERT_TRUE(dir.ok());
    Rgba8 palette[3] = {{255, 128, 64, 255}, {1, 2, 3, 255}, {0, 0, 0, 255}};
    // Widths around the 128-pixel packet limit; long runs, short runs, noise.
    for (int width : {1, 3, 127, 128, 129, 300}) {
        SCOPED_TRACE(width);
        const int height = 5;
        std::vector<uint8_t> pixels((size_t)width * height);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                pixels[(size_t)y * width + x] = (uint8_t)(y == 0 ? 1 : y == 1 ? (x * 7 + x / 3) % 3 : (x / (y + 1)) % 3);
        ByteBuffer file;
        ASSERT_TRUE(tga_encode_indexed_rle(pixels.data(), width, height, palette, 3, &file));
        EXPECT_TRUE(packets_stay_in_rows(file, width, height));
        ASSERT_TRUE(write_buffer("t.tga", file));
        IndexedImage* image = tga_read_indexed("t.tga");
        ASSERT_NE(image, nullptr) << tga_error();
        EXPECT_EQ(image->width, width);
        EXPECT_EQ(image->height, height);
        EXPECT_EQ(image->palette_count, 256);
        EXPECT_EQ(image->palette[0], 0x00FF8040u);
        EXPECT_EQ(image->palette[1], 0x00010203u);
        EXPECT_EQ(image->palette[255], 0u);
        EXPECT_EQ(std::memcmp(image->pixels, pixels.data(), pixels.size()), 0);
        indexed_image_free(image);
    }
    std::vector<uint8_t> one(1);
    ByteBuffer unused;
    EXPECT_FALSE(tga_encode_indexed_rle(one.data(), 0, 1, palette, 3, &unused));
    EXPECT_FALSE(tga_encode_indexed_rle(one.data(), 1, 1, palette, 257, &unused));
}

TEST(TgaEncode, GreyReadsBackAsGreyPixels) {
    ScratchFolder dir("encode_grey");
    ASSERT_TRUE(dir.ok());
    const int w = 5, h = 3;
    std::vector<uint8_t> grey(w * h);
    for (int i = 0; i < w * h; i++) grey[i] = (uint8_t)(i * 17);
    ByteBuffer file;
    ASSERT_TRUE(tga_encode_grey(grey.data(), w, h, &file));
    ASSERT_TRUE(write_buffer("g.tga", file));
    RgbImage* image = tga_read_rgb("g.tga");
    ASSERT_NE(image, nullptr) << tga_error();
    ASSERT_EQ(image->width, w);
    ASSERT_EQ(image->height, h);
    for (int i = 0; i < w * h; i++) EXPECT_EQ(image->pixels[i], grey[i] * 0x010101u) << i;
    rgb_image_free(image);
}

TEST(BmpEncode, PaddedRowsReadBackAsRgbWords) {
    ScratchFolder dir("encode_bmp");
    ASSERT_TRUE(dir.ok());
    for (int w : {1, 2, 3, 5, 8}) {
        SCOPED_TRACE(w);
        const int h = 3;
        std::vector<Rgba8> px((size_t)w * h);
        for (int i = 0; i < w * h; i++) px[i] = Rgba8{(uint8_t)(i * 9), (uint8_t)(200 - i), (uint8_t)(i * 3 + 1), 255};
        ByteBuffer file;
        ASSERT_TRUE(bmp_encode_rgb(px.data(), w, h, &file));
        ASSERT_TRUE(write_buffer("f.bmp", file));
        RgbImage* image = bmp_read("f.bmp");
        ASSERT_NE(image, nullptr) << bmp_error();
        ASSERT_EQ(image->width, w);
        ASSERT_EQ(image->height, h);
        for (int i = 0; i < w * h; i++)
            EXPECT_EQ(image->pixels[i], (uint32_t)px[i].r << 16 | (uint32_t)px[i].g << 8 | px[i].b) << i;
        rgb_image_free(image);
    }
}

// Box mean of the base over 2^a x 2^b blocks: the oracle for every level.
Rgba8 block_mean(const std::vector<Rgba8>& base, int bw, int x, int y, int a, int b) {
    int sum[3] = {0, 0, 0}, n = 0;
    for (int j = y << b; j < (y + 1) << b; j++)
        for (int i = x << a; i < (x + 1) << a; i++, n++) {
            const Rgba8& p = base[(size_t)j * bw + i];
            sum[0] += p.r, sum[1] += p.g, sum[2] += p.b;
        }
    return Rgba8{(uint8_t)((sum[0] + n / 2) / n), (uint8_t)((sum[1] + n / 2) / n), (uint8_t)((sum[2] + n / 2) / n), 255};
}

std::vector<Rgba8> test_base(int bw, int bh) {
    std::vector<Rgba8> base((size_t)bw * bh);
    for (int y = 0; y < bh; y++)
        for (int x = 0; x < bw; x++)
            base[(size_t)y * bw + x] = Rgba8{(uint8_t)(x * 255 / (bw - 1)), (uint8_t)(y * 255 / (bh - 1)),
                                             (uint8_t)(((x / 4 + y / 4) & 1) * 200), 255};
    return base;
}

TEST(Ripmap, EveryLevelIsTheBoxFilteredBaseAtItsPlace) {
    const int bw = 32, bh = 8;  // file 64 x 16: 5 x 3 levels
    std::vector<Rgba8> base = test_base(bw, bh), atlas;
    ASSERT_TRUE(ripmap_build(base.data(), bw, bh, &atlas));
    const int W = 2 * bw, H = 2 * bh;
    ASSERT_EQ(atlas.size(), (size_t)W * H);
    int checked = 0;
    for (int b = 0; b < 3; b++)
        for (int a = 0; a < 5; a++) {
            const int x0 = W - (W >> a), y0 = H - (H >> b);
            for (int y = 0; y < (H >> (b + 1)); y++)
                for (int x = 0; x < (W >> (a + 1)); x++, checked++) {
                    Rgba8 want = block_mean(base, bw, x, y, a, b);
                    Rgba8 got = atlas[(size_t)(y0 + y) * W + x0 + x];
                    ASSERT_TRUE(got.r == want.r && got.g == want.g && got.b == want.b)
                        << "level " << a << "," << b << " texel " << x << "," << y;
                }
        }
    EXPECT_EQ(checked, (32 + 16 + 8 + 4 + 2) * (8 + 4 + 2));
    std::vector<Rgba8> odd(3 * 4);
    EXPECT_FALSE(ripmap_build(odd.data(), 3, 4, &atlas));
    EXPECT_FALSE(ripmap_build(odd.data(), 1, 4, &atlas));
}

TEST(Ripmap, EncodedTextureLoadsWithItsLevelsAndColours) {
    ScratchFolder dir("encode_texture");
    ASSERT_TRUE(dir.ok());
    const int bw = 64, bh = 16;
    std::vector<Rgba8> base = test_base(bw, bh);
    ByteBuffer file;
    ASSERT_TRUE(texture_encode(base.data(), bw, bh, &file)) << ripmap_error();
    ASSERT_TRUE(write_buffer("t.tga", file));
    Texture* t = texture_load("t.tga");
    ASSERT_NE(t, nullptr) << texture_error();
    EXPECT_EQ(t->base_width, bw);
    EXPECT_EQ(t->base_height, bh);
    ASSERT_EQ(t->level_count_x, 6);  // 128 wide: 64 .. 2
    ASSERT_EQ(t->level_count_y, 4);  // 32 high: 16 .. 2
    IndexedImage* image = tga_read_indexed("t.tga");
    ASSERT_NE(image, nullptr);
    // Through the palette, every level stays close to the box filter: the
    // quantiser's error, not a copy of the wrong region.
    for (int b = 0; b < 4; b++)
        for (int a = 0; a < 6; a++) {
            const TextureLevel& l = t->levels[a + b * 6];
            ASSERT_EQ(l.width, bw >> a);
            ASSERT_EQ(l.height, bh >> b);
            double error = 0.0;
            for (int y = 0; y < l.height; y++)
                for (int x = 0; x < l.width; x++) {
                    uint32_t c = image->palette[l.texels[y * l.width + x]];
                    Rgba8 want = block_mean(base, bw, x, y, a, b);
                    error += std::abs((int)(c >> 16 & 255) - want.r) + std::abs((int)(c >> 8 & 255) - want.g) +
                             std::abs((int)(c & 255) - want.b);
                }
            EXPECT_LT(error / (3.0 * l.width * l.height), 6.0) << "level " << a << "," << b;
        }
    indexed_image_free(image);
    texture_free(t);
}

TEST(ImageResize, AveragesWhenShrinkingAndKeepsFlatImagesFlat) {
    const Rgba8 four[4] = {{0, 0, 0, 255}, {100, 0, 0, 255}, {0, 200, 0, 255}, {100, 200, 40, 255}};
    Rgba8 one;
    ASSERT_TRUE(image_resize(four, 2, 2, &one, 1, 1));
    EXPECT_EQ(one.r, 50);
    EXPECT_EQ(one.g, 100);
    EXPECT_EQ(one.b, 10);
    std::vector<Rgba8> flat(7 * 5, Rgba8{10, 20, 30, 255}), out(16 * 4);
    ASSERT_TRUE(image_resize(flat.data(), 7, 5, out.data(), 16, 4));
    for (const Rgba8& p : out) ASSERT_TRUE(p.r == 10 && p.g == 20 && p.b == 30 && p.a == 255);
    // A large reduction still averages every source pixel once.
    std::vector<Rgba8> wide(1000, Rgba8{0, 0, 0, 255});
    for (int i = 0; i < 1000; i += 2) wide[i].r = 200;
    ASSERT_TRUE(image_resize(wide.data(), 1000, 1, &one, 1, 1));
    EXPECT_EQ(one.r, 100);
    EXPECT_FALSE(image_resize(four, 2, 2, &one, 0, 1));
}

TEST(Write3ds, SceneLoadsBackWithPositionsMappingMaterialsAndWinding) {
    ScratchFolder dir("encode_3ds");
    ASSERT_TRUE(dir.ok());
    SceneBuild build;
    int red = scene_add_material(&build, "Red", Rgba8{255, 0, 0, 255});
    int blue = scene_add_material(&build, "Blue", Rgba8{0, 0, 255, 255});
    Mesh* mesh = scene_add_mesh(&build, "Thing");
    // A quad seen from +y and a triangle seen from -z, wound by the builder.
    const Vec3 quad[4] = {{0, 0, 0}, {10, 0, 0}, {10, 0, 10}, {0, 0, 10}};
    const float quad_uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    mesh_add_quad(mesh, quad, quad_uv, Vec3{0, 1, 0}, red);
    const Vec3 tri[3] = {{1, 2, 3}, {4, 2, 3}, {1, 7, 3}};
    const float tri_uv[3][2] = {{0.25f, 0.5f}, {2.0f, -1.0f}, {0, 0}};
    mesh_add_triangle(mesh, tri, tri_uv, Vec3{0, 0, 1}, blue);
    mesh_add_triangle(mesh, tri, tri_uv, Vec3{0, 0, -1}, blue);
    ByteBuffer file;
    ASSERT_TRUE(scene_encode_3ds(&build, &file)) << write3ds_error();
    ASSERT_TRUE(write_buffer("s.3ds", file));
    Scene* scene = scene_load("s.3ds");
    ASSERT_NE(scene, nullptr) << scene_load_error();
    ASSERT_EQ(scene->material_count, 2);
    EXPECT_STREQ(scene->materials[0].name, "Red");
    EXPECT_STREQ(scene->materials[1].name, "Blue");
    ASSERT_EQ(scene->object_count, 1);
    const SceneObject& o = scene->objects[0];
    EXPECT_STREQ(o.name, "Thing");
    ASSERT_EQ(o.vertex_count, (int)mesh->vertices.size());
    ASSERT_EQ(o.face_count, 4);
    for (int i = 0; i < o.vertex_count; i++) {
        const MeshVertex& m = mesh->vertices[i];
        const SceneVertex& v = o.vertices[i];
        EXPECT_TRUE(v.x == m.x && v.y == m.y && v.z == m.z && v.u == m.u && v.v == m.v) << i;
    }
    const int materials[4] = {red, red, blue, blue};
    // An eye 5 units out on the side each face was built for passes the
    // engine's facing test (s <= 0.1); the mirrored eye does not.
    const Vec3 sides[4] = {{0, 1, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (int f = 0; f < 4; f++) {
        const SceneFace& face = o.faces[f];
        EXPECT_EQ(face.material_index, materials[f]);
        Vec3 c = {0, 0, 0};
        for (int k = 0; k < 3; k++) c = vec_add(c, Vec3{face.corners[k]->x, face.corners[k]->y, face.corners[k]->z});
        c = vec_scale(c, 1.0f / 3.0f);
        Vec3 front = vec_add(c, vec_scale(sides[f], 5.0f)), back = vec_sub(c, vec_scale(sides[f], 5.0f));
        auto s = [&](Vec3 e) { return face.plane_nx * e.x + face.plane_ny * e.y + face.plane_nz * e.z + face.plane_d; };
        EXPECT_LE(s(front), 0.1f) << f;
        EXPECT_GT(s(back), 0.1f) << f;
    }
    scene_free(scene);
}

TEST(Write3ds, RefusesWhatTheFormatCannotHold) {
    SceneBuild build;
    int m = scene_add_material(&build, "M", Rgba8{0, 0, 0, 255});
    Mesh* mesh = scene_add_mesh(&build, "Big");
    const Vec3 quad[4] = {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}};
    const float uv[4][2] = {};
    for (int i = 0; i < 16384; i++) mesh_add_quad(mesh, quad, uv, Vec3{0, 1, 0}, m);  // 65536 vertices
    ByteBuffer file;
    EXPECT_FALSE(scene_encode_3ds(&build, &file));
    mesh->vertices.resize(65535);
    mesh->faces.clear();
    EXPECT_TRUE(scene_encode_3ds(&build, &file));
    mesh->faces.push_back(MeshFace{{0, 1, 2}, 5});  // no such material
    file.clear();
    EXPECT_FALSE(scene_encode_3ds(&build, &file));
    mesh->faces.back().material = m;
    build.materials[0].name = std::string(64, 'x');
    EXPECT_FALSE(scene_encode_3ds(&build, &file));
}

TEST(AssetFile, KeepsExistingFilesUnlessAskedAndLeavesNoTemporaries) {
    ScratchFolder dir("asset_file");
    ASSERT_TRUE(dir.ok());
    write_text("user.txt", "the user's own words");
    const uint8_t data[3] = {'a', 'b', 'c'};
    EXPECT_FALSE(asset_file_write("user.txt", data, 3, ASSET_KEEP_EXISTING));
    EXPECT_NE(std::string(asset_error()).find("exists"), std::string::npos);
    EXPECT_EQ(read_text("user.txt"), "the user's own words");
    EXPECT_TRUE(asset_file_write("new.txt", data, 3, ASSET_KEEP_EXISTING));
    EXPECT_EQ(read_text("new.txt"), "abc");
    EXPECT_TRUE(asset_file_write("user.txt", data, 2, ASSET_REPLACE));
    EXPECT_EQ(read_text("user.txt"), "ab");
    EXPECT_FALSE(asset_file_write("no/such/folder/x.txt", data, 3, ASSET_REPLACE));
    EXPECT_EQ(run_exit_code("test $(ls -A | wc -l) -eq 2"), 0) << "temporary files left behind";
}

// Data files and PNG images get the mode a file open() creates would: 0666
// less the user's umask (as the screenshot BMP does), never a fixed 0644.
TEST(AssetFile, WrittenFilesFollowTheUmask) {
    ScratchFolder dir("asset_file_umask");
    ASSERT_TRUE(dir.ok());
    const uint32_t pixels[4] = {0};
    const mode_t before = umask(022);
    for (mode_t mask : {077, 022, 002}) {
        umask(mask);
        struct stat data = {}, image = {};
        EXPECT_TRUE(asset_file_write("data.bin", (const uint8_t*)"abc", 3, ASSET_REPLACE) && !stat("data.bin", &data));
        EXPECT_TRUE(png_write_rgb("image.png", pixels, 2, 2) && !stat("image.png", &image));
        EXPECT_EQ(data.st_mode & 0777, 0666 & ~mask);
        EXPECT_EQ(image.st_mode & 0777, 0666 & ~mask);
    }
    umask(before);
}

}  // namespace
