// BMP files: 24-bit uncompressed bottom-up files read into 0x00RRGGBB
// images, and images and frames written as such files.
#include "display/bmp.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "scene/output_file.h"

namespace {

enum {
    BMP_HEADER_SIZE = 54,      // 14-byte file header + 40-byte information header
    BMP_INFO_SIZE = 40,
    BMP_MAX_PIXELS = 1 << 28,  // larger images are rejected before allocating
    BMP_PELS_PER_METRE = 96,   // written into the information header
};

struct BmpState {
    const char* error;  // reason the last read failed
};

BmpState bmp = {""};

RgbImage* bmp_fail(const char* why) {
    bmp.error = why;
    return nullptr;
}

uint32_t u16le(const uint8_t* p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8; }
uint32_t u32le(const uint8_t* p) { return u16le(p) | u16le(p + 2) << 16; }

}  // namespace

// Uncompressed 24-bit bottom-up BMP. Rows start at bfOffBits (54 when the
// field is smaller, as with a bare 40-byte information header), are padded to
// a multiple of four bytes and hold blue, green, red per pixel.
RgbImage* bmp_decode(const uint8_t* data, size_t size) {
    if (size < BMP_HEADER_SIZE) return bmp_fail("truncated header");
    if (data[0] != 'B' || data[1] != 'M') return bmp_fail("not a BMP file");
    uint32_t offset = u32le(data + 10);
    uint32_t info_size = u32le(data + 14);
    int32_t width = (int32_t)u32le(data + 18);
    int32_t height = (int32_t)u32le(data + 22);
    uint32_t bit_count = u16le(data + 28);
    uint32_t compression = u32le(data + 30);
    if (info_size < BMP_INFO_SIZE) return bmp_fail("unsupported BMP header");
    if (bit_count != 24) return bmp_fail("not a 24-bit BMP");
    if (compression != 0) return bmp_fail("compressed BMP");
    if (height < 0) return bmp_fail("top-down BMP");
    if (width <= 0 || height == 0) return bmp_fail("empty image");
    if ((uint64_t)width * (uint64_t)height > BMP_MAX_PIXELS) return bmp_fail("image too large");
    if (offset < BMP_HEADER_SIZE) offset = BMP_HEADER_SIZE;
    const uint64_t row_size = ((uint64_t)width * 3 + 3) & ~(uint64_t)3;
    if (offset > size || (uint64_t)(size - offset) < row_size * (uint64_t)height)
        return bmp_fail("truncated pixel data");

    RgbImage* image = (RgbImage*)std::malloc(sizeof(RgbImage));
    if (!image) return bmp_fail(IMAGE_NO_MEMORY);
    image->pixels = (uint32_t*)std::malloc((size_t)width * (size_t)height * 4);
    if (!image->pixels) {
        std::free(image);
        return bmp_fail(IMAGE_NO_MEMORY);
    }
    image->width = width;
    image->height = height;
    const uint8_t* row = data + offset;
    for (int32_t y = height - 1; y >= 0; y--, row += row_size) {
        uint32_t* out = image->pixels + (size_t)y * (size_t)width;
        for (int32_t x = 0; x < width; x++) {
            const uint8_t* p = row + 3 * (size_t)x;
            out[x] = (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | (uint32_t)p[0];
        }
    }
    return image;
}

RgbImage* bmp_read(const char* file_name) {
    size_t size;
    const char* why;
    uint8_t* data = image_file_read(file_name, &size, &why);
    if (!data) return bmp_fail(why);
    RgbImage* image = bmp_decode(data, size);
    std::free(data);
    return image;
}

const char* bmp_error() { return bmp.error; }

// -- writing --------------------------------------------------------------------
// 24-bit uncompressed bottom-up files. A file is never left half-written
// and no link is followed: every file is written new under a temporary name
// and renamed into place (scene/output_file.h).

namespace {

void put16(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

// Bytes per file row: three per pixel, padded to a multiple of four.
uint64_t bmp_row_size(int32_t width) { return ((uint64_t)width * 3 + 3) & ~(uint64_t)3; }

int image_writable(const RgbImage* image) {
    if (!image || !image->pixels || image->width < 1 || image->height < 1) return 0;
    // bfSize is 32 bits.
    return bmp_row_size(image->width) * (uint64_t)image->height + BMP_HEADER_SIZE <= UINT32_MAX;
}

// How an image's words hold their colours.
enum PixelOrder {
    RED_LOW = 0,   // 0x00BBGGRR, as bmp_write takes them
    RED_HIGH = 1,  // 0x00RRGGBB, as the frame buffer holds them
};

// Writes the headers and the rows, bottom row first, blue-green-red per
// pixel, converting each row as it goes. 1 when every byte reached the file.
int write_bmp_stream(FILE* f, const RgbImage* image, PixelOrder order) {
    const uint32_t row_size = (uint32_t)bmp_row_size(image->width);
    const uint32_t data_size = row_size * (uint32_t)image->height;
    uint8_t header[BMP_HEADER_SIZE] = {};
    header[0] = 'B';
    header[1] = 'M';
    put32(header + 2, BMP_HEADER_SIZE + data_size);
    put32(header + 10, BMP_HEADER_SIZE);
    put32(header + 14, 40);
    put32(header + 18, (uint32_t)image->width);
    put32(header + 22, (uint32_t)image->height);
    put16(header + 26, 1);
    put16(header + 28, 24);
    put32(header + 34, data_size);
    put32(header + 38, BMP_PELS_PER_METRE);
    put32(header + 42, BMP_PELS_PER_METRE);
    if (std::fwrite(header, 1, sizeof header, f) != sizeof header) return 0;

    uint8_t* row = (uint8_t*)std::calloc(row_size, 1);  // pad bytes stay 0
    if (!row) return 0;
    int ok = 1;
    const int blue = order == RED_HIGH ? 0 : 16, red = 16 - blue;  // shifts of the two outer channels
    for (int32_t y = image->height - 1; y >= 0 && ok; y--) {
        const uint32_t* src = image->pixels + (size_t)y * (size_t)image->width;
        for (int32_t x = 0; x < image->width; x++) {
            uint32_t w = src[x];
            row[3 * x] = (uint8_t)(w >> blue);
            row[3 * x + 1] = (uint8_t)(w >> 8);
            row[3 * x + 2] = (uint8_t)(w >> red);
        }
        ok = std::fwrite(row, 1, row_size, f) == row_size;
    }
    std::free(row);
    return ok;
}

// The file is made new under a temporary name and given `file_name` only
// once complete (scene/output_file.h): 1 written, 0 failed (no file left
// behind), -1 a file of that name exists and `how` keeps it.
int write_file(const char* file_name, const RgbImage* image, PixelOrder order, OutputPlace how) {
    if (!image_writable(image)) return 0;
    OutputFile f;
    if (!output_file_open(&f, file_name)) return 0;
    FILE* stream = output_file_stream(&f);
    errno = 0;
    if (!stream || !write_bmp_stream(stream, image, order)) {
        output_file_discard(&f, file_name, errno ? errno : EIO);
        return 0;
    }
    int placed = output_file_commit(&f, file_name, how);
    if (placed < 0) output_file_discard(&f, file_name, 0);
    return placed;
}

}  // namespace

int bmp_write_new(const char* file_name, const RgbImage* image) {
    return write_file(file_name, image, RED_LOW, OUTPUT_KEEP_EXISTING);
}

int bmp_write(const char* file_name, const RgbImage* image) {
    return write_file(file_name, image, RED_LOW, OUTPUT_REPLACE);
}

int bmp_write_frame_new(const char* file_name, const uint32_t* frame, int32_t width, int32_t height) {
    RgbImage image = {const_cast<uint32_t*>(frame), width, height};
    return write_file(file_name, &image, RED_HIGH, OUTPUT_KEEP_EXISTING);
}

int bmp_write_frame(const char* file_name, const uint32_t* frame, int32_t width, int32_t height) {
    RgbImage image = {const_cast<uint32_t*>(frame), width, height};
    return write_file(file_name, &image, RED_HIGH, OUTPUT_REPLACE);
}
