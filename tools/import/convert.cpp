// An ImportModel becomes the world of a data folder: turned into world axes,
// placed and scaled in the start view, cut into objects the 3DS format can
// hold, with one texture per material the faces use.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "asset/procedural.h"
#include "asset/ripmap.h"
#include "import/import.h"

namespace {

const double fitted_extent = 60.0;   // world units of the model's extent (as square on) when fitting
const double path_margin = 0.15;     // marker path beyond the model, in those extents
const double path_rise = 0.05;       // its rise and fall, likewise
const int path_points = 12;
const double marker_radius = 8.0;    // world units: the demo star's outer points
// Faces without an image are shaded by a fixed light: one texel column per
// shade, from the ambient share of the colour to the whole of it, and each
// face's corners sample the column of its normal's shade. The light comes
// from above, in front of the model and from its right (the screen's right,
// world -x, in the square-on view; it turns with the model), so the top, the
// front and the two sides each get a shade of their own.
const double light_towards[3] = {-0.45, 0.8, -0.6};  // towards the light, square-on world axes, normalised when used
const double ambient = 0.3;
const int shade_max = 16;            // shades of a ramp, at most; fewer when --max is smaller
const int ramp_rows = 2;

// Device names that Windows refuses as file names, with any extension.
const char* const device_names[] = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6",
                                    "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7",
                                    "LPT8", "LPT9", "COM0", "LPT0"};

// A material as the faces use it: textured only when the face's part has
// mapping coordinates for the image.
struct MaterialUse {
    int material;     // index into ImportModel::materials
    int textured;     // 1: the part has mapping coordinates for the diffuse image
    int made;         // index into ConvertState::made, -1: shades of the diffuse colour
    std::string why;  // why a textured use has no image
};

// A texture already made, reused by every material that shows the same image.
struct MadeTexture {
    std::string key;     // "*N" for an image in the file, else the path found
    ByteBuffer data;
    std::string source;
};

struct ConvertState {
    const ImportModel* model;
    const ImportOptions* options;
    ImportResult* result;
    std::vector<MaterialUse> uses;        // output material i shows uses[i]
    std::vector<std::string> raw_names;   // per output mesh: the part's own name
    std::vector<MadeTexture> made;
    double turn_cos, turn_sin;            // the view's turn about world y (see view_turn)
    double light[3];                      // light_towards turned with the model
};

ConvertState convert = {};

// The view's turn of a world point about world y: the three-quarter view
// turns the front (world -z) towards the screen's right (world -x), so the
// side on the screen's left faces the camera too. A turn, so nothing is
// mirrored. No turn leaves every point as it is, signed zeros included, so
// the square-on world is what it always was, byte for byte.
void view_turn(const double p[3], double out[3]) {
    if (convert.turn_sin == 0.0) {
        out[0] = p[0], out[1] = p[1], out[2] = p[2];
        return;
    }
    const double x = p[0], z = p[2];
    out[0] = convert.turn_cos * x + convert.turn_sin * z;
    out[1] = p[1];
    out[2] = convert.turn_cos * z - convert.turn_sin * x;
}

bool finite3(const double p[3]) { return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]); }
bool finite_vertex(const MeshVertex& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// The test the 3DS reader applies: the face plane's normal, computed in
// floats from the stored corners, has a usable length.
bool has_area(const MeshVertex& a, const MeshVertex& b, const MeshVertex& c) {
    float ux = c.x - a.x, uy = c.y - a.y, uz = c.z - a.z;
    float vx = b.x - a.x, vy = b.y - a.y, vz = b.z - a.z;
    float nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    float length = std::sqrt(nx * nx + ny * ny + nz * nz);
    return length > 0.0f && !std::isinf(length);
}

bool has_area(const double* a, const double* b, const double* c) {
    double u[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]}, v[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    return n[0] != 0.0 || n[1] != 0.0 || n[2] != 0.0;
}

int texture_from_image(const ImportMaterial& m, std::string* why);


// An image beside the model named like the material or the model itself
// ("sydney.bmp" for "sydney.md2"), compared without regard to case: where
// users keep the texture of a model whose file names a dummy. The
// material's name wins; among several of one name, the first in byte order.
int image_beside(const std::string& material, std::string* path) {
    DIR* d = opendir(convert.model->folder.c_str());
    if (!d) return 0;
    std::string best;
    int best_rank = 0;
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        size_t dot = name.rfind('.');
        if (dot == std::string::npos || dot == 0) continue;
        std::string stem = name.substr(0, dot), extension = name.substr(dot + 1);
        int image = 0;
        for (const char* x : IMPORT_IMAGE_EXTENSIONS) image |= strcasecmp(extension.c_str(), x) == 0;
        int rank = !image                                                              ? 0
                   : !material.empty() && strcasecmp(stem.c_str(), material.c_str()) == 0 ? 2
                   : !convert.model->stem.empty() && strcasecmp(stem.c_str(), convert.model->stem.c_str()) == 0 ? 1
                                                                                        : 0;
        struct stat st;
        std::string full = convert.model->folder + "/" + name;
        if (!rank || stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (rank > best_rank || (rank == best_rank && full < best)) best = full, best_rank = rank;
    }
    closedir(d);
    if (best.empty()) return 0;
    *path = best;
    return 1;
}

// Output material for a part, created on first use; its image is read then,
// so that faces whose image cannot be had are shaded like untextured ones.
int material_for(const ImportPart& part) {
    const ImportMaterial& m = convert.model->materials[(size_t)part.material];
    MaterialUse use = {part.material, !m.image.empty() && !part.uv.empty(), -1, ""};
    for (size_t i = 0; i < convert.uses.size(); i++)
        if (convert.uses[i].material == use.material && convert.uses[i].textured == use.textured) return (int)i;
    if (use.textured) use.made = texture_from_image(m, &use.why);
    convert.uses.push_back(use);
    convert.result->scene.materials.push_back(MaterialDef{"", m.diffuse});
    return (int)convert.uses.size() - 1;
}

// The number of shades in a ramp: a power of two that --max allows.
int shade_count() { return std::min(shade_max, convert.options->max_texture); }

// The ramp column of a face with corners a, b, c (counter-clockwise seen from
// outside, world axes): the share of the light its outward normal takes.
float shade_u(const MeshVertex& a, const MeshVertex& b, const MeshVertex& c) {
    double u[3] = {(double)b.x - a.x, (double)b.y - a.y, (double)b.z - a.z};
    double v[3] = {(double)c.x - a.x, (double)c.y - a.y, (double)c.z - a.z};
    double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    double ln = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    const double* l = convert.light;
    double ll = std::sqrt(l[0] * l[0] + l[1] * l[1] + l[2] * l[2]);
    double lit = ln > 0.0 ? (n[0] * l[0] + n[1] * l[1] + n[2] * l[2]) / (ln * ll) : 0.0;
    if (!(lit > 0.0)) lit = 0.0;
    const int shades = shade_count();
    int column = std::min(shades - 1, (int)std::lround(lit * (shades - 1)));
    return ((float)column + 0.5f) / (float)shades;
}

// Model points in world axes, per part, and which triangles are kept.
struct PartGeometry {
    std::vector<double> points;  // 3 per vertex
    std::vector<uint8_t> keep;   // per triangle
};

// Turns every part into world axes and the view's turn, drops triangles with
// a corner that is not finite or with no area, and measures what is left:
// low and high bound it as placed, `own` is its extent in world axes before
// the view's turn (along the model's right, up and front). 0 when nothing is.
int measure(std::vector<PartGeometry>* geometry, double low[3], double high[3], double own[3]) {
    ImportCounts* counts = &convert.result->counts;
    double own_low[3], own_high[3];
    for (int k = 0; k < 3; k++) low[k] = own_low[k] = HUGE_VAL, high[k] = own_high[k] = -HUGE_VAL;
    long kept = 0;
    for (const ImportPart& part : convert.model->parts) {
        PartGeometry g;
        size_t n = part.positions.size() / 3;
        g.points.resize(3 * n);
        std::vector<double> unturned(3 * n);
        for (size_t i = 0; i < n; i++) {
            import_world_axes(&convert.model->axes, &part.positions[3 * i], &unturned[3 * i]);
            view_turn(&unturned[3 * i], &g.points[3 * i]);
        }
        g.keep.assign(part.corners.size() / 3, 0);
        for (size_t t = 0; t < g.keep.size(); t++) {
            // Tested before the view's turn, whose rounding would give
            // corners on one line an area.
            const double *c[3], *o[3];
            for (int k = 0; k < 3; k++) {
                c[k] = &g.points[3 * (size_t)part.corners[3 * t + k]];
                o[k] = &unturned[3 * (size_t)part.corners[3 * t + k]];
            }
            if (!finite3(o[0]) || !finite3(o[1]) || !finite3(o[2]) || !finite3(c[0]) || !finite3(c[1]) ||
                !finite3(c[2])) {
                counts->not_finite++;
                continue;
            }
            if (!has_area(o[0], o[1], o[2])) {
                counts->no_area++;
                continue;
            }
            g.keep[t] = 1;
            kept++;
            for (int k = 0; k < 3; k++) {
                for (int j = 0; j < 3; j++) {
                    low[j] = std::min(low[j], c[k][j]), high[j] = std::max(high[j], c[k][j]);
                    own_low[j] = std::min(own_low[j], o[k][j]), own_high[j] = std::max(own_high[j], o[k][j]);
                }
            }
        }
        geometry->push_back(std::move(g));
    }
    for (int k = 0; k < 3; k++) own[k] = own_high[k] - own_low[k];
    return kept > 0;
}

// Adds one part's kept triangles to the scene, starting a new object
// whenever the current one would pass 65535 vertices or faces.
void emit_part(const ImportPart& part, const PartGeometry& g, const double centre[3], double scale,
               const double target[3]) {
    ImportResult* r = convert.result;
    const size_t n = g.points.size() / 3;
    std::vector<MeshVertex> world(n);
    for (size_t i = 0; i < n; i++) {
        double p[3];
        for (int k = 0; k < 3; k++) p[k] = (g.points[3 * i + k] - centre[k]) * scale + target[k];
        world[i] = MeshVertex{(float)p[0], (float)p[1], (float)p[2], 0.0f, 0.0f};
        if (part.uv.empty()) continue;
        float u = part.uv[2 * i], v = 1.0f - part.uv[2 * i + 1];
        world[i].u = std::isfinite(u) ? u : 0.0f;
        world[i].v = std::isfinite(v) ? v : 0.0f;
    }
    int material = -1;  // made with the part's first face, so every material is used
    std::vector<uint32_t> chunk_of(n, 0);  // the chunk that holds vertex i, 0 for none
    std::vector<uint16_t> index_in(n, 0);
    uint32_t chunk = 0;
    int mesh = -1;
    for (size_t t = 0; t < g.keep.size(); t++) {
        if (!g.keep[t]) continue;
        const uint32_t* c = &part.corners[3 * t];
        const MeshVertex &a = world[c[0]], &b = world[c[1]], &d = world[c[2]];
        if (!finite_vertex(a) || !finite_vertex(b) || !finite_vertex(d)) {
            r->counts.not_finite++;  // beyond a float once scaled
            continue;
        }
        if (!has_area(a, b, d)) {
            r->counts.no_area++;  // too small for floats once scaled
            continue;
        }
        size_t needed = 3;  // a shaded face's own corners; a textured face may share some
        if (material >= 0 && convert.uses[(size_t)material].made >= 0) {
            needed = 0;
            for (int k = 0; k < 3; k++) needed += chunk_of[c[k]] != chunk || chunk == 0;
        }
        if (mesh < 0 || r->scene.meshes[(size_t)mesh].faces.size() >= IMPORT_VERTEX_MAX ||
            r->scene.meshes[(size_t)mesh].vertices.size() + needed > IMPORT_VERTEX_MAX) {
            r->scene.meshes.push_back(Mesh{});
            convert.raw_names.push_back(part.name);
            mesh = (int)r->scene.meshes.size() - 1;
            chunk++;
        }
        if (material < 0) material = material_for(part);
        Mesh& m = r->scene.meshes[(size_t)mesh];
        MeshFace face;
        if (convert.uses[(size_t)material].made < 0) {  // shaded: corners of its own, all on its shade
            const float u = shade_u(a, b, d);
            for (int k = 0; k < 3; k++) {
                face.corner[k] = (uint16_t)m.vertices.size();
                m.vertices.push_back(world[c[k]]);
                m.vertices.back().u = u;
                m.vertices.back().v = 0.5f;
            }
            face.material = material;
            m.faces.push_back(face);
            r->counts.triangles++;
            continue;
        }
        for (int k = 0; k < 3; k++) {
            if (chunk_of[c[k]] != chunk) {
                chunk_of[c[k]] = chunk;
                index_in[c[k]] = (uint16_t)m.vertices.size();
                m.vertices.push_back(world[c[k]]);
            }
            face.corner[k] = index_in[c[k]];
        }
        face.material = material;
        m.faces.push_back(face);
        r->counts.triangles++;
    }
}

// The texture of one image, made once per image: its index in
// ConvertState::made, or -1 with *why.
int texture_from_image(const ImportMaterial& m, std::string* why) {
    std::string key;
    const ImportEmbedded* embedded = nullptr;
    std::string path;
    if (m.embedded >= 0 && (size_t)m.embedded < convert.model->embedded.size()) {
        embedded = &convert.model->embedded[(size_t)m.embedded];
        key = "*" + std::to_string(m.embedded);
    } else if (m.image[0] == '*') {
        *why = "is not stored in the file";
        return -1;
    } else {
        if (!import_find_image(convert.model->folder, m.image, &path, &convert.result->guesses)) {
            if (!image_beside(m.name, &path)) {
                *why = "not found, nor an image named like the material or the model beside it";
                return -1;
            }
            convert.result->guesses.push_back("material " + m.name + ": image '" + m.image + "' not found; " + path +
                                              " beside the model is used");
        }
        key = path;
    }
    for (size_t i = 0; i < convert.made.size(); i++)
        if (convert.made[i].key == key) return (int)i;
    std::vector<Rgba8> pixels;
    int w = 0, h = 0;
    const char* reason = "";
    if (embedded && embedded->data.empty()) {
        pixels = embedded->pixels;
        w = embedded->width, h = embedded->height;
        reason = "empty image";
    } else if (embedded) {
        import_decode_image(embedded->data.data(), embedded->data.size(), &pixels, &w, &h, &reason);
    } else {
        import_load_image(path, &pixels, &w, &h, &reason);
    }
    MadeTexture made = {key, {}, ""};
    int bw, bh;
    if (pixels.empty() || w < 1 || h < 1) {
        *why = reason;
        return -1;
    }
    if (!texture_encode_image(pixels.data(), w, h, convert.options->max_texture, &made.data, &bw, &bh)) {
        *why = ripmap_error();
        return -1;
    }
    made.source = (embedded ? "image " + key + " stored in the model" : path) + ", " + std::to_string(bw) + " x " +
                  std::to_string(bh) + " from " + std::to_string(w) + " x " + std::to_string(h);
    if (!embedded && import_outside_folder(convert.model->folder, path)) convert.result->outside.push_back(path);
    convert.made.push_back(std::move(made));
    return (int)convert.made.size() - 1;
}

std::string colour_text(Rgba8 c) {
    return std::to_string(c.r) + " " + std::to_string(c.g) + " " + std::to_string(c.b);
}

int make_textures() {
    ImportResult* r = convert.result;
    const int shades = shade_count();
    for (size_t i = 0; i < convert.uses.size(); i++) {
        const MaterialUse& use = convert.uses[i];
        const ImportMaterial& m = convert.model->materials[(size_t)use.material];
        const std::string& name = r->scene.materials[i].name;
        ImportTexture texture = {"Textures/" + name + ".tga", {}, ""};
        if (use.made >= 0) {
            texture.data = convert.made[(size_t)use.made].data;
            texture.source = convert.made[(size_t)use.made].source;
        } else {
            if (use.textured)
                r->guesses.push_back("material " + name + ": image '" + m.image + "' " + use.why +
                                     "; its diffuse colour " + colour_text(m.diffuse) + " is used");
            else if (!m.image.empty())
                r->guesses.push_back("material " + name + ": faces without mapping coordinates show its diffuse colour");
            std::vector<Rgba8> ramp((size_t)shades * ramp_rows);
            for (int x = 0; x < shades; x++) {
                const double share = ambient + (1.0 - ambient) * x / (shades > 1 ? shades - 1 : 1);
                const Rgba8 c = {(uint8_t)std::lround(m.diffuse.r * share), (uint8_t)std::lround(m.diffuse.g * share),
                                 (uint8_t)std::lround(m.diffuse.b * share), 255};
                for (int y = 0; y < ramp_rows; y++) ramp[(size_t)y * shades + x] = c;
            }
            int bw, bh;
            if (!texture_encode_image(ramp.data(), shades, ramp_rows, shades, &texture.data, &bw, &bh))
                return import_fail(ripmap_error());
            texture.source = "diffuse colour " + colour_text(m.diffuse) + ", " + std::to_string(shades) +
                             " shades of a light from above, in front and the right";
        }
        r->textures.push_back(std::move(texture));
    }
    return 1;
}

// The studio ground under the placed model (world bounds low..high): its
// mesh, material and texture after the model's, named apart from the
// material and object names taken so far.
int add_ground(const double low[3], const double high[3], std::vector<std::string>* materials,
               std::vector<std::string>* objects) {
    ImportResult* r = convert.result;
    const ProceduralTexture* paint = procedural_studio();
    const std::string name = import_fit_name(paint->name, IMPORT_MATERIAL_NAME_MAX, "Ground", materials);
    ImportTexture texture = {"Textures/" + name + ".tga", {}, ""};
    std::vector<Rgba8> pixels((size_t)paint->base_width * (size_t)paint->base_height);
    paint->paint(pixels.data(), paint->base_width, paint->base_height);
    int w, h;
    if (!texture_encode_image(pixels.data(), paint->base_width, paint->base_height, convert.options->max_texture,
                              &texture.data, &w, &h))
        return import_fail(ripmap_error());
    texture.source = "the studio floor's tiles, " + std::to_string(w) + " x " + std::to_string(h);
    Rgba8 mean = {0, 0, 0, 255};
    long sum[3] = {0, 0, 0};
    for (const Rgba8& p : pixels) sum[0] += p.r, sum[1] += p.g, sum[2] += p.b;
    mean.r = (uint8_t)(sum[0] / (long)pixels.size()), mean.g = (uint8_t)(sum[1] / (long)pixels.size()),
    mean.b = (uint8_t)(sum[2] / (long)pixels.size());
    r->scene.materials.push_back(MaterialDef{name, mean});
    r->textures.push_back(std::move(texture));
    stage_ground(low, high, (int)r->scene.materials.size() - 1, &r->scene, &r->ground);
    r->scene.meshes.back().name = import_fit_name("Ground", IMPORT_OBJECT_NAME_MAX, "Ground", objects);
    return 1;
}

// The marker path: a loop round the model's centre, beyond its sides by
// path_margin view extents, at the eye's height where that lies within the
// model's (nearer points of the loop then stay in the frame's height), else
// nearest it. It starts where the marker shows whole in the first frame of
// a 16:9 view: beside the model on the screen's left, or, for a model too
// wide for that, turned back behind it, where it is never cut by the
// frame's edge.
std::string path_text(const double centre[3], const double half[3], double extent) {
    const double margin = path_margin * extent;
    const double rx = half[0] + margin, rz = half[2] + margin;
    const double height = std::min(std::max(IMPORT_EYE[1], centre[1] - 0.5 * half[1]), centre[1] + 0.8 * half[1]);
    double start = 0.0;
    for (int step = 0; step <= 6; step++) {
        start = 0.5 * IMPORT_PI * step / 6;
        const double x = centre[0] + rx * std::cos(start), z = centre[2] + rz * std::sin(start);
        const double y = height + path_rise * extent * std::sin(2.0 * start);
        const double depth = z - IMPORT_EYE[2];
        if (depth > marker_radius && std::fabs(x - IMPORT_EYE[0]) + marker_radius < 0.9 * depth &&
            std::fabs(y - IMPORT_EYE[1]) + marker_radius < 0.5 * depth)
            break;
    }
    std::string text = std::to_string(path_points) + "\n";
    for (int i = 0; i < path_points; i++) {
        double a = start + 2.0 * IMPORT_PI * i / path_points;
        char line[128];
        std::snprintf(line, sizeof line, "%.3f %.3f %.3f\n", centre[0] + rx * std::cos(a),
                      height + path_rise * extent * std::sin(2.0 * a), centre[2] + rz * std::sin(a));
        text += line;
    }
    return text;
}

}  // namespace

void import_world_axes(const ImportAxes* axes, const double p[3], double out[3]) {
    auto dot = [p](const double* v) { return p[0] * v[0] + p[1] * v[1] + p[2] * v[2]; };
    out[0] = -dot(axes->right);
    out[1] = dot(axes->up);
    out[2] = -dot(axes->front);
}

std::string import_fit_name(const std::string& raw, size_t limit, const char* fallback,
                            std::vector<std::string>* taken) {
    std::string name;
    for (unsigned char c : raw) {
        int keep = std::isalnum(c) || c == '-';
        if (keep && name.size() < limit)
            name += (char)c;
        else if (!keep && !name.empty() && name.back() != '_' && name.size() < limit)
            name += '_';
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    if (name.empty()) name = fallback;
    for (const char* device : device_names)
        if (strcasecmp(name.c_str(), device) == 0) name += '_';
    name = name.substr(0, limit);
    std::string unique = name;
    for (int n = 2;; n++) {
        int clash = 0;
        for (const std::string& t : *taken) clash |= strcasecmp(t.c_str(), unique.c_str()) == 0;
        if (!clash) break;
        std::string suffix = "_" + std::to_string(n);
        unique = name.substr(0, limit - std::min(limit, suffix.size())) + suffix;
    }
    taken->push_back(unique);
    return unique;
}

int import_convert(const ImportModel* model, const ImportOptions* options,
                   const std::vector<std::string>& reserved, ImportResult* result) {
    *result = ImportResult{};
    convert = ConvertState{model, options, result, {}, {}, {}, 1.0, 0.0, {}};
    const int three_quarter = options->view != IMPORT_VIEW_FRONT;
    if (three_quarter) {
        const double angle = IMPORT_THREE_QUARTER_DEGREES * IMPORT_PI / 180.0;
        convert.turn_cos = std::cos(angle), convert.turn_sin = std::sin(angle);
    }
    view_turn(light_towards, convert.light);
    std::vector<PartGeometry> geometry;
    double low[3], high[3], own[3];
    if (!measure(&geometry, low, high, own)) {
        convert = ConvertState{};
        return import_fail("no triangle with an area and finite corners (" + std::to_string(result->counts.no_area) +
                           " without area, " + std::to_string(result->counts.not_finite) + " not finite)");
    }
    double size[3], centre[3];
    for (int k = 0; k < 3; k++) size[k] = high[k] - low[k], centre[k] = 0.5 * (low[k] + high[k]);
    result->size[0] = own[0], result->size[1] = own[1], result->size[2] = own[2];
    const double model_extent = std::max(own[1], 0.75 * own[0]);  // as square on, whatever the view
    result->scale = options->scale > 0.0 ? options->scale : fitted_extent / model_extent;
    const double extent = model_extent * result->scale;
    if (!std::isfinite(result->scale) || !(result->scale > 0.0) || !std::isfinite(extent) || !(extent > 0.0)) {
        convert = ConvertState{};
        return import_fail("the model has no extent to scale");
    }
    // The kept corners, scaled about the centre, decide where the model
    // stands: the stage frames them in the start view.
    std::vector<double> corners;
    for (size_t p = 0; p < model->parts.size(); p++) {
        std::vector<uint8_t> used(geometry[p].points.size() / 3, 0);
        for (size_t t = 0; t < geometry[p].keep.size(); t++)
            for (int k = 0; k < 3 && geometry[p].keep[t]; k++) used[model->parts[p].corners[3 * t + k]] = 1;
        for (size_t i = 0; i < used.size(); i++)
            for (int j = 0; j < 3 && used[i]; j++)
                corners.push_back((geometry[p].points[3 * i + j] - centre[j]) * result->scale);
    }
    double target[3];
    if (!stage_frame(corners, options->view, target)) {
        convert = ConvertState{};
        return import_fail("the model cannot be placed in the start view");
    }
    std::vector<double>().swap(corners);
    for (size_t p = 0; p < model->parts.size(); p++) emit_part(model->parts[p], geometry[p], centre, result->scale, target);
    if (result->counts.triangles == 0) {
        convert = ConvertState{};
        return import_fail("no triangle is left once scaled: every one is too small or too large for floats");
    }

    std::vector<std::string> taken = reserved;
    for (size_t i = 0; i < result->scene.materials.size(); i++)
        result->scene.materials[i].name = import_fit_name(
            model->materials[(size_t)convert.uses[i].material].name, IMPORT_MATERIAL_NAME_MAX, "Material", &taken);
    std::vector<std::string> taken_objects;
    for (size_t i = 0; i < result->scene.meshes.size(); i++)
        result->scene.meshes[i].name =
            import_fit_name(convert.raw_names[i], IMPORT_OBJECT_NAME_MAX, "Object", &taken_objects);
    if (model->axes.guessed)
        result->guesses.push_back(std::string("up axis ") + model->axes.up_axis + ": " + model->axes.why +
                                  "; --up sets it (+x -x +y -y +z -z), --front the side that faces the camera, "
                                  "--turn DEG turns the model about its up, --view front shows it square on");
    int ok = make_textures();
    const double half[3] = {0.5 * size[0] * result->scale, 0.5 * size[1] * result->scale, 0.5 * size[2] * result->scale};
    result->path_text = path_text(target, half, extent);
    // The stage, from the model as placed: the light always, the ground
    // unless left out; neither moves the model.
    double placed_low[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, placed_high[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (const Mesh& m : result->scene.meshes)
        for (const MeshVertex& v : m.vertices) {
            const double p[3] = {v.x, v.y, v.z};
            for (int k = 0; k < 3; k++) placed_low[k] = std::min(placed_low[k], p[k]), placed_high[k] = std::max(placed_high[k], p[k]);
        }
    result->light_text = stage_light_text(placed_low, placed_high);
    if (ok && options->ground != IMPORT_GROUND_NONE) ok = add_ground(placed_low, placed_high, &taken, &taken_objects);
    convert = ConvertState{};
    return ok;
}
