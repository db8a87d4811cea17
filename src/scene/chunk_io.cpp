#include "scene/chunk_io.h"

#include <cstring>

namespace {

struct ChunkIoState {
    const char* error;  // short reason for the reader's last failure
};

ChunkIoState io = {"no file loaded yet"};

// Reads `size` raw bytes; the cursor must already hold them.
int read_bytes(ChunkCursor* c, unsigned char* out, long size) {
    if (c->left < size) return 0;
    if (std::fread(out, 1, (size_t)size, c->file) != (size_t)size) return 0;
    c->left -= size;
    return 1;
}

// `count` little-endian words of sizeof(T) bytes (2 or 4) into out, a block
// of up to 1 KB per fread rather than one value per call: each call takes
// the stream's lock.
template <typename T>
int read_words(ChunkCursor* c, T* out, int count) {
    unsigned char b[1024];
    const int per_block = (int)(sizeof b / sizeof(T));
    for (int done = 0; done < count;) {
        const int n = count - done < per_block ? count - done : per_block;
        if (!read_bytes(c, b, (long)n * (long)sizeof(T))) return 0;
        for (int i = 0; i < n; i++) {
            uint32_t word = 0;
            for (size_t k = 0; k < sizeof(T); k++) word |= (uint32_t)b[(size_t)i * sizeof(T) + k] << (8 * k);
            out[done + i] = (T)word;
        }
        done += n;
    }
    return 1;
}

}  // namespace

ChunkCursor chunk_cursor(FILE* file, long end) {
    long pos = std::ftell(file);
    ChunkCursor c = {file, 0};
    if (pos >= 0 && end > pos) c.left = end - pos;
    return c;
}

int chunk_read_u16(ChunkCursor* c, uint16_t* out) { return read_words(c, out, 1); }

int chunk_read_u32(ChunkCursor* c, uint32_t* out) { return read_words(c, out, 1); }

int chunk_read_float(ChunkCursor* c, float* out) {
    uint32_t bits;
    if (!chunk_read_u32(c, &bits)) return 0;
    std::memcpy(out, &bits, sizeof *out);
    return 1;
}

int chunk_read_u16s(ChunkCursor* c, uint16_t* out, int count) { return read_words(c, out, count); }

int chunk_read_floats(ChunkCursor* c, float* out, int count) {
    uint32_t bits[256];
    for (int done = 0; done < count; done += 256) {
        const int n = count - done < 256 ? count - done : 256;
        if (!read_words(c, bits, n)) return 0;
        std::memcpy(out + done, bits, (size_t)n * sizeof *out);
    }
    return 1;
}

int chunk_skip(ChunkCursor* c, long bytes) {
    if (bytes < 0 || c->left < bytes) return 0;
    if (std::fseek(c->file, bytes, SEEK_CUR) != 0) return 0;
    c->left -= bytes;
    return 1;
}

int chunk_read_name(ChunkCursor* c, char name[chunk_name_max + 1]) {
    int stored = 0;
    int stopped = 0;  // 1 when a NUL or the length limit ended the loop
    while (c->left > 0) {
        int ch = std::fgetc(c->file);
        if (ch == EOF) break;
        c->left--;
        if (ch == 0 || stored == chunk_name_max) {
            stopped = 1;
            break;
        }
        name[stored++] = (char)ch;
    }
    name[stored] = '\0';
    return stopped || stored == chunk_name_max;
}

int chunk_fail(const char* reason) {
    io.error = reason;
    return -1;
}

const char* chunk_last_error() { return io.error; }
