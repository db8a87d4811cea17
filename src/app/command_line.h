// The program's command line: `varnel [--data DIR] [--size WxH|screen]
// [--window]` and `varnel --help`.
#pragma once

#include <cstdio>
#include <string>

struct AppSettings;

// Reads the arguments and VARNEL_THREADS (every core when unset) into
// *settings and enters the data folder (default: the working folder). -1 to
// go on and run; otherwise the exit code, after printing the help to `out`
// or one line about the problem to `err`.
int app_command_line(int argc, char** argv, FILE* out, FILE* err, AppSettings* settings);
// A frame size as --size takes it: "WxH", two whole numbers of at most five
// digits each, which app_check_size then holds against the range; "screen"
// (0 x 0) only where `screen` allows it. 1, or 0 for anything else.
int app_parse_size(const char* text, int screen, int* width, int* height);
// A thread count as the program and varnel-render take it: a whole number
// from 1 to 256; 0 for anything else.
int app_parse_threads(const char* text);
// The line that refuses a --light value: what it takes, and `value`.
std::string app_light_option_help(const char* value);
// With no "Svet.3ds" in the working folder, the demo data folder installed
// beside the running program (<prefix>/share/varnel/data for
// <prefix>/bin/PROGRAM), after one line on `err` that names it; else null.
const char* app_installed_data(const char* program, FILE* err);
