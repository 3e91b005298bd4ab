// The fast resizer against the scalar reference, byte for byte: every kernel this processor runs,
// on 1, 2 and 3 row threads, over random sizes and contents.
#include "resample/cubic_fast.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "resample/cubic_pass.h"
#include "resample/resample_options.h"
#include "resample/resize_dib.h"
#include "resample_test_image.h"

namespace {

std::vector<ResampleKernel> FastKernels() {
    std::vector<ResampleKernel> kernels;
    for (const ResampleKernel k :
         {ResampleKernel::kBaseline, ResampleKernel::kAvx2, ResampleKernel::kAvx512}) {
        if (ResampleKernelSupported(k))
            kernels.push_back(k);
    }
    return kernels;
}

constexpr int kThreadCounts[] = {1, 2, 3};

enum class Content { kNoise, kBlackWhite, kGradient, kSmooth };

const char* ContentName(Content c) {
    switch (c) {
        case Content::kNoise:
            return "noise";
        case Content::kBlackWhite:
            return "0/255 noise";
        case Content::kGradient:
            return "gradient";
        case Content::kSmooth:
            return "smooth";
    }
    return "?";
}

// Sample (x, y, c) of a picture of the given kind: noise, noise of only 0 and 255 (the largest
// overshoots, so the clamps work hardest), ramps with random slopes that wrap from 255 to 0, and
// a smooth picture with few edges.
PixelFn MakeContent(Content content, std::mt19937& rng) {
    const unsigned seed = rng();
    switch (content) {
        case Content::kNoise:
            return RandomPixels(seed);
        case Content::kBlackWhite:
            return [r = std::mt19937(seed)](int, int, int) mutable {
                return std::uint8_t((r() & 1) ? 255 : 0);
            };
        case Content::kGradient: {
            const int sx = int(rng() % 41) - 20, sy = int(rng() % 41) - 20;
            const int sc = int(rng() % 100);
            return [=](int x, int y, int c) { return std::uint8_t(x * sx + y * sy + c * sc); };
        }
        case Content::kSmooth:
            return [](int x, int y, int c) {
                const int v = (x * x / 7 + y * 3 + c * 40) % 512;
                return std::uint8_t(v < 256 ? v : 511 - v);
            };
    }
    return RandomPixels(seed);
}

// The whole destination block, padding included (pre-set to a marker the resize must not touch).
std::vector<std::uint8_t> Resize(const CResampleOptions& options, const CDibImage& src, int w,
                                 int h) {
    CDibImage dst;
    if (!dst.Create(w, h, 24)) {
        ADD_FAILURE() << "no " << w << "x" << h << " image";
        return {};
    }
    std::memset(dst.Bits(), 0xA5, std::size_t(dst.m_nRowBytes) * h);
    const CStatus status = ResizeDib(options, src, dst);
    EXPECT_TRUE(status) << status.Reason();
    return std::vector<std::uint8_t>(dst.Bits(), dst.Bits() + std::size_t(dst.m_nRowBytes) * h);
}

struct Case {
    int srcW, srcH, dstW, dstH;
    Content content;
};

std::string Describe(const Case& c) {
    return std::to_string(c.srcW) + "x" + std::to_string(c.srcH) + " -> " + std::to_string(c.dstW) +
           "x" + std::to_string(c.dstH) + " on " + ContentName(c.content);
}

// Mostly small sizes, where every border case and vector tail shows up quickly, some medium ones,
// and now and then one side up to 2000. Sizes 1 to 3 reach the fallbacks.
int RandomSize(std::mt19937& rng) {
    const unsigned pick = rng() % 100;
    if (pick < 80)
        return 1 + int(rng() % 40);
    if (pick < 97)
        return 1 + int(rng() % 300);
    return 1 + int(rng() % 2000);
}

TEST(CubicFast, EveryKernelAndThreadCountMatchesTheReference) {
    const std::vector<ResampleKernel> kernels = FastKernels();
    std::vector<Case> cases = {
        // The sizes the jobs use, up and down.
        {1024, 768, 2048, 1536, Content::kSmooth},
        {640, 480, 800, 600, Content::kNoise},
        {1024, 768, 800, 600, Content::kBlackWhite},
        {333, 251, 999, 753, Content::kGradient},
        // Growing on one axis while shrinking on the other; equal sizes.
        {1999, 5, 7, 1800, Content::kNoise},
        {6, 1500, 1713, 9, Content::kBlackWhite},
        {97, 61, 97, 61, Content::kNoise},
    };
    std::mt19937 rng(20240611);
    const Content contents[] = {Content::kNoise, Content::kBlackWhite, Content::kGradient,
                                Content::kSmooth};
    for (int n = 0; n < 2000; ++n) {
        Case c{RandomSize(rng), RandomSize(rng), RandomSize(rng), RandomSize(rng),
               contents[rng() % 4]};
        // Keep one of the two images small when the other is large.
        if (std::int64_t(c.srcW) * c.srcH * c.dstW * c.dstH > 2'000'000'000LL)
            c.srcH = c.dstH = 1 + int(rng() % 12);
        cases.push_back(c);
    }

    int compared = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(Describe(c));
        CDibImage src;
        FillImage(src, c.srcW, c.srcH, MakeContent(c.content, rng));
        const std::vector<std::uint8_t> reference =
            Resize({ResampleKernel::kScalar, 0}, src, c.dstW, c.dstH);
        for (const ResampleKernel kernel : kernels) {
            for (const int threads : kThreadCounts) {
                ASSERT_EQ(Resize({kernel, threads}, src, c.dstW, c.dstH), reference)
                    << ResampleKernelName(kernel) << " on " << threads << " threads";
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, int(cases.size() * kernels.size() * std::size(kThreadCounts)));
}

// The pass on its own: row steps that leave any padding (rows starting at odd addresses), and
// pixels of 1, 3 and 4 bytes.
TEST(CubicFast, OddRowStepsAndPixelSizes) {
    std::mt19937 rng(77);
    for (int n = 0; n < 400; ++n) {
        const int channels = (n % 3 == 0) ? 1 : (n % 3 == 1) ? 3 : 4;
        const int srcW = 4 + int(rng() % 70), srcH = 4 + int(rng() % 50);
        const int dstW = 1 + int(rng() % 90), dstH = 1 + int(rng() % 70);
        const int srcStep = srcW * channels + int(rng() % 8);
        const int dstStep = dstW * channels + int(rng() % 8);
        SCOPED_TRACE(testing::Message()
                     << srcW << "x" << srcH << " (step " << srcStep << ") -> " << dstW << "x"
                     << dstH << " (step " << dstStep << "), " << channels << " channels");
        std::vector<std::uint8_t> src(std::size_t(srcStep) * srcH);
        const bool blackWhite = rng() & 1;
        for (auto& b : src) b = blackWhite ? ((rng() & 1) ? 255 : 0) : std::uint8_t(rng());
        const CubicGrid grid = MakeCubicGrid(srcW, srcH, MakeZoomAxis(srcW, dstW, dstW, srcW),
                                             MakeZoomAxis(srcH, dstH, dstH, srcH), channels);

        std::vector<std::uint8_t> reference(std::size_t(dstStep) * dstH, 0x5A);
        ASSERT_TRUE(
            RunCubicPass(grid, src.data(), srcStep, channels, reference.data(), dstStep, channels));
        for (const ResampleKernel kernel : FastKernels()) {
            for (const int threads : kThreadCounts) {
                std::vector<std::uint8_t> fast(reference.size(), 0x5A);
                ASSERT_TRUE(RunCubicPassFast(grid, srcW, src.data(), srcStep, channels, fast.data(),
                                             dstStep, channels, kernel, threads));
                ASSERT_EQ(fast, reference) << ResampleKernelName(kernel) << ", " << threads;
            }
        }
    }
}

// Kernels on their own, with inputs no image produces: coefficients and row values of wildly
// different sizes that nearly cancel. Any other grouping of the sums, a skipped float store or a
// fused multiply-add then changes the result, which ordinary pictures almost never show.
float WideFloat(std::mt19937& rng) {
    const float mantissa = std::uniform_real_distribution<float>(1.0f, 2.0f)(rng);
    const int exponent = int(rng() % 61) - 30;
    return std::ldexp((rng() & 1) ? mantissa : -mantissa, exponent);
}

TEST(CubicKernels, VectorKernelsKeepTheReferenceArithmetic) {
    const CubicKernels& plain = CubicKernelsFor(ResampleKernel::kBaseline);
    std::mt19937 rng(5);
    constexpr int kCount = 1000;  // not a multiple of any vector width: the tails run too
    for (const ResampleKernel kernel : FastKernels()) {
        SCOPED_TRACE(ResampleKernelName(kernel));
        const CubicKernels& fast = CubicKernelsFor(kernel);
        for (int round = 0; round < 40; ++round) {
            // Horizontal: samples with d2 = d1 and coefficients h = -g of any size, so that
            // g d1 and h d2 cancel exactly and the grouping decides how much of l d3 and p(-1)
            // survives.
            std::vector<std::uint8_t> row(std::size_t(kCount) * 12);
            CubicPlan plan;
            plan.count = kCount;
            plan.pixelBytes = 3;
            for (int k = 0; k < kCount; ++k) {
                std::uint8_t* p = &row[std::size_t(k) * 12];
                const int pm1 = int(rng() % 50), x = 1 + int(rng() % 60);
                p[0] = std::uint8_t(pm1);
                p[3] = std::uint8_t(pm1 + x);
                p[6] = std::uint8_t(pm1 + 3 * x);
                p[9] = std::uint8_t(rng());
                const float g = std::ldexp(WideFloat(rng), int(rng() % 60) - 10);
                // Even rounds: four elements share their samples, which vector loads can bring
                // in one window; odd rounds: samples too far apart for that.
                plan.first.push_back(round % 2 ? k * 12 : k / 4 * 12);
                plan.g.push_back(g);
                plan.h.push_back(-g);
                plan.l.push_back(WideFloat(rng));
            }
            PlanVectorWindows(plan, int(row.size()));
            std::vector<float> want(kCount), got(kCount);
            plain.horizontal(row.data(), plan, want.data());
            fast.horizontal(row.data(), plan, got.data());
            ASSERT_EQ(got, want) << "horizontal";

            // Vertical, for 1 to kWindowRows destination rows sharing the window, each at a
            // fraction of its own; fractions -1, 0, 1 and 2 single out one difference each.
            const int nRows = 1 + round % kWindowRows;
            std::vector<double> g(nRows), h(nRows), l(nRows);
            for (int r = 0; r < nRows; ++r) {
                const float t = (r + round) % 2
                                    ? std::uniform_real_distribution<float>(-1.0f, 2.0f)(rng)
                                    : float((round / 2 + r) % 4 - 1);
                const CubicCoefficients rk = MakeCubicCoefficients(t);
                g[r] = rk.g;
                h[r] = rk.h;
                l[r] = rk.l;
            }
            // Rows: a large value, and rows either near it or small, so that the differences
            // lose bits when stored as floats and v still lands in and around 0..255. Values
            // below 2^25 keep |v| within the int32 range the kernels convert to (a real resize's
            // rows stay within 3570).
            std::vector<float> rows[4];
            for (auto& r : rows) r.resize(kCount);
            for (int k = 0; k < kCount; ++k) {
                const float big = std::ldexp(1.0f + float(rng() % 1000) / 1000, int(rng() % 25));
                rows[0][k] = big;
                for (int n = 1; n < 4; ++n) {
                    const float small = float(rng() % 25600) / 100;
                    rows[n][k] = (rng() & 1) ? big + small : small;
                }
            }
            auto compare = [&](const char* what) {
                std::vector<std::vector<std::uint8_t>> want(nRows), got(nRows);
                std::vector<std::uint8_t*> wantRows, gotRows;
                for (int r = 0; r < nRows; ++r) {
                    want[r].assign(kCount, 0x5A);
                    got[r].assign(kCount, 0xA5);
                    wantRows.push_back(want[r].data());
                    gotRows.push_back(got[r].data());
                }
                plain.vertical(rows[0].data(), rows[1].data(), rows[2].data(), rows[3].data(),
                               kCount, nRows, g.data(), h.data(), l.data(), wantRows.data());
                fast.vertical(rows[0].data(), rows[1].data(), rows[2].data(), rows[3].data(),
                              kCount, nRows, g.data(), h.data(), l.data(), gotRows.data());
                ASSERT_EQ(got, want) << what << ", " << nRows << " rows";
            };
            compare("bytes from rows");

            // g e1 and h e2 cancel exactly (h = -g, up to 2^51; rows with e1 = e2 = x), so that
            // the grouping decides how much of a + l e3 (a in 0..300) survives. |v| stays within
            // 2^13, inside the range the kernels' conversion to int32 is made for.
            for (int r = 0; r < nRows; ++r) {
                g[r] = std::ldexp(WideFloat(rng), 20);
                h[r] = -g[r];
                l[r] = std::uniform_real_distribution<float>(-1.0f, 1.0f)(rng);
            }
            for (int k = 0; k < kCount; ++k) {
                const float a = float(rng() % 1200) / 4, x = float(1 + rng() % 4000);
                rows[0][k] = a;
                rows[1][k] = a + x;
                rows[2][k] = a + 3 * x;
                rows[3][k] = float(rng() % 25600) / 100;
            }
            compare("cancelling coefficients");
        }
    }
}

TEST(ResampleOptions, ParsesKernelNamesAndThreadCounts) {
    const struct {
        const char* text;
        std::optional<ResampleKernel> kernel;
        std::optional<int> threads;
    } cases[] = {
        {"scalar", ResampleKernel::kScalar, std::nullopt},
        {"baseline", ResampleKernel::kBaseline, std::nullopt},
        {"avx2", ResampleKernel::kAvx2, std::nullopt},
        {"avx512", ResampleKernel::kAvx512, std::nullopt},
        {"AVX2", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"1", std::nullopt, 1},
        {"16", std::nullopt, 16},
        {"1024", std::nullopt, 1024},
        {"0", std::nullopt, std::nullopt},
        {"-2", std::nullopt, std::nullopt},
        {"3x", std::nullopt, std::nullopt},
        {" 3", std::nullopt, std::nullopt},
        {"1025", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseResampleKernel(c.text), c.kernel);
        EXPECT_EQ(ParseThreadCount(c.text), c.threads);
    }
}

}  // namespace
