#include "app/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "scene/output_file.h"

namespace {

const char* const log_file_name = "Engine.log";
const char* const log_header = "__________Varnel - Log__________\n";

// The file log_start made: lines are appended only to that file, never to
// whatever else may stand under its name by then (a link, a file of anyone's).
struct LogState {
    int made;      // 1 once log_start has put its file in place
    dev_t device;  // the file's device and inode
    ino_t inode;
};

LogState log_state = {};

}  // namespace

void log_start() {
    log_state.made = 0;
    OutputFile f;
    if (!output_file_open(&f, log_file_name)) return;
    struct stat s;
    if (!output_file_write(&f, log_header, std::strlen(log_header)) || fstat(f.fd, &s) != 0) {
        output_file_discard(&f, log_file_name, 0);
        return;
    }
    if (output_file_commit(&f, log_file_name, OUTPUT_REPLACE) != 1) return;
    log_state = LogState{1, s.st_dev, s.st_ino};
}

void log_line(const char* text) {
    if (!log_state.made) return;
    int fd = open(log_file_name, O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat s;
    if (fstat(fd, &s) == 0 && S_ISREG(s.st_mode) && s.st_dev == log_state.device && s.st_ino == log_state.inode) {
        // A short line goes in one write, so it arrives whole.
        size_t length = std::strlen(text);
        char line[512];
        if (length + 1 < sizeof line) {
            std::memcpy(line, text, length);
            line[length] = '\n';
            output_write_all(fd, line, length + 1);
        } else if (output_write_all(fd, text, length)) {
            output_write_all(fd, "\n", 1);
        }
    }
    close(fd);
}
