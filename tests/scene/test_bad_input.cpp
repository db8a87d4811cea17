// Damaged files: each is rejected with a reason, or loaded with the offending
// entries ignored, never read or written out of bounds (run under ASan).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "scene_test_util.h"

namespace {

const std::vector<float> tri = {0, 0, 0, 1, 0, 0, 0, 1, 0};

void expect_rejected(const std::vector<uint8_t>& bytes, const char* name, const char* reason) {
    ScenePtr s = load_bytes(bytes, name);
    EXPECT_FALSE(s) << name;
    EXPECT_STREQ(scene_load_error(), reason) << name;
}

TEST(BadInput, MissingFile) {
    EXPECT_EQ(scene_load(scene_test_path("does_not_exist.3ds").c_str()), nullptr);
    EXPECT_STREQ(scene_load_error(), "cannot open file");
}

// A 3DS file starts with the main chunk; anything else is named for what it
// is rather than a chunk it never had. A 3DS file that fails keeps the
// chunk's reason (above); the main chunk alone is an empty world.
TEST(BadInput, FileOfAnotherKindIsNotA3dsFile) {
    const std::string obj = "# an OBJ file\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    expect_rejected(std::vector<uint8_t>(obj.begin(), obj.end()), "model.3ds", "not a 3DS file");
    expect_rejected({0x3D, 0x3D, 0xFF, 0xFF, 0, 0}, "editor_first.3ds", "not a 3DS file");
    expect_rejected({0x3D, 0x3D, 6, 0, 0, 0}, "editor_only.3ds", "not a 3DS file");
    expect_rejected({}, "empty.3ds", "not a 3DS file");
    expect_rejected({0x4D, 0x4D, 6, 0}, "main_cut.3ds", "not a 3DS file");
    ScenePtr empty = load_bytes({0x4D, 0x4D, 6, 0, 0, 0}, "main_only.3ds");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->object_count, 0);
}

TEST(BadInput, ChunkLengthsAndNesting) {
    for (uint32_t length : {0u, 1u, 5u}) {
        ChunkWriter w;
        w.begin(0x4D4D).begin(0x3D3D).u16(0x1234).u32(length).u32(0).end().end();
        expect_rejected(w.bytes(), "short_length.3ds", "chunk length below 6");
    }
    {
        ChunkWriter w;  // a child that claims to run past its parent
        w.begin(0x4D4D).begin(0x3D3D).begin(0x4000).str("A").end().end();
        w.u32(0);  // padding inside M3DMAGIC so the file is longer than the child's claim
        w.end();
        w.patch_u32(6 + 2, 200);
        expect_rejected(w.bytes(), "past_parent.3ds", "chunk runs past its parent");
    }
    {
        ChunkWriter w;  // the top chunk claims more than the file
        w.begin(0x4D4D).begin(0x3D3D).end().end();
        w.patch_u32(2, 1000);
        expect_rejected(w.bytes(), "past_file.3ds", "chunk runs past its parent");
    }
    {
        ChunkWriter w;  // three stray bytes after the last chunk
        w.begin(0x4D4D).end().u8(1).u8(2).u8(3);
        expect_rejected(w.bytes(), "cut_header.3ds", "chunk header cut short");
    }
    {
        ChunkWriter w;  // deep nesting of a descending row
        for (int i = 0; i < 5000; i++) w.begin(0x4D4D);
        for (int i = 0; i < 5000; i++) w.end();
        expect_rejected(w.bytes(), "deep.3ds", "chunks nested too deeply");
    }
}

TEST(BadInput, CountsBeyondTheirChunk) {
    auto mesh_with = [](uint16_t id, const std::function<void(ChunkWriter&)>& body) {
        return make_file([&](ChunkWriter& w) {
            w.begin(0x4000).str("M").begin(0x4100);
            w.begin(0x4110).u16(3);
            for (float f : tri) w.f32(f);
            w.end();
            w.begin(0x4120).u16(1).u16(0).u16(1).u16(2).u16(0).end();
            w.begin(id);
            body(w);
            w.end();
            w.end().end();
        });
    };
    expect_rejected(mesh_with(0x4110, [](ChunkWriter& w) { w.u16(2).f32(1).f32(2).f32(3); }), "v.3ds",
                    "vertex count exceeds its chunk");
    expect_rejected(mesh_with(0x4120, [](ChunkWriter& w) { w.u16(3).u16(0).u16(1).u16(2).u16(0); }), "f.3ds",
                    "face count exceeds its chunk");
    expect_rejected(mesh_with(0x4140, [](ChunkWriter& w) { w.u16(4).f32(0).f32(0); }), "uv.3ds",
                    "mapping coordinate count exceeds its chunk");
    expect_rejected(mesh_with(0x4130, [](ChunkWriter& w) { w.str("X").u16(2).u16(0); }), "g.3ds",
                    "material group count exceeds its chunk");
    expect_rejected(mesh_with(0x4130, [](ChunkWriter& w) { w.u8('X').u8('Y'); }), "gname.3ds",
                    "material group name cut short");
    expect_rejected(mesh_with(0x4160, [](ChunkWriter& w) { w.f32(1).f32(2); }), "matrix.3ds",
                    "mesh matrix chunk too short");

    auto track = [](uint16_t id, uint32_t count, const std::vector<TestKey>& keys) {
        ChunkWriter w;
        w.begin(0x4D4D).begin(0x3D3D);
        write_mesh(w, "M", tri, {{0, 1, 2}});
        w.end().begin(0xB000).begin(0xB002);
        write_node_header(w, "M", 0xFFFF);
        write_track(w, id, count, keys);
        w.end().end().end();
        return w.bytes();
    };
    expect_rejected(track(0xB020, 3, {{0, 0, {1, 2, 3}}}), "keys.3ds", "key count exceeds its chunk");
    expect_rejected(track(0xB021, 2, {{0, 0, {1, 2, 3, 4}}, {0, 0, {1}}}), "rkeys.3ds", "key count exceeds its chunk");
    // Extra floats announced by the flags but missing from the chunk.
    expect_rejected(track(0xB020, 1, {{0, 0x07, {1, 2, 3}}}), "keyflags.3ds", "key runs past its chunk");
    // A node name with no terminator before the end of the file.
    ChunkWriter w;
    w.begin(0x4D4D).begin(0xB000).begin(0xB002).begin(0xB010).u8('A').u8('B').end().end().end().end();
    expect_rejected(w.bytes(), "nodename.3ds", "node name cut short");
}

TEST(BadInput, CornerIndexAndMisplacedChunks) {
    auto bad_corner = make_file([](ChunkWriter& w) { write_mesh(w, "M", tri, {{0, 1, 3}}); });
    expect_rejected(bad_corner, "corner.3ds", "face corner index out of range");

    auto duplicate = make_file([](ChunkWriter& w) {
        w.begin(0x4000).str("M").begin(0x4100);
        for (int i = 0; i < 2; i++) {
            w.begin(0x4110).u16(3);
            for (float f : tri) w.f32(f);
            w.end();
        }
        w.end().end();
    });
    expect_rejected(duplicate, "dup.3ds", "second vertex array in one object");

    // Faces before vertices, groups before faces, mapping before vertices and
    // mesh data outside any mesh object are ignored, not fatal.
    auto misplaced = make_file([](ChunkWriter& w) {
        write_material(w, "Mat");
        w.begin(0x4110).u16(3);  // outside any object
        for (float f : tri) w.f32(f);
        w.end();
        w.begin(0x4000).str("M").begin(0x4100);
        w.begin(0x4140).u16(1).f32(5).f32(5).end();
        w.begin(0x4120).u16(1).u16(0).u16(1).u16(2).u16(0).begin(0x4130).str("Mat").u16(1).u16(0).end().end();
        w.begin(0x4110).u16(3);
        for (float f : tri) w.f32(f);
        w.end();
        w.begin(0x4140).u16(5).f32(1).f32(2).f32(3).f32(4).f32(5).f32(6).f32(7).f32(8).f32(9).f32(10).end();
        w.end().end();
    });
    ScenePtr s = load_bytes(misplaced, "misplaced.3ds");
    ASSERT_TRUE(s) << scene_load_error();
    const SceneObject& o = s->objects[0];
    EXPECT_EQ(o.face_count, 0);
    EXPECT_EQ(o.faces, nullptr);
    ASSERT_EQ(o.vertex_count, 3);
    EXPECT_EQ(o.vertices[0].u, 1.0f);  // the later, in-order mapping; pairs 4 and 5 dropped
    EXPECT_EQ(o.vertices[2].v, 6.0f);
}

// Every prefix of a valid file and every single-byte corruption of it loads
// or is rejected cleanly; AddressSanitizer checks the rest.
TEST(BadInput, TruncatedAndCorruptedFiles) {
    ChunkWriter w;
    w.begin(0x4D4D).begin(0x3D3D);
    write_material(w, "Mat");
    w.begin(0x4000).str("M").begin(0x4100);
    w.begin(0x4110).u16(3);
    for (float f : tri) w.f32(f);
    w.end();
    w.begin(0x4140).u16(3).f32(0).f32(0).f32(1).f32(0).f32(0).f32(1).end();
    w.begin(0x4120).u16(1).u16(0).u16(1).u16(2).u16(0).begin(0x4130).str("Mat").u16(1).u16(0).end().end();
    w.end().end();
    w.begin(0x4000).str("L").begin(0x4600).f32(1).f32(2).f32(3).begin(0x0010).f32(1).f32(1).f32(1).end().end().end();
    w.begin(0x4000).str("C").begin(0x4700);
    for (int i = 0; i < 8; i++) w.f32(1);
    w.end().end();
    w.end().begin(0xB000).begin(0xB008).u32(0).u32(100).end();
    w.begin(0xB002).begin(0xB030).u16(1).end();
    write_node_header(w, "M", 0xFFFF);
    write_track(w, 0xB020, 2, {{0, 1, {0, 1, 2, 3}}, {5, 0, {4, 5, 6}}});
    write_track(w, 0xB021, 1, {{0, 0, {1, 0, 0, 1}}});
    w.end();
    w.begin(0xB003);
    write_node_header(w, "C", 0xFFFF);
    write_track(w, 0xB020, 1, {{0, 0, {1, 2, 3}}});
    w.end().end().end();
    const std::vector<uint8_t> good = w.bytes();
    ScenePtr whole = load_bytes(good, "fuzz_base.3ds");
    ASSERT_TRUE(whole) << scene_load_error();
    ASSERT_EQ(whole->objects[0].position_key_count, 2);

    for (size_t size = 0; size < good.size(); size++) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + (long)size);
        ScenePtr s = load_bytes(cut, "fuzz_cut.3ds");
        if (!s) {
            EXPECT_GT(std::strlen(scene_load_error()), 0u);
        }
    }
    for (size_t at = 0; at < good.size(); at++)
        for (uint8_t value : {0x00, 0x01, 0x7F, 0xFF}) {
            std::vector<uint8_t> bad = good;
            bad[at] = value;
            ScenePtr s = load_bytes(bad, "fuzz_byte.3ds");
            if (s)
                for (int i = 0; i < s->object_count; i++)
                    for (int f = 0; f < s->objects[i].face_count; f++)
                        for (int k = 0; k < 3; k++) {
                            const SceneObject& o = s->objects[i];
                            ptrdiff_t index = o.faces[f].corners[k] - o.vertices;
                            ASSERT_TRUE(index >= 0 && index < o.vertex_count);
                        }
        }
}

}  // namespace
