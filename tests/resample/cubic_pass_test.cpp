#include "resample/cubic_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "resample/resize_dib.h"
#include "resample_test_image.h"

namespace {

TEST(CubicPass, CoefficientsAtTheSamplePositions) {
    struct Case {
        float t, g, h, l;
    };
    const Case cases[] = {{-1, 0, 0, 0}, {0, 1, 0, 0}, {1, 2, 1, 0}, {2, 3, 3, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.t);
        const CubicCoefficients k = MakeCubicCoefficients(c.t);
        EXPECT_EQ(k.g, c.g);
        EXPECT_EQ(k.h, c.h);
        EXPECT_EQ(k.l, c.l);
    }
}

// One destination column at `t` from a four-sample, one-channel row: its base is sample 1.
CubicGrid OneColumn(float t) {
    CubicGrid grid;
    grid.columns = 1;
    grid.rows = 1;
    grid.colOffset = {1};
    grid.colFraction = {t};
    return grid;
}

TEST(CubicPass, HorizontalExamplesAndTheirBytes) {
    struct Case {
        std::uint8_t p[4];
        float t;
        float value;
        std::uint8_t byte;
    };
    const Case cases[] = {
        {{0, 0, 255, 255}, 0.5f, 127.5f, 127},
        {{0, 255, 255, 0}, 0.5f, 286.875f, 255},  // overshoot clamps
        {{255, 0, 0, 0}, 0.5f, -15.9375f, 0},
        {{0, 255, 0, 0}, 0.5f, 143.4375f, 143},
        {{10, 20, 30, 40}, 0.25f, 22.5f, 22},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const Case& c = cases[i];
        float value = 0.0f;
        CubicHorizontalRow(c.p, 1, OneColumn(c.t), 1, &value);
        EXPECT_EQ(value, c.value);
        // Four equal rows at vertical fraction 0 hand the value to the final conversion.
        std::uint8_t byte = 0xEE;
        CubicVerticalRow(&value, &value, &value, &value, 1, 0.0f, &byte);
        EXPECT_EQ(byte, c.byte);
    }
}

TEST(CubicPass, VerticalResultIsTruncatedNotRounded) {
    const float values[] = {200.9f, 200.0f, 0.4f, 254.99f};
    const std::uint8_t expected[] = {200, 200, 0, 254};
    std::uint8_t out[4] = {};
    CubicVerticalRow(values, values, values, values, 4, 0.37f, out);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(out[k], expected[k]) << k;
}

// A 4 x 4 image whose rows and channels are equal, resized to 8 x 8.
TEST(CubicPass, FourByFourToEightByEight) {
    struct Case {
        std::uint8_t source[4];
        std::uint8_t output[8];
    };
    const Case cases[] = {
        {{0, 85, 170, 255}, {0, 36, 72, 109, 145, 182, 218, 255}},
        {{0, 0, 255, 255}, {0, 0, 0, 69, 185, 255, 255, 255}},
        {{10, 200, 30, 90}, {10, 173, 208, 162, 80, 10, 0, 90}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        CDibImage src, dst;
        FillImage(src, 4, 4, [&](int x, int, int) { return cases[i].source[x]; });
        ASSERT_TRUE(dst.Create(8, 8, 24));
        ASSERT_TRUE(ResizeDib(src, dst));
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(Sample(dst, x, y, c), cases[i].output[x]) << x << "," << y;
            }
        }
    }
}

// The row cache must give what computing all four rows afresh for every destination row gives:
// reductions advance the base by many rows at a time, enlargements keep it for several rows.
TEST(CubicPass, RowCacheMatchesFreshRows) {
    struct Case {
        int srcW, srcH, dstW, dstH;
    };
    const Case cases[] = {
        {7, 100, 5, 7}, {6, 40, 9, 13}, {5, 9, 4, 61}, {12, 12, 12, 12}, {8, 33, 3, 32}};
    std::mt19937 rng(99);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.srcW << "x" << c.srcH << " -> " << c.dstW << "x" << c.dstH);
        const int step = c.srcW * 3 + 1;
        std::vector<std::uint8_t> src(std::size_t(step) * c.srcH);
        for (auto& b : src) b = std::uint8_t(rng());
        const CubicGrid grid =
            MakeCubicGrid(c.srcW, c.srcH, MakeZoomAxis(c.srcW, c.dstW, c.dstW, c.srcW),
                          MakeZoomAxis(c.srcH, c.dstH, c.dstH, c.srcH), 3);
        const int dstStep = c.dstW * 3;
        std::vector<std::uint8_t> cached(std::size_t(dstStep) * c.dstH);
        ASSERT_TRUE(RunCubicPass(grid, src.data(), step, 3, cached.data(), dstStep, 3));

        std::vector<float> rows[4];
        for (auto& r : rows) r.resize(std::size_t(c.dstW) * 3);
        for (int yy = 0; yy < c.dstH; ++yy) {
            for (int n = 0; n < 4; ++n) {
                CubicHorizontalRow(src.data() + (grid.rowBase[yy] - 1 + n) * step, 3, grid, 3,
                                   rows[n].data());
            }
            std::vector<std::uint8_t> fresh(dstStep);
            CubicVerticalRow(rows[0].data(), rows[1].data(), rows[2].data(), rows[3].data(),
                             dstStep, grid.rowFraction[yy], fresh.data());
            ASSERT_TRUE(std::equal(fresh.begin(), fresh.end(), cached.begin() + yy * dstStep))
                << "row " << yy;
        }
    }
}

}  // namespace
