// The table-driven 3DS reader: a recursive chunk walk that dispatches through
// ChunkTable, run twice over the file (count, then fill), then the per-object
// and per-camera post-processing.
#include "scene/load3ds.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "scene/chunk_io.h"
#include "scene/keyframer.h"
#include "scene/mesh_post.h"
#include "scene/regular_file.h"

namespace {

// Deeper nesting than any real file has; stops a crafted file from running
// the recursive walk out of stack.
constexpr int max_chunk_depth = 64;
// Every 3DS file starts with this chunk (M3DMAGIC).
constexpr unsigned main_chunk_id = 0x4D4D;

struct ReaderState {
    int counting;                          // 1 during the counting pass, 0 while filling
    Scene* scene;                          // scene being loaded
    char current_name[chunk_name_max + 1]; // last object or material name read
    SceneObject* current_object;           // filling pass: last object created, or null
    int object_has_vertices;               // 1 once the current object's vertex array was read
    int object_has_faces;                  // 1 once its face array was read
    SceneLight* current_light;             // filling pass: last light created, or null
    int32_t next_object;                   // creation counters of the filling pass
    int32_t next_camera;
    int32_t next_light;
    int32_t next_material;
    int32_t last_face_count;               // count of the most recent face array
    int depth;                             // nesting of read_chunks calls
};

ReaderState reader = {};

// -- helpers ------------------------------------------------------------------

char* copy_name(const char* name) {
    size_t length = std::strlen(name);
    char* copy = (char*)std::malloc(length + 1);
    if (copy) std::memcpy(copy, name, length + 1);
    return copy;
}

int32_t find_material(const char* name) {
    for (int32_t i = 0; i < reader.next_material; i++)
        if (std::strcmp(reader.scene->materials[i].name, name) == 0) return i;
    return -1;
}

SceneLight* find_light(const char* name) {
    for (int32_t i = 0; i < reader.next_light; i++)
        if (std::strcmp(reader.scene->lights[i].name, name) == 0) return &reader.scene->lights[i];
    return nullptr;
}

// float * 255 truncated toward zero; out-of-range values saturate, NaN gives 0.
int32_t colour_byte(float value) {
    float scaled = value * 255.0f;
    if (!(scaled == scaled)) return 0;
    if (scaled >= 2147483648.0f) return INT32_MAX;
    if (scaled <= -2147483648.0f) return INT32_MIN;
    return (int32_t)scaled;
}

// Reads n and checks that the chunk holds n records of `record_size` bytes.
int read_count(ChunkCursor* c, long record_size, int32_t* n, const char* too_many) {
    uint16_t count;
    if (!chunk_read_u16(c, &count)) return chunk_fail("count cut short");
    if ((long)count * record_size > c->left) return chunk_fail(too_many);
    *n = count;
    return 0;
}

// -- handlers -------------------------------------------------------------------
// Each gets the file positioned after the chunk header and the chunk's end;
// the walk repositions at the end afterwards, so a handler may stop early.

int handle_ignored(FILE*, long) { return 0; }

int handle_object_name(FILE* file, long end) {
    ChunkCursor c = chunk_cursor(file, end);
    chunk_read_name(&c, reader.current_name);  // never fails: a cut name is kept as read
    return 0;
}

int handle_mesh_object(FILE*, long) {
    Scene* s = reader.scene;
    if (reader.counting) {
        s->object_count++;
        return 0;
    }
    if (reader.next_object >= s->object_count) return chunk_fail("file changed between passes");
    SceneObject* o = &s->objects[reader.next_object++];
    o->name = copy_name(reader.current_name);
    if (!o->name) return chunk_fail("out of memory");
    reader.current_object = o;
    reader.object_has_vertices = 0;
    reader.object_has_faces = 0;
    return 0;
}

// Vertex, face, mapping and material group arrays are read run_records
// records at a time.
const int32_t run_records = 64;

int read_values(ChunkCursor* c, uint16_t* out, int count) { return chunk_read_u16s(c, out, count); }
int read_values(ChunkCursor* c, float* out, int count) { return chunk_read_floats(c, out, count); }

// Record i of an array of n records of `per` values each, from `block`
// (run_records records), which takes the next run at the first record of
// each; null when the run cannot be read.
template <typename T>
const T* run_record(ChunkCursor* c, T* block, int per, int32_t i, int32_t n) {
    const int32_t at = i % run_records;
    if (at == 0 && !read_values(c, block, per * (n - i < run_records ? (int)(n - i) : (int)run_records)))
        return nullptr;
    return &block[per * at];
}

int handle_vertices(FILE* file, long end) {
    ChunkCursor c = chunk_cursor(file, end);
    int32_t n = 0;
    if (read_count(&c, 12, &n, "vertex count exceeds its chunk")) return -1;
    SceneObject* o = reader.current_object;
    if (reader.counting || !o) return 0;
    if (reader.object_has_vertices) return chunk_fail("second vertex array in one object");
    reader.object_has_vertices = 1;
    if (n == 0) return 0;
    o->vertices = (SceneVertex*)std::calloc((size_t)n, sizeof(SceneVertex));
    if (!o->vertices) return chunk_fail("out of memory");
    o->vertex_count = n;
    float block[3 * run_records];
    for (int32_t i = 0; i < n; i++) {
        const float* p = run_record(&c, block, 3, i, n);
        if (!p) return chunk_fail("cannot read vertices");
        o->vertices[i].x = p[0];
        o->vertices[i].y = p[2];  // y-up: the file's z is our y
        o->vertices[i].z = p[1];
    }
    return 0;
}

int handle_faces(FILE* file, long end) {
    ChunkCursor c = chunk_cursor(file, end);
    int32_t n = 0;
    if (read_count(&c, 8, &n, "face count exceeds its chunk")) return -1;
    reader.last_face_count = n;
    SceneObject* o = reader.current_object;
    // Faces before their vertex array are ignored; the walk must still start
    // the children (material groups, smoothing) after the face records.
    if (reader.counting || !o || !reader.object_has_vertices) {
        if (!chunk_skip(&c, 8L * n)) return chunk_fail("cannot read faces");
        return 0;
    }
    if (reader.object_has_faces) return chunk_fail("second face array in one object");
    reader.object_has_faces = 1;
    if (n == 0) return 0;
    o->faces = (SceneFace*)std::calloc((size_t)n, sizeof(SceneFace));
    if (!o->faces) return chunk_fail("out of memory");
    o->face_count = n;
    uint16_t block[4 * run_records];  // per face three corners and the flags
    for (int32_t i = 0; i < n; i++) {
        const uint16_t* index = run_record(&c, block, 4, i, n);
        if (!index) return chunk_fail("cannot read faces");
        SceneFace& f = o->faces[i];
        for (int k = 0; k < 3; k++) {
            if (index[k] >= o->vertex_count) return chunk_fail("face corner index out of range");
            f.corners[k] = &o->vertices[index[k]];
            f.vertex_index[k] = index[k];
        }
        f.material_index = -1;  // until a material group lists the face
    }
    return 0;
}

int handle_material_group(FILE* file, long end) {
    ChunkCursor c = chunk_cursor(file, end);
    char name[chunk_name_max + 1];
    if (!chunk_read_name(&c, name)) return chunk_fail("material group name cut short");
    int32_t n = 0;
    if (read_count(&c, 2, &n, "material group count exceeds its chunk")) return -1;
    SceneObject* o = reader.current_object;
    if (reader.counting || !o || !reader.object_has_faces) return 0;
    int32_t material = find_material(name);
    uint16_t block[run_records];
    for (int32_t i = 0; i < n; i++) {
        const uint16_t* face = run_record(&c, block, 1, i, n);
        if (!face) return chunk_fail("cannot read material group");
        if (*face < o->face_count) o->faces[*face].material_index = material;
    }
    return 0;
}

int handle_mapping(FILE* file, long end) {
    ChunkCursor c = chunk_cursor(file, end);
    int32_t n = 0;
    if (read_count(&c, 8, &n, "mapping coordinate count exceeds its chunk")) return -1;
    SceneObject* o = reader.current_object;
    if (reader.counting || !o) return 0;
    if (n > o->vertex_count) n = o->vertex_count;  // pairs beyond the vertices are dropped
    float block[2 * run_records];
    for (int32_t i = 0; i < n; i++) {
        const float* uv = run_record(&c, block, 2, i, n);
        if (!uv) return chunk_fail("cannot read mapping coordinates");
        o->vertices[i].u = uv[0];
        o->vertices[i].v = uv[1];
    }
    return 0;
}

int handle_mesh_matrix(FILE* file, long end) {
    ChunkCursor c = chunk_cursor(file, end);
    float f[12];
    if (!chunk_read_floats(&c, f, 12)) return chunk_fail("mesh matrix chunk too short");
    SceneObject* o = reader.current_object;
    if (reader.counting || !o) return 0;
    for (int r = 0; r < 4; r++) {
        for (int col = 0; col < 3; col++) o->matrix.m[4 * r + col] = f[3 * r + col];
        o->matrix.m[4 * r + 3] = r == 3 ? 1.0f : 0.0f;
    }
    return 0;
}

int handle_light(FILE* file, long end) {
    ChunkCursor c = chunk_cursor(file, end);
    float p[3];
    if (!chunk_read_floats(&c, p, 3)) return chunk_fail("light chunk too short");
    Scene* s = reader.scene;
    if (reader.counting) {
        s->light_count++;
        return 0;
    }
    if (reader.next_light >= s->light_count) return chunk_fail("file changed between passes");
    SceneLight* l = &s->lights[reader.next_light++];
    l->name = copy_name(reader.current_name);
    if (!l->name) return chunk_fail("out of memory");
    l->position[0] = p[0];
    l->position[1] = p[2];
    l->position[2] = p[1];
    l->is_spot = 0;
    reader.current_light = l;
    return 0;
}

int handle_spotlight(FILE* file, long end) {
    ChunkCursor c = chunk_cursor(file, end);
    float f[5];  // target x, y, z, hotspot, falloff
    if (!chunk_read_floats(&c, f, 5)) return chunk_fail("spotlight chunk too short");
    SceneLight* l = reader.current_light;
    if (reader.counting || !l) return 0;
    l->is_spot = 1;
    l->spot_target[0] = f[0];
    l->spot_target[1] = f[2];
    l->spot_target[2] = f[1];
    l->hotspot = f[3];
    l->falloff = f[4];
    return 0;
}

// Colour chunks occur under lights, material colours, the background and the
// ambient light; only those read while a light's name is current land.
int handle_light_colour(FILE* file, long end) {
    if (reader.counting) return 0;
    ChunkCursor c = chunk_cursor(file, end);
    float rgb[3];
    if (!chunk_read_floats(&c, rgb, 3)) return chunk_fail("colour chunk too short");
    SceneLight* l = find_light(reader.current_name);
    if (!l) return 0;
    for (int i = 0; i < 3; i++) {
        l->colour[i] = rgb[i];
        l->colour_bytes[i] = colour_byte(rgb[i]);
    }
    return 0;
}

// Reads the one float of a light range or multiplier chunk into `field` of the
// current light.
int read_light_float(FILE* file, long end, float SceneLight::*field) {
    if (reader.counting) return 0;
    ChunkCursor c = chunk_cursor(file, end);
    float value;
    if (!chunk_read_float(&c, &value)) return chunk_fail("light chunk too short");
    if (reader.current_light) reader.current_light->*field = value;
    return 0;
}

int handle_inner_range(FILE* file, long end) { return read_light_float(file, end, &SceneLight::inner_range); }
int handle_outer_range(FILE* file, long end) { return read_light_float(file, end, &SceneLight::outer_range); }
int handle_multiplier(FILE* file, long end) { return read_light_float(file, end, &SceneLight::multiplier); }

int handle_light_off(FILE*, long) {
    if (!reader.counting && reader.current_light) reader.current_light->is_off = 1;
    return 0;
}

int handle_ray_shadows(FILE*, long) {
    if (!reader.counting && reader.current_light) reader.current_light->ray_shadows = 1;
    return 0;
}

int handle_camera(FILE* file, long end) {
    ChunkCursor c = chunk_cursor(file, end);
    float f[8];  // position x y z, target x y z, bank, lens
    if (!chunk_read_floats(&c, f, 8)) return chunk_fail("camera chunk too short");
    Scene* s = reader.scene;
    if (reader.counting) {
        s->camera_count++;
        return 0;
    }
    if (reader.next_camera >= s->camera_count) return chunk_fail("file changed between passes");
    SceneCamera* cam = &s->cameras[reader.next_camera++];
    cam->name = copy_name(reader.current_name);
    if (!cam->name) return chunk_fail("out of memory");
    for (int i = 0; i < 3; i++) {
        cam->position[i] = f[i];
        cam->target[i] = f[3 + i];
    }
    cam->bank = f[6];
    cam->lens = f[7];
    return 0;
}

int handle_material(FILE* file, long end) {
    ChunkCursor c = chunk_cursor(file, end);
    if (!chunk_read_name(&c, reader.current_name)) return chunk_fail("material name cut short");
    Scene* s = reader.scene;
    if (reader.counting) {
        s->material_count++;
        return 0;
    }
    if (reader.next_material >= s->material_count) return chunk_fail("file changed between passes");
    Material* m = &s->materials[reader.next_material++];
    m->name = copy_name(reader.current_name);
    if (!m->name) return chunk_fail("out of memory");
    return 0;
}

// -- the chunk table --------------------------------------------------------------

struct ChunkTableRow {
    uint32_t id;                            // 3DS chunk id, 16 significant bits
    int descend;                            // 1: read the child chunks after the handler
    int (*handler)(FILE* file, long end);   // null: nothing to do with the data
};

const ChunkTableRow ChunkTable[] = {
    {0x0002, 0, handle_ignored},               // M3D_VERSION
    {0x0010, 0, handle_light_colour},          // COLOR_F
    {0x0011, 0, handle_ignored},               // COLOR_24
    {0x0012, 0, handle_ignored},               // LIN_COLOR_24
    {0x0013, 0, handle_light_colour},          // LIN_COLOR_F
    {0x0030, 0, handle_ignored},               // INT_PERCENTAGE
    {0x0031, 0, handle_ignored},               // FLOAT_PERCENTAGE
    {0x0100, 0, handle_ignored},               // MASTER_SCALE
    {0xC23D, 1, nullptr},                      // CMAGIC
    {0x3DAA, 1, nullptr},                      // MLIBMAGIC
    {0x3D3E, 0, handle_ignored},               // MESH_VERSION
    {0x4D4D, 1, nullptr},                      // M3DMAGIC
    {0x3D3D, 1, nullptr},                      // MDATA
    {0x1200, 1, nullptr},                      // SOLID_BGND
    {0x2100, 1, nullptr},                      // AMBIENT_LIGHT
    {0x4000, 1, handle_object_name},           // NAMED_OBJECT
    {0x4100, 1, handle_mesh_object},           // N_TRI_OBJECT
    {0x4110, 0, handle_vertices},              // POINT_ARRAY
    {0x4111, 0, handle_ignored},               // POINT_FLAG_ARRAY
    {0x4120, 1, handle_faces},                 // FACE_ARRAY
    {0x4130, 0, handle_material_group},        // MSH_MAT_GROUP
    {0x4140, 0, handle_mapping},               // TEX_VERTS
    {0x4150, 0, handle_ignored},               // SMOOTH_GROUP
    {0x4160, 0, handle_mesh_matrix},           // MESH_MATRIX
    {0x4165, 0, handle_ignored},               // MESH_COLOR
    {0x4170, 0, handle_ignored},               // MESH_TEXTURE_INFO
    {0x4190, 0, nullptr},                      // MSH_BOXMAP
    {0x4600, 1, handle_light},                 // N_DIRECT_LIGHT
    {0x4610, 0, handle_spotlight},             // DL_SPOTLIGHT
    {0x4700, 0, handle_camera},                // N_CAMERA
    {0x4F00, 1, nullptr},                      // HIERARCHY
    {0x7001, 0, handle_ignored},               // VIEWPORT_LAYOUT
    {0x7020, 0, handle_ignored},               // VIEWPORT_SIZE
    {0xAFFF, 1, nullptr},                      // MAT_ENTRY
    {0xA000, 0, handle_material},              // MAT_NAME
    {0xA010, 1, nullptr},                      // MAT_AMBIENT
    {0xA020, 1, nullptr},                      // MAT_DIFFUSE
    {0xA030, 1, nullptr},                      // MAT_SPECULAR
    {0xA040, 1, nullptr},                      // MAT_SHININESS
    {0xA041, 1, nullptr},                      // MAT_SHIN2PCT
    {0xA050, 1, nullptr},                      // MAT_TRANSPARENCY
    {0xA052, 1, nullptr},                      // MAT_XPFALL
    {0xA053, 1, nullptr},                      // MAT_REFBLUR
    {0xA084, 1, nullptr},                      // MAT_SELF_ILPCT
    {0xA081, 0, handle_ignored},               // MAT_TWO_SIDE
    {0xA083, 0, handle_ignored},               // MAT_ADDITIVE
    {0xA085, 0, handle_ignored},               // MAT_WIRE
    {0xA087, 0, handle_ignored},               // MAT_WIRE_SIZE
    {0xA08C, 0, handle_ignored},               // MAT_PHONGSOFT
    {0xA100, 0, handle_ignored},               // MAT_SHADING
    {0xA200, 1, handle_ignored},               // MAT_TEXMAP
    {0xA220, 1, handle_ignored},               // MAT_REFLMAP
    {0xA230, 1, handle_ignored},               // MAT_BUMPMAP
    {0xA252, 0, handle_ignored},               // MAT_BUMP_PERCENT
    {0xA300, 0, handle_ignored},               // MAT_MAPNAME: the map's file name is dropped
    {0xA351, 0, handle_ignored},               // MAT_MAP_TILING
    {0xA353, 0, handle_ignored},               // MAT_MAP_TEXBLUR
    {0xA354, 0, handle_ignored},               // MAT_MAP_USCALE
    {0xA356, 0, handle_ignored},               // MAT_MAP_VSCALE
    {0xA358, 0, handle_ignored},               // MAT_MAP_UOFFSET
    {0xA35A, 0, handle_ignored},               // MAT_MAP_VOFFSET
    {0xA35C, 0, handle_ignored},               // MAT_MAP_ANG
    {0xB000, 1, nullptr},                      // KFDATA
    {0xB001, 1, nullptr},                      // AMBIENT_NODE_TAG
    {0xB002, 1, keyframer_object_node},        // OBJECT_NODE_TAG: reads its children itself
    {0xB008, 0, keyframer_segment},            // KFSEG
    {0xB010, 0, keyframer_node_header},        // NODE_HDR
    {0xB011, 0, nullptr},                      // INSTANCE_NAME
    {0xB013, 0, handle_ignored},               // PIVOT
    {0xB020, 0, keyframer_position_track},     // POS_TRACK_TAG
    {0xB025, 0, handle_ignored},               // COL_TRACK_TAG
    {0xB021, 0, keyframer_rotation_track},     // ROT_TRACK_TAG
    {0xB022, 0, handle_ignored},               // SCL_TRACK_TAG
    {0xB026, 0, nullptr},                      // MORPH_TRACK_TAG
    {0xB029, 0, nullptr},                      // HIDE_TRACK_TAG
    {0xB030, 0, keyframer_node_id},            // NODE_ID
    {0xB003, 1, keyframer_camera_node},        // CAMERA_NODE_TAG: reads its children itself
    {0xB004, 1, keyframer_target_node},        // TARGET_NODE_TAG: reads its children itself
    {0xB005, 1, nullptr},                      // LIGHT_NODE_TAG
    {0xB006, 1, nullptr},                      // L_TARGET_NODE_TAG
    {0xB007, 1, nullptr},                      // SPOTLIGHT_NODE_TAG
    {0xB023, 0, handle_ignored},               // FOV_TRACK_TAG
    {0xB024, 0, handle_ignored},               // ROLL_TRACK_TAG
    {0x4659, 0, handle_inner_range},           // DL_INNER_RANGE
    {0x465A, 0, handle_outer_range},           // DL_OUTER_RANGE
    {0x465B, 0, handle_multiplier},            // DL_MULTIPLIER
    {0x4620, 0, handle_light_off},             // DL_OFF
    {0x4627, 0, handle_ray_shadows},           // DL_RAYSHAD
};
static_assert(sizeof ChunkTable / sizeof ChunkTable[0] == 88, "one row per chunk the reader knows");

// Linear search from the first row; ids are unique.
const ChunkTableRow* find_row(uint32_t id) {
    for (const ChunkTableRow& row : ChunkTable)
        if (row.id == id) return &row;
    return nullptr;
}

// -- the two passes ---------------------------------------------------------------

void begin_pass(Scene* scene, int counting) {
    reader.counting = counting;
    reader.scene = scene;
    reader.current_name[0] = '\0';
    reader.current_object = nullptr;
    reader.object_has_vertices = 0;
    reader.object_has_faces = 0;
    reader.current_light = nullptr;
    reader.next_object = reader.next_camera = reader.next_light = reader.next_material = 0;
    reader.last_face_count = 0;
    reader.depth = 0;
    keyframer_begin_pass(scene, counting);
}

// Opens the file and walks all its chunks. `size` is the file size: -1 on the
// first pass (measured here), the first pass's size on the second. The file
// must be a regular one that starts with the main chunk's header: an empty
// file, or a /proc file whose size reads as 0, is no scene.
int read_file(const char* file_name, long* size) {
    const char* why;
    FILE* file = regular_file_open(file_name, &why);
    if (!file) return chunk_fail(why);
    long measured = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) measured = std::ftell(file);
    if (measured < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return chunk_fail("cannot read file");
    }
    unsigned char id[2] = {0, 0};
    if (measured < 6 || std::fread(id, 1, 2, file) != 2 || (id[0] | id[1] << 8) != main_chunk_id ||
        std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return chunk_fail("not a 3DS file");
    }
    if (*size >= 0 && measured != *size) {
        std::fclose(file);
        return chunk_fail("file changed between passes");
    }
    *size = measured;
    int result = read_chunks(file, measured);
    std::fclose(file);
    return result;
}

// calloc of `count` records; a count of 0 gives null without failing.
template <typename T>
int allocate_records(T** records, int32_t count) {
    *records = nullptr;
    if (count == 0) return 1;
    *records = (T*)std::calloc((size_t)count, sizeof(T));
    return *records != nullptr;
}

void free_object(SceneObject* o) {
    std::free(o->name);
    std::free(o->faces);
    std::free(o->vertices);
    std::free(o->face_planes);
    float* arrays[] = {o->position_key_frames, o->position_keys_x,     o->position_keys_y,
                       o->position_keys_z,     o->rotation_key_frames, o->rotation_key_angles,
                       o->rotation_key_axis_x, o->rotation_key_axis_y, o->rotation_key_axis_z};
    for (float* a : arrays) std::free(a);
}

void free_camera(SceneCamera* c) {
    std::free(c->name);
    float* arrays[] = {c->target_key_frames,   c->target_keys_x,   c->target_keys_y,   c->target_keys_z,
                       c->position_key_frames, c->position_keys_x, c->position_keys_y, c->position_keys_z};
    for (float* a : arrays) std::free(a);
}

}  // namespace

// Walks the chunks from the current position up to `end`. Every chunk must
// have a length of at least its 6-byte header and must end within its
// parent; the walk always moves forward, so it ends.
int read_chunks(FILE* file, long end) {
    if (reader.depth >= max_chunk_depth) return chunk_fail("chunks nested too deeply");
    reader.depth++;
    int result = 0;
    for (;;) {
        long start = std::ftell(file);
        if (start < 0) {
            result = chunk_fail("cannot read file");
            break;
        }
        if (start >= end) break;
        ChunkCursor c = chunk_cursor(file, end);
        uint16_t id;
        uint32_t length;
        if (!chunk_read_u16(&c, &id) || !chunk_read_u32(&c, &length)) {
            result = chunk_fail("chunk header cut short");
            break;
        }
        if (length < 6) {
            result = chunk_fail("chunk length below 6");
            break;
        }
        if ((uint64_t)length > (uint64_t)(end - start)) {
            result = chunk_fail("chunk runs past its parent");
            break;
        }
        long chunk_end = start + (long)length;
        const ChunkTableRow* row = find_row(id);
        if (row && row->handler) result = row->handler(file, chunk_end);
        if (result == 0 && row && row->descend) result = read_chunks(file, chunk_end);
        if (result != 0) break;
        if (std::fseek(file, chunk_end, SEEK_SET) != 0 || std::ferror(file)) {
            result = chunk_fail("cannot read file");
            break;
        }
    }
    reader.depth--;
    return result;
}

Scene* scene_load(const char* file_name) {
    Scene* scene = (Scene*)std::calloc(1, sizeof(Scene));
    if (!scene) {
        chunk_fail("out of memory");
        return nullptr;
    }
    long size = -1;
    begin_pass(scene, 1);
    if (read_file(file_name, &size) != 0) {
        scene_free(scene);
        return nullptr;
    }
    if (!allocate_records(&scene->objects, scene->object_count) ||
        !allocate_records(&scene->cameras, scene->camera_count) ||
        !allocate_records(&scene->lights, scene->light_count) ||
        !allocate_records(&scene->materials, scene->material_count)) {
        chunk_fail("out of memory");
        scene_free(scene);
        return nullptr;
    }
    begin_pass(scene, 0);
    int result = read_file(file_name, &size);
    begin_pass(nullptr, 1);  // the reader keeps no reference to the scene
    if (result != 0) {
        scene_free(scene);
        return nullptr;
    }
    for (int32_t i = 0; i < scene->object_count; i++) {
        SceneObject* o = &scene->objects[i];
        if (!o->name) {  // never filled: the file changed between the passes
            chunk_fail("file changed between passes");
            scene_free(scene);
            return nullptr;
        }
        if (!compute_face_planes(o) || !compute_vertex_normals(o)) {
            chunk_fail("out of memory");
            scene_free(scene);
            return nullptr;
        }
        assign_face_ids(o);
    }
    for (int32_t i = 0; i < scene->camera_count; i++) build_camera_matrix(&scene->cameras[i]);
    return scene;
}

const char* scene_load_error() { return chunk_last_error(); }

void scene_free(Scene* scene) {
    if (!scene) return;
    for (int32_t i = 0; scene->objects && i < scene->object_count; i++) free_object(&scene->objects[i]);
    for (int32_t i = 0; scene->cameras && i < scene->camera_count; i++) free_camera(&scene->cameras[i]);
    for (int32_t i = 0; scene->lights && i < scene->light_count; i++) std::free(scene->lights[i].name);
    for (int32_t i = 0; scene->materials && i < scene->material_count; i++) std::free(scene->materials[i].name);
    std::free(scene->objects);
    std::free(scene->cameras);
    std::free(scene->lights);
    std::free(scene->materials);
    std::free(scene);
}
