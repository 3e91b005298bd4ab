#include "resample/cubic_grid.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

CubicAxis Columns(int from, int to) {
    return MakeCubicAxis(from, MakeZoomAxis(from, to, to, from));
}

TEST(CubicGrid, FourColumnsToEightSampleAtThreeSevenths) {
    EXPECT_DOUBLE_EQ(MakeZoomAxis(4, 8, 8, 4).step, 3.0 / 7.0);
    const CubicAxis axis = Columns(4, 8);
    const float fractions[] = {-1.0f,      -0.5714286f, -0.1428571f, 0.2857143f,
                               0.7142857f, 1.1428572f,  1.5714285f};
    ASSERT_EQ(axis.base.size(), 8u);
    for (int j = 0; j < 7; ++j) {
        SCOPED_TRACE(j);
        EXPECT_EQ(axis.base[j], 1);
        EXPECT_NEAR(axis.fraction[j], fractions[j], 1e-6);
    }
    EXPECT_EQ(axis.base[7], 1);
    EXPECT_EQ(axis.fraction[7], 2.0f);
}

// Columns of a table that the examples pin down: index, base, fraction.
struct GridPoint {
    int from, to, column, base;
    float fraction;
};

TEST(CubicGrid, EnlargingAndReducingExamples) {
    const GridPoint points[] = {
        {640, 800, 1, 1, -0.2002503f}, {640, 800, 3, 2, 0.3992490f},
        {640, 800, 799, 637, 2.0f},    // lies at 639.0000000000086
        {1024, 800, 799, 1021, 2.0f},  // lies at 1022.9999999999928: the tolerance makes it 1023
        {1024, 800, 0, 1, -1.0f},
    };
    for (const GridPoint& p : points) {
        SCOPED_TRACE(testing::Message() << p.from << " -> " << p.to << " column " << p.column);
        const CubicAxis axis = Columns(p.from, p.to);
        ASSERT_EQ(int(axis.base.size()), p.to);
        EXPECT_EQ(axis.base[p.column], p.base);
        EXPECT_NEAR(axis.fraction[p.column], p.fraction, 1e-6);
    }
    EXPECT_DOUBLE_EQ(MakeZoomAxis(640, 800, 800, 640).step, 639.0 / 799.0);
    EXPECT_DOUBLE_EQ(MakeZoomAxis(1024, 800, 800, 1024).step, 1023.0 / 799.0);
}

TEST(CubicGrid, EqualSizesSampleEveryPixelAtItsOwnPosition) {
    for (int size : {4, 5, 9, 333}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(MakeZoomAxis(size, size, size, size).step, 1.0);
        const CubicAxis axis = Columns(size, size);
        EXPECT_EQ(axis.base[0], 1);
        EXPECT_EQ(axis.fraction[0], -1.0f);
        for (int j = 1; j <= size - 3; ++j) {
            EXPECT_EQ(axis.base[j], j);
            EXPECT_EQ(axis.fraction[j], 0.0f);
        }
        EXPECT_EQ(axis.base[size - 2], size - 3);
        EXPECT_EQ(axis.fraction[size - 2], 1.0f);
        EXPECT_EQ(axis.base[size - 1], size - 3);
        EXPECT_EQ(axis.fraction[size - 1], 2.0f);
    }
}

TEST(CubicGrid, OnePixelDestinationSamplesTheFirstPixel) {
    const ZoomAxis axis = MakeZoomAxis(50, 1, 1, 50);
    EXPECT_EQ(axis.step, 0.0);
    EXPECT_EQ(axis.count, 1);
    const CubicAxis table = MakeCubicAxis(50, axis);
    EXPECT_EQ(table.base[0], 1);
    EXPECT_EQ(table.fraction[0], -1.0f);
}

TEST(CubicGrid, SamplesStayInsideTheSourceAndCoverTheDestination) {
    const int sizes[][2] = {{4, 4},      {4, 1000},  {1000, 4}, {1024, 800},
                            {640, 2560}, {777, 123}, {5, 3}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(testing::Message() << s[0] << " -> " << s[1]);
        const ZoomAxis axis = MakeZoomAxis(s[0], s[1], s[1], s[0]);
        EXPECT_EQ(axis.count, s[1]);
        const CubicAxis table = MakeCubicAxis(s[0], axis);
        for (int j = 0; j < s[1]; ++j) {
            ASSERT_GE(table.base[j], 1);
            ASSERT_LE(table.base[j], s[0] - 3);
            ASSERT_GE(table.fraction[j], -1.0f);
            ASSERT_LE(table.fraction[j], 2.0f);
            if (j > 0) {
                ASSERT_GE(table.base[j], table.base[j - 1]);  // the row cache relies on it
            }
        }
        EXPECT_EQ(table.fraction[s[1] - 1], s[1] == 1 ? -1.0f : 2.0f);
    }
}

}  // namespace
