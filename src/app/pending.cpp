// Placeholders for subsystems that are still being written. Each fails the
// way a missing data file would, so start-up stops at the first step that
// cannot run yet. Entries are removed as the subsystems land.
#include <cstdint>

#include "app/screenshot.h"
#include "display/font.h"
#include "pipeline/pipeline.h"
#include "raster/engine.h"
#include "scene/load3ds.h"
#include "texture/cone.h"
#include "texture/image.h"
#include "texture/texture.h"

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
ScanlineSpanList* engine_scanline_lists() { return nullptr; }
int engine_height() { return 0; }
int engine_width() { return 0; }
