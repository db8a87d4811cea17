// Texture files from true-colour images: every rip level box-filtered from
// the base image, placed where the texture loader cuts it, then reduced to
// one shared 256-colour palette.
//
// File layout for a base image of bw x bh (file W = 2 bw, H = 2 bh): level
// (a, b) is the base averaged over 2^a x 2^b blocks, (W >> (a + 1)) x
// (H >> (b + 1)) pixels, with its top-left pixel at column W - (W >> a), row
// H - (H >> b), for a < log2(W) - 1 and b < log2(H) - 1. The two right-most
// columns and two bottom rows hold the image's mean colour.
#pragma once

#include <vector>

#include "asset/asset_file.h"
#include "asset/image_encode.h"

enum { RIPMAP_MIN_BASE = 2, RIPMAP_MAX_BASE = 4096 };

// 1 for a power of two from 1 up.
int is_power_of_two(int n);
// atlas receives the W x H file image. 0 unless both base sizes are powers
// of two in RIPMAP_MIN_BASE..RIPMAP_MAX_BASE.
int ripmap_build(const Rgba8* base, int base_width, int base_height, std::vector<Rgba8>* atlas);
// Quantises to at most 256 colours with libimagequant; `dither` 0..1.
// palette receives palette_count entries, indices one byte per pixel.
int palette_quantise(const Rgba8* pixels, int width, int height, float dither, Rgba8* palette,
                     int* palette_count, std::vector<uint8_t>* indices);
// Base image to a complete texture TGA: ripmap_build, palette_quantise,
// tga_encode_indexed_rle.
int texture_encode(const Rgba8* base, int base_width, int base_height, ByteBuffer* out);
// Resamples to a new size: an area average where an axis shrinks, bilinear
// (edges clamped) where it grows. Sizes 1..16384.
int image_resize(const Rgba8* src, int src_width, int src_height, Rgba8* dst, int dst_width,
                 int dst_height);
// An image of any size to a complete texture TGA: each side resampled to
// the nearest power of two (by ratio) from 2 to max_base, then
// texture_encode. *base_width, *base_height receive the level (0, 0) size.
int texture_encode_image(const Rgba8* pixels, int width, int height, int max_base, ByteBuffer* out,
                         int* base_width, int* base_height);
const char* ripmap_error();
