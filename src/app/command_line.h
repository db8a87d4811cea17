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
// A frame size as --size takes it: "WxH", two whole numbers (a number past
// every accepted side is kept as 1000000), which app_check_size then holds
// against the range; "screen"
// (0 x 0) only where `screen` allows it. 1, or 0 for anything else.
int app_parse_size(const char* text, int screen, int* width, int* height);
// A thread count as the program and varnel-render take it: a whole number
// from 1 to 256; 0 for anything else.
int app_parse_threads(const char* text);
// The line that refuses a --light value: what it takes, and `value`.
std::string app_light_option_help(const char* value);
// The demo beside the running program: <prefix>/share/varnel/data for an
// installed <prefix>/bin/PROGRAM, else <dir>/data for a program in the
// build tree; "" when neither holds a world.
std::string app_demo_beside_program();
// Enters `data` (null: stays in the working folder); a folder without
// "Svet.3ds" when none was given is left for the demo beside the program,
// after one line on `err` naming it. 1 when the folder entered holds a
// world; else 0, after one line saying how to get one. Lines begin with
// app_program().
int app_enter_data(const char* data, FILE* err);
// VARNEL_THREADS when it is a count app_parse_threads takes, else one
// thread per core, after one warning line on `err` when it is set but not a
// count.
int app_threads_from_environment(FILE* err);
