// Which way up a model stands best, for files that do not say: the base it
// would stand on with each axis up, as a slicer lays a part on the widest
// face it can stand on.
#include <algorithm>
#include <cmath>
#include <vector>

#include "import/import.h"

namespace {

// The points within this share of the model's height of its lowest point
// are its base; the model's size keeps the areas comparable between axes.
const double base_layer = 0.02;

struct Point2 {
    double x, y;
};

double cross(const Point2& o, const Point2& a, const Point2& b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// The convex hull of `p` counter-clockwise (monotone chain).
std::vector<Point2> hull(std::vector<Point2> p) {
    std::sort(p.begin(), p.end(), [](const Point2& a, const Point2& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    if (p.size() < 3) return p;
    std::vector<Point2> h(2 * p.size());
    size_t k = 0;
    for (size_t i = 0; i < p.size(); i++) {
        while (k >= 2 && cross(h[k - 2], h[k - 1], p[i]) <= 0) k--;
        h[k++] = p[i];
    }
    for (size_t i = p.size() - 1, t = k + 1; i > 0; i--) {
        while (k >= t && cross(h[k - 2], h[k - 1], p[i - 1]) <= 0) k--;
        h[k++] = p[i - 1];
    }
    h.resize(k - 1);
    return h;
}

double area(const std::vector<Point2>& h) {
    double a = 0.0;
    for (size_t i = 0; i < h.size(); i++) {
        const Point2 &p = h[i], &q = h[(i + 1) % h.size()];
        a += p.x * q.y - q.x * p.y;
    }
    return 0.5 * std::fabs(a);
}

int inside(const std::vector<Point2>& h, Point2 c) {
    if (h.size() < 3) return 0;
    for (size_t i = 0; i < h.size(); i++)
        if (cross(h[i], h[(i + 1) % h.size()], c) < 0) return 0;
    return 1;
}

}  // namespace

void import_stable_bases(const ImportModel* model, StableBase bases[6]) {
    // The surface's centre of mass (each triangle weighs its area) and the
    // bounds of every corner, in the library's axes.
    double centre[3] = {0, 0, 0}, weight = 0.0;
    double low[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, high[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (const ImportPart& part : model->parts)
        for (size_t t = 0; t + 2 < part.corners.size(); t += 3) {
            const double* p[3];
            for (int k = 0; k < 3; k++) p[k] = &part.positions[3 * (size_t)part.corners[t + k]];
            double u[3], v[3];
            for (int j = 0; j < 3; j++) u[j] = p[1][j] - p[0][j], v[j] = p[2][j] - p[0][j];
            const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
            const double a = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            if (!std::isfinite(a)) continue;
            for (int j = 0; j < 3; j++) {
                centre[j] += a * (p[0][j] + p[1][j] + p[2][j]) / 3.0;
                for (int k = 0; k < 3; k++) low[j] = std::min(low[j], p[k][j]), high[j] = std::max(high[j], p[k][j]);
            }
            weight += a;
        }
    const double size = std::max(high[0] - low[0], std::max(high[1] - low[1], high[2] - low[2]));
    for (int b = 0; b < 6; b++) bases[b] = StableBase{b / 2, b % 2 ? -1 : 1, 0.0, 0};
    if (!(weight > 0.0) || !(size > 0.0) || !std::isfinite(size)) return;
    for (int j = 0; j < 3; j++) centre[j] /= weight;
    for (int b = 0; b < 6; b++) {
        StableBase& base = bases[b];
        const int axis = base.axis, a = (axis + 1) % 3, c = (axis + 2) % 3;
        const double bottom = base.sign > 0 ? low[axis] : high[axis], layer = base_layer * (high[axis] - low[axis]);
        std::vector<Point2> points;
        for (const ImportPart& part : model->parts)
            for (size_t i = 0; i + 2 < part.positions.size(); i += 3) {
                const double* p = &part.positions[i];
                if (std::isfinite(p[axis]) && std::fabs(p[axis] - bottom) <= layer) points.push_back(Point2{p[a], p[c]});
            }
        const std::vector<Point2> h = hull(points);
        base.area = area(h) / (size * size);
        base.stable = inside(h, Point2{centre[a], centre[c]});
    }
}
