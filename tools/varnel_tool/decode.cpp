// decode [--indexed] IN OUT.ppm: what the engine's readers make of a TGA or
// BMP file, written as a binary PPM (P6, maxval 255, red-green-blue).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "display/bmp.h"
#include "display/font.h"
#include "scene/output_file.h"
#include "texture/image.h"
#include "texture/tga.h"
#include "varnel_tool/commands.h"

namespace {

int has_bmp_suffix(const char* name) {
    size_t n = std::strlen(name);
    return n >= 4 && strcasecmp(name + n - 4, ".bmp") == 0;
}

// pixels: width * height red-green-blue triples. Written new under a
// temporary name and renamed (scene/output_file.h), so a failure leaves no
// partial file and no link is followed.
int ppm_write(const char* name, const uint8_t* rgb, int width, int height) {
    OutputFile f;
    if (!output_file_open(&f, name)) return 0;
    FILE* stream = output_file_stream(&f);
    size_t bytes = (size_t)width * (size_t)height * 3;
    errno = 0;
    if (!stream || std::fprintf(stream, "P6\n%d %d\n255\n", width, height) <= 0 ||
        std::fwrite(rgb, 1, bytes, stream) != bytes) {
        output_file_discard(&f, name, errno ? errno : EIO);
        return 0;
    }
    return output_file_commit(&f, name, OUTPUT_REPLACE);
}

}  // namespace

int tool_decode(int argc, char** argv) {
    int indexed = argc > 0 && std::strcmp(argv[0], "--indexed") == 0;
    if (argc - indexed != 2) {
        std::fprintf(stderr, "usage: varnel-tool decode [--indexed] IN OUT.ppm\n");
        return 2;
    }
    const char* in = argv[indexed];
    const char* out = argv[indexed + 1];
    int width, height;
    uint8_t* rgb = nullptr;
    if (indexed) {
        IndexedImage* image = tga_read_indexed(in);
        if (!image) {
            std::fprintf(stderr, "varnel-tool: %s: %s\n", in, tga_error());
            return 1;
        }
        width = image->width;
        height = image->height;
        rgb = (uint8_t*)std::malloc((size_t)width * (size_t)height * 3);
        // Indices past the colour map have no colour: black.
        for (size_t i = 0; rgb && i < (size_t)width * (size_t)height; i++) {
            int p = image->pixels[i];
            uint32_t c = p < image->palette_count ? image->palette[p] : 0;  // 0x00RRGGBB
            rgb[3 * i] = (uint8_t)(c >> 16);
            rgb[3 * i + 1] = (uint8_t)(c >> 8);
            rgb[3 * i + 2] = (uint8_t)c;
        }
        indexed_image_free(image);
    } else {
        int bmp = has_bmp_suffix(in);
        RgbImage* image = bmp ? bmp_read(in) : tga_read_rgb(in);
        if (!image) {
            std::fprintf(stderr, "varnel-tool: %s: %s\n", in, bmp ? bmp_error() : tga_error());
            return 1;
        }
        width = image->width;
        height = image->height;
        // BMP images hold 0x00RRGGBB, TGA images 0x00BBGGRR.
        const int red_shift = bmp ? 16 : 0, blue_shift = bmp ? 0 : 16;
        rgb = (uint8_t*)std::malloc((size_t)width * (size_t)height * 3);
        for (size_t i = 0; rgb && i < (size_t)width * (size_t)height; i++) {
            uint32_t c = image->pixels[i];
            rgb[3 * i] = (uint8_t)(c >> red_shift);
            rgb[3 * i + 1] = (uint8_t)(c >> 8);
            rgb[3 * i + 2] = (uint8_t)(c >> blue_shift);
        }
        rgb_image_free(image);
    }
    if (!rgb) {
        std::fprintf(stderr, "varnel-tool: %s: out of memory\n", in);
        return 1;
    }
    int ok = ppm_write(out, rgb, width, height);
    std::free(rgb);
    if (!ok) {
        std::fprintf(stderr, "varnel-tool: cannot write %s\n", output_file_error());
        return 1;
    }
    return 0;
}
