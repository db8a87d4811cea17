#include "asset/mesh.h"

#include <cmath>

Vec3 vec_add(Vec3 a, Vec3 b) { return Vec3{a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 vec_sub(Vec3 a, Vec3 b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 vec_scale(Vec3 a, float k) { return Vec3{a.x * k, a.y * k, a.z * k}; }
Vec3 vec_cross(Vec3 a, Vec3 b) { return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float vec_dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vec3 vec_normalize(Vec3 a) {
    float l = std::sqrt(vec_dot(a, a));
    return l > 0.0f ? vec_scale(a, 1.0f / l) : a;
}

int scene_add_material(SceneBuild* scene, const char* name, Rgba8 diffuse) {
    scene->materials.push_back(MaterialDef{name, diffuse});
    return (int)scene->materials.size() - 1;
}

Mesh* scene_add_mesh(SceneBuild* scene, const char* name) {
    scene->meshes.push_back(Mesh{name, {}, {}});
    return &scene->meshes.back();
}

namespace {

uint16_t add_vertex(Mesh* mesh, Vec3 p, float u, float v) {
    mesh->vertices.push_back(MeshVertex{p.x, p.y, p.z, u, v});
    return (uint16_t)(mesh->vertices.size() - 1);
}

}  // namespace

void mesh_add_triangle(Mesh* mesh, const Vec3 p[3], const float uv[3][2], Vec3 toward, int material) {
    Vec3 n = vec_cross(vec_sub(p[1], p[0]), vec_sub(p[2], p[0]));
    int order[3] = {0, 1, 2};
    if (vec_dot(n, toward) < 0.0f) {
        order[1] = 2;
        order[2] = 1;
    }
    MeshFace f;
    for (int k = 0; k < 3; k++) f.corner[k] = add_vertex(mesh, p[order[k]], uv[order[k]][0], uv[order[k]][1]);
    f.material = material;
    mesh->faces.push_back(f);
}

void mesh_add_quad(Mesh* mesh, const Vec3 p[4], const float uv[4][2], Vec3 toward, int material) {
    // Shared corners: two triangles over four vertices.
    Vec3 n = vec_cross(vec_sub(p[1], p[0]), vec_sub(p[2], p[0]));
    int order[4] = {0, 1, 2, 3};
    if (vec_dot(n, toward) < 0.0f) {
        order[1] = 3;
        order[3] = 1;
    }
    uint16_t base = (uint16_t)mesh->vertices.size();
    for (int k = 0; k < 4; k++) add_vertex(mesh, p[order[k]], uv[order[k]][0], uv[order[k]][1]);
    mesh->faces.push_back(MeshFace{{base, (uint16_t)(base + 1), (uint16_t)(base + 2)}, material});
    mesh->faces.push_back(MeshFace{{base, (uint16_t)(base + 2), (uint16_t)(base + 3)}, material});
}

void mesh_add_panel(Mesh* mesh, const PanelSpec* s) {
    int nx = (int)std::ceil(s->width / s->max_cell - 0.001f);
    int ny = (int)std::ceil(s->height / s->max_cell - 0.001f);
    if (nx < 1) nx = 1;
    if (ny < 1) ny = 1;
    Vec3 toward = vec_cross(s->right, s->up);
    for (int j = 0; j < ny; j++)
        for (int i = 0; i < nx; i++) {
            float x0 = s->width * i / nx, x1 = s->width * (i + 1) / nx;
            float y0 = s->height * j / ny, y1 = s->height * (j + 1) / ny;
            const float xs[4] = {x0, x1, x1, x0}, ys[4] = {y0, y0, y1, y1};
            Vec3 p[4];
            float uv[4][2];
            for (int k = 0; k < 4; k++) {
                p[k] = vec_add(s->origin, vec_add(vec_scale(s->right, xs[k]), vec_scale(s->up, ys[k])));
                if (s->map == MAP_FIT) {
                    uv[k][0] = xs[k] / s->width;
                    uv[k][1] = 1.0f - ys[k] / s->height;
                } else {
                    uv[k][0] = vec_dot(p[k], s->right) / s->repeat_u;
                    uv[k][1] = -vec_dot(p[k], s->up) / s->repeat_v;
                }
            }
            if (s->map == MAP_WORLD) {
                // Whole repeats make no visible difference; keeping each
                // cell's coordinates near 0 keeps the rasterizer's 16.16
                // texel coordinates far from overflow.
                float du = std::floor(std::fmin(std::fmin(uv[0][0], uv[1][0]), std::fmin(uv[2][0], uv[3][0])));
                float dv = std::floor(std::fmin(std::fmin(uv[0][1], uv[1][1]), std::fmin(uv[2][1], uv[3][1])));
                for (int k = 0; k < 4; k++) {
                    uv[k][0] -= du;
                    uv[k][1] -= dv;
                }
            }
            mesh_add_quad(mesh, p, uv, toward, s->material);
        }
}

void mesh_add_box(Mesh* mesh, const BoxSpec* b) {
    const Vec3 ex = {std::cos(b->turn), 0.0f, -std::sin(b->turn)};
    const Vec3 ey = {0.0f, 1.0f, 0.0f};
    const Vec3 ez = {std::sin(b->turn), 0.0f, std::cos(b->turn)};
    const Vec3 mid = vec_add(b->centre, vec_scale(ey, b->height * 0.5f));
    struct Side {
        int flag;
        Vec3 out;       // outward normal
        Vec3 up;        // the face's up direction
        float depth;    // distance of the face from the box's middle
        float width;    // extent along right = up x out
        float height;   // extent along up
    };
    const Side sides[6] = {
        {BOX_POS_X, ex, ey, b->half_x, 2 * b->half_z, b->height},
        {BOX_NEG_X, vec_scale(ex, -1), ey, b->half_x, 2 * b->half_z, b->height},
        {BOX_POS_Z, ez, ey, b->half_z, 2 * b->half_x, b->height},
        {BOX_NEG_Z, vec_scale(ez, -1), ey, b->half_z, 2 * b->half_x, b->height},
        {BOX_TOP, ey, ez, b->height * 0.5f, 2 * b->half_x, 2 * b->half_z},
        {BOX_BOTTOM, vec_scale(ey, -1), ez, b->height * 0.5f, 2 * b->half_x, 2 * b->half_z},
    };
    for (const Side& s : sides) {
        if (!(b->faces & s.flag)) continue;
        PanelSpec p;
        p.right = vec_cross(s.up, s.out);
        p.up = s.up;
        p.origin = vec_add(mid, vec_scale(s.out, s.depth));
        p.origin = vec_sub(p.origin, vec_add(vec_scale(p.right, s.width * 0.5f), vec_scale(p.up, s.height * 0.5f)));
        p.width = s.width;
        p.height = s.height;
        p.material = b->material;
        p.map = b->map;
        p.repeat_u = b->repeat;
        p.repeat_v = b->repeat;
        p.max_cell = b->max_cell;
        mesh_add_panel(mesh, &p);
    }
}

void mesh_add_column(Mesh* mesh, Vec3 centre, float radius, float height, int sides, int cap,
                     int material, float repeats_around, float repeat_v) {
    const float two_pi = 6.28318531f;
    Vec3 top_centre = vec_add(centre, Vec3{0.0f, height, 0.0f});
    for (int i = 0; i < sides; i++) {
        float a0 = two_pi * i / sides, a1 = two_pi * (i + 1) / sides;
        Vec3 d0 = {std::sin(a0), 0.0f, std::cos(a0)}, d1 = {std::sin(a1), 0.0f, std::cos(a1)};
        Vec3 out = vec_normalize(vec_add(d0, d1));
        Vec3 b0 = vec_add(centre, vec_scale(d0, radius)), b1 = vec_add(centre, vec_scale(d1, radius));
        Vec3 p[4] = {b0, b1, vec_add(b1, Vec3{0, height, 0}), vec_add(b0, Vec3{0, height, 0})};
        // u decreases with the angle so the image reads left to right from outside
        float u0 = repeats_around * (float)(sides - i) / sides, u1 = repeats_around * (float)(sides - i - 1) / sides;
        float v1 = height / repeat_v;
        float uv[4][2] = {{u0, v1}, {u1, v1}, {u1, 0.0f}, {u0, 0.0f}};
        mesh_add_quad(mesh, p, uv, out, material);
        if (cap) {
            Vec3 t[3] = {top_centre, p[3], p[2]};
            float tuv[3][2] = {{0.5f, 0.5f}, {0.5f + 0.5f * d0.x, 0.5f - 0.5f * d0.z}, {0.5f + 0.5f * d1.x, 0.5f - 0.5f * d1.z}};
            mesh_add_triangle(mesh, t, tuv, Vec3{0, 1, 0}, material);
        }
    }
}
