#include "app/log.h"

#include <cstdio>

namespace {
const char* const log_file_name = "Engine.log";
}

void log_start() {
    FILE* f = std::fopen(log_file_name, "w");
    if (!f) return;
    std::fputs("__________Varnel - Log__________\n", f);
    std::fclose(f);
}

void log_line(const char* text) {
    FILE* f = std::fopen(log_file_name, "a");
    if (!f) return;
    std::fprintf(f, "%s\n", text);
    std::fclose(f);
}
