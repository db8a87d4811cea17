// BMP reader: 24-bit uncompressed bottom-up files into 0x00RRGGBB images.
#include "display/bmp.h"

#include <cstdint>
#include <cstdlib>

namespace {

enum {
    BMP_HEADER_SIZE = 54,      // 14-byte file header + 40-byte information header
    BMP_INFO_SIZE = 40,
    BMP_MAX_PIXELS = 1 << 28,  // larger images are rejected before allocating
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
    if (!image) return bmp_fail("out of memory");
    image->pixels = (uint32_t*)std::malloc((size_t)width * (size_t)height * 4);
    if (!image->pixels) {
        std::free(image);
        return bmp_fail("out of memory");
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
