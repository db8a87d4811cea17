// In-memory scenes, textures and poses for whole-frame tests and benchmarks,
// and the two passes of a frame in the frame tick's order.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "math/vecmath.h"
#include "pipeline/frame.h"
#include "raster/span_pool.h"
#include "raster/engine.h"
#include "scene/scene.h"
#include "texture/image.h"
#include "texture/texture.h"

namespace synthetic {

inline Vec3 sub(Vec3 a, Vec3 b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 add(Vec3 a, Vec3 b) { return Vec3{a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 scale(Vec3 a, float s) { return Vec3{a.x * s, a.y * s, a.z * s}; }
inline float dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(Vec3 a, Vec3 b) {
    return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline Vec3 normalize(Vec3 a) { return scale(a, 1.0f / std::sqrt(dot(a, a))); }

// One object under construction: corners index the vertices, three per face.
struct Mesh {
    std::vector<SceneVertex> vertices;
    std::vector<int> corners;
    std::vector<int> materials;

    int vertex(Vec3 p, float u, float v) {
        SceneVertex s = {};
        s.x = p.x, s.y = p.y, s.z = p.z, s.u = u, s.v = v;
        vertices.push_back(s);
        return (int)vertices.size() - 1;
    }
    // A face drawn from the side `front` points to: the loader's planes have
    // (c2 - c0) x (c1 - c0) pointing away from the side a face is seen from.
    void face(int a, int b, int c, Vec3 front, int material) {
        Vec3 pa{vertices[a].x, vertices[a].y, vertices[a].z};
        Vec3 pb{vertices[b].x, vertices[b].y, vertices[b].z};
        Vec3 pc{vertices[c].x, vertices[c].y, vertices[c].z};
        if (dot(cross(sub(pc, pa), sub(pb, pa)), front) > 0.0f) std::swap(b, c);
        corners.insert(corners.end(), {a, b, c});
        materials.push_back(material);
    }
    // An n x n grid of quads from corner o along edges e1, e2, texture
    // repeated `repeat` times across; two triangles per quad.
    void grid(Vec3 o, Vec3 e1, Vec3 e2, int n, float repeat, Vec3 front, int material) {
        int base = (int)vertices.size();
        for (int j = 0; j <= n; j++)
            for (int i = 0; i <= n; i++) {
                float s = (float)i / (float)n, t = (float)j / (float)n;
                vertex(add(o, add(scale(e1, s), scale(e2, t))), s * repeat, t * repeat);
            }
        for (int j = 0; j < n; j++)
            for (int i = 0; i < n; i++) {
                int k = base + j * (n + 1) + i;
                face(k, k + 1, k + n + 2, front, material);
                face(k, k + n + 2, k + n + 1, front, material);
            }
    }
    // Axis-aligned box seen from outside, each side an n x n grid.
    void box(Vec3 lo, Vec3 hi, int n, int material) {
        Vec3 d = sub(hi, lo);
        Vec3 ex{d.x, 0, 0}, ey{0, d.y, 0}, ez{0, 0, d.z};
        grid(lo, ex, ez, n, 1.0f, Vec3{0, -1, 0}, material);                 // bottom
        grid(Vec3{lo.x, hi.y, lo.z}, ex, ez, n, 1.0f, Vec3{0, 1, 0}, material);  // top
        grid(lo, ex, ey, n, 1.0f, Vec3{0, 0, -1}, material);
        grid(Vec3{lo.x, lo.y, hi.z}, ex, ey, n, 1.0f, Vec3{0, 0, 1}, material);
        grid(lo, ez, ey, n, 1.0f, Vec3{-1, 0, 0}, material);
        grid(Vec3{hi.x, lo.y, lo.z}, ez, ey, n, 1.0f, Vec3{1, 0, 0}, material);
    }
    // Latitude-longitude sphere seen from outside.
    void sphere(Vec3 centre, float radius, int rings, int segments, int material) {
        int base = (int)vertices.size();
        for (int j = 0; j <= rings; j++)
            for (int i = 0; i <= segments; i++) {
                float th = 3.14159265f * (float)j / (float)rings;
                float ph = 6.2831853f * (float)i / (float)segments;
                Vec3 n{std::sin(th) * std::cos(ph), std::cos(th), std::sin(th) * std::sin(ph)};
                vertex(add(centre, scale(n, radius)), (float)i / (float)segments * 4.0f,
                       (float)j / (float)rings * 2.0f);
            }
        for (int j = 0; j < rings; j++)
            for (int i = 0; i < segments; i++) {
                int k = base + j * (segments + 1) + i;
                Vec3 p{vertices[k].x, vertices[k].y, vertices[k].z};
                Vec3 q{vertices[k + segments + 2].x, vertices[k + segments + 2].y,
                       vertices[k + segments + 2].z};
                Vec3 front = sub(scale(add(p, q), 0.5f), centre);
                if (j > 0) face(k, k + 1, k + segments + 2, front, material);
                if (j < rings - 1) face(k, k + segments + 2, k + segments + 1, front, material);
            }
    }
};

// A Scene whose arrays live in std::vectors owned here.
struct World {
    struct Object {
        std::vector<SceneVertex> vertices;
        std::vector<SceneFace> faces;
    };
    std::vector<std::unique_ptr<Object>> storage;
    std::vector<SceneObject> objects;
    std::vector<Material> materials;
    Scene scene = {};

    // Face ids come from the process-wide counter, planes as the loader
    // computes them: N = normalize((c2 - c0) x (c1 - c0)), D = -N . c0.
    void add(const Mesh& mesh) {
        storage.emplace_back(new Object);
        Object* o = storage.back().get();
        o->vertices = mesh.vertices;
        for (size_t f = 0; f < mesh.materials.size(); f++) {
            SceneFace face = {};
            face.face_id = scene_next_face_id();
            face.material_index = mesh.materials[f];
            for (int k = 0; k < 3; k++) {
                face.vertex_index[k] = (uint16_t)mesh.corners[f * 3 + k];
                face.corners[k] = &o->vertices[face.vertex_index[k]];
            }
            Vec3 c0{face.corners[0]->x, face.corners[0]->y, face.corners[0]->z};
            Vec3 c1{face.corners[1]->x, face.corners[1]->y, face.corners[1]->z};
            Vec3 c2{face.corners[2]->x, face.corners[2]->y, face.corners[2]->z};
            Vec3 n = normalize(cross(sub(c2, c0), sub(c1, c0)));
            face.plane_nx = n.x, face.plane_ny = n.y, face.plane_nz = n.z;
            face.plane_d = -dot(n, c0);
            o->faces.push_back(face);
        }
    }
    Scene* finish() {
        objects.clear();
        for (auto& o : storage) {
            SceneObject s = {};
            s.vertex_count = (int32_t)o->vertices.size();
            s.face_count = (int32_t)o->faces.size();
            s.vertices = o->vertices.data();
            s.faces = o->faces.data();
            matrix_identity(&s.matrix);
            objects.push_back(s);
        }
        scene.object_count = (int32_t)objects.size();
        scene.objects = objects.data();
        scene.material_count = (int32_t)materials.size();
        scene.materials = materials.data();
        return &scene;
    }
};

// A texture laid out as if cut from a file_w x file_h rip map: level (a, b)
// is (file_w >> (a + 1)) x (file_h >> (b + 1)) texels. texel(level_a,
// level_b, x, y) gives the palette index, palette(p) the 0x00RRGGBB colour.
struct OwnedTexture {
    Texture* texture = nullptr;
    ~OwnedTexture() { texture_free(texture); }
    uint32_t* shade() const { return texture->shade_table; }
    const TextureLevel& level(int a, int b) const { return texture->levels[a + b * texture->level_count_x]; }
};

template <class TexelFn, class PaletteFn>
std::unique_ptr<OwnedTexture> make_texture(int file_w, int file_h, TexelFn texel, PaletteFn palette) {
    std::unique_ptr<OwnedTexture> t(new OwnedTexture);
    t->texture = texture_create(file_w, file_h);
    if (!t->texture) return t;
    for (int b = 0; b < t->texture->level_count_y; b++)
        for (int a = 0; a < t->texture->level_count_x; a++) {
            const TextureLevel& level = t->level(a, b);
            for (int y = 0; y < level.height; y++)
                for (int x = 0; x < level.width; x++) level.texels[y * level.width + x] = (uint8_t)texel(a, b, x, y);
        }
    std::vector<uint32_t> colours(SHADE_PALETTE);
    for (uint32_t p = 0; p < SHADE_PALETTE; p++) colours[p] = palette(p);
    texture_finish(t->texture, colours.data(), SHADE_PALETTE);
    return t;
}

// A bright checker with a colour ramp, 64 x 64 file (five levels per axis).
inline std::unique_ptr<OwnedTexture> checker_texture() {
    return make_texture(
        64, 64, [](int a, int b, int x, int y) { return (((x << a) >> 2) ^ ((y << b) >> 2)) & 1 ? 200 + (x & 7) : 40 + (y & 7); },
        [](uint32_t p) { return 0x00404040u + p * 0x00010101u / 2u + (p << 16) / 3u; });
}

// Pose of an eye at `eye` looking at `target`: view z along the line of
// sight, view y (screen down) opposite `up`, view x = y x z, a rotation.
inline Matrix4 look_at(Vec3 eye, Vec3 target, Vec3 up) {
    Vec3 z = normalize(sub(target, eye));
    Vec3 down = scale(up, -1.0f);
    Vec3 y = normalize(sub(down, scale(z, dot(down, z))));
    Vec3 x = cross(y, z);
    Matrix4 m;
    float rows[16] = {x.x, x.y, x.z, 0, y.x, y.y, y.z, 0, z.x, z.y, z.z, 0, eye.x, eye.y, eye.z, 1};
    std::memcpy(m.m, rows, sizeof rows);
    return m;
}

// A floor with a box and a ball on it, seen from above and in front: the
// scene of the light-at-the-camera checks. Returns the pose both eyes take.
inline Matrix4 add_floor_box_ball(World* world, int floor_material) {
    Mesh floor, box, ball;
    floor.grid({-40, 0, -40}, {80, 0, 0}, {0, 0, 80}, 10, 4.0f, {0, 1, 0}, floor_material);
    box.box({-20, 0, -5}, {-8, 12, 7}, 3, 0);
    ball.sphere({12, 9, 4}, 9, 12, 18, 0);
    world->add(floor);
    world->add(box);
    world->add(ball);
    return look_at({3, 35, -55}, {0, 5, 0}, {0, 1, 0});
}

// The screen the tests draw on: set_screen makes it (engine_init), and the
// frame engine and the passes are handed it.
inline Screen test_screen = {};
inline int set_screen(int width, int height) { return engine_init(width, height, &test_screen); }

// One row set over the whole screen, for tests that render without the
// frame engine.
struct ScreenRows {
    std::vector<ScanlineSpanList> lists;
    SpanRows rows = {};
    explicit ScreenRows(int height) : lists((size_t)height) { span_rows_create(&rows, lists.data(), 0, height, test_screen.width); }
    ~ScreenRows() { span_rows_destroy(&rows); }
    ScreenRows(const ScreenRows&) = delete;
    ScreenRows& operator=(const ScreenRows&) = delete;
};

// How a frame is shaded: the frame tick's values unless a test says otherwise.
struct Shading {
    int shadow_factor = 100;
    int bilinear = 1;
};

// One frame of `scene` through the frame engine (frame_init first), as the
// frame tick draws it. cone: width x height bytes of cone strength, or null
// for a full cone.
inline FrameReport render_frame(Scene* scene, const Matrix4& light_pose, const Matrix4& camera_pose,
                                const uint8_t* cone, uint32_t* shadow_buffer, uint32_t* frame_buffer,
                                Shading shading = Shading()) {
    std::vector<uint32_t> cone_pixels;
    RgbImage cone_image = {};
    FrameScene frame = {};
    frame.world = scene;
    frame.light_pose = light_pose;
    frame.camera_pose = camera_pose;
    if (cone) {
        cone_pixels.assign(cone, cone + (size_t)test_screen.width * (size_t)test_screen.height);
        cone_image = RgbImage{cone_pixels.data(), test_screen.width, test_screen.height};
        frame.cone_mask = &cone_image;
    }
    frame.bilinear = shading.bilinear;
    frame.shadow_factor = shading.shadow_factor;
    FrameTargets targets = {frame_buffer, shadow_buffer, nullptr, FRAME_VIEW_FRAME};
    FrameReport report;
    frame_render(&frame, &targets, &report);
    return report;
}

}  // namespace synthetic
