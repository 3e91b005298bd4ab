#include "jobs/resize_to_fill.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "resample/resample_options.h"
#include "resample/resize_dib.h"

namespace {

void FillRandom(CDibImage& image, int width, int height, unsigned seed) {
    ASSERT_TRUE(image.Create(width, height, 24));
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
        ASSERT_TRUE(ResizeToFill(src, dst, c.reqW, c.reqH));
        ASSERT_EQ(dst.m_nWidth, c.reqW);
        ASSERT_EQ(dst.m_nHeight, c.reqH);
        EXPECT_EQ(dst.m_nBitCount, 24);

        ASSERT_TRUE(scaled.Create(c.scaledW, c.scaledH, 24));
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
    ASSERT_TRUE(ResizeToFill(src, dst, 37, 23));
    ASSERT_EQ(dst.m_nWidth, 37);
    ASSERT_EQ(dst.m_nHeight, 23);
    for (int y = 0; y < 23; ++y)
        EXPECT_EQ(std::memcmp(dst.TopRow(y), src.TopRow(y), 37 * 3), 0) << y;
}

TEST(ResizeToFill, EmptySourceLeavesTheDestinationAlone) {
    CDibImage empty, dst;
    FillRandom(dst, 4, 4, 1);
    const DibBlock before = *dst.m_hDib;
    EXPECT_FALSE(ResizeToFill(empty, dst, 8, 8));
    ASSERT_TRUE(dst.m_hDib);
    EXPECT_EQ(*dst.m_hDib, before);
}

TEST(ResizeToFill, DestinationThatCannotBeMadeIsReported) {
    CDibImage src, dst;
    FillRandom(src, 8, 8, 2);
    struct Case {
        int w, h;
    };
    // Too many pixels and sizes of 0 or less.
    const Case cases[] = {{60000, 60000}, {2000000000, 1}, {0, 10}, {10, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        FillRandom(dst, 2, 2, 4);
        EXPECT_FALSE(ResizeToFill(src, dst, c.w, c.h));
        EXPECT_FALSE(dst.m_hDib);
    }
    // A scaled side past any int (3000 x 10^6 rows), though the result would be small.
    CDibImage tall;
    FillRandom(tall, 1, 3000, 5);
    FillRandom(dst, 2, 2, 4);
    EXPECT_FALSE(ResizeToFill(tall, dst, 1000000, 1));
    EXPECT_FALSE(dst.m_hDib);
    CDibImage wide;
    FillRandom(wide, 4000, 1, 3);
    // A 4000 x 1 strip filling 1000 x 1000 scales to 4 000 000 x 1000, of which only the kept
    // part is computed: that is no reason to fail.
    EXPECT_TRUE(ResizeToFill(wide, dst, 1000, 1000));
    EXPECT_EQ(dst.m_nWidth, 1000);
    EXPECT_EQ(dst.m_nHeight, 1000);
}

// ---- The kept window against the whole scaled image cut afterwards. ----

// The scaled size that covers width x height: x + 0.5 truncated of the side that does not match.
void CoveringSize(int w, int h, int width, int height, int& scaledW, int& scaledH) {
    const double rw = double(width) / w, rh = double(height) / h;
    scaledW = rw > rh ? width : int(w * rh + 0.5);
    scaledH = rw > rh ? int(h * rw + 0.5) : height;
}

// Scale the whole image, then cut its centre: the bytes the kept window must reproduce.
bool FillTheLongWay(const CDibImage& src, CDibImage& dst, int width, int height,
                    const CResampleOptions& options = {}) {
    int scaledW = 0, scaledH = 0;
    CoveringSize(src.m_nWidth, src.m_nHeight, width, height, scaledW, scaledH);
    return dst.Create(scaledW, scaledH, 24) && ResizeDib(options, src, dst) &&
           dst.CropCentered(width, height) && dst.m_nWidth == width && dst.m_nHeight == height;
}

std::vector<std::uint8_t> Block(const CDibImage& image) {
    return std::vector<std::uint8_t>(
        image.Bits(), image.Bits() + std::size_t(image.m_nRowBytes) * image.m_nHeight);
}

// Small sides most of the time (1 to 3 take the fallbacks), medium and long ones now and then.
int RandomSide(std::mt19937& rng) {
    const unsigned pick = rng() % 100;
    if (pick < 60)
        return 1 + int(rng() % 16);
    if (pick < 92)
        return 1 + int(rng() % 300);
    return 1 + int(rng() % 2500);
}

TEST(ResizeToFill, KeptWindowEqualsCuttingTheWholeScaledImage) {
    std::vector<ResampleKernel> kernels;
    for (const ResampleKernel k : {ResampleKernel::kScalar, ResampleKernel::kBaseline,
                                   ResampleKernel::kAvx2, ResampleKernel::kAvx512}) {
        if (ResampleKernelSupported(k))
            kernels.push_back(k);
    }
    struct Case {
        int srcW, srcH, width, height;
    };
    std::vector<Case> cases = {
        // The jobs' sizes, up and down, and the odd row of a near fit.
        {300, 200, 1024, 768},
        {400, 400, 800, 600},
        {640, 481, 800, 600},
        {1600, 1200, 640, 480},
        // Strips and columns: small analogues of 2000 x 1 to 1024 x 768 and 693 x 2 to 61 x 693.
        {200, 1, 102, 77},
        {69, 2, 7, 69},
        {1, 150, 90, 12},
        {3, 400, 40, 9},
        {2, 2, 50, 3},
        {1, 1, 7, 5},
        {5, 5, 1, 1},
        {1000, 4, 30, 30}};
    std::mt19937 rng(2024);
    while (cases.size() < 300) {
        Case c{RandomSide(rng), RandomSide(rng), RandomSide(rng), RandomSide(rng)};
        int scaledW = 0, scaledH = 0;
        CoveringSize(c.srcW, c.srcH, c.width, c.height, scaledW, scaledH);
        // The long way needs the whole scaled image: keep it small.
        if (std::int64_t(scaledW) * scaledH <= 2'000'000 &&
            std::int64_t(c.srcW) * c.srcH <= 1'000'000)
            cases.push_back(c);
    }
    int compared = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.srcW << "x" << c.srcH << " to " << c.width << "x" << c.height);
        CDibImage src, want;
        FillRandom(src, c.srcW, c.srcH, rng());
        ASSERT_TRUE(FillTheLongWay(src, want, c.width, c.height, {ResampleKernel::kScalar, 0}));
        for (const ResampleKernel kernel : kernels) {
            for (const int threads : {1, 2, 3}) {
                CDibImage got;
                ASSERT_TRUE(ResizeToFill(src, got, c.width, c.height, {kernel, threads}));
                ASSERT_EQ(got.m_nWidth, c.width);
                ASSERT_EQ(got.m_nHeight, c.height);
                ASSERT_EQ(Block(got), Block(want))
                    << ResampleKernelName(kernel) << " on " << threads << " threads";
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, int(cases.size() * kernels.size() * 3));
}

TEST(ResizeToFill, StripFillingAScreenIsTheCentreOfItsScaledRow) {
    // 2000 x 1 to 1024 x 768 scales to 1536000 x 768, which no image may hold. A single source
    // row makes every picture row the same nearest-neighbour row, so the kept part is each row of
    // a 1536000 x 1 resize from column 767488.
    CDibImage src, dst, row;
    FillRandom(src, 2000, 1, 11);
    ASSERT_TRUE(ResizeToFill(src, dst, 1024, 768));
    ASSERT_TRUE(row.Create(1536000, 1, 24));
    ASSERT_TRUE(ResizeDib(src, row));
    for (int y = 0; y < 768; ++y) {
        ASSERT_EQ(std::memcmp(dst.TopRow(y), row.TopRow(0) + 3 * 767488, 1024 * 3), 0) << y;
    }
}

// Peak resident memory of this process in KiB ("VmHWM"), or -1.
long PeakKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// The growth of the peak resident memory while `work` runs, in KiB, measured in a child process
// whose peak starts at what it holds (so that nothing this process did before counts). -1 when
// it cannot be measured; -2 when `work` failed.
template <class Work>
long PeakGrowthKib(const Work& work) {
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        // 5 resets the peak to the current resident size.
        std::FILE* reset = std::fopen("/proc/self/clear_refs", "w");
        long growth = -1;
        if (reset && std::fputs("5", reset) >= 0 && std::fclose(reset) == 0) {
            const long before = PeakKib();
            const bool ok = work();
            const long after = PeakKib();
            growth = !ok ? -2 : (before < 0 || after < 0) ? -1 : after - before;
        }
        [[maybe_unused]] const ssize_t n = write(fds[1], &growth, sizeof growth);
        _exit(0);
    }
    close(fds[1]);
    long growth = -1;
    if (child < 0 || read(fds[0], &growth, sizeof growth) != ssize_t(sizeof growth))
        growth = -1;
    close(fds[0]);
    if (child > 0)
        waitpid(child, nullptr, 0);
    return growth;
}

TEST(ResizeToFill, MemoryFollowsTheResultNotTheScaledImage) {
    struct Case {
        int srcW, srcH, width, height;
        double scaledMib;  // what the whole scaled image would take
    };
    const Case cases[] = {
        {693, 2, 61, 693, 240125.0 * 693 * 3 / 1048576},
        {2000, 1, 1024, 768, 1536000.0 * 768 * 3 / 1048576},
        {5, 5000, 1000, 1000, 1000.0 * 1000000 * 3 / 1048576},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.srcW << "x" << c.srcH << " to " << c.width << "x" << c.height);
        CDibImage src;
        FillRandom(src, c.srcW, c.srcH, 7);
        const long growth = PeakGrowthKib([&] {
            CDibImage dst;
            return ResizeToFill(src, dst, c.width, c.height).Ok() && dst.m_nWidth == c.width;
        });
        ASSERT_NE(growth, -2) << "the fill failed";
        if (growth == -1)
            GTEST_SKIP() << "peak memory cannot be measured here";
        // The result, its row buffers and tables, and room for the allocator and thread stacks.
        const double resultMib = double(c.width) * c.height * 3 / 1048576;
        std::printf("fill %dx%d to %dx%d: peak grew %.1f MiB (result %.1f MiB, scaled %.0f MiB)\n",
                    c.srcW, c.srcH, c.width, c.height, growth / 1024.0, resultMib, c.scaledMib);
        EXPECT_LT(growth / 1024.0, 4 * resultMib + 16);
    }
}

}  // namespace
