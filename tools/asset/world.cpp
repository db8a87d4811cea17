#include "asset/world.h"

#include <cmath>
#include <cstdio>

namespace {

const float pi = 3.14159265f;

// Courtyard extents, world units (the eye is 30 units above the floor).
const float yard_x = 200.0f;        // inner faces of the side walls at x = +-200
const float yard_z_near = -130.0f;  // inner face of the wall behind the camera
const float yard_z_far = 450.0f;    // inner face of the far wall
const float wall_thickness = 16.0f;
const float wall_height = 130.0f;

// Arcades: pillar rows at x = +-110, pillars every 100 units.
const float arcade_x = 110.0f;
const float pillar_z[] = {60.0f, 160.0f, 260.0f, 360.0f};
const int pillar_count = 4;
static_assert(sizeof pillar_z / sizeof pillar_z[0] == 4, "pillar_count pillars");
const float spring_y = 70.0f;    // where the arches start, on the capitals
const float arch_inner = 41.0f;  // radius of the opening
const float arch_outer = 50.0f;  // half the pillar spacing: arches meet above pillars
const float arch_half_depth = 10.0f;
const int arch_segments = 12;    // corners of the outer outline fall on segments 3 and 9

// Texture repeats in world units.
const float floor_repeat = 80.0f;  // 4 x 4 tiles of 20 units
const float brick_repeat = 64.0f;  // bricks 16 x 8
const float stone_repeat = 48.0f;

struct Materials {
    int floor, brick, stone, wood, marble;
};

BoxSpec box(Vec3 centre, float half_x, float half_z, float height, float turn, int faces, int material,
            MapMode map, float repeat) {
    return BoxSpec{centre, half_x, half_z, height, turn, faces, material, map, repeat, 40.0f};
}

void build_floor(Mesh* mesh, const Materials& m) {
    PanelSpec p;
    p.origin = Vec3{yard_x, 0.0f, yard_z_near};
    p.right = Vec3{-1.0f, 0.0f, 0.0f};  // right x up = +y: seen from above
    p.up = Vec3{0.0f, 0.0f, 1.0f};
    p.width = 2.0f * yard_x;
    p.height = yard_z_far - yard_z_near;
    p.material = m.floor;
    p.map = MAP_WORLD;
    p.repeat_u = floor_repeat;
    p.repeat_v = floor_repeat;
    p.max_cell = 20.0f;
    mesh_add_panel(mesh, &p);
}

void build_walls(SceneBuild* scene, const Materials& m) {
    const float z_mid = (yard_z_near + yard_z_far) * 0.5f;
    const float side_half_z = (yard_z_far - yard_z_near) * 0.5f + wall_thickness;
    const float t = wall_thickness * 0.5f;
    // Side walls run past the ends to close the corners; the end walls stop
    // at the side walls' inner faces and have no end faces of their own. The
    // cornice covers every wall top.
    const BoxSpec walls[4] = {
        box(Vec3{yard_x + t, 0, z_mid}, t, side_half_z, wall_height, 0, BOX_SIDES, m.brick, MAP_WORLD, brick_repeat),
        box(Vec3{-yard_x - t, 0, z_mid}, t, side_half_z, wall_height, 0, BOX_SIDES, m.brick, MAP_WORLD, brick_repeat),
        box(Vec3{0, 0, yard_z_far + t}, yard_x, t, wall_height, 0, BOX_POS_Z | BOX_NEG_Z, m.brick, MAP_WORLD,
            brick_repeat),
        box(Vec3{0, 0, yard_z_near - t}, yard_x, t, wall_height, 0, BOX_POS_Z | BOX_NEG_Z, m.brick, MAP_WORLD,
            brick_repeat),
    };
    const char* const names[4] = {"WallLeft", "WallRight", "WallFar", "WallNear"};
    for (int i = 0; i < 4; i++) mesh_add_box(scene_add_mesh(scene, names[i]), &walls[i]);
    // A stone cornice along the top, overhanging the courtyard by 4 units.
    Mesh* cornice = scene_add_mesh(scene, "Cornice");
    const float c = 12.0f, h = 6.0f;  // half width, height
    const float side_len = (yard_z_far - yard_z_near) * 0.5f + wall_thickness + 4.0f;
    BoxSpec parts[4] = {
        box(Vec3{yard_x + t, wall_height, z_mid}, c, side_len, h, 0, BOX_ALL, m.stone, MAP_WORLD, stone_repeat),
        box(Vec3{-yard_x - t, wall_height, z_mid}, c, side_len, h, 0, BOX_ALL, m.stone, MAP_WORLD, stone_repeat),
        box(Vec3{0, wall_height, yard_z_far + t}, yard_x - 4.0f, c, h, 0,
            BOX_POS_Z | BOX_NEG_Z | BOX_TOP | BOX_BOTTOM, m.stone, MAP_WORLD, stone_repeat),
        box(Vec3{0, wall_height, yard_z_near - t}, yard_x - 4.0f, c, h, 0,
            BOX_POS_Z | BOX_NEG_Z | BOX_TOP | BOX_BOTTOM, m.stone, MAP_WORLD, stone_repeat),
    };
    for (const BoxSpec& b : parts) mesh_add_box(cornice, &b);
}

// Outer outline of an arch, walked from the +z foot over the top to the -z
// foot; s in 0..1 by length.
Vec3 arch_outline(float x, float zc, float s) {
    float d = s * 4.0f * arch_outer;  // the outline is 4 half-spans long
    if (d <= arch_outer) return Vec3{x, spring_y + d, zc + arch_outer};
    if (d <= 3.0f * arch_outer) return Vec3{x, spring_y + arch_outer, zc + arch_outer - (d - arch_outer)};
    return Vec3{x, spring_y + arch_outer - (d - 3.0f * arch_outer), zc - arch_outer};
}

Vec3 arch_inner_point(float x, float zc, int k) {
    float a = pi * (float)k / arch_segments;
    return Vec3{x, spring_y + arch_inner * std::sin(a), zc + arch_inner * std::cos(a)};
}

// One arch of the arcade at x = xc spanning z = zc +- arch_outer: both
// faces, the soffit, and the end faces where the arcade stops.
void build_arch(Mesh* mesh, float xc, float zc, int end_near, int end_far, int material) {
    for (int side = 0; side < 2; side++) {
        float x = side ? xc + arch_half_depth : xc - arch_half_depth;
        Vec3 toward = {side ? 1.0f : -1.0f, 0.0f, 0.0f};
        float u_sign = side ? -1.0f : 1.0f;  // right of a viewer facing this side
        for (int k = 0; k < arch_segments; k++) {
            Vec3 p[4] = {arch_inner_point(x, zc, k), arch_inner_point(x, zc, k + 1),
                         arch_outline(x, zc, (float)(k + 1) / arch_segments),
                         arch_outline(x, zc, (float)k / arch_segments)};
            float uv[4][2];
            for (int i = 0; i < 4; i++) {
                uv[i][0] = u_sign * (p[i].z - zc) / stone_repeat + 2.0f;
                uv[i][1] = (spring_y + arch_outer - p[i].y) / stone_repeat;
            }
            mesh_add_quad(mesh, p, uv, toward, material);
        }
    }
    const float arc_step = pi * arch_inner / arch_segments;  // soffit length per segment
    for (int k = 0; k < arch_segments; k++) {
        Vec3 a = arch_inner_point(xc - arch_half_depth, zc, k), b = arch_inner_point(xc - arch_half_depth, zc, k + 1);
        Vec3 c = arch_inner_point(xc + arch_half_depth, zc, k + 1), d = arch_inner_point(xc + arch_half_depth, zc, k);
        Vec3 p[4] = {a, b, c, d};
        Vec3 mid = vec_scale(vec_add(a, c), 0.5f);
        Vec3 toward = vec_sub(Vec3{mid.x, spring_y, zc}, mid);
        float v0 = k * arc_step / stone_repeat, v1 = (k + 1) * arc_step / stone_repeat;
        float width = 2.0f * arch_half_depth / stone_repeat;
        float uv[4][2] = {{0, v0}, {0, v1}, {width, v1}, {width, v0}};
        mesh_add_quad(mesh, p, uv, toward, material);
    }
    for (int e = 0; e < 2; e++) {
        if (!(e ? end_far : end_near)) continue;
        float z = e ? zc + arch_outer : zc - arch_outer;
        Vec3 p[4] = {{xc - arch_half_depth, spring_y, z}, {xc + arch_half_depth, spring_y, z},
                     {xc + arch_half_depth, spring_y + arch_outer, z}, {xc - arch_half_depth, spring_y + arch_outer, z}};
        float w = 2.0f * arch_half_depth / stone_repeat, h = arch_outer / stone_repeat;
        float uv[4][2] = {{0, h}, {w, h}, {w, 0}, {0, 0}};
        mesh_add_quad(mesh, p, uv, Vec3{0, 0, e ? 1.0f : -1.0f}, material);
    }
}

void build_arcade(Mesh* mesh, float xc, const Materials& m) {
    for (int i = 0; i < pillar_count; i++) {
        Vec3 foot = {xc, 0.0f, pillar_z[i]};
        BoxSpec base = box(foot, 12, 12, 6, 0, BOX_SIDES | BOX_TOP, m.stone, MAP_WORLD, stone_repeat);
        mesh_add_box(mesh, &base);
        mesh_add_column(mesh, Vec3{xc, 6.0f, pillar_z[i]}, 8.0f, 60.0f, 12, 0, m.marble, 1.0f, 60.0f);
        BoxSpec capital = box(Vec3{xc, 66.0f, pillar_z[i]}, 12, 12, 4, 0, BOX_ALL, m.stone, MAP_WORLD, stone_repeat);
        mesh_add_box(mesh, &capital);
    }
    for (int i = 0; i + 1 < pillar_count; i++)
        build_arch(mesh, xc, (pillar_z[i] + pillar_z[i + 1]) * 0.5f, i == 0, i + 2 == pillar_count, m.stone);
    // Entablature resting on the arches, overhanging by 2 units each side.
    float z0 = pillar_z[0] - 12.0f, z1 = pillar_z[pillar_count - 1] + 12.0f;
    BoxSpec beam = box(Vec3{xc, spring_y + arch_outer, (z0 + z1) * 0.5f}, arch_half_depth + 2.0f, (z1 - z0) * 0.5f, 8.0f,
                       0, BOX_ALL, m.stone, MAP_WORLD, stone_repeat);
    mesh_add_box(mesh, &beam);
}

struct CrateSpec {
    float x, y, z;  // centre of the bottom face
    float size;     // edge length
    float turn;     // radians about +y
};

const CrateSpec crates[] = {
    {-76, 0, 72, 30, 0.26f},  {-76, 30, 72, 20, 0.7f},   {-88, 0, 112, 22, -0.2f},
    {75, 0, 235, 32, -0.35f}, {150, 0, 110, 30, 0.1f},   {150, 30, 110, 22, -0.3f},
    {156, 0, 150, 24, 0.5f},  {-150, 0, 210, 34, 0.15f}, {-160, 0, 255, 26, -0.4f},
    {-60, 0, 330, 24, 0.6f},  {60, 0, 20, 18, 0.4f},
};

void build_crates(Mesh* mesh, const Materials& m) {
    for (const CrateSpec& c : crates) {
        float h = c.size * 0.5f;
        BoxSpec b = box(Vec3{c.x, c.y, c.z}, h, h, c.size, c.turn, BOX_SIDES | BOX_TOP, m.wood, MAP_FIT, 0.0f);
        mesh_add_box(mesh, &b);
    }
}

// Five steps of 6 up and 10 deep against the far wall, then a landing.
void build_steps(Mesh* mesh, const Materials& m) {
    const int steps = 5;
    const float half_w = 90.0f, rise = 6.0f, going = 10.0f, z0 = 380.0f;
    for (int i = 0; i < steps; i++) {
        float za = z0 + going * i;
        float zb = i + 1 < steps ? za + going : yard_z_far;
        float top = rise * (i + 1);
        PanelSpec tread = {Vec3{half_w, top, za}, Vec3{-1, 0, 0}, Vec3{0, 0, 1}, 2 * half_w, zb - za,
                           m.stone, MAP_WORLD, stone_repeat, stone_repeat, 40.0f};
        // Seen from -z, a viewer's right is world -x; from +x it is -z.
        PanelSpec riser = {Vec3{half_w, top - rise, za}, Vec3{-1, 0, 0}, Vec3{0, 1, 0}, 2 * half_w, rise,
                           m.stone, MAP_WORLD, stone_repeat, stone_repeat, 40.0f};
        PanelSpec left = {Vec3{half_w, 0, zb}, Vec3{0, 0, -1}, Vec3{0, 1, 0}, zb - za, top,
                          m.stone, MAP_WORLD, stone_repeat, stone_repeat, 40.0f};
        PanelSpec right = {Vec3{-half_w, 0, za}, Vec3{0, 0, 1}, Vec3{0, 1, 0}, zb - za, top,
                           m.stone, MAP_WORLD, stone_repeat, stone_repeat, 40.0f};
        mesh_add_panel(mesh, &tread);
        mesh_add_panel(mesh, &riser);
        mesh_add_panel(mesh, &left);
        mesh_add_panel(mesh, &right);
    }
}

// Obelisk on a two-tier plinth in the middle of the courtyard.
void build_obelisk(Mesh* mesh, const Materials& m) {
    const float x = 0.0f, z = 280.0f;
    BoxSpec lower = box(Vec3{x, 0, z}, 16, 16, 12, 0, BOX_SIDES | BOX_TOP, m.stone, MAP_WORLD, stone_repeat);
    BoxSpec upper = box(Vec3{x, 12, z}, 11, 11, 6, 0, BOX_SIDES | BOX_TOP, m.stone, MAP_WORLD, stone_repeat);
    mesh_add_box(mesh, &lower);
    mesh_add_box(mesh, &upper);
    const float y0 = 18.0f, y1 = 88.0f, tip = 98.0f, r0 = 7.0f, r1 = 4.5f;
    const Vec3 out[4] = {{1, 0, 0}, {0, 0, 1}, {-1, 0, 0}, {0, 0, -1}};
    for (int i = 0; i < 4; i++) {
        Vec3 o = out[i], side = vec_cross(Vec3{0, 1, 0}, o);  // right of a viewer facing this side
        Vec3 p[4] = {
            {x + o.x * r0 - side.x * r0, y0, z + o.z * r0 - side.z * r0},
            {x + o.x * r0 + side.x * r0, y0, z + o.z * r0 + side.z * r0},
            {x + o.x * r1 + side.x * r1, y1, z + o.z * r1 + side.z * r1},
            {x + o.x * r1 - side.x * r1, y1, z + o.z * r1 - side.z * r1},
        };
        float v0 = (y1 - y0) / 40.0f;
        float uv[4][2] = {{0.0f, v0}, {0.5f, v0}, {0.5f - (r0 - r1) / 28.0f, 0.0f}, {(r0 - r1) / 28.0f, 0.0f}};
        mesh_add_quad(mesh, p, uv, o, m.marble);
        Vec3 t[3] = {p[3], p[2], Vec3{x, tip, z}};
        float tuv[3][2] = {{0.1f, 0.3f}, {0.4f, 0.3f}, {0.25f, 0.0f}};
        mesh_add_triangle(mesh, t, tuv, vec_add(o, Vec3{0, 0.5f, 0}), m.marble);
    }
}

}  // namespace

void demo_world_build(SceneBuild* scene) {
    Materials m;
    m.floor = scene_add_material(scene, "Floor", Rgba8{150, 145, 135, 255});
    m.brick = scene_add_material(scene, "Brick", Rgba8{150, 80, 58, 255});
    m.stone = scene_add_material(scene, "Stone", Rgba8{180, 160, 124, 255});
    m.wood = scene_add_material(scene, "Wood", Rgba8{150, 104, 58, 255});
    m.marble = scene_add_material(scene, "Marble", Rgba8{215, 212, 204, 255});
    build_floor(scene_add_mesh(scene, "Floor"), m);
    build_walls(scene, m);
    build_arcade(scene_add_mesh(scene, "ArcadeLeft"), arcade_x, m);
    build_arcade(scene_add_mesh(scene, "ArcadeRight"), -arcade_x, m);
    build_crates(scene_add_mesh(scene, "Crates"), m);
    build_steps(scene_add_mesh(scene, "Steps"), m);
    build_obelisk(scene_add_mesh(scene, "Obelisk"), m);
}

// A five-pointed star 16 units across, facing the start camera (-z), with a
// shallow point at the middle of each side so it reads as solid.
void demo_star_build(SceneBuild* scene) {
    int gold = scene_add_material(scene, "Gold", Rgba8{220, 170, 60, 255});
    Mesh* mesh = scene_add_mesh(scene, "Star");
    const float outer = 8.0f, inner = 3.4f, rim = 1.0f, bulge = 3.0f;
    Vec3 ring[10];
    for (int k = 0; k < 10; k++) {
        float a = pi * 0.5f + pi * (float)k / 5.0f;
        float r = (k & 1) ? inner : outer;
        ring[k] = Vec3{r * std::cos(a), r * std::sin(a), 0.0f};
    }
    auto uv_of = [&](Vec3 p, float out[2]) {
        out[0] = 0.5f + 0.5f * p.x / outer;
        out[1] = 0.5f - 0.5f * p.y / outer;
    };
    for (int face = 0; face < 2; face++) {
        float side = face ? 1.0f : -1.0f;  // front faces -z, back +z
        for (int k = 0; k < 10; k++) {
            Vec3 a = ring[k], b = ring[(k + 1) % 10];
            a.z = b.z = side * rim;
            Vec3 p[3] = {Vec3{0, 0, side * bulge}, a, b};
            float uv[3][2];
            for (int i = 0; i < 3; i++) uv_of(p[i], uv[i]);
            mesh_add_triangle(mesh, p, uv, Vec3{0, 0, side}, gold);
        }
    }
    for (int k = 0; k < 10; k++) {
        Vec3 a = ring[k], b = ring[(k + 1) % 10];
        Vec3 p[4] = {{a.x, a.y, -rim}, {b.x, b.y, -rim}, {b.x, b.y, rim}, {a.x, a.y, rim}};
        float uv[4][2] = {{0, 0}, {0.3f, 0}, {0.3f, 0.1f}, {0, 0.1f}};
        Vec3 mid = vec_scale(vec_add(a, b), 0.5f);
        mesh_add_quad(mesh, p, uv, mid, gold);
    }
}

int demo_path_count() { return 12; }

// An ellipse around (0, 29, 150), rising and falling a little, so that the
// marker passes in front of the crates and the obelisk inside the cone.
Vec3 demo_path_point(int i) {
    float a = 2.0f * pi * (float)i / (float)demo_path_count();
    return Vec3{70.0f * std::cos(a), 29.0f + 7.0f * std::sin(2.0f * a), 150.0f + 60.0f * std::sin(a)};
}

std::string demo_path_text() {
    std::string text = std::to_string(demo_path_count()) + "\n";
    for (int i = 0; i < demo_path_count(); i++) {
        Vec3 p = demo_path_point(i);
        char line[96];
        std::snprintf(line, sizeof line, "%.2f %.2f %.2f\n", p.x, p.y, p.z);
        text += line;
    }
    return text;
}
