// The object pass's AVX2 routines (object_pass_avx2.cpp): eight vertices or
// eight faces at a time, each lane through the same single-precision
// operations, in the same order, as object_pass.cpp's own loops, so the
// results are theirs bit for bit. object_pass.cpp hands them work only where
// the engine has chosen AVX2 (engine_simd_level); on other processors they
// are not built.
#pragma once

#include <cstdint>

#include "pipeline/object_pass.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define OBJECT_PASS_AVX2 1

// object_view_vertices for the largest multiple of eight of [0, count);
// returns how many it did.
int32_t object_view_vertices_avx2(const ObjectView* view, const SceneVertex* vertices, int32_t count,
                                  ViewVertex* out);
// object_pass_classify for first a multiple of 4 and count a multiple of 8,
// on an object with face_planes.
int32_t object_pass_classify_avx2(const ObjectView* eye, const SceneObject* object, int32_t first, int32_t count,
                                  const ViewVertex* view, const ClassifyExtras* extras, uint32_t* out);

#endif
