#include "asset/subdivide.h"

#include <cstdint>
#include <new>
#include <set>
#include <string>
#include <unordered_map>

namespace {

struct SubdivideState {
    const char* error;  // reason for the last failure
};

SubdivideState state = {"no error"};

int fail(const char* why) {
    state.error = why;
    return 0;
}

// One mesh while it is cut: 32-bit corners, since it may outgrow a file mesh.
struct WorkMesh {
    std::vector<MeshVertex> vertices;
    std::vector<uint32_t> corners;   // three per face, wound as the input's
    std::vector<int32_t> materials;  // one per face
};

// Midpoints made so far in one level, keyed by the edge's two vertex indices,
// lower first.
typedef std::unordered_map<uint64_t, uint32_t> EdgeMidpoints;

uint32_t edge_midpoint(WorkMesh* mesh, EdgeMidpoints* made, uint32_t a, uint32_t b) {
    if (a == b) return a;
    uint64_t key = a < b ? (uint64_t)a << 32 | b : (uint64_t)b << 32 | a;
    auto found = made->emplace(key, (uint32_t)mesh->vertices.size());
    if (!found.second) return found.first->second;
    const MeshVertex p = mesh->vertices[a], q = mesh->vertices[b];
    mesh->vertices.push_back(MeshVertex{(p.x + q.x) * 0.5f, (p.y + q.y) * 0.5f, (p.z + q.z) * 0.5f,
                                        (p.u + q.u) * 0.5f, (p.v + q.v) * 0.5f});
    return found.first->second;
}

// One level: every face of `in` into four, in place in face order.
void cut_once(const WorkMesh& in, WorkMesh* out) {
    size_t faces = in.materials.size();
    out->vertices = in.vertices;
    out->vertices.reserve(in.vertices.size() + faces * 3 / 2 + 3);  // edges of a closed mesh, 3F/2
    out->corners.clear();
    out->corners.reserve(faces * 12);
    out->materials.clear();
    out->materials.reserve(faces * 4);
    EdgeMidpoints made;
    made.reserve(faces * 3 / 2 + 3);
    for (size_t f = 0; f < faces; f++) {
        uint32_t a = in.corners[3 * f], b = in.corners[3 * f + 1], c = in.corners[3 * f + 2];
        uint32_t ab = edge_midpoint(out, &made, a, b);
        uint32_t bc = edge_midpoint(out, &made, b, c);
        uint32_t ca = edge_midpoint(out, &made, c, a);
        const uint32_t sub[12] = {a, ab, ca, ab, b, bc, ca, bc, c, ab, bc, ca};
        out->corners.insert(out->corners.end(), sub, sub + 12);
        out->materials.insert(out->materials.end(), 4, in.materials[f]);
    }
}

// The next name for a piece of `base`: `base` itself for the first piece
// when still free, else "<base>.<n>" with the smallest free n.
std::string piece_name(const std::string& base, int first, const std::set<std::string>& input_names,
                       std::set<std::string>* taken) {
    if (first && !base.empty() && base.size() <= (size_t)MESH_MAX_NAME && taken->insert(base).second) return base;
    for (unsigned n = 1;; n++) {
        std::string suffix = "." + std::to_string(n);
        std::string name = base.substr(0, (size_t)MESH_MAX_NAME - suffix.size()) + suffix;
        if (!input_names.count(name) && taken->insert(name).second) return name;
    }
}

// Appends `work` to `out` as meshes of at most 65535 vertices and faces, in
// face order. A new piece starts when the next face's corners would not fit.
void cut_into_pieces(const WorkMesh& work, const std::string& name, const std::set<std::string>& input_names,
                     std::set<std::string>* taken, SceneBuild* out) {
    std::vector<int32_t> piece_of(work.vertices.size(), -1);  // last piece that holds the vertex
    std::vector<uint16_t> local(work.vertices.size());         // its index there
    int32_t piece = -1;
    Mesh* mesh = nullptr;
    for (size_t f = 0; f < work.materials.size(); f++) {
        const uint32_t* c = &work.corners[3 * f];
        size_t fresh = 0;
        for (int k = 0; k < 3; k++) fresh += piece_of[c[k]] != piece;
        if (!mesh || mesh->faces.size() == (size_t)MESH_MAX_ITEMS || mesh->vertices.size() + fresh > (size_t)MESH_MAX_ITEMS) {
            out->meshes.push_back(Mesh{piece_name(name, piece < 0, input_names, taken), {}, {}});
            mesh = &out->meshes.back();
            piece++;
        }
        MeshFace face;
        for (int k = 0; k < 3; k++) {
            if (piece_of[c[k]] != piece) {
                piece_of[c[k]] = piece;
                local[c[k]] = (uint16_t)mesh->vertices.size();
                mesh->vertices.push_back(work.vertices[c[k]]);
            }
            face.corner[k] = local[c[k]];
        }
        face.material = work.materials[f];
        mesh->faces.push_back(face);
    }
}

int subdivide(const SceneBuild* in, int levels, SceneBuild* out) {
    std::set<std::string> input_names, taken;
    for (const Mesh& mesh : in->meshes) input_names.insert(mesh.name);
    out->materials = in->materials;
    out->meshes.clear();
    for (const Mesh& mesh : in->meshes) {
        if (mesh.faces.empty()) {  // nothing to cut: the vertices as they are
            out->meshes.push_back(mesh);
            out->meshes.back().name = piece_name(mesh.name, 1, input_names, &taken);
            continue;
        }
        WorkMesh work, next;
        work.vertices = mesh.vertices;
        for (const MeshFace& f : mesh.faces) {
            work.corners.insert(work.corners.end(), f.corner, f.corner + 3);
            work.materials.push_back(f.material);
        }
        for (int level = 0; level < levels; level++) {
            cut_once(work, &next);
            std::swap(work, next);
        }
        cut_into_pieces(work, mesh.name, input_names, &taken, out);
    }
    return 1;
}

}  // namespace

const char* subdivide_error() { return state.error; }

int scene_build_subdivide(const SceneBuild* in, int levels, SceneBuild* out) {
    if (levels < 0 || levels > SUBDIVIDE_MAX_LEVELS) return fail("levels must be 0 to 4");
    size_t faces = 0;
    for (const Mesh& mesh : in->meshes) {
        for (const MeshFace& f : mesh.faces)
            for (int k = 0; k < 3; k++)
                if (f.corner[k] >= mesh.vertices.size()) return fail("face corner out of range");
        faces += mesh.faces.size() << (2 * levels);
        if (faces > SUBDIVIDE_MAX_FACES) return fail("the result would have more than 4,194,304 faces");
    }
    try {
        return subdivide(in, levels, out);
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    }
}
