// Spotlight cone mask: the cone image resampled to exactly the screen size.
#pragma once

#include "texture/image.h"

// A pixel whose mask byte (the low 8 bits) is below this lies outside the
// cone: the light records nothing there, so nothing there is lit.
enum { CONE_THRESHOLD = 120 };

// Returns an image of exactly target_width x target_height, or null when
// allocation fails (the input is then untouched). An image already of the
// target size is returned as it is; otherwise the input is released.
RgbImage* cone_mask_resample(RgbImage* image, int target_width, int target_height);
