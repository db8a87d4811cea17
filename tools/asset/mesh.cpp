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

uint16_t mesh_add_vertex(Mesh* mesh, Vec3 p, float u, float v) {
    mesh->vertices.push_back(MeshVertex{p.x, p.y, p.z, u, v});
    return (uint16_t)(mesh->vertices.size() - 1);
}

void mesh_add_face(Mesh* mesh, uint16_t a, uint16_t b, uint16_t c, Vec3 toward, int material) {
    const MeshVertex &va = mesh->vertices[a], &vb = mesh->vertices[b], &vc = mesh->vertices[c];
    Vec3 e1 = {vb.x - va.x, vb.y - va.y, vb.z - va.z}, e2 = {vc.x - va.x, vc.y - va.y, vc.z - va.z};
    if (vec_dot(vec_cross(e1, e2), toward) < 0.0f) {
        uint16_t t = b;
        b = c;
        c = t;
    }
    mesh->faces.push_back(MeshFace{{a, b, c}, material});
}

void mesh_add_triangle(Mesh* mesh, const Vec3 p[3], const float uv[3][2], Vec3 toward, int material) {
    Vec3 n = vec_cross(vec_sub(p[1], p[0]), vec_sub(p[2], p[0]));
    int order[3] = {0, 1, 2};
    if (vec_dot(n, toward) < 0.0f) {
        order[1] = 2;
        order[2] = 1;
    }
    MeshFace f;
    for (int k = 0; k < 3; k++) f.corner[k] = mesh_add_vertex(mesh, p[order[k]], uv[order[k]][0], uv[order[k]][1]);
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
    for (int k = 0; k < 4; k++) mesh_add_vertex(mesh, p[order[k]], uv[order[k]][0], uv[order[k]][1]);
    mesh->faces.push_back(MeshFace{{base, (uint16_t)(base + 1), (uint16_t)(base + 2)}, material});
    mesh->faces.push_back(MeshFace{{base, (uint16_t)(base + 2), (uint16_t)(base + 3)}, material});
}

void mesh_add_panel(Mesh* mesh, const PanelSpec* s) {
    int nx = (int)std::ceil(s->width / s->max_cell - 0.001f);
    int ny = (int)std::ceil(s->height / s->max_cell - 0.001f);
    if (nx < 1) nx = 1;
    if (ny < 1) ny = 1;
    const Vec3 toward = vec_cross(s->right, s->up);
    // One grid of (nx + 1) x (ny + 1) vertices: neighbouring cells share
    // their corners, so the panel's inner edges meet exactly.
    float u_base = 0.0f, v_base = 0.0f;
    if (s->map == MAP_WORLD) {
        // Whole repeats make no visible difference; starting the panel near
        // 0 keeps the rasterizer's 16.16 texel coordinates far from overflow.
        float u0 = vec_dot(s->origin, s->right) / s->repeat_u;
        float v0 = -vec_dot(vec_add(s->origin, vec_scale(s->up, s->height)), s->up) / s->repeat_v;
        u_base = std::floor(u0);
        v_base = std::floor(v0);
    }
    const uint16_t first = (uint16_t)mesh->vertices.size();
    for (int j = 0; j <= ny; j++)
        for (int i = 0; i <= nx; i++) {
            float x = s->width * i / nx, y = s->height * j / ny;
            Vec3 p = vec_add(s->origin, vec_add(vec_scale(s->right, x), vec_scale(s->up, y)));
            float u, v;
            if (s->map == MAP_FIT) {
                u = x / s->width;
                v = 1.0f - y / s->height;
            } else {
                u = vec_dot(p, s->right) / s->repeat_u - u_base;
                v = -vec_dot(p, s->up) / s->repeat_v - v_base;
            }
            mesh_add_vertex(mesh, p, u, v);
        }
    for (int j = 0; j < ny; j++)
        for (int i = 0; i < nx; i++) {
            uint16_t a = (uint16_t)(first + j * (nx + 1) + i), b = (uint16_t)(a + 1);
            uint16_t d = (uint16_t)(a + nx + 1), c = (uint16_t)(d + 1);
            mesh_add_face(mesh, a, b, c, toward, s->material);
            mesh_add_face(mesh, a, c, d, toward, s->material);
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

void mesh_add_lathe(Mesh* mesh, Vec3 centre, const float (*profile)[2], int points, int sides, int material,
                    float repeats_around, float repeat_v) {
    const float two_pi = 6.28318531f;
    // One ring of sides + 1 vertices per profile point: the last column
    // repeats the first at u = 0 so the texture wraps once around.
    const uint16_t first = (uint16_t)mesh->vertices.size();
    float length = 0.0f;  // along the profile, world units
    for (int j = 0; j < points; j++) {
        if (j > 0) length += std::hypot(profile[j][0] - profile[j - 1][0], profile[j][1] - profile[j - 1][1]);
        for (int i = 0; i <= sides; i++) {
            float a = two_pi * (float)(i % sides) / (float)sides;
            Vec3 p = {centre.x + profile[j][0] * std::sin(a), centre.y + profile[j][1], centre.z + profile[j][0] * std::cos(a)};
            // u decreases with the angle so the image reads left to right from outside
            mesh_add_vertex(mesh, p, repeats_around * (float)(sides - i) / (float)sides, length / repeat_v);
        }
    }
    // v grows down the image: flip so the profile's top is the image's top.
    for (uint16_t k = first; k < mesh->vertices.size(); k++)
        mesh->vertices[k].v = length / repeat_v - mesh->vertices[k].v;
    for (int j = 0; j + 1 < points; j++) {
        float dr = profile[j + 1][0] - profile[j][0], dh = profile[j + 1][1] - profile[j][1];
        for (int i = 0; i < sides; i++) {
            // Outward normal of the band: the profile's tangent (dr, dh) turned
            // away from the axis, at the middle of the side.
            float a = two_pi * ((float)i + 0.5f) / (float)sides;
            Vec3 toward = {std::sin(a) * dh, -dr, std::cos(a) * dh};
            uint16_t p = (uint16_t)(first + j * (sides + 1) + i), q = (uint16_t)(p + 1);
            uint16_t r = (uint16_t)(q + sides + 1), t = (uint16_t)(p + sides + 1);
            mesh_add_face(mesh, p, q, r, toward, material);
            mesh_add_face(mesh, p, r, t, toward, material);
        }
    }
}
