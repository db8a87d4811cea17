// The demo data: a walled courtyard with a tiled floor, two arcades, crates,
// an obelisk and steps, laid out in front of the start camera (world
// (0, 30, -50), looking along +z, world +x on the left of the screen); the
// star-shaped marker; and the marker's path through the lit middle.
#pragma once

#include <string>

#include "asset/mesh.h"

// Where the program's camera starts, in world coordinates.
enum { START_EYE_X = 0, START_EYE_Y = 30, START_EYE_Z = -50 };

void demo_world_build(SceneBuild* scene);
void demo_star_build(SceneBuild* scene);
// "Pos.txt": the point count, then one "x y z" line per point.
std::string demo_path_text();
// Number of points demo_path_text writes, and point i of them.
int demo_path_count();
Vec3 demo_path_point(int i);
