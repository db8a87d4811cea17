// A model with a known layout, written by the test as OBJ with MTL, as glTF
// and as a z-up 3DS file, imported and rendered at the start view: the
// front face is what is seen, not mirrored, not inside out, upright, with
// its texture the right way up. A light grey box whose front face shows four
// colours (yellow top left, cyan top right, magenta bottom left, white bottom
// right), a red cube on its right, a blue one on its left, a green one on top.
// Square on (--view front), and in the default three-quarter view, where the
// box's left side shows too, in the shades of the importer's light; in both,
// whole and filling at least 45% of the frame's height.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "import_test_util.h"
#include "png_write.h"
#include "scene/chunk_writer.h"

namespace {

// The model's own axes in the file's coordinates; right x up = front, the
// side that faces a viewer.
struct FileAxes {
    double right[3], up[3], front[3];
};
const FileAxes y_up = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
const FileAxes z_up = {{1, 0, 0}, {0, 0, 1}, {0, -1, 0}};
const FileAxes minus_y_up = {{1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
const FileAxes front_x = {{0, 0, -1}, {0, 1, 0}, {1, 0, 0}};
const FileAxes front_minus_x = {{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}};

enum { BODY, FRONT, RED, BLUE, GREEN, MATERIAL_COUNT };
const char* const material_names[MATERIAL_COUNT] = {"Body", "Front", "Red", "Blue", "Green"};
const float material_colours[MATERIAL_COUNT][3] = {{0.8f, 0.8f, 0.8f}, {1, 1, 1}, {1, 0, 0}, {0, 0, 1}, {0, 1, 0}};

// A quad in model coordinates (right, up, front), counter-clockwise seen
// from outside, with mapping coordinates whose v grows upwards.
struct Quad {
    double p[4][3];
    float uv[4][2];
    int material;
};

// A cube of half size h at c; the face towards +front gets `front_material`.
void add_cube(std::vector<Quad>* quads, const double c[3], double h, int material, int front_material) {
    for (int axis = 0; axis < 3; axis++)
        for (int sign = -1; sign <= 1; sign += 2) {
            // Tangents t1 x t2 = the outward normal.
            int t1 = (axis + (sign > 0 ? 1 : 2)) % 3, t2 = (axis + (sign > 0 ? 2 : 1)) % 3;
            const double corner[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
            Quad q;
            for (int k = 0; k < 4; k++) {
                for (int j = 0; j < 3; j++) q.p[k][j] = c[j];
                q.p[k][axis] += sign * h;
                q.p[k][t1] += corner[k][0] * h;
                q.p[k][t2] += corner[k][1] * h;
                q.uv[k][0] = (float)(corner[k][0] + 1) / 2;
                q.uv[k][1] = (float)(corner[k][1] + 1) / 2;
            }
            q.material = axis == 2 && sign > 0 ? front_material : material;
            quads->push_back(q);
        }
}

std::vector<Quad> layout() {
    std::vector<Quad> quads;
    const double body[3] = {0, 0, 0}, red[3] = {2.2, 0, 0}, blue[3] = {-2.2, 0, 0}, green[3] = {0, 1.7, 0};
    add_cube(&quads, body, 1.0, BODY, FRONT);
    add_cube(&quads, red, 0.5, RED, RED);
    add_cube(&quads, blue, 0.5, BLUE, BLUE);
    add_cube(&quads, green, 0.5, GREEN, GREEN);
    return quads;
}

void to_file(const FileAxes& a, const double p[3], double out[3]) {
    for (int j = 0; j < 3; j++) out[j] = p[0] * a.right[j] + p[1] * a.up[j] + p[2] * a.front[j];
}

// The front face's image: 64 x 64, four quadrants.
std::string write_front_image(const std::string& path) {
    std::vector<uint32_t> pixels(64 * 64);
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++)
            pixels[y * 64 + x] = y < 32 ? (x < 32 ? 0xFFFF00u : 0x00FFFFu) : (x < 32 ? 0xFF00FFu : 0xFFFFFFu);
    EXPECT_EQ(png_write_rgb(path.c_str(), pixels.data(), 64, 64), 1);
    return read_file(path);
}

// -- the three formats ----------------------------------------------------------

// OBJ and MTL; the image is "maps/FRONT.png" but the MTL names it
// "Maps\Front.png", as files made on Windows do.
std::string write_obj(const std::string& dir, const FileAxes& axes) {
    mkdir((dir + "/maps").c_str(), 0755);
    write_front_image(dir + "/maps/FRONT.png");
    std::string mtl;
    for (int m = 0; m < MATERIAL_COUNT; m++) {
        char line[128];
        std::snprintf(line, sizeof line, "newmtl %s\nKd %g %g %g\n", material_names[m], material_colours[m][0],
                      material_colours[m][1], material_colours[m][2]);
        mtl += line;
        if (m == FRONT) mtl += "map_Kd Maps\\Front.png\n";
    }
    write_text(dir + "/model.mtl", mtl);
    std::string obj = "mtllib model.mtl\n";
    int vertex = 1;
    for (const Quad& q : layout()) {
        obj += "usemtl " + std::string(material_names[q.material]) + "\n";
        for (int k = 0; k < 4; k++) {
            double p[3];
            to_file(axes, q.p[k], p);
            char line[160];
            std::snprintf(line, sizeof line, "v %g %g %g\nvt %g %g\n", p[0], p[1], p[2], q.uv[k][0], q.uv[k][1]);
            obj += line;
        }
        obj += "f";
        for (int k = 0; k < 4; k++) obj += " " + std::to_string(vertex + k) + "/" + std::to_string(vertex + k);
        obj += "\n";
        vertex += 4;
    }
    write_text(dir + "/model.obj", obj);
    return dir + "/model.obj";
}

std::string base64(const std::string& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = (uint8_t)bytes[i] << 16;
        if (i + 1 < bytes.size()) n |= (uint8_t)bytes[i + 1] << 8;
        if (i + 2 < bytes.size()) n |= (uint8_t)bytes[i + 2];
        out += digits[n >> 18 & 63];
        out += digits[n >> 12 & 63];
        out += i + 1 < bytes.size() ? digits[n >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? digits[n & 63] : '=';
    }
    return out;
}

void put_floats(std::string* buffer, const std::vector<float>& values) {
    buffer->append((const char*)values.data(), values.size() * sizeof(float));
}

// glTF with its buffer and its image inside the file as data URIs. One mesh
// per material. The red cube's node carries a translation, and the body
// hangs under a node that mirrors x: its mesh is stored mirrored and wound
// counter-clockwise in its own space, so the import must bake the mirror
// in and turn the winding back.
std::string write_gltf(const std::string& dir) {
    const double red_offset[3] = {2.2, 0, 0};
    std::string buffer, accessors, views, meshes, nodes;
    int accessor = 0;
    auto add_view = [&](size_t offset, size_t length, int target) {
        if (!views.empty()) views += ",";
        views += "{\"buffer\":0,\"byteOffset\":" + std::to_string(offset) + ",\"byteLength\":" +
                 std::to_string(length) + ",\"target\":" + std::to_string(target) + "}";
    };
    auto add_accessor = [&](int view, int component, size_t count, const char* type, const std::string& extra) {
        if (!accessors.empty()) accessors += ",";
        accessors += "{\"bufferView\":" + std::to_string(view) + ",\"componentType\":" + std::to_string(component) +
                     ",\"count\":" + std::to_string(count) + ",\"type\":\"" + type + "\"" + extra + "}";
        return accessor++;
    };
    int view = 0;
    for (int m = 0; m < MATERIAL_COUNT; m++) {
        std::vector<float> positions, uvs;
        std::vector<uint16_t> indices;
        double low[3] = {1e9, 1e9, 1e9}, high[3] = {-1e9, -1e9, -1e9};
        for (const Quad& q : layout()) {
            if (q.material != m) continue;
            uint16_t base = (uint16_t)(positions.size() / 3);
            const int mirrored = m == BODY || m == FRONT;
            for (int k = 0; k < 4; k++) {
                double p[3];
                for (int j = 0; j < 3; j++) p[j] = q.p[k][j] - (m == RED ? red_offset[j] : 0.0);
                if (mirrored) p[0] = -p[0];
                for (int j = 0; j < 3; j++) {
                    positions.push_back((float)p[j]);
                    low[j] = std::min(low[j], p[j]);
                    high[j] = std::max(high[j], p[j]);
                }
                uvs.push_back(q.uv[k][0]);
                uvs.push_back(1.0f - q.uv[k][1]);  // glTF's v grows downwards
            }
            for (int t : {0, 1, 2, 0, 2, 3}) indices.push_back((uint16_t)(base + (mirrored && t ? 4 - t : t)));
        }
        size_t offset = buffer.size();
        put_floats(&buffer, positions);
        add_view(offset, positions.size() * 4, 34962);
        char bounds[160];
        std::snprintf(bounds, sizeof bounds, ",\"min\":[%g,%g,%g],\"max\":[%g,%g,%g]", low[0], low[1], low[2], high[0],
                      high[1], high[2]);
        int position_accessor = add_accessor(view++, 5126, positions.size() / 3, "VEC3", bounds);
        offset = buffer.size();
        put_floats(&buffer, uvs);
        add_view(offset, uvs.size() * 4, 34962);
        int uv_accessor = add_accessor(view++, 5126, uvs.size() / 2, "VEC2", "");
        offset = buffer.size();
        buffer.append((const char*)indices.data(), indices.size() * 2);
        while (buffer.size() % 4) buffer += '\0';
        add_view(offset, indices.size() * 2, 34963);
        int index_accessor = add_accessor(view++, 5123, indices.size(), "SCALAR", "");
        if (m) meshes += ",", nodes += ",";
        meshes += "{\"primitives\":[{\"attributes\":{\"POSITION\":" + std::to_string(position_accessor) +
                  ",\"TEXCOORD_0\":" + std::to_string(uv_accessor) + "},\"indices\":" +
                  std::to_string(index_accessor) + ",\"material\":" + std::to_string(m) + "}]}";
        nodes += "{\"mesh\":" + std::to_string(m) + (m == RED ? ",\"translation\":[2.2,0,0]" : "") + "}";
    }
    std::string materials;
    for (int m = 0; m < MATERIAL_COUNT; m++) {
        char colour[96];
        std::snprintf(colour, sizeof colour, "[%g,%g,%g,1]", material_colours[m][0], material_colours[m][1],
                      material_colours[m][2]);
        if (m) materials += ",";
        materials += "{\"name\":\"" + std::string(material_names[m]) + "\",\"pbrMetallicRoughness\":{" +
                     (m == FRONT ? "\"baseColorTexture\":{\"index\":0}," : "") + "\"baseColorFactor\":" + colour +
                     ",\"metallicFactor\":0}}";
    }
    std::string png = write_front_image(dir + "/front.png");
    std::remove((dir + "/front.png").c_str());  // only the copy inside the model remains
    std::string json =
        "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[2,3,4,5]}],\"nodes\":[" + nodes +
        ",{\"scale\":[-1,1,1],\"children\":[0,1]}],\"meshes\":[" + meshes + "],\"materials\":[" + materials +
        "],\"textures\":[{\"source\":0}],\"images\":[{\"uri\":\"data:image/png;base64," + base64(png) +
        "\"}],\"accessors\":[" + accessors + "],\"bufferViews\":[" + views + "],\"buffers\":[{\"byteLength\":" +
        std::to_string(buffer.size()) + ",\"uri\":\"data:application/octet-stream;base64," + base64(buffer) + "\"}]}";
    write_text(dir + "/model.gltf", json);
    return dir + "/model.gltf";
}

// A standard z-up 3DS file: one object per material, the image named in
// capitals as 3DS files do ("FRONT.PNG" for "front.png").
std::string write_3ds(const std::string& dir) {
    write_front_image(dir + "/front.png");
    ChunkWriter w;
    w.begin(0x4D4D).begin(0x0002).u32(3).end().begin(0x3D3D).begin(0x3D3E).u32(3).end();
    for (int m = 0; m < MATERIAL_COUNT; m++) {
        w.begin(0xAFFF).begin(0xA000).str(material_names[m]).end();
        w.begin(0xA020).begin(0x0011);
        for (int c = 0; c < 3; c++) w.u8((uint8_t)(material_colours[m][c] * 255));
        w.end().end();
        if (m == FRONT) w.begin(0xA200).begin(0xA300).str("FRONT.PNG").end().end();
        w.end();
    }
    for (int m = 0; m < MATERIAL_COUNT; m++) {
        std::vector<Quad> quads;
        for (const Quad& q : layout())
            if (q.material == m) quads.push_back(q);
        w.begin(0x4000).str(std::string(material_names[m]) + "Obj").begin(0x4100);
        w.begin(0x4110).u16((uint16_t)(4 * quads.size()));
        for (const Quad& q : quads)
            for (int k = 0; k < 4; k++) {
                double p[3];
                to_file(z_up, q.p[k], p);
                w.f32((float)p[0]).f32((float)p[1]).f32((float)p[2]);
            }
        w.end().begin(0x4140).u16((uint16_t)(4 * quads.size()));
        for (const Quad& q : quads)
            for (int k = 0; k < 4; k++) w.f32(q.uv[k][0]).f32(q.uv[k][1]);  // 3DS's v grows upwards too
        w.end().begin(0x4120).u16((uint16_t)(2 * quads.size()));
        for (size_t i = 0; i < quads.size(); i++) {
            uint16_t b = (uint16_t)(4 * i);
            w.u16(b).u16(b + 1).u16(b + 2).u16(7).u16(b).u16(b + 2).u16(b + 3).u16(7);
        }
        w.begin(0x4130).str(material_names[m]).u16((uint16_t)(2 * quads.size()));
        for (size_t i = 0; i < 2 * quads.size(); i++) w.u16((uint16_t)i);
        w.end().end().end().end();
    }
    w.end().end();
    std::string path = dir + "/model.3ds";
    write_text(path, std::string(w.bytes().begin(), w.bytes().end()));
    return path;
}

// -- what the frame must show ----------------------------------------------------

enum Seen { NONE, SEEN_RED, SEEN_BLUE, SEEN_GREEN, SEEN_YELLOW, SEEN_CYAN, SEEN_MAGENTA, SEEN_WHITE,
            SEEN_DARK_GREY, SEEN_GREY, SEEN_COUNT };

// By which channels are strong: lit or in shadow, a colour keeps its hue.
// The body's faces are grey: its top in a light shade (0.81 of its colour),
// its left side in the darkest (0.3).
Seen classify(uint32_t c) {
    int r = c >> 16 & 255, g = c >> 8 & 255, b = c & 255;
    int top = std::max(r, std::max(g, b));
    if (top < 40) return NONE;
    int hr = r > top / 2, hg = g > top / 2, hb = b > top / 2;
    const Seen by_bits[8] = {NONE, SEEN_BLUE, SEEN_GREEN, SEEN_CYAN, SEEN_RED, SEEN_MAGENTA, SEEN_YELLOW, SEEN_WHITE};
    Seen s = by_bits[hr << 2 | hg << 1 | hb];
    if (s != SEEN_WHITE || top >= 200) return s;
    return top < 110 ? SEEN_DARK_GREY : SEEN_GREY;
}

struct Blob {
    long count;
    double x, y;  // centroid, screen pixels
};

void check_layout(const std::string& dir, const std::string& what, int three_quarter = 0) {
    SCOPED_TRACE(what);
    std::remove((dir + "/Pos.txt").c_str());    // no marker in the picture,
    std::remove((dir + "/Light.txt").c_str());  // and lit from the camera: every face in its own shade
    RgbImage* frame = render_start_frame(dir);
    ASSERT_NE(frame, nullptr) << "varnel-render failed in " << dir;
    Blob blob[SEEN_COUNT] = {};
    int left = 400, right = -1, top = 300, bottom = -1;
    for (int y = 0; y < frame->height; y++)
        for (int x = 0; x < frame->width; x++) {
            Seen s = classify(frame->pixels[y * frame->width + x]);
            if (s == NONE) continue;
            blob[s].count++;
            blob[s].x += x;
            blob[s].y += y;
            left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
        }
    rgb_image_free(frame);
    for (Blob& b : blob)
        if (b.count) b.x /= b.count, b.y /= b.count;
    for (Seen s : {SEEN_RED, SEEN_BLUE, SEEN_GREEN, SEEN_YELLOW, SEEN_CYAN, SEEN_MAGENTA, SEEN_WHITE})
        ASSERT_GT(blob[s].count, three_quarter ? 40 : 150) << "colour " << s << " is missing: the front is not what is seen";
    EXPECT_GT(blob[SEEN_RED].x, blob[SEEN_BLUE].x + (three_quarter ? 30 : 100)) << "red is right of blue: not mirrored";
    EXPECT_LT(blob[SEEN_GREEN].y, blob[SEEN_YELLOW].y) << "green is on top: upright";
    EXPECT_LT(blob[SEEN_GREEN].y, blob[SEEN_WHITE].y);
    EXPECT_LT(blob[SEEN_YELLOW].x, blob[SEEN_CYAN].x) << "top left quadrant left of top right";
    EXPECT_LT(blob[SEEN_MAGENTA].x, blob[SEEN_WHITE].x);
    EXPECT_LT(blob[SEEN_YELLOW].y, blob[SEEN_MAGENTA].y) << "texture the right way up";
    EXPECT_LT(blob[SEEN_CYAN].y, blob[SEEN_WHITE].y);
    // Whole, at least 2 pixels from every edge, at least 45% of the frame's
    // height, centred across.
    EXPECT_GE(left, 2);
    EXPECT_GE(top, 2);
    EXPECT_LE(right, 397);
    EXPECT_LE(bottom, 297);
    EXPECT_GE(bottom - top + 1, 135);
    EXPECT_NEAR((left + right) / 2.0, 200.0, three_quarter ? 30.0 : 20.0);
    if (three_quarter) {
        // The front turned to the screen's right still shows most; the left
        // side beside it, in the darkest shade of the importer's light.
        const long front = blob[SEEN_YELLOW].count + blob[SEEN_CYAN].count + blob[SEEN_MAGENTA].count +
                           blob[SEEN_WHITE].count;
        EXPECT_GT(blob[SEEN_DARK_GREY].count, 150) << "the left side shows";
        EXPECT_GT(front, blob[SEEN_DARK_GREY].count) << "the front faces the camera more than the side";
        EXPECT_LT(blob[SEEN_DARK_GREY].x, blob[SEEN_YELLOW].x) << "the left side is left of the front";
        return;
    }
    EXPECT_NEAR((top + bottom) / 2.0, 150.0, 20.0) << "the eye level with the model's centre";
}

class ImportLayout : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.ok()); }
    std::string import(const std::string& model, const std::string& options = "") {
        std::string dir = scratch_.path() + "/data", out;
        EXPECT_EQ(import_model(model, dir, "--ground none " + options, &out), 0) << out;
        return dir;
    }
    ScratchDir scratch_{"import_layout_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())};
};

TEST_F(ImportLayout, ObjWithMtl) {
    std::string dir = import(write_obj(scratch_.path(), y_up), "--view front");
    check_layout(dir, "OBJ");
    EXPECT_TRUE(file_exists(dir + "/Textures/Front.tga"));
}

TEST_F(ImportLayout, ObjWrittenZUpWithUpOption) {
    check_layout(import(write_obj(scratch_.path(), z_up), "--view front --up z"), "OBJ, z-up, --up z");
}

// Models written along other axes, set right by --up (signed, any case),
// --front and --turn (counter-clockwise seen from above), square on and in
// the default three-quarter view.
TEST_F(ImportLayout, ObjAlongOtherAxesWithOrientationOptions) {
    struct Case {
        const FileAxes* axes;
        const char* options;
    };
    const Case cases[] = {
        {&z_up, "--view front --up +Z"},
        {&minus_y_up, "--view front --up -y"},
        {&front_x, "--view front --front +x"},
        {&front_x, "--view front --turn -90"},
        {&front_minus_x, "--view front --up y --front -X"},
        {&minus_y_up, "--view front --up -y --front x --turn 90"},
        {&y_up, ""},
        {&front_x, "--view three-quarter --turn -90"},
    };
    for (const Case& c : cases) {
        std::string folder = scratch_.path() + "/" + std::to_string(&c - cases);
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        check_layout(import(write_obj(folder, *c.axes), std::string("--force ") + c.options), c.options,
                     std::strstr(c.options, "--view front") == nullptr);
    }
}

TEST_F(ImportLayout, GltfWithEmbeddedBufferAndImage) {
    check_layout(import(write_gltf(scratch_.path()), "--view front"), "glTF");
}

TEST_F(ImportLayout, ZUp3ds) { check_layout(import(write_3ds(scratch_.path()), "--view front"), "3DS"); }

}  // namespace
