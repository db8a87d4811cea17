#pragma once

#include <memory>
#include <string>

#include "chunk_writer.h"
#include "scene/load3ds.h"

struct SceneDeleter {
    void operator()(Scene* s) const { scene_free(s); }
};
using ScenePtr = std::unique_ptr<Scene, SceneDeleter>;

inline ScenePtr load_bytes(const std::vector<uint8_t>& bytes, const std::string& name) {
    return ScenePtr(scene_load(write_test_file(name, bytes).c_str()));
}

// Wraps the body chunks of `build` in M3DMAGIC / MDATA.
template <typename Build>
std::vector<uint8_t> make_file(Build build) {
    ChunkWriter w;
    w.begin(0x4D4D).begin(0x0002).u32(3).end().begin(0x3D3D);
    build(w);
    w.end().end();
    return w.bytes();
}
