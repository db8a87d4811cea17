#include "asset/asset_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "file_mode.h"

namespace {

struct AssetFileState {
    char error[256];  // reason for the last failure, "" before any
};

AssetFileState state = {};

int fail(const char* what, const char* path) {
    std::snprintf(state.error, sizeof state.error, "%s: %s", path, what);
    return 0;
}

int write_all(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        data += n;
        size -= (size_t)n;
    }
    return 1;
}

// Moves the finished temporary file to its name. Without replacing, link()
// refuses an existing name atomically; on file systems without hard links
// an existence test followed by rename is the best that can be done.
int move_into_place(const std::string& temp, const char* path, AssetWriteMode mode) {
    if (mode == ASSET_REPLACE) return rename(temp.c_str(), path) == 0 ? 1 : fail(std::strerror(errno), path);
    if (link(temp.c_str(), path) == 0) {
        unlink(temp.c_str());
        return 1;
    }
    int e = errno;
    if (e == EEXIST) return fail("file exists (not replaced)", path);
    if (e != EPERM && e != ENOTSUP && e != ENOSYS && e != EXDEV) return fail(std::strerror(e), path);
    if (asset_file_exists(path)) return fail("file exists (not replaced)", path);
    return rename(temp.c_str(), path) == 0 ? 1 : fail(std::strerror(errno), path);
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
    if (errno == EEXIST && stat(path, &s) == 0 && S_ISDIR(s.st_mode)) return 1;
    return fail(errno == EEXIST ? "exists and is not a folder" : std::strerror(errno), path);
}

int asset_file_write(const char* path, const uint8_t* data, size_t size, AssetWriteMode mode) {
    if (mode == ASSET_KEEP_EXISTING && asset_file_exists(path)) return fail("file exists (not replaced)", path);
    std::string temp = std::string(path) + ".partialXXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0) return fail(std::strerror(errno), path);
    int ok = fchmod(fd, file_mode_new_file()) == 0 && write_all(fd, data, size);
    if (close(fd) != 0) ok = 0;
    if (!ok) {
        unlink(temp.c_str());
        return fail("write failed", path);
    }
    if (!move_into_place(temp, path, mode)) {
        unlink(temp.c_str());
        return 0;
    }
    return 1;
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
