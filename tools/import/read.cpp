// The reader library's boundary: a model file becomes an ImportModel. The
// library hands out one right-handed, y-up scene whatever the format; for
// 3DS and Collada files it has turned the file's own axes into that frame
// with a rotation on the root node, which is how the file's up axis is
// recovered here.
#include <fcntl.h>
#include <unistd.h>

#include <assimp/DefaultLogger.hpp>
#include <assimp/Importer.hpp>
#include <assimp/LogStream.hpp>
#include <assimp/commonMetaData.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "import/import.h"

namespace {

const int max_node_depth = 256;
const long max_node_visits = 1000000;  // a node graph that shares children cannot grow without end
const size_t max_notes = 8;
const size_t max_embedded_texels = (size_t)64 << 20;

// Readers whose formats name their up axis and which turn it to +y with a
// rotation on the root node.
const char* const rotating_readers[] = {"Discreet 3DS Importer", "Collada Importer"};
// A base no wider than this (of the model's size squared) is a point.
const double point_base = 1e-5;

struct ReadState {
    ImportModel* model;     // being filled, null outside import_read
    const aiScene* scene;   // the library's result while it is read
    long node_visits;       // nodes walked, counting shared ones each time
};

ReadState reading = {};

struct ImportErrorState {
    std::string reason;  // of the last failure of either stage, "" before one
};

ImportErrorState failure = {};

// The library logs through an object of its own class hierarchy; this one
// keeps its warnings for the summary.
class NoteStream : public Assimp::LogStream {
public:
    void write(const char* message) override {
        if (!reading.model || reading.model->notes.size() >= max_notes) return;
        std::string text = message;
        size_t colon = text.find(": ");  // "Warn,  T0: ..." -> "..."
        if (colon != std::string::npos && colon < 16) text.erase(0, colon + 2);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        for (const std::string& n : reading.model->notes)
            if (n == text) return;
        reading.model->notes.push_back(text);
    }
};

// Row-major 3 x 4 affine matrix acting on column vectors, as the library's.
struct Affine {
    double m[3][4];
};

Affine affine_from(const aiMatrix4x4& a) {
    Affine r = {{{a.a1, a.a2, a.a3, a.a4}, {a.b1, a.b2, a.b3, a.b4}, {a.c1, a.c2, a.c3, a.c4}}};
    return r;
}

Affine affine_multiply(const Affine& p, const Affine& c) {
    Affine r;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 4; j++) {
            double s = j == 3 ? p.m[i][3] : 0.0;
            for (int k = 0; k < 3; k++) s += p.m[i][k] * c.m[k][j];
            r.m[i][j] = s;
        }
    return r;
}

double affine_determinant(const Affine& a) {
    const double(*m)[4] = a.m;
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

uint8_t colour_byte(float c) {
    if (!(c > 0.0f)) return 0;
    if (c >= 1.0f) return 255;
    return (uint8_t)(c * 255.0f + 0.5f);
}

void read_material(const aiMaterial* source, ImportMaterial* m) {
    aiString name;
    m->name = source->Get(AI_MATKEY_NAME, name) == AI_SUCCESS ? name.C_Str() : "";
    aiColor4D colour(1.0f, 1.0f, 1.0f, 1.0f);
    if (source->Get(AI_MATKEY_COLOR_DIFFUSE, colour) != AI_SUCCESS) source->Get(AI_MATKEY_BASE_COLOR, colour);
    m->diffuse = Rgba8{colour_byte(colour.r), colour_byte(colour.g), colour_byte(colour.b), 255};
    aiString path;
    m->embedded = -1;
    if (source->GetTexture(aiTextureType_DIFFUSE, 0, &path) == AI_SUCCESS ||
        source->GetTexture(aiTextureType_BASE_COLOR, 0, &path) == AI_SUCCESS) {
        m->image = path.C_Str();
        const aiTexture* t = reading.scene->GetEmbeddedTexture(path.C_Str());
        for (unsigned i = 0; t && i < reading.scene->mNumTextures; i++)
            if (reading.scene->mTextures[i] == t) m->embedded = (int)i;
    }
}

// The texture's own mapping set when the mesh has it, else set 0.
int uv_channel_of(const aiMaterial* material, const aiMesh* mesh) {
    int channel = 0;
    material->Get(AI_MATKEY_UVWSRC(aiTextureType_DIFFUSE, 0), channel);
    if (channel < 0 || channel >= AI_MAX_NUMBER_OF_TEXTURECOORDS || !mesh->mTextureCoords[channel]) channel = 0;
    return mesh->mTextureCoords[channel] ? channel : -1;
}

void read_embedded(const aiTexture* t, ImportEmbedded* e) {
    e->width = e->height = 0;
    if (t->mHeight == 0) {  // a compressed file of mWidth bytes
        const uint8_t* bytes = (const uint8_t*)t->pcData;
        e->data.assign(bytes, bytes + t->mWidth);
        return;
    }
    if ((size_t)t->mWidth * t->mHeight > max_embedded_texels) return;  // left empty: not decodable
    e->width = (int)t->mWidth;
    e->height = (int)t->mHeight;
    e->pixels.resize((size_t)t->mWidth * t->mHeight);
    for (size_t i = 0; i < e->pixels.size(); i++) {
        const aiTexel& p = t->pcData[i];
        e->pixels[i] = Rgba8{p.r, p.g, p.b, p.a};
    }
}

void add_part(const aiMesh* mesh, const Affine& to_library, const aiNode* node) {
    ImportModel* model = reading.model;
    ImportPart part;
    part.name = node->mName.length ? node->mName.C_Str() : mesh->mName.C_Str();
    part.material = mesh->mMaterialIndex < reading.scene->mNumMaterials ? (int)mesh->mMaterialIndex : 0;
    const size_t n = mesh->mNumVertices;
    part.positions.resize(3 * n);
    const double(*m)[4] = to_library.m;
    for (size_t i = 0; i < n; i++) {
        const aiVector3D& v = mesh->mVertices[i];
        for (int r = 0; r < 3; r++) part.positions[3 * i + r] = m[r][0] * v.x + m[r][1] * v.y + m[r][2] * v.z + m[r][3];
    }
    int channel = reading.scene->mNumMaterials ? uv_channel_of(reading.scene->mMaterials[part.material], mesh) : -1;
    if (channel >= 0) {
        part.uv.resize(2 * n);
        for (size_t i = 0; i < n; i++) {
            part.uv[2 * i] = mesh->mTextureCoords[channel][i].x;
            part.uv[2 * i + 1] = mesh->mTextureCoords[channel][i].y;
        }
    }
    // A mirroring node turns counter-clockwise faces clockwise: swap back.
    const int mirrored = affine_determinant(to_library) < 0.0;
    part.corners.reserve(3 * (size_t)mesh->mNumFaces);
    for (unsigned f = 0; f < mesh->mNumFaces; f++) {
        const aiFace& face = mesh->mFaces[f];
        if (face.mNumIndices != 3) {
            model->not_triangles++;
            continue;
        }
        if (face.mIndices[0] >= n || face.mIndices[1] >= n || face.mIndices[2] >= n) continue;
        part.corners.push_back(face.mIndices[0]);
        part.corners.push_back(face.mIndices[mirrored ? 2 : 1]);
        part.corners.push_back(face.mIndices[mirrored ? 1 : 2]);
    }
    if (!part.corners.empty()) model->parts.push_back(std::move(part));
}

void walk_nodes(const aiNode* node, const Affine& parent, int depth) {
    if (depth > max_node_depth || ++reading.node_visits > max_node_visits) return;
    Affine to_library = affine_multiply(parent, affine_from(node->mTransformation));
    for (unsigned i = 0; i < node->mNumMeshes; i++)
        if (node->mMeshes[i] < reading.scene->mNumMeshes)
            add_part(reading.scene->mMeshes[node->mMeshes[i]], to_library, node);
    for (unsigned i = 0; i < node->mNumChildren; i++)
        if (node->mChildren[i]) walk_nodes(node->mChildren[i], to_library, depth + 1);
}

std::string metadata_string(const aiScene* scene, const char* key) {
    aiString value;
    if (scene->mMetaData && scene->mMetaData->Get(key, value)) return value.C_Str();
    return "";
}

// The library's axis conversion for the file as a signed permutation: the
// root node's rotation for readers that put it there, else none. Row r says
// which file axis (and sign) became library axis r.
void file_to_library(const aiScene* scene, int rotating, int c[3][3]) {
    std::memset(c, 0, sizeof(int) * 9);
    for (int i = 0; i < 3; i++) c[i][i] = 1;
    if (!rotating) return;
    const aiMatrix4x4& t = scene->mRootNode->mTransformation;
    const float rows[3][3] = {{t.a1, t.a2, t.a3}, {t.b1, t.b2, t.b3}, {t.c1, t.c2, t.c3}};
    int snapped[3][3] = {}, used = 0;
    for (int r = 0; r < 3; r++) {
        int k = 0;
        for (int j = 1; j < 3; j++)
            if (std::fabs(rows[r][j]) > std::fabs(rows[r][k])) k = j;
        if (!(std::fabs(rows[r][k]) > 0.0f)) return;
        snapped[r][k] = rows[r][k] > 0 ? 1 : -1;
        used |= 1 << k;
    }
    if (used == 7) std::memcpy(c, snapped, sizeof snapped);
}

// Formats that do not say their up axis but whose makers hold to one, as
// the library hands them out: the extension, lower case, the up axis and
// the front (-1: the default for that up) in the library's coordinates.
// Quake's MD2 and IQM models are z-up facing +x; the library turns them
// y-up and keeps +x.
struct FormatUp {
    const char* extension;
    int up_index;
    int front_index, front_sign;
    const char* why;
};

const FormatUp format_ups[] = {
    {"blend", 2, -1, 1, "Blend files are z-up"},
    {"stl", 2, -1, 1, "STL does not say; most STL files are z-up"},
    {"md2", 1, 0, 1, "MD2 models stand on y and face +x as the reader gives them"},
    {"iqm", 1, 0, 1, "IQM models stand on y and face +x as the reader gives them"},
    {"x", 1, -1, 1, "X files are y-up"},
    {"lwo", 1, -1, 1, "LWO files are y-up"},
    {"lws", 1, -1, 1, "LWS files are y-up"},
    {"ac", 1, -1, 1, "AC files are y-up"},
    {"obj", 1, -1, 1, "OBJ does not say; y-up is the usual"},
};

std::string lower_extension(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char& ch : ext)
        if (ch >= 'A' && ch <= 'Z') ch = (char)(ch - 'A' + 'a');
    return ext;
}

// Sets the model's right, up and front in the file's own coordinates, then
// into library axes. Up is a signed axis; front is the one asked for, or by
// default right x up with right = +x (or -y when x is up), the way y-up
// formats face +z and z-up formats -y. Then right and front are turned
// `turn` degrees about up: the model turns counter-clockwise seen from above,
// so the side that faces the camera is front turned back by that angle.
void set_axes(ImportAxes* a, int up_index, int up_sign, int front_index, int front_sign, double turn,
              const int c[3][3]) {
    double up[3] = {0, 0, 0}, right[3] = {0, 0, 0}, front[3] = {0, 0, 0};
    up[up_index] = up_sign;
    if (front_index >= 0) {
        front[front_index] = front_sign;
        for (int k = 0; k < 3; k++)  // right = up x front
            right[k] = up[(k + 1) % 3] * front[(k + 2) % 3] - up[(k + 2) % 3] * front[(k + 1) % 3];
    } else {
        if (up_index == 0)
            right[1] = -up_sign;
        else
            right[0] = 1;
        for (int k = 0; k < 3; k++)  // front = right x up
            front[k] = right[(k + 1) % 3] * up[(k + 2) % 3] - right[(k + 2) % 3] * up[(k + 1) % 3];
    }
    if (turn != 0.0) {
        const double angle = turn * 3.14159265358979323846 / 180.0, cs = std::cos(angle), sn = std::sin(angle);
        double turned_right[3], turned_front[3];
        for (int k = 0; k < 3; k++) {
            turned_right[k] = cs * right[k] + sn * front[k];
            turned_front[k] = cs * front[k] - sn * right[k];
        }
        std::memcpy(right, turned_right, sizeof right);
        std::memcpy(front, turned_front, sizeof front);
    }
    for (int r = 0; r < 3; r++) {
        a->right[r] = a->up[r] = a->front[r] = 0;
        for (int k = 0; k < 3; k++) {
            a->right[r] += c[r][k] * right[k];
            a->up[r] += c[r][k] * up[k];
            a->front[r] += c[r][k] * front[k];
        }
    }
    a->up_axis = (char)('x' + up_index);
    a->up_negative = up_sign < 0;
    int f = 0;
    for (int k = 1; k < 3; k++)
        if (std::fabs(front[k]) > std::fabs(front[f])) f = k;
    a->front_axis = (char)('x' + f);
    a->front_negative = front[f] < 0;
    a->turn = turn;
}

// The library's failure in plain words, with its own text after them.
std::string reader_failure(const std::string& path, const std::string& text) {
    const std::string extension = lower_extension(path);
    std::string plain = "the reader could not read this file";
    if (text.find("No suitable reader") != std::string::npos) {
        plain = extension == "gltf"
                    ? "cannot read this glTF file: the .bin buffers or images it names must lie where it says "
                      "(beside it, as a rule), or it is damaged"
                    : "no reader knows this kind of file (by its name and its first bytes); it may be damaged";
    } else if (text.find("contains no faces") != std::string::npos) {
        plain = "a mesh in the file has no faces (points or lines only, or faces the reader could not take)";
    } else if (text.find("parse") != std::string::npos || text.find("number") != std::string::npos) {
        plain = "a value in the file cannot be read: the file is damaged or of a variant the reader does not know";
    } else if (text.find("nexpected end") != std::string::npos || text.find("too small") != std::string::npos ||
               text.find("EOF") != std::string::npos) {
        plain = "the file ends too early: it is cut short or damaged";
    } else if (text.find("open") != std::string::npos) {
        plain = "the file, or one it names, cannot be opened";
    }
    return text.empty() ? plain : plain + " (the reader says: " + text + ")";
}

// Quake 3 levels: the library takes a .bsp only from inside its .pk3
// package, and in a package it builds faces whose corners lie outside their
// mesh, which its own validation then refuses. A level is refused here
// instead, in words that say what to give instead: "" when the file is no
// level (by its name, or the BSP magic of its first bytes).
std::string level_refusal(const std::string& path) {
    const std::string extension = lower_extension(path);
    unsigned char head[8] = {};
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // a named pipe must not stall
    if (fd >= 0) {
        if (read(fd, head, sizeof head) != (ssize_t)sizeof head) head[0] = 0;
        close(fd);
    }
    const int ibsp = std::memcmp(head, "IBSP", 4) == 0;
    const uint32_t version = head[4] | head[5] << 8 | head[6] << 16 | (uint32_t)head[7] << 24;
    if (extension != "pk3" && extension != "bsp" && !ibsp) return "";
    const char* kind = extension == "pk3" || (ibsp && (version == 46 || version == 47)) ? "a Quake 3 level (.bsp/.pk3)"
                                                                                         : "a BSP game level";
    return std::string(kind) + " cannot be imported; export its geometry as OBJ, glTF or 3DS";
}

// A guessed up gives way when the model would not stand that way: it
// touches the ground in a patch but its centre of mass lies outside it, as
// a 3DS animal written y-up does, lying on its side or its back. It then
// stands on the widest base that holds it, as a slicer lays a part down. A
// model that stands as guessed is left so, and so is one that touches at a
// single point, which was set on that point on purpose (a spinning top, a
// model on a spike). (file_up, sign) is the file's axis; c turns file axes
// into the library's.
void stand_on_widest_base(ImportModel* model, const int c[3][3], int* file_up, int* sign, int* front_index) {
    StableBase bases[6];
    import_stable_bases(model, bases);
    int guess = 0;  // the guess's base: the library axis the file's up becomes
    for (int r = 0; r < 3; r++)
        if (c[r][*file_up]) guess = 2 * r + (c[r][*file_up] * *sign < 0);
    if (bases[guess].stable || !(bases[guess].area > point_base)) return;
    int best = guess;
    for (int b = 0; b < 6; b++)
        if (bases[b].stable && (best == guess || bases[b].area > bases[best].area)) best = b;
    if (best == guess) return;
    for (int k = 0; k < 3; k++)
        if (c[bases[best].axis][k]) *file_up = k, *sign = bases[best].sign * c[bases[best].axis][k];
    *front_index = -1;
    model->axes.why = "the file does not say (" + model->axes.why +
                      "), and the model would not stand that way up; this way up it stands on its widest base";
}

void read_axes(const aiScene* scene, const ImportOptions* options, const std::string& path, ImportModel* model) {
    int rotating = 0;
    for (const char* r : rotating_readers) rotating |= model->format == r;
    int c[3][3];
    file_to_library(scene, rotating, c);
    ImportAxes* a = &model->axes;
    a->guessed = 0;
    int up_index = 1, up_sign = 1;
    int32_t fbx_axis = -1, fbx_sign = 1;
    const std::string extension = lower_extension(path);
    if (options->up) {
        up_index = options->up - 'x';
        up_sign = options->up_negative ? -1 : 1;
        a->why = "as --up says";
    } else if (rotating) {  // the file axis the library turned to +y
        for (int k = 0; k < 3; k++)
            if (c[1][k]) up_index = k, up_sign = c[1][k];
        a->why = model->format == rotating_readers[0] ? "3DS files are z-up by convention; the file does not say"
                                                       : "the file's up_axis says so";
        a->guessed = model->format == rotating_readers[0];
    } else if (scene->mMetaData && scene->mMetaData->Get("UpAxis", fbx_axis) && fbx_axis >= 0 && fbx_axis < 3) {
        scene->mMetaData->Get("UpAxisSign", fbx_sign);
        up_index = fbx_axis;
        up_sign = fbx_sign < 0 ? -1 : 1;
        a->why = "the file's UpAxis says so";
    } else if (model->format.find("glTF") != std::string::npos) {
        a->why = "glTF files are y-up";
    } else {
        a->why = (extension.empty() ? std::string("this format") : extension + " files") + " do not say; y-up is the usual";
        a->guessed = 1;
    }
    int front_index = -1, front_sign = 1;
    if (!options->up && !rotating && a->guessed)
        for (const FormatUp& f : format_ups)
            if (extension == f.extension) {
                up_index = f.up_index;
                front_index = f.front_index;
                front_sign = f.front_sign;
                a->why = f.why;
            }
    if (!options->up && a->guessed) stand_on_widest_base(model, c, &up_index, &up_sign, &front_index);
    if (options->front) {
        front_index = options->front - 'x';
        front_sign = options->front_negative ? -1 : 1;
    }
    if (front_index == up_index) {  // the caller checks --up against --front; a file's own up can still meet it
        a->why += "; --front along the up axis is left out";
        front_index = -1;
    }
    set_axes(a, up_index, up_sign, front_index, front_sign, options->turn, c);
}

}  // namespace

int import_fail(const std::string& why) {
    failure.reason = why;
    return 0;
}

const char* import_error() { return failure.reason.c_str(); }

int import_read(const char* model_path, const ImportOptions* options, ImportModel* model) {
    *model = ImportModel{};
    failure.reason.clear();
    std::string path = model_path;
    size_t slash = path.rfind('/');
    model->folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    model->stem = path.substr(slash == std::string::npos ? 0 : slash + 1);
    model->stem = model->stem.substr(0, model->stem.rfind('.'));
    const std::string level = level_refusal(path);
    if (!level.empty()) return import_fail(level);
    int ok = 0;
    try {
        // No log file and no default streams: only the warnings, kept as notes.
        Assimp::DefaultLogger::create(nullptr, Assimp::Logger::NORMAL, 0);
        Assimp::DefaultLogger::get()->attachStream(new NoteStream, Assimp::Logger::Warn | Assimp::Logger::Err);
        reading = ReadState{model, nullptr, 0};
        Assimp::Importer importer;
        const aiScene* scene = importer.ReadFile(
            model_path, aiProcess_Triangulate | aiProcess_JoinIdenticalVertices | aiProcess_ValidateDataStructure |
                            aiProcess_GenUVCoords | aiProcess_TransformUVCoords);
        if (!scene || !scene->mRootNode) {
            import_fail(reader_failure(path, importer.GetErrorString()));
        } else {
            reading.scene = scene;
            model->format = metadata_string(scene, AI_METADATA_SOURCE_FORMAT);
            if (model->format.empty()) model->format = "model";
            model->materials.resize(scene->mNumMaterials);
            model->embedded.resize(scene->mNumTextures);
            for (unsigned i = 0; i < scene->mNumTextures; i++) read_embedded(scene->mTextures[i], &model->embedded[i]);
            for (unsigned i = 0; i < scene->mNumMaterials; i++) read_material(scene->mMaterials[i], &model->materials[i]);
            if (model->materials.empty()) model->materials.push_back(ImportMaterial{"", Rgba8{200, 200, 200, 255}, "", -1});
            walk_nodes(scene->mRootNode, Affine{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}}, 0);
            if (reading.node_visits > max_node_visits) model->notes.push_back("node tree too large: only part of it read");
            read_axes(scene, options, path, model);
            ok = 1;
        }
    } catch (const std::bad_alloc&) {
        import_fail("out of memory");
    } catch (const std::exception& e) {
        import_fail(e.what());
    } catch (...) {
        import_fail("the reader failed");
    }
    reading = ReadState{};
    Assimp::DefaultLogger::kill();  // and with it the stream
    if (!ok && failure.reason.empty()) failure.reason = "the reader failed";
    return ok;
}
