#include "app/light_start.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "scene/regular_file.h"

const char* const LIGHT_FILE_NAME = "Light.txt";

namespace {

// A light file is a few lines; anything much larger is not one.
const long light_file_max = 1 << 16;

// The file's text while it is read: held here rather than allocated, so
// reading it cannot run out of memory (a light moved for want of memory
// would change every frame).
char light_text[light_file_max + 1];

// The next blank-separated word of text[*at..size), past '#' comments, into
// word (room bytes; a longer word becomes "?"); 0 at the end.
int next_word(const char* text, long size, long* at, char* word, int room) {
    long i = *at;
    for (;;) {
        while (i < size && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) i++;
        if (i < size && text[i] == '#') {
            while (i < size && text[i] != '\n') i++;
            continue;
        }
        break;
    }
    int n = 0;
    while (i < size && text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n' && text[i] != '#') {
        if (n < room - 1) word[n] = text[i];
        n++, i++;
    }
    *at = i;
    if (n >= room) n = 0, word[n++] = '?';  // too long for any number or setting
    word[n] = '\0';
    return n > 0;
}

// 1 when the whole of `text` is a number that a float holds; -1 when it is
// a number a float cannot hold (NaN, an infinity, beyond 3.4e38); 0 when it
// is not a number.
int finite_number(const char* text, float* value) {
    char* end;
    double v = std::strtod(text, &end);
    if (end == text || *end) return 0;
    if (!std::isfinite(v) || std::fabs(v) > 3.0e38) return -1;
    *value = (float)v;
    return 1;
}

int same_point(Vec3 a, Vec3 b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

Vec3 cross(Vec3 a, Vec3 b) { return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

// a scaled to length 1, computed in double so a light far from its aim
// keeps its direction; a of length 0 stays 0.
Vec3 unit(double x, double y, double z) {
    double length = std::sqrt(x * x + y * y + z * z);
    if (!(length > 0.0)) return Vec3{0.0f, 0.0f, 0.0f};
    return Vec3{(float)(x / length), (float)(y / length), (float)(z / length)};
}

}  // namespace

int light_text_parse(const char* text, long size, LightFile* file, const char** why) {
    *file = LightFile{};
    if (std::memchr(text, 0, (size_t)size)) {
        *why = "holds a zero byte: not a text file";
        return 0;
    }
    float v[6];
    char word[64];
    long at = 0;
    for (int k = 0; k < 6; k++) {
        if (!next_word(text, size, &at, word, sizeof word)) {
            *why = k < 3 ? "fewer than six numbers: x y z of the light, then x y z of the point it aims at"
                         : "fewer than six numbers: the point the light aims at is missing";
            return 0;
        }
        const int number = finite_number(word, &v[k]);
        if (number <= 0) {
            *why = number < 0 ? "a coordinate is not a finite number" : "text where a number should be";
            return 0;
        }
    }
    file->start = LightStart{{v[0], v[1], v[2]}, {v[3], v[4], v[5]}};
    if (same_point(file->start.position, file->start.aim)) {
        *why = "the light aims at its own position";
        return 0;
    }
    while (next_word(text, size, &at, word, sizeof word)) {
        if (std::strcmp(word, "smooth") == 0) {
            file->smooth = 1;
        } else {
            *why = "an unknown word after the six numbers (only \"smooth\" may follow them)";
            return 0;
        }
    }
    return 1;
}

int light_file_read(LightFile* file, const char** why) {
    *file = LightFile{};
    FILE* f = regular_file_open(LIGHT_FILE_NAME, why);
    if (!f) return std::strcmp(*why, "cannot open file") == 0 ? 0 : -1;
    char* text = light_text;
    long size = (long)std::fread(text, 1, (size_t)light_file_max + 1, f);
    int result = -1;
    if (std::ferror(f))
        *why = "cannot read the file";
    else if (size > light_file_max)
        *why = "larger than a light file can be (64 KiB)";
    else
        result = light_text_parse(text, size, file, why) ? 1 : -1;
    std::fclose(f);
    return result;
}

int light_option_parse(const char* text, LightSource* source, LightStart* start) {
    if (std::strcmp(text, "camera") == 0) {
        *source = LIGHT_AT_CAMERA;
        return 1;
    }
    float v[6];
    const char* p = text;
    for (int k = 0; k < 6; k++) {
        char number[64];
        size_t n = std::strcspn(p, k == 2 ? ":" : ",");
        if (k == 5) n = std::strlen(p);
        if (n == 0 || n >= sizeof number) return 0;
        std::memcpy(number, p, n);
        number[n] = '\0';
        if (finite_number(number, &v[k]) != 1) return 0;
        p += n;
        if (k < 5) {
            if (*p != (k == 2 ? ':' : ',')) return 0;
            p++;
        }
    }
    LightStart given = {{v[0], v[1], v[2]}, {v[3], v[4], v[5]}};
    if (same_point(given.position, given.aim)) return 0;
    *start = given;
    *source = LIGHT_GIVEN;
    return 1;
}

int light_pose_from(const LightStart* start, Matrix4* pose) {
    const Vec3 p = start->position, a = start->aim;
    if (same_point(p, a)) return 0;
    const Vec3 forward = unit((double)a.x - p.x, (double)a.y - p.y, (double)a.z - p.z);
    Vec3 right = cross(forward, Vec3{0.0f, 1.0f, 0.0f});
    if (std::sqrt(right.x * right.x + right.z * right.z) < 1e-6f) right = Vec3{-1.0f, 0.0f, 0.0f};
    right = unit(right.x, right.y, right.z);
    const Vec3 down = cross(forward, right);
    const Vec3 rows[4] = {right, down, forward, p};
    for (int r = 0; r < 4; r++) {
        pose->m[4 * r + 0] = rows[r].x;
        pose->m[4 * r + 1] = rows[r].y;
        pose->m[4 * r + 2] = rows[r].z;
        pose->m[4 * r + 3] = r == 3 ? 1.0f : 0.0f;
    }
    return 1;
}
