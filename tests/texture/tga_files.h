// Small TGA and PPM files made byte by byte for the texture tests, and a
// bridge to ImageMagick, the independent encoder and decoder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"

typedef std::vector<uint8_t> Bytes;

// The 18-byte header; map_bits 24 when map_length > 0.
inline Bytes tga_header(int type, int width, int height, int depth, int descriptor,
                        int map_length = 0, int map_bits = 24, int id_length = 0) {
    return Bytes{(uint8_t)id_length, (uint8_t)(map_length > 0), (uint8_t)type, 0, 0,
                 (uint8_t)map_length, (uint8_t)(map_length >> 8), (uint8_t)map_bits, 0, 0, 0, 0,
                 (uint8_t)width, (uint8_t)(width >> 8), (uint8_t)height, (uint8_t)(height >> 8),
                 (uint8_t)depth, (uint8_t)descriptor};
}

inline void append(Bytes* b, const Bytes& more) { b->insert(b->end(), more.begin(), more.end()); }

inline void write_bytes(const std::string& name, const Bytes& b) {
    write_file(name, std::string(b.begin(), b.end()));
}

// An uncompressed top-first colour-mapped file: palette as 0x00RRGGBB.
inline Bytes tga_indexed_file(int width, int height, const std::vector<uint32_t>& palette,
                              const Bytes& indices) {
    Bytes b = tga_header(1, width, height, 8, 0x20, (int)palette.size());
    for (uint32_t c : palette) append(&b, Bytes{(uint8_t)c, (uint8_t)(c >> 8), (uint8_t)(c >> 16)});
    append(&b, indices);
    return b;
}

inline bool have_convert() { return std::system("convert -version >/dev/null 2>&1") == 0; }

inline bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

// 8-bit RGB PPM of width x height triples.
inline void write_ppm(const std::string& name, int width, int height, const Bytes& rgb) {
    std::string text = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    write_file(name, text + std::string(rgb.begin(), rgb.end()));
}

// ImageMagick's own decoding as raw bytes, oriented as the file says.
inline Bytes magick_decode(const std::string& file, const char* format) {
    std::string raw = file + "." + format;
    if (!run("convert '" + file + "' -auto-orient -depth 8 " + format + ":'" + raw + "'")) return Bytes();
    std::string text = read_file(raw);
    return Bytes(text.begin(), text.end());
}
