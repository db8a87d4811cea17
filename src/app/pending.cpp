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

