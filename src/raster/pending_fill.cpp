// Temporary empty fill routines so the program links; replaced by the resolve module.
#include "raster/engine.h"

void fill_bilinear(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, uint32_t*, uint32_t*) {}
void fill_nearest(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, uint32_t*, uint32_t*) {}
