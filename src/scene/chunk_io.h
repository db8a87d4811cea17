// Bounded little-endian reads inside one 3DS chunk, and the reader's last
// failure reason. Internal to the scene reader.
//
// A ChunkCursor counts the bytes left before the chunk's end, so no read ever
// crosses into the next chunk and no per-value ftell is needed. Every read
// returns 1 on success and 0 when the chunk (or the file) cannot supply it.
#pragma once

#include <cstdint>
#include <cstdio>

struct ChunkCursor {
    FILE* file;
    long left;  // bytes between the file position and the chunk's end
};

// Name buffers hold at most this many characters plus the terminator.
constexpr int chunk_name_max = 63;

ChunkCursor chunk_cursor(FILE* file, long end);  // left is 0 when ftell fails
int chunk_read_u16(ChunkCursor* c, uint16_t* out);
int chunk_read_u32(ChunkCursor* c, uint32_t* out);
int chunk_read_float(ChunkCursor* c, float* out);
int chunk_read_u16s(ChunkCursor* c, uint16_t* out, int count);  // the runs: one read per block of values
int chunk_read_floats(ChunkCursor* c, float* out, int count);
int chunk_skip(ChunkCursor* c, long bytes);

// Reads bytes into name until a NUL, the end of the chunk or 63 stored
// characters, then terminates it. When the 63-character limit stops the
// loop, the byte that stopped it has been read and is dropped (the rest of a
// longer name stays in the chunk). Returns 1 when a NUL or the limit stopped
// it, 0 when the chunk ended first with fewer than 63 characters stored.
int chunk_read_name(ChunkCursor* c, char name[chunk_name_max + 1]);

// Records `reason` as the reader's last failure and returns -1, the value a
// handler returns to abort the load.
int chunk_fail(const char* reason);
const char* chunk_last_error();
