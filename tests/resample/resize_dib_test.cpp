#include "resample/resize_dib.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "resample_test_image.h"

namespace {

struct Size {
    int w, h;
};

std::string Name(Size a, Size b) {
    return std::to_string(a.w) + "x" + std::to_string(a.h) + " -> " + std::to_string(b.w) + "x" +
           std::to_string(b.h);
}

TEST(ResizeDib, EqualSizesCopyEveryPixel) {
    // Cubic, linear (under 4) and nearest-neighbour (under 2) sizes alike.
    const Size sizes[] = {{4, 4}, {5, 7}, {17, 9}, {64, 33}, {3, 8},
                          {2, 2}, {1, 6}, {6, 1},  {1, 1}};
    unsigned seed = 1;
    for (const Size s : sizes) {
        SCOPED_TRACE(Name(s, s));
        CDibImage src, dst;
        FillImage(src, s.w, s.h, RandomPixels(seed++));
        ASSERT_TRUE(dst.Create(s.w, s.h, 24));
        ASSERT_TRUE(ResizeDib(src, dst));
        EXPECT_EQ(PixelBytes(dst), PixelBytes(src));
    }
}

TEST(ResizeDib, UniformImageStaysUniform) {
    const Size pairs[][2] = {{{4, 4}, {8, 8}},         {{10, 10}, {3, 3}},  {{1024, 4}, {800, 9}},
                             {{37, 21}, {1, 1}},       {{3, 100}, {7, 40}}, {{1, 5}, {9, 2}},
                             {{640, 480}, {800, 600}}, {{9, 13}, {90, 5}}};
    for (const std::uint8_t value : {std::uint8_t(0), std::uint8_t(137), std::uint8_t(255)}) {
        for (const auto& p : pairs) {
            SCOPED_TRACE(Name(p[0], p[1]) + " of " + std::to_string(value));
            CDibImage src, dst;
            FillImage(src, p[0].w, p[0].h, [&](int, int, int) { return value; });
            ASSERT_TRUE(dst.Create(p[1].w, p[1].h, 24));
            ASSERT_TRUE(ResizeDib(src, dst));
            const std::vector<std::uint8_t> bytes = PixelBytes(dst);
            EXPECT_EQ(bytes, std::vector<std::uint8_t>(bytes.size(), value));
        }
    }
}

TEST(ResizeDib, RowPaddingIsNotWritten) {
    // Destinations whose rows end in 1, 2 and 3 padding bytes; cubic, linear and nearest sources.
    const Size pairs[][2] = {
        {{8, 8}, {5, 3}}, {{8, 8}, {6, 7}}, {{3, 3}, {7, 4}}, {{1, 4}, {5, 6}}};
    for (const auto& p : pairs) {
        SCOPED_TRACE(Name(p[0], p[1]));
        CDibImage src, dst;
        FillImage(src, p[0].w, p[0].h, RandomPixels(7));
        ASSERT_TRUE(dst.Create(p[1].w, p[1].h, 24));
        std::memset(dst.Bits(), 0xA5, std::size_t(dst.m_nRowBytes) * dst.m_nHeight);
        ASSERT_TRUE(ResizeDib(src, dst));
        for (int y = 0; y < dst.m_nHeight; ++y) {
            const std::uint8_t* row = dst.Bits() + y * dst.m_nRowBytes;
            for (int k = dst.m_nWidth * 3; k < dst.m_nRowBytes; ++k)
                EXPECT_EQ(row[k], 0xA5) << y << "," << k;
        }
    }
}

// Growing on one axis while shrinking on the other is one pass: an image that only varies along x
// must come out as the x-only resize of its rows, whatever happens along y, and likewise for y.
TEST(ResizeDib, EnlargeOneAxisWhileReducingTheOther) {
    auto ramp = [](int v, int) { return std::uint8_t((v * 37 + 11) % 256); };
    for (const bool alongX : {true, false}) {
        SCOPED_TRACE(alongX ? "varies along x" : "varies along y");
        CDibImage src, mixed, oneAxis;
        FillImage(src, 9, 7, [&](int x, int y, int c) { return ramp(alongX ? x : y, c); });
        const Size mixedSize = alongX ? Size{15, 3} : Size{4, 12};
        const Size oneAxisSize = alongX ? Size{15, 7} : Size{9, 12};
        ASSERT_TRUE(mixed.Create(mixedSize.w, mixedSize.h, 24));
        ASSERT_TRUE(oneAxis.Create(oneAxisSize.w, oneAxisSize.h, 24));
        ASSERT_TRUE(ResizeDib(src, mixed));
        ASSERT_TRUE(ResizeDib(src, oneAxis));
        for (int y = 0; y < mixedSize.h; ++y) {
            for (int x = 0; x < mixedSize.w; ++x) {
                const int ox = alongX ? x : 0;
                const int oy = alongX ? 0 : y;
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(Sample(mixed, x, y, c), Sample(oneAxis, ox, oy, c)) << x << "," << y;
            }
        }
    }
}

TEST(ResizeDib, OnePixelDestinationTakesTheFirstColumnOrRow) {
    CDibImage src, column, row;
    FillImage(src, 8, 6, RandomPixels(3));
    ASSERT_TRUE(column.Create(1, 6, 24));
    ASSERT_TRUE(row.Create(8, 1, 24));
    ASSERT_TRUE(ResizeDib(src, column));
    ASSERT_TRUE(ResizeDib(src, row));
    for (int c = 0; c < 3; ++c) {
        for (int y = 0; y < 6; ++y) EXPECT_EQ(Sample(column, 0, y, c), Sample(src, 0, y, c));
        for (int x = 0; x < 8; ++x) EXPECT_EQ(Sample(row, x, 0, c), Sample(src, x, 0, c));
    }
}

TEST(ResizeDib, FirstAndLastPixelsReproduceTheSourceCorners) {
    const Size pairs[][2] = {
        {{640, 480}, {800, 600}}, {{1024, 768}, {800, 600}}, {{13, 5}, {40, 4}}};
    for (const auto& p : pairs) {
        SCOPED_TRACE(Name(p[0], p[1]));
        CDibImage src, dst;
        FillImage(src, p[0].w, p[0].h, RandomPixels(11));
        ASSERT_TRUE(dst.Create(p[1].w, p[1].h, 24));
        ASSERT_TRUE(ResizeDib(src, dst));
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(Sample(dst, 0, 0, c), Sample(src, 0, 0, c));
            EXPECT_EQ(Sample(dst, p[1].w - 1, p[1].h - 1, c),
                      Sample(src, p[0].w - 1, p[0].h - 1, c));
        }
    }
}

// What a caller may hand over that cannot be resized: refused, nothing written, the process lives.
TEST(ResizeDib, RefusesWhatCannotBeResized) {
    CDibImage good, empty, eightBit, shortBlock, dst;
    FillImage(good, 8, 8, RandomPixels(5));
    ASSERT_TRUE(eightBit.Create(8, 8, 8));
    FillImage(shortBlock, 8, 8, RandomPixels(6));
    shortBlock.m_hDib->resize(40 + 7 * 24);  // the header promises 8 rows, the block holds 7
    ASSERT_TRUE(dst.Create(6, 6, 24));
    std::memset(dst.Bits(), 0x5A, std::size_t(dst.m_nRowBytes) * 6);
    const std::vector<std::uint8_t> before = PixelBytes(dst);

    struct Case {
        const char* name;
        const CDibImage* src;
        CDibImage* dst;
    };
    const Case cases[] = {
        {"empty source", &empty, &dst},          {"empty destination", &good, &empty},
        {"8-bit destination", &good, &eightBit}, {"8-bit source", &eightBit, &dst},
        {"short block", &shortBlock, &dst},      {"into itself", &dst, &dst},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CStatus status = ResizeDib(*c.src, *c.dst);
        EXPECT_FALSE(status);
        EXPECT_FALSE(status.Reason().empty());
        EXPECT_EQ(PixelBytes(dst), before);
    }
}

TEST(ResizeDib, ABadBitCountNamesTheFailingCheck) {
    CDibImage src, dst;
    FillImage(src, 8, 8, RandomPixels(5));
    ASSERT_TRUE(dst.Create(8, 8, 8));
    const CStatus status = ResizeDib(src, dst);
    EXPECT_FALSE(status);
    EXPECT_NE(status.Reason().find("dib->biBitCount is bad"), std::string::npos) << status.Reason();
    // The layer's handler is back in place and the next resize works.
    ASSERT_TRUE(dst.Create(8, 8, 24));
    const CStatus again = ResizeDib(src, dst);
    EXPECT_TRUE(again) << again.Reason();
}

}  // namespace
