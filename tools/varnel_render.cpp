// varnel-render: the program's start-up and frame tick on the headless
// backend. Renders N ticks with scripted input in a data folder and writes the
// last frame or views of it, or prints figures of the run.
//
//   varnel-render [--data DIR] [--frames N] [--events "5:mouse:20,-3 10:key:F11"]
//                 [--events-file FILE] [--out FILE.png|FILE.bmp] [--view NAME]...
//                 [--threads N] [--size WxH] [--bench]
//
// --view writes that view of the last frame (frame, spans, ids, light,
// levels, shadow) to --out instead of the frame; with several, each goes to
// --out with "-NAME" before its extension.
// --events-file reads a script of any length in the same syntax (events
// separated by blanks or line ends, '#' comments); its events follow those of
// --events; events for frames after the last are named in one warning.
// --threads draws on N threads (1..256; every core by default).
// --size draws WxH frames (160x120 to 7680x4320; 400x300 by default).
// --bench prints one JSON line: time per frame and per phase, the number of
// frames whose resolves drew each warning, the resident memory after the
// first frames and at the end, and the span pools' size then.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/command_line.h"
#include "display/bmp.h"
#include "pipeline/frame.h"
#include "platform/headless.h"
#include "png_write.h"
#include "raster/resolve.h"
#include "texture/image.h"

namespace {

struct Options {
    const char* data;
    int frames;
    const char* events;
    const char* events_file;  // null: none
    std::string out;
    int bench;
    int threads;
    int width, height;       // frame size
    std::vector<int> views;  // FrameView, in the order given, each once
    int light;               // LightSource
    LightStart light_start;  // for LIGHT_GIVEN
};

// What every tick cost, kept for --bench only, which prints percentiles of
// each column; the warnings are counted as the ticks come.
struct BenchFigures {
    std::vector<double> total, look, vertices, faces, light_rows, camera_rows, present;  // ms, per tick
    int light_overlap, camera_overlap, out_of_memory;  // frames whose resolves drew each warning
};

// Memory figures: resident set after the first ticks, its highest sample
// after them (taken every memory_sample_interval ticks) and at the end.
struct MemoryRecord {
    int early_tick;          // tick after which `early` was taken
    long early_kb;           // resident kilobytes then
    long max_after_kb;       // highest sample from early_tick on
    long end_kb;             // after the last tick
    long peak_kb;            // the process's peak resident set, at least max_after_kb
    long early_pool_nodes;   // span nodes the pools hold after early_tick
    long end_pool_nodes;     // and after the last tick
    long early_storage_kb;   // the frame's own working storage then
    long end_storage_kb;
};

const int memory_early_tick = 100;      // start-up and the first views have settled by then
const int memory_sample_interval = 100;
const long max_script_bytes = 128L << 20;  // a soak script of a million frames takes about 60 MB

const char* const usage_text =
    "usage: varnel-render [--data DIR] [--frames N] [--events \"K:key:NAME K:mouse:DX,DY K:quit ...\"]\n"
    "                     [--events-file FILE] [--out FILE.png|FILE.bmp]\n"
    "                     [--view frame|spans|ids|light|levels|shadow]... [--threads N]\n"
    "                     [--size WxH] [--light X,Y,Z:AX,AY,AZ|camera] [--bench]\n";

const char* const help_text =
    "\n"
    "Runs the program on a data folder without a window for N frames of scripted input,\n"
    "then writes the last frame or prints figures of the run.\n"
    "\n"
    "--data DIR          the data folder (default: the working folder, or the demo\n"
    "                    installed with the program when that has no Svet.3ds)\n"
    "--frames N          frames to draw, 1 to 1000000 (default 1)\n"
    "--events TEXT       input, events separated by blanks: K:key:NAME presses a key\n"
    "                    before frame K, K:mouse:DX,DY moves the mouse (-1000000 to\n"
    "                    1000000), K:quit ends the run; K from 1\n"
    "--events-file FILE  more events in the same syntax, '#' starts a comment\n"
    "--out FILE          writes the last frame as PNG or BMP\n"
    "--view NAME         writes that view of the last frame instead (frame, spans, ids,\n"
    "                    light, levels, shadow); several go to FILE-NAME.png\n"
    "--threads N         draws on N threads, 1 to 256 (default: one per core)\n"
    "--size WxH          the frame's size, 160x120 to 7680x4320 (default 400x300)\n"
    "--light X,Y,Z:AX,AY,AZ  the light starts at X,Y,Z aiming at AX,AY,AZ (world\n"
    "                    units); --light camera starts it at the camera; either\n"
    "                    overrides the data folder's Light.txt\n"
    "--bench             prints one JSON line of times and memory figures\n"
    "\n"
    "Key names (any case): ESC or ESCAPE, END, HOME, LEFT, UP, RIGHT, DOWN, F11, F12, TAB.\n";

int usage(const char* why) {
    std::fprintf(stderr, "varnel-render: %s\n", why);
    std::fputs(usage_text, stderr);
    std::fputs("(varnel-render --help tells the options)\n", stderr);
    return 2;
}

int parse_options(int argc, char** argv, Options* o) {
    *o = Options{nullptr, 1, "", nullptr, "", 0, app_default_threads(), SCREEN_WIDTH, SCREEN_HEIGHT, {}, LIGHT_FROM_FILE, {}};
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        int has_value = i + 1 < argc;
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(usage_text, stdout);
            std::fputs(help_text, stdout);
            return -1;
        } else if (std::strcmp(a, "--bench") == 0) {
            o->bench = 1;
        } else if (std::strcmp(a, "--data") == 0 && has_value) {
            o->data = argv[++i];
        } else if (std::strcmp(a, "--events") == 0 && has_value) {
            o->events = argv[++i];
        } else if (std::strcmp(a, "--events-file") == 0 && has_value) {
            o->events_file = argv[++i];
        } else if (std::strcmp(a, "--out") == 0 && has_value) {
            o->out = argv[++i];
        } else if (std::strcmp(a, "--frames") == 0 && has_value) {
            char* end;
            long n = std::strtol(argv[++i], &end, 10);
            if (*end || end == argv[i] || n < 1 || n > 1000000)
                return usage((std::string("--frames '") + argv[i] + "': takes a number from 1 to 1000000").c_str());
            o->frames = (int)n;
        } else if (std::strcmp(a, "--view") == 0 && has_value) {
            int view = frame_view_find(argv[++i]);
            if (view < 0)
                return usage((std::string("unknown view ") + argv[i] +
                              ": --view takes frame, spans, ids, light, levels or shadow")
                                 .c_str());
            if (std::find(o->views.begin(), o->views.end(), view) == o->views.end()) o->views.push_back(view);
        } else if (std::strcmp(a, "--size") == 0 && has_value) {
            if (!app_parse_size(argv[++i], 0, &o->width, &o->height))
                return usage((std::string("--size takes WxH, not '") + argv[i] +
                              "'; frame sizes from 160x120 to 7680x4320 are accepted")
                                 .c_str());
            if (!app_check_size(stderr, "varnel-render: --size", o->width, o->height)) return 2;
        } else if (std::strcmp(a, "--light") == 0 && has_value) {
            LightSource source;
            if (!light_option_parse(argv[++i], &source, &o->light_start))
                return usage(app_light_option_help(argv[i]).c_str());
            o->light = source;
        } else if (std::strcmp(a, "--threads") == 0 && has_value) {
            o->threads = app_parse_threads(argv[++i]);
            if (!o->threads)
                return usage((std::string("--threads '") + argv[i] + "': takes a number from 1 to 256").c_str());
        } else {
            return usage((std::string("unknown or incomplete option ") + a).c_str());
        }
    }
    if (!o->views.empty() && o->out.empty()) return usage("--view needs --out");
    return 0;
}

// The tool may change directory, so output paths are made absolute first.
std::string absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

int ends_with(const std::string& s, const char* suffix) {
    size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// frame: 0x00RRGGBB words.
int write_frame(const std::string& name, const uint32_t* frame, int width, int height) {
    if (ends_with(name, ".bmp") || ends_with(name, ".BMP")) return bmp_write_frame(name.c_str(), frame, width, height);
    return png_write_rgb(name.c_str(), frame, width, height);
}

// Where view `name` goes: `out` itself when it is the only view, otherwise
// `out` with "-name" before its extension.
std::string view_file(const std::string& out, const char* name, int several) {
    if (!several) return out;
    size_t dot = out.rfind('.');
    return out.substr(0, dot) + "-" + name + out.substr(dot);
}

// Sorts v in place.
double percentile(std::vector<double>* v, double p) {
    if (v->empty()) return 0.0;
    std::sort(v->begin(), v->end());
    size_t i = (size_t)(p * (double)(v->size() - 1) + 0.5);
    return (*v)[std::min(i, v->size() - 1)];
}

// Every column sized for `frames` ticks at once: the memory figures then
// see no growth of the runner's own.
void bench_prepare(BenchFigures* b, int frames) {
    for (std::vector<double>* c : {&b->total, &b->look, &b->vertices, &b->faces, &b->light_rows,
                                   &b->camera_rows, &b->present})
        c->assign((size_t)frames, 0.0);
    b->light_overlap = b->camera_overlap = b->out_of_memory = 0;
}

void bench_record(BenchFigures* b, size_t tick, double total, const FramePhases& p) {
    const FrameReport& f = p.frame;
    b->total[tick] = total;
    b->look[tick] = p.look;
    b->vertices[tick] = f.vertices;
    b->faces[tick] = f.faces;
    b->light_rows[tick] = f.light_rows;
    b->camera_rows[tick] = f.camera_rows;
    b->present[tick] = p.present;
    b->light_overlap += (f.light_warnings & RESOLVE_WARNING_OVERLAP) != 0;
    b->camera_overlap += (f.camera_warnings & RESOLVE_WARNING_OVERLAP) != 0;
    b->out_of_memory += ((f.light_warnings | f.camera_warnings) & RESOLVE_WARNING_OUT_OF_MEMORY) != 0;
}

// Appends a whole script file to *text, which is given room for it first;
// 0 with a reason in *why.
int read_script(const char* name, std::string* text, const char** why) {
    FILE* f = std::fopen(name, "rb");
    if (!f) {
        *why = "cannot open the events file";
        return 0;
    }
    const size_t start = text->size();
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= max_script_bytes)
        text->reserve(start + (size_t)st.st_size + 1);
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        if ((long)(text->size() - start + n) > max_script_bytes) {
            std::fclose(f);
            *why = "events file larger than 128 MiB";
            return 0;
        }
        text->append(buffer, n);
    }
    int failed = std::ferror(f);
    std::fclose(f);
    if (failed) {
        *why = "cannot read the events file";
        return 0;
    }
    if (text->find('\0', start) != std::string::npos) {  // the parser would stop there unseen
        *why = "events file holds a zero byte";
        return 0;
    }
    return 1;
}

// The folder `out` (absolute) goes into must be there before any frame is
// drawn; 0, after one line on stderr, when it is not.
int out_folder_ready(const std::string& out) {
    std::string folder = out.substr(0, out.rfind('/'));
    if (folder.empty()) folder = "/";
    struct stat st;
    int ok = stat(folder.c_str(), &st) == 0;
    if (ok && !S_ISDIR(st.st_mode)) {
        ok = 0;
        errno = ENOTDIR;
    }
    if (ok && access(folder.c_str(), W_OK | X_OK) != 0) ok = 0;
    if (!ok) std::fprintf(stderr, "varnel-render: cannot write %s: %s: %s\n", out.c_str(), folder.c_str(), std::strerror(errno));
    return ok;
}

// One event as a script writes it ("5:key:F12", "7:mouse:3,-2", "9:quit").
std::string event_text(const HeadlessEvent& e) {
    std::string text = std::to_string(e.frame);
    if (e.kind == HEADLESS_KEY) {
        const char* name = headless_key_name(e.key);
        return text + ":key:" + (name ? name : "?");
    }
    if (e.kind == HEADLESS_MOUSE) return text + ":mouse:" + std::to_string(e.dx) + "," + std::to_string(e.dy);
    return text + ":quit";
}

// Events for frames after the last are never delivered: one line names
// them (the first few, and how many more).
void warn_late_events(const std::vector<HeadlessEvent>& events, int frames) {
    const int named_max = 5;
    std::string named;
    int late = 0;
    for (const HeadlessEvent& e : events) {
        if (e.frame <= frames) continue;
        if (late++ < named_max) named += " " + event_text(e);
    }
    if (!late) return;
    if (late > named_max) named += " and " + std::to_string(late - named_max) + " more";
    std::fprintf(stderr, "varnel-render: warning: %d event%s after the last frame (%d) never delivered:%s\n", late,
                 late == 1 ? "" : "s", frames, named.c_str());
}

// Resident set of this process in kilobytes; 0 when it cannot be read.
long resident_kb() {
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    long size = 0, resident = 0;
    int fields = std::fscanf(f, "%ld %ld", &size, &resident);
    std::fclose(f);
    return fields == 2 ? resident * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

long peak_resident_kb() {
    struct rusage usage;
    return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : 0;  // kilobytes on Linux
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (int r = parse_options(argc, argv, &o)) return r < 0 ? 0 : r;
    if (!o.out.empty() && !ends_with(o.out, ".png") && !ends_with(o.out, ".bmp") &&
        !ends_with(o.out, ".PNG") && !ends_with(o.out, ".BMP"))
        return usage("--out must name a .png or .bmp file");
    std::string out = absolute(o.out);
    if (!out.empty() && !out_folder_ready(out)) return 1;
    // The file is read straight after the --events text: one copy of it.
    std::string script = o.events;
    if (o.events_file) {
        script += "\n";
        const char* why;
        if (!read_script(o.events_file, &script, &why)) {
            std::fprintf(stderr, "varnel-render: %s: %s\n", o.events_file, why);
            return 1;
        }
    }
    // The array is sized from the script itself, so a script of any length
    // fits, and the backend takes it over: one copy of it too.
    int event_count;
    const char* error;
    if (!headless_parse_events(script.c_str(), nullptr, 0, &event_count, &error))
        return usage((std::string("--events: ") + error).c_str());
    std::vector<HeadlessEvent> events((size_t)event_count);
    if (!headless_parse_events(script.c_str(), events.data(), event_count, &event_count, &error))
        return usage(error);
    std::string().swap(script);
    warn_late_events(events, o.frames);
    if (!o.data) o.data = app_installed_data("varnel-render", stderr);
    if (!o.data) o.data = ".";
    if (chdir(o.data) != 0) {
        std::fprintf(stderr, "varnel-render: cannot enter data folder %s\n", o.data);
        return 1;
    }

    headless_configure_taking(o.frames, &events);
    BenchFigures bench = {};
    if (o.bench) bench_prepare(&bench, o.frames);
    platform_use(headless_backend());
    const AppSettings settings = {o.threads, o.width, o.height, 0, o.light, o.light_start};
    if (app_startup(&settings) != STARTUP_OK) {
        app_shutdown();
        return 1;
    }

    // The message loop of app_run, timing every tick.
    AppState* app = app_state();
    MemoryRecord memory = {std::min(memory_early_tick, o.frames), 0, 0, 0, 0, 0, 0, 0, 0};
    int tick_count = 0;
    double start = frame_clock_ms();
    Message message;
    while (platform_next_message(&message)) {
        if (message.type != MSG_TIMER) {
            window_proc(message.type, message.key);
            continue;
        }
        double t0 = frame_clock_ms();
        window_proc(message.type, message.key);
        double t1 = frame_clock_ms();
        if (o.bench && tick_count < o.frames) bench_record(&bench, (size_t)tick_count, t1 - t0, *app_frame_phases());
        tick_count++;
        if (tick_count == memory.early_tick) {
            memory.early_kb = memory.max_after_kb = resident_kb();
            memory.early_pool_nodes = frame_span_pool_nodes();
            memory.early_storage_kb = frame_storage_bytes() / 1024;
        } else if (tick_count > memory.early_tick && tick_count % memory_sample_interval == 0) {
            memory.max_after_kb = std::max(memory.max_after_kb, resident_kb());
        }
    }
    double wall_s = (frame_clock_ms() - start) / 1000.0;
    memory.end_kb = resident_kb();
    memory.max_after_kb = std::max(memory.max_after_kb, memory.end_kb);
    // The kernel refreshes its high-water mark lazily and can miss a peak
    // whose pages were handed back since, so the samples count too.
    memory.peak_kb = std::max(peak_resident_kb(), memory.max_after_kb);
    memory.end_pool_nodes = frame_span_pool_nodes();
    memory.end_storage_kb = frame_storage_bytes() / 1024;

    int status = 0;
    if (!out.empty() && o.views.empty()) o.views.push_back(FRAME_VIEW_FRAME);
    const int width = app->screen.width, height = app->screen.height;
    std::vector<uint32_t> picture(o.views.empty() ? 0 : (size_t)width * (size_t)height);
    for (int view : o.views) {
        std::string file = view_file(out, frame_view_name(view), o.views.size() > 1);
        if (!frame_draw_view(view, picture.data())) {
            std::fprintf(stderr, "varnel-render: no frame was drawn, so %s was not written\n", file.c_str());
            status = 1;
        } else if (!write_frame(file, picture.data(), width, height)) {
            std::fprintf(stderr, "varnel-render: cannot write %s\n", file.c_str());
            status = 1;
        }
    }
    if (o.bench) {
        size_t ticked = (size_t)std::min(tick_count, o.frames);
        for (std::vector<double>* c : {&bench.total, &bench.look, &bench.vertices, &bench.faces, &bench.light_rows,
                                       &bench.camera_rows, &bench.present})
            c->resize(ticked);
        std::printf("{\"frames\": %d, \"threads\": %d, \"size\": [%d, %d], "
                    "\"ms_per_frame\": {\"median\": %.4f, \"p5\": %.4f, \"p95\": %.4f}, "
                    "\"phases_ms\": {\"look\": %.4f, \"vertices\": %.4f, \"faces\": %.4f, "
                    "\"light_rows\": %.4f, \"camera_rows\": %.4f, \"present\": %.4f}, "
                    "\"wall_s\": %.3f, "
                    "\"warning_frames\": {\"light_overlap\": %d, \"camera_overlap\": %d, \"out_of_memory\": %d}, "
                    "\"rss_kb\": {\"after_frame\": %d, \"early\": %ld, \"max_after\": %ld, \"end\": %ld, "
                    "\"peak\": %ld}, \"span_pool_nodes\": {\"early\": %ld, \"end\": %ld}, "
                    "\"frame_storage_kb\": {\"early\": %ld, \"end\": %ld}}\n",
                    tick_count, frame_threads(), width, height, percentile(&bench.total, 0.5),
                    percentile(&bench.total, 0.05), percentile(&bench.total, 0.95),
                    percentile(&bench.look, 0.5), percentile(&bench.vertices, 0.5), percentile(&bench.faces, 0.5),
                    percentile(&bench.light_rows, 0.5), percentile(&bench.camera_rows, 0.5),
                    percentile(&bench.present, 0.5), wall_s, bench.light_overlap, bench.camera_overlap,
                    bench.out_of_memory,
                    memory.early_tick, memory.early_kb, memory.max_after_kb, memory.end_kb, memory.peak_kb,
                    memory.early_pool_nodes, memory.end_pool_nodes, memory.early_storage_kb,
                    memory.end_storage_kb);
    }
    app_shutdown();
    return status;
}
