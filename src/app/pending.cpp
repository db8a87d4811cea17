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

int bind_material_textures(Scene*, char*) { return 0; }
const char* texture_error() { return "textures are not built yet"; }
RgbImage* tga_read_rgb(const char*) { return nullptr; }
const char* tga_error() { return "the TGA reader is not built yet"; }
void rgb_image_free(RgbImage*) {}
RgbImage* cone_mask_resample(RgbImage* image, int, int) { return image; }
int engine_init(int, int) { return 0; }
void engine_shutdown() {}
void select_span_fill(int) {}
void engine_set_shadow_factor(int) {}
void engine_set_shadow_buffer(uint32_t*) {}
void span_lists_reset() {}
int resolve_light_view(uint32_t*) { return 0; }
int resolve_camera_view(uint32_t*) { return 0; }
void render_object_light_pass(const Matrix4*, const Matrix4*, SceneObject*) {}
void render_object_camera_pass(const Matrix4*, const Matrix4*, SceneObject*, const Material*, int) {}
int font_init(int, int) { return 0; }
void font_free() {}
void draw_text_additive(const char*, int, int, uint32_t*) {}
int screenshot_save(const uint32_t*) { return 0; }
int light_path_load() { return 0; }
Vec3 light_path_position(float) { return Vec3{0.0f, 0.0f, 0.0f}; }
void light_path_free() {}
void span_statistics_dump() {}
int bmp_write(const char*, const RgbImage*) { return 0; }
