// The smooth-surface rule's patches: within a patch every face lies close
// to its first face's plane; neighbours are patches that touch and turn by
// less than the near angle, so a box's sides never light each other; faces
// of objects apart are never one patch.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

#include "pipeline/surface.h"
#include "synthetic_scene.h"

namespace {

using namespace synthetic;

TEST(SurfacePatches, SmoothWithinCreasesBetweenObjectsApart) {
    World world;
    Mesh box, ball, other;
    box.box({-20, 0, -5}, {-8, 12, 7}, 3, 0);
    ball.sphere({12, 9, 4}, 9, 24, 36, 0);
    other.box({30, 0, 0}, {34, 4, 4}, 2, 0);
    world.add(box);
    world.add(ball);
    world.add(other);
    Scene* scene = world.finish();
    const uint32_t id_count = (uint32_t)scene_peek_face_id();
    SurfacePatches* p = surface_patches_build(&scene, 1, id_count, &SURFACE_SHAPE);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->id_count, id_count);
    const float crease = std::cos(SURFACE_SHAPE.crease_degrees * 3.14159265f / 180.0f);
    const float near = std::cos(SURFACE_SHAPE.near_degrees * 3.14159265f / 180.0f);
    std::vector<const SceneFace*> first;  // per patch: the face it grew from (the first in face order)
    std::vector<std::set<uint32_t>> objects_of;
    long ball_neighbours = 0;
    for (int o = 0; o < scene->object_count; o++)
        for (int f = 0; f < scene->objects[o].face_count; f++) {
            const SceneFace& face = scene->objects[o].faces[f];
            const uint32_t patch = p->patch_of[face.face_id];
            ASSERT_GE(patch, 1u);
            if (first.size() <= patch) first.resize(patch + 1, nullptr), objects_of.resize(patch + 1);
            if (!first[patch]) first[patch] = &face;
            objects_of[patch].insert((uint32_t)o);
            const SceneFace& s = *first[patch];
            EXPECT_GE(face.plane_nx * s.plane_nx + face.plane_ny * s.plane_ny + face.plane_nz * s.plane_nz, crease - 1e-6f);
        }
    for (uint32_t patch = 1; patch < first.size(); patch++) {
        if (!first[patch]) continue;
        EXPECT_EQ(objects_of[patch].size(), 1u) << "a patch within one object";
        for (uint32_t i = p->near_start[patch]; i < p->near_start[patch + 1]; i++) {
            const uint32_t q = p->near[i];
            EXPECT_NE(q, patch);
            if (i > p->near_start[patch]) {
                EXPECT_LT(p->near[i - 1], q) << "ascending";
            }
            ASSERT_LT(q, first.size());
            const SceneFace &a = *first[patch], &b = *first[q];
            EXPECT_GE(a.plane_nx * b.plane_nx + a.plane_ny * b.plane_ny + a.plane_nz * b.plane_nz, near - 1e-6f)
                << "a box's sides are never neighbours";
            EXPECT_EQ(objects_of[q], objects_of[patch]);
            ball_neighbours += *objects_of[q].begin() == 1;
        }
    }
    EXPECT_GT(ball_neighbours, 100) << "a sphere's patches light across their edges";
    surface_patches_free(p);
}

}  // namespace
