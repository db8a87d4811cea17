// The frame on every core; frame.h describes the division of the work.
//
// A frame runs four jobs on the worker pool, each a list of independent
// items:
//   1. vertices:     vertex chunks into both views.
//   2. faces:        face chunks into light records, grouped by band; the
//                    corners of light-facing faces marked.
//   3. light rows:   bands: light records walked, resolved, cone applied;
//                    and face chunks into camera records, grouped by band.
//   4. camera rows:  bands: camera records walked and shaded; and vertex
//                    chunks storing the marked corners' light-view
//                    positions into the vertices, as the light pass must.
// Between jobs the warnings are drawn, on the calling thread.
//
// A camera record needs its corners' light-view positions: this frame's
// for a corner of any light-facing face, the one the vertex kept from
// earlier frames otherwise. Job 3 gives every corner this frame's, without
// looking at the marks. That changes nothing drawn: the corners that keep an
// old position belong only to faces turned away from the light, whose ids
// the light resolve never writes, so every pixel of theirs is in shadow
// wherever its light-view position points. Only the light pass's warnings
// put other words into the shadow buffer; a frame that draws one makes its
// camera records again, with the marks, before job 4.
//
// When the light's pose is the camera's, bit for bit (at the start, and
// after F11 until the camera moves), both passes see the same faces through
// the same arithmetic: the light's records would hold the camera records'
// rows, edges and depth planes, so their spans would be the same, piece for
// piece. The camera records are then made in job 2 and walked once, in job
// 3; the light resolve reads those rows and the camera resolve reads them
// again in job 4.
#include "pipeline/frame.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "pipeline/object_pass.h"
#include "pipeline/records.h"
#include "pipeline/workers.h"
#include "math/clip.h"
#include "raster/engine.h"
#include "raster/resolve.h"
#include "raster/views.h"
#include "scene/scene.h"
#include "texture/cone.h"
#include "texture/image.h"

namespace {

const int32_t band_rows = 12;          // rows per band: enough bands to share out, few enough to walk
// Items per chunk: at most these, and fewer for a small world, so that it
// still makes enough chunks for every thread to get a fair share (each face
// chunk walks a band table per band, so chunks are not made tiny).
const int32_t face_chunk_size = 256;   // faces per chunk
const int32_t face_chunk_min = 64;
const int32_t vertex_chunk_size = 2048;
const int32_t vertex_chunk_min = 256;
const int32_t chunks_wanted = 32;      // per job, when the world is small

int32_t chunk_size(int32_t total, int32_t least, int32_t most) {
    int32_t size = total / chunks_wanted;
    return size < least ? least : size > most ? most : size;
}

// One object drawn this frame, seen from both eyes.
struct FrameObject {
    SceneObject* object;
    const Scene* scene;    // owner of the materials
    ObjectView light;
    ObjectView camera;
    int32_t vertex_base;   // its first vertex in the per-vertex arrays
};

struct Chunk {
    int32_t object;  // index into the frame's objects
    int32_t first;   // first face or vertex
    int32_t count;
};

// An 8-byte unit of record storage, left uninitialised when the storage
// grows: every byte is a record's, written before it is read.
struct RecordWord {
    uint64_t bits;
    RecordWord() {}
};

// The records one face chunk made in one pass, and for every band the
// offsets of those that reach it, in face order.
struct ChunkRecords {
    std::vector<RecordWord> storage;  // records back to back (8-byte units)
    size_t used;                    // bytes
    std::vector<int32_t> band_start;  // band b: offsets[band_start[b] .. band_start[b + 1])
    std::vector<uint32_t> offsets;    // byte offsets of records
    std::vector<int32_t> band_fill;   // scratch for grouping: next free entry per band
    int failed;                       // 1: this frame's records found no memory; the chunk draws nothing
};

// Every screen row's span list, cut into bands that each own a pool, and
// the camera records (per face chunk) whose shading the spans point to.
struct RowSet {
    std::vector<ScanlineSpanList> lists;    // every row, row 0 first
    std::vector<SpanRows> bands;
    std::vector<ChunkRecords> camera_records;
};

struct FrameEngine {
    int ready;                              // the frame's rows allocated
    Screen screen;                          // the screen the rows were made for
    int32_t band_count;
    RowSet frame_rows;                      // the frames' rows, kept until the next frame
    RowSet picture_rows;                    // the light view's own, made when first drawn
    std::vector<ResolveCounts> light_counts;   // per band, of the latest drawing
    std::vector<ResolveCounts> camera_counts;
    // Bands are handed out costliest first (by their time in the latest
    // frame), so no thread is left with a long band when the others are done.
    std::vector<int32_t> light_order;          // band of each item
    std::vector<int32_t> camera_order;
    std::vector<double> light_cost;            // ms per band, latest frame
    std::vector<double> camera_cost;
    std::vector<FrameObject> objects;
    std::vector<Chunk> vertex_chunks;
    std::vector<Chunk> face_chunks;
    std::vector<ChunkRecords> light_records;   // per face chunk (the camera's are the rows')
    std::vector<ViewVertex> light_vertices;    // per vertex of the frame's objects, in the light's view
    std::vector<ViewVertex> camera_vertices;   // and in the camera's
    std::unique_ptr<std::atomic<uint8_t>[]> light_facing;  // per vertex: light_mark when a light-facing
    size_t light_facing_size;                               // face uses it this frame
    uint8_t light_mark;  // this frame's mark, 1..255; all marks are cleared when it comes round again
    std::vector<uint8_t> faced;  // per face id, with the surface rule: faced_mark when the face turns
    uint8_t faced_mark;          // towards the light this frame; 1..255, cleared as light_facing is
    std::atomic<long> storage_allocated;    // bytes allocated for the storage above since frame_init
    long storage_limit = -1;                // test hook: storage_allocated may not grow past it; -1: none
    int storage_failed;                     // the frame's objects and chunks found no memory: nothing drawn
    int share_eyes;                         // the shortcut above may be taken (tests turn it off)
    // the latest frame, which the views show
    int drawn;                              // a frame was drawn into the rows and targets below
    FrameScene drawn_scene;
    FrameTargets drawn_targets;
    SurfacePatches drawn_surface;           // the surface rule as the frame applied it,
    int drawn_surface_on;                   // with its faced marks; 0: not applied
    int picture_ready;                      // picture_rows allocated
    std::vector<uint32_t> picture_shadow;   // the light view's shadow buffer
};

// One drawing of the passes: everything its jobs read besides the frame's
// working storage. Made on the stack by render_passes and handed to every
// job as its context.
struct Pass {
    const FrameScene* scene;
    const FrameTargets* targets;
    const Screen* screen;
    RowSet* rows;          // the rows the passes walk and resolve
    ShadeSettings shade;   // the camera resolve's
    int surface_rule;      // the scene's surface rule may apply (the frame's own passes)
    SurfacePatches surface;  // the rule with this frame's faced marks, when shade.surface points here
    int shared;            // light and camera see through one eye
    int write_vertices;    // the light-view positions go into the vertices
    uint32_t* display;     // gets each band of the frame as it is finished, or null
    int32_t lit_first;     // rows [lit_first, lit_end) of the light's view hold every
    int32_t lit_end;       // pixel the cone lets light through (set by render_passes)
};

FrameEngine frame = {};

// The two kinds of pass: the frame itself, which keeps the light-view
// positions in the vertices and applies the surface rule; and a picture of
// the latest frame, which changes nothing the next frame reads.
enum PassKind { PASS_FRAME, PASS_PICTURE };

Pass make_pass(const FrameScene* scene, const FrameTargets* targets, RowSet* rows, PassKind kind, uint32_t* display) {
    Pass pass = {};
    pass.scene = scene;
    pass.targets = targets;
    pass.screen = &frame.screen;
    pass.rows = rows;
    pass.surface_rule = kind == PASS_FRAME;
    pass.write_vertices = kind == PASS_FRAME;
    pass.display = display;
    return pass;
}

// Whether n more bytes of storage may be taken (the test hook's limit).
int storage_allowed(size_t n) {
    return frame.storage_limit < 0 || frame.storage_allocated + (long)n <= frame.storage_limit;
}

// Makes a vector at least n long, counting the bytes of any new storage.
// Storage only grows; a frame that needs no more than earlier ones
// allocates nothing. 0, with the vector as it was, when memory ran out:
// this runs on the workers, and no exception may leave one.
template <class T>
int grow_to(std::vector<T>* v, size_t n) {
    if (v->size() >= n) return 1;
    if (!storage_allowed(n * sizeof(T))) return 0;
    size_t before = v->capacity();
    try {
        v->resize(n);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (v->capacity() != before) frame.storage_allocated += (long)(v->capacity() * sizeof(T));
    return 1;
}

void add_objects(Scene* scene, int32_t* vertices) {
    for (int32_t i = 0; i < scene->object_count; i++) {
        SceneObject* o = &scene->objects[i];
        FrameObject fo;
        fo.object = o;
        fo.scene = scene;
        fo.vertex_base = *vertices;
        frame.objects.push_back(fo);
        *vertices += o->vertex_count;
    }
}

void add_chunks(std::vector<Chunk>* chunks, int32_t object, int32_t total, int32_t size) {
    for (int32_t first = 0; first < total; first += size)
        chunks->push_back(Chunk{object, first, total - first < size ? total - first : size});
}

// Every chunk's band table, so that a chunk whose records find no memory
// can always be left with no records in any band.
int size_band_tables(std::vector<ChunkRecords>* records) {
    const size_t bands = (size_t)frame.band_count;
    for (size_t c = 0; c < frame.face_chunks.size(); c++) {
        ChunkRecords* r = &(*records)[c];
        if (!grow_to(&r->band_start, bands + 1) || !grow_to(&r->band_fill, bands)) return 0;
    }
    return 1;
}

// The frame's objects, chunks, per-vertex arrays and the records' band
// tables; storage only grows. 0 when memory ran out (the object and chunk
// lists throw instead).
int gather_objects(const FrameScene* scene, RowSet* rows) {
    frame.objects.clear();
    int32_t vertices = 0;
    add_objects(scene->world, &vertices);
    if (scene->marker_on && scene->marker) add_objects(scene->marker, &vertices);
    frame.vertex_chunks.clear();
    frame.face_chunks.clear();
    int32_t faces = 0;
    for (const FrameObject& fo : frame.objects) faces += fo.object->face_count;
    const int32_t face_chunk = chunk_size(faces, face_chunk_min, face_chunk_size);
    const int32_t vertex_chunk = chunk_size(vertices, vertex_chunk_min, vertex_chunk_size);
    for (int32_t o = 0; o < (int32_t)frame.objects.size(); o++) {
        FrameObject* fo = &frame.objects[o];
        object_view_begin(&fo->light, &fo->object->matrix, &scene->light_pose, &frame.screen);
        object_view_begin(&fo->camera, &fo->object->matrix, &scene->camera_pose, &frame.screen);
        add_chunks(&frame.vertex_chunks, o, fo->object->vertex_count, vertex_chunk);
        add_chunks(&frame.face_chunks, o, fo->object->face_count, face_chunk);
    }
    if (!grow_to(&frame.light_records, frame.face_chunks.size()) ||
        !grow_to(&rows->camera_records, frame.face_chunks.size()) || !size_band_tables(&frame.light_records) ||
        !size_band_tables(&rows->camera_records) || !grow_to(&frame.light_vertices, (size_t)vertices) ||
        !grow_to(&frame.camera_vertices, (size_t)vertices))
        return 0;
    int clear = ++frame.light_mark == 0;
    if (frame.light_facing_size < (size_t)vertices) {
        if (!storage_allowed((size_t)vertices)) return 0;
        frame.light_facing.reset(new (std::nothrow) std::atomic<uint8_t>[(size_t)vertices]);
        frame.light_facing_size = frame.light_facing ? (size_t)vertices : 0;
        if (!frame.light_facing) return 0;
        frame.storage_allocated += (long)vertices;
        clear = 1;
    }
    if (clear) {  // no mark left from an earlier frame may equal this frame's
        for (size_t i = 0; i < frame.light_facing_size; i++) frame.light_facing[i].store(0, std::memory_order_relaxed);
        frame.light_mark = 1;
    }
    return 1;
}

// A fresh mark for the faces that turn towards the light this frame, with
// room for ids below id_count; 0 when memory ran out (the rule is then
// left out of the frame).
int mark_faced(uint32_t id_count) {
    const size_t before = frame.faced.size();
    if (!grow_to(&frame.faced, (size_t)id_count)) return 0;
    if (++frame.faced_mark == 0 || frame.faced.size() != before) {
        std::fill(frame.faced.begin(), frame.faced.end(), (uint8_t)0);
        frame.faced_mark = 1;
    }
    return 1;
}

// gather_objects; when memory ran out, no chunks at all: the frame then
// draws nothing and reports the memory warning in both passes.
void gather_frame(const FrameScene* scene, RowSet* rows) {
    int ok;
    try {
        ok = gather_objects(scene, rows);
    } catch (const std::bad_alloc&) {
        ok = 0;
    }
    if (!ok) {
        frame.vertex_chunks.clear();
        frame.face_chunks.clear();
    }
    frame.storage_failed = !ok;
}

// Room for one more record of at most POLYGON_RECORD_MAX bytes; null, with
// the chunk marked failed, when memory ran out.
void* record_room(ChunkRecords* r) {
    size_t need = r->used + POLYGON_RECORD_MAX;
    if (r->storage.size() * 8 < need && !grow_to(&r->storage, (need + 7) / 8 * 2)) {
        r->failed = 1;
        return nullptr;
    }
    return (char*)r->storage.data() + r->used;
}

// Before a chunk's faces: room for a record of a triangle's size per face,
// so the storage is sized once instead of doubling along the way. Where
// that much cannot be had, record_room still grows it as far as it needs.
const size_t light_triangle_record = 88, camera_triangle_record = 160;  // bytes

void reserve_records(ChunkRecords* r, int32_t faces, size_t typical_record) {
    size_t want = (size_t)faces * typical_record + POLYGON_RECORD_MAX;
    if (r->storage.size() * 8 < want) grow_to(&r->storage, (want + 7) / 8);
}

const PolygonRecord* record_at(const ChunkRecords* r, uint32_t offset) {
    return (const PolygonRecord*)((const char*)r->storage.data() + offset);
}

// The bands a record's rows reach, first and last. A record's rows lie on
// the screen, so the divisions are of whole numbers >= 0.
void record_bands(const PolygonRecord* p, int32_t* first, int32_t* last) {
    *first = (int32_t)((uint32_t)p->first_row / (uint32_t)band_rows);
    *last = (int32_t)((uint32_t)(p->first_row + p->row_count - 1) / (uint32_t)band_rows);
}

// Groups the chunk's records by the bands their rows reach, keeping their
// order within each band. A failed chunk (gather_objects sized its band
// tables) is left with no records in any band.
void group_by_band(ChunkRecords* r) {
    const int32_t bands = frame.band_count;
    if (r->failed) r->used = 0;
    std::fill(r->band_start.begin(), r->band_start.begin() + bands + 1, 0);
    size_t entries = 0;
    for (size_t at = 0; at < r->used;) {
        const PolygonRecord* p = record_at(r, (uint32_t)at);
        int32_t b0, b1;
        record_bands(p, &b0, &b1);
        for (int32_t b = b0; b <= b1; b++) r->band_start[(size_t)b + 1]++;
        entries += (size_t)(b1 - b0 + 1);
        at += p->size;
    }
    if (!grow_to(&r->offsets, entries)) {
        r->failed = 1;
        r->used = 0;
        std::fill(r->band_start.begin(), r->band_start.begin() + bands + 1, 0);
        return;
    }
    for (int32_t b = 0; b < bands; b++) r->band_start[(size_t)b + 1] += r->band_start[(size_t)b];
    std::copy(r->band_start.begin(), r->band_start.begin() + bands, r->band_fill.begin());
    for (size_t at = 0; at < r->used;) {
        const PolygonRecord* p = record_at(r, (uint32_t)at);
        int32_t b0, b1;
        record_bands(p, &b0, &b1);
        for (int32_t b = b0; b <= b1; b++) r->offsets[(size_t)r->band_fill[(size_t)b]++] = (uint32_t)at;
        at += p->size;
    }
}

// -- the items of the four jobs -------------------------------------------------

void transform_vertices(const Pass* pass, int32_t c) {
    const Chunk& ch = frame.vertex_chunks[(size_t)c];
    const FrameObject& fo = frame.objects[(size_t)ch.object];
    const SceneVertex* vertices = fo.object->vertices + ch.first;
    size_t base = (size_t)fo.vertex_base + (size_t)ch.first;
    if (!pass->shared) object_view_vertices(&fo.light, vertices, ch.count, &frame.light_vertices[base]);
    object_view_vertices(&fo.camera, vertices, ch.count, &frame.camera_vertices[base]);
}

// Whether a light record has a row in [first, end). Each row is walked and
// resolved on its own, so a record with none changes no lit row: its rows
// are all dark, cleared by the cone whatever their spans, and it is not kept.
int record_in_rows(const void* record, int32_t first, int32_t end) {
    const PolygonRecord* p = (const PolygonRecord*)record;
    return p->first_row < end && p->first_row + p->row_count > first;
}

// Each light row's lit columns (ConeRuns::lit_columns), outside which
// cone_sweep clears the shadow buffer after the light's walk; null where the
// cone is not given as runs of the screen's size.
const int32_t* cone_columns(const FrameScene* scene, const Screen* screen) {
    const ConeRuns* runs = scene->cone_runs;
    if (!scene->cone_mask || !runs || runs->width != screen->width || runs->height != screen->height) return nullptr;
    return runs->lit_columns;
}

// The columns of each light row the frame reads: the cone's lit ones. Null
// (all of them) where the light is the camera, whose rows the camera pass
// reads whole.
const int32_t* light_columns(const Pass* pass) {
    return pass->shared ? nullptr : cone_columns(pass->scene, pass->screen);
}

void light_faces(const Pass* pass, int32_t c) {
    const Chunk& ch = frame.face_chunks[(size_t)c];
    const FrameObject& fo = frame.objects[(size_t)ch.object];
    const SceneObject* object = fo.object;
    const ViewVertex* view = &frame.light_vertices[(size_t)fo.vertex_base];
    std::atomic<uint8_t>* marks = &frame.light_facing[(size_t)fo.vertex_base];
    ChunkRecords* r = &frame.light_records[(size_t)c];
    r->used = 0;
    r->failed = 0;
    reserve_records(r, ch.count, light_triangle_record);
    uint32_t entries[face_chunk_size];
    const ClassifyExtras extras = {light_columns(pass), marks, frame.light_mark};
    const int32_t n = object_pass_classify(&fo.light, object, ch.first, ch.count, view, &extras, entries);
    if (pass->shade.surface) {  // every entry turns towards the light: the surface rule may light it
        const uint32_t id_count = pass->surface.id_count;
        for (int32_t i = 0; i < n; i++) {
            const uint32_t id = (uint32_t)object->faces[entries[i] >> 2].face_id;
            if (id < id_count) frame.faced[id] = frame.faced_mark;
        }
    }
    for (int32_t i = 0; i < n; i++) {
        const SceneFace* face = &object->faces[entries[i] >> 2];
        const int action = (int)(entries[i] & 3);
        if (action == CLIP_DROP) continue;
        void* room = record_room(r);
        if (!room) break;  // the chunk is skipped
        size_t size = object_pass_light_record(&fo.light, face, view, action, room);
        if (size && record_in_rows(room, pass->lit_first, pass->lit_end)) r->used += size;
    }
    group_by_band(r);
}

// Where camera_faces takes the corners' light-view positions from.
enum LightViews {
    LIGHT_VIEWS_FRESH = 0,   // every corner this frame's (see the top of this file)
    LIGHT_VIEWS_MARKED = 1,  // this frame's for marked corners, the vertex's own otherwise
    LIGHT_VIEWS_SHARED = 2,  // the light is the camera: every face here faces the light too,
                             // so its corners are marked, with their camera-view positions
};

void camera_faces(const Pass* pass, int32_t c, LightViews source) {
    const Chunk& ch = frame.face_chunks[(size_t)c];
    const FrameObject& fo = frame.objects[(size_t)ch.object];
    const SceneObject* object = fo.object;
    const ViewVertex* view = &frame.camera_vertices[(size_t)fo.vertex_base];
    const ViewVertex* light_view = &frame.light_vertices[(size_t)fo.vertex_base];
    std::atomic<uint8_t>* marks = &frame.light_facing[(size_t)fo.vertex_base];
    const LightViewSource light = source == LIGHT_VIEWS_SHARED ? LightViewSource{view, nullptr, 0}
                                  : source == LIGHT_VIEWS_FRESH ? LightViewSource{light_view, nullptr, 0}
                                                                : LightViewSource{light_view, marks, frame.light_mark};
    ChunkRecords* r = &pass->rows->camera_records[(size_t)c];
    r->used = 0;
    r->failed = 0;
    reserve_records(r, ch.count, camera_triangle_record);
    uint32_t entries[face_chunk_size];
    const ClassifyExtras extras = {nullptr, marks, frame.light_mark};
    const int32_t n = object_pass_classify(&fo.camera, object, ch.first, ch.count, view,
                                           source == LIGHT_VIEWS_SHARED ? &extras : nullptr, entries);
    for (int32_t i = 0; i < n; i++) {
        const SceneFace* face = &object->faces[entries[i] >> 2];
        const int action = (int)(entries[i] & 3);
        if (action == CLIP_DROP) continue;
        void* room = record_room(r);
        if (!room) break;  // the chunk is skipped
        r->used += object_pass_camera_record(&fo.camera, face, view, action, &light, fo.scene->materials,
                                             fo.scene->material_count, room);
    }
    group_by_band(r);
}

// Walks every record that reaches band b into its rows, chunk by chunk: the
// records in face order, as one thread drawing the whole frame inserts them.
// Spans outside `columns` (null: none) are left out.
void walk_band(const Pass* pass, int32_t b, const std::vector<ChunkRecords>& records, const int32_t* columns) {
    SpanRows* rows = &pass->rows->bands[(size_t)b];
    span_rows_reset(rows);
    rows->columns = columns;
    SpanNode span = {};
    for (size_t c = 0; c < frame.face_chunks.size(); c++) {
        const ChunkRecords* r = &records[c];
        for (int32_t i = r->band_start[(size_t)b]; i < r->band_start[(size_t)b + 1]; i++)
            polygon_walk(record_at(r, r->offsets[(size_t)i]), rows, &span);
    }
}

// Outside the cone no surface is recorded, so nothing there is lit: rows
// [first_row, first_row + row_count) of the shadow buffer are cleared there,
// from the mask's runs when the scene has them. Without them every word is
// written back (unchanged inside the cone), which lets the compiler sweep
// several pixels per instruction.
void cone_sweep(const Pass* pass, int32_t first_row, int32_t row_count) {
    const RgbImage* cone = pass->scene->cone_mask;
    if (!cone) return;
    uint32_t* shadow_buffer = pass->targets->shadow_buffer;
    if (const ConeRuns* runs = pass->scene->cone_runs) {
        cone_runs_clear(runs, first_row, row_count, shadow_buffer);
        return;
    }
    const size_t width = (size_t)pass->screen->width, first = (size_t)first_row * width;
    const uint32_t* mask = cone->pixels + first;
    uint32_t* shadow = shadow_buffer + first;
    for (size_t i = 0, count = (size_t)row_count * width; i < count; i++)
        shadow[i] = (mask[i] & 0xFFu) < (uint32_t)CONE_THRESHOLD ? 0u : shadow[i];
}

void light_rows(const Pass* pass, int32_t b) {
    walk_band(pass, b, pass->shared ? pass->rows->camera_records : frame.light_records, light_columns(pass));
    const SpanRows* rows = &pass->rows->bands[(size_t)b];
    resolve_light_rows(rows, pass->targets->shadow_buffer, pass->screen->width, &frame.light_counts[(size_t)b]);
    cone_sweep(pass, rows->first_row, rows->row_count);
}

// The band's rows also go to the display while they are in the cache.
void camera_rows(const Pass* pass, int32_t b) {
    if (!pass->shared) walk_band(pass, b, pass->rows->camera_records, nullptr);
    const SpanRows* rows = &pass->rows->bands[(size_t)b];
    ShadeState state;
    shade_begin(&state, &pass->shade, pass->screen);
    resolve_camera_rows(rows, pass->targets->frame_buffer, &state, &frame.camera_counts[(size_t)b]);
    if (pass->display) {
        const size_t width = (size_t)pass->screen->width, first = (size_t)rows->first_row * width;
        std::memcpy(pass->display + first, pass->targets->frame_buffer + first, (size_t)rows->row_count * width * 4);
    }
}

// The light pass leaves every light-facing corner's light-view position in
// its vertex; the others keep what they had.
void store_light_view(const Pass* pass, int32_t c) {
    const Chunk& ch = frame.vertex_chunks[(size_t)c];
    const FrameObject& fo = frame.objects[(size_t)ch.object];
    size_t base = (size_t)fo.vertex_base + (size_t)ch.first;
    const std::vector<ViewVertex>& light_view = pass->shared ? frame.camera_vertices : frame.light_vertices;
    for (int32_t i = 0; i < ch.count; i++) {
        if (frame.light_facing[base + (size_t)i].load(std::memory_order_relaxed) != frame.light_mark) continue;
        SceneVertex* vertex = &fo.object->vertices[ch.first + i];
        const ViewVertex* v = &light_view[base + (size_t)i];
        vertex->lx = v->x;
        vertex->ly = v->y;
        vertex->lz = v->z;
    }
}

// The kinds of item the jobs are made of; each does one thing.
void light_band(const Pass* pass, int32_t item) {
    const int32_t b = frame.light_order[(size_t)item];
    const double t0 = frame_clock_ms();
    light_rows(pass, b);
    frame.light_cost[(size_t)b] = frame_clock_ms() - t0;
}

void camera_band(const Pass* pass, int32_t item) {
    const int32_t b = frame.camera_order[(size_t)item];
    const double t0 = frame_clock_ms();
    camera_rows(pass, b);
    frame.camera_cost[(size_t)b] = frame_clock_ms() - t0;
}

void shared_camera_faces(const Pass* pass, int32_t c) { camera_faces(pass, c, LIGHT_VIEWS_SHARED); }
void fresh_camera_faces(const Pass* pass, int32_t c) { camera_faces(pass, c, LIGHT_VIEWS_FRESH); }
void marked_camera_faces(const Pass* pass, int32_t c) { camera_faces(pass, c, LIGHT_VIEWS_MARKED); }

// A job: one or two parts, each a count of items of one kind, run as one
// list on the pool (items of the first part first), so that the second
// part's items fill the gaps the first one's leave towards the job's end
// and no thread waits between them.
struct JobPart {
    void (*run)(const Pass* pass, int32_t item);
    int32_t count;
};

struct Job {
    const Pass* pass;
    JobPart parts[2];
};

void job_item(void* context, int32_t item) {
    const Job* job = (const Job*)context;
    const JobPart& first = job->parts[0];
    if (item < first.count)
        first.run(job->pass, item);
    else
        job->parts[1].run(job->pass, item - first.count);
}

void run_job(const Pass* pass, JobPart first, JobPart second = JobPart{nullptr, 0}) {
    const Job job = {pass, {first, second}};
    workers_run(job_item, (void*)&job, first.count + second.count);
}

// The next frame's band order: costliest first. Which thread draws a band
// never changes what is drawn.
void order_bands(std::vector<int32_t>* order, const std::vector<double>& cost) {
    std::sort(order->begin(), order->end(), [&](int32_t a, int32_t b) {
        return cost[(size_t)a] > cost[(size_t)b] || (cost[(size_t)a] == cost[(size_t)b] && a < b);
    });
}

// The warnings of a pass from its bands' counts and pools, and from the
// records it walked (a chunk that found no memory is as short of it as a
// full pool), drawn into `buffer` and, when it is given, into the display,
// which got the pass's rows before the warnings were drawn (text is drawn
// over whatever is there, so both end up the same).
uint32_t draw_pass_warnings(const Pass* pass, const std::vector<ResolveCounts>& counts,
                            const std::vector<ChunkRecords>& records, uint32_t* buffer, uint32_t* display,
                            int32_t* spans) {
    int32_t overlaps = 0, out_of_memory = frame.storage_failed;
    *spans = 0;
    for (int32_t b = 0; b < frame.band_count; b++) {
        overlaps += counts[(size_t)b].overlaps;
        *spans += counts[(size_t)b].spans;
        out_of_memory |= span_pool_status(&pass->rows->bands[(size_t)b].pool) == -1;
    }
    for (size_t c = 0; c < frame.face_chunks.size(); c++) out_of_memory |= records[c].failed;
    uint32_t drawn = resolve_draw_warnings(overlaps, out_of_memory, buffer);
    if (display) resolve_draw_warnings(overlaps, out_of_memory, display);
    return drawn;
}

// Lists for every row and a band for every band_rows of them; 0 when they
// or a band's pool could not be allocated (destroy_rows releases what was
// made).
int make_rows(RowSet* set) {
    const int32_t height = frame.screen.height;
    try {
        set->lists.assign((size_t)height, ScanlineSpanList{});
        set->bands.assign((size_t)frame.band_count, SpanRows{});
    } catch (const std::bad_alloc&) {
        return 0;
    }
    int made = height > 0;
    for (int32_t b = 0; b < frame.band_count; b++) {
        int32_t first = b * band_rows;
        int32_t count = height - first < band_rows ? height - first : band_rows;
        if (!span_rows_create(&set->bands[(size_t)b], &set->lists[(size_t)first], first, count, frame.screen.width))
            made = 0;
    }
    return made;
}

void destroy_rows(RowSet* set) {
    for (SpanRows& rows : set->bands) span_rows_destroy(&rows);
    set->bands.clear();
    set->lists.clear();
    std::vector<ChunkRecords>().swap(set->camera_records);
}

size_t screen_pixels() { return (size_t)frame.screen.width * (size_t)frame.screen.height; }

// What make_rows allocates for a width x height screen: the lists, the
// bands and each band's first pool block, row spares, hints and floors.
size_t rows_bytes(int width, int height) {
    const size_t rows = height > 0 ? (size_t)height : 0, columns = width > 0 ? (size_t)width : 0;
    const size_t bands = (rows + band_rows - 1) / band_rows;
    const size_t hints = ((columns + (1u << SPAN_HINT_SHIFT) - 1) >> SPAN_HINT_SHIFT) * sizeof(SpanNode*);
    const size_t floors = ((columns + (1u << SPAN_FLOOR_SHIFT) - 1) >> SPAN_FLOOR_SHIFT) * sizeof(float);
    const size_t block = ((size_t)SPAN_POOL_FIRST_BLOCK + 1) * sizeof(SpanNode);
    return rows * (sizeof(ScanlineSpanList) + hints + floors) + bands * (sizeof(SpanRows) + block);
}

int eyes_shared(const FrameScene* scene) {
    return frame.share_eyes && std::memcmp(&scene->light_pose, &scene->camera_pose, sizeof(Matrix4)) == 0;
}

// The frame's passes, in their order, into the pass's targets and rows.
void render_passes(Pass* pass, FrameReport* report) {
    double t0 = frame_clock_ms();
    *report = FrameReport{};
    const FrameScene* scene = pass->scene;
    const FrameTargets* targets = pass->targets;
    pass->shared = eyes_shared(scene);
    pass->shade = ShadeSettings{targets->shadow_buffer, scene->shadow_factor, select_span_fill(scene->bilinear),
                                cone_columns(scene, pass->screen), nullptr};
    pass->lit_first = 0;
    pass->lit_end = frame.screen.height;
    if (scene->cone_runs) {
        pass->lit_first = scene->cone_runs->lit_first;
        pass->lit_end = scene->cone_runs->lit_end;
    } else if (scene->cone_mask) {
        cone_mask_lit_rows(scene->cone_mask, &pass->lit_first, &pass->lit_end);
    }
    gather_frame(scene, pass->rows);
    // Where the light is the camera, every face's pixels find its own id
    // wherever they are lit, so the surface rule would change nothing.
    if (scene->surface && pass->surface_rule && !pass->shared && mark_faced(scene->surface->id_count)) {
        pass->surface = *scene->surface;
        pass->surface.faced = frame.faced.data();
        pass->surface.faced_mark = frame.faced_mark;
        pass->shade.surface = &pass->surface;
    }
    const int32_t vertex_chunks = (int32_t)frame.vertex_chunks.size();
    const int32_t face_chunks = (int32_t)frame.face_chunks.size();

    // 1. Every vertex into both views.
    run_job(pass, {transform_vertices, vertex_chunks});
    double t1 = frame_clock_ms();
    // 2. The light's records, marking the corners of light-facing faces; with
    // the eyes shared, the camera's records, which serve both passes.
    if (pass->shared)
        run_job(pass, {shared_camera_faces, face_chunks});
    else
        run_job(pass, {light_faces, face_chunks});
    double t2 = frame_clock_ms();
    // 3. The light's bands, resolved and swept by the cone; with two eyes,
    // the camera's records beside them (they read no marks).
    run_job(pass, {light_band, frame.band_count}, {fresh_camera_faces, pass->shared ? 0 : face_chunks});
    const std::vector<ChunkRecords>& light_records = pass->shared ? pass->rows->camera_records : frame.light_records;
    report->light_warnings = draw_pass_warnings(pass, frame.light_counts, light_records, targets->shadow_buffer,
                                                nullptr, &report->light_spans);
    if (report->light_warnings) {
        cone_sweep(pass, 0, frame.screen.height);  // the warnings were drawn after the bands' sweeps
        if (!pass->shared) run_job(pass, {marked_camera_faces, face_chunks});
    }
    double t3 = frame_clock_ms();
    // 4. The camera's bands, shaded; and the light-view positions kept in the vertices.
    run_job(pass, {camera_band, frame.band_count}, {store_light_view, pass->write_vertices ? vertex_chunks : 0});
    report->camera_warnings = draw_pass_warnings(pass, frame.camera_counts, pass->rows->camera_records,
                                                 targets->frame_buffer, pass->display, &report->camera_spans);
    order_bands(&frame.light_order, frame.light_cost);
    order_bands(&frame.camera_order, frame.camera_cost);
    double t4 = frame_clock_ms();
    report->vertices = t1 - t0;
    report->faces = t2 - t1;
    report->light_rows = t3 - t2;
    report->camera_rows = t4 - t3;
    report->total = t4 - t0;
}

// -- a frame nobody sees ---------------------------------------------------------
// frame_advance's three jobs: the light's view of every vertex, the light's
// facing test marking corners, and the marked corners' positions stored.
// With the eyes shared, frame_render takes both from the camera's view,
// which is then the light's to the bit, and tests faces without the cone's
// columns; the classification here follows it.

void advance_vertices(const Pass*, int32_t c) {
    const Chunk& ch = frame.vertex_chunks[(size_t)c];
    const FrameObject& fo = frame.objects[(size_t)ch.object];
    const size_t base = (size_t)fo.vertex_base + (size_t)ch.first;
    object_view_vertices(&fo.light, fo.object->vertices + ch.first, ch.count, &frame.light_vertices[base]);
}

void advance_faces(const Pass* pass, int32_t c) {
    const Chunk& ch = frame.face_chunks[(size_t)c];
    const FrameObject& fo = frame.objects[(size_t)ch.object];
    std::atomic<uint8_t>* marks = &frame.light_facing[(size_t)fo.vertex_base];
    const ClassifyExtras extras = {light_columns(pass), marks, frame.light_mark};
    uint32_t entries[face_chunk_size];
    object_pass_classify(&fo.light, fo.object, ch.first, ch.count, &frame.light_vertices[(size_t)fo.vertex_base],
                         &extras, entries);
}

void advance_store(const Pass*, int32_t c) {
    Pass unshared = {};  // the light's own vertices hold the positions here
    store_light_view(&unshared, c);
}

// -- views of the latest frame -------------------------------------------------

void draw_frame(uint32_t* out) {
    std::memcpy(out, frame.drawn_targets.frame_buffer, screen_pixels() * 4);
}

void draw_ids(uint32_t* out) { view_ids(frame.drawn_targets.shadow_buffer, out, screen_pixels()); }

// The light view's own rows and shadow buffer, made the first time they are
// wanted and kept; 0 when memory ran out (nothing is kept then).
int prepare_light() {
    if (frame.picture_ready) return 1;
    int made = make_rows(&frame.picture_rows);
    if (made) {
        try {
            frame.picture_shadow.resize(screen_pixels());
        } catch (const std::bad_alloc&) {
            made = 0;
        }
    }
    if (!made) {
        destroy_rows(&frame.picture_rows);
        std::vector<uint32_t>().swap(frame.picture_shadow);
        return 0;
    }
    frame.picture_ready = 1;
    return 1;
}

size_t light_bytes(int width, int height) {
    return rows_bytes(width, height) + (size_t)(width > 0 ? width : 0) * (size_t)(height > 0 ? height : 0) * 4;
}

// The latest frame's scene with the camera at the light's pose, drawn by the
// same passes into rows and a shadow buffer of the view's own: the frame's
// rows, buffers and the vertices' light-view positions stay as the frame
// left them, so the frames that follow are drawn as if it never was.
// Where its rows or shadow buffer find no memory, the picture is black with
// the memory warning on it.
void draw_light(uint32_t* out) {
    if (!prepare_light()) {
        std::memset(out, 0, screen_pixels() * 4);
        resolve_draw_warnings(0, 1, out);
        return;
    }
    FrameScene scene = frame.drawn_scene;
    scene.camera_pose = scene.light_pose;
    FrameTargets targets = {out, frame.picture_shadow.data(), nullptr, FRAME_VIEW_FRAME};
    Pass pass = make_pass(&scene, &targets, &frame.picture_rows, PASS_PICTURE, nullptr);
    FrameReport report;
    render_passes(&pass, &report);
}

void spans_band(const SpanRows* rows, uint32_t* out) { view_spans(rows, out, frame.screen.width); }
void levels_band(const SpanRows* rows, uint32_t* out) { view_levels(rows, out, frame.screen.width); }

void shadow_band(const SpanRows* rows, uint32_t* out) {
    // No lit columns: the view shows each pixel's own verdict, so no run is
    // taken for dark without its lookups.
    ShadeSettings settings = {frame.drawn_targets.shadow_buffer, frame.drawn_scene.shadow_factor, fill_each_run<fill_verdict>,
                              nullptr, frame.drawn_surface_on ? &frame.drawn_surface : nullptr};
    ShadeState state;
    shade_begin(&state, &settings, &frame.screen);
    view_shadow(rows, out, &state, frame.drawn_scene.cone_mask);
}

struct ViewEntry {
    const char* name;
    const char* legend;                                 // what the colours mean; null for the frame
    void (*draw)(uint32_t* out);                        // the whole picture, or null:
    void (*band)(const SpanRows* rows, uint32_t* out);  // the frame's bands, on every thread
    int (*prepare)();                                   // makes the storage of its own; null: none
    size_t (*bytes)(int width, int height);             // what prepare allocates; null: nothing
};

const ViewEntry views[] = {
    {"frame", nullptr, draw_frame, nullptr, nullptr, nullptr},
    {"spans", "a colour per visible span", nullptr, spans_band, nullptr, nullptr},
    {"ids", "the faces the light sees", draw_ids, nullptr, nullptr, nullptr},
    {"light", "the world from the light", draw_light, nullptr, prepare_light, light_bytes},
    {"levels", "x level red, y level green", nullptr, levels_band, nullptr, nullptr},
    {"shadow", "lit, hidden, outside, none", nullptr, shadow_band, nullptr, nullptr},
};
static_assert(sizeof views / sizeof views[0] == FRAME_VIEW_COUNT, "one entry per FrameView");

struct BandView {
    const ViewEntry* view;
    uint32_t* out;
};

void job_view_band(void* context, int32_t b) {
    const BandView* job = (const BandView*)context;
    job->view->band(&frame.frame_rows.bands[(size_t)b], job->out);
}

}  // namespace

int frame_init(int threads, const Screen* screen) {
    frame_shutdown();
    frame.share_eyes = 1;
    frame.screen = *screen;
    frame.band_count = (screen->height + band_rows - 1) / band_rows;
    frame.drawn = 0;
    const size_t bands = (size_t)frame.band_count;
    int made = 1;
    try {
        frame.light_counts.assign(bands, ResolveCounts{});
        frame.camera_counts.assign(bands, ResolveCounts{});
        frame.light_cost.assign(bands, 0.0);
        frame.camera_cost.assign(bands, 0.0);
        frame.light_order.resize(bands);
        frame.camera_order.resize(bands);
    } catch (const std::bad_alloc&) {
        made = 0;
    }
    if (!made || !make_rows(&frame.frame_rows)) {  // no threads are started for frames that cannot be drawn
        destroy_rows(&frame.frame_rows);
        return 0;
    }
    for (int32_t b = 0; b < frame.band_count; b++) frame.light_order[(size_t)b] = frame.camera_order[(size_t)b] = b;
    frame.ready = 1;
    return workers_start(threads);
}

void frame_shutdown() {
    workers_stop();
    destroy_rows(&frame.frame_rows);
    destroy_rows(&frame.picture_rows);
    frame.picture_ready = 0;
    std::vector<uint32_t>().swap(frame.picture_shadow);
    // The objects, chunks, records and view vertices go too: the next
    // frame_init starts from nothing, as the first one did.
    std::vector<FrameObject>().swap(frame.objects);
    std::vector<Chunk>().swap(frame.vertex_chunks);
    std::vector<Chunk>().swap(frame.face_chunks);
    std::vector<ChunkRecords>().swap(frame.light_records);
    std::vector<ViewVertex>().swap(frame.light_vertices);
    std::vector<ViewVertex>().swap(frame.camera_vertices);
    frame.light_facing.reset();
    frame.light_facing_size = 0;
    frame.storage_allocated = 0;
    frame.ready = frame.drawn = 0;
}

int frame_threads() { return workers_count(); }

// The display shows the frame, copied band by band as each is finished, or
// a view of it drawn afterwards; this is the only place that is decided.
void frame_render(const FrameScene* scene, const FrameTargets* targets, FrameReport* report) {
    frame.drawn = 0;
    if (!frame.ready) {  // no rows: nothing can be drawn
        *report = FrameReport{};
        std::memset(targets->shadow_buffer, 0, screen_pixels() * 4);
        std::memset(targets->frame_buffer, 0, screen_pixels() * 4);
        if (targets->display) std::memset(targets->display, 0, screen_pixels() * 4);
        return;
    }
    const int show_frame = targets->view == FRAME_VIEW_FRAME || frame_view_name(targets->view) == nullptr;
    Pass pass = make_pass(scene, targets, &frame.frame_rows, PASS_FRAME, show_frame ? targets->display : nullptr);
    render_passes(&pass, report);
    frame.drawn = 1;
    frame.drawn_surface = pass.surface;
    frame.drawn_surface_on = pass.shade.surface != nullptr;
    frame.drawn_scene = *scene;
    frame.drawn_targets = *targets;
    if (!show_frame && targets->display) frame_draw_view(targets->view, targets->display);
}

void frame_advance(const FrameScene* scene) {
    frame.drawn = 0;
    if (!frame.ready) return;  // frame_render would draw nothing either
    Pass pass = make_pass(scene, nullptr, &frame.frame_rows, PASS_FRAME, nullptr);
    pass.shared = eyes_shared(scene);
    gather_frame(scene, pass.rows);
    const int32_t vertex_chunks = (int32_t)frame.vertex_chunks.size();
    run_job(&pass, {advance_vertices, vertex_chunks});
    run_job(&pass, {advance_faces, (int32_t)frame.face_chunks.size()});
    run_job(&pass, {advance_store, vertex_chunks});
}

double frame_clock_ms() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

const ScanlineSpanList* frame_span_lists() { return frame.ready ? frame.frame_rows.lists.data() : nullptr; }

long frame_span_pool_nodes() {
    long nodes = 0;
    for (const RowSet* set : {&frame.frame_rows, &frame.picture_rows})
        for (const SpanRows& rows : set->bands) nodes += span_pool_node_count(&rows.pool);
    return nodes;
}

long frame_storage_bytes() { return frame.storage_allocated.load(); }

void frame_share_eyes(int allow) { frame.share_eyes = allow; }

void frame_storage_limit(long bytes) { frame.storage_limit = bytes; }

const char* frame_view_name(int view) { return view >= 0 && view < FRAME_VIEW_COUNT ? views[view].name : nullptr; }

const char* frame_view_legend(int view) {
    return view >= 0 && view < FRAME_VIEW_COUNT ? views[view].legend : nullptr;
}

int frame_view_find(const char* name) {
    for (int v = 0; v < FRAME_VIEW_COUNT; v++)
        if (std::strcmp(views[v].name, name) == 0) return v;
    return -1;
}

int frame_view_prepare(int view) {
    if (view < 0 || view >= FRAME_VIEW_COUNT) return 0;
    if (!views[view].prepare) return 1;
    return frame.ready && views[view].prepare();
}

size_t frame_view_bytes(int view, int width, int height) {
    return view >= 0 && view < FRAME_VIEW_COUNT && views[view].bytes ? views[view].bytes(width, height) : 0;
}

size_t frame_rows_bytes(int width, int height) { return rows_bytes(width, height); }

int frame_draw_view(int view, uint32_t* out) {
    if (!frame.drawn || view < 0 || view >= FRAME_VIEW_COUNT) return 0;
    if (views[view].draw) {
        views[view].draw(out);
    } else {
        BandView job = {&views[view], out};
        workers_run(job_view_band, &job, frame.band_count);
    }
    return 1;
}
