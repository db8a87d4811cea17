// The program's command line: `varnel [--data DIR]` and `varnel --help`.
#pragma once

#include <cstdio>

// Reads the arguments and VARNEL_THREADS (into *threads; every core when
// unset) and enters the data folder (default: the working folder). -1 to go
// on and run; otherwise the exit code, after printing the help to `out` or
// one line about the problem to `err`.
int app_command_line(int argc, char** argv, FILE* out, FILE* err, int* threads);
// A thread count as the program and varnel-render take it: a whole number
// from 1 to 256; 0 for anything else.
int app_parse_threads(const char* text);
