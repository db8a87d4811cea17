// Modes for the files and folders the tools create under temporary names
// (mkstemp and mkdtemp make them private) before moving them into place:
// what open() and mkdir() would have given them, the user's umask applied.
#pragma once

#include <sys/stat.h>

#include <cstdio>

// The process's umask, read without changing it: umask() can only be read by
// setting it, and in between any other thread would create its files with
// the wrong mode. Without /proc the most private mask, so a file is never
// more open than the user asked.
inline mode_t file_mode_umask() {
    mode_t mask = 077;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        unsigned value;
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = (mode_t)(value & 0777);
                break;
            }
        std::fclose(f);
    }
    return mask;
}

// 0666 for a file, 0777 for a folder, less the umask.
inline mode_t file_mode_new_file() { return 0666 & ~file_mode_umask(); }
inline mode_t file_mode_new_folder() { return 0777 & ~file_mode_umask(); }
