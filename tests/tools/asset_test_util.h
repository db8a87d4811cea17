// Helpers for the asset tool tests: a scratch folder per test, running the
// tools, reading files back.
#pragma once

#include "test_support.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// A fresh folder under VARNEL_TEST_TMP; the test's working directory while
// the object lives.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name) {
        mkdir(VARNEL_TEST_TMP, 0755);
        path_ = std::string(VARNEL_TEST_TMP) + "/" + name;
        if (std::system(("rm -rf '" + path_ + "'").c_str()) != 0) return;
        ok_ = mkdir(path_.c_str(), 0755) == 0 && getcwd(old_, sizeof old_) && chdir(path_.c_str()) == 0;
    }
    ~ScratchFolder() {
        if (ok_ && chdir(old_) != 0) std::perror("chdir");
    }
    bool ok() const { return ok_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    char old_[4096] = {};
    bool ok_ = false;
};

inline int run_exit_code(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string tool_command(const std::string& args) {
    return std::string("'") + VARNEL_TOOL_PATH + "' " + args;
}

inline std::string read_text(const std::string& path) { return read_file(path); }

inline void write_text(const std::string& path, const std::string& text) { write_file(path, text); }

inline bool file_exists(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0;
}
