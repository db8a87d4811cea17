// varnel-tool info, and files written by an independent 3DS exporter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "scene_test_util.h"
#include "test_support.h"

namespace {

int run(const std::string& command, std::string* out) { return run_output(command, out); }

std::string read_text(const std::string& path) { return read_file(path); }

TEST(ToolInfo, PrintsTheSceneAsJson) {
    auto bytes = make_file([](ChunkWriter& w) {
        write_material(w, "Stone");
        write_material(w, "Unused");
        w.begin(0x4000).str("Wall \"A\"").begin(0x4100);
        w.begin(0x4110).u16(3).f32(0).f32(0).f32(0).f32(1).f32(0).f32(0).f32(0).f32(1).f32(0).end();
        w.begin(0x4120).u16(3);
        for (int i = 0; i < 3; i++) w.u16(0).u16(1).u16(2).u16(0);
        w.begin(0x4130).str("Stone").u16(1).u16(1).end();
        w.end().end().end();
        write_mesh(w, "Floor", {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}, {{0, 1, 2}});
        w.begin(0x4000).str("Lamp").begin(0x4600).f32(0).f32(0).f32(0).end().end();
    });
    std::string path = write_test_file("info.3ds", bytes);
    std::string out;
    ASSERT_EQ(run(std::string(VARNEL_TOOL_PATH) + " info " + path, &out), 0);
    std::string expected =
        "{\n"
        "  \"objects\": 2,\n"
        "  \"cameras\": 0,\n"
        "  \"lights\": 1,\n"
        "  \"materials\": 2,\n"
        "  \"vertices\": 7,\n"
        "  \"faces\": 4,\n"
        "  \"segment\": [0, 0],\n"
        "  \"material_images\": [\n"
        "    {\"name\": \"Stone\", \"texture\": \"Textures/Stone.tga\", \"map\": null},\n"
        "    {\"name\": \"Unused\", \"texture\": \"Textures/Unused.tga\", \"map\": null}\n"
        "  ],\n"
        "  \"meshes\": [\n"
        "    {\"name\": \"Wall \\\"A\\\"\", \"vertices\": 3, \"faces\": 3, \"materials\": [\"Stone\"], "
        "\"faces_without_material\": 2},\n"
        "    {\"name\": \"Floor\", \"vertices\": 4, \"faces\": 1, \"materials\": [], \"faces_without_material\": 1}\n"
        "  ]\n"
        "}\n";
    EXPECT_EQ(out, expected);
}

// The texture the engine loads for each material, and the image file the
// 3DS file itself names for it (the first texture map of its entry).
TEST(ToolInfo, ListsTheImagesOfEveryMaterial) {
    auto bytes = make_file([](ChunkWriter& w) {
        w.begin(0xAFFF).begin(0xA000).str("Brick").end();
        w.begin(0xA220).begin(0xA300).str("SKY.JPG").end().end();  // a reflection map is not the image
        w.begin(0xA200).begin(0x0030).u16(100).end().begin(0xA300).str("MAPS\\BRICK.JPG").end().end();
        w.end();
        w.begin(0xAFFF).begin(0xA000).str("Plain").end().end();
        w.begin(0xAFFF).begin(0xA200).begin(0xA300).str("").end().end().begin(0xA000).str("Empty").end().end();
    });
    std::string path = write_test_file("info_maps.3ds", bytes);
    std::string out;
    ASSERT_EQ(run(std::string(VARNEL_TOOL_PATH) + " info " + path, &out), 0);
    const std::string expected =
        "  \"material_images\": [\n"
        "    {\"name\": \"Brick\", \"texture\": \"Textures/Brick.tga\", \"map\": \"MAPS\\\\BRICK.JPG\"},\n"
        "    {\"name\": \"Plain\", \"texture\": \"Textures/Plain.tga\", \"map\": null},\n"
        "    {\"name\": \"Empty\", \"texture\": \"Textures/Empty.tga\", \"map\": null}\n"
        "  ],\n";
    EXPECT_NE(out.find(expected), std::string::npos) << out;
}

TEST(ToolInfo, RejectedFileGivesOneLineAndNonzeroExit) {
    ChunkWriter w;
    w.begin(0x4D4D).u16(0x3D3D).u32(2).end();
    std::string path = write_test_file("info_bad.3ds", w.bytes());
    std::string err_path = scene_test_path("info_bad.err");
    std::string out;
    EXPECT_NE(run(std::string(VARNEL_TOOL_PATH) + " info " + path + " 2>" + err_path, &out), 0);
    EXPECT_EQ(out, "");
    std::string err = read_text(err_path);
    EXPECT_NE(err.find("chunk length below 6"), std::string::npos) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
}

// -- files written by another modelling tool ----------------------------------
// The scene exporter of the Debian package assimp-utils turns OBJ text into
// 3DS files with material chunks this reader does not know and a keyframer
// section with one node per mesh.

bool have_exporter() {
    std::string out;
    return run("command -v assimp >/dev/null 2>&1 && echo yes", &out) == 0 && out == "yes\n";
}

ScenePtr export_and_load(const std::string& base, const std::string& obj, const std::string& mtl) {
    std::string obj_path = scene_test_path(base + ".obj");
    std::string out_path = scene_test_path(base + ".3ds");
    std::remove(out_path.c_str());
    FILE* f = std::fopen(obj_path.c_str(), "w");
    std::fputs(("mtllib " + base + ".mtl\n" + obj).c_str(), f);
    std::fclose(f);
    f = std::fopen(scene_test_path(base + ".mtl").c_str(), "w");
    std::fputs(mtl.c_str(), f);
    std::fclose(f);
    std::string log;
    if (run("assimp export " + obj_path + " " + out_path + " 2>&1", &log) != 0) {
        ADD_FAILURE() << log;
        return nullptr;
    }
    ScenePtr s(scene_load(out_path.c_str()));
    EXPECT_TRUE(s) << scene_load_error();
    return s;
}

int total_faces(const Scene& s) {
    int n = 0;
    for (int i = 0; i < s.object_count; i++) n += s.objects[i].face_count;
    return n;
}

TEST(ExportedFiles, SeveralObjectsWithMaterials) {
    if (!have_exporter()) GTEST_SKIP() << "assimp (package assimp-utils) is not installed";
    const std::string obj =
        "o Box\n"
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\n"
        "vt 0 0\nvt 1 0\nvt 1 1\n"
        "usemtl Red\nf 1/1 2/2 3/3\nf 1/1 3/3 4/3\n"
        "usemtl Blue\nf 1/1 2/2 6/3 5/1\n"
        "o Tri\nv 5 5 5\nv 6 5 5\nv 5 6 5\nusemtl Red\nf 7 8 9\n";
    ScenePtr s = export_and_load("exported_boxes", obj, "newmtl Red\nKd 1 0 0\nnewmtl Blue\nKd 0 0 1\n");
    if (!s) return;
    EXPECT_GE(s->object_count, 2);
    EXPECT_GE(s->material_count, 2);
    EXPECT_EQ(total_faces(*s), 5);  // the quad is split into two triangles
    for (int i = 0; i < s->object_count; i++) {
        const SceneObject& o = s->objects[i];
        for (int f = 0; f < o.face_count; f++) {
            const SceneFace& face = o.faces[f];
            ASSERT_GE(face.material_index, 0);
            ASSERT_LT(face.material_index, s->material_count);
            std::string name = s->materials[face.material_index].name;
            EXPECT_TRUE(name.find("Red") != std::string::npos || name.find("Blue") != std::string::npos) << name;
            float n = face.plane_nx * face.plane_nx + face.plane_ny * face.plane_ny + face.plane_nz * face.plane_nz;
            EXPECT_NEAR(n, 1.0f, 1e-5);
        }
    }
}

TEST(ExportedFiles, LargerMeshKeepsItsTriangles) {
    if (!have_exporter()) GTEST_SKIP() << "assimp (package assimp-utils) is not installed";
    std::string obj = "o Grid\n";
    const int n = 20;
    for (int y = 0; y <= n; y++)
        for (int x = 0; x <= n; x++) obj += "v " + std::to_string(x) + " " + std::to_string(y) + " 0\n";
    obj += "usemtl Ground\n";
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            int a = y * (n + 1) + x + 1;
            obj += "f " + std::to_string(a) + " " + std::to_string(a + 1) + " " + std::to_string(a + n + 2) + " " +
                   std::to_string(a + n + 1) + "\n";
        }
    ScenePtr s = export_and_load("exported_grid", obj, "newmtl Ground\nKd 0.5 0.5 0.5\n");
    if (!s) return;
    EXPECT_EQ(total_faces(*s), 2 * n * n);
    // A flat grid: every face plane is the same axis, either way round.
    const SceneObject& o = s->objects[0];
    ASSERT_GT(o.face_count, 0);
    for (int f = 0; f < o.face_count; f++) {
        float a = std::fabs(o.faces[f].plane_nx) + std::fabs(o.faces[f].plane_ny) + std::fabs(o.faces[f].plane_nz);
        EXPECT_NEAR(a, 1.0f, 1e-5);
        EXPECT_NEAR(std::fabs(o.faces[f].plane_nx - o.faces[0].plane_nx), 0.0f, 1e-5);
    }
}

}  // namespace
