// The texture of faces that have none: a grey checker laid out like a
// texture cut from a 16 x 16 file (levels 8, 4 and 2 texels along each
// axis), so it passes through level selection and the fill routines like
// any material texture.
#include "pipeline/neutral_texture.h"

#include <cstdint>

#include "texture/texture.h"

namespace {

const int32_t neutral_file_size = 16;  // size of the file the levels would be cut from

// Palette: light and dark checker squares, and their mean for levels too
// small to hold a square.
const uint32_t neutral_palette[] = {0x00A8A8A8u, 0x00787878u, 0x00909090u};
const int32_t palette_size = sizeof neutral_palette / sizeof neutral_palette[0];
static_assert(palette_size == 3, "light, dark, mean");

Texture* build_neutral_texture() {
    Texture* t = texture_create(neutral_file_size, neutral_file_size);
    if (!t) return nullptr;
    for (int32_t i = 0; i < t->level_count_x * t->level_count_y; i++) {
        TextureLevel* level = &t->levels[i];
        const int32_t w = level->width, h = level->height;
        // Four squares across and down the texture at every level; a
        // level narrower than four texels shows the mean grey.
        for (int32_t y = 0; y < h; y++)
            for (int32_t x = 0; x < w; x++)
                level->texels[y * w + x] = w < 4 || h < 4 ? 2 : (uint8_t)(((x * 4 / w) ^ (y * 4 / h)) & 1);
    }
    texture_finish(t, neutral_palette, palette_size);
    return t;
}

}  // namespace

// Built once, by whichever thread asks first.
Texture* pipeline_neutral_texture() {
    static Texture* const neutral = build_neutral_texture();
    return neutral;
}
