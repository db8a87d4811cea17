// Writing files: how the program and its tools make every file and folder
// they write. A file is made new under a unique temporary name beside its
// target, created with O_CREAT | O_EXCL | O_NOFOLLOW, so no link and no
// file that was there before is ever written through; it is locked while it
// is written and then renamed onto the target, which replaces a link there
// rather than what it points to, or, when an existing file must be kept,
// given the name only if the name is free. A failure removes the temporary
// file and leaves a reason that names the file and the system's error.
// Where the file system makes unnamed files (O_TMPFILE) the file is written
// without any name and gets its temporary one only when complete, just
// before the rename, so a run killed while writing leaves nothing at all.
//
// Temporary names are "<target>.partial-<pid>-<n>", n counting up from 0
// for each name taken in the process. The first temporary made in a folder
// removes the leftovers there of runs that were killed: names of exactly
// that form, of this user, whose process is gone and whose lock nobody
// holds. The pid alone may belong to a new process by now and a lock alone
// is not kept by every file system, so both must say the writer is gone.
#pragma once

#include <cstddef>
#include <cstdio>

enum {
    OUTPUT_NAME_MAX = 4096 + 32,  // a path and the temporary suffix
};

enum OutputPlace {
    OUTPUT_REPLACE = 0,        // the target is replaced atomically (a link there is replaced, not followed)
    OUTPUT_KEEP_EXISTING = 1,  // the target is taken only when no file of that name exists
};

// A file being written under its temporary name.
struct OutputFile {
    int fd;                      // the temporary file, open for writing and locked; -1 when there is none
    FILE* stream;                // buffered writes, on a descriptor of its own; null until asked for
    char temp[OUTPUT_NAME_MAX];  // its name; "" while it has none (unnamed, or none open)
};

// A folder being filled under its temporary name (the importer's).
struct OutputFolder {
    int fd;                      // the folder, open and locked while it is filled; -1 when released
    char temp[OUTPUT_NAME_MAX];  // its name
};

// -- files --------------------------------------------------------------------
// Makes the temporary file for `target` in target's folder. 1, or 0 with the
// reason in output_file_error().
int output_file_open(OutputFile* f, const char* target);
// A stream on the open file for the writers that format or write through
// stdio; null when none can be had. output_file_commit flushes and closes it.
FILE* output_file_stream(OutputFile* f);
// Writes all of data to the file's descriptor; 1, or 0 with errno set.
int output_file_write(OutputFile* f, const void* data, size_t size);
// Gives the finished file the name `name` (in the folder of the target it was
// opened for). 1 placed; 0 failed: the temporary file is gone and the reason
// names `name`; -1 (OUTPUT_KEEP_EXISTING only) a file of that name exists:
// the temporary file is kept for another name or output_file_discard.
int output_file_commit(OutputFile* f, const char* name, OutputPlace how);
// Removes the temporary file. A non-zero error_number (an errno the writer
// met) becomes the reason, with `name`.
void output_file_discard(OutputFile* f, const char* name, int error_number);
// The whole file at once: open, write, commit; what commit returns (a -1 has
// already discarded the temporary file).
int output_file_save(const char* target, const void* data, size_t size, OutputPlace how);
// "<name>: <reason>" for the last failure on this thread.
const char* output_file_error();

// -- folders ------------------------------------------------------------------
// Makes "<target>.partial-<pid>-<n>", mode 0777 less the umask, locked until
// output_folder_release; the caller fills it and renames it into place. 1,
// or 0 with the reason in output_file_error().
int output_folder_make(OutputFolder* d, const char* target);
// Gives up the lock once the folder has been moved or removed.
void output_folder_release(OutputFolder* d);

// -- leftovers ----------------------------------------------------------------
// Removes from `folder` the temporary files and folders of runs that are no
// longer running, as the comment at the top says; how many went. Done by
// itself before the first temporary in a folder; tests call it directly.
int output_sweep(const char* folder);
// 1 when `name` (no folder part) has the temporary form, with its pid.
int output_temp_name(const char* name, long* pid);
// Removes a file, or a folder and everything in it, never following a link.
void output_remove_tree(const char* path);
// Writes all `size` bytes to `fd`, again after a signal or a short write.
// 1, or 0 with errno set (ENOSPC where the system wrote nothing and said no
// more).
int output_write_all(int fd, const void* data, size_t size);
