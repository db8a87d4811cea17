// Safe output for the asset tools: every file is built in memory, written
// new under a temporary name in its own folder and only then moved into
// place (scene/output_file.h), so a failed or interrupted run never leaves a
// half-written file, no link is followed, and an existing file is never
// replaced unless the caller allows it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

typedef std::vector<uint8_t> ByteBuffer;

enum AssetWriteMode {
    ASSET_KEEP_EXISTING = 0,  // fail with "file exists" when the name is taken
    ASSET_REPLACE = 1,        // replace an existing file atomically
};

// 1 on success; 0 with a reason in asset_error(). The file gets mode 0666
// less the umask, as a file open() creates.
int asset_file_write(const char* path, const uint8_t* data, size_t size, AssetWriteMode mode);
int asset_file_exists(const char* path);
// Creates one folder level (mode 0755); 1 when it exists afterwards.
int asset_make_folder(const char* path);
const char* asset_error();

// Little-endian appends used by every encoder.
void buffer_put_u8(ByteBuffer* b, uint32_t v);
void buffer_put_u16(ByteBuffer* b, uint32_t v);
void buffer_put_u32(ByteBuffer* b, uint32_t v);
void buffer_put_f32(ByteBuffer* b, float v);
void buffer_put_bytes(ByteBuffer* b, const void* data, size_t size);
void buffer_patch_u32(ByteBuffer* b, size_t offset, uint32_t v);
