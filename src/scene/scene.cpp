// The scene records' shared state: the process-wide face id counter.
#include "scene/scene.h"

namespace {
int32_t face_id_counter = 1;  // process-wide; 0 is "no face" in the shadow buffer
}

int32_t scene_next_face_id() { return face_id_counter++; }
int32_t scene_peek_face_id() { return face_id_counter; }
