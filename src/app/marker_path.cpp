#include "app/marker_path.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app.h"
#include "math/fixed.h"
#include "scene/regular_file.h"

namespace {

struct MarkerPath {
    int point_count;        // N, as read from the file
    Vec3* points;           // the corners in world coordinates, file order
    float* segment_lengths; // length i runs from point i to point (i + 1) mod N
    float total_length;     // sum of the segment lengths
};

MarkerPath path = {};

const char* const path_file_name = "Pos.txt";
// Far more corners than any path needs; keeps a damaged count from asking
// for gigabytes.
const int max_points = 1 << 20;

int reject(FILE* f, const char* why) {
    std::fprintf(stderr, "%s: %s: %s; the marker is off\n", app_program(), path_file_name, why);
    if (f) std::fclose(f);
    marker_path_free();
    return 0;
}

}  // namespace

int marker_path_load() {
    path = MarkerPath{};
    const char* why;
    FILE* f = regular_file_open(path_file_name, &why);
    // No path file is the normal way to run without the marker; a pipe or a
    // device under that name is refused, never waited on.
    if (!f) return std::strcmp(why, "cannot open file") == 0 ? 0 : reject(nullptr, why);
    int n;
    if (std::fscanf(f, "%d", &n) != 1) return reject(f, "no point count");
    if (n <= 0) return reject(f, "the point count must be 1 or more");
    if (n > max_points) return reject(f, "too many points");
    path.points = (Vec3*)std::malloc(sizeof(Vec3) * (size_t)n);
    path.segment_lengths = (float*)std::malloc(sizeof(float) * (size_t)n);
    if (!path.points || !path.segment_lengths) {  // the run would differ: start-up stops
        std::fclose(f);
        marker_path_free();
        return MARKER_PATH_NO_MEMORY;
    }
    path.point_count = n;
    for (int i = 0; i < n; i++) {
        Vec3* p = &path.points[i];
        if (std::fscanf(f, "%f %f %f", &p->x, &p->y, &p->z) != 3)
            return reject(f, "fewer points than its count, or text where a number should be");
        if (!std::isfinite(p->x) || !std::isfinite(p->y) || !std::isfinite(p->z))
            return reject(f, "a coordinate is not a finite number");
    }
    float total = 0.0f;
    for (int i = 0; i < n; i++) {
        const Vec3& a = path.points[i];
        const Vec3& b = path.points[(i + 1) % n];
        float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
        path.segment_lengths[i] = std::sqrt(dz * dz + dx * dx + dy * dy);
        total += path.segment_lengths[i];
    }
    if (!std::isfinite(total)) return reject(f, "the points are too far apart");
    path.total_length = total;
    std::fclose(f);
    return 1;
}

// Constant speed along the path's length. Segments of length 0 are never
// chosen, so repeated points are passed over; when no segment takes d
// (t exactly 1.0, a path of total length 0) the result is the first point.
Vec3 marker_path_position(float t) {
    if (path.point_count <= 0) return Vec3{0.0f, 0.0f, 0.0f};
    // From 2^23 on, t - 1 rounds back to t; whole floats are whole laps.
    // Times before the start (and NaN) are the start.
    if (!(t < FLOAT_WHOLE) || !(t > 0.0f)) t = 0.0f;
    while (t > 1.0f) t -= 1.0f;
    float d = t * path.total_length;
    for (int i = 0; i < path.point_count; i++) {
        float length = path.segment_lengths[i];
        if (d < length) {
            float f = d / length;
            const Vec3& a = path.points[i];
            const Vec3& b = path.points[(i + 1) % path.point_count];
            return Vec3{a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f};
        }
        d -= length;
    }
    return path.points[0];
}

void marker_path_free() {
    std::free(path.points);
    std::free(path.segment_lengths);
    path = MarkerPath{};
}
