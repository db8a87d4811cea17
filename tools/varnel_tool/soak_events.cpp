// soak-events FRAMES [SEED]: prints a long input script for
// `varnel-render --events-file`, the same for the same two numbers.
//
// The script drives the camera through a tour of legs: into objects, into
// and through the walls, far outside the courtyard (which spans about
// x -216..216, z -146..466, y 0..130 in world units), above the sky and
// under the floor, spinning, looking straight up and down and past either.
// Besides the legs it presses F11 every few hundred frames, End now and
// then, Home every few thousand frames and F12 once, half-way.
//
// To steer, the generator keeps the camera as the program does: the pose
// built by the same matrix calls, the pitch apart, arrow keys applied before
// the frame's mouse motion. Where it ends up differs from a target only by
// the whole-step and whole-pixel rounding of the walk and the turns.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "math/vecmath.h"
#include "varnel_tool/commands.h"

namespace {

const float mouse_turn = 0.0033333334f;  // radians per mouse pixel, as the program turns
const float key_step = 5.0f;             // world units per arrow key press
const float pi = 3.14159265f;
const int walk_frames = 60;              // a walk to a target takes at most about this many frames
const int max_frames = 1000000;          // what varnel-render accepts

// splitmix64: small, and the same sequence on every platform. Numbers are
// drawn one statement at a time below: the order in which a call's arguments
// are evaluated is unspecified, and the script must not depend on the
// compiler.
struct Rng {
    uint64_t state;
};

uint64_t rng_next(Rng* r) {
    uint64_t z = (r->state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// lo..hi inclusive, hi >= lo.
int rng_range(Rng* r, int lo, int hi) { return lo + (int)(rng_next(r) % (uint64_t)(hi - lo + 1)); }

int rng_sign(Rng* r) { return (rng_next(r) & 1) ? 1 : -1; }

enum Arrow { ARROW_UP, ARROW_DOWN, ARROW_LEFT, ARROW_RIGHT, ARROW_COUNT };
const char* const arrow_names[] = {"UP", "DOWN", "LEFT", "RIGHT"};
static_assert(sizeof arrow_names / sizeof arrow_names[0] == ARROW_COUNT, "one name per arrow");

enum TargetGroup { TARGET_OBJECT, TARGET_WALL, TARGET_FAR, TARGET_YARD, TARGET_GROUP_COUNT };

struct Walker {
    Matrix4 pose;        // camera_pose as the program keeps it
    float pitch;         // camera_pitch, radians
    float up_sign;       // +1 when a rising pitch tilts the view up, else -1
    int frame;           // frame the next events belong to, 1-based
    int frames;          // last frame of the script
    int next_light;      // frame of the next F11
    int next_filter;     // frame of the next End
    int next_stats;      // frame of the next Home
    int screenshot;      // frame of the one F12; 0: none
    int visits[TARGET_GROUP_COUNT];  // visits so far per target group
    Rng rng;
    std::string text;    // the script so far
};

Vec3 position(const Walker* w) { return Vec3{w->pose.m[12], w->pose.m[13], w->pose.m[14]}; }

// One component of an arrow step along the pitched view, rounded as the program rounds it.
float step_along(double (*f)(double), float pitch) { return (float)((double)key_step * f((double)pitch)); }

void walker_move(Walker* w, Arrow arrow) {
    const float p = w->pitch;
    switch (arrow) {
    case ARROW_UP: matrix_translate(&w->pose, 0.0f, -step_along(std::sin, p), step_along(std::cos, p)); break;
    case ARROW_DOWN: matrix_translate(&w->pose, 0.0f, step_along(std::sin, p), -step_along(std::cos, p)); break;
    case ARROW_LEFT: matrix_translate(&w->pose, -key_step, 0.0f, 0.0f); break;
    case ARROW_RIGHT: matrix_translate(&w->pose, key_step, 0.0f, 0.0f); break;
    default: break;
    }
}

void append_event(Walker* w, const char* kind, const char* what) {
    char line[64];
    std::snprintf(line, sizeof line, "%d:%s:%s ", w->frame, kind, what);
    w->text += line;
}

// The scheduled keys of the current frame.
void append_scheduled(Walker* w) {
    if (w->frame == w->next_light) {
        append_event(w, "key", "F11");
        w->next_light += rng_range(&w->rng, 150, 400);
    }
    if (w->frame == w->next_filter) {
        append_event(w, "key", "END");
        w->next_filter += rng_range(&w->rng, 100, 700);
    }
    if (w->frame == w->next_stats) {
        append_event(w, "key", "HOME");
        w->next_stats += rng_range(&w->rng, 3000, 6000);
    }
    if (w->frame == w->screenshot) append_event(w, "key", "F12");
}

// One frame: `presses` presses of an arrow, then mouse motion (dx, dy).
// 0 once the script is full; nothing is written then.
int emit_frame(Walker* w, Arrow arrow, int presses, int dx, int dy) {
    if (w->frame > w->frames) return 0;
    append_scheduled(w);
    for (int i = 0; i < presses; i++) {
        append_event(w, "key", arrow_names[arrow]);
        walker_move(w, arrow);
    }
    if (dx || dy) {
        char motion[32];
        std::snprintf(motion, sizeof motion, "%d,%d", dx, dy);
        append_event(w, "mouse", motion);
        matrix_rotate_y(&w->pose, (float)dx * mouse_turn);
        w->pitch = w->pitch - (float)dy * mouse_turn;
    }
    if (!w->text.empty() && w->text.back() == ' ') w->text.back() = '\n';
    w->frame++;
    return 1;
}

int idle(Walker* w, int frames, int wiggle) {
    for (int i = 0; i < frames; i++) {
        int dx = rng_range(&w->rng, -wiggle, wiggle);
        int dy = rng_range(&w->rng, -wiggle, wiggle);
        if (!emit_frame(w, ARROW_UP, 0, dx, dy)) return 0;
    }
    return 1;
}

// Turns by dx and tilts by dy mouse pixels in total, at most `rate` pixels
// per frame on either axis.
int drag(Walker* w, long dx, long dy, int rate) {
    while (dx || dy) {
        int sx = (int)(dx > rate ? rate : dx < -rate ? -rate : dx);
        int sy = (int)(dy > rate ? rate : dy < -rate ? -rate : dy);
        if (!emit_frame(w, ARROW_UP, 0, sx, sy)) return 0;
        dx -= sx;
        dy -= sy;
    }
    return 1;
}

// Mouse pixels of vertical drag that bring the pitch to `pitch`, or to the
// same direction a whole turn away, whichever is nearer.
long tilt_to(const Walker* w, float pitch) {
    double delta = (double)pitch - (double)w->pitch;
    delta -= 2.0 * pi * std::floor(delta / (2.0 * pi) + 0.5);
    return -std::lround(delta / mouse_turn);  // the program lowers the pitch by dy * mouse_turn
}

int hold(Walker* w, Arrow arrow, int presses, int per_frame) {
    while (presses > 0) {
        int n = presses < per_frame ? presses : per_frame;
        if (!emit_frame(w, arrow, n, 0, 0)) return 0;
        presses -= n;
    }
    return 1;
}

// -- targets -------------------------------------------------------------------

struct Target {
    Vec3 at;       // world position
    float jitter;  // random offset up to this on each axis
};

// Inside the obelisk, crates, pillars, the steps and the marker's loop.
const Target object_targets[] = {
    {{0, 30, 280}, 4},   {{-76, 12, 72}, 6},  {{150, 12, 110}, 6}, {{75, 14, 235}, 6},
    {{110, 30, 160}, 2}, {{-110, 40, 260}, 2}, {{0, 12, 420}, 20},  {{70, 29, 150}, 10},
};
// Inside the four walls and the cornice.
const Target wall_targets[] = {
    {{216, 50, 150}, 4}, {{-216, 80, 300}, 4}, {{0, 60, 458}, 4}, {{40, 30, -138}, 4}, {{-190, 126, 200}, 3},
};
// Far outside: beside, above and below the world.
const Target far_targets[] = {
    {{3000, 30, 100}, 500}, {{-2500, 200, 2500}, 500}, {{0, 2000, 160}, 300},
    {{0, -600, 160}, 200},  {{500, 30, -4000}, 500},   {{-4000, -1500, -3000}, 500},
};
// Back in the courtyard, at eye height and on the floor.
const Target yard_targets[] = {
    {{0, 30, -50}, 10}, {{0, 30, 160}, 40}, {{-60, 0, 200}, 30}, {{140, 60, 380}, 20},
};

struct TargetTable {
    const Target* targets;
    int count;
};

const TargetTable target_groups[] = {
    {object_targets, (int)(sizeof object_targets / sizeof object_targets[0])},
    {wall_targets, (int)(sizeof wall_targets / sizeof wall_targets[0])},
    {far_targets, (int)(sizeof far_targets / sizeof far_targets[0])},
    {yard_targets, (int)(sizeof yard_targets / sizeof yard_targets[0])},
};
static_assert(sizeof target_groups / sizeof target_groups[0] == TARGET_GROUP_COUNT, "one table per group");

// The group's first visit goes to its first entry, so even a short script
// reaches the obelisk, a wall's inside and far outside; later ones at random.
Vec3 pick_target(Walker* w, TargetGroup group) {
    const TargetTable& table = target_groups[group];
    int i = w->visits[group]++ == 0 ? 0 : rng_range(&w->rng, 0, table.count - 1);
    const Target& t = table.targets[i];
    int j = (int)t.jitter;
    return Vec3{t.at.x + (float)rng_range(&w->rng, -j, j), t.at.y + (float)rng_range(&w->rng, -j, j),
                t.at.z + (float)rng_range(&w->rng, -j, j)};
}

// -- legs ----------------------------------------------------------------------
// Each leg writes frames until it is done or the script is full; 0 then.

// Turns and tilts toward a target, walks there with Up, and looks about.
int visit(Walker* w, TargetGroup group) {
    Vec3 target = pick_target(w, group);
    Vec3 p = position(w);
    float dx = target.x - p.x, dy = target.y - p.y, dz = target.z - p.z;
    float ground = std::sqrt(dx * dx + dz * dz);
    // The pose's forward axis (row 2) stays level: only turns about y touch it.
    float fx = w->pose.m[8], fz = w->pose.m[10];
    float turn = std::atan2(fx * dz - fz * dx, fx * dx + fz * dz);
    // Which way rotate_y turns: keep the sign that brings the axis onto the target.
    Matrix4 probe = w->pose;
    matrix_rotate_y(&probe, turn);
    if (probe.m[8] * dx + probe.m[10] * dz < fx * dx + fz * dz) turn = -turn;
    float elevation = std::atan2(dy, ground);
    int rate = rng_range(&w->rng, 40, 140);
    if (!drag(w, std::lround(turn / mouse_turn), tilt_to(w, w->up_sign * elevation), rate)) return 0;
    p = position(w);
    dx = target.x - p.x, dy = target.y - p.y, dz = target.z - p.z;
    int presses = (int)std::lround(std::sqrt(dx * dx + dy * dy + dz * dz) / key_step);
    int per_frame = rng_range(&w->rng, 1, 3);
    if (presses > per_frame * walk_frames) per_frame = (presses + walk_frames - 1) / walk_frames;
    if (!hold(w, ARROW_UP, presses, per_frame)) return 0;
    int linger = rng_range(&w->rng, 5, 30);
    return idle(w, linger, rng_range(&w->rng, 0, 20));
}

int visit_object(Walker* w) { return visit(w, TARGET_OBJECT); }
int visit_wall(Walker* w) { return visit(w, TARGET_WALL); }
int visit_far(Walker* w) { return visit(w, TARGET_FAR); }
int visit_yard(Walker* w) { return visit(w, TARGET_YARD); }

// Presses of Up that take a camera looking straight up or down from
// height y to height `to`.
int presses_to_height(const Walker* w, float to) {
    return (int)std::lround(std::fabs(to - position(w).y) / key_step);
}

// Spins round, looks straight up and rises high over the walls, straight
// down and sinks under the floor, tilts past the vertical and strafes upside
// down, jerks the mouse by thousands of pixels, and loops the pitch through a
// whole turn.
int look_around(Walker* w) {
    Rng* r = &w->rng;
    const float up = w->up_sign * pi * 0.5f;
    int spin = rng_range(r, 1885, 2400);  // a whole turn or more
    spin *= rng_sign(r);
    if (!drag(w, spin, 0, rng_range(r, 60, 160))) return 0;
    if (!drag(w, 0, tilt_to(w, up), rng_range(r, 40, 120)) || !idle(w, rng_range(r, 3, 15), 2)) return 0;
    int presses = presses_to_height(w, (float)rng_range(r, 200, 500));  // the walls end at 130
    if (!hold(w, ARROW_UP, presses, rng_range(r, 2, 5))) return 0;
    if (!drag(w, 0, tilt_to(w, -up), rng_range(r, 60, 160)) || !idle(w, rng_range(r, 3, 15), 2)) return 0;
    presses = presses_to_height(w, (float)-rng_range(r, 60, 300));  // the floor is at 0
    if (!hold(w, ARROW_UP, presses, rng_range(r, 3, 6))) return 0;
    float past = (float)rng_range(r, 10, 140) * 0.01f;  // radians beyond the vertical
    float over = (float)rng_sign(r) * (pi * 0.5f + past);
    if (!drag(w, 0, tilt_to(w, over), 100)) return 0;
    Arrow side = rng_sign(r) > 0 ? ARROW_LEFT : ARROW_RIGHT;
    if (!hold(w, side, rng_range(r, 10, 50), 2) || !hold(w, ARROW_DOWN, rng_range(r, 5, 30), 1)) return 0;
    int jerk_x = rng_range(r, 800, 3000);
    jerk_x *= rng_sign(r);
    int jerk_y = rng_range(r, 800, 3000);
    jerk_y *= rng_sign(r);
    if (!emit_frame(w, ARROW_UP, 0, jerk_x, jerk_y)) return 0;
    int loop = 1885 * rng_sign(r);  // the pitch once round
    return drag(w, 0, loop, rng_range(r, 60, 200)) && idle(w, rng_range(r, 2, 10), 5);
}

// One arrow held for 500 to 2000 units: through whatever stands in the way
// and usually out of the courtyard, along the pitch the last leg left.
int long_run(Walker* w) {
    Rng* r = &w->rng;
    Arrow arrow = (Arrow)rng_range(r, 0, ARROW_COUNT - 1);
    int presses = rng_range(r, 100, 400), per_frame = rng_range(r, 2, 4);
    while (presses > 0) {
        int n = presses < per_frame ? presses : per_frame;
        int drift = rng_range(r, 0, 3) == 0 ? rng_range(r, -3, 3) : 0;
        if (!emit_frame(w, arrow, n, drift, 0)) return 0;
        presses -= n;
    }
    return 1;
}

typedef int (*Leg)(Walker* w);
// The tour, repeated until the script is full.
const Leg tour[] = {
    visit_object, visit_wall, look_around, long_run, visit_far,  visit_yard,
    look_around,  visit_object, long_run, visit_far, visit_wall, visit_yard,
};

}  // namespace

int tool_soak_events(int argc, char** argv) {
    if (argc < 1 || argc > 2) {
        std::fprintf(stderr, "usage: varnel-tool soak-events FRAMES [SEED]\n");
        return 2;
    }
    char* end;
    long frames = std::strtol(argv[0], &end, 10);
    if (*end || end == argv[0] || frames < 1 || frames > max_frames) {
        std::fprintf(stderr, "varnel-tool: FRAMES must be a number from 1 to %d\n", max_frames);
        return 2;
    }
    unsigned long long seed = 1;
    if (argc == 2) {
        seed = std::strtoull(argv[1], &end, 10);
        if (*end || end == argv[1] || argv[1][0] == '-') {
            std::fprintf(stderr, "varnel-tool: SEED must be a non-negative number\n");
            return 2;
        }
    }

    Walker w = {};
    // The program's start: at world (0, 30, -50) looking along +z.
    matrix_identity(&w.pose);
    matrix_rotate_z(&w.pose, -3.1415925f);
    matrix_translate(&w.pose, 0.0f, -30.0f, -50.0f);
    Matrix4 view = w.pose;
    matrix_rotate_x(&view, 0.5f);
    w.up_sign = view.m[9] > 0.0f ? 1.0f : -1.0f;
    w.frame = 1;
    w.frames = (int)frames;
    w.rng.state = seed;
    w.next_light = rng_range(&w.rng, 100, 300);
    w.next_filter = rng_range(&w.rng, 50, 400);
    w.next_stats = rng_range(&w.rng, 200, 700);
    w.screenshot = frames >= 2 ? (int)frames / 2 : 0;

    char header[160];
    std::snprintf(header, sizeof header,
                  "# soak script: %ld frames, seed %llu\n"
                  "# varnel-render --data COPY_OF_DATA --frames %ld --events-file THIS_FILE --bench\n",
                  frames, seed, frames);
    w.text = header;
    const int legs = (int)(sizeof tour / sizeof tour[0]);
    for (int i = 0; tour[i % legs](&w); i++) {}
    std::fwrite(w.text.data(), 1, w.text.size(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
