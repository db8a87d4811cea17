// The texture of faces that have none: a grey checker laid out like a
// texture cut from a 16 x 16 file (levels 8, 4 and 2 texels along each
// axis), so it passes through level selection and the fill routines like
// any material texture.
#include <cstdint>

#include "pipeline/setup.h"
#include "texture/texture.h"

namespace {

enum {
    NEUTRAL_FILE_SIZE = 16,  // size of the file the levels would be cut from
    NEUTRAL_LEVELS = 3,      // floor(log2(16)) - 1 per axis
    NEUTRAL_TEXELS = (8 + 4 + 2) * (8 + 4 + 2),  // every level (a, b) of the grid
};

// Palette: light and dark checker squares, and their mean for levels too
// small to hold a square.
const uint32_t neutral_palette[] = {0x00A8A8A8u, 0x00787878u, 0x00909090u};
const int palette_size = sizeof neutral_palette / sizeof neutral_palette[0];
static_assert(palette_size == 3, "light, dark, mean");

struct NeutralTexture {
    int built;                                          // 1 once filled
    Texture texture;                                    // the descriptor handed out
    TextureLevel levels[NEUTRAL_LEVELS * NEUTRAL_LEVELS];
    uint8_t texels[NEUTRAL_TEXELS];                     // all levels, one after the other
    uint32_t shade_table[SHADE_PALETTE * SHADE_STEPS];  // every index addressable
};

NeutralTexture neutral = {};

void build_neutral_texture() {
    Texture* t = &neutral.texture;
    t->base_width = t->base_height = NEUTRAL_FILE_SIZE / 2;
    t->level_count_x = t->level_count_y = NEUTRAL_LEVELS;
    t->shade_table = neutral.shade_table;
    t->levels = neutral.levels;
    for (int p = 0; p < palette_size; p++) {
        uint32_t c = neutral_palette[p];
        uint32_t r = (c >> 16) & 0xFFu, g = (c >> 8) & 0xFFu, b = c & 0xFFu;
        for (uint32_t k = 0; k < SHADE_STEPS; k++)
            neutral.shade_table[p * SHADE_STEPS + k] =
                ((r * k / 64) << 16) | ((g * k / 64) << 8) | (b * k / 64);
    }
    uint8_t* texels = neutral.texels;
    for (int b = 0; b < NEUTRAL_LEVELS; b++) {
        for (int a = 0; a < NEUTRAL_LEVELS; a++) {
            TextureLevel* level = &neutral.levels[a + b * NEUTRAL_LEVELS];
            int32_t w = NEUTRAL_FILE_SIZE >> (a + 1), h = NEUTRAL_FILE_SIZE >> (b + 1);
            int32_t log2_w = 3 - a;
            *level = TextureLevel{w, h, texels, w - 1, w * (h - 1), w * h - 1, 16 - log2_w};
            // Four squares across and down the texture at every level; a
            // level narrower than four texels shows the mean grey.
            for (int32_t y = 0; y < h; y++)
                for (int32_t x = 0; x < w; x++)
                    texels[y * w + x] =
                        w < 4 || h < 4 ? 2 : (uint8_t)(((x * 4 / w) ^ (y * 4 / h)) & 1);
            texels += w * h;
        }
    }
    neutral.built = 1;
}

}  // namespace

Texture* pipeline_neutral_texture() {
    if (!neutral.built) build_neutral_texture();
    return &neutral.texture;
}
