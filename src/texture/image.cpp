// Image records and whole image files in memory.
#include "texture/image.h"

#include <cstdio>
#include <cstdlib>

#include "scene/regular_file.h"

const char* const IMAGE_NO_MEMORY = "out of memory";

void indexed_image_free(IndexedImage* image) {
    if (!image) return;
    std::free(image->palette);
    std::free(image->pixels);
    std::free(image);
}

void rgb_image_free(RgbImage* image) {
    if (!image) return;
    std::free(image->pixels);
    std::free(image);
}

uint8_t* image_file_read(const char* file_name, size_t* size, const char** why) {
    FILE* f = regular_file_open(file_name, why);
    if (!f) return nullptr;
    uint8_t* data = nullptr;
    long length = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) length = std::ftell(f);
    if (length < 0 || std::fseek(f, 0, SEEK_SET) != 0) {
        *why = "cannot read file";
    } else if (!(data = (uint8_t*)std::malloc(length > 0 ? (size_t)length : 1))) {
        *why = IMAGE_NO_MEMORY;
    } else if (std::fread(data, 1, (size_t)length, f) != (size_t)length) {
        std::free(data);
        data = nullptr;
        *why = "cannot read file";
    }
    std::fclose(f);
    *size = length > 0 ? (size_t)length : 0;
    return data;
}
