// The stage an imported model stands on in the start view: where it is
// placed so that it fills the frame, the studio ground under it (a floor
// that sweeps up into a backdrop behind it) and where the light starts.
//
// The start camera stands at (0, 30, -50) and looks level along +z with a
// horizontal view of 90 degrees, so a point at view depth d and height y
// above the eye shows at y / d of the frame's half-width above the centre:
// a 4:3 frame shows heights up to 0.75 of the depth above and below, a
// 16:9 frame 0.5625, and every frame 1.0 of it to either side. Framing works
// in those ratios (X = x / d, Y = y / d, Y upwards).
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "import/import.h"

namespace {

// Where the model may lie in the start view. Both views keep it within
// +-0.9 across and between `bottom` and `top` upwards: whole in a 16:9
// frame (which shows +-0.5625) with room for the ground below it, and at
// least 45% of a 4:3 frame's height when its height is what limits it (a
// span of 0.82 is 55% of 1.5 there, 73% of 16:9's 1.125). Three-quarter:
// the eye at about 60% of the model's height; square on, at its middle.
struct FrameBox {
    double across;  // largest |X|
    double bottom;  // lowest Y
    double top;     // highest Y
};
const FrameBox three_quarter_box = {0.9, -0.50, 0.32};
const FrameBox front_box = {0.9, -0.41, 0.41};
// A model that its width keeps smaller than the box's height is set lower
// than the middle of the room left to it, by this share of that room, so
// that a low model is seen from above and its top shows.
const double low_model_drop = 0.3;
const double nearest_depth = 0.5;  // world units: nothing nearer the eye, whatever --scale makes of it

// The directions the model's outline is sampled in: the support points of
// a set of directions hold every point that can be extreme in the view.
const int support_steps = 3;  // directions (i, j, k) / |.| with i, j, k in -3..3

// The ground: a floor whose top is the model's lowest point, a gap of
// `backdrop_gap` model heights behind the model, then a quarter circle of
// `sweep_radius` gap lengths up into a wall; texture tiles of a quarter
// model size.
const double floor_drop = 0.002;     // of the model's size: the floor lies this far below its lowest point
const double backdrop_gap = 1.6;     // model heights (or footprint depths) behind the model
const double sweep_radius = 0.6;     // of that gap
const int sweep_steps = 8;
const int ground_columns_max = 48;
const int rows_max = 64;             // of the floor and of the wall: the ground stays far below 65535 vertices
const double tile_repeat = 2.0;      // model sizes per texture repeat (the texture holds 8 x 8 tiles)

// The light: from the camera's side and the screen's right, above the
// model. The three-quarter view turns the model's front to the screen's
// right, so the front is lit and the side beside it falls dark; the
// shadow falls behind the model to the screen's left, where the floor
// shows beside the model.
const double light_azimuth = -65.0;   // degrees from the view axis towards world +x (the screen's left)
const double light_elevation = 35.0;  // degrees above the ground
const double cone_reach = 0.42;       // tangent of the cone's narrowest lit half-angle, 16:9 frames included
const double light_room = 1.35;       // the cone's reach over the model's bounding sphere

double dot3(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Screen ratios of point p placed at t: X across (+ to the screen's right:
// world -x), Y upwards, and the view depth.
void project(const double p[3], const double t[3], double* x, double* y, double* depth) {
    *depth = p[2] + t[2] - IMPORT_EYE[2];
    *x = -(p[0] + t[0] - IMPORT_EYE[0]) / *depth;
    *y = (p[1] + t[1] - IMPORT_EYE[1]) / *depth;
}

struct Extent {
    double x_low, x_high, y_low, y_high, depth;  // screen ratios; nearest depth
};

Extent extent_at(const std::vector<double>& points, const double t[3]) {
    Extent e = {HUGE_VAL, -HUGE_VAL, HUGE_VAL, -HUGE_VAL, HUGE_VAL};
    for (size_t i = 0; i + 2 < points.size(); i += 3) {
        double x, y, d;
        project(&points[i], t, &x, &y, &d);
        e.x_low = std::min(e.x_low, x), e.x_high = std::max(e.x_high, x);
        e.y_low = std::min(e.y_low, y), e.y_high = std::max(e.y_high, y);
        e.depth = std::min(e.depth, d);
    }
    return e;
}

// Sets t[1], the model's height at depth t[2], by halving: `too_high(e)`
// says that at the height tried, whose screen extent is e, the model lies
// above where it is wanted. Y grows with the height at every point, so the
// answer changes once along the heights.
template <class TooHigh>
void bisect_height(const std::vector<double>& points, double t[3], TooHigh too_high) {
    double low = -1e12, high = 1e12;
    for (int i = 0; i < 200 && high - low > 1e-9 * (1.0 + std::fabs(low)); i++) {
        t[1] = 0.5 * (low + high);
        if (too_high(extent_at(points, t))) high = t[1];
        else low = t[1];
    }
}

int fits(const Extent& e, const FrameBox& box) {
    return e.depth >= nearest_depth && e.x_low >= -box.across && e.x_high <= box.across && e.y_low >= box.bottom &&
           e.y_high <= box.top;
}

// The points of `points` that are extreme along some sampled direction.
std::vector<double> support_points(const std::vector<double>& points) {
    std::vector<size_t> best;
    for (int i = -support_steps; i <= support_steps; i++)
        for (int j = -support_steps; j <= support_steps; j++)
            for (int k = -support_steps; k <= support_steps; k++) {
                if (!i && !j && !k) continue;
                const double d[3] = {(double)i, (double)j, (double)k};
                size_t arg = 0;
                double most = -HUGE_VAL;
                for (size_t p = 0; p + 2 < points.size(); p += 3) {
                    double v = dot3(&points[p], d);
                    if (v > most) most = v, arg = p;
                }
                best.push_back(arg);
            }
    std::sort(best.begin(), best.end());
    best.erase(std::unique(best.begin(), best.end()), best.end());
    std::vector<double> out;
    for (size_t p : best) out.insert(out.end(), &points[p], &points[p] + 3);
    return out;
}

// The translation at depth t[2] (the height as the view wants it) and
// whether the model then fits the box.
int place_at(const std::vector<double>& points, int view, const FrameBox& box, double t[3]) {
    // Square on, the eye level with the middle of the model's screen extent
    // (its centre, for a model without depth towards the camera).
    // Its top and bottom equally far inside (or outside) the box.
    bisect_height(points, t, [&](const Extent& e) { return box.top - e.y_high < e.y_low - box.bottom; });
    if (view == IMPORT_VIEW_FRONT) return fits(extent_at(points, t), box);
    Extent e = extent_at(points, t);
    const double room = (box.top - box.bottom) - (e.y_high - e.y_low);
    const double bottom = box.bottom + low_model_drop * room;
    if (room > 0.0) bisect_height(points, t, [&](const Extent& e) { return e.y_low > bottom; });
    return fits(extent_at(points, t), box);
}

}  // namespace

int stage_frame(const std::vector<double>& points, int view, double translate[3]) {
    if (points.size() < 3) return 0;
    const FrameBox& box = view == IMPORT_VIEW_FRONT ? front_box : three_quarter_box;
    const std::vector<double> outline = support_points(points);
    double low[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, high[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (size_t i = 0; i + 2 < points.size(); i += 3)
        for (int k = 0; k < 3; k++) low[k] = std::min(low[k], points[i + k]), high[k] = std::max(high[k], points[i + k]);
    const double size = std::max(high[0] - low[0], std::max(high[1] - low[1], high[2] - low[2]));
    if (!std::isfinite(size) || !(size > 0.0)) return 0;
    // Centred across the view axis; the depth is the nearest at which the
    // model fits the box, found by halving (nearer only ever grows it).
    double t[3] = {IMPORT_EYE[0] - 0.5 * (low[0] + high[0]), IMPORT_EYE[1], 0.0};
    double near = IMPORT_EYE[2] - low[2], far = IMPORT_EYE[2] - low[2] + nearest_depth + 1000.0 * size;
    t[2] = far;
    if (!place_at(outline, view, box, t)) return 0;
    for (int i = 0; i < 100 && far - near > 1e-7 * size; i++) {
        t[2] = 0.5 * (near + far);
        if (place_at(outline, view, box, t)) far = t[2];
        else near = t[2];
    }
    t[2] = far;
    place_at(outline, view, box, t);
    // The outline's directions may miss a point a little beyond it: step
    // back until every point fits.
    for (int i = 0; i < 60 && !fits(extent_at(points, t), box); i++) {
        t[2] += 0.005 * size + 0.005 * std::fabs(t[2] - IMPORT_EYE[2]);
        place_at(outline, view, box, t);
    }
    if (!fits(extent_at(points, t), box)) return 0;
    for (int k = 0; k < 3; k++) translate[k] = t[k];
    return 1;
}

void stage_ground(const double low[3], const double high[3], int material, SceneBuild* scene, StageGround* made) {
    const double height = high[1] - low[1];
    const double size = std::max(height, std::max(high[0] - low[0], high[2] - low[2]));
    const double floor_y = low[1] - floor_drop * size;
    const double eye_height = IMPORT_EYE[1] - floor_y;
    // The wall stands behind the model; its sweep starts `gap` behind it.
    const double gap = backdrop_gap * std::max(height, 0.5 * (high[2] - low[2]));
    const double radius = sweep_radius * gap;
    const double sweep_z = high[2] + gap - radius;
    const double wall_depth = sweep_z + radius - IMPORT_EYE[2];
    // Up to beyond the top of a 4:3 frame at the wall, and across beyond
    // both sides of the view there; in front, to behind the camera.
    const double wall_top = IMPORT_EYE[1] + 0.85 * wall_depth;
    const double half_width = 1.15 * wall_depth;
    const double front_z = IMPORT_EYE[2] - 0.5 * wall_depth;
    // Cells small enough that the one under the camera, which the near
    // limit drops, ends before the first row of ground a frame shows
    // (eye height / 0.75 ahead): no hole at the bottom of the frame.
    const double cell = std::min(0.8 * eye_height / 0.75, 2.0 * half_width / 16.0);
    const int columns = std::min(ground_columns_max, std::max(2, (int)std::ceil(2.0 * half_width / cell)));
    // The profile from the front edge: floor, sweep, wall, with the length
    // along it for the texture's v.
    std::vector<double> pz, py, along;
    const int floor_rows = std::min(rows_max, std::max(2, (int)std::ceil((sweep_z - front_z) / cell)));
    for (int r = 0; r <= floor_rows; r++) {
        pz.push_back(front_z + (sweep_z - front_z) * r / floor_rows);
        py.push_back(floor_y);
    }
    for (int s = 1; s <= sweep_steps; s++) {
        const double a = 0.5 * IMPORT_PI * s / sweep_steps;
        pz.push_back(sweep_z + radius * std::sin(a));
        py.push_back(floor_y + radius * (1.0 - std::cos(a)));
    }
    const double wall_bottom = floor_y + radius;
    const int wall_rows = std::min(rows_max, std::max(1, (int)std::ceil((wall_top - wall_bottom) / cell)));
    for (int r = 1; r <= wall_rows; r++) {
        pz.push_back(sweep_z + radius);
        py.push_back(wall_bottom + (wall_top - wall_bottom) * r / wall_rows);
    }
    along.push_back(0.0);
    for (size_t j = 1; j < pz.size(); j++) along.push_back(along.back() + std::hypot(pz[j] - pz[j - 1], py[j] - py[j - 1]));

    Mesh ground;
    const double repeat = tile_repeat * size;
    const double centre_x = 0.5 * (low[0] + high[0]);
    for (size_t j = 0; j < pz.size(); j++)
        for (int c = 0; c <= columns; c++) {
            const double x = centre_x - half_width + 2.0 * half_width * c / columns;
            mesh_add_vertex(&ground, Vec3{(float)x, (float)py[j], (float)pz[j]}, (float)(x / repeat),
                            (float)(along[j] / repeat));
        }
    const int row = columns + 1;
    for (size_t j = 0; j + 1 < pz.size(); j++) {
        // Seen from the inside of the sweep: up on the floor, towards the
        // camera on the wall.
        const Vec3 toward = {0.0f, (float)(pz[j + 1] - pz[j]), (float)(py[j] - py[j + 1])};
        for (int c = 0; c < columns; c++) {
            const uint16_t a = (uint16_t)(j * row + c), b = (uint16_t)(a + 1), d = (uint16_t)(a + row),
                           e = (uint16_t)(d + 1);
            mesh_add_face(&ground, a, b, e, toward, material);
            mesh_add_face(&ground, a, e, d, toward, material);
        }
    }
    *made = StageGround{2.0 * half_width, sweep_z - front_z, wall_top - floor_y, (int)ground.faces.size()};
    ground.name = "Ground";
    scene->meshes.push_back(std::move(ground));
}

std::string stage_light_text(const double low[3], const double high[3]) {
    const double height = high[1] - low[1];
    const double width = high[0] - low[0], depth = high[2] - low[2];
    const double size = std::max(height, std::max(width, depth));
    const double az = light_azimuth * IMPORT_PI / 180.0, el = light_elevation * IMPORT_PI / 180.0;
    // Towards the light from the model.
    const double towards[3] = {std::cos(el) * std::sin(az), std::sin(el), -std::cos(el) * std::cos(az)};
    // Seen from the light, the model's shadow lies behind the model
    // itself, so a cone that holds the model's outline with room around it
    // holds the shadow and lights the ground around both; any farther and
    // the model would cover fewer of the light's pixels than it could.
    const double aim[3] = {0.5 * (low[0] + high[0]), low[1] + 0.45 * height, 0.5 * (low[2] + high[2])};
    const double radius = 0.5 * std::sqrt(width * width + height * height + depth * depth) + 0.02 * size;
    const double distance = light_room * radius / cone_reach;
    char text[512];
    std::snprintf(text, sizeof text,
                  "# Where the spotlight starts, in world units: its position, then the point it aims at.\n"
                  "# F11 puts the light where the camera is; varnel --light camera starts it there.\n"
                  "%.4f %.4f %.4f\n%.4f %.4f %.4f\n"
                  "# smooth: a face's own smooth surface lights it too, so a model of many small\n"
                  "# faces shows no specks of shadow on itself.\n"
                  "smooth\n",
                  aim[0] + towards[0] * distance, aim[1] + towards[1] * distance, aim[2] + towards[2] * distance,
                  aim[0], aim[1], aim[2]);
    return text;
}
