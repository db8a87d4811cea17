#include <gtest/gtest.h>

#include <cstring>

#include "scene/scene.h"
#include "texture/texture.h"
#include "tga_files.h"

namespace {

// Texel value from its file position, so every level shows where it was cut.
uint8_t texel_at(int x, int y) { return (uint8_t)(x * 3 + y * 7 + (x >> 5) * (y >> 4)); }

Bytes texture_file(int width, int height) {
    Bytes indices;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) indices.push_back(texel_at(x, y));
    std::vector<uint32_t> palette(256);
    for (int i = 0; i < 256; i++) palette[i] = (uint32_t)i << 16 | (uint32_t)(255 - i);
    return tga_indexed_file(width, height, palette, indices);
}

// Checks every level's fields, texels and colours against the rectangle it
// must come from: column W - (W >> a), row H - (H >> b).
void expect_rip_map(const Texture* t, int w, int h) {
    for (int b = 0; b < t->level_count_y; b++)
        for (int a = 0; a < t->level_count_x; a++) {
            SCOPED_TRACE("level " + std::to_string(a) + "," + std::to_string(b));
            const TextureLevel* level = &t->levels[a + b * t->level_count_x];
            const int lw = w >> (a + 1), lh = h >> (b + 1);
            ASSERT_EQ(level->width, lw);
            ASSERT_EQ(level->height, lh);
            EXPECT_EQ(level->width_mask, lw - 1);
            EXPECT_EQ(level->last_row_offset, lw * (lh - 1));
            EXPECT_EQ(level->last_texel, lw * lh - 1);
            EXPECT_EQ(1 << (16 - level->coord_shift), lw);
            int wrong = 0;
            for (int y = 0; y < lh; y++)
                for (int x = 0; x < lw; x++)
                    wrong += level->texels[y * lw + x] != texel_at(w - (w >> a) + x, h - (h >> b) + y);
            // the colours follow the texels through the wrap-around copy
            for (int k = 0; k <= level->last_texel + lw + 1; k++)
                wrong += level->colours[k] != ((uint32_t)level->texels[k] << 16 | (255u - level->texels[k]));
            EXPECT_EQ(wrong, 0);
        }
}

TEST(Texture, CutsEveryLevelOfASquareFile) {
    ScratchDir dir("texture_square");
    ASSERT_TRUE(dir.ok());
    write_bytes("t.tga", texture_file(256, 256));
    Texture* t = texture_load("t.tga");
    ASSERT_NE(t, nullptr) << texture_error();
    EXPECT_EQ(t->base_width, 128);
    EXPECT_EQ(t->base_height, 128);
    EXPECT_EQ(t->level_count_x, 7);
    EXPECT_EQ(t->level_count_y, 7);
    expect_rip_map(t, 256, 256);
    // Level (1, 0): 64 x 128 texels from columns 128..191, rows 0..127.
    const TextureLevel* l10 = &t->levels[1];
    EXPECT_EQ(l10->texels[0], texel_at(128, 0));
    EXPECT_EQ(l10->texels[127 * 64 + 63], texel_at(191, 127));
    const TextureLevel* smallest = &t->levels[48];
    EXPECT_EQ(smallest->width, 2);
    EXPECT_EQ(smallest->height, 2);
    texture_free(t);
}

TEST(Texture, CutsEveryLevelOfAWideFile) {
    ScratchDir dir("texture_wide");
    ASSERT_TRUE(dir.ok());
    write_bytes("t.tga", texture_file(256, 64));
    Texture* t = texture_load("t.tga");
    ASSERT_NE(t, nullptr) << texture_error();
    EXPECT_EQ(t->level_count_x, 7);
    EXPECT_EQ(t->level_count_y, 5);
    expect_rip_map(t, 256, 64);
    // Level (0, 4): 128 x 2 texels from rows 60..61.
    const TextureLevel* l04 = &t->levels[0 + 4 * 7];
    EXPECT_EQ(l04->width, 128);
    EXPECT_EQ(l04->height, 2);
    EXPECT_EQ(l04->texels[0], texel_at(0, 60));
    EXPECT_EQ(l04->texels[128 + 127], texel_at(127, 61));
    texture_free(t);
}

TEST(Texture, NonPowerOfTwoLevelsStayInsideTheFile) {
    ScratchDir dir("texture_odd");
    ASSERT_TRUE(dir.ok());
    write_bytes("t.tga", texture_file(13, 7));
    Texture* t = texture_load("t.tga");
    ASSERT_NE(t, nullptr) << texture_error();
    EXPECT_EQ(t->level_count_x, 2);
    EXPECT_EQ(t->level_count_y, 1);
    for (int a = 0; a < 2; a++) {  // columns 0..5, then 6..8
        const TextureLevel* level = &t->levels[a];
        int x0 = a == 0 ? 0 : 6;
        EXPECT_EQ(level->width, 13 >> (a + 1));
        EXPECT_EQ(level->texels[level->last_texel], texel_at(x0 + level->width - 1, 2));
    }
    texture_free(t);
}

TEST(Texture, ShadeTableSteps) {
    ScratchDir dir("texture_shade");
    ASSERT_TRUE(dir.ok());
    // A 3-colour palette; texels may use any byte value.
    write_bytes("t.tga", tga_indexed_file(4, 4, {0x00FF8040, 0x00FFFFFF, 0x00010203}, Bytes(16, 200)));
    Texture* t = texture_load("t.tga");
    ASSERT_NE(t, nullptr) << texture_error();
    EXPECT_EQ(t->shade_table[0], 0u);
    EXPECT_EQ(t->shade_table[32], 0x007F4020u);  // (127, 64, 32)
    EXPECT_EQ(t->shade_table[63], 0x00FB7E3Fu);  // (251, 126, 63): never the full colour
    EXPECT_EQ(t->shade_table[64 + 63], 0x00FBFBFBu);
    EXPECT_EQ(t->shade_table[2 * 64 + 63], 0x00000102u);  // (1, 2, 3) * 63 / 64
    // Colours the palette lacks exist and are black: any texel byte can be shaded.
    for (int i = 3 * 64; i < 256 * 64; i++) ASSERT_EQ(t->shade_table[i], 0u) << i;
    EXPECT_EQ(t->levels[0].texels[0], 200);
    EXPECT_EQ(t->levels[0].colours[0], 0u);  // and its colour is black too
    texture_free(t);
}

TEST(Texture, RejectsDamagedAndTooSmallFiles) {
    ScratchDir dir("texture_bad");
    ASSERT_TRUE(dir.ok());
    write_bytes("narrow.tga", texture_file(3, 64));
    write_bytes("flat.tga", texture_file(64, 2));
    write_bytes("tiny.tga", texture_file(4, 4));
    Bytes cut = texture_file(64, 64);
    cut.resize(cut.size() - 1);
    write_bytes("cut.tga", cut);
    Bytes truecolour = tga_header(2, 8, 8, 24, 0);
    append(&truecolour, Bytes(8 * 8 * 3, 1));
    write_bytes("rgb.tga", truecolour);
    for (const char* name : {"narrow.tga", "flat.tga", "cut.tga", "rgb.tga", "missing.tga"}) {
        EXPECT_EQ(texture_load(name), nullptr) << name;
        EXPECT_NE(std::strstr(texture_error(), name), nullptr) << texture_error();
    }
    Texture* tiny = texture_load("tiny.tga");  // one 2 x 2 level
    ASSERT_NE(tiny, nullptr);
    EXPECT_EQ(tiny->level_count_x * tiny->level_count_y, 1);
    texture_free(tiny);
}

// An empty texture for a 128 x 16 file: levels of 64 x 8 down to 2 x 1
// texels with their masks, texels and shade table cleared; sizes below 4
// are refused.
TEST(Texture, CreateDerivesEveryLevel) {
    Texture* t = texture_create(128, 16);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->base_width, 64);
    EXPECT_EQ(t->base_height, 8);
    ASSERT_EQ(t->level_count_x, 6);
    ASSERT_EQ(t->level_count_y, 3);
    const TextureLevel& level = t->levels[0];
    EXPECT_EQ(level.width_mask, 63);
    EXPECT_EQ(level.last_row_offset, 64 * 7);
    EXPECT_EQ(level.last_texel, 511);
    EXPECT_EQ(level.coord_shift, 10);
    EXPECT_EQ(level.texels[511], 0);
    const TextureLevel& smallest = t->levels[5 + 2 * 6];
    EXPECT_EQ(smallest.width, 2);
    EXPECT_EQ(smallest.height, 2);
    EXPECT_EQ(smallest.coord_shift, 15);
    EXPECT_EQ(t->shade_table[SHADE_PALETTE * SHADE_STEPS - 1], 0u);
    texture_free(t);
    EXPECT_EQ(texture_create(2, 64), nullptr);
    EXPECT_EQ(texture_create(64, 3), nullptr);
}

Scene scene_with(std::vector<Material>* materials) {
    Scene scene = {};
    scene.material_count = (int32_t)materials->size();
    scene.materials = materials->empty() ? nullptr : materials->data();
    return scene;
}

TEST(Texture, BindsMaterialsByNameFromTheFolder) {
    ScratchDir dir("texture_bind");
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(run("mkdir -p Tex"));
    write_bytes("Tex/Wood.tga", texture_file(8, 8));
    write_bytes("Tex/Stone.tga", texture_file(16, 4));
    char wood[] = "Wood", stone[] = "Stone", glass[] = "Glass";

    // No materials: success without looking at the folder.
    std::vector<Material> none;
    Scene empty = scene_with(&none);
    char missing_folder[] = "Nowhere";
    EXPECT_EQ(bind_material_textures(&empty, missing_folder), 1);

    // "Tex\" and "Tex/" name the same files as "Tex"; the string is shortened.
    for (const char* given : {"Tex", "Tex\\", "Tex/"}) {
        SCOPED_TRACE(given);
        char folder[16];
        std::strcpy(folder, given);
        std::vector<Material> materials = {{wood, nullptr}, {stone, nullptr}};
        Scene scene = scene_with(&materials);
        ASSERT_EQ(bind_material_textures(&scene, folder), 1) << texture_error();
        EXPECT_STREQ(folder, "Tex");
        ASSERT_NE(materials[0].texture, nullptr);
        ASSERT_NE(materials[1].texture, nullptr);
        EXPECT_EQ(materials[0].texture->base_width, 4);
        EXPECT_EQ(materials[1].texture->base_width, 8);
        for (Material& m : materials) texture_free(m.texture);
    }

    // The first missing texture stops binding: earlier ones keep theirs.
    char folder[] = "Tex";
    std::vector<Material> materials = {{wood, nullptr}, {glass, nullptr}, {stone, nullptr}};
    Scene scene = scene_with(&materials);
    EXPECT_EQ(bind_material_textures(&scene, folder), 0);
    EXPECT_NE(materials[0].texture, nullptr);
    EXPECT_EQ(materials[1].texture, nullptr);
    EXPECT_EQ(materials[2].texture, nullptr);
    EXPECT_NE(std::strstr(texture_error(), "Tex/Glass.tga"), nullptr) << texture_error();
    texture_free(materials[0].texture);
}

// Start-up still stops at the first texture that fails, but its one message
// names every failing file, says how to make a texture from an image, and
// refuses names that would lead out of the folder.
TEST(Texture, BindingNamesEveryFailingTexture) {
    ScratchDir dir("texture_bind_all");
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(run("mkdir -p Tex"));
    write_bytes("Tex/Wood.tga", texture_file(8, 8));
    Bytes truecolour = tga_header(2, 8, 8, 24, 0);
    append(&truecolour, Bytes(8 * 8 * 3, 1));
    write_bytes("Tex/Photo.tga", truecolour);
    write_bytes("Wood.tga", texture_file(8, 8));  // what "../Wood" would reach
    char wood[] = "Wood", glass[] = "Glass", photo[] = "Photo", up[] = "../Wood", back[] = "a\\b", dots[] = "..",
         stone[] = "Stone";
    std::vector<Material> materials = {{wood, nullptr}, {glass, nullptr}, {photo, nullptr}, {up, nullptr},
                                       {back, nullptr}, {dots, nullptr}, {stone, nullptr}};
    Scene scene = scene_with(&materials);
    char folder[] = "Tex";
    EXPECT_EQ(bind_material_textures(&scene, folder), 0);
    std::string error = texture_error();
    for (const char* named : {"Tex/Glass.tga: cannot open file", "Tex/Photo.tga", "varnel-tool texture",
                              "../Wood: material name refused", "a\\b: material name refused",
                              "..: material name refused", "Tex/Stone.tga"})
        EXPECT_NE(error.find(named), std::string::npos) << named << " in: " << error;
    EXPECT_EQ(error.find("Tex/Wood.tga"), std::string::npos) << error;
    EXPECT_NE(materials[0].texture, nullptr);
    for (size_t i = 1; i < materials.size(); i++) EXPECT_EQ(materials[i].texture, nullptr) << i;
    texture_free(materials[0].texture);
}

}  // namespace
