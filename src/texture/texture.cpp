// Rip-mapped material textures cut out of one colour-mapped TGA file, and
// their 64-step shade tables.
#include "texture/texture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "scene/scene.h"
#include "texture/image.h"
#include "texture/tga.h"

namespace {

enum {
    TEXTURE_NAME_MAX = 256,     // "<folder>/<material>.tga" with its terminator
    TEXTURE_ERROR_MAX = 2048,   // room for every failing file of a binding
};

struct TextureState {
    char error[TEXTURE_ERROR_MAX];  // "<file>: <reason>" of the last failure; a
                                    // binding's failures joined with "; "
};

TextureState textures = {};

void set_error(const char* file_name, const char* why) {
    if (file_name)
        std::snprintf(textures.error, sizeof textures.error, "%s: %s", file_name, why);
    else
        std::snprintf(textures.error, sizeof textures.error, "%s", why);
}

// floor(log2(n)) for n >= 1.
int32_t floor_log2(int32_t n) {
    int32_t k = 0;
    while (n > 1) {
        n >>= 1;
        k++;
    }
    return k;
}

// Allocates a level's texels (zeroed, with room for the wrap-around copy)
// and derives its masks.
int level_init(TextureLevel* level, int32_t width, int32_t height) {
    const size_t count = (size_t)width * (size_t)height + (size_t)width + 1;
    level->texels = (uint8_t*)std::calloc(count, 1);
    level->colours = (uint32_t*)std::calloc(count, sizeof(uint32_t));
    if (!level->texels || !level->colours) return 0;
    level->width = width;
    level->height = height;
    level->width_mask = width - 1;
    level->last_row_offset = width * (height - 1);
    level->last_texel = width * height - 1;
    level->coord_shift = 16 - floor_log2(width);
    return 1;
}

}  // namespace

// Entry p * 64 + k is palette colour p scaled by k / 64, channel by channel,
// rounded down. Every one of the 256 entries exists, so any texel byte can
// be shaded. Behind each level's last texel come its first width + 1 again:
// the bilinear fill reads texel i + 1, i + width and i + width + 1 for any
// i up to the last, which is then the texel the wrapped index names. Each
// level's colours are its texels (copy included) looked up in the palette:
// the vector fills shade them by multiplying rather than by reading the
// table, with the same numbers.
void texture_finish(Texture* texture, const uint32_t* palette, int32_t count) {
    uint32_t* table = texture->shade_table;
    uint32_t colour_of[SHADE_PALETTE];
    for (int p = 0; p < SHADE_PALETTE; p++) {
        uint32_t c = colour_of[p] = p < count ? palette[p] & 0x00FFFFFFu : 0;
        uint32_t r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
        for (uint32_t k = 0; k < SHADE_STEPS; k++)
            table[p * SHADE_STEPS + k] = (r * k / SHADE_STEPS) << 16 | (g * k / SHADE_STEPS) << 8 |
                                         (b * k / SHADE_STEPS);
    }
    for (int32_t i = 0; i < texture->level_count_x * texture->level_count_y; i++) {
        TextureLevel* level = &texture->levels[i];
        std::memcpy(level->texels + level->last_texel + 1, level->texels, (size_t)level->width + 1);
        for (int32_t k = 0; k <= level->last_texel + level->width + 1; k++) level->colours[k] = colour_of[level->texels[k]];
    }
}

// Level (a, b) is (W >> (a + 1)) x (H >> (b + 1)) texels: every level of a
// file at least 4 texels across and down has at least one texel per axis.
Texture* texture_create(int32_t file_width, int32_t file_height) {
    if (file_width < 4 || file_height < 4) return nullptr;
    Texture* texture = (Texture*)std::calloc(1, sizeof(Texture));
    if (!texture) return nullptr;
    texture->base_width = file_width / 2;
    texture->base_height = file_height / 2;
    texture->level_count_x = floor_log2(file_width) - 1;
    texture->level_count_y = floor_log2(file_height) - 1;
    const int32_t level_count = texture->level_count_x * texture->level_count_y;
    texture->levels = (TextureLevel*)std::calloc((size_t)level_count, sizeof(TextureLevel));
    texture->shade_table = (uint32_t*)std::calloc(SHADE_PALETTE * SHADE_STEPS, sizeof(uint32_t));
    if (!texture->levels || !texture->shade_table) {
        texture_free(texture);
        return nullptr;
    }
    for (int32_t b = 0; b < texture->level_count_y; b++)
        for (int32_t a = 0; a < texture->level_count_x; a++)
            if (!level_init(&texture->levels[a + b * texture->level_count_x], file_width >> (a + 1),
                            file_height >> (b + 1))) {
                texture_free(texture);
                return nullptr;
            }
    return texture;
}

// Level (a, b) is cut from the rectangle at column sum of the narrower
// levels' widths, row sum of the lower levels' heights. Those sums stay
// below W and H, so every level lies inside the file.
Texture* texture_load(const char* file_name) {
    IndexedImage* image = tga_read_indexed(file_name);
    if (!image) {
        const char* why = tga_error();
        char hint[128];
        // A file that is there but not a material texture: say how to make one.
        if (std::strcmp(why, "cannot open file") != 0 && std::strcmp(why, "not a regular file") != 0 &&
            std::strcmp(why, "cannot read file") != 0 && std::strcmp(why, "out of memory") != 0) {
            std::snprintf(hint, sizeof hint, "%s (a material texture is an 8-bit colour-mapped TGA: make one with "
                          "varnel-tool texture)", why);
            why = hint;
        }
        set_error(file_name, why);
        return nullptr;
    }
    const int32_t w = image->width, h = image->height;
    if (w < 4 || h < 4) {
        indexed_image_free(image);
        set_error(file_name, "texture smaller than 4 texels across or down");
        return nullptr;
    }
    Texture* texture = texture_create(w, h);
    if (!texture) {
        indexed_image_free(image);
        set_error(file_name, "out of memory");
        return nullptr;
    }
    int32_t y_offset = 0;
    for (int32_t b = 0; b < texture->level_count_y; b++) {
        int32_t x_offset = 0;
        for (int32_t a = 0; a < texture->level_count_x; a++) {
            TextureLevel* level = &texture->levels[a + b * texture->level_count_x];
            for (int32_t k = 0; k < level->height; k++)
                std::memcpy(level->texels + (size_t)k * (size_t)level->width,
                            image->pixels + (size_t)(y_offset + k) * (size_t)w + (size_t)x_offset,
                            (size_t)level->width);
            x_offset += level->width;
        }
        y_offset += h >> (b + 1);
    }
    texture_finish(texture, image->palette, image->palette_count);
    indexed_image_free(image);
    return texture;
}

int bind_material_textures(Scene* scene, char* folder) {
    // "Textures\" and "Textures/" name the same folder as "Textures".
    size_t length = std::strlen(folder);
    if (length > 0 && (folder[length - 1] == '\\' || folder[length - 1] == '/')) folder[length - 1] = 0;
    // Binding stops at the first failure; the rest are only tried so that
    // the message names every texture that is missing or wrong.
    // Joined in a buffer of the module's size: the message itself never
    // asks for memory (it is cut short when every name does not fit).
    char failures[TEXTURE_ERROR_MAX] = "";
    size_t used = 0;
    int failed = 0;
    for (int32_t i = 0; i < scene->material_count; i++) {
        Material* material = &scene->materials[i];
        Texture* texture = nullptr;
        char file_name[TEXTURE_NAME_MAX];
        int n = material->name ? std::snprintf(file_name, sizeof file_name, "%s/%s.tga", folder, material->name) : 0;
        if (!material->name)
            set_error(nullptr, "material without a name");
        else if (std::strchr(material->name, '/') || std::strchr(material->name, '\\') ||
                 std::strcmp(material->name, "..") == 0)
            set_error(material->name, "material name refused: a texture name may hold no path separator and not be ..");
        else if (n < 0 || n >= (int)sizeof file_name)
            set_error(material->name, "texture file name too long");
        else
            texture = texture_load(file_name);  // sets the reason on failure
        if (!failed)
            material->texture = texture;
        else
            texture_free(texture);
        if (texture) continue;
        if (used < sizeof failures) {
            int n = std::snprintf(failures + used, sizeof failures - used, "%s%s", failed ? "; " : "", textures.error);
            used = n < 0 ? sizeof failures : used + (size_t)n;
        }
        failed = 1;
    }
    if (failed) std::snprintf(textures.error, sizeof textures.error, "%s", failures);
    return !failed;
}

const char* texture_error() { return textures.error; }

// Levels not yet cut have null texels (the array is cleared on allocation).
void texture_free(Texture* texture) {
    if (!texture) return;
    if (texture->levels)
        for (int32_t i = 0; i < texture->level_count_x * texture->level_count_y; i++) {
            std::free(texture->levels[i].texels);
            std::free(texture->levels[i].colours);
        }
    std::free(texture->levels);
    std::free(texture->shade_table);
    std::free(texture);
}
