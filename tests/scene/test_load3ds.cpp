// The chunk walk and the non-keyframer handlers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "scene_test_util.h"

namespace {

TEST(SceneLoad, MeshIsStoredYUpWithMappingAndMatrix) {
    auto bytes = make_file([](ChunkWriter& w) {
        w.begin(0x4000).str("Box").begin(0x4100);
        w.begin(0x4110).u16(3).f32(1).f32(2).f32(3).f32(4).f32(5).f32(6).f32(7).f32(8).f32(9).end();
        w.begin(0x4140).u16(3).f32(0.25f).f32(-1.5f).f32(2).f32(3).f32(4).f32(5).end();
        w.begin(0x4120).u16(1).u16(2).u16(0).u16(1).u16(0).end();
        w.begin(0x4160);
        for (int i = 0; i < 12; i++) w.f32((float)(i + 1));
        w.end();
        w.end().end();
    });
    ScenePtr s = load_bytes(bytes, "mesh.3ds");
    ASSERT_TRUE(s) << scene_load_error();
    ASSERT_EQ(s->object_count, 1);
    const SceneObject& o = s->objects[0];
    EXPECT_STREQ(o.name, "Box");
    ASSERT_EQ(o.vertex_count, 3);
    EXPECT_EQ(o.vertices[0].x, 1);  // (file x, file z, file y)
    EXPECT_EQ(o.vertices[0].y, 3);
    EXPECT_EQ(o.vertices[0].z, 2);
    EXPECT_EQ(o.vertices[2].y, 9);
    EXPECT_EQ(o.vertices[0].u, 0.25f);  // mapping exactly as stored
    EXPECT_EQ(o.vertices[0].v, -1.5f);
    ASSERT_EQ(o.face_count, 1);
    const int corner_vertices[3] = {2, 0, 1};  // as the face lists them
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(o.faces[0].corners[k], &o.vertices[corner_vertices[k]]);
        EXPECT_EQ(o.faces[0].vertex_index[k], corner_vertices[k]);
    }
    EXPECT_EQ(o.faces[0].material_index, -1);  // no material group lists it
    const float expected[16] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 1};
    for (int i = 0; i < 16; i++) EXPECT_EQ(o.matrix.m[i], expected[i]) << i;
    EXPECT_EQ(s->camera_count, 0);
    EXPECT_EQ(s->segment_start, 0);
}

TEST(SceneLoad, UnknownChunksAndRowsWithoutHandlerAreSkippedWithTheirChildren) {
    auto bytes = make_file([](ChunkWriter& w) {
        // An unknown chunk and a no-handler row (MSH_BOXMAP) both hide a
        // complete mesh object; neither may be seen.
        w.begin(0x1234);
        write_mesh(w, "Hidden", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {{0, 1, 2}});
        w.end();
        w.begin(0x4190);
        write_mesh(w, "Boxed", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {{0, 1, 2}});
        w.end();
        w.begin(0xB011).begin(0xAFFF).begin(0xA000).str("NotAMaterial").end().end().end();  // INSTANCE_NAME
        write_mesh(w, "Seen", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {{0, 1, 2}});
    });
    ScenePtr s = load_bytes(bytes, "skip.3ds");
    ASSERT_TRUE(s) << scene_load_error();
    ASSERT_EQ(s->object_count, 1);
    EXPECT_STREQ(s->objects[0].name, "Seen");
    EXPECT_EQ(s->material_count, 0);
}

TEST(SceneLoad, HandlerReadingLessThanItsDataKeepsTheNextSiblingAligned) {
    auto bytes = make_file([](ChunkWriter& w) {
        w.begin(0x4000).str("Obj").begin(0x4100);
        w.begin(0x4110).u16(3).f32(0).f32(0).f32(0).f32(1).f32(0).f32(0).f32(0).f32(1).f32(0).end();
        w.begin(0x4120).u16(1).u16(0).u16(1).u16(2).u16(0);
        w.begin(0x7777).u32(0xDEADBEEF).u32(0x41104110).end();  // unknown child
        w.begin(0x4150).u32(1).u32(2).u32(3).end();               // smoothing, ignored
        w.end();
        // A mesh-matrix chunk with trailing padding: the handler reads 48 bytes.
        w.begin(0x4160);
        for (int i = 0; i < 12; i++) w.f32(1);
        w.u32(0x4140).u32(0x4140);
        w.end();
        w.begin(0x4140).u16(3).f32(0.5f).f32(0.5f).f32(1).f32(1).f32(2).f32(2).end();
        w.end().end();
        write_material(w, "After");
    });
    ScenePtr s = load_bytes(bytes, "align.3ds");
    ASSERT_TRUE(s) << scene_load_error();
    ASSERT_EQ(s->object_count, 1);
    EXPECT_EQ(s->objects[0].vertices[2].u, 2.0f);
    ASSERT_EQ(s->material_count, 1);
    EXPECT_STREQ(s->materials[0].name, "After");
}

TEST(SceneLoad, MaterialGroups) {
    auto bytes = make_file([](ChunkWriter& w) {
        write_material(w, "Stone");
        write_material(w, "Wood");
        w.begin(0x4000).str("Obj").begin(0x4100);
        w.begin(0x4110).u16(3).f32(0).f32(0).f32(0).f32(1).f32(0).f32(0).f32(0).f32(1).f32(0).end();
        w.begin(0x4120).u16(6);
        for (int i = 0; i < 6; i++) w.u16(0).u16(1).u16(2).u16(0);
        w.begin(0x4130).str("Stone").u16(3).u16(0).u16(1).u16(2).end();
        w.begin(0x4130).str("Wood").u16(2).u16(1).u16(4000).end();  // later group wins; 4000 ignored
        w.begin(0x4130).str("Glass").u16(1).u16(3).end();           // never defined
        w.begin(0x4130).str("Late").u16(1).u16(4).end();            // defined after this group
        w.end();
        w.end().end();
        write_material(w, "Late");
    });
    ScenePtr s = load_bytes(bytes, "groups.3ds");
    ASSERT_TRUE(s) << scene_load_error();
    ASSERT_EQ(s->material_count, 3);
    const SceneFace* f = s->objects[0].faces;
    EXPECT_EQ(f[0].material_index, 0);
    EXPECT_EQ(f[1].material_index, 1);
    EXPECT_EQ(f[2].material_index, 0);
    EXPECT_EQ(f[3].material_index, -1);
    EXPECT_EQ(f[4].material_index, -1);
    EXPECT_EQ(f[5].material_index, -1);  // listed by no group
}

TEST(SceneLoad, NamesOf63And64Characters) {
    std::string n63(63, 'a'), n64 = std::string(63, 'b') + "X";
    auto bytes = make_file([&](ChunkWriter& w) {
        write_material(w, n64);  // cut to 63, the 64th byte dropped
        write_mesh(w, n63, {0, 0, 0, 1, 0, 0, 0, 1, 0}, {{0, 1, 2}});
        w.begin(0x4000).str("Next").begin(0x4100).end().end();
    });
    ScenePtr s = load_bytes(bytes, "names.3ds");
    ASSERT_TRUE(s) << scene_load_error();
    EXPECT_EQ(std::string(s->materials[0].name), std::string(63, 'b'));
    ASSERT_EQ(s->object_count, 2);
    // 63 characters whole and the terminator consumed: the mesh child was found.
    EXPECT_EQ(std::string(s->objects[0].name), n63);
    EXPECT_EQ(s->objects[0].face_count, 1);
    EXPECT_STREQ(s->objects[1].name, "Next");
}

TEST(SceneLoad, LightsWithSpotColourAndRanges) {
    auto bytes = make_file([](ChunkWriter& w) {
        w.begin(0x1200).begin(0x0010).f32(0.9f).f32(0.9f).f32(0.9f).end().end();  // background: no light named
        w.begin(0x4000).str("Sun").begin(0x4600).f32(1).f32(2).f32(3);
        w.begin(0x0010).f32(1.0f).f32(0.5f).f32(0.2f).end();
        w.begin(0x4610).f32(4).f32(5).f32(6).f32(30).f32(45).end();
        w.begin(0x4659).f32(10).end().begin(0x465A).f32(20).end().begin(0x465B).f32(1.5f).end();
        w.empty(0x4620).empty(0x4627);
        w.end().end();
        w.begin(0x4000).str("Fill").begin(0x4600).f32(7).f32(8).f32(9).end().end();
        // A colour chunk met while a light's name is current lands on it,
        // wherever it occurs.
        w.begin(0x2100).begin(0x0013).f32(0.0f).f32(1.0f).f32(0.25f).end().end();
        // Out-of-range colours saturate instead of overflowing the conversion.
        w.begin(0x4000).str("Hot").begin(0x4600).f32(0).f32(0).f32(0);
        w.begin(0x0010).f32(2.0f).f32(1e30f).f32(NAN).end().end().end();
    });
    ScenePtr s = load_bytes(bytes, "lights.3ds");
    ASSERT_TRUE(s) << scene_load_error();
    ASSERT_EQ(s->light_count, 3);
    const SceneLight& a = s->lights[0];
    EXPECT_STREQ(a.name, "Sun");
    EXPECT_EQ(a.position[0], 1);
    EXPECT_EQ(a.position[1], 3);
    EXPECT_EQ(a.position[2], 2);
    EXPECT_EQ(a.is_spot, 1);
    EXPECT_EQ(a.spot_target[1], 6);
    EXPECT_EQ(a.spot_target[2], 5);
    EXPECT_EQ(a.hotspot, 30);
    EXPECT_EQ(a.falloff, 45);
    EXPECT_EQ(a.colour[1], 0.5f);
    EXPECT_EQ(a.colour_bytes[0], 255);
    EXPECT_EQ(a.colour_bytes[1], 127);
    EXPECT_EQ(a.colour_bytes[2], 51);
    EXPECT_EQ(a.inner_range, 10);
    EXPECT_EQ(a.outer_range, 20);
    EXPECT_EQ(a.multiplier, 1.5f);
    EXPECT_EQ(a.is_off, 1);
    EXPECT_EQ(a.ray_shadows, 1);
    const SceneLight& b = s->lights[1];
    EXPECT_EQ(b.is_spot, 0);
    EXPECT_EQ(b.is_off, 0);
    EXPECT_EQ(b.colour[2], 0.25f);
    EXPECT_EQ(b.colour_bytes[1], 255);
    const SceneLight& hot = s->lights[2];
    EXPECT_EQ(hot.colour_bytes[0], 510);
    EXPECT_EQ(hot.colour_bytes[1], INT32_MAX);
    EXPECT_EQ(hot.colour_bytes[2], 0);
}

TEST(SceneLoad, CameraChunkIsStoredInFileOrder) {
    auto bytes = make_file([](ChunkWriter& w) {
        w.begin(0x4000).str("Cam").begin(0x4700);
        for (int i = 1; i <= 8; i++) w.f32((float)i);
        w.end().end();
    });
    ScenePtr s = load_bytes(bytes, "camera.3ds");
    ASSERT_TRUE(s) << scene_load_error();
    ASSERT_EQ(s->camera_count, 1);
    const SceneCamera& c = s->cameras[0];
    EXPECT_STREQ(c.name, "Cam");
    EXPECT_EQ(c.position[1], 2);
    EXPECT_EQ(c.target[2], 6);
    EXPECT_EQ(c.bank, 7);
    EXPECT_EQ(c.lens, 8);
    // No keys: identity pose.
    for (int i = 0; i < 16; i++) EXPECT_EQ(c.matrix.m[i], (i % 5 == 0) ? 1.0f : 0.0f);
}

TEST(SceneLoad, FaceIdsContinueAcrossObjectsAndLoads) {
    auto bytes = make_file([](ChunkWriter& w) {
        write_mesh(w, "A", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {{0, 1, 2}, {0, 2, 1}});
        write_mesh(w, "B", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {{0, 1, 2}, {2, 1, 0}, {1, 0, 2}});
    });
    ScenePtr first = load_bytes(bytes, "ids.3ds");
    ScenePtr second = load_bytes(bytes, "ids.3ds");
    ASSERT_TRUE(first && second);
    int32_t start = first->objects[0].faces[0].face_id;
    EXPECT_GE(start, 1);
    int32_t expected = start;
    for (Scene* s : {first.get(), second.get()})
        for (int i = 0; i < 2; i++)
            for (int f = 0; f < s->objects[i].face_count; f++) EXPECT_EQ(s->objects[i].faces[f].face_id, expected++);
    EXPECT_EQ(scene_peek_face_id(), expected);
}

TEST(SceneLoad, EmptyFileAndFileWithoutMeshes) {
    ScenePtr empty = load_bytes({0x4D, 0x4D, 6, 0, 0, 0}, "empty.3ds");  // the main chunk alone
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->object_count, 0);
    EXPECT_EQ(empty->objects, nullptr);
    auto bytes = make_file([](ChunkWriter& w) { write_material(w, "Only"); });
    ScenePtr s = load_bytes(bytes, "nomesh.3ds");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->object_count, 0);
    EXPECT_EQ(s->material_count, 1);
}

}  // namespace
