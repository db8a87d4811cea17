// Rip-mapped material textures with their shade tables.
//
// All levels are cut out of one 8-bit colour-mapped TGA file: level (a, b) is
// the image reduced 2^(a+1) across and 2^(b+1) down and sits at column
// W - (W >> a), row H - (H >> b) of the file. The shade table gives every
// palette colour at 64 brightness steps, step k = colour * k / 64.
#pragma once

#include <cstdint>

struct Scene;

struct TextureLevel {
    int32_t width;            // texels per row: file width >> (a + 1)
    int32_t height;           // rows: file height >> (b + 1)
    uint8_t* texels;          // width * height palette indices, top row first, then a copy
                              // of the first width + 1 (texture_finish), so a texel's right,
                              // lower and lower-right neighbours are read without wrapping
    uint32_t* colours;        // the same texels and copy as their palette colours, 0x00RRGGBB
    int32_t width_mask;       // width - 1: (u >> 16) & width_mask wraps the column
    int32_t last_row_offset;  // width * (height - 1): (v >> coord_shift) & this wraps the row
    int32_t last_texel;       // width * height - 1: the wrap-around copy starts behind it
    int32_t coord_shift;      // 16 - log2(width): turns 16.16 v into a row offset
};

struct Texture {
    int32_t base_width;     // level (0, 0) width: file width / 2
    int32_t base_height;    // level (0, 0) height: file height / 2
    int32_t level_count_x;  // floor(log2(file width)) - 1, at least 1
    int32_t level_count_y;  // floor(log2(file height)) - 1, at least 1
    uint32_t* shade_table;  // 256 * 64 entries, 0x00RRGGBB; entry p * 64 + k
    TextureLevel* levels;   // level (a, b) is levels[a + b * level_count_x]
};

enum { SHADE_STEPS = 64, SHADE_PALETTE = 256 };

Texture* texture_load(const char* file_name);
// An empty texture laid out for a file_width x file_height rip map: every
// level allocated with zeroed texels and its masks derived, and a shade
// table of black. Null when a size is below 4 or memory runs out. Release
// with texture_free.
Texture* texture_create(int32_t file_width, int32_t file_height);
// Once the texels are written: the shade table from `count` palette
// colours (0x00RRGGBB; colours past `count` are black) and every level's
// wrap-around copy of its first texels.
void texture_finish(Texture* texture, const uint32_t* palette, int32_t count);
// Loads "<folder>/<material name>.tga" for every material; 1, or 0 at the
// first material whose texture cannot be loaded (those after it stay
// unbound). texture_error() then names every material texture that fails,
// not only the first. A material name with a path separator or ".." is
// refused: its texture would lie outside the folder.
int bind_material_textures(Scene* scene, char* folder);
const char* texture_error();
// The engine keeps its textures until the process ends; tools and tests
// release theirs with this.
void texture_free(Texture* texture);
