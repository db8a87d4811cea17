// Vectors and 4 x 4 matrices in single precision.
//
// Points are row vectors multiplied on the left: p' = p * M, so rows 0..2 of a
// matrix are the images of the x, y and z axes and row 3 (m[12..14]) is the
// translation. Column 3 is (0, 0, 0, 1) in every matrix the engine builds.
// A pose maps local coordinates to world coordinates; a view is its inverse.
// Angles are radians; all rotations are right-handed in this row-vector form.
#pragma once

struct Vec3 {
    float x, y, z;
};

struct Matrix4 {
    float m[16];  // row by row: element (r, c) is m[4 * r + c]
};

// -- builders: each computes its elementary matrix R and sets M = R * M, so
//    the new transform acts first, in M's own local frame --------------------
void matrix_identity(Matrix4* m);
void matrix_rotate_x(Matrix4* m, float angle);  // +y turns toward +z
void matrix_rotate_y(Matrix4* m, float angle);  // +z turns toward +x
void matrix_rotate_z(Matrix4* m, float angle);  // +x turns toward +y
void matrix_translate(Matrix4* m, float x, float y, float z);

// -- products and inverses ---------------------------------------------------
// dst = b * a: transforming by dst equals transforming by b, then by a.
// Built in a temporary, so dst may alias a or b.
void matrix_multiply(const Matrix4* a, const Matrix4* b, Matrix4* dst);
// Inverse of an affine matrix (column 3 = 0, 0, 0, 1). src and dst must
// differ. A singular 3 x 3 block yields infinities or NaNs, unreported.
void matrix_inverse_affine(const Matrix4* src, Matrix4* dst);

// p * M, without a w component.
Vec3 matrix_transform_point(const Matrix4* m, Vec3 p);
