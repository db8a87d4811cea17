// varnel-render: the program's start-up and frame tick on the headless
// backend. Renders N ticks with scripted input in a data folder and writes
// the last frame or views of it, every frame as numbered images, a video
// clip of them, or figures of the run.
//
// The options, their ranges and their help lines are the table `options`
// below; --help prints it.
//
// Frames are written by a thread of their own while the next ones are
// drawn (frame_sink.h). A clip is named only when it is complete
// (video_write.h), and every image under a temporary name first, so a run
// that fails, or is killed, leaves no half file under a name it was given.
// SIGINT and SIGTERM end the run after the frame being drawn: the clip and
// the images then hold every frame finished, and the exit code is 128 plus
// the signal's number.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/command_line.h"
#include "display/bmp.h"
#include "frame_sink.h"
#include "pipeline/frame.h"
#include "pipeline/workers.h"
#include "platform/headless.h"
#include "png_write.h"
#include "progress_line.h"
#include "raster/resolve.h"
#include "scene/output_file.h"
#include "texture/image.h"
#include "video_write.h"

namespace {

struct Options {
    const char* data;         // null: the working folder or the installed demo
    int frames;
    int first;                // the first tick written, 1..frames
    const char* events;
    const char* events_file;  // null: none
    const char* out;          // "": none; a name with one %d: every frame
    const char* video;        // "": none
    int lossless;
    int force;
    int quiet;
    int bench;
    int threads;
    int width, height;        // frame size
    std::vector<int> views;   // FrameView, in the order given, each once
    int light;                // LightSource
    LightStart light_start;   // for LIGHT_GIVEN
};

// -- the options ----------------------------------------------------------------

enum OptionKind {
    OPTION_SWITCH,  // sets `number` to 1
    OPTION_NUMBER,  // a whole number from low to high into `number`
    OPTION_TEXT,    // the value as it is into `text`
    OPTION_OTHER,   // `take` reads it
};

struct RenderOption {
    const char* name;
    const char* value;           // the value's name in --help; null for a switch
    int kind;                    // OptionKind
    int Options::*number;        // a switch's or a number's field
    const char* Options::*text;  // a text's field
    int low, high;               // a number's range
    int (*take)(const char* value, Options* o);  // OPTION_OTHER: 1, or 0 for a value it does not take
    const char* accepts;         // OPTION_OTHER: what the value may be, for --help and the error line
    const char* help;            // "{}" stands for the range or `accepts`; '\n' continues the line
};

int take_view(const char* value, Options* o) {
    int view = frame_view_find(value);
    if (view < 0) return 0;
    if (std::find(o->views.begin(), o->views.end(), view) == o->views.end()) o->views.push_back(view);
    return 1;
}

// The form is held here; app_check_size then holds the range and asks for
// the buffers' memory.
int take_size(const char* value, Options* o) { return app_parse_size(value, 0, &o->width, &o->height); }

int take_light(const char* value, Options* o) {
    LightSource source;
    if (!light_option_parse(value, &source, &o->light_start)) return 0;
    o->light = source;
    return 1;
}

const int frames_max = 1000000;
const int sink_slots = 3;  // frames the writer holds: one being written, one waiting, one being filled

const RenderOption options[] = {
    {"--data", "DIR", OPTION_TEXT, nullptr, &Options::data, 0, 0, nullptr, nullptr,
     "the data folder (default: the working folder, or the demo\n"
     "beside the program when that has no Svet.3ds)"},
    {"--frames", "N", OPTION_NUMBER, &Options::frames, nullptr, 1, frames_max, nullptr, nullptr,
     "frames to draw, {} (default 1)"},
    {"--first", "K", OPTION_NUMBER, &Options::first, nullptr, 1, frames_max, nullptr, nullptr,
     "writes frames K to N only, {}; the ones\n"
     "before are run (input, camera, marker) but not drawn, and\n"
     "K to N come out as in a whole run (default 1)"},
    {"--events", "TEXT", OPTION_TEXT, nullptr, &Options::events, 0, 0, nullptr, nullptr,
     "input, events separated by blanks: K:key:NAME presses a key\n"
     "before frame K, K:mouse:DX,DY moves the mouse (-1000000 to\n"
     "1000000), K:quit ends the run; K from 1"},
    {"--events-file", "FILE", OPTION_TEXT, nullptr, &Options::events_file, 0, 0, nullptr, nullptr,
     "more events in the same syntax, '#' starts a comment"},
    {"--out", "FILE", OPTION_TEXT, nullptr, &Options::out, 0, 0, nullptr, nullptr,
     "writes the last frame as PNG or BMP; a name with one %d\n"
     "(any width: walk-%05d.png) writes every frame, numbered by it"},
    {"--view", "NAME", OPTION_OTHER, nullptr, nullptr, 0, 0, take_view, "frame, spans, ids, light, levels or shadow",
     "writes that view instead: {};\n"
     "several go to FILE-NAME.png"},
    {"--video", "FILE", OPTION_TEXT, nullptr, &Options::video, 0, 0, nullptr, nullptr,
     "encodes every frame into a clip at 50 frames a second:\n"
     ".mp4 (H.264), .webm (VP9) or .mkv (H.264)"},
    {"--lossless", nullptr, OPTION_SWITCH, &Options::lossless, nullptr, 0, 0, nullptr, nullptr,
     "a clip that decodes to the frames bit for bit: .mp4 in\n"
     "lossless H.264 RGB, .webm in lossless VP9, .mkv in FFV1"},
    {"--force", nullptr, OPTION_SWITCH, &Options::force, nullptr, 0, 0, nullptr, nullptr,
     "replaces an existing --video file"},
    {"--threads", "N", OPTION_NUMBER, &Options::threads, nullptr, 1, WORKERS_MAX, nullptr, nullptr,
     "draws on N threads, {} (default: VARNEL_THREADS, else\n"
     "one per core)"},
    {"--size", "WxH", OPTION_OTHER, nullptr, nullptr, 0, 0, take_size, "WxH from 160x120 to 7680x4320",
     "the frame's size, {} (default 400x300)"},
    {"--light", "X,Y,Z:AX,AY,AZ", OPTION_OTHER, nullptr, nullptr, 0, 0, take_light,
     LIGHT_OPTION_TAKES,
     "the light starts at X,Y,Z aiming at AX,AY,AZ (world\n"
     "units); --light camera starts it at the camera; either\n"
     "overrides the data folder's Light.txt"},
    {"--quiet", nullptr, OPTION_SWITCH, &Options::quiet, nullptr, 0, 0, nullptr, nullptr,
     "no progress line (shown on a terminal for --video and long runs)"},
    {"--bench", nullptr, OPTION_SWITCH, &Options::bench, nullptr, 0, 0, nullptr, nullptr,
     "prints one JSON line of times and memory figures"},
};

// What a number or other value may be, as --help and the error line say it.
std::string accepted(const RenderOption& option) {
    if (option.kind == OPTION_NUMBER)
        return "a number from " + std::to_string(option.low) + " to " + std::to_string(option.high);
    return option.accepts ? option.accepts : "";
}

const char* const usage_text =
    "usage: varnel-render [--data DIR] [--frames N] [--first K] [--events \"K:key:NAME K:mouse:DX,DY K:quit ...\"]\n"
    "                     [--events-file FILE] [--out FILE.png|FILE.bmp|FILE-%05d.png]\n"
    "                     [--view frame|spans|ids|light|levels|shadow]... [--video FILE.mp4|.webm|.mkv]\n"
    "                     [--lossless] [--force] [--threads N] [--size WxH] [--light X,Y,Z:AX,AY,AZ|camera]\n"
    "                     [--quiet] [--bench]\n";

void print_help() {
    std::fputs(usage_text, stdout);
    std::fputs("\nRuns the program on a data folder without a window for N frames of scripted input,\n"
               "then writes the last frame, every frame or a clip, or prints figures of the run.\n\n",
               stdout);
    for (const RenderOption& option : options) {
        std::string head = std::string(option.name) + (option.value ? std::string(" ") + option.value : "");
        std::string help = option.help;
        size_t at = help.find("{}");
        if (at != std::string::npos) help.replace(at, 2, accepted(option));
        for (size_t line = 0, next; line <= help.size(); line = next + 1) {
            next = help.find('\n', line);
            if (next == std::string::npos) next = help.size();
            std::printf("%-19s %s\n", line == 0 ? head.c_str() : "", help.substr(line, next - line).c_str());
        }
    }
    std::fputs("\nKey names (any case): ESC or ESCAPE, END, HOME, LEFT, UP, RIGHT, DOWN, F11, F12, TAB.\n", stdout);
}

int usage(const std::string& why) {
    std::fprintf(stderr, "varnel-render: %s\n", why.c_str());
    std::fputs(usage_text, stderr);
    std::fputs("(varnel-render --help tells the options)\n", stderr);
    return 2;
}

// One option and its value at argv[*i]; 0, or the exit code after the
// error line.
int take_option(const RenderOption& option, int argc, char** argv, int* i, Options* o) {
    if (option.kind == OPTION_SWITCH) {
        o->*option.number = 1;
        return 0;
    }
    if (*i + 1 >= argc) return usage(std::string(option.name) + " needs a value");
    const char* value = argv[++*i];
    int ok = 1;
    if (option.kind == OPTION_TEXT) {
        o->*option.text = value;
    } else if (option.kind == OPTION_NUMBER) {
        char* end;
        long n = std::strtol(value, &end, 10);
        ok = end != value && !*end && n >= option.low && n <= option.high;
        if (ok) o->*option.number = (int)n;
    } else {
        ok = option.take(value, o);
    }
    if (ok) return 0;
    return usage(std::string(option.name) + " '" + value + "': takes " + accepted(option));
}

// -1 after --help, 0 to go on, or the exit code after the error line.
int parse_options(int argc, char** argv, Options* o) {
    *o = Options{nullptr, 1, 1, "", nullptr, "", "", 0, 0, 0, 0, 0, SCREEN_WIDTH, SCREEN_HEIGHT,
                 {}, LIGHT_FROM_FILE, {}};
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            print_help();
            return -1;
        }
        const RenderOption* option = nullptr;
        for (const RenderOption& candidate : options)
            if (std::strcmp(argv[i], candidate.name) == 0) option = &candidate;
        if (!option) return usage(std::string("unknown option ") + argv[i]);
        if (int r = take_option(*option, argc, argv, &i, o)) return r;
    }
    if (!o->threads) o->threads = app_threads_from_environment(stderr);
    if (!o->views.empty() && !*o->out) return usage("--view needs --out");
    if (o->first > o->frames)
        return usage("--first " + std::to_string(o->first) + " lies after the last frame (--frames " +
                     std::to_string(o->frames) + ")");
    if (o->lossless && !*o->video) return usage("--lossless needs --video");
    // Beside the frame's own buffers: each view's, and the writer's slots
    // when every frame goes out.
    size_t extra = 0;
    for (int view : o->views) extra += frame_view_bytes(view, o->width, o->height);
    if (*o->video || std::strchr(o->out, '%'))
        extra += (size_t)sink_slots * (size_t)o->width * (size_t)o->height * 4;
    if (!app_check_size(stderr, "varnel-render: --size", o->width, o->height, extra)) return 2;
    return 0;
}

// -- where the frames go ----------------------------------------------------------

// An --out name holding a frame number: "walk-%05d.png" is head "walk-",
// width 5 with zeros, tail ".png".
struct FileSequence {
    int numbered;      // 1: the name holds one conversion
    std::string head;  // before it, "%%" read as '%'
    std::string tail;  // after it
    int width;         // the field's least width, 0..max_field_width
    int zeros;         // 1: padded with zeros rather than blanks
    int left;          // 1: the number stands left in its field
};

const int max_field_width = 20;

// Reads one printf integer conversion (%d, %i or %u with flags 0 and - and
// a width) out of `name`; 0 with *why for any other conversion or more
// than one. The name is never handed to printf itself.
int sequence_parse(const std::string& name, FileSequence* s, std::string* why) {
    *s = FileSequence{};
    std::string* text = &s->head;
    for (size_t i = 0; i < name.size(); i++) {
        if (name[i] != '%') {
            *text += name[i];
            continue;
        }
        if (i + 1 < name.size() && name[i + 1] == '%') {
            *text += '%';
            i++;
            continue;
        }
        if (s->numbered) {
            *why = "holds more than one %d; one frame number goes into the name";
            return 0;
        }
        size_t j = i + 1;
        for (; j < name.size() && (name[j] == '0' || name[j] == '-'); j++) (name[j] == '0' ? s->zeros : s->left) = 1;
        for (; j < name.size() && name[j] >= '0' && name[j] <= '9'; j++) {
            s->width = s->width * 10 + (name[j] - '0');
            if (s->width > max_field_width) {
                *why = "takes a field width of at most " + std::to_string(max_field_width);
                return 0;
            }
        }
        if (j >= name.size() || (name[j] != 'd' && name[j] != 'i' && name[j] != 'u')) {
            *why = "takes one integer conversion (%d, %05d) for the frame number, and %% for a %";
            return 0;
        }
        s->numbered = 1;
        text = &s->tail;
        i = j;
    }
    return 1;
}

std::string sequence_name(const FileSequence& s, int tick) {
    if (!s.numbered) return s.head;
    std::string number = std::to_string(tick);
    const size_t width = (size_t)s.width;
    if (number.size() < width) {
        if (s.left) number.append(width - number.size(), ' ');
        else number.insert(0, width - number.size(), s.zeros ? '0' : ' ');
    }
    return s.head + number + s.tail;
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

int image_name(const std::string& name) {
    return ends_with(name, ".png") || ends_with(name, ".bmp") || ends_with(name, ".PNG") || ends_with(name, ".BMP");
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

// What the run writes besides the last frame: every frame as images, a
// clip, or both, through one writer thread. Jobs handed to the sink are
// tick * job_stride + the view's index in `views`, or + video_job.
struct RunOutput {
    FileSequence sequence;   // --out, absolute; numbered: every frame goes out
    std::vector<int> views;  // what --out gets of each frame
    std::string video_name;  // absolute --video, or empty
    const VideoCodec* codec;
    VideoWriter* video;
    FrameSink* sink;         // null when only the last frame is written
    int width, height;
    std::string failed;      // what the writer could not write, and why: "file: reason"
    double fill_ms;          // the drawing's time putting frames into the sink's slots
    uint32_t* picture;       // the last frame's views are drawn here (malloc); null when none is written
};

enum { job_stride = 8, video_job = 7 };
static_assert((int)FRAME_VIEW_COUNT < (int)video_job, "a job's view index stays below the video's");

int write_job(void* target, const uint32_t* pixels, int job) {
    RunOutput* r = (RunOutput*)target;
    const int tick = job / job_stride, k = job % job_stride;
    if (k == video_job) {
        if (video_write(r->video, pixels)) return 1;
        r->failed = r->video_name + ": " + video_error(r->video);
        return 0;
    }
    std::string file = view_file(sequence_name(r->sequence, tick), frame_view_name(r->views[(size_t)k]),
                                 r->views.size() > 1);
    if (write_frame(file, pixels, r->width, r->height)) return 1;
    r->failed = output_file_error();
    return 0;
}

// Checks what the options name for output, before anything is drawn: 0 to
// go on, or the exit code after one line.
int plan_output(const Options& o, RunOutput* r) {
    r->views = o.views;
    if (*o.out) {
        if (!image_name(o.out)) return usage("--out must name a .png or .bmp file");
        std::string why;
        if (!sequence_parse(absolute(o.out), &r->sequence, &why))
            return usage(std::string("--out '") + o.out + "' " + why);
        if (!out_folder_ready(r->sequence.head + r->sequence.tail)) return 1;
        if (r->views.empty()) r->views.push_back(FRAME_VIEW_FRAME);
    }
    if (*o.video) {
        const VideoKind* kind = video_kind_find(o.video);
        if (!kind)
            return usage(std::string("--video '") + o.video + "': takes a file ending in " + video_extensions());
        r->codec = o.lossless ? &kind->lossless : &kind->normal;
        r->video_name = absolute(o.video);
        if (!out_folder_ready(r->video_name)) return 1;
        struct stat st;
        if (lstat(r->video_name.c_str(), &st) == 0) {
            const char* why = !S_ISREG(st.st_mode) ? "is not a regular file, and is never replaced"
                              : !o.force           ? "exists; use --force to replace it"
                                                   : nullptr;
            if (why) {
                std::fprintf(stderr, "varnel-render: %s %s\n", o.video, why);
                return 1;
            }
        }
    }
    r->width = o.width;
    r->height = o.height;
    return 0;
}

// The clip's encoder and file, the writer thread, and what the views
// written need, all before the first frame; 0 to go on, or the exit code
// after one line.
int open_output(const Options& o, RunOutput* r) {
    for (int view : r->views)
        if (!frame_view_prepare(view)) {
            std::fprintf(stderr, "varnel-render: not enough memory for the %s view (%d x %d)\n", frame_view_name(view),
                         o.width, o.height);
            return 1;
        }
    if (*o.out && !r->sequence.numbered) {
        r->picture = (uint32_t*)std::malloc((size_t)o.width * (size_t)o.height * 4);
        if (!r->picture) {
            std::fprintf(stderr, "varnel-render: not enough memory for the picture of %s (%d x %d)\n", o.out,
                         o.width, o.height);
            return 1;
        }
    }
    if (!r->video_name.empty()) {
        int coded_width, coded_height;
        video_coded_size(r->codec, o.width, o.height, &coded_width, &coded_height);
        if (coded_width != o.width || coded_height != o.height)
            std::fprintf(stderr,
                         "varnel-render: %s: %s takes even sizes only, so the %dx%d frames get one black %s and "
                         "the clip is %dx%d\n",
                         o.video, r->codec->what, o.width, o.height,
                         coded_width != o.width && coded_height != o.height ? "column and row"
                         : coded_width != o.width                       ? "column on the right"
                                                                        : "row at the bottom",
                         coded_width, coded_height);
        std::string why;
        r->video = video_open(r->video_name.c_str(), r->codec, o.width, o.height, &why);
        if (!r->video) {
            std::fprintf(stderr, "varnel-render: cannot write %s: %s\n", o.video, why.c_str());
            return 1;
        }
    }
    if (r->video || r->sequence.numbered) {
        r->sink = frame_sink_start(write_job, r, (size_t)o.width * (size_t)o.height, sink_slots);
        if (!r->sink) {
            std::fprintf(stderr, "varnel-render: no memory or thread for writing the frames\n");
            if (r->video) video_discard(r->video);
            r->video = nullptr;
            return 1;
        }
    }
    return 0;
}

// Hands the latest frame to the writer: each view for the images, the
// frame for the clip. 0 once writing has failed.
int output_frame(RunOutput* r, int tick) {
    if (!r->sink) return 1;
    double t0 = frame_clock_ms();
    int ok = 1;
    if (r->sequence.numbered)
        for (size_t k = 0; k < r->views.size() && ok; k++) {
            uint32_t* slot = frame_sink_slot(r->sink);
            ok = slot && frame_draw_view(r->views[k], slot);
            if (ok) frame_sink_commit(r->sink, tick * job_stride + (int)k);
        }
    if (r->video && ok) {
        uint32_t* slot = frame_sink_slot(r->sink);
        ok = slot && frame_draw_view(FRAME_VIEW_FRAME, slot);
        if (ok) frame_sink_commit(r->sink, tick * job_stride + video_job);
    }
    r->fill_ms += frame_clock_ms() - t0;
    return ok;
}

// Waits for the writer and names the clip; 1 when everything was written,
// else 0 after one line.
int close_output(RunOutput* r, int replace, FrameSinkFigures* figures) {
    int ok = 1;
    if (r->sink && !frame_sink_finish(r->sink, figures)) {
        std::fprintf(stderr, "varnel-render: cannot write %s\n", r->failed.c_str());
        ok = 0;
    }
    r->sink = nullptr;
    if (!r->video) return ok;
    if (!ok) {
        video_discard(r->video);
    } else {
        std::string why, kept_as;
        ok = video_finish(r->video, replace, &why, &kept_as);
        if (!ok)
            std::fprintf(stderr, "varnel-render: cannot write %s: %s%s%s\n", r->video_name.c_str(), why.c_str(),
                         kept_as.empty() ? "" : ": ", kept_as.c_str());
    }
    r->video = nullptr;
    return ok;
}

// -- figures -----------------------------------------------------------------------

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
const int progress_frames = 300;           // longer runs show progress on a terminal

// The signal that asked the run to stop, 0 before one came.
volatile sig_atomic_t stop_signal = 0;

void on_stop(int number) { stop_signal = number; }

// SIGINT and SIGTERM end the loop after the frame being drawn; a second
// one ends the process at once, as it would have without the handler.
void catch_stop_signals() {
    struct sigaction action = {};
    action.sa_handler = on_stop;
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGINT, SIGTERM}) sigaction(number, &action, nullptr);
}

// Sorts v in place.
double percentile(std::vector<double>* v, double p) {
    if (v->empty()) return 0.0;
    std::sort(v->begin(), v->end());
    size_t i = (size_t)(p * (double)(v->size() - 1) + 0.5);
    return (*v)[std::min(i, v->size() - 1)];
}

// Every column sized for `frames` ticks at once: the memory figures then
// see no growth of the runner's own. 0 when their memory cannot be had.
int bench_prepare(BenchFigures* b, int frames) {
    b->light_overlap = b->camera_overlap = b->out_of_memory = 0;
    try {
        for (std::vector<double>* c : {&b->total, &b->look, &b->vertices, &b->faces, &b->light_rows,
                                       &b->camera_rows, &b->present})
            c->assign((size_t)frames, 0.0);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
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

// The --events text and the --events-file script, parsed; 0, or the exit
// code after one line.
int read_events(const Options& o, std::vector<HeadlessEvent>* events) {
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
        return usage(std::string("--events: ") + error);
    events->resize((size_t)event_count);
    if (!headless_parse_events(script.c_str(), events->data(), event_count, &event_count, &error)) return usage(error);
    return 0;
}

// How the run went.
struct RunTally {
    int ticks;      // ticks run, drawn or not
    int written;    // ticks drawn from --first on
    int failed;     // writing a frame failed, and the run stopped
    int short_frames;  // frames drawn with the memory warning: their spans or records found no memory
    double wall_s;  // the loop's time
};

void memory_sample(MemoryRecord* memory, int tick_count) {
    if (tick_count == memory->early_tick) {
        memory->early_kb = memory->max_after_kb = resident_kb();
        memory->early_pool_nodes = frame_span_pool_nodes();
        memory->early_storage_kb = frame_storage_bytes() / 1024;
    } else if (tick_count > memory->early_tick && tick_count % memory_sample_interval == 0) {
        memory->max_after_kb = std::max(memory->max_after_kb, resident_kb());
    }
}

// The message loop of app_run: ticks before --first run unseen, the others
// are drawn, timed and handed to the writer.
void run_ticks(const Options& o, RunOutput* output, BenchFigures* bench, MemoryRecord* memory, RunTally* t) {
    const int total = o.frames - o.first + 1;
    ProgressLine progress;
    const int long_run = total > progress_frames || *o.video;
    progress_begin(&progress, stderr, long_run && !o.quiet && !o.bench, total, frame_clock_ms());
    double start = frame_clock_ms();
    Message message;
    while (!stop_signal && platform_next_message(&message)) {
        if (message.type != MSG_TIMER) {
            window_proc(message.type, message.key);
            continue;
        }
        const int tick = ++t->ticks;
        if (tick < o.first) {
            frame_tick_unseen();
            continue;
        }
        double t0 = frame_clock_ms();
        window_proc(message.type, message.key);
        double t1 = frame_clock_ms();
        const FrameReport& report = app_frame_phases()->frame;
        t->short_frames += ((report.light_warnings | report.camera_warnings) & RESOLVE_WARNING_OUT_OF_MEMORY) != 0;
        if (o.bench && t->written < total) bench_record(bench, (size_t)t->written, t1 - t0, *app_frame_phases());
        t->written++;
        memory_sample(memory, tick);
        if (!output_frame(output, tick)) {
            t->failed = 1;
            break;
        }
        progress_update(&progress, t->written, frame_clock_ms());
    }
    t->wall_s = (frame_clock_ms() - start) / 1000.0;
    progress_end(&progress);
}

// The last frame, or each view of it, to --out; 0 after a line for each
// file that could not be written.
int write_last_frame(const RunOutput& output) {
    const int width = output.width, height = output.height;
    uint32_t* const picture = output.picture;
    int ok = 1;
    for (int view : output.views) {
        std::string file = view_file(output.sequence.head, frame_view_name(view), output.views.size() > 1);
        if (!frame_draw_view(view, picture)) {
            std::fprintf(stderr, "varnel-render: no frame was drawn, so %s was not written\n", file.c_str());
            ok = 0;
        } else if (!write_frame(file, picture, width, height)) {
            std::fprintf(stderr, "varnel-render: cannot write %s\n", output_file_error());
            ok = 0;
        }
    }
    return ok;
}

void bench_print(BenchFigures* bench, const RunTally& tally, const MemoryRecord& memory, const RunOutput& output,
                 const FrameSinkFigures& sink) {
    const size_t ticked = (size_t)tally.written;
    for (std::vector<double>* c : {&bench->total, &bench->look, &bench->vertices, &bench->faces, &bench->light_rows,
                                   &bench->camera_rows, &bench->present})
        c->resize(std::min(ticked, c->size()));
    std::printf("{\"frames\": %d, \"threads\": %d, \"size\": [%d, %d], "
                "\"ms_per_frame\": {\"median\": %.4f, \"p5\": %.4f, \"p95\": %.4f}, "
                "\"phases_ms\": {\"look\": %.4f, \"vertices\": %.4f, \"faces\": %.4f, "
                "\"light_rows\": %.4f, \"camera_rows\": %.4f, \"present\": %.4f}, "
                "\"wall_s\": %.3f, "
                "\"warning_frames\": {\"light_overlap\": %d, \"camera_overlap\": %d, \"out_of_memory\": %d}, "
                "\"rss_kb\": {\"after_frame\": %d, \"early\": %ld, \"max_after\": %ld, \"end\": %ld, "
                "\"peak\": %ld}, \"span_pool_nodes\": {\"early\": %ld, \"end\": %ld}, "
                "\"frame_storage_kb\": {\"early\": %ld, \"end\": %ld}",
                tally.written, frame_threads(), output.width, output.height, percentile(&bench->total, 0.5),
                percentile(&bench->total, 0.05), percentile(&bench->total, 0.95), percentile(&bench->look, 0.5),
                percentile(&bench->vertices, 0.5), percentile(&bench->faces, 0.5),
                percentile(&bench->light_rows, 0.5), percentile(&bench->camera_rows, 0.5),
                percentile(&bench->present, 0.5), tally.wall_s, bench->light_overlap, bench->camera_overlap,
                bench->out_of_memory, memory.early_tick, memory.early_kb, memory.max_after_kb, memory.end_kb,
                memory.peak_kb, memory.early_pool_nodes, memory.end_pool_nodes, memory.early_storage_kb,
                memory.end_storage_kb);
    // The writer's figures, for runs that write every frame: its own time
    // per frame, and the share of the run the drawing spent handing frames
    // over, waiting for a free slot or for the last frames at the end.
    if (sink.written > 0) {
        const double drawing_ms = tally.wall_s * 1000.0, n = (double)std::max(tally.written, 1);
        const double handing_ms = output.fill_ms + sink.finish_ms;
        std::printf(", \"output\": {\"writer\": \"%s\", \"write_ms_per_frame\": %.4f, \"hand_over_ms_per_frame\": %.4f, "
                    "\"wait_ms_per_frame\": %.4f, \"finish_ms\": %.1f, \"share\": %.4f}",
                    output.codec ? output.codec->encoder : "images", sink.write_ms / n, output.fill_ms / n,
                    sink.wait_ms / n, sink.finish_ms, handing_ms / (drawing_ms + sink.finish_ms));
    }
    std::printf("}\n");
}

int render_main(int argc, char** argv) {
    Options o;
    if (int r = parse_options(argc, argv, &o)) return r < 0 ? 0 : r;
    RunOutput output = {};
    if (int r = plan_output(o, &output)) return r;
    std::vector<HeadlessEvent> events;
    if (int r = read_events(o, &events)) return r;
    warn_late_events(events, o.frames);
    if (!app_enter_data(o.data, stderr)) return 1;

    headless_configure_taking(o.frames, &events);
    BenchFigures bench = {};
    if (o.bench && !bench_prepare(&bench, o.frames - o.first + 1)) {
        std::fprintf(stderr, "varnel-render: not enough memory for the figures of %d frames\n", o.frames - o.first + 1);
        return 1;
    }
    platform_use(headless_backend());
    const AppSettings settings = {o.threads, o.width, o.height, 0, o.light, o.light_start};
    catch_stop_signals();
    int status = app_startup(&settings) == STARTUP_OK ? open_output(o, &output) : 1;
    if (status) {
        std::free(output.picture);
        app_shutdown();
        return status;
    }
    MemoryRecord memory = {std::min(memory_early_tick, o.frames), 0, 0, 0, 0, 0, 0, 0, 0};
    RunTally tally = {};
    run_ticks(o, &output, &bench, &memory, &tally);
    memory.end_kb = resident_kb();
    memory.max_after_kb = std::max(memory.max_after_kb, memory.end_kb);
    // The kernel refreshes its high-water mark lazily and can miss a peak
    // whose pages were handed back since, so the samples count too.
    memory.peak_kb = std::max(peak_resident_kb(), memory.max_after_kb);
    memory.end_pool_nodes = frame_span_pool_nodes();
    memory.end_storage_kb = frame_storage_bytes() / 1024;

    // The window shows the warning; a run that writes files says it too.
    if (tally.short_frames)
        std::fprintf(stderr,
                     "varnel-render: warning: not enough memory for the spans of %d of the %d frames drawn; they show "
                     "the memory warning\n",
                     tally.short_frames, tally.written);
    FrameSinkFigures sink = {};
    if (!close_output(&output, o.force, &sink) || tally.failed) status = 1;
    if (stop_signal) {
        std::fprintf(stderr, "varnel-render: stopped by signal %d after frame %d; the frames drawn are written\n",
                     (int)stop_signal, tally.ticks);
        status = 128 + stop_signal;
    } else if (!status && *o.out && !output.sequence.numbered && !write_last_frame(output)) {
        status = 1;
    }
    if (o.bench) bench_print(&bench, tally, memory, output, sink);
    std::free(output.picture);
    app_shutdown();
    return status;
}

}  // namespace

// The program's own strings and lists (options, names, events) are small,
// but a limit tight enough can refuse even those: that is one line and
// exit code 1 too, never an abort. Every buffer of the frames is checked
// where it is made.
int main(int argc, char** argv) {
    app_set_program("varnel-render");
    try {
        return render_main(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "varnel-render: not enough memory\n");
        return 1;
    }
}
