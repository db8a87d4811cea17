// Helpers shared by the test programs.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

// A fresh empty folder under the build tree's scratch area, entered for the
// test's lifetime and left again afterwards.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& name) {
        char cwd[PATH_MAX];
        previous_ = getcwd(cwd, sizeof cwd) ? cwd : ".";
        mkdir(VARNEL_TEST_TMP, 0755);
        path_ = std::string(VARNEL_TEST_TMP) + "/" + name + "." + std::to_string(getpid());
        std::string command = "rm -rf '" + path_ + "' && mkdir -p '" + path_ + "'";
        if (std::system(command.c_str()) != 0 || chdir(path_.c_str()) != 0) path_.clear();
    }
    ~ScratchDir() {
        if (chdir(previous_.c_str()) != 0) return;
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    const std::string& path() const { return path_; }
    bool ok() const { return !path_.empty(); }

private:
    std::string previous_;
    std::string path_;
};

// Runs a shell command; its exit code (-1 when it did not exit), with its
// standard output in *out.
inline int run_output(const std::string& command, std::string* out) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    char buffer[4096];
    size_t n;
    out->clear();
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out->append(buffer, n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits up to timeout_ms for the child process `pid`: its wait status, or
// -1 when it was still running (it is then killed).
inline int wait_child(pid_t pid, int timeout_ms) {
    int status = 0;
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

inline std::string read_file(const std::string& name) {
    std::string text;
    FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
    return text;
}

inline void write_file(const std::string& name, const std::string& text) {
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) return;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// A scratch copy of the build's demo data folder, entered for the test's
// lifetime, so tests that write files never touch the shared folder.
class DemoCopy : public ScratchDir {
public:
    explicit DemoCopy(const std::string& name) : ScratchDir(name) {
        if (ok()) copied_ = std::system("cp -r '" VARNEL_DEMO_DATA "'/. .") == 0;
    }
    bool copied() const { return copied_; }

private:
    bool copied_ = false;
};
