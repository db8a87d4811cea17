// Keyframer tracks and camera poses.
#include <gtest/gtest.h>

#include <cmath>

#include "scene_test_util.h"

namespace {

const std::vector<float> tri = {0, 0, 0, 1, 0, 0, 0, 1, 0};

void write_camera(ChunkWriter& w, const std::string& name) {
    w.begin(0x4000).str(name).begin(0x4700);
    for (int i = 0; i < 8; i++) w.f32(0);
    w.end().end();
}

TEST(Keyframer, ObjectNodeTracksSegmentAndKeyHeaders) {
    ChunkWriter w;
    w.begin(0x4D4D).begin(0x3D3D);
    write_mesh(w, "Ship", tri, {{0, 1, 2}});
    write_mesh(w, "Rock", tri, {{0, 1, 2}});
    w.end();
    w.begin(0xB000);
    w.begin(0xB008).u32(10).u32(250).end();
    w.begin(0xB002);
    w.begin(0xB030).u16(7).end();
    write_node_header(w, "Rock", 0xFFFF);
    w.begin(0xB013).f32(1).f32(2).f32(3).end();  // pivot, dropped
    // Key count 65538 keeps its low 16 bits: 2 keys. Frame 65536 becomes 0;
    // flags 0x05 carry two extra floats before the key data.
    write_track(w, 0xB020, 65538,
                {{65536 + 0, 0x05, {9, 9, 1, 2, 3}}, {65536 + 40, 0, {4, 5, 6}}});
    write_track(w, 0xB021, 1, {{12, 0x02, {9, 0.5f, 1, 2, 3}}});
    write_track(w, 0xB022, 1, {{0, 0, {1, 1, 1}}});  // scale, dropped
    w.end();
    w.end().end();
    ScenePtr s = load_bytes(w.bytes(), "kf_object.3ds");
    ASSERT_TRUE(s) << scene_load_error();
    EXPECT_EQ(s->segment_start, 10);
    EXPECT_EQ(s->segment_end, 250);
    const SceneObject& ship = s->objects[0];
    EXPECT_EQ(ship.node_id, 0);
    EXPECT_EQ(ship.position_key_count, 0);
    EXPECT_EQ(ship.position_keys_x, nullptr);
    const SceneObject& rock = s->objects[1];
    EXPECT_EQ(rock.node_id, 7);
    EXPECT_EQ(rock.parent_node_id, 0xFFFF);
    ASSERT_EQ(rock.position_key_count, 2);
    EXPECT_EQ(rock.position_key_frames[0], 0.0f);
    EXPECT_EQ(rock.position_key_frames[1], 40.0f);
    EXPECT_EQ(rock.position_keys_x[0], 1);  // y-up
    EXPECT_EQ(rock.position_keys_y[0], 3);
    EXPECT_EQ(rock.position_keys_z[0], 2);
    EXPECT_EQ(rock.position_keys_y[1], 6);
    ASSERT_EQ(rock.rotation_key_count, 1);
    EXPECT_EQ(rock.rotation_key_frames[0], 12);
    EXPECT_EQ(rock.rotation_key_angles[0], 0.5f);
    EXPECT_EQ(rock.rotation_key_axis_x[0], 1);
    EXPECT_EQ(rock.rotation_key_axis_y[0], 3);
    EXPECT_EQ(rock.rotation_key_axis_z[0], 2);
}

TEST(Keyframer, NodesThatNameNoRecordStoreNothing) {
    ChunkWriter w;
    w.begin(0x4D4D).begin(0x3D3D);
    write_mesh(w, "Only", tri, {{0, 1, 2}});
    write_camera(w, "CamA");
    write_camera(w, "CamB");
    write_camera(w, "CamC");
    w.end();
    w.begin(0xB000);
    // A track before any node header of this file.
    write_track(w, 0xB020, 1, {{0, 0, {1, 1, 1}}});
    // A dummy object node.
    w.begin(0xB002);
    write_node_header(w, "$$$DUMMY", 0xFFFF);
    write_track(w, 0xB020, 1, {{0, 0, {1, 1, 1}}});
    w.end();
    w.begin(0xB002);
    write_node_header(w, "Only", 0xFFFF);
    w.end();
    // A light node named like the third camera, right after an object node:
    // its track must not land in objects[2] (there is one object).
    w.begin(0xB005);
    write_node_header(w, "CamC", 0xFFFF);
    write_track(w, 0xB020, 1, {{0, 0, {5, 5, 5}}});
    w.end();
    // A camera node whose track comes before its header: no record yet.
    w.begin(0xB003);
    write_track(w, 0xB020, 1, {{0, 0, {5, 5, 5}}});
    write_node_header(w, "Nobody", 0xFFFF);
    write_track(w, 0xB020, 1, {{0, 0, {5, 5, 5}}});
    w.end();
    // Rotation tracks of a camera node store nothing.
    w.begin(0xB003);
    write_node_header(w, "CamB", 0xFFFF);
    write_track(w, 0xB021, 1, {{0, 0, {1, 0, 0, 1}}});
    w.end();
    w.end().end();
    ScenePtr s = load_bytes(w.bytes(), "kf_nobody.3ds");
    ASSERT_TRUE(s) << scene_load_error();
    EXPECT_EQ(s->objects[0].position_key_count, 0);
    EXPECT_EQ(s->objects[0].rotation_key_count, 0);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(s->cameras[i].position_key_count, 0);
        EXPECT_EQ(s->cameras[i].target_key_count, 0);
    }
}

TEST(Keyframer, NodeStateDoesNotLeakIntoTheNextFile) {
    // The first file ends inside a camera node that picked its second camera;
    // the second file has one camera and a track before any node header.
    ChunkWriter a;
    a.begin(0x4D4D).begin(0x3D3D);
    write_camera(a, "C0");
    write_camera(a, "C1");
    a.end().begin(0xB000).begin(0xB003);
    write_node_header(a, "C1", 0xFFFF);
    a.end().end().end();
    ChunkWriter b;
    b.begin(0x4D4D).begin(0x3D3D);
    write_camera(b, "Solo");
    b.end().begin(0xB000);
    write_track(b, 0xB020, 1, {{0, 0, {1, 2, 3}}});
    b.end().end();
    ScenePtr first = load_bytes(a.bytes(), "kf_leak_a.3ds");
    ScenePtr second = load_bytes(b.bytes(), "kf_leak_b.3ds");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(second->cameras[0].position_key_count, 0);
}

float length3(const float* r) { return std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]); }

TEST(Keyframer, CameraPoses) {
    ChunkWriter w;
    w.begin(0x4D4D).begin(0x3D3D);
    write_camera(w, "Aimed");
    write_camera(w, "Free");
    write_camera(w, "Up");
    w.end().begin(0xB000);
    w.begin(0xB003);
    write_node_header(w, "Aimed", 0xFFFF);
    write_track(w, 0xB020, 2, {{0, 0, {1, 2, 3}}, {10, 0, {0, 0, 0}}});
    w.end();
    w.begin(0xB004);
    write_node_header(w, "Aimed", 0xFFFF);
    write_track(w, 0xB020, 1, {{0, 0, {4, 6, 5}}});  // y-up: (4, 5, 6)
    w.end();
    w.begin(0xB003);
    write_node_header(w, "Free", 0xFFFF);
    write_track(w, 0xB020, 1, {{0, 0, {7, 8, 9}}});
    w.end();
    w.begin(0xB003);
    write_node_header(w, "Up", 0xFFFF);
    write_track(w, 0xB020, 1, {{0, 0, {0, 0, 0}}});
    w.end();
    w.begin(0xB004);
    write_node_header(w, "Up", 0xFFFF);
    write_track(w, 0xB020, 1, {{0, 0, {0, 0, 5}}});  // straight up (y-up)
    w.end();
    w.end().end();
    ScenePtr s = load_bytes(w.bytes(), "kf_cameras.3ds");
    ASSERT_TRUE(s) << scene_load_error();

    const SceneCamera& aimed = s->cameras[0];
    ASSERT_EQ(aimed.position_key_count, 2);
    ASSERT_EQ(aimed.target_key_count, 1);
    EXPECT_EQ(aimed.target_keys_y[0], 5);
    const float* m = aimed.matrix.m;
    // P = (1, 3, 2), T = (4, 5, 6): d = (3, 2, 4) / sqrt(29).
    float l = std::sqrt(29.0f), dx = 3 / l, dy = 2 / l, dz = 4 / l, h = std::sqrt(dx * dx + dz * dz);
    EXPECT_NEAR(m[8], dx, 1e-6);
    EXPECT_NEAR(m[9], dy, 1e-6);
    EXPECT_NEAR(m[10], dz, 1e-6);
    EXPECT_NEAR(m[0], -dz / h, 1e-6);
    EXPECT_EQ(m[1], 0.0f);
    EXPECT_NEAR(m[2], dx / h, 1e-6);
    EXPECT_NEAR(m[5], -h, 1e-6);
    EXPECT_NEAR(length3(&m[4]), 1.0f, 1e-6);
    EXPECT_EQ(m[12], 1);
    EXPECT_EQ(m[13], 3);
    EXPECT_EQ(m[14], 2);
    EXPECT_EQ(m[15], 1);
    EXPECT_EQ(m[3] + m[7] + m[11], 0);
    // Rows form a right-handed frame: row0 x row1 = row2.
    EXPECT_NEAR(m[1] * m[6] - m[2] * m[5], m[8], 1e-6);
    EXPECT_NEAR(m[0] * m[5] - m[1] * m[4], m[10], 1e-6);

    const float* f = s->cameras[1].matrix.m;  // no target: identity, (x, file y, file z)
    for (int i = 0; i < 12; i++) EXPECT_EQ(f[i], (i % 5 == 0) ? 1.0f : 0.0f);
    EXPECT_EQ(f[12], 7);
    EXPECT_EQ(f[13], 8);
    EXPECT_EQ(f[14], 9);

    const float* up = s->cameras[2].matrix.m;  // no NaNs looking straight up
    for (int i = 0; i < 16; i++) EXPECT_FALSE(std::isnan(up[i])) << i;
    EXPECT_EQ(up[9], 1.0f);
    EXPECT_NEAR(length3(&up[0]), 1.0f, 1e-6);
    EXPECT_NEAR(length3(&up[4]), 1.0f, 1e-6);
}

}  // namespace
