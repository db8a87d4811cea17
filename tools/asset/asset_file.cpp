#include "asset/asset_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "scene/output_file.h"

namespace {

struct AssetFileState {
    char error[256];  // reason for the last failure, "" before any
};

AssetFileState state = {};

int fail(const char* what, const char* path) {
    std::snprintf(state.error, sizeof state.error, "%s: %s", path, what);
    return 0;
}

}  // namespace

const char* asset_error() { return state.error; }

int asset_file_exists(const char* path) {
    struct stat s;
    return lstat(path, &s) == 0;
}

int asset_make_folder(const char* path) {
    if (mkdir(path, 0755) == 0) return 1;
    struct stat s;
    if (errno == EEXIST && lstat(path, &s) == 0 && S_ISDIR(s.st_mode)) return 1;  // never a link to a folder
    return fail(errno == EEXIST ? "exists and is not a folder" : std::strerror(errno), path);
}

int asset_file_write(const char* path, const uint8_t* data, size_t size, AssetWriteMode mode) {
    if (mode == ASSET_KEEP_EXISTING && asset_file_exists(path)) return fail("file exists (not replaced)", path);
    const OutputPlace how = mode == ASSET_REPLACE ? OUTPUT_REPLACE : OUTPUT_KEEP_EXISTING;
    if (output_file_save(path, data, size, how) == 1) return 1;
    std::snprintf(state.error, sizeof state.error, "%s", output_file_error());
    return 0;
}

void buffer_put_u8(ByteBuffer* b, uint32_t v) { b->push_back((uint8_t)v); }

void buffer_put_u16(ByteBuffer* b, uint32_t v) {
    b->push_back((uint8_t)v);
    b->push_back((uint8_t)(v >> 8));
}

void buffer_put_u32(ByteBuffer* b, uint32_t v) {
    buffer_put_u16(b, v & 0xFFFFu);
    buffer_put_u16(b, v >> 16);
}

void buffer_put_f32(ByteBuffer* b, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    buffer_put_u32(b, bits);
}

void buffer_put_bytes(ByteBuffer* b, const void* data, size_t size) {
    const uint8_t* p = (const uint8_t*)data;
    b->insert(b->end(), p, p + size);
}

void buffer_patch_u32(ByteBuffer* b, size_t offset, uint32_t v) {
    for (int i = 0; i < 4; i++) (*b)[offset + i] = (uint8_t)(v >> (8 * i));
}
