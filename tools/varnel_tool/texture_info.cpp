// texture-info FILE.tga: the rip-map levels the engine cuts out of a material
// texture.
#include <cstdio>

#include "texture/texture.h"
#include "varnel_tool/commands.h"

int tool_texture_info(int argc, char** argv) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: varnel-tool texture-info FILE.tga\n");
        return 2;
    }
    Texture* texture = texture_load(argv[0]);
    if (!texture) {
        std::fprintf(stderr, "varnel-tool: %s\n", texture_error());
        return 1;
    }
    std::printf("%s: base %d x %d, levels %d x %d\n", argv[0], texture->base_width,
                texture->base_height, texture->level_count_x, texture->level_count_y);
    for (int b = 0; b < texture->level_count_y; b++)
        for (int a = 0; a < texture->level_count_x; a++) {
            const TextureLevel* level = &texture->levels[a + b * texture->level_count_x];
            std::printf("level %d,%d: %d x %d\n", a, b, level->width, level->height);
        }
    texture_free(texture);
    return 0;
}
