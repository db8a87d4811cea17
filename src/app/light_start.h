// Where the spotlight starts. A data folder may hold "Light.txt": the
// light's position and the point it aims at, six numbers in world units
// (x y z of the position, then x y z of the aim, on any lines, '#' starting
// a comment), then optional setting words. Without it the light starts as a
// copy of the camera. --light on the command line overrides the file.
#pragma once

#include "math/vecmath.h"

// Where the light's start comes from.
enum LightSource {
    LIGHT_FROM_FILE = 0,  // "Light.txt" when it is there and sound, else the camera
    LIGHT_AT_CAMERA,      // --light camera: a copy of the camera, whatever the file says
    LIGHT_GIVEN,          // --light X,Y,Z:AX,AY,AZ
};

// A light's start as the file or the command line gives it.
struct LightStart {
    Vec3 position;  // world units
    Vec3 aim;       // the point the light looks at; never the position
};

// What a data folder's "Light.txt" holds.
struct LightFile {
    LightStart start;
    int smooth;      // the word "smooth": the smooth-surface rule is on (raster/resolve.h)
};

extern const char* const LIGHT_FILE_NAME;  // "Light.txt"
// What --light takes, for the programs' help and refusals.
#define LIGHT_OPTION_TAKES "X,Y,Z:AX,AY,AZ (six finite numbers, the aim not on the light) or camera"

// Reads LIGHT_FILE_NAME from the working folder. 1 with *file set; 0 when
// there is none; -1 when it is there but unusable, with *why saying what is
// wrong (not numbers, not finite, too few, the aim on the position, an
// unknown word, not a regular file, unreadable).
int light_file_read(LightFile* file, const char** why);
// The same test on text held in memory (`size` bytes).
int light_text_parse(const char* text, long size, LightFile* file, const char** why);
// --light's value: "camera", or "X,Y,Z:AX,AY,AZ" (finite numbers, the aim
// not on the position). 1 with *source (and *start for LIGHT_GIVEN) set.
int light_option_parse(const char* text, LightSource* source, LightStart* start);
// The pose of a light at start.position looking at start.aim: its view's
// +z along the aim, its +x (the screen's right) level, its +y (the screen's
// down) towards the world's -y, as the start camera's are. A light looking
// straight up or down keeps world -x as its right. 0 when the aim is on
// the position.
int light_pose_from(const LightStart* start, Matrix4* pose);
