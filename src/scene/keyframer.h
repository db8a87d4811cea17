// Keyframer chunk handlers of the 3DS reader (chunk 0xB000 and below).
// Internal to the scene reader: the chunk table calls them as handlers
// (file positioned after the chunk header, `end` the chunk's end offset;
// 0 to go on, nonzero to abort the load).
#pragma once

#include <cstdio>

#include "scene/scene.h"

// Starts a pass over a file: the handlers store into `scene` when counting is
// 0. Resets the node state, so no track ever acts on a record picked by an
// earlier pass or an earlier file.
void keyframer_begin_pass(Scene* scene, int counting);

int keyframer_object_node(FILE* file, long end);         // 0xB002
int keyframer_camera_node(FILE* file, long end);         // 0xB003
int keyframer_target_node(FILE* file, long end);         // 0xB004
int keyframer_segment(FILE* file, long end);             // 0xB008
int keyframer_node_header(FILE* file, long end);         // 0xB010
int keyframer_position_track(FILE* file, long end);      // 0xB020
int keyframer_rotation_track(FILE* file, long end);      // 0xB021
int keyframer_node_id(FILE* file, long end);             // 0xB030
