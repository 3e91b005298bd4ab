// A window of a resize against the same rectangle cut out of the whole resize, byte for byte:
// random sizes on every pass (cubic, linear, nearest), every kernel and 1 to 3 row threads.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "resample/resample_options.h"
#include "resample/resize_dib.h"
#include "resample_test_image.h"

namespace {

std::vector<ResampleKernel> SupportedKernels() {
    std::vector<ResampleKernel> kernels;
    for (const ResampleKernel k : {ResampleKernel::kScalar, ResampleKernel::kBaseline,
                                   ResampleKernel::kAvx2, ResampleKernel::kAvx512}) {
        if (ResampleKernelSupported(k))
            kernels.push_back(k);
    }
    return kernels;
}

constexpr std::uint8_t kMarker = 0xA5;

// Destination rows of `w` x `h` pixels with their padding, all set to the marker first.
void CreateMarked(CDibImage& image, int w, int h) {
    ASSERT_TRUE(image.Create(w, h, 24));
    std::memset(image.Bits(), kMarker, std::size_t(image.m_nRowBytes) * h);
}

// The rectangle at (x0, y0) (picture rows from the top) of `whole`, as a w x h block with the
// marker in the padding: what cutting it out of the whole resize gives.
std::vector<std::uint8_t> Cut(const CDibImage& whole, int x0, int y0, int w, int h) {
    const int rowBytes = (w * 3 + 3) / 4 * 4;
    std::vector<std::uint8_t> block(std::size_t(rowBytes) * h, kMarker);
    for (int y = 0; y < h; ++y) {
        // Memory row y of the window is picture row h - 1 - y.
        const int wholeRow = whole.m_nHeight - 1 - (y0 + h - 1 - y);
        std::memcpy(&block[std::size_t(y) * rowBytes],
                    whole.Bits() + std::ptrdiff_t(wholeRow) * whole.m_nRowBytes + 3 * x0,
                    std::size_t(w) * 3);
    }
    return block;
}

std::vector<std::uint8_t> Block(const CDibImage& image) {
    return std::vector<std::uint8_t>(
        image.Bits(), image.Bits() + std::size_t(image.m_nRowBytes) * image.m_nHeight);
}

struct Case {
    int srcW, srcH;    // source
    int fullW, fullH;  // the whole resize
    int x0, y0, w, h;  // the window, rows from the top
};

std::string Describe(const Case& c) {
    return std::to_string(c.srcW) + "x" + std::to_string(c.srcH) + " -> " +
           std::to_string(c.fullW) + "x" + std::to_string(c.fullH) + ", window " +
           std::to_string(c.w) + "x" + std::to_string(c.h) + " at " + std::to_string(c.x0) + "," +
           std::to_string(c.y0);
}

// Mostly small sides (1 to 3 reach the fallbacks), some medium, a few long.
int RandomSide(std::mt19937& rng) {
    const unsigned pick = rng() % 100;
    if (pick < 70)
        return 1 + int(rng() % 24);
    if (pick < 95)
        return 1 + int(rng() % 200);
    return 1 + int(rng() % 1500);
}

// A window inside `size`: often an edge, a single pixel or the whole, otherwise anywhere.
void RandomSpan(std::mt19937& rng, int size, int& first, int& count) {
    switch (rng() % 6) {
        case 0:
            first = 0, count = size;
            return;
        case 1:
            count = 1 + int(rng() % size), first = 0;
            return;
        case 2:
            count = 1 + int(rng() % size), first = size - count;
            return;
        case 3:
            count = 1, first = int(rng() % size);
            return;
        default:
            count = 1 + int(rng() % size), first = int(rng() % (size - count + 1));
    }
}

TEST(ResizeDibWindow, EqualsTheSameRectangleOfTheWholeResize) {
    const std::vector<ResampleKernel> kernels = SupportedKernels();
    std::vector<Case> cases = {
        // The whole image as the window; the centre of a fill; one pixel in each corner.
        {40, 30, 80, 60, 0, 0, 80, 60},
        {300, 200, 1152, 768, 64, 0, 1024, 768},
        {400, 400, 800, 800, 0, 100, 800, 600},
        {33, 17, 70, 90, 0, 0, 1, 1},
        {33, 17, 70, 90, 69, 89, 1, 1},
        {33, 17, 70, 90, 69, 0, 1, 1},
        // Fallbacks: linear under 4 on a side, nearest under 2, and nearest's whole-multiple
        // step (6 -> 18) against its other one.
        {3, 100, 30, 1000, 5, 400, 20, 200},
        {693, 2, 3465, 10, 1700, 0, 61, 10},
        {6, 1, 18, 3, 4, 1, 9, 2},
        {7, 1, 18, 5, 4, 1, 9, 2},
        {1, 1, 50, 40, 10, 10, 5, 5},
        // Extreme proportions: a strip enlarged far on both axes, a column reduced.
        {500, 1, 64000, 128, 31488, 0, 1024, 128},
        {4, 1500, 1, 300, 0, 20, 1, 260},
        {2000, 5, 1000, 2, 400, 1, 200, 1},
    };
    std::mt19937 rng(42);
    for (int n = 0; n < 600; ++n) {
        Case c{RandomSide(rng), RandomSide(rng), RandomSide(rng), RandomSide(rng), 0, 0, 0, 0};
        // The whole resize is the reference: keep it small.
        while (std::int64_t(c.fullW) * c.fullH > 400'000) c.fullH = 1 + c.fullH / 4;
        while (std::int64_t(c.srcW) * c.srcH > 400'000) c.srcW = 1 + c.srcW / 4;
        RandomSpan(rng, c.fullW, c.x0, c.w);
        RandomSpan(rng, c.fullH, c.y0, c.h);
        cases.push_back(c);
    }

    int compared = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(Describe(c));
        CDibImage src, whole;
        FillImage(src, c.srcW, c.srcH, RandomPixels(rng()));
        CreateMarked(whole, c.fullW, c.fullH);
        ASSERT_TRUE(ResizeDib({ResampleKernel::kScalar, 1}, src, whole));
        const std::vector<std::uint8_t> want = Cut(whole, c.x0, c.y0, c.w, c.h);
        for (const ResampleKernel kernel : kernels) {
            for (const int threads : {1, 2, 3}) {
                CDibImage window;
                CreateMarked(window, c.w, c.h);
                const CStatus status =
                    ResizeDibWindow({kernel, threads}, src, c.fullW, c.fullH, c.x0, c.y0, window);
                ASSERT_TRUE(status) << status.Reason();
                ASSERT_EQ(Block(window), want)
                    << ResampleKernelName(kernel) << " on " << threads << " threads";
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, int(cases.size() * kernels.size() * 3));
}

TEST(ResizeDibWindow, WholeImageWindowIsResizeDib) {
    // Same call, same bytes: the window entry adds nothing when the window is everything.
    std::mt19937 rng(3);
    for (int n = 0; n < 50; ++n) {
        const int sw = RandomSide(rng), sh = RandomSide(rng);
        const int dw = 1 + int(rng() % 300), dh = 1 + int(rng() % 300);
        SCOPED_TRACE(testing::Message() << sw << "x" << sh << " -> " << dw << "x" << dh);
        CDibImage src, plain, window;
        FillImage(src, sw, sh, RandomPixels(rng()));
        CreateMarked(plain, dw, dh);
        CreateMarked(window, dw, dh);
        ASSERT_TRUE(ResizeDib(src, plain));
        ASSERT_TRUE(ResizeDibWindow(src, dw, dh, 0, 0, window));
        ASSERT_EQ(Block(window), Block(plain));
    }
}

TEST(ResizeDibWindow, StripToAFarLargerGridNeedsNoWholeImage) {
    // A 2000 x 1 strip filling 1024 x 768 is the window at 767488 of a 1536000 x 768 resize,
    // which no image could hold. One source row means nearest neighbour on both axes, each decided
    // on its own, so every row of the window is the same columns of a 1536000 x 1 resize, which
    // can be made whole.
    CDibImage src, row, window;
    FillImage(src, 2000, 1, RandomPixels(9));
    const int fullW = 1536000, x0 = (fullW - 1024) / 2;
    CreateMarked(row, fullW, 1);
    ASSERT_TRUE(ResizeDib(src, row));
    CreateMarked(window, 1024, 768);
    const CStatus status = ResizeDibWindow(src, fullW, 768, x0, 0, window);
    ASSERT_TRUE(status) << status.Reason();
    const std::vector<std::uint8_t> wantRow = Cut(row, x0, 0, 1024, 1);
    for (int y = 0; y < 768; ++y) {
        const std::uint8_t* got = window.Bits() + std::ptrdiff_t(y) * window.m_nRowBytes;
        ASSERT_EQ(std::vector<std::uint8_t>(got, got + window.m_nRowBytes), wantRow) << "row " << y;
    }
}

TEST(ResizeDibWindow, RefusesAWindowOutsideTheResize) {
    CDibImage src;
    FillImage(src, 8, 8, RandomPixels(1));
    struct Bad {
        int fullW, fullH, x0, y0;
    };
    // The destination is 4 x 4.
    const Bad cases[] = {{16, 16, -1, 0}, {16, 16, 0, -1}, {16, 16, 13, 0},
                         {16, 16, 0, 13}, {3, 16, 0, 0},   {16, 3, 0, 0},
                         {0, 16, 0, 0},   {16, -4, 0, 0},  {16, 16, 2147483647, 0}};
    for (const Bad& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.fullW << "x" << c.fullH << " at " << c.x0 << "," << c.y0);
        CDibImage dst;
        CreateMarked(dst, 4, 4);
        const std::vector<std::uint8_t> before = Block(dst);
        const CStatus status = ResizeDibWindow(src, c.fullW, c.fullH, c.x0, c.y0, dst);
        EXPECT_FALSE(status);
        EXPECT_FALSE(status.Reason().empty());
        EXPECT_EQ(Block(dst), before);
    }
    CDibImage empty, dst;
    CreateMarked(dst, 4, 4);
    EXPECT_FALSE(ResizeDibWindow(empty, 16, 16, 0, 0, dst));
    EXPECT_FALSE(ResizeDibWindow(src, 16, 16, 0, 0, empty));
}

}  // namespace
