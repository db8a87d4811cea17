#include "png_write.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include "scene/output_file.h"

namespace {

// libpng would print its own line; the caller reports the failure once.
void png_quiet_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_quiet_warning(png_structp, png_const_charp) {}

// libpng reports errors by longjmp; everything that needs freeing lives
// outside this function.
int write_png(FILE* f, const uint32_t* pixels, int width, int height, std::vector<uint8_t>& row) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_quiet_error, png_quiet_warning);
    if (!png) return 0;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return 0;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; y++) {
        const uint32_t* src = pixels + (size_t)y * width;
        for (int x = 0; x < width; x++) {
            row[3 * x + 0] = (uint8_t)(src[x] >> 16);
            row[3 * x + 1] = (uint8_t)(src[x] >> 8);
            row[3 * x + 2] = (uint8_t)src[x];
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return 1;
}

}  // namespace

int png_write_rgb(const char* file_name, const uint32_t* pixels, int width, int height) {
    OutputFile f;
    if (!output_file_open(&f, file_name)) return 0;
    FILE* stream = output_file_stream(&f);
    std::vector<uint8_t> row((size_t)width * 3);
    errno = 0;
    if (!stream || !write_png(stream, pixels, width, height, row)) {
        output_file_discard(&f, file_name, errno ? errno : EIO);
        return 0;
    }
    return output_file_commit(&f, file_name, OUTPUT_REPLACE);
}
