// Table-driven 3DS reader.
//
// scene_load reads the file twice: a counting pass sizes the object, camera,
// light and material arrays, a filling pass stores into them. Then every
// object gets its face planes, vertex normals and face ids, and every camera
// its pose. A file the reader rejects gives null; scene_load_error() then
// says why in a few words ("cannot open file", "chunk length below 6", ...).
#pragma once

#include <cstdio>

#include "scene/scene.h"

Scene* scene_load(const char* file_name);
const char* scene_load_error();

// Frees a scene and everything it owns (names, vertices, faces, key arrays;
// not material textures). The engine keeps its scenes for the whole run; tools
// and tests free theirs. Null is allowed.
void scene_free(Scene* scene);

// Recursive chunk walk from the current position up to `end`; 0 on success,
// nonzero to abort the load. Also used by the keyframer node handlers.
int read_chunks(FILE* file, long end);
