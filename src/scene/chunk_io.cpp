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

// `count` little-endian words of sizeof(Word) bytes into out, whose values
// have the same size (floats are read as their bits), a block of up to 1 KB
// per fread rather than one value per call: each call takes the stream's lock.
template <typename Word, typename T>
int read_words(ChunkCursor* c, T* out, int count) {
    static_assert(sizeof(Word) == sizeof(T), "a value is one word");
    unsigned char b[1024];
    const int per_block = (int)(sizeof b / sizeof(Word));
    for (int done = 0; done < count;) {
        const int n = count - done < per_block ? count - done : per_block;
        if (!read_bytes(c, b, (long)n * (long)sizeof(Word))) return 0;
        for (int i = 0; i < n; i++) {
            uint32_t bits = 0;
            for (size_t k = 0; k < sizeof(Word); k++) bits |= (uint32_t)b[(size_t)i * sizeof(Word) + k] << (8 * k);
            const Word word = (Word)bits;
            std::memcpy(&out[done + i], &word, sizeof word);
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

int chunk_read_u16(ChunkCursor* c, uint16_t* out) { return read_words<uint16_t>(c, out, 1); }

int chunk_read_u32(ChunkCursor* c, uint32_t* out) { return read_words<uint32_t>(c, out, 1); }

int chunk_read_float(ChunkCursor* c, float* out) { return read_words<uint32_t>(c, out, 1); }

int chunk_read_u16s(ChunkCursor* c, uint16_t* out, int count) { return read_words<uint16_t>(c, out, count); }

int chunk_read_floats(ChunkCursor* c, float* out, int count) { return read_words<uint32_t>(c, out, count); }

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
