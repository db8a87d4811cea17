#include <sys/stat.h>

#include <cmath>

#include <gtest/gtest.h>

#include "app/marker_path.h"
#include "test_support.h"

namespace {

class MarkerPathTest : public ::testing::Test {
protected:
    MarkerPathTest() : dir_("marker_path") {}
    ~MarkerPathTest() override { marker_path_free(); }
    int load(const std::string& text) {
        write_file("Pos.txt", text);
        return marker_path_load();
    }
    ScratchDir dir_;
};

void expect_point(Vec3 p, float x, float y, float z) {
    EXPECT_NEAR(p.x, x, 1e-4f);
    EXPECT_NEAR(p.y, y, 1e-4f);
    EXPECT_NEAR(p.z, z, 1e-4f);
}

TEST_F(MarkerPathTest, WalksTheClosedPathAtConstantSpeed) {
    // A 10 x 10 square: four segments of 10, total 40.
    ASSERT_EQ(load("4\n0 0 0\n10 0 0\n10 0 10\n0 0 10\n"), 1);
    expect_point(marker_path_position(0.0f), 0, 0, 0);
    expect_point(marker_path_position(0.125f), 5, 0, 0);
    expect_point(marker_path_position(0.5f), 10, 0, 10);
    expect_point(marker_path_position(0.875f), 0, 0, 5);  // on the closing segment
    // Whole laps are removed; exactly 1.0 is no segment's and gives point 0.
    Vec3 half = marker_path_position(0.5f);
    Vec3 p15 = marker_path_position(1.5f), p25 = marker_path_position(2.5f);
    EXPECT_EQ(p15.x, half.x);
    EXPECT_EQ(p25.z, half.z);
    expect_point(marker_path_position(1.0f), 0, 0, 0);
}

TEST_F(MarkerPathTest, TwoPointsRunThereAndBackAndRepeatsArePassedOver) {
    ASSERT_EQ(load("2 0 0 0 8 4 0"), 1);
    expect_point(marker_path_position(0.25f), 4, 2, 0);
    expect_point(marker_path_position(0.75f), 4, 2, 0);
    marker_path_free();
    ASSERT_EQ(load("4  0 0 0  0 0 0  6 0 0  6 0 0"), 1);
    expect_point(marker_path_position(0.25f), 3, 0, 0);
    expect_point(marker_path_position(0.75f), 3, 0, 0);
}

TEST_F(MarkerPathTest, ZeroLengthPathStaysAtItsFirstPoint) {
    ASSERT_EQ(load("1  3 4 5"), 1);
    expect_point(marker_path_position(0.3f), 3, 4, 5);
    marker_path_free();
    ASSERT_EQ(load("3  1 1 1  1 1 1  1 1 1"), 1);
    expect_point(marker_path_position(0.7f), 1, 1, 1);
}

TEST_F(MarkerPathTest, DamagedFilesTurnTheMarkerOff) {
    const char* damaged[] = {
        "",                            // no count
        "0\n",                         // nothing to walk
        "-3\n1 2 3\n",                 // negative count
        "3\n0 0 0\n1 1 1\n",           // fewer points than promised
        "2\n0 0 0\n1 x 1\n",           // text where a number should be
        "2000000000\n0 0 0\n",         // a count far too large to allocate
        "abc",
        "2\n0 nan 0\n1 1 1\n",         // a coordinate the marker cannot be drawn at
        "2\n0 0 inf\n1 1 1\n",
        "2\n-3e38 0 0\n3e38 0 0\n",    // a length beyond float range
    };
    for (const char* text : damaged) {
        EXPECT_EQ(load(text), 0) << text;
        expect_point(marker_path_position(0.5f), 0, 0, 0);
    }
    std::remove("Pos.txt");
    EXPECT_EQ(marker_path_load(), 0);  // absent: the normal way to run without the marker
    ASSERT_EQ(mkfifo("Pos.txt", 0600), 0);
    EXPECT_EQ(marker_path_load(), 0);  // a pipe: refused, not waited on
}

TEST_F(MarkerPathTest, HugeNegativeAndNanTimesGiveTheStart) {
    ASSERT_EQ(load("3 0 0 0 0 0 0 10 0 0"), 1);  // a zero-length first segment
    expect_point(marker_path_position(3.0e9f), 0, 0, 0);
    expect_point(marker_path_position(-0.25f), 0, 0, 0);
    expect_point(marker_path_position(std::nanf("")), 0, 0, 0);
}

}  // namespace
