// Triangle meshes for the asset tools, in engine coordinates (y up, right-
// handed; from the start camera world +x is on the left of the screen).
//
// Winding: the engine culls with the plane normal n = (c2 - c0) x (c1 - c0)
// and draws a face when the eye is on n's back side. Every builder here
// therefore takes the side a face is seen from and orders its corners so
// that (c1 - c0) x (c2 - c0) points to that side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "asset/image_encode.h"
#include "math/vecmath.h"

// What one 3DS file can hold: 16-bit vertex and face counts, names of at
// most 63 characters before their terminating zero.
enum { MESH_MAX_ITEMS = 65535, MESH_MAX_NAME = 63 };

struct MeshVertex {
    float x, y, z;  // engine coordinates, y up
    float u, v;     // texture repeats; v grows down the image
};

struct MeshFace {
    uint16_t corner[3];  // vertex indices, wound as described above
    int32_t material;    // index into the SceneBuild's materials
};

struct Mesh {
    std::string name;                 // at most MESH_MAX_NAME characters in the file
    std::vector<MeshVertex> vertices;  // at most MESH_MAX_ITEMS
    std::vector<MeshFace> faces;       // at most MESH_MAX_ITEMS
};

struct MaterialDef {
    std::string name;  // also the texture's base name
    Rgba8 diffuse;     // mean colour, for viewers that do not load the texture
};

struct SceneBuild {
    std::vector<MaterialDef> materials;
    std::vector<Mesh> meshes;
};

// How a panel's texture coordinates are chosen.
enum MapMode {
    MAP_WORLD = 0,  // u along `right`, v down along `up`, measured in the world,
                    // so neighbouring panels continue one another
    MAP_FIT = 1,    // the whole panel shows the image once
};

Vec3 vec_add(Vec3 a, Vec3 b);
Vec3 vec_sub(Vec3 a, Vec3 b);
Vec3 vec_scale(Vec3 a, float k);
Vec3 vec_cross(Vec3 a, Vec3 b);
float vec_dot(Vec3 a, Vec3 b);
Vec3 vec_normalize(Vec3 a);

int scene_add_material(SceneBuild* scene, const char* name, Rgba8 diffuse);
Mesh* scene_add_mesh(SceneBuild* scene, const char* name);

// One triangle seen from `toward`; corners reordered as needed.
void mesh_add_triangle(Mesh* mesh, const Vec3 p[3], const float uv[3][2], Vec3 toward, int material);
// A planar quad p0..p3 (around its edge, either direction) as two triangles.
void mesh_add_quad(Mesh* mesh, const Vec3 p[4], const float uv[4][2], Vec3 toward, int material);
// Shared-corner building blocks: a vertex, and a face over existing vertices
// whose corners are reordered as needed to be seen from `toward`.
uint16_t mesh_add_vertex(Mesh* mesh, Vec3 p, float u, float v);
void mesh_add_face(Mesh* mesh, uint16_t a, uint16_t b, uint16_t c, Vec3 toward, int material);

struct PanelSpec {
    Vec3 origin;     // corner at the panel's lower left, seen from the front
    Vec3 right;      // unit vector along the panel's width
    Vec3 up;         // unit vector along its height; right x up faces the viewer
    float width;     // world units
    float height;
    int material;
    MapMode map;
    float repeat_u;  // world units per texture repeat (MAP_WORLD)
    float repeat_v;
    float max_cell;  // the panel is cut into cells no larger than this, on a
                     // grid of shared vertices
};
void mesh_add_panel(Mesh* mesh, const PanelSpec* panel);

enum BoxFaces {
    BOX_POS_X = 1, BOX_NEG_X = 2, BOX_TOP = 4, BOX_BOTTOM = 8, BOX_POS_Z = 16, BOX_NEG_Z = 32,
    BOX_SIDES = BOX_POS_X | BOX_NEG_X | BOX_POS_Z | BOX_NEG_Z,
    BOX_ALL = BOX_SIDES | BOX_TOP | BOX_BOTTOM,
};

struct BoxSpec {
    Vec3 centre;     // centre of the bottom face
    float half_x;    // half sizes along the box's own x and z
    float half_z;
    float height;
    float turn;      // radians about +y (+z turns toward +x)
    int faces;       // BoxFaces mask: which faces to build
    int material;
    MapMode map;
    float repeat;    // world units per texture repeat (MAP_WORLD)
    float max_cell;  // largest panel cell
};
void mesh_add_box(Mesh* mesh, const BoxSpec* box);

// Surface of revolution about the vertical axis through `centre`: profile
// point j is (radius, height above centre.y), listed from the bottom up;
// consecutive points make one band of `sides` quads whose corners are shared
// with the neighbouring bands and sides. Radii must be above 0. Texture u
// runs once around per `repeats_around`, v along the profile by `repeat_v`
// world units.
void mesh_add_lathe(Mesh* mesh, Vec3 centre, const float (*profile)[2], int points, int sides, int material,
                    float repeats_around, float repeat_v);
