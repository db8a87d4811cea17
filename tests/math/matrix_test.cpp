#include <gtest/gtest.h>

#include <cmath>

#include "math/vecmath.h"

namespace {

Matrix4 identity() {
    Matrix4 m;
    matrix_identity(&m);
    return m;
}

// A rigid pose: rotations about all three axes, then a translation.
Matrix4 rigid_pose() {
    Matrix4 m = identity();
    matrix_rotate_x(&m, 0.3f);
    matrix_rotate_y(&m, -1.1f);
    matrix_rotate_z(&m, 2.0f);
    matrix_translate(&m, 4.0f, -7.0f, 12.5f);
    return m;
}

void expect_near(const Matrix4& a, const Matrix4& b, float tolerance) {
    for (int i = 0; i < 16; i++) EXPECT_NEAR(a.m[i], b.m[i], tolerance) << "element " << i;
}

void expect_point(Vec3 p, float x, float y, float z) {
    EXPECT_NEAR(p.x, x, 1e-5f);
    EXPECT_NEAR(p.y, y, 1e-5f);
    EXPECT_NEAR(p.z, z, 1e-5f);
}

TEST(Matrix, MultiplyAppliesSecondThenFirstAndMayAliasItsInputs) {
    Matrix4 a = rigid_pose();
    Matrix4 b = identity();
    matrix_rotate_y(&b, 0.7f);
    Matrix4 product;
    matrix_multiply(&a, &b, &product);
    Vec3 p = {1.0f, 2.0f, 3.0f};
    Vec3 expected = matrix_transform_point(&a, matrix_transform_point(&b, p));
    Vec3 got = matrix_transform_point(&product, p);
    expect_point(got, expected.x, expected.y, expected.z);

    // Squaring in place must not read elements it has already overwritten.
    Matrix4 square;
    matrix_multiply(&a, &a, &square);
    Matrix4 in_place = a;
    matrix_multiply(&in_place, &in_place, &in_place);
    expect_near(in_place, square, 0.0f);
}

TEST(Matrix, RotationsAreRightHandedAndActInTheLocalFrame) {
    Matrix4 m = identity();
    matrix_rotate_x(&m, (float)M_PI / 2);
    expect_point(matrix_transform_point(&m, Vec3{0, 1, 0}), 0, 0, 1);  // +y toward +z
    m = identity();
    matrix_rotate_y(&m, (float)M_PI / 2);
    expect_point(matrix_transform_point(&m, Vec3{0, 0, 1}), 1, 0, 0);  // +z toward +x
    m = identity();
    matrix_rotate_z(&m, (float)M_PI / 2);
    expect_point(matrix_transform_point(&m, Vec3{1, 0, 0}), 0, 1, 0);  // +x toward +y

    // A rotation added to a translated pose turns about the pose's own origin.
    m = identity();
    matrix_translate(&m, 10, 0, 0);
    matrix_rotate_y(&m, (float)M_PI / 2);
    expect_point(matrix_transform_point(&m, Vec3{0, 0, 1}), 11, 0, 0);
}

TEST(Matrix, StartCameraRotationIsJustShortOfHalfTurn) {
    Matrix4 m = identity();
    matrix_rotate_z(&m, -3.1415925f);
    EXPECT_FLOAT_EQ(m.m[0], -1.0f);
    EXPECT_FLOAT_EQ(m.m[5], -1.0f);
    EXPECT_FLOAT_EQ(m.m[10], 1.0f);
    EXPECT_NEAR(m.m[1], -1.5e-7f, 0.2e-7f);
    EXPECT_NEAR(m.m[4], 1.5e-7f, 0.2e-7f);
}

TEST(Matrix, TranslateMovesAlongThePosesOwnAxes) {
    Matrix4 m = identity();
    matrix_rotate_y(&m, (float)M_PI / 2);  // local +z is world +x
    matrix_translate(&m, 1, 2, 3);
    EXPECT_NEAR(m.m[12], 3.0f, 1e-6f);
    EXPECT_NEAR(m.m[13], 2.0f, 1e-6f);
    EXPECT_NEAR(m.m[14], -1.0f, 1e-6f);
}

TEST(Matrix, AffineInverseOfRigidPoses) {
    Matrix4 t = identity();
    matrix_translate(&t, 3, -4, 5);
    Matrix4 inverse;
    matrix_inverse_affine(&t, &inverse);
    Matrix4 expected = identity();
    matrix_translate(&expected, -3, 4, -5);
    expect_near(inverse, expected, 0.0f);

    Matrix4 r = identity();
    matrix_rotate_x(&r, 0.4f);
    matrix_rotate_z(&r, -0.9f);
    matrix_inverse_affine(&r, &inverse);
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) EXPECT_NEAR(inverse.m[4 * i + j], r.m[4 * j + i], 1e-6f);

    Matrix4 pose = rigid_pose();
    matrix_inverse_affine(&pose, &inverse);
    Matrix4 both;
    matrix_multiply(&pose, &inverse, &both);
    expect_near(both, identity(), 1e-5f);
    matrix_multiply(&inverse, &pose, &both);
    expect_near(both, identity(), 1e-5f);
}

TEST(Matrix, SingularBlockGivesNonFiniteValues) {
    Matrix4 flat = identity();
    flat.m[10] = 0.0f;
    Matrix4 inverse;
    matrix_inverse_affine(&flat, &inverse);
    EXPECT_FALSE(std::isfinite(inverse.m[0]));
}

}  // namespace
