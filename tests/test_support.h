// Helpers shared by the test programs.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
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

// The kind of what a name holds, the name itself not followed.
inline bool path_exists(const std::string& name) {
    struct stat s;
    return lstat(name.c_str(), &s) == 0;
}
inline bool path_is_link(const std::string& name) {
    struct stat s;
    return lstat(name.c_str(), &s) == 0 && S_ISLNK(s.st_mode);
}
inline bool path_is_file(const std::string& name) {
    struct stat s;
    return lstat(name.c_str(), &s) == 0 && S_ISREG(s.st_mode);
}

// Files of the process may grow to `bytes` for the object's lifetime: a
// write past that fails (EFBIG) instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ok_ = getrlimit(RLIMIT_FSIZE, &saved_) == 0;
        previous_ = signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved_;
        small.rlim_cur = bytes;
        ok_ = ok_ && setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previous_);
    }
    bool ok() const { return ok_; }

private:
    rlimit saved_;
    void (*previous_)(int);
    bool ok_;
};
