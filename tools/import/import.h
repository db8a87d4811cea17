// Model import: a model file in any format the reader library knows becomes
// the world of a data folder ("Svet.3ds" and a texture per material) plus a
// marker path around it.
//
// Two stages, so that everything past the library can be tested with
// hand-made models:
//   import_read     the library boundary: every mesh where its nodes put it,
//                   the materials with their diffuse images, images stored in
//                   the file, and the model's own right, up and front;
//   import_convert  this renderer's axes and its 3DS convention, placement in
//                   the start view (three-quarter or square on), names and
//                   objects within the 3DS limits, one texture per material.
//
// The 3DS convention: the reader stores a file position (x, y, z) as the
// world point (x, z, y), the world is right-handed and y-up, and the start
// camera at (0, 30, -50) looks along +z, so world +x is on the left of the
// screen. The model is turned so that its up is world +y and its front faces
// the camera (world -z), then, in the three-quarter view, further about y;
// MeshVertex holds world points and write3ds swaps y and z back. A turn
// keeps the handedness, so faces stay counter-clockwise seen from outside,
// which is what the facing test draws. Texture rows are
// stored top row first, so v = 1 - the library's v (which grows upwards).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "asset/mesh.h"

struct ImportOptions {
    char up;             // 0: from the file; 'x', 'y' or 'z': the file's up axis
    double scale;        // 0: fit the start view; else world units per model unit
    int max_texture;     // largest texture level side, a power of two
    int up_negative = 0;     // 1: up is the negative direction of `up`
    char front = 0;          // 0: from up; 'x', 'y' or 'z': the file axis that faces the camera
    int front_negative = 0;  // 1: the negative direction of `front`
    double turn = 0.0;         // degrees the model turns about its up, counter-clockwise seen from above
    int view = 0;              // IMPORT_VIEW_*: how the placed model faces the start camera
    int ground = 0;            // IMPORT_GROUND_*: what the model stands on
};

// The start view the model is placed for. Three-quarter: the front turned
// IMPORT_THREE_QUARTER_DEGREES towards the screen's right (counter-clockwise
// seen from above), so the side on the screen's left shows too, the eye at
// about 60% of the model's height. Front: the front square on, the eye level
// with the middle of the model as the view shows it. Both as large as the
// view takes (stage_frame).
enum { IMPORT_VIEW_THREE_QUARTER = 0, IMPORT_VIEW_FRONT = 1 };
// The start view's eye, world units: the stage frames the model for it and
// the marker path is measured from it.
const double IMPORT_EYE[3] = {0.0, 30.0, -50.0};
const double IMPORT_PI = 3.14159265358979323846;
const double IMPORT_THREE_QUARTER_DEGREES = 35.0;
// Studio: a floor under the model that sweeps up into a backdrop behind it.
// None: the model alone, placed and lit the same.
enum { IMPORT_GROUND_STUDIO = 0, IMPORT_GROUND_NONE = 1 };

struct ImportMaterial {
    std::string name;   // as the model names it, any bytes
    Rgba8 diffuse;      // diffuse colour, alpha 255
    std::string image;  // diffuse image as the model names it; "" for none
    int embedded;       // index into ImportModel::embedded, -1 when not stored in the file
};

// An image stored inside the model file: a compressed file (PNG, JPEG, ...)
// or decoded texels.
struct ImportEmbedded {
    std::vector<uint8_t> data;   // the compressed file; empty for texels
    std::vector<Rgba8> pixels;   // width x height texels, top row first
    int width;
    int height;
};

// One mesh where one node puts it.
struct ImportPart {
    std::string name;                // node name, else the mesh's, any bytes
    int material;                    // index into ImportModel::materials
    std::vector<double> positions;   // x, y, z per vertex: library axes, node transforms applied
    std::vector<float> uv;           // u, v per vertex, v growing upwards; empty without mapping
    std::vector<uint32_t> corners;   // 3 per triangle, counter-clockwise seen from outside
};

// The model's own directions as unit vectors in the library's axes.
struct ImportAxes {
    double right[3];
    double up[3];
    double front[3];  // towards a viewer who looks at the model's front
    char up_axis;     // the file's axis that is up: 'x', 'y' or 'z'
    int up_negative;  // 1 when up is that axis's negative direction
    std::string why;  // how the up axis was chosen, for the summary
    int guessed;      // 1 when the file did not say
    char front_axis = 'z';  // the file's axis nearest to front, and its sign
    int front_negative = 0;
    double turn = 0.0;      // degrees turned about up after front was chosen
};

struct ImportModel {
    std::string format;                 // the library's name for the file's reader
    std::string folder;                 // the model file's folder, where images are looked for
    std::vector<ImportMaterial> materials;
    std::vector<ImportEmbedded> embedded;
    std::vector<ImportPart> parts;
    ImportAxes axes;
    long not_triangles;                 // points and lines, left out
    std::vector<std::string> notes;     // the library's warnings, a few at most
    std::string stem;                   // the model file's name without folder and extension
};

// One "Textures/<material>.tga".
struct ImportTexture {
    std::string file;    // relative to the data folder
    ByteBuffer data;
    std::string source;  // what it was made from, for the summary
};

struct ImportCounts {
    long triangles;   // written
    long no_area;     // dropped: corners on one line or point
    long not_finite;  // dropped: a corner is not a finite number (or overflows a float)
};

// The studio ground as made, world units.
struct StageGround {
    double width;        // across the view
    double floor_depth;  // from its front edge to the sweep's start
    double wall_height;  // the backdrop's top above the floor
    int triangles;
};

struct ImportResult {
    SceneBuild scene;                     // the world, world axes
    std::vector<ImportTexture> textures;  // one per material of scene, same order
    std::string path_text;                // "Pos.txt": a loop around the model
    ImportCounts counts;
    double scale;                         // world units per model unit
    double size[3];                       // extent along right, up, front, model units
    std::vector<std::string> guesses;     // everything the import had to assume
    std::vector<std::string> outside;     // image files read from outside the model's folder
    std::string light_text;               // "Light.txt": the light above the model, aimed at it
    StageGround ground;                   // the ground's size; all 0 without one
};

// Names within the 3DS limits (object names of 10 characters, material names
// of 16, which also name the texture files).
enum { IMPORT_OBJECT_NAME_MAX = 10, IMPORT_MATERIAL_NAME_MAX = 16, IMPORT_VERTEX_MAX = MESH_MAX_ITEMS };

// Reads MODEL through the library; 1, or 0 with import_error() set to the
// library's reason. No exception leaves it.
int import_read(const char* model_path, const ImportOptions* options, ImportModel* model);
// 1, or 0 with import_error() set (no triangle left, a model that cannot be
// placed). `reserved` holds material names already taken in the folder
// (the marker's), compared without regard to case.
int import_convert(const ImportModel* model, const ImportOptions* options,
                   const std::vector<std::string>& reserved, ImportResult* result);
const char* import_error();
// Records the reason import_error() gives; returns 0.
int import_fail(const std::string& why);

// A name made of letters, digits, '_' and '-' only, at most `limit`
// characters, never a device name a file system refuses, and different
// (ignoring case) from every name in *taken, to which it is added.
std::string import_fit_name(const std::string& raw, size_t limit, const char* fallback,
                            std::vector<std::string>* taken);
// The world position of the model's engine-axis point: the model's own axes
// turned to world axes (right to -x, up to +y, front to -z), not yet placed.
void import_world_axes(const ImportAxes* axes, const double p[3], double out[3]);

// The base the model would stand on with one of the library's axes up.
struct StableBase {
    int axis;    // 0, 1, 2: x, y, z of the library
    int sign;    // +1 or -1
    double area; // of the convex hull of the points near the lowest, over the model's size squared
    int stable;  // 1 when the surface's centre of mass lies above that hull
};
// The six bases of a model's corners: +x, -x, +y, -y, +z, -z in that order.
void import_stable_bases(const ImportModel* model, StableBase bases[6]);

// -- the stage (stage.cpp) ------------------------------------------------------
// The translation that frames `points` (x, y, z world-axis triples, the
// model scaled about its centre) in the start view: whole, centred across,
// as large as the view's box allows. 0 when there is none.
int stage_frame(const std::vector<double>& points, int view, double translate[3]);
// Appends the studio ground for a model whose placed bounds are low..high:
// its top just under the model's lowest point, a floor that sweeps up into
// a wall behind the model, reaching past the sides of the start view.
void stage_ground(const double low[3], const double high[3], int material, SceneBuild* scene, StageGround* made);
// "Light.txt" for a model placed within low..high: above it, from the
// camera's side and the screen's right, aimed between it and its shadow.
std::string stage_light_text(const double low[3], const double high[3]);

// The extensions of the images the importer reads, lower case.
enum { IMPORT_IMAGE_EXTENSION_COUNT = 12 };
extern const char* const IMPORT_IMAGE_EXTENSIONS[IMPORT_IMAGE_EXTENSION_COUNT];

// Finds the file an image reference names, relative to `folder`: '\' read as
// '/', and when the name as given does not exist, each missing component
// matched ignoring case, then the file name alone in `folder`. An absolute
// path (Unix, a drive letter or a file:// address) names the author's disk:
// only its file name is looked up in `folder`. Relative paths may climb out
// of `folder` ("../textures/wood.png"). A name without an extension
// ("skin", as MD3 models give it) takes the first of the image extensions
// that is there. Only regular files count. 1 with *path set, and notes on
// what had to be guessed.
int import_find_image(const std::string& folder, const std::string& reference, std::string* path,
                      std::vector<std::string>* notes);
// 1 when `path` lies outside `folder` once symbolic links and ".." are
// resolved (or either cannot be resolved).
int import_outside_folder(const std::string& folder, const std::string& path);
// Decodes an image file held in memory (PNG, JPEG, TGA, BMP, ...); 0 with
// *why set.
int import_decode_image(const uint8_t* data, size_t size, std::vector<Rgba8>* pixels, int* width,
                        int* height, const char** why);
// A whole regular file, at most `limit` bytes; 0 with *why set.
int import_read_file(const std::string& path, size_t limit, std::vector<uint8_t>* data, const char** why);
// An image file (at most 256 MiB, a regular file: a pipe never stalls the
// read) decoded as import_decode_image does; 0 with *why set.
int import_load_image(const std::string& path, std::vector<Rgba8>* pixels, int* width, int* height,
                      const char** why);
