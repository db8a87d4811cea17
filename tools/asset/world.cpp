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
const int arch_segments = 12;    // segments of the intrados, an even number
const int arch_courses = 4;      // horizontal courses in each half of a face, below the fan

// Largest cell of the big flat surfaces. Each face gets one texture level
// for its whole area, so a floor or wall is cut into cells about one texture
// repeat across: few enough spans per screen row, and a near cell does not
// take the blurred level that its far neighbours need.
const float floor_cell = 100.0f;
const float wall_cell = 125.0f;
// Narrow bands (cornice mouldings, treads, risers) are cut shorter, so that
// no triangle is more than about a dozen times longer than it is wide.
const float band_cell = 72.0f;

// Sides of the round pillars.
const int pillar_sides = 12;

// Texture repeats in world units.
const float floor_repeat = 80.0f;  // 4 x 4 tiles of 20 units
const float brick_repeat = 64.0f;  // bricks 16 x 8
const float stone_repeat = 48.0f;

struct Materials {
    int floor, brick, stone, wood, marble;
};

BoxSpec box(Vec3 centre, float half_x, float half_z, float height, float turn, int faces, int material,
            MapMode map, float repeat) {
    return BoxSpec{centre, half_x, half_z, height, turn, faces, material, map, repeat, wall_cell};
}

// One panel reaching under the walls' middles, so that no crack can open
// where the walls stand on it.
void build_floor(Mesh* mesh, const Materials& m) {
    const float t = wall_thickness * 0.5f;
    PanelSpec p;
    p.origin = Vec3{yard_x + t, 0.0f, yard_z_near - t};
    p.right = Vec3{-1.0f, 0.0f, 0.0f};  // right x up = +y: seen from above
    p.up = Vec3{0.0f, 0.0f, 1.0f};
    p.width = 2.0f * (yard_x + t);
    p.height = yard_z_far - yard_z_near + 2.0f * t;
    p.material = m.floor;
    p.map = MAP_WORLD;
    p.repeat_u = floor_repeat;
    p.repeat_v = floor_repeat;
    p.max_cell = floor_cell;
    mesh_add_panel(mesh, &p);
}

// A moulded stone cornice running round the top of the walls, mitred at the
// corners: every point of its cross-section, given as (distance out from the
// walls' inner faces, height), sweeps a closed loop round the courtyard, and
// consecutive loops are joined by bands of quads. All loops are cut at the
// same places along the walls, so the bands share their corners.
void build_cornice(Mesh* mesh, const Materials& m) {
    const float o = wall_thickness + 4.0f;  // outer overhang, beyond the outer faces
    const float profile[][2] = {
        {0.0f, wall_height - 4.0f},  // on the inner face
        {-4.0f, wall_height},         // slope out over the courtyard
        {-4.0f, wall_height + 6.0f},  // fascia
        {o, wall_height + 6.0f},      // top
        {o, wall_height},             // outer fascia
        {wall_thickness, wall_height - 4.0f},
    };
    const int points = (int)(sizeof profile / sizeof profile[0]);
    // Loop corners in order round the courtyard, with the outward direction
    // of each corner (a loop at distance d has its corners at corner + d * out).
    const Vec3 corners[4] = {{yard_x, 0, yard_z_near}, {yard_x, 0, yard_z_far}, {-yard_x, 0, yard_z_far}, {-yard_x, 0, yard_z_near}};
    const Vec3 outs[4] = {{1, 0, -1}, {1, 0, 1}, {-1, 0, 1}, {-1, 0, -1}};
    int cuts[4];  // cells along each wall
    int ring = 0;  // vertices per loop
    for (int w = 0; w < 4; w++) {
        float length = std::sqrt(vec_dot(vec_sub(corners[(w + 1) % 4], corners[w]), vec_sub(corners[(w + 1) % 4], corners[w])));
        cuts[w] = (int)std::ceil(length / band_cell - 0.001f);
        ring += cuts[w] + 1;  // each wall keeps its own end vertices: the texture restarts there
    }
    const uint16_t first = (uint16_t)mesh->vertices.size();
    float across = 0.0f;  // along the cross-section, world units
    for (int j = 0; j < points; j++) {
        if (j > 0) across += std::hypot(profile[j][0] - profile[j - 1][0], profile[j][1] - profile[j - 1][1]);
        for (int w = 0; w < 4; w++) {
            Vec3 a = vec_add(corners[w], vec_scale(outs[w], profile[j][0]));
            Vec3 b = vec_add(corners[(w + 1) % 4], vec_scale(outs[(w + 1) % 4], profile[j][0]));
            for (int k = 0; k <= cuts[w]; k++) {
                // Cut points at the same fractions of every loop's side: the
                // mitre lines stay straight and the bands meet exactly.
                float f = (float)k / (float)cuts[w];
                Vec3 p = vec_add(a, vec_scale(vec_sub(b, a), f));
                p.y = profile[j][1];
                float along = vec_dot(vec_sub(p, corners[w]), vec_normalize(vec_sub(corners[(w + 1) % 4], corners[w])));
                mesh_add_vertex(mesh, p, along / stone_repeat + 1.0f, across / stone_repeat);
            }
        }
    }
    for (int j = 0; j + 1 < points; j++) {
        float dd = profile[j + 1][0] - profile[j][0], dh = profile[j + 1][1] - profile[j][1];
        int base = 0;
        for (int w = 0; w < 4; w++) {
            // The cross-section runs with the stone on its outer side, so a
            // band faces (-dh, dd) in (outward, up); `inward` is -outward.
            Vec3 inward = vec_cross(vec_sub(corners[(w + 1) % 4], corners[w]), Vec3{0, 1, 0});
            Vec3 toward = vec_add(vec_scale(vec_normalize(inward), dh), Vec3{0, dd, 0});
            for (int k = 0; k < cuts[w]; k++) {
                uint16_t p = (uint16_t)(first + j * ring + base + k), q = (uint16_t)(p + 1);
                uint16_t r = (uint16_t)(q + ring), t = (uint16_t)(p + ring);
                mesh_add_face(mesh, p, q, r, toward, m.stone);
                mesh_add_face(mesh, p, r, t, toward, m.stone);
            }
            base += cuts[w] + 1;
        }
    }
}

BoxSpec wall_box(Vec3 centre, float half_x, float half_z, float height, int faces, int material, float repeat) {
    return BoxSpec{centre, half_x, half_z, height, 0.0f, faces, material, MAP_WORLD, repeat, wall_cell};
}

void build_walls(SceneBuild* scene, const Materials& m) {
    const float z_mid = (yard_z_near + yard_z_far) * 0.5f;
    const float side_half_z = (yard_z_far - yard_z_near) * 0.5f + wall_thickness;
    const float t = wall_thickness * 0.5f;
    // Side walls run past the ends to close the corners. The end walls reach
    // into the side walls' middles, so their inner faces overlap the corner
    // instead of abutting it; they have no end faces of their own.
    const BoxSpec walls[4] = {
        wall_box(Vec3{yard_x + t, 0, z_mid}, t, side_half_z, wall_height, BOX_SIDES, m.brick, brick_repeat),
        wall_box(Vec3{-yard_x - t, 0, z_mid}, t, side_half_z, wall_height, BOX_SIDES, m.brick, brick_repeat),
        wall_box(Vec3{0, 0, yard_z_far + t}, yard_x + t, t, wall_height, BOX_POS_Z | BOX_NEG_Z, m.brick, brick_repeat),
        wall_box(Vec3{0, 0, yard_z_near - t}, yard_x + t, t, wall_height, BOX_POS_Z | BOX_NEG_Z, m.brick, brick_repeat),
    };
    const char* const names[4] = {"WallLeft", "WallRight", "WallFar", "WallNear"};
    for (int i = 0; i < 4; i++) mesh_add_box(scene_add_mesh(scene, names[i]), &walls[i]);
    build_cornice(scene_add_mesh(scene, "Cornice"), m);
}

// Intrados point k (0 at the +z foot, arch_segments at the -z foot) of the
// arch centred at z = zc, in the plane x. Both halves take their heights
// from the same angles, so mirrored points and the heights of the outer
// edges' vertices (arch_course_y) agree exactly.
Vec3 arch_inner_point(float x, float zc, int k) {
    int j = k <= arch_segments / 2 ? k : arch_segments - k;
    float a = pi * (float)j / arch_segments;
    float dz = arch_inner * std::cos(a);
    return Vec3{x, spring_y + arch_inner * std::sin(a), k <= arch_segments / 2 ? zc + dz : zc - dz};
}

// Height of the horizontal courses that cut an arch's face: course k runs
// from intrados point k out to the arch's outer edge. Only the lower
// courses are cut this way (arch_courses of them); above them the face is
// fanned from the crown.
float arch_course_y(int k) { return arch_inner_point(0.0f, 0.0f, k).y; }

// One arch of the arcade at x = xc spanning z = zc +- arch_outer: both
// faces, the soffit, and the end faces where the arcade stops.
//
// A face is cut into horizontal courses between the intrados and the outer
// edges, so a screen row crosses few of its triangles; above the last
// course each half is fanned from the middle of the top edge. Neighbouring
// arches put the same vertices on the edge they share above a pillar.
void build_arch(Mesh* mesh, float xc, float zc, int end_near, int end_far, int material) {
    const int half = arch_segments / 2;
    const float top = spring_y + arch_outer;
    for (int side = 0; side < 2; side++) {
        float x = side ? xc + arch_half_depth : xc - arch_half_depth;
        Vec3 toward = {side ? 1.0f : -1.0f, 0.0f, 0.0f};
        float u_sign = side ? -1.0f : 1.0f;  // right of a viewer facing this side
        auto add = [&](Vec3 p) {
            return mesh_add_vertex(mesh, p, u_sign * (p.z - zc) / stone_repeat + 2.0f, (top - p.y) / stone_repeat);
        };
        const uint16_t crown_top = add(Vec3{x, top, zc});
        for (int h = 0; h < 2; h++) {
            float edge_z = h ? zc - arch_outer : zc + arch_outer;
            auto inner = [&](int k) { return arch_inner_point(x, zc, h ? arch_segments - k : k); };
            uint16_t in_prev = add(inner(0)), out_prev = add(Vec3{x, spring_y, edge_z});
            for (int k = 1; k <= arch_courses; k++) {
                uint16_t in = add(inner(k)), out = add(Vec3{x, arch_course_y(k), edge_z});
                mesh_add_face(mesh, in_prev, out_prev, out, toward, material);
                mesh_add_face(mesh, in_prev, out, in, toward, material);
                in_prev = in;
                out_prev = out;
            }
            uint16_t corner = add(Vec3{x, top, edge_z});
            mesh_add_face(mesh, out_prev, corner, in_prev, toward, material);
            mesh_add_face(mesh, in_prev, corner, crown_top, toward, material);
            for (int k = arch_courses; k < half; k++) {
                uint16_t next = add(inner(k + 1));
                mesh_add_face(mesh, in_prev, crown_top, next, toward, material);
                in_prev = next;
            }
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
    // The ends of the arcade: cut at the same heights as the faces' outer
    // edges, which they meet.
    for (int e = 0; e < 2; e++) {
        if (!(e ? end_far : end_near)) continue;
        float z = e ? zc + arch_outer : zc - arch_outer;
        float w = 2.0f * arch_half_depth / stone_repeat;
        for (int k = 0; k <= arch_courses; k++) {
            float y0 = k ? arch_course_y(k) : spring_y, y1 = k < arch_courses ? arch_course_y(k + 1) : top;
            Vec3 p[4] = {{xc - arch_half_depth, y0, z}, {xc + arch_half_depth, y0, z}, {xc + arch_half_depth, y1, z},
                         {xc - arch_half_depth, y1, z}};
            float v0 = (top - y0) / stone_repeat, v1 = (top - y1) / stone_repeat;
            float uv[4][2] = {{0, v0}, {w, v0}, {w, v1}, {0, v1}};
            mesh_add_quad(mesh, p, uv, Vec3{0, 0, e ? 1.0f : -1.0f}, material);
        }
    }
}

// A pillar on a square plinth: a turned base moulding, a tapering shaft and
// a flared capital under a square abacus that carries the arches.
void build_pillar(Mesh* mesh, float x, float z, const Materials& m) {
    BoxSpec plinth = box(Vec3{x, 0.0f, z}, 12, 12, 6, 0, BOX_SIDES | BOX_TOP, m.stone, MAP_WORLD, stone_repeat);
    mesh_add_box(mesh, &plinth);
    const float profile[][2] = {
        {10.5f, 0.0f}, {10.5f, 2.5f},  // torus
        {8.0f, 5.0f},                  // up to the shaft
        {7.0f, 52.0f},                 // the shaft tapers a little
        {8.0f, 54.0f},                 // echinus, flaring out to the abacus
        {11.0f, 60.0f},
    };
    mesh_add_lathe(mesh, Vec3{x, 6.0f, z}, profile, (int)(sizeof profile / sizeof profile[0]), pillar_sides, m.marble,
                   1.0f, 60.0f);
    BoxSpec abacus = box(Vec3{x, 66.0f, z}, 12, 12, 4, 0, BOX_ALL, m.stone, MAP_WORLD, stone_repeat);
    mesh_add_box(mesh, &abacus);
}

void build_arcade(Mesh* mesh, float xc, const Materials& m) {
    for (int i = 0; i < pillar_count; i++) build_pillar(mesh, xc, pillar_z[i], m);
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

const float crate_bevel = 0.08f;  // bevel width, a fraction of the crate's size

const CrateSpec crates[] = {
    {-76, 0, 72, 30, 0.26f},  {-76, 30, 72, 20, 0.7f},   {-88, 0, 112, 22, -0.2f},
    {75, 0, 235, 32, -0.35f}, {150, 0, 110, 30, 0.1f},   {150, 30, 110, 22, -0.3f},
    {156, 0, 150, 24, 0.5f},  {-150, 0, 210, 34, 0.15f}, {-160, 0, 255, 26, -0.4f},
    {-60, 0, 330, 24, 0.6f},  {60, 0, 20, 18, 0.4f},
};

// A crate whose lid is bevelled all round: four sides, four mitred bevel
// strips and the lid, sharing their corners. Each side shows the whole crate
// image, the bevels its frame, the lid the image again. The upright edges
// stay sharp: a bevel there would add a tall, thin strip to every screen row
// the crate covers, and the lid's bevel already catches the light.
void build_crate(Mesh* mesh, const CrateSpec& c, int material) {
    const float h = c.size * 0.5f, b = c.size * crate_bevel, top = c.size;
    const float e = b / c.size;  // the bevel's width in texture repeats
    const Vec3 up = {0.0f, 1.0f, 0.0f};
    Vec3 lid[4];
    for (int k = 0; k < 4; k++) {
        float turn = c.turn + 1.57079633f * (float)k;
        Vec3 out = {std::sin(turn), 0.0f, std::cos(turn)};
        Vec3 right = vec_cross(up, out);  // right of a viewer facing this side
        // A point `d` out along the side's normal, `a` to its right, at height y.
        auto at = [&](float d, float a, float y) {
            return vec_add(Vec3{c.x, c.y + y, c.z}, vec_add(vec_scale(out, d), vec_scale(right, a)));
        };
        const float y1 = top - b;
        Vec3 side[4] = {at(h, -h, 0), at(h, h, 0), at(h, h, y1), at(h, -h, y1)};
        float side_uv[4][2] = {{0, 1}, {1, 1}, {1, e}, {0, e}};
        mesh_add_quad(mesh, side, side_uv, out, material);
        Vec3 slope[4] = {side[3], side[2], at(h - b, h - b, top), at(h - b, -h + b, top)};
        float slope_uv[4][2] = {{0, e}, {1, e}, {1 - e, 0}, {e, 0}};
        mesh_add_quad(mesh, slope, slope_uv, vec_add(out, up), material);
        lid[k] = slope[2];
    }
    float lid_uv[4][2] = {{1, 0}, {1, 1}, {0, 1}, {0, 0}};
    mesh_add_quad(mesh, lid, lid_uv, up, material);
}

void build_crates(Mesh* mesh, const Materials& m) {
    for (const CrateSpec& c : crates) build_crate(mesh, c, m.wood);
}

// Five steps of 6 up and 10 deep against the far wall, the last one a
// landing. Treads and risers are cut at the same places across the flight; each
// end of the flight is one stepped outline, fanned so that every step's
// corners are corners of its triangles (no vertex lies on another's edge).
void build_steps(Mesh* mesh, const Materials& m) {
    const int steps = 5;
    const float half_w = 90.0f, rise = 6.0f, going = 10.0f, z0 = 380.0f;
    for (int i = 0; i < steps; i++) {
        float za = z0 + going * i;
        float zb = i + 1 < steps ? za + going : yard_z_far;
        float top = rise * (i + 1);
        PanelSpec tread = {Vec3{half_w, top, za}, Vec3{-1, 0, 0}, Vec3{0, 0, 1}, 2 * half_w, zb - za,
                           m.stone, MAP_WORLD, stone_repeat, stone_repeat, band_cell};
        // Seen from -z, a viewer's right is world -x.
        PanelSpec riser = {Vec3{half_w, top - rise, za}, Vec3{-1, 0, 0}, Vec3{0, 1, 0}, 2 * half_w, rise,
                           m.stone, MAP_WORLD, stone_repeat, stone_repeat, band_cell};
        mesh_add_panel(mesh, &tread);
        mesh_add_panel(mesh, &riser);
    }
    for (int e = 0; e < 2; e++) {
        const float x = e ? -half_w : half_w;
        const Vec3 toward = {e ? -1.0f : 1.0f, 0.0f, 0.0f};
        // Texture u along -z seen from +x, along +z seen from -x.
        auto add = [&](float y, float z) {
            float u = (e ? z : -z) / stone_repeat + 12.0f;
            return mesh_add_vertex(mesh, Vec3{x, y, z}, u, -y / stone_repeat + 1.0f);
        };
        // Step i's end is the column za..zb from the floor to its tread. Its
        // left edge also holds the top corner of step i - 1's column, so from
        // the second step on the column is a pentagon, fanned from that corner.
        uint16_t prev_low = add(0.0f, z0), prev_high = 0;
        for (int i = 0; i < steps; i++) {
            float za = z0 + going * i;
            float zb = i + 1 < steps ? za + going : yard_z_far;
            float top = rise * (i + 1);
            uint16_t a = add(top, za), b = add(top, zb), c = add(0.0f, zb);
            if (i == 0) {
                mesh_add_face(mesh, prev_low, c, b, toward, m.stone);
                mesh_add_face(mesh, prev_low, b, a, toward, m.stone);
            } else {
                mesh_add_face(mesh, prev_high, prev_low, c, toward, m.stone);
                mesh_add_face(mesh, prev_high, c, b, toward, m.stone);
                mesh_add_face(mesh, prev_high, b, a, toward, m.stone);
            }
            prev_low = c;
            prev_high = b;
        }
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
