// A small 3DS chunk writer for the scene tests: nested chunks whose lengths
// are patched when they close, little-endian values, files in the test
// scratch folder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

class ChunkWriter {
public:
    ChunkWriter& begin(uint16_t id) {
        open_.push_back(bytes_.size());
        u16(id);
        u32(0);  // patched by end()
        return *this;
    }
    ChunkWriter& end() {
        size_t start = open_.back();
        open_.pop_back();
        patch_u32(start + 2, (uint32_t)(bytes_.size() - start));
        return *this;
    }
    ChunkWriter& u8(uint8_t v) {
        bytes_.push_back(v);
        return *this;
    }
    ChunkWriter& u16(uint16_t v) { return u8(v & 0xFF).u8(v >> 8); }
    ChunkWriter& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    ChunkWriter& f32(float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        return u32(bits);
    }
    ChunkWriter& str(const std::string& s) {  // with its NUL
        for (char c : s) u8((uint8_t)c);
        return u8(0);
    }
    // A whole chunk with no data: id and a length of 6.
    ChunkWriter& empty(uint16_t id) { return begin(id).end(); }
    void patch_u32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; i++) bytes_[at + i] = (uint8_t)(v >> (8 * i));
    }
    std::vector<uint8_t>& bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    std::vector<size_t> open_;
};

inline std::string scene_test_path(const std::string& name) {
    ::mkdir(VARNEL_TEST_TMP, 0755);
    return std::string(VARNEL_TEST_TMP) + "/" + name;
}

inline std::string write_test_file(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = scene_test_path(name);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

// -- 3DS building blocks ------------------------------------------------------

struct TestTri {
    uint16_t a, b, c;
};

// A named mesh object; positions are given in file order (z-up).
inline void write_mesh(ChunkWriter& w, const std::string& name, const std::vector<float>& xyz,
                       const std::vector<TestTri>& faces) {
    w.begin(0x4000).str(name).begin(0x4100);
    w.begin(0x4110).u16((uint16_t)(xyz.size() / 3));
    for (float v : xyz) w.f32(v);
    w.end();
    w.begin(0x4120).u16((uint16_t)faces.size());
    for (const TestTri& t : faces) w.u16(t.a).u16(t.b).u16(t.c).u16(7);
    w.end();
    w.end().end();
}

inline void write_material(ChunkWriter& w, const std::string& name) {
    w.begin(0xAFFF).begin(0xA000).str(name).end();
    w.begin(0xA020).begin(0x0011).u8(200).u8(100).u8(50).end().end();  // a diffuse colour
    w.end();
}

// Track header then keys; each key's frame, flags, extra floats and data.
struct TestKey {
    uint32_t frame;
    uint16_t flags;
    std::vector<float> data;  // extra floats, then key data
};

inline void write_track(ChunkWriter& w, uint16_t id, uint32_t count, const std::vector<TestKey>& keys) {
    w.begin(id).u16(0).u32(0).u32(0).u32(count);
    for (const TestKey& k : keys) {
        w.u32(k.frame).u16(k.flags);
        for (float f : k.data) w.f32(f);
    }
    w.end();
}

inline void write_node_header(ChunkWriter& w, const std::string& name, uint16_t parent) {
    w.begin(0xB010).str(name).u16(0x4000).u16(0).u16(parent).end();
}
