#include "jobs/resize_to_fill.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>

#include "resample/resize_dib.h"

namespace {

void FillRandom(CDibImage& image, int width, int height, unsigned seed) {
    ASSERT_EQ(image.Create(width, height, 24), 1);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * 3; ++x) image.TopRow(y)[x] = std::uint8_t(rng());
    }
}

TEST(ResizeToFill, ScalesToCoverThenCutsTheCentre) {
    struct Case {
        int srcW, srcH, reqW, reqH;
        int scaledW, scaledH;
        int cutTop, cutLeft;  // picture rows above and columns left of the part kept
    };
    const Case cases[] = {
        {320, 240, 640, 480, 640, 480, 0, 0},    {400, 400, 800, 600, 800, 800, 100, 0},
        {300, 200, 1024, 768, 1152, 768, 0, 64}, {1600, 1200, 640, 480, 640, 480, 0, 0},
        {640, 481, 800, 600, 800, 601, 0, 0},  // the odd row goes at the bottom
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.srcW << "x" << c.srcH << " to " << c.reqW << "x" << c.reqH);
        CDibImage src, dst, scaled;
        FillRandom(src, c.srcW, c.srcH, unsigned(c.srcW + c.srcH));
        ASSERT_EQ(ResizeToFill(src, dst, c.reqW, c.reqH), 1);
        ASSERT_EQ(dst.m_nWidth, c.reqW);
        ASSERT_EQ(dst.m_nHeight, c.reqH);
        EXPECT_EQ(dst.m_nBitCount, 24);

        ASSERT_EQ(scaled.Create(c.scaledW, c.scaledH, 24), 1);
        ASSERT_TRUE(ResizeDib(src, scaled));
        for (int y = 0; y < c.reqH; ++y) {
            ASSERT_EQ(
                std::memcmp(dst.TopRow(y), scaled.TopRow(y + c.cutTop) + 3 * c.cutLeft, 3 * c.reqW),
                0)
                << "row " << y;
        }
    }
}

TEST(ResizeToFill, RequestedSizeEqualToTheSourceGivesTheSource) {
    CDibImage src, dst;
    FillRandom(src, 37, 23, 5);
    ASSERT_EQ(ResizeToFill(src, dst, 37, 23), 1);
    ASSERT_EQ(dst.m_nWidth, 37);
    ASSERT_EQ(dst.m_nHeight, 23);
    for (int y = 0; y < 23; ++y)
        EXPECT_EQ(std::memcmp(dst.TopRow(y), src.TopRow(y), 37 * 3), 0) << y;
}

TEST(ResizeToFill, EmptySourceLeavesTheDestinationAlone) {
    CDibImage empty, dst;
    FillRandom(dst, 4, 4, 1);
    const DibBlock before = *dst.m_hDib;
    EXPECT_EQ(ResizeToFill(empty, dst, 8, 8), 0);
    ASSERT_TRUE(dst.m_hDib);
    EXPECT_EQ(*dst.m_hDib, before);
}

TEST(ResizeToFill, DestinationThatCannotBeMadeIsReported) {
    CDibImage src, dst;
    FillRandom(src, 8, 8, 2);
    struct Case {
        int w, h;
    };
    // Too many pixels, a scaled side past any int, and sizes of 0 or less.
    const Case cases[] = {{60000, 60000}, {2000000000, 1}, {0, 10}, {10, -1}};
    CDibImage wide;
    FillRandom(wide, 4000, 1, 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        FillRandom(dst, 2, 2, 4);
        EXPECT_EQ(ResizeToFill(src, dst, c.w, c.h), 0);
        EXPECT_FALSE(dst.m_hDib);
    }
    // A 4000 x 1 strip filling 1000 x 1000 would scale to 4 000 000 x 1000.
    EXPECT_EQ(ResizeToFill(wide, dst, 1000, 1000), 0);
    EXPECT_FALSE(dst.m_hDib);
}

}  // namespace
