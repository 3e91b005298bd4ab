#include "resample/fallback_pass.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "resample/resize_dib.h"
#include "resample_test_image.h"

namespace {

// Sample of channel 0 in each column of memory row y.
std::vector<int> RowValues(const CDibImage& image, int y) {
    std::vector<int> values;
    for (int x = 0; x < image.m_nWidth; ++x) values.push_back(Sample(image, x, y, 0));
    return values;
}

TEST(LinearPass, WeightsOfTwoColumnsStretchedToFour) {
    const LinearAxis axis = MakeLinearAxis(2, MakeZoomAxis(2, 4, 4, 2));
    EXPECT_EQ(axis.base, (std::vector<std::int32_t>{0, 0, 0, 0}));
    EXPECT_EQ(axis.weight, (std::vector<std::int32_t>{0, 5461, 10922, 16384}));
}

TEST(LinearPass, ResultsAreTruncated) {
    struct Case {
        int srcWidth;
        std::vector<int> source, expected;
    };
    const Case cases[] = {
        {2, {0, 255}, {0, 84, 169, 255}},
        // 3 to 5 columns: positions 0, 0.5, 1, 1.5, 2; the halves truncate 127.5 to 127.
        {3, {0, 255, 0}, {0, 127, 255, 127, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.srcWidth);
        CDibImage src, dst;
        FillImage(src, c.srcWidth, 2, [&](int x, int, int) { return std::uint8_t(c.source[x]); });
        ASSERT_TRUE(dst.Create(int(c.expected.size()), 2, 24));
        ASSERT_TRUE(ResizeDib(src, dst));
        for (int y = 0; y < 2; ++y) EXPECT_EQ(RowValues(dst, y), c.expected);
    }
}

// A 3-pixel-wide source falls back to linear on both axes, the 100-pixel one included.
TEST(LinearPass, NarrowTallSourceIsLinearOnBothAxes) {
    CDibImage src, dst;
    // Rows 0 to 49 hold 50, rows 50 to 99 hold 200; columns 0, 255, 0 mixed in channel 1.
    FillImage(src, 3, 100, [](int x, int y, int c) {
        if (c == 1)
            return std::uint8_t(x == 1 ? 255 : 0);
        return std::uint8_t(y < 50 ? 50 : 200);
    });
    ASSERT_TRUE(dst.Create(5, 199, 24));  // row step 99 / 198 = 0.5
    ASSERT_TRUE(ResizeDib(src, dst));
    struct RowCase {
        int row, value;
    };
    // Row 99 lies at 49.5: (50 + 200) / 2. Row 101 at 50.5 between two rows of 200: a cubic through
    // 50, 200, 200, 200 would overshoot to 209 there.
    const RowCase rows[] = {{0, 50}, {98, 50}, {99, 125}, {100, 200}, {101, 200}, {198, 200}};
    for (const RowCase& r : rows) {
        SCOPED_TRACE(r.row);
        for (int x = 0; x < 5; ++x) EXPECT_EQ(Sample(dst, x, r.row, 0), r.value);
        EXPECT_EQ(RowValues(dst, r.row).size(), 5u);
    }
    std::vector<int> channel1;
    for (int x = 0; x < 5; ++x) channel1.push_back(Sample(dst, x, 7, 1));
    EXPECT_EQ(channel1, (std::vector<int>{0, 127, 255, 127, 0}));
}

TEST(LinearPass, LastColumnAndRowTakeTheLastSourcePixel) {
    CDibImage src, dst;
    FillImage(src, 3, 3, RandomPixels(21));
    ASSERT_TRUE(dst.Create(10, 8, 24));
    ASSERT_TRUE(ResizeDib(src, dst));
    for (int c = 0; c < 3; ++c) EXPECT_EQ(Sample(dst, 9, 7, c), Sample(src, 2, 2, c));
}

TEST(LinearPass, NeverExceedsTheSamplesItMixes) {
    CDibImage src, dst;
    FillImage(src, 2, 3, RandomPixels(4));
    ASSERT_TRUE(dst.Create(17, 23, 24));
    ASSERT_TRUE(ResizeDib(src, dst));
    for (int c = 0; c < 3; ++c) {
        int most = 0;
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 2; ++x) most = std::max<int>(most, Sample(src, x, y, c));
        }
        for (int y = 0; y < 23; ++y) {
            for (int x = 0; x < 17; ++x) ASSERT_LE(Sample(dst, x, y, c), most);
        }
    }
}

// Linear reference for one channel-0 sample, from the grid's bases and weights: a reduction moves
// the base by several rows between destination rows, which the two-row cache must follow.
TEST(LinearPass, RowCacheFollowsLargeAdvances) {
    CDibImage src, dst;
    FillImage(src, 3, 60, RandomPixels(17));
    ASSERT_TRUE(dst.Create(4, 7, 24));
    ASSERT_TRUE(ResizeDib(src, dst));
    const LinearAxis cols = MakeLinearAxis(3, MakeZoomAxis(3, 4, 4, 3));
    const LinearAxis rows = MakeLinearAxis(60, MakeZoomAxis(60, 7, 7, 60));
    auto horizontal = [&](int x, int y) {
        const int b = cols.base[x], w = cols.weight[x];
        return ((16384 - w) * Sample(src, b, y, 0) + w * Sample(src, b + 1, y, 0)) >> 8;
    };
    for (int y = 0; y < 7; ++y) {
        const int b = rows.base[y], w = rows.weight[y];
        for (int x = 0; x < 4; ++x) {
            const int expected = ((16384 - w) * horizontal(x, b) + w * horizontal(x, b + 1)) >> 20;
            ASSERT_EQ(Sample(dst, x, y, 0), expected) << x << "," << y;
        }
    }
}

// Accumulated rounding can put a position a hair below the integer its base rounds to, which gives
// the next row a weight of -1. Mixing a black base row with a white next row must stay black,
// not wrap round to white.
TEST(LinearPass, WeightOfMinusOneDoesNotWrap) {
    const LinearAxis rows = MakeLinearAxis(2935, MakeZoomAxis(2935, 8640, 8640, 2935));
    ASSERT_EQ(rows.base[8586], 2916);
    ASSERT_EQ(rows.weight[8586], -1);
    CDibImage src, dst;
    FillImage(src, 3, 2935, [](int, int y, int) { return std::uint8_t(y > 2916 ? 255 : 0); });
    ASSERT_TRUE(dst.Create(3, 8640, 24));
    ASSERT_TRUE(ResizeDib(src, dst));
    for (int x = 0; x < 3; ++x) EXPECT_EQ(Sample(dst, x, 8586, 0), 0);
}

TEST(NearestPass, OnePixelWideSourceRepeatsItsColumn) {
    struct Case {
        int srcHeight, dstWidth, dstHeight;
        std::vector<int> sourceRowOfEachRow;
    };
    const Case cases[] = {
        // 5 rows to 10, a whole multiple: step 0.5 from 0.0, every row twice.
        {5, 3, 10, {0, 0, 1, 1, 2, 2, 3, 3, 4, 4}},
        // 3 rows to 5: step 0.5 from 0.5.
        {3, 4, 5, {0, 1, 1, 2, 2}},
        // 4 rows to 3, no multiple: step 1.5 from 0.5.
        {4, 2, 3, {0, 2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.srcHeight);
        CDibImage src, dst;
        FillImage(src, 1, c.srcHeight,
                  [](int, int y, int ch) { return std::uint8_t(10 * y + ch); });
        ASSERT_TRUE(dst.Create(c.dstWidth, c.dstHeight, 24));
        ASSERT_TRUE(ResizeDib(src, dst));
        for (int y = 0; y < c.dstHeight; ++y) {
            for (int x = 0; x < c.dstWidth; ++x) {
                for (int ch = 0; ch < 3; ++ch) {
                    ASSERT_EQ(Sample(dst, x, y, ch), 10 * c.sourceRowOfEachRow[y] + ch)
                        << x << "," << y;
                }
            }
        }
    }
}

TEST(NearestPass, OnePixelHighSourceUsesNearestOnBothAxes) {
    CDibImage src, dst;
    FillImage(src, 6, 1, [](int x, int, int) { return std::uint8_t(x == 2 ? 255 : 0); });
    ASSERT_TRUE(
        dst.Create(12, 2, 24));  // 6 to 12: step 0.5 from 0.0, every column twice, no mixing
    ASSERT_TRUE(ResizeDib(src, dst));
    const std::vector<int> expected = {0, 0, 0, 0, 255, 255, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(RowValues(dst, 0), expected);
    EXPECT_EQ(RowValues(dst, 1), expected);
}

}  // namespace
