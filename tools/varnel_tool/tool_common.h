// What the varnel-tool commands share: option parsing, the one-line error
// report, and the files every data folder holds besides its world.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "asset/asset_file.h"

// "varnel-tool COMMAND: what" on stderr; returns 1, the exit code.
int error_line(const char* command, const char* what);
// 1, after error_line's report, when `out` exists and `force` is not given:
// no command replaces a file without --force. 0 when it may be written.
int output_blocked(const char* command, const char* out, int force);

// Splits "--force" and "--name VALUE" options from positional arguments.
struct Arguments {
    int force;
    std::vector<const char*> positional;
    std::vector<std::pair<std::string, const char*>> values;
};

// `valued` lists the options that take a value, null-terminated. 0 with *bad
// naming an unknown option or one without its value.
int parse_arguments(int argc, char** argv, const char* const* valued, Arguments* a, const char** bad);
const char* option_value(const Arguments& a, const char* name);
int parse_int(const char* s, int lo, int hi, int* out);
int folder_is_empty(const char* path);

// One file of a data folder, relative to it, with its contents.
struct DataFile {
    std::string name;
    ByteBuffer data;
};

// "Textures/<material>.tga" drawn by the demo's procedural painter of that
// name. 0 with *why when there is none or it cannot be encoded.
int procedural_texture_file(const std::string& material, std::vector<DataFile>* files, std::string* why);
// The marker "Star.3ds" with its textures, the spotlight cone "Cone.tga" and
// the font "Font.bmp", from our own generators. *marker_materials receives
// the marker's material names, which the world must not take.
int data_files_shared(std::vector<DataFile>* files, std::vector<std::string>* marker_materials, std::string* why);
