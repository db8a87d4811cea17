// Placeholders for subsystems that are still being written. Each fails the
// way a missing data file would, so start-up stops at the first step that
// cannot run yet. Entries are removed as the subsystems land.
#include <cstdint>

#include "app/light_path.h"
#include "app/screenshot.h"
#include "app/stats.h"
#include "display/font.h"
#include "pipeline/pipeline.h"
#include "raster/engine.h"
#include "scene/load3ds.h"
#include "texture/cone.h"
#include "texture/image.h"
#include "texture/texture.h"

Scene* scene_load(const char*) { return nullptr; }
const char* scene_load_error() { return "the 3DS reader is not built yet"; }
int bind_material_textures(Scene*, char*) { return 0; }
const char* texture_error() { return "textures are not built yet"; }
RgbImage* tga_read_rgb(const char*) { return nullptr; }
const char* tga_error() { return "the TGA reader is not built yet"; }
void rgb_image_free(RgbImage*) {}
RgbImage* cone_mask_resample(RgbImage* image, int, int) { return image; }
int font_init(int, int) { return 0; }
void font_free() {}
void draw_text_additive(const char*, int, int, uint32_t*) {}
int screenshot_save(const uint32_t*) { return 0; }
int light_path_load() { return 0; }
Vec3 light_path_position(float) { return Vec3{0.0f, 0.0f, 0.0f}; }
void light_path_free() {}
void span_statistics_dump() {}
int bmp_write(const char*, const RgbImage*) { return 0; }
