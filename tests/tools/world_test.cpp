// The demo world's geometry as a span renderer needs it: a few thousand
// triangles, big flat surfaces as a few large faces whose textures repeat at
// the material's density, no cracks where faces meet, no slivers, and a start
// view whose faces cover few screen rows (every covered row of every face is
// one span insertion in each pass).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "demo_fixture.h"
#include "math/clip.h"
#include "scene/load3ds.h"

namespace {

Vec3 position(const SceneVertex* v) { return Vec3{v->x, v->y, v->z}; }
Vec3 sub(Vec3 a, Vec3 b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 cross(Vec3 a, Vec3 b) { return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
float length(Vec3 a) { return std::sqrt(dot(a, a)); }

float face_area(const SceneFace& f) {
    Vec3 a = position(f.corners[0]);
    return 0.5f * length(cross(sub(position(f.corners[1]), a), sub(position(f.corners[2]), a)));
}

// Area of the face in texture repeats squared.
float mapped_area(const SceneFace& f) {
    const SceneVertex *a = f.corners[0], *b = f.corners[1], *c = f.corners[2];
    return 0.5f * std::fabs((b->u - a->u) * (c->v - a->v) - (c->u - a->u) * (b->v - a->v));
}

class DemoWorld : public DemoData {
protected:
    void SetUp() override {
        DemoData::SetUp();
        world = scene_load(file("Svet.3ds").c_str());
        ASSERT_NE(world, nullptr) << scene_load_error();
    }
    void TearDown() override { scene_free(world); }
    const SceneObject* object(const char* name) const {
        for (int i = 0; i < world->object_count; i++)
            if (std::strcmp(world->objects[i].name, name) == 0) return &world->objects[i];
        ADD_FAILURE() << "no object " << name;
        return nullptr;
    }
    Scene* world = nullptr;
};

TEST_F(DemoWorld, StaysWithinItsTriangleBudgetWithAFloorOfFewFaces) {
    int faces = 0;
    for (int i = 0; i < world->object_count; i++) faces += world->objects[i].face_count;
    EXPECT_GE(faces, 2000);
    EXPECT_LE(faces, 3000);
    const SceneObject* floor = object("Floor");
    ASSERT_NE(floor, nullptr);
    EXPECT_LE(floor->face_count, 64);
    // The few faces still cover the whole courtyard (400 x 580), flat at y = 0.
    double area = 0;
    for (int j = 0; j < floor->face_count; j++) {
        area += face_area(floor->faces[j]);
        for (int k = 0; k < 3; k++) ASSERT_EQ(floor->faces[j].corners[k]->y, 0.0f);
    }
    EXPECT_GE(area, 400.0 * 580.0);
    // The shape is in the pillars and arches: they hold most of the triangles.
    EXPECT_GT(object("ArcadeLeft")->face_count, faces / 4);
}

// Every face of a big surface shows its material at the same number of
// texels per world unit: the texture repeats across large faces instead of
// stretching over them.
TEST_F(DemoWorld, BigSurfacesRepeatTheirTextureAtOneDensity) {
    struct Surface {
        const char* object;
        float repeat;  // world units per texture repeat
    };
    for (Surface s : {Surface{"Floor", 80.0f}, Surface{"WallLeft", 64.0f}, Surface{"WallRight", 64.0f},
                      Surface{"WallFar", 64.0f}, Surface{"WallNear", 64.0f}}) {
        SCOPED_TRACE(s.object);
        const SceneObject* o = object(s.object);
        ASSERT_NE(o, nullptr);
        float lowest = 1e9f, highest = -1e9f;
        for (int j = 0; j < o->face_count; j++) {
            const SceneFace& f = o->faces[j];
            EXPECT_NEAR(mapped_area(f) * s.repeat * s.repeat / face_area(f), 1.0f, 0.01f) << "face " << j;
            for (int k = 0; k < 3; k++) {
                lowest = std::fmin(lowest, std::fmin(f.corners[k]->u, f.corners[k]->v));
                highest = std::fmax(highest, std::fmax(f.corners[k]->u, f.corners[k]->v));
            }
        }
        // Mapping coordinates beyond 0..1, but small enough that texel
        // coordinates (repeats x 256 texels) stay far inside 16.16.
        EXPECT_GT(highest, 1.5f);
        EXPECT_GE(lowest, 0.0f);
        EXPECT_LT(highest, 32.0f);
    }
}

// Where two faces meet along a line, an end point of one face's edge lying
// inside the other's edge (a T-junction) lets the two sides of the line be
// walked from different end points, which can leave a crack of background
// pixels along it. (A vertex merely resting on another face, say on a
// diagonal of a plinth's top, is harmless: no edge runs along that line.)
struct Edge {
    Vec3 a, b;
};

// p on the line through e, within `slack` world units of its ends.
bool on_line(const Edge& e, Vec3 p, float* t) {
    Vec3 ab = sub(e.b, e.a);
    float len = length(ab);
    *t = dot(sub(p, e.a), ab) / (len * len);
    return length(cross(sub(p, e.a), ab)) / len < 0.001f;
}

bool strictly_inside(const Edge& e, Vec3 p) {
    float t, len = length(sub(e.b, e.a));
    return on_line(e, p, &t) && t * len > 0.01f && (1.0f - t) * len > 0.01f;
}

TEST_F(DemoWorld, FacesMeetEdgeToEdgeWithoutTJunctions) {
    for (int i = 0; i < world->object_count; i++) {
        const SceneObject& o = world->objects[i];
        std::vector<Edge> edges;
        for (int j = 0; j < o.face_count; j++)
            for (int k = 0; k < 3; k++)
                edges.push_back(Edge{position(o.faces[j].corners[k]), position(o.faces[j].corners[(k + 1) % 3])});
        int junctions = 0;
        for (const Edge& e : edges)
            for (const Edge& f : edges) {
                float t;
                if (strictly_inside(e, f.a) && on_line(e, f.b, &t)) junctions++;
            }
        EXPECT_EQ(junctions, 0) << o.name;
    }
}

TEST_F(DemoWorld, HasNoSliverOrDegenerateFaces) {
    for (int i = 0; i < world->object_count; i++) {
        const SceneObject& o = world->objects[i];
        float worst = 0.0f;
        for (int j = 0; j < o.face_count; j++) {
            const SceneFace& f = o.faces[j];
            float longest = 0.0f;
            for (int k = 0; k < 3; k++)
                longest = std::fmax(longest, length(sub(position(f.corners[k]), position(f.corners[(k + 1) % 3]))));
            float altitude = 2.0f * face_area(f) / longest;
            ASSERT_GT(altitude, 1.0f) << o.name << " face " << j;
            worst = std::fmax(worst, longest / altitude);
        }
        EXPECT_LE(worst, 16.0f) << o.name << ": longest edge over height";
    }
}

// Screen rows covered by the faces the start camera draws, through the
// engine's own frustum clipping: the span insertions of one pass.
long start_view_rows(const SceneObject& o) {
    const Vec3 eye = {0.0f, 30.0f, -50.0f};
    ViewFrustum frustum;
    build_view_frustum(396.0f, 296.0f, 200.0f, &frustum);
    long rows = 0;
    for (int j = 0; j < o.face_count; j++) {
        const SceneFace& f = o.faces[j];
        if (f.plane_nx * eye.x + f.plane_ny * eye.y + f.plane_nz * eye.z + f.plane_d > 0.1f) continue;
        ClipVertex v[3] = {};
        for (int k = 0; k < 3; k++) {  // the start view: world x and y turned over, z ahead
            v[k].x = eye.x - f.corners[k]->x;
            v[k].y = eye.y - f.corners[k]->y;
            v[k].z = f.corners[k]->z - eye.z;
        }
        ClipPolygon p = clip_triangle(v, &frustum);
        float top = 1e9f, bottom = -1e9f;
        for (int k = 0; k < p.count; k++) {
            float y = 200.0f * p.v[k].y / p.v[k].z + 150.0f;
            top = std::fmin(top, y);
            bottom = std::fmax(bottom, y);
        }
        if (p.count > 0 && std::ceil(bottom) > std::ceil(top)) rows += (long)(std::ceil(bottom) - std::ceil(top));
    }
    return rows;
}

TEST_F(DemoWorld, StartViewCoversFewSpanRows) {
    long total = 0;
    for (int i = 0; i < world->object_count; i++) total += start_view_rows(world->objects[i]);
    // One face per tile cost about 2700 rows for the floor and 17600 in all.
    EXPECT_LT(start_view_rows(*object("Floor")), 1000);
    EXPECT_LT(total, 14000);
    EXPECT_GT(total, 5000) << "the view is not empty";
}

}  // namespace
