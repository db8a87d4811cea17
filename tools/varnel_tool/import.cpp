// varnel-tool import [--force] [--up AXIS] [--front AXIS] [--turn DEG] [--view V] [--scale S] [--max N] MODEL DIR: a data
// folder that `cd DIR && varnel` runs, made from a model in any format the
// reader library knows.
//
// Safety: the folder is built under a temporary name beside DIR and renamed
// into place only when complete, so a failed import leaves nothing behind
// and DIR is either the old folder or the new one. Every name in it comes
// from import_fit_name or is fixed here, so no name in the model can reach
// outside it. The model is read in a child process with an address-space
// and time limit: the library runs on untrusted files, and a crash, an
// allocation that would take the machine's memory or a hang there becomes a
// refusal here. The reader ends when this process ends, and a sweeper
// process removes the temporary folder when this one is killed outright;
// when the whole process group is killed, the next import into the same
// parent folder removes it (scene/output_file.h tells a dead import's folder
// by its pid and its lock). --force replaces only what an import made: the
// marker lists those files, and everything else in DIR is carried into the
// new folder and named on stderr.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "asset/write3ds.h"
#include "import/import.h"
#include "scene/output_file.h"
#include "varnel_tool/commands.h"
#include "varnel_tool/tool_common.h"

namespace {

// Marks a folder made by `import`: --force may replace it.
const char* const import_marker = ".varnel-import";
// The temporary folder beside DIR: ".varnel-import.partial-<pid>-<n>".
const char* const temp_folder_name = ".varnel-import";
const char* const import_marker_text =
    "This folder was made by varnel-tool import; varnel-tool import --force may replace it whole.\n";
// After the text, the marker lists every file the import wrote, one a line,
// relative to the folder: what a later --force may replace.
const char* const import_list_heading = "Files it made:\n";
// What every import writes, for folders whose marker has no list (made
// before it had one); their textures count as the import's too.
const char* const import_fixed_files[] = {"Svet.3ds", "Star.3ds", "Cone.tga", "Font.bmp", "Pos.txt", "Light.txt",
                                          import_marker};
const char* const usage_text =
    "usage: varnel-tool import [--force] [--up AXIS] [--front AXIS] [--turn DEG] [--view V] [--ground G]\n"
    "                          [--scale S] [--max N]\n"
    "                          MODEL DIR\n"
    "  (varnel-tool import --help tells the options)\n";

const long child_address_budget = 4L << 30;  // bytes the reader may map beyond what it has at the start
// CPU and wall-clock limit of the library's read. A damaged file can keep
// the library spinning to the end of it, so it grows with the file: valid
// files read at several MB a second even in the sanitizer builds, and a
// small damaged one is refused in seconds.
const int read_seconds_floor = 5;
const int read_seconds_per_mb = 5;
const long read_seconds_most = 3600;
// The same limit for all that comes after the read: the images, the
// conversion and the writing, this program's own work, whatever the size.
const int after_read_seconds = 300;
const int default_texture_max = 256;

struct ImportRun {
    volatile sig_atomic_t stop;  // a signal asked the tool to stop
    int read_seconds;            // the library's limit for this model, read_seconds_for its size
    volatile int* read_done;     // shared with the reader, which sets it to 1 once the library is done; may be null
};

ImportRun run = {};

void on_signal(int) { run.stop = 1; }

int read_seconds_for(off_t bytes) {
    const long long seconds = read_seconds_floor + (long long)read_seconds_per_mb * (bytes >> 20);
    return (int)(seconds < read_seconds_most ? seconds : read_seconds_most);
}

std::string real_path(const std::string& path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

std::string dir_parent(const std::string& dir) {
    size_t slash = dir.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : dir.substr(0, slash);
}

// A folder --force may replace: one an earlier import made (it holds the
// marker) or an empty one; never a file or a symbolic link.
int replaceable(const std::string& path) {
    struct stat s;
    return lstat(path.c_str(), &s) == 0 && S_ISDIR(s.st_mode) &&
           (asset_file_exists((path + "/" + import_marker).c_str()) || folder_is_empty(path.c_str()));
}

// Checks DIR and whether it may be replaced. 1 to go on; *exists says whether
// it is there now.
int check_destination(const std::string& model, const std::string& dir, int force, int* exists) {
    std::string last = dir.substr(dir.rfind('/') + 1);
    if (last.empty() || last == "." || last == "..")
        return !error_line("import", (dir + ": name the folder to make, not . or ..").c_str());
    struct stat s;
    *exists = lstat(dir.c_str(), &s) == 0;
    if (!*exists) return 1;
    if (!force) return !error_line("import", (dir + " exists; --force replaces a folder an earlier import made").c_str());
    if (!replaceable(dir))
        return !error_line("import", (dir + " exists and was not made by varnel-tool import; it is not replaced").c_str());
    std::string inside = real_path(dir) + "/";
    if (real_path(model).compare(0, inside.size(), inside) == 0)
        return !error_line("import", (model + " lies inside " + dir + ", which --force would replace").c_str());
    return 1;
}

// -- the child: read, convert, write into the temporary folder, summarise ----

// The reader's bounds. It ends when the parent ends, however that ends, and
// keeps the wall-clock limit by itself: a model can keep it waiting for ever
// (a named pipe among its files), and the parent's signal handlers, which it
// inherits, would only set a flag that nothing in it reads. The stop signals
// are blocked across the fork, so one sent before the default handlers are
// back is delivered to them when `mask` is restored.
void limit_child(pid_t parent, const sigset_t* mask) {
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &action, nullptr);
    sigprocmask(SIG_SETMASK, mask, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);  // the parent ended before the line above
    alarm((unsigned)run.read_seconds);
    struct rlimit none = {0, 0};
    setrlimit(RLIMIT_CORE, &none);
    struct rlimit cpu = {(rlim_t)run.read_seconds, (rlim_t)(run.read_seconds + after_read_seconds)};
    setrlimit(RLIMIT_CPU, &cpu);
    // The budget comes on top of what is mapped now (a sanitizer's shadow
    // memory, for one).
    long pages = 0;
    if (FILE* f = fopen("/proc/self/statm", "r")) {
        if (fscanf(f, "%ld", &pages) != 1) pages = 0;
        fclose(f);
    }
    rlim_t bytes = (rlim_t)pages * (rlim_t)sysconf(_SC_PAGESIZE) + (rlim_t)child_address_budget;
    struct rlimit address = {bytes, bytes};
    setrlimit(RLIMIT_AS, &address);
}

// The library is done with the model: the rest has after_read_seconds more.
void limit_child_after_read() {
    if (run.read_done) *run.read_done = 1;
    alarm((unsigned)after_read_seconds);
    struct rlimit cpu;
    if (getrlimit(RLIMIT_CPU, &cpu) == 0) {
        cpu.rlim_cur = cpu.rlim_max;
        setrlimit(RLIMIT_CPU, &cpu);
    }
}

int write_files(const std::string& folder, const std::vector<DataFile>& files) {
    if (!asset_make_folder((folder + "/Textures").c_str())) return error_line("import", asset_error());
    for (const DataFile& f : files)
        if (!asset_file_write((folder + "/" + f.name).c_str(), f.data.data(), f.data.size(), ASSET_KEEP_EXISTING))
            return error_line("import", asset_error());
    return 0;
}

void print_summary(const char* model_path, const ImportModel& model, const ImportResult& r,
                   const ImportOptions& options, long not_triangles) {
    std::printf("varnel-tool import: %s, read as %s\n", model_path, model.format.c_str());
    std::printf("  triangles  %ld in %zu objects (left out: %ld without area, %ld with corners not finite, %ld points "
                "and lines)\n",
                r.counts.triangles, r.scene.meshes.size() - (r.ground.triangles > 0), r.counts.no_area,
                r.counts.not_finite, not_triangles);
    std::printf("  materials  %zu, one texture each:\n", r.textures.size());
    for (const ImportTexture& t : r.textures) std::printf("    %-28s %s\n", t.file.c_str(), t.source.c_str());
    const ImportAxes& a = model.axes;
    std::printf("  up         %c%c of the file (%s)\n", a.up_negative ? '-' : '+', a.up_axis,
                a.guessed ? "guessed, see below" : a.why.c_str());
    std::printf("  front      %c%c of the file faces the start camera (%s)", a.front_negative ? '-' : '+', a.front_axis,
                options.front ? "as --front says" : "--front sets it");
    if (a.turn != 0.0) std::printf(", turned %g degrees about up", a.turn);
    std::printf("\n");
    if (options.view == IMPORT_VIEW_FRONT)
        std::printf("  view       front: square on, the eye level with the model's centre (as --view front says)\n");
    else
        std::printf("  view       three-quarter: the front turned %g degrees to the screen's right, so the side on "
                    "the screen's left shows too, the eye at about 60%% of the model's height; --view front shows it "
                    "square on\n",
                    IMPORT_THREE_QUARTER_DEGREES);
    std::printf("  size       %.4g x %.4g x %.4g model units (right, up, front), %.4g world units each (%s)\n",
                r.size[0], r.size[1], r.size[2], r.scale,
                options.scale > 0 ? "as --scale says" : "fitted to the start view; --scale keeps a size");
    if (options.ground == IMPORT_GROUND_NONE)
        std::printf("  ground     none (as --ground none says)\n");
    else
        std::printf("  ground     studio: a floor %.4g wide and %.4g deep under the model, sweeping up into a "
                    "backdrop %.4g high behind it, %d triangles; --ground none leaves it out\n",
                    r.ground.width, r.ground.floor_depth, r.ground.wall_height, r.ground.triangles);
    std::printf("  light      Light.txt: above the model, from the camera's side and the screen's right; F11 "
                "puts it where the camera is\n");
    if (!r.outside.empty()) {
        std::printf("  outside    images read from outside the model's folder:\n");
        for (const std::string& path : r.outside) std::printf("    %s\n", path.c_str());
    }
    if (!r.guesses.empty()) {
        std::printf("  guessed\n");
        for (const std::string& g : r.guesses) std::printf("    %s\n", g.c_str());
    }
    if (!model.notes.empty()) {
        std::printf("  reader notes\n");
        for (const std::string& n : model.notes) std::printf("    %s\n", n.c_str());
    }
}

// Everything the child does; the exit code.
int import_into(const char* model_path, const std::string& folder, const ImportOptions& options) {
    ImportModel model;
    if (!import_read(model_path, &options, &model))
        return error_line("import", (std::string(model_path) + ": " + import_error()).c_str());
    limit_child_after_read();
    std::vector<DataFile> files;
    std::vector<std::string> marker_materials;
    std::string why;
    if (!data_files_shared(&files, &marker_materials, &why)) return error_line("import", why.c_str());
    ImportResult result;
    if (!import_convert(&model, &options, marker_materials, &result))
        return error_line("import", (std::string(model_path) + ": " + import_error()).c_str());
    DataFile world = {"Svet.3ds", {}};
    if (!scene_encode_3ds(&result.scene, &world.data)) return error_line("import", write3ds_error());
    files.push_back(world);
    for (const ImportTexture& t : result.textures) files.push_back(DataFile{t.file, t.data});
    files.push_back(DataFile{"Pos.txt", ByteBuffer(result.path_text.begin(), result.path_text.end())});
    files.push_back(DataFile{"Light.txt", ByteBuffer(result.light_text.begin(), result.light_text.end())});
    std::string marker = std::string(import_marker_text) + import_list_heading;
    for (const DataFile& f : files) marker += f.name + "\n";
    marker += std::string(import_marker) + "\n";
    files.push_back(DataFile{import_marker, ByteBuffer(marker.begin(), marker.end())});
    if (int code = write_files(folder, files)) return code;
    print_summary(model_path, model, result, options, model.not_triangles);
    return 0;
}

// -- the parent ------------------------------------------------------------------

// The reader's time ran out after `seconds`: in the library's read, for a
// model of `bytes`, or after it.
std::string gave_up(const char* model_path, long seconds, off_t bytes) {
    std::string why = std::string(model_path) + ": the reader gave up after " + std::to_string(seconds) + " seconds";
    if (!run.read_done || !*run.read_done)
        return why + " (the limit for a file of " + std::to_string((long long)bytes) + " bytes: " +
               std::to_string(read_seconds_floor) + " seconds, and " + std::to_string(read_seconds_per_mb) +
               " more per MB); the file is damaged or cut short, or of a kind the reader cannot read";
    return why + " (" + std::to_string(after_read_seconds) + " of them after the model was read, for its images "
                 "and the conversion)";
}

// Waits for the child within the time limit. 0 when it exited with 0; else
// 1 after saying why, unless the child has said so itself.
int wait_child(pid_t child, const char* model_path, off_t bytes) {
    struct timespec start, now, pause = {0, 5 * 1000 * 1000};
    clock_gettime(CLOCK_MONOTONIC, &start);
    // The child keeps its limits itself; this is for one that cannot.
    const long most = run.read_seconds + after_read_seconds + 5;
    int status = 0;
    for (;;) {
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) return error_line("import", "lost the reader process");
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (run.stop || now.tv_sec - start.tv_sec > most) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return error_line("import", run.stop ? "stopped" : gave_up(model_path, most, bytes).c_str());
        }
        nanosleep(&pause, nullptr);
    }
    // A terminal's interrupt reaches the reader too, which may end first.
    if (run.stop) return error_line("import", "stopped");
    if (WIFEXITED(status)) return WEXITSTATUS(status) == 0 ? 0 : 1;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long elapsed = (long)(now.tv_sec - start.tv_sec + (now.tv_nsec - start.tv_nsec) / 1e9 + 0.5);
    if (WTERMSIG(status) == SIGXCPU || WTERMSIG(status) == SIGALRM)
        return error_line("import", gave_up(model_path, elapsed, bytes).c_str());
    std::string why = std::string(model_path) + ": the reader stopped on this file (" +
                      strsignal(WTERMSIG(status)) + ")";
    if (WTERMSIG(status) == SIGKILL)
        why += "; it took too long or too much memory";
    else if (WTERMSIG(status) == SIGABRT)
        why += "; a check inside the reader failed on it: the file is damaged or of a variant the reader "
               "cannot read (a PLY file with faces of one or two corners, for one)";
    return error_line("import", why.c_str());
}

// -- what a replaced folder holds besides the import's files ------------------

// The files an import made in `folder`, from its marker. *all_textures is 1
// for an older marker without the list: every texture is then the import's.
std::vector<std::string> import_made(const std::string& folder, int* all_textures) {
    std::vector<std::string> made;
    std::string text;
    if (FILE* f = fopen((folder + "/" + import_marker).c_str(), "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() < (1u << 22)) text.append(buffer, n);
        fclose(f);
    }
    size_t at = text.find(import_list_heading);
    *all_textures = at == std::string::npos;
    if (*all_textures) return std::vector<std::string>(std::begin(import_fixed_files), std::end(import_fixed_files));
    for (at += std::strlen(import_list_heading); at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        if (end > at) made.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return made;
}

// Paths in `folder` (relative to it) that no import made: the user's files,
// screenshots, logs, at the top and inside Textures. A folder the import did
// not make is one entry, carried whole.
std::vector<std::string> not_made(const std::string& folder) {
    int all_textures = 0;
    const std::vector<std::string> made = import_made(folder, &all_textures);
    auto is_made = [&](const std::string& name) { return std::find(made.begin(), made.end(), name) != made.end(); };
    std::vector<std::string> found;
    auto list = [&](const std::string& prefix, std::vector<std::string>* names) {
        if (DIR* d = opendir((folder + "/" + prefix).c_str())) {
            while (dirent* e = readdir(d))
                if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names->push_back(prefix + e->d_name);
            closedir(d);
        }
    };
    std::vector<std::string> top;
    list("", &top);
    for (const std::string& name : top) {
        struct stat s;
        if (name == "Textures" && lstat((folder + "/" + name).c_str(), &s) == 0 && S_ISDIR(s.st_mode)) {
            std::vector<std::string> textures;
            list("Textures/", &textures);
            for (const std::string& t : textures)
                if (!is_made(t) && !all_textures) found.push_back(t);
        } else if (!is_made(name)) {
            found.push_back(name);
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : ", ") + ("'" + n + "'");
    return text;
}

// Moves `from` to `to` unless `to` exists.
int move_keeping(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 1;
    if (errno != EINVAL && errno != ENOSYS) return 0;
    if (asset_file_exists(to.c_str())) {
        errno = EEXIST;
        return 0;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

// The old folder, out of DIR's place at `old`: what no import made in it is
// carried into the new DIR, then the rest goes. Should anything not move,
// the old folder is kept under a name of its own and named. 1 when it is gone.
int carry_and_remove(const std::string& old, const std::string& dir) {
    std::vector<std::string> carried, stuck;
    std::string why;
    for (const std::string& name : not_made(old)) {
        if (move_keeping(old + "/" + name, dir + "/" + name)) {
            carried.push_back(name);
        } else {
            if (why.empty()) why = std::strerror(errno);
            stuck.push_back(name);
        }
    }
    if (!carried.empty())
        std::fprintf(stderr, "varnel-tool import: %s: carried into the new folder (not made by an import): %s\n",
                     dir.c_str(), joined(carried).c_str());
    if (stuck.empty()) {
        output_remove_tree(old.c_str());
        return 1;
    }
    for (int n = 1;; n++) {
        const std::string kept = dir + ".previous" + (n > 1 ? "-" + std::to_string(n) : std::string());
        if (move_keeping(old, kept)) {
            error_line("import", (dir + ": could not carry " + joined(stuck) + " (" + why +
                                  "); the old folder is kept as " + kept).c_str());
            return 0;
        }
        if (errno != EEXIST) {
            error_line("import", (dir + ": could not carry " + joined(stuck) + " (" + why +
                                  "); the old folder is kept as " + old).c_str());
            return 0;
        }
    }
}

// Moves the finished folder to DIR. Reading can take minutes, so DIR is
// checked again first. A free name is taken atomically, never over one that
// appeared meanwhile. With --force the files in DIR that no import made must
// not clash with the new folder's (else nothing changes and they are named);
// the new folder is exchanged with DIR, what came out is checked once more,
// since DIR may have changed between the check and the exchange (when it may
// not be replaced, the two are exchanged back and DIR is kept), and the
// user's files are carried from it into the new DIR before it is removed.
// 1 when placed; 0 after saying why, `temp` still the new folder; -1 after
// saying why when the old DIR could not be put back and `temp` holds it
// (never to be removed).
int place_folder(const std::string& temp, const std::string& dir, const char* model, int force) {
    int exists = 0;
    if (!check_destination(model, dir, force, &exists)) return 0;
    auto say = [](const std::string& why) { return !error_line("import", why.c_str()); };
    if (exists) {
        std::vector<std::string> clash;
        for (const std::string& name : not_made(dir))
            if (asset_file_exists((temp + "/" + name).c_str())) clash.push_back(name);
        if (!clash.empty())
            return say(dir + " holds files no import made under names the new import writes: " + joined(clash) +
                       "; move them away and import again");
    }
    const std::string refused = dir + " changed while the model was read and was not made by varnel-tool import; "
                                      "it is not replaced";
    const std::string not_back = dir + " changed while the model was read and could not be put back; it is now ";
    if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, dir.c_str(), exists ? RENAME_EXCHANGE : RENAME_NOREPLACE) == 0) {
        if (!exists) return 1;
        if (replaceable(temp)) {  // the old folder now has the temporary name
            carry_and_remove(temp, dir);
            return 1;
        }
        if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, dir.c_str(), RENAME_EXCHANGE) == 0) return say(refused);
        say(not_back + temp);
        return -1;
    }
    if (errno != EINVAL && errno != ENOSYS) return say(dir + ": " + std::strerror(errno));
    // File systems without renameat2's flags: the same steps, with a moment
    // in which DIR is missing.
    if (!exists) {
        if (asset_file_exists(dir.c_str())) return say(dir + ": " + std::strerror(EEXIST));
        return rename(temp.c_str(), dir.c_str()) == 0 ? 1 : say(dir + ": " + std::strerror(errno));
    }
    const std::string old = temp + ".old";
    if (rename(dir.c_str(), old.c_str()) != 0) return say(dir + ": " + std::strerror(errno));
    if (!replaceable(old)) {
        if (rename(old.c_str(), dir.c_str()) == 0) return say(refused);
        say(not_back + old);
        return -1;
    }
    if (rename(temp.c_str(), dir.c_str()) != 0) {
        std::string why = dir + ": " + std::strerror(errno);
        if (rename(old.c_str(), dir.c_str()) != 0) why += "; the old folder is now " + old;
        return say(why);
    }
    carry_and_remove(old, dir);
    return 1;
}

// -- the sweeper ------------------------------------------------------------------

// A parent killed outright (SIGKILL) cannot remove its temporary folder, so a
// second child stands by to do it. It holds one end of a socket pair whose
// other end only the parent and the reader hold, and removes the folder when
// that end closes without the byte by which the parent takes the folder back
// into its own hands. It ignores the signals a terminal sends to the whole
// process group and holds none of the tool's output. Returns the parent's
// end, or -1 when there is no sweeper (the import goes on without one).
int sweeper_start(const std::string& temp) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return -1;
    pid_t pid = fork();
    if (pid != 0) {
        close(ends[0]);
        if (pid > 0) return ends[1];
        close(ends[1]);
        return -1;
    }
    close(ends[1]);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) std::signal(number, SIG_IGN);
    int null = open("/dev/null", O_RDWR);
    for (int fd = 0; null >= 0 && fd < 3; fd++) dup2(null, fd);
    char byte;
    ssize_t n;
    while ((n = read(ends[0], &byte, 1)) < 0 && errno == EINTR) {
    }
    if (n == 0) output_remove_tree(temp.c_str());
    _exit(0);
}

// The parent deals with the temporary folder itself from here on.
void sweeper_stand_down(int end) {
    if (end < 0) return;
    const char byte = 1;
    while (send(end, &byte, 1, MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
    close(end);
}

// "+x", "-Y", "z" (+ by default), any case, into an axis letter and sign; 0
// when it is none of those.
int parse_axis(const char* text, char* axis, int* negative) {
    *negative = text[0] == '-';
    if (text[0] == '-' || text[0] == '+') text++;
    char c = (char)(text[0] | 0x20);
    if (c < 'x' || c > 'z' || text[1]) return 0;
    *axis = c;
    return 1;
}

// The options' values into *o; 0 after naming the option, the value and what
// is accepted.
int parse_options(const Arguments& a, ImportOptions* o) {
    *o = ImportOptions{0, 0.0, default_texture_max, 0, 0, 0, 0.0, IMPORT_VIEW_THREE_QUARTER, IMPORT_GROUND_STUDIO};
    auto bad = [](const char* option, const char* value, const char* accepted) {
        std::fprintf(stderr, "varnel-tool import: %s '%s': %s\n", option, value, accepted);
        return 0;
    };
    if (const char* up = option_value(a, "--up"))
        if (!parse_axis(up, &o->up, &o->up_negative)) return bad("--up", up, "takes +x -x +y -y +z or -z");
    if (const char* front = option_value(a, "--front")) {
        if (!parse_axis(front, &o->front, &o->front_negative)) return bad("--front", front, "takes +x -x +y -y +z or -z");
        if (o->up == o->front) return bad("--front", front, "must not lie along --up");
    }
    if (const char* turn = option_value(a, "--turn")) {
        char* end;
        o->turn = std::strtod(turn, &end);
        if (end == turn || *end || !(o->turn >= -360.0 && o->turn <= 360.0))
            return bad("--turn", turn, "takes degrees from -360 to 360");
    }
    if (const char* view = option_value(a, "--view")) {
        if (std::strcmp(view, "front") == 0)
            o->view = IMPORT_VIEW_FRONT;
        else if (std::strcmp(view, "three-quarter") != 0)
            return bad("--view", view, "takes front or three-quarter");
    }
    if (const char* ground = option_value(a, "--ground")) {
        if (std::strcmp(ground, "none") == 0)
            o->ground = IMPORT_GROUND_NONE;
        else if (std::strcmp(ground, "studio") != 0)
            return bad("--ground", ground, "takes studio or none");
    }
    if (const char* scale = option_value(a, "--scale")) {
        char* end;
        o->scale = std::strtod(scale, &end);
        if (end == scale || *end || !(o->scale >= 1e-6 && o->scale <= 1e6))
            return bad("--scale", scale, "takes a number from 0.000001 to 1000000");
    }
    if (const char* max = option_value(a, "--max"))
        if (!parse_int(max, 2, 2048, &o->max_texture) || (o->max_texture & (o->max_texture - 1)))
            return bad("--max", max, "takes a power of two from 2 to 2048");
    return 1;
}

}  // namespace

int tool_import(int argc, char** argv) {
    Arguments a;
    const char* const valued[] = {"--up", "--front", "--turn", "--view", "--ground", "--scale", "--max", nullptr};
    const char* bad = nullptr;
    ImportOptions options;
    if (!parse_arguments(argc, argv, valued, &a, &bad)) {
        std::fprintf(stderr, "varnel-tool import: unknown option or one without its value: %s\n", bad);
        std::fputs(usage_text, stderr);
        return 2;
    }
    if (!parse_options(a, &options)) return 2;
    if (a.positional.size() != 2) {
        std::fprintf(stderr, "varnel-tool import: needs MODEL and DIR, %zu given\n", a.positional.size());
        std::fputs(usage_text, stderr);
        return 2;
    }
    const char* model = a.positional[0];
    std::string dir = a.positional[1];
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    struct stat s;
    if (stat(model, &s) != 0) return error_line("import", (std::string(model) + ": " + std::strerror(errno)).c_str());
    if (!S_ISREG(s.st_mode)) return error_line("import", (std::string(model) + ": not a regular file").c_str());
    int exists = 0;
    if (!check_destination(model, dir, a.force, &exists)) return 1;

    // Locked while this import runs, so the next import into the same parent
    // folder can tell it from one whose importer was killed (output_file.h).
    OutputFolder folder;
    if (!output_folder_make(&folder, (dir_parent(dir) + "/" + temp_folder_name).c_str()))
        return error_line("import", output_file_error());
    const std::string temp = folder.temp;
    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigset_t stop_signals, mask;
    sigemptyset(&stop_signals);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(number, &action, nullptr);
        sigaddset(&stop_signals, number);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    run.read_seconds = read_seconds_for(s.st_size);
    void* shared = mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    run.read_done = shared == MAP_FAILED ? nullptr : (volatile int*)shared;
    const int sweeper = sweeper_start(temp);
    const pid_t parent = getpid();
    sigprocmask(SIG_BLOCK, &stop_signals, &mask);
    pid_t child = fork();
    if (child != 0) sigprocmask(SIG_SETMASK, &mask, nullptr);
    if (child < 0) {
        int e = errno;
        sweeper_stand_down(sweeper);
        output_remove_tree(temp.c_str());
        output_folder_release(&folder);
        return error_line("import", std::strerror(e));
    }
    if (child == 0) {
        limit_child(parent, &mask);
        int code;
        try {
            code = import_into(model, temp, options);
        } catch (const std::bad_alloc&) {
            code = error_line("import", (std::string(model) + ": out of memory (the limit is 4 GiB)").c_str());
        }
        std::fflush(stdout);
        std::exit(code);
    }
    int failed = wait_child(child, model, s.st_size);
    sweeper_stand_down(sweeper);
    if (!failed && run.stop) failed = error_line("import", (dir + ": stopped").c_str());
    const int placed = failed ? 0 : place_folder(temp, dir, model, a.force);
    if (placed > 0) {
        output_folder_release(&folder);
        std::string quoted = "'";  // for a shell: ' becomes '\''
        for (char c : dir) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        quoted += "'";
        std::printf("  folder     %s: cd %s && varnel\n", dir.c_str(), quoted.c_str());
        return 0;
    }
    if (placed == 0) output_remove_tree(temp.c_str());
    output_folder_release(&folder);
    return 1;
}
