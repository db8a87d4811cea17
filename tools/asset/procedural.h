// Procedural material images for the demo world. Every image tiles
// seamlessly (its noise lattices wrap at the image edge), so the renderer's
// wrapped texture coordinates show no seams.
#pragma once

#include "asset/image_encode.h"

typedef void (*PaintFunction)(Rgba8* pixels, int width, int height);

struct ProceduralTexture {
    const char* name;     // material name, also the texture file's base name
    int base_width;       // level (0, 0) size in texels: a power of two
    int base_height;
    PaintFunction paint;  // fills base_width x base_height pixels
};

// Every texture the demo scenes use, in a fixed order.
const ProceduralTexture* procedural_textures(int* count);
// The studio floor an imported model stands on: mid-grey tiles, 8 x 8 per
// repeat, so that both a shadow and the light's cone read on it.
const ProceduralTexture* procedural_studio();
// Null when no texture has this name.
const ProceduralTexture* procedural_find(const char* name);

// Tileable value noise summed over octaves, 0..1. u, v in texture repeats;
// `period` is the lattice cells per repeat of the first octave.
float noise_fbm(float u, float v, int period, int octaves, unsigned seed);
