// Helpers for the import tests: running the importer and the headless
// renderer, and reading what they left.
#pragma once

#include <dirent.h>

#include <cstdio>
#include <set>
#include <string>

#include "asset_test_util.h"
#include "display/bmp.h"
#include "texture/image.h"

// Runs a command; its exit code, with stdout and stderr in *out.
inline int run_capture(const std::string& command, std::string* out) { return run_output(command + " 2>&1", out); }

inline int import_model(const std::string& model, const std::string& dir, const std::string& options,
                        std::string* out) {
    return run_capture(tool_command("import " + options + " '" + model + "' '" + dir + "'"), out);
}

// The start frame of a data folder as 0x00RRGGBB, or null.
inline RgbImage* render_start_frame(const std::string& dir) {
    std::string out = dir + ".frame.bmp";
    std::string log;
    if (run_capture(std::string("'") + VARNEL_RENDER_PATH + "' --data '" + dir + "' --frames 2 --out '" + out + "'",
                    &log) != 0)
        return nullptr;
    RgbImage* frame = bmp_read(out.c_str());
    std::remove(out.c_str());
    return frame;
}

// Every path below `dir`, relative to it, folders with a trailing '/'.
inline void list_tree(const std::string& dir, const std::string& prefix, std::set<std::string>* names) {
    DIR* d = opendir((dir + "/" + prefix).c_str());
    if (!d) return;
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (e->d_type == DT_DIR) {
            names->insert(prefix + name + "/");
            list_tree(dir, prefix + name + "/", names);
        } else {
            names->insert(prefix + name);
        }
    }
    closedir(d);
}

inline std::set<std::string> tree(const std::string& dir) {
    std::set<std::string> names;
    list_tree(dir, "", &names);
    return names;
}
