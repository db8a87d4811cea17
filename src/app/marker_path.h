// Marker path: a closed polyline read from "Pos.txt" (N, then N triples
// x y z), walked at constant speed, one lap per unit of t.
#pragma once

#include "math/vecmath.h"

enum { MARKER_PATH_NO_MEMORY = -1 };
// 1 when "Pos.txt" was read and the path is usable; 0 otherwise (the marker
// is then off), with one line on stderr saying why when the file exists;
// MARKER_PATH_NO_MEMORY, saying nothing, when its points found no memory.
int marker_path_load();
// The point at t laps; whole laps above 1.0 are removed one at a time.
Vec3 marker_path_position(float t);
void marker_path_free();
