#include "scene/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

enum {
    SWEPT_FOLDERS = 16,       // folders remembered as swept; past that a folder is swept again
    FILE_NAME_MAX = 255,      // bytes in one name of a path
    TEMP_SUFFIX_MAX = 30,     // ".partial-" and two 10-digit numbers and '-'
    ERROR_MAX = OUTPUT_NAME_MAX + 256,
};

const char* const temp_mark = ".partial-";

struct FolderId {
    dev_t device;
    ino_t inode;
};

// Shared by every thread that writes: the writer thread of frames beside the
// main one. The reason is per thread, so each reports its own failure.
struct OutputState {
    std::atomic<unsigned> next_name;  // n of the next temporary name
    std::mutex swept_lock;
    FolderId swept[SWEPT_FOLDERS];    // folders whose leftovers are gone
    int swept_count;
};

OutputState state;
thread_local char error_text[ERROR_MAX];

int fail(const char* name, const char* why) {
    std::snprintf(error_text, sizeof error_text, "%s: %s", name, why);
    return 0;
}

int fail_errno(const char* name, int error_number) { return fail(name, std::strerror(error_number)); }

// "dir/" of a path ("" when it has none) and the length of that prefix.
size_t folder_length(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? (size_t)(slash - path) + 1 : 0;
}

// The next temporary name beside `target`. A name too long to take the
// suffix is cut short before it: only the folder and the suffix matter.
int temp_name(const char* target, char* out) {
    const size_t folder = folder_length(target), base = std::strlen(target) - folder;
    if (base == 0) return 0;
    size_t keep = base > FILE_NAME_MAX - TEMP_SUFFIX_MAX ? FILE_NAME_MAX - TEMP_SUFFIX_MAX : base;
    int n = std::snprintf(out, OUTPUT_NAME_MAX, "%.*s%s%ld-%u", (int)(folder + keep), target, temp_mark,
                          (long)getpid(), state.next_name.fetch_add(1));
    return n > 0 && n < OUTPUT_NAME_MAX;
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }


// Sweeps the folder of `path` unless that was done before in this process.
void sweep_once(const char* path) {
    char folder[OUTPUT_NAME_MAX];
    const size_t length = folder_length(path);
    if (length == 0) std::strcpy(folder, ".");
    else std::snprintf(folder, sizeof folder, "%.*s", (int)length, path);
    struct stat s;
    if (stat(folder, &s) != 0) return;
    {
        std::lock_guard<std::mutex> hold(state.swept_lock);
        for (int k = 0; k < state.swept_count; k++)
            if (state.swept[k].device == s.st_dev && state.swept[k].inode == s.st_ino) return;
        if (state.swept_count < SWEPT_FOLDERS) state.swept[state.swept_count++] = FolderId{s.st_dev, s.st_ino};
    }
    output_sweep(folder);
}

}  // namespace

int output_temp_name(const char* name, long* pid) {
    const char* mark = nullptr;
    for (const char* p = std::strstr(name, temp_mark); p; p = std::strstr(p + 1, temp_mark)) mark = p;
    if (!mark || mark == name) return 0;
    const char* p = mark + std::strlen(temp_mark);
    char* end;
    if (*p < '0' || *p > '9') return 0;
    errno = 0;
    long value = std::strtol(p, &end, 10);
    if (errno || value <= 0 || *end != '-' || end[1] < '0' || end[1] > '9') return 0;
    for (p = end + 1; *p >= '0' && *p <= '9'; p++) {
    }
    if (*p) return 0;
    *pid = value;
    return 1;
}

// A leftover goes only when all of these hold: the name has the temporary
// form; it is this user's regular file or folder (never a link); its process
// is not this one and no longer exists; and its lock can be taken now.
int output_sweep(const char* folder) {
    DIR* d = opendir(folder);
    if (!d) return 0;
    const int dir_fd = dirfd(d);
    int removed = 0;
    while (dirent* e = readdir(d)) {
        long pid;
        if (!output_temp_name(e->d_name, &pid)) continue;
        struct stat s;
        if (fstatat(dir_fd, e->d_name, &s, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if ((!S_ISREG(s.st_mode) && !S_ISDIR(s.st_mode)) || s.st_uid != geteuid()) continue;
        if (pid == (long)getpid() || pid > INT_MAX || kill((pid_t)pid, 0) == 0 || errno != ESRCH) continue;
        const int kind = S_ISDIR(s.st_mode) ? O_DIRECTORY : 0;
        int fd = openat(dir_fd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | kind);
        if (fd < 0) continue;
        struct stat opened;
        int gone = fstat(fd, &opened) == 0 && opened.st_dev == s.st_dev && opened.st_ino == s.st_ino &&
                   flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (gone && kind) {
            char path[OUTPUT_NAME_MAX];
            if (std::snprintf(path, sizeof path, "%s/%s", folder, e->d_name) < (int)sizeof path) output_remove_tree(path);
        } else if (gone) {
            unlinkat(dir_fd, e->d_name, 0);
        }
        close(fd);
        removed += gone;
    }
    closedir(d);
    return removed;
}

namespace {

// Opens the next free temporary name beside `target` (O_EXCL: a name that is
// taken, by a file of anyone's or a link, is passed over; the counter only
// grows, so this ends at the first free one).
int open_named(OutputFile* f, const char* target) {
    for (;;) {
        if (!temp_name(target, f->temp)) {
            f->temp[0] = 0;
            return fail_errno(target, ENAMETOOLONG);
        }
        f->fd = open(f->temp, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (f->fd >= 0) return 1;
        if (errno != EEXIST) {
            f->temp[0] = 0;
            return fail_errno(target, errno);
        }
    }
}

// Gives an unnamed file a temporary name beside `name`, by the same rules.
int link_named(OutputFile* f, const char* name) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", f->fd);
    for (;;) {
        if (!temp_name(name, f->temp)) {
            f->temp[0] = 0;
            return fail_errno(name, ENAMETOOLONG);
        }
        if (linkat(AT_FDCWD, self, AT_FDCWD, f->temp, AT_SYMLINK_FOLLOW) == 0) return 1;
        if (errno != EEXIST) {
            f->temp[0] = 0;
            return fail_errno(name, errno);
        }
    }
}

}  // namespace

int output_file_open(OutputFile* f, const char* target) {
    f->fd = -1;
    f->stream = nullptr;
    f->temp[0] = 0;
    sweep_once(target);
#ifdef O_TMPFILE
    // Where the file system can, the file has no name at all until it is
    // complete, so a run killed while writing leaves nothing behind.
    char folder[OUTPUT_NAME_MAX];
    const size_t length = folder_length(target);
    if (length == 0) std::strcpy(folder, ".");
    else std::snprintf(folder, sizeof folder, "%.*s", (int)length, target);
    f->fd = open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
#endif
    if (f->fd < 0 && !open_named(f, target)) return 0;
    flock(f->fd, LOCK_EX | LOCK_NB);  // a file system without locks still has the pid in the name
    return 1;
}

FILE* output_file_stream(OutputFile* f) {
    if (f->stream || f->fd < 0) return f->stream;
    // Its own descriptor of the same open file: closing the stream keeps the lock.
    int fd = fcntl(f->fd, F_DUPFD_CLOEXEC, 0);
    f->stream = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (!f->stream && fd >= 0) close(fd);
    return f->stream;
}

int output_file_write(OutputFile* f, const void* data, size_t size) { return output_write_all(f->fd, data, size); }

int output_write_all(int fd, const void* data, size_t size) {
    const char* p = (const char*)data;
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return 0;
        }
        p += n;
        size -= (size_t)n;
    }
    return 1;
}

void output_file_discard(OutputFile* f, const char* name, int error_number) {
    if (error_number) fail_errno(name, error_number);
    if (f->stream) std::fclose(f->stream);
    f->stream = nullptr;
    if (f->temp[0]) unlink(f->temp);
    f->temp[0] = 0;
    if (f->fd >= 0) close(f->fd);
    f->fd = -1;
}

namespace {

// Takes `name` only while it is free: atomically where the file system can,
// else by a hard link, else (no hard links) by a test just before the rename.
int place_keeping(const char* temp, const char* name) {
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, temp, AT_FDCWD, name, RENAME_NOREPLACE) == 0) return 1;
    if (errno == EEXIST) return -1;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return 0;
#endif
    if (link(temp, name) == 0) {
        unlink(temp);
        return 1;
    }
    if (errno == EEXIST) return -1;
    if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS && errno != EXDEV) return 0;
    struct stat s;
    if (lstat(name, &s) == 0) return -1;
    return rename(temp, name) == 0 ? 1 : 0;
}

}  // namespace

int output_file_commit(OutputFile* f, const char* name, OutputPlace how) {
    if (f->fd < 0) return fail(name, "no file was opened");
    if (f->stream) {
        int bad = std::fflush(f->stream) != 0 || std::ferror(f->stream);
        int saved = errno;
        if (std::fclose(f->stream) != 0 && !bad) {  // a buffered write can fail here only
            bad = 1;
            saved = errno;
        }
        f->stream = nullptr;
        if (bad) {
            output_file_discard(f, name, saved ? saved : EIO);
            return 0;
        }
    }
    if (!f->temp[0]) {
        // Unnamed: linked straight to a name that must stay free (the link
        // fails when the name is taken), else first to a temporary name.
        if (how == OUTPUT_KEEP_EXISTING) {
            char self[64];
            std::snprintf(self, sizeof self, "/proc/self/fd/%d", f->fd);
            if (linkat(AT_FDCWD, self, AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0) {
                close(f->fd);
                f->fd = -1;
                return 1;
            }
            if (errno == EEXIST) {
                fail(name, "file exists (not replaced)");
                return -1;
            }
        }
        if (!link_named(f, name)) {
            output_file_discard(f, name, 0);
            return 0;
        }
    }
    int placed = how == OUTPUT_REPLACE ? (rename(f->temp, name) == 0 ? 1 : 0) : place_keeping(f->temp, name);
    if (placed < 0) {
        fail(name, "file exists (not replaced)");
        return -1;
    }
    if (!placed) {
        output_file_discard(f, name, errno);
        return 0;
    }
    f->temp[0] = 0;
    close(f->fd);  // the lock goes with the last descriptor
    f->fd = -1;
    return 1;
}

int output_file_save(const char* target, const void* data, size_t size, OutputPlace how) {
    OutputFile f;
    if (!output_file_open(&f, target)) return 0;
    if (!output_file_write(&f, data, size)) {
        output_file_discard(&f, target, errno);
        return 0;
    }
    int placed = output_file_commit(&f, target, how);
    if (placed < 0) output_file_discard(&f, target, 0);
    return placed;
}

const char* output_file_error() { return error_text; }

int output_folder_make(OutputFolder* d, const char* target) {
    d->fd = -1;
    sweep_once(target);
    for (;;) {
        if (!temp_name(target, d->temp)) return fail_errno(target, ENAMETOOLONG);
        if (mkdir(d->temp, 0777) == 0) break;
        if (errno != EEXIST) return fail_errno(target, errno);
    }
    d->fd = open(d->temp, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (d->fd < 0) {
        int e = errno;
        rmdir(d->temp);
        return fail_errno(target, e);
    }
    flock(d->fd, LOCK_EX | LOCK_NB);
    return 1;
}

void output_folder_release(OutputFolder* d) {
    if (d->fd >= 0) close(d->fd);
    d->fd = -1;
}

void output_remove_tree(const char* path) { nftw(path, remove_entry, 16, FTW_DEPTH | FTW_PHYS); }
