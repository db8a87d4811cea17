// varnel-render: the program's start-up and frame tick on the headless
// backend. Renders N ticks with scripted input in a data folder and writes the
// last frame, or prints timing figures.
//
//   varnel-render [--data DIR] [--frames N] [--events "5:mouse:20,-3 10:key:F11"]
//                 [--out FILE.png|FILE.bmp] [--bench]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/screenshot.h"
#include "platform/headless.h"
#include "png_write.h"
#include "texture/image.h"

namespace {

struct Options {
    const char* data;
    int frames;
    const char* events;
    std::string out;
    int bench;
};

int usage(const char* why) {
    std::fprintf(stderr, "varnel-render: %s\n", why);
    std::fprintf(stderr,
                 "usage: varnel-render [--data DIR] [--frames N] [--events \"K:key:NAME K:mouse:DX,DY ...\"]\n"
                 "                     [--out FILE.png|FILE.bmp] [--bench]\n");
    return 2;
}

int parse_options(int argc, char** argv, Options* o) {
    *o = Options{".", 1, "", "", 0};
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        int has_value = i + 1 < argc;
        if (std::strcmp(a, "--bench") == 0) {
            o->bench = 1;
        } else if (std::strcmp(a, "--data") == 0 && has_value) {
            o->data = argv[++i];
        } else if (std::strcmp(a, "--events") == 0 && has_value) {
            o->events = argv[++i];
        } else if (std::strcmp(a, "--out") == 0 && has_value) {
            o->out = argv[++i];
        } else if (std::strcmp(a, "--frames") == 0 && has_value) {
            char* end;
            long n = std::strtol(argv[++i], &end, 10);
            if (*end || n < 1 || n > 1000000) return usage("--frames needs a number from 1 to 1000000");
            o->frames = (int)n;
        } else {
            return usage((std::string("unknown or incomplete option ") + a).c_str());
        }
    }
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
    if (ends_with(name, ".bmp") || ends_with(name, ".BMP")) {
        std::vector<uint32_t> swapped(frame, frame + (size_t)width * height);
        for (uint32_t& w : swapped) w = (w & 0xFF00u) | ((w >> 16) & 0xFFu) | ((w & 0xFFu) << 16);
        RgbImage image = {swapped.data(), width, height};
        return bmp_write(name.c_str(), &image);
    }
    return png_write_rgb(name.c_str(), frame, width, height);
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    size_t i = (size_t)(p * (double)(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

double now_ms() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (int r = parse_options(argc, argv, &o)) return r;
    if (!o.out.empty() && !ends_with(o.out, ".png") && !ends_with(o.out, ".bmp") &&
        !ends_with(o.out, ".PNG") && !ends_with(o.out, ".BMP"))
        return usage("--out must name a .png or .bmp file");
    std::vector<HeadlessEvent> events(HEADLESS_MAX_EVENTS);
    int event_count;
    const char* error;
    if (!headless_parse_events(o.events, events.data(), HEADLESS_MAX_EVENTS, &event_count, &error))
        return usage(error);
    std::string out = absolute(o.out);
    if (chdir(o.data) != 0) {
        std::fprintf(stderr, "varnel-render: cannot enter data folder %s\n", o.data);
        return 1;
    }

    headless_configure(o.frames, events.data(), event_count);
    platform_use(headless_backend());
    if (app_startup() != STARTUP_OK) return 1;

    // The message loop of app_run, timing every tick.
    AppState* app = app_state();
    std::vector<double> total, light, cone, camera, present;
    int swapped = 0;  // the frame buffer was swapped for a screenshot in the last tick
    Message message;
    while (platform_next_message(&message)) {
        if (message.type != MSG_TIMER) {
            window_proc(message.type, message.key);
            continue;
        }
        int screenshot = app->screenshot_requested;
        double t0 = now_ms();
        window_proc(message.type, message.key);
        total.push_back(now_ms() - t0);
        const FramePhases* p = app_frame_phases();
        light.push_back(p->light);
        cone.push_back(p->cone);
        camera.push_back(p->camera);
        present.push_back(p->present);
        swapped = screenshot;
    }

    int status = 0;
    if (!out.empty()) {
        std::vector<uint32_t> frame(app->frame_buffer,
                                    app->frame_buffer + (size_t)app->screen_width * app->screen_height);
        if (swapped)  // back to 0x00RRGGBB
            for (uint32_t& w : frame) w = (w & 0xFF00u) | ((w >> 16) & 0xFFu) | ((w & 0xFFu) << 16);
        if (!write_frame(out, frame.data(), app->screen_width, app->screen_height)) {
            std::fprintf(stderr, "varnel-render: cannot write %s\n", out.c_str());
            status = 1;
        }
    }
    if (o.bench)
        std::printf("{\"frames\": %d, \"ms_per_frame\": {\"median\": %.4f, \"p5\": %.4f, \"p95\": %.4f}, "
                    "\"phases_ms\": {\"light\": %.4f, \"cone\": %.4f, \"camera\": %.4f, \"present\": %.4f}}\n",
                    (int)total.size(), percentile(total, 0.5), percentile(total, 0.05),
                    percentile(total, 0.95), percentile(light, 0.5), percentile(cone, 0.5),
                    percentile(camera, 0.5), percentile(present, 0.5));
    app_shutdown();
    return status;
}
