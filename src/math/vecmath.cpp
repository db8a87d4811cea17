#include "math/vecmath.h"

#include <cmath>
#include <cstring>

void matrix_identity(Matrix4* m) {
    std::memset(m->m, 0, sizeof m->m);
    m->m[0] = m->m[5] = m->m[10] = m->m[15] = 1.0f;
}

void matrix_multiply(const Matrix4* a, const Matrix4* b, Matrix4* dst) {
    Matrix4 t;
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) {
            double sum = 0.0;
            for (int k = 0; k < 4; k++) sum += (double)b->m[4 * r + k] * a->m[4 * k + c];
            t.m[4 * r + c] = (float)sum;
        }
    *dst = t;
}

namespace {

// m = r * m for an elementary rotation in the plane of axes i and j:
// r[i][i] = r[j][j] = cos, r[i][j] = sin, r[j][i] = -sin.
void rotate(Matrix4* m, float angle, int i, int j) {
    Matrix4 r;
    matrix_identity(&r);
    float c = (float)std::cos((double)angle), s = (float)std::sin((double)angle);
    r.m[4 * i + i] = c;
    r.m[4 * i + j] = s;
    r.m[4 * j + i] = -s;
    r.m[4 * j + j] = c;
    matrix_multiply(m, &r, m);
}

}  // namespace

void matrix_rotate_x(Matrix4* m, float angle) { rotate(m, angle, 1, 2); }
void matrix_rotate_y(Matrix4* m, float angle) { rotate(m, angle, 2, 0); }
void matrix_rotate_z(Matrix4* m, float angle) { rotate(m, angle, 0, 1); }

void matrix_translate(Matrix4* m, float x, float y, float z) {
    Matrix4 t;
    matrix_identity(&t);
    t.m[12] = x;
    t.m[13] = y;
    t.m[14] = z;
    matrix_multiply(m, &t, m);
}

void matrix_inverse_affine(const Matrix4* src, Matrix4* dst) {
    const float* s = src->m;
    float* d = dst->m;
    double det = (double)s[0] * ((double)s[5] * s[10] - (double)s[6] * s[9]) -
                 (double)s[1] * ((double)s[4] * s[10] - (double)s[6] * s[8]) +
                 (double)s[2] * ((double)s[4] * s[9] - (double)s[5] * s[8]);
    double det_f = (double)(float)det;  // the divisor is rounded to single precision
    // Adjugate of the 3 x 3 block (transposed cofactors) ...
    double a[12];
    a[0] = (double)s[5] * s[10] - (double)s[6] * s[9];
    a[1] = (double)s[9] * s[2] - (double)s[10] * s[1];
    a[2] = (double)s[1] * s[6] - (double)s[2] * s[5];
    a[3] = (double)s[8] * s[6] - (double)s[10] * s[4];
    a[4] = (double)s[0] * s[10] - (double)s[2] * s[8];
    a[5] = (double)s[4] * s[2] - (double)s[6] * s[0];
    a[6] = (double)s[4] * s[9] - (double)s[5] * s[8];
    a[7] = (double)s[8] * s[1] - (double)s[9] * s[0];
    a[8] = (double)s[0] * s[5] - (double)s[1] * s[4];
    // ... and the translation row, -t * adj(A), so that after the division by
    // det it is -t * inverse(A).
    for (int c = 0; c < 3; c++)
        a[9 + c] = -((double)s[12] * a[c] + (double)s[13] * a[3 + c] + (double)s[14] * a[6 + c]);
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 3; c++) d[4 * r + c] = (float)(a[3 * r + c] / det_f);
    d[3] = d[7] = d[11] = 0.0f;
    d[15] = 1.0f;
}

Vec3 matrix_transform_point(const Matrix4* m, Vec3 p) {
    const float* e = m->m;
    return Vec3{p.x * e[0] + p.y * e[4] + p.z * e[8] + e[12],
                p.x * e[1] + p.y * e[5] + p.z * e[9] + e[13],
                p.x * e[2] + p.y * e[6] + p.z * e[10] + e[14]};
}
