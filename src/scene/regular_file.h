// Opening the files the readers read (3DS scenes, TGA and BMP images, the
// marker path): regular files only. A named pipe would block the open or the
// read for ever, and a device or /proc file reports a size of 0, so neither
// is ever read as data. Every reader of the program and its tools opens its
// file here.
#pragma once

#include <cstdio>

// The file opened for binary reading, or null with *why set to "cannot open
// file" (missing, no permission) or "not a regular file". Never blocks: the
// type is checked before the open and again on the open descriptor, which is
// opened without waiting for a pipe's writer.
FILE* regular_file_open(const char* file_name, const char** why);
