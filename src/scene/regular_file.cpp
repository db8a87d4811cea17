#include "scene/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FILE* regular_file_open(const char* file_name, const char** why) {
    struct stat s;
    if (stat(file_name, &s) != 0) {
        *why = "cannot open file";
        return nullptr;
    }
    if (!S_ISREG(s.st_mode)) {
        *why = "not a regular file";
        return nullptr;
    }
    // Checked again on what was opened: the name may have changed hands since.
    int fd = open(file_name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *why = "cannot open file";
        return nullptr;
    }
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &s) != 0 || !S_ISREG(s.st_mode)) {
        *why = "not a regular file";
        close(fd);
        return nullptr;
    }
    FILE* f = flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? fdopen(fd, "rb") : nullptr;
    if (!f) {
        *why = "cannot open file";
        close(fd);
    }
    return f;
}
