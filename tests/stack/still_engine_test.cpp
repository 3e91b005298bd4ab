#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>
#include <random>
#include <vector>

#include "common/still_scene.h"
#include "resample/resize_dib.h"
#include "stack/stack_detail.h"
#include "stack/still_align.h"
#include "stack/still_engine.h"
#include "stack/still_gather.h"
#include "stack/still_rank.h"

using namespace still_scene;

namespace {

constexpr int kBox = 8;      // canvas pixels a frame pixel, each way
constexpr int kMargin = 32;  // canvas pixels around the frames' area

const CCanvas& Texture() {
    static const CCanvas canvas =
        CCanvas::Random(192 * kBox + 2 * kMargin, 160 * kBox + 2 * kMargin, 7);
    return canvas;
}

// The texture itself at canvas resolution, as one frame of its canvas pixels.
const SFrame& TextureCanvas() {
    static const SFrame canvas = Texture().Frame(Texture().Width(), Texture().Height(), 1, 0, 0);
    return canvas;
}

// Frame i of a burst: the texture moved by (ox, oy) canvas pixels (1/8 frame pixel each).
SFrame Shot(int ox, int oy, std::int64_t timeMs = 0, int width = 192, int height = 160) {
    return Texture().Frame(width, height, kBox, kMargin + ox, kMargin + oy, timeMs);
}

std::vector<SFrame> Burst(int count, unsigned seed, double noise) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> shift(-12, 12);
    std::vector<SFrame> frames;
    for (int i = 0; i < count; ++i) {
        SFrame f = Shot(i ? shift(rng) : 0, i ? shift(rng) : 0, i * 40);
        if (noise > 0)
            AddNoise(f, noise, 50 + unsigned(i));
        frames.push_back(std::move(f));
    }
    return frames;
}

class CEvents : public IStillObserver {
public:
    void OnEvent(const CStillEvent& event) override { m_events.push_back(event); }
    std::vector<CStillEvent> m_events;
};

}  // namespace

TEST(StillRank, KeepsTheLeastBlurredAndMeasuresNoise) {
    const double blurs[][5] = {
        {0, 1.6, 0.5, 2.4, 1.0}, {2.0, 1.0, 0.5, 0, 1.5}, {1.2, 0, 2.2, 0.6, 3}};
    for (std::size_t row = 0; row < std::size(blurs); ++row)
        for (double percent : {20.0, 40.0, 60.0}) {
            SCOPED_TRACE(testing::Message() << "row " << row << ", keep " << percent);
            std::vector<double> sharpness;
            for (double blur : blurs[row]) {
                SFrame f = Shot(int(row), 0);
                if (blur > 0)
                    Blur(f, blur);
                AddNoise(f, 2, 9);
                sharpness.push_back(FrameSharpness(f));
            }
            const std::vector<bool> keep = KeepSharpest(sharpness, percent);
            const int count = int(std::lround(5 * percent / 100));
            std::vector<double> order(std::begin(blurs[row]), std::end(blurs[row]));
            std::sort(order.begin(), order.end());
            for (int i = 0; i < 5; ++i)
                EXPECT_EQ(keep[std::size_t(i)], blurs[row][i] < order[std::size_t(count)])
                    << "frame " << i;
        }
    // Whatever the keep percent, a frame far blurrer than most is left out (unless forced);
    // gently softer ones stay.
    struct Far {
        std::vector<double> blurs;
        std::optional<int> forced;
        std::vector<bool> kept;
    };
    const Far far[] = {
        {{0, 0, 0, 1.6}, {}, {true, true, true, false}},
        {{0, 1.6}, {}, {true, false}},
        {{0, 0.4, 0, 0.4, 0}, {}, {true, true, true, true, true}},
        {{1.6, 0, 0, 0, 2.4}, 0, {true, true, true, true, false}},
    };
    for (const Far& f : far) {
        std::vector<double> sharpness;
        for (double blur : f.blurs) {
            SFrame frame = Shot(3, 2);
            if (blur > 0)
                Blur(frame, blur);
            AddNoise(frame, 2, 9);
            sharpness.push_back(FrameSharpness(frame));
        }
        EXPECT_EQ(KeepSharpest(sharpness, 100, f.forced), f.kept)
            << testing::PrintToString(f.blurs);
    }
    // The luma noise, (B + 2G + R) / 4 of channels of independent noise sigma: sqrt(6) / 4
    // sigma, found through shading and a hard edge.
    for (double sigma : {2.0, 4.0, 8.0}) {
        SFrame f = Shot(0, 0);
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x)
                for (int k = 0; k < 3; ++k)
                    f.bgr[(std::size_t(y) * f.width + x) * 3 + k] =
                        std::uint8_t(60 + x / 2 + y / 3 + (x > 100 ? 60 : 0));
        AddNoise(f, sigma, 3);
        EXPECT_NEAR(FrameNoiseSigma(f), std::sqrt(6.0) / 4 * sigma, 0.1 * sigma);
    }
}

TEST(StillAlign, RecoversShiftsTurnsAndZooms) {
    CStillAligner aligner;
    const SFrame reference = Shot(0, 0);
    if (CStatus set = aligner.SetReference(reference); !set)
        FAIL() << set.Reason();
    const int shifts[][2] = {{0, 0}, {3, -5}, {-13, 7}, {8, 8}, {1, 15}, {-16, -3}};
    for (const auto& s : shifts) {
        SCOPED_TRACE(testing::Message() << s[0] << ", " << s[1]);
        SFrame f = Shot(s[0], s[1]);
        AddNoise(f, 2, 11);
        const SStillAlignment a = aligner.Align(f, 2);
        ASSERT_EQ(a.m_fault, StillAlignFault::None);
        // frame(x) = reference(x + o / 8): the content lies at -o / 8.
        EXPECT_NEAR(a.m_dx, -s[0] / 8.0, 0.1);
        EXPECT_NEAR(a.m_dy, -s[1] / 8.0, 0.1);
    }

    // Moved beyond the centre window's reach (256 pixels: 128 either way; a pan over
    // seconds): found on reduced copies.
    CStillAligner farAligner;
    const int fw = 1024, fh = 768, fx = (Texture().Width() - fw) / 2,
              fy = (Texture().Height() - fh) / 2;
    if (CStatus set = farAligner.SetReference(Texture().Frame(fw, fh, 1, fx, fy)); !set)
        FAIL() << set.Reason();
    const int far[][2] = {{200, -150}, {-230, 90}, {20, 210}, {0, 0}};
    for (const auto& s : far) {
        SCOPED_TRACE(testing::Message() << "far " << s[0] << ", " << s[1]);
        SFrame f = Texture().Frame(fw, fh, 1, fx + s[0], fy + s[1]);
        AddNoise(f, 2, 13);
        const SStillAlignment a = farAligner.Align(f, 2);
        ASSERT_EQ(a.m_fault, StillAlignFault::None);
        EXPECT_NEAR(a.m_dx, -s[0], 0.1);
        EXPECT_NEAR(a.m_dy, -s[1], 0.1);
    }

    // Turned and zoomed about the centre: frame(p) shows the texture at c + R (p - c) / zoom,
    // so the reference's p lies at c + zoom R^-1 (p - c) in the frame.
    const int w = 184, h = 152;  // inside the texture, turned or not
    CStillAligner turnAligner, plainAligner;
    plainAligner.SetLocal(false);
    const SFrame upright = Texture().Turned(w, h, kBox, 0, 1.0);
    if (CStatus set = turnAligner.SetReference(upright); !set)
        FAIL() << set.Reason();
    if (CStatus set = plainAligner.SetReference(upright); !set)
        FAIL() << set.Reason();
    const double cases[][2] = {{1.0, 1.0}, {0, 1.02}, {-1.0, 0.98}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c[0] << " degrees, zoom " << c[1]);
        const SFrame f = Texture().Turned(w, h, kBox, c[0], c[1]);
        const SStillAlignment local = turnAligner.Align(f, 1);
        const SStillAlignment plain = plainAligner.Align(f, 1);
        ASSERT_EQ(local.m_fault, StillAlignFault::None);
        EXPECT_GE(local.m_nTilesUsed, 6);
        const double a = c[0] * std::numbers::pi / 180, cx = w / 2.0 - 0.5, cy = h / 2.0 - 0.5;
        double worstLocal = 0, worstPlain = 0;
        for (double y = 16; y < h - 16; y += 20)
            for (double x = 16; x < w - 16; x += 20) {
                const double u = x - cx, v = y - cy;
                const double tx = cx + c[1] * (std::cos(a) * u + std::sin(a) * v) - x;
                const double ty = cy + c[1] * (-std::sin(a) * u + std::cos(a) * v) - y;
                double dx, dy;
                local.m_motion.At(x, y, dx, dy);
                worstLocal = std::max(worstLocal, std::hypot(dx - tx, dy - ty));
                plain.m_motion.At(x, y, dx, dy);
                worstPlain = std::max(worstPlain, std::hypot(dx - tx, dy - ty));
            }
        EXPECT_LT(worstLocal, 0.2);
        EXPECT_GT(worstPlain, 1.0);  // a translation alone cannot follow it
    }
}

TEST(StillEngine, BringsBackDetailNoFrameHolds) {
    // Vertical stripes of 12 canvas pixels: 1.5 frame pixels, beyond what a frame can hold
    // (2), 3 pixels of the x2 grid, within what it can.
    // They fill a band across the lower part; the texture around it is what registers (the
    // stripes, aliased in every frame, would mislead any registration).
    const int w = 160, h = 144, period = 12;
    const int cw = w * kBox + 2 * kMargin, ch = h * kBox + 2 * kMargin;
    const SFrame& t = TextureCanvas();
    std::vector<std::uint8_t> bgr(std::size_t(cw) * ch * 3);
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x)
            for (int k = 0; k < 3; ++k) {
                const bool band = y >= ch * 7 / 10 && y < ch * 17 / 20;
                bgr[(std::size_t(y) * cw + x) * 3 + k] =
                    band ? std::uint8_t((x % period) < period / 2 ? 210 : 50)
                         : t.bgr[(std::size_t(y) * t.width + x) * 3 + k];
            }
    const CCanvas stripes(std::move(bgr), cw, ch);
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> shift(-8, 8);
    std::vector<SFrame> frames;
    for (int i = 0; i < 16; ++i) {
        const int ox = i ? shift(rng) : 0, oy = i ? shift(rng) : 0;
        frames.push_back(stripes.Frame(w, h, kBox, kMargin + ox, kMargin + oy, i));
    }
    const SFrame truth = stripes.Frame(2 * w, 2 * h, kBox / 2, kMargin, kMargin);
    // Contrast of the stripes' frequency along the rows, over the middle of the picture.
    const auto contrast = [&](const SFrame& f) {
        double re = 0, im = 0;
        int n = 0;
        for (int y = f.height * 72 / 100; y < f.height * 83 / 100; ++y)
            for (int x = 8; x < f.width - 8; ++x) {
                const double v = f.bgr[(std::size_t(y) * f.width + x) * 3 + 1];
                const double canvasX = (x + 0.5) * kBox * w / f.width + kMargin;
                const double phase = 2 * std::numbers::pi * canvasX / period;
                re += v * std::cos(phase);
                im += v * std::sin(phase);
                ++n;
            }
        return 2 * std::hypot(re, im) / n;
    };
    CStillParams params;
    params.m_atMs = 0;
    params.m_dKeepPercent = 100;
    CMemorySource source(frames);
    const CStillResult result = MakeStill(source, params);
    ASSERT_TRUE(result.m_status.Ok()) << result.m_status.Reason();
    ASSERT_EQ(result.m_picture.width, 2 * w);
    CDibImage one, big;
    ASSERT_TRUE(one.Create(w, h, 24).Ok());
    for (int y = 0; y < h; ++y)
        std::copy_n(frames[0].bgr.data() + std::size_t(y) * w * 3, w * 3, one.TopRow(y));
    ASSERT_TRUE(big.Create(2 * w, 2 * h, 24).Ok());
    ASSERT_TRUE(ResizeDib(one, big));
    SFrame enlarged = result.m_picture;
    for (int y = 0; y < 2 * h; ++y)
        std::copy_n(big.TopRow(y), 2 * w * 3, enlarged.bgr.data() + std::size_t(y) * 2 * w * 3);
    const double truthContrast = contrast(truth);
    ASSERT_GT(truthContrast, 50);
    // Noise-free frames: the sharpening stops at twice, and brings back about a third.
    EXPECT_LT(contrast(enlarged), 0.2 * truthContrast);
    EXPECT_GT(contrast(result.m_picture), 0.3 * truthContrast);
}

TEST(StillEngine, LeavesNoTraceOfAPassingObject) {
    const std::vector<SFrame> clean = Burst(9, 21, 1.0);
    const std::uint8_t colour[3] = {250, 30, 240};
    for (int at : {2, 5}) {
        SCOPED_TRACE(at);
        std::vector<SFrame> crossed = clean, dropped = clean;
        Paint(crossed[std::size_t(at)], 60, 50, 110, 90, colour[0], colour[1], colour[2]);
        dropped.erase(dropped.begin() + at);
        CStillParams params;
        params.m_dKeepPercent = 100;
        params.m_atMs = 0;
        CMemorySource a(clean), b(crossed), c(dropped);
        const CStillResult without = MakeStill(a, params);
        const CStillResult with = MakeStill(b, params);
        const CStillResult less = MakeStill(c, params);
        ASSERT_TRUE(without.m_status.Ok() && with.m_status.Ok() && less.m_status.Ok());
        // The object covers grid pixels 120..220 x 100..180 of the crossed frame (its shift
        // is under 2 pixels). Merged in, it would pull them towards its colour by a ninth of
        // the way, some 15 levels; left out, the result there is that of the burst without
        // that frame, no farther from the clean burst's.
        double pull = 0, crossedMiss = 0, droppedMiss = 0;
        int n = 0;
        for (int y = 104; y < 176; ++y)
            for (int x = 124; x < 216; ++x)
                for (int k = 0; k < 3; ++k) {
                    const std::size_t i = (std::size_t(y) * with.m_picture.width + x) * 3 + k;
                    const double base = without.m_picture.bgr[i];
                    const double d = with.m_picture.bgr[i] - base;
                    pull += (colour[k] > base ? d : -d);
                    crossedMiss += std::fabs(d);
                    droppedMiss += std::fabs(less.m_picture.bgr[i] - base);
                    ++n;
                }
        EXPECT_LT(pull / n, 0.5);
        EXPECT_LT(crossedMiss, 1.25 * droppedMiss);
    }
}

TEST(StillEngine, SameBytesForAnyThreadsAndEitherLoops) {
    const std::vector<SFrame> frames = Burst(6, 33, 2.0);
    for (int scale : {1, 2, 3}) {
        SCOPED_TRACE(scale);
        std::vector<std::uint8_t> first;
        for (const auto& [threads, vectors] : {std::pair{1, true}, {2, true}, {3, false}}) {
            CStillParams params;
            params.m_nScale = scale;
            params.m_nThreads = threads;
            params.m_bVectors = vectors;
            CMemorySource source(frames);
            const CStillResult result = MakeStill(source, params);
            ASSERT_TRUE(result.m_status.Ok()) << result.m_status.Reason();
            ASSERT_EQ(result.m_picture.width, 192 * scale);
            if (first.empty())
                first = result.m_picture.bgr;
            else
                EXPECT_TRUE(result.m_picture.bgr == first) << threads << " threads";
        }
    }
}

// The merge's AVX2 loops against the plain ones, bit for bit, on random samples and places in
// and around frames of several sizes (rows that are not a multiple of eight, taps beyond every
// edge, frames one pixel wide or high): the gathering onto the grid, and the weighing of a
// frame row against the estimate, residuals or not, rejecting or not.
TEST(StillGather, BothBuildsGiveTheSameBits) {
    if (!registration_detail::Avx2Loops(true))
        GTEST_SKIP() << "no AVX2 here";
    std::mt19937 rng(91);
    for (const auto& [width, height] : {std::pair{37, 23}, {64, 48}, {1, 9}, {9, 1}, {2, 2}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        // Planes of B, G, R and agreement, some of it none.
        const std::size_t area = std::size_t(width) * height;
        std::vector<float> samples(4 * area);
        std::uniform_real_distribution<float> value(-60, 300), agree(0, 1);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = i < 3 * area ? value(rng) : (i % 7 ? agree(rng) : 0.0f);
        float lut[257 + 8] = {};
        for (int k = 0; k <= 256; ++k) lut[k] = std::exp(-k * k / 20000.0f);
        const float* p = samples.data();
        const SGatherFrame g{{p, p + area, p + 2 * area, p + 3 * area}, width, height, lut};
        for (int row = 0; row < 40; ++row) {
            const int count = 1 + int(rng() % 203);
            // Most places inside the frame, some up to two pixels beyond it.
            std::uniform_real_distribution<double> x(row % 2 ? -2.0 : 0.0,
                                                     width + (row % 2 ? 1 : -1));
            std::uniform_real_distribution<double> y(row % 3 ? 0.0 : -2.0,
                                                     height + (row % 3 ? -1 : 1));
            // Each place is xs + dx across and y + dy down, as the motion gives them: at random,
            // or along a grid row 1, 2 or 3 times finer than the frame under a motion that
            // drifts slowly (crossing frame rows now and then).
            std::uniform_real_distribution<double> motion(-1.5, 1.5);
            const double y0 = y(rng);
            const int scale = row % 4;
            const double x0 = x(rng), mx = motion(rng), my = motion(rng);
            std::vector<double> xs(static_cast<std::size_t>(count)), dx(xs), dy(xs);
            for (std::size_t i = 0; i < xs.size(); ++i) {
                if (scale == 0)
                    xs[i] = x(rng), dx[i] = motion(rng), dy[i] = motion(rng);
                else
                    xs[i] = x0 + double(i) / scale, dx[i] = mx + 0.003 * double(i),
                    dy[i] = my + 0.02 * std::sin(0.1 * double(i));
            }
            std::vector<std::int32_t> place(4 * std::size_t(count));
            std::vector<float> plain(5 * std::size_t(count));
            for (float& v : plain) v = value(rng);
            std::vector<float> vector = plain;
            const auto gather = [&](bool avx2, std::vector<float>& sums) {
                float* s = sums.data();
                GatherRow(avx2, g, xs.data(), y0, dx.data(), dy.data(), count, place.data(), s,
                          s + count, s + 2 * count, s + 3 * count, s + 4 * count);
            };
            gather(false, plain);
            gather(true, vector);
            ASSERT_EQ(std::memcmp(plain.data(), vector.data(), plain.size() * sizeof(float)), 0)
                << "row " << row;

            // The frame row's pixels against an estimate of the same size: planes of B, G, R
            // and the tolerance (above 1, as the merge's).
            const int n = std::min(count, width);
            std::vector<float> estimate(4 * area);
            for (std::size_t i = 0; i < estimate.size(); ++i)
                estimate[i] = i >= 3 * area ? 1 + 40 * agree(rng) : value(rng);
            std::vector<std::uint8_t> bgr(3 * std::size_t(n));
            for (std::uint8_t& b : bgr) b = std::uint8_t(rng());
            std::vector<std::int32_t> at(std::size_t(n), 0);
            std::vector<float> fx(static_cast<std::size_t>(n)), fy(fx);
            PlaceOnReference(true, dx.data(), dy.data(), int(y0 < 0 ? 0 : y0) % height, n, width,
                             height, at.data(), fx.data(), fy.data());
            const float* e = estimate.data();
            const SWeighRow weigh{{e, e + area, e + 2 * area, e + 3 * area},
                                  width > 1 ? 1u : 0u,
                                  height > 1 ? std::size_t(width) : 0,
                                  row % 2 == 0,
                                  row % 4 < 2};
            // B, G, R rows, then the agreement.
            std::vector<float> weighed[2];
            for (int avx2 = 0; avx2 < 2; ++avx2) {
                weighed[avx2].assign(4 * std::size_t(n), 0.0f);
                float* rows[3] = {weighed[avx2].data(), weighed[avx2].data() + n,
                                  weighed[avx2].data() + 2 * n};
                WeighRow(avx2 == 1, weigh, bgr.data(), at.data(), fx.data(), fy.data(), n, rows,
                         weighed[avx2].data() + 3 * n);
            }
            ASSERT_EQ(std::memcmp(weighed[0].data(), weighed[1].data(), 16 * std::size_t(n)), 0)
                << "row " << row;
        }
    }
}

TEST(StillEngine, HostileInputFailsClearlyOrCopes) {
    struct Case {
        const char* name;
        std::vector<SFrame> frames;
        int failAt;
        CStillParams params;
        StillFailure failure;
    };
    const auto with = [](auto change) {
        CStillParams p;
        change(p);
        return p;
    };
    SFrame flat = Shot(0, 0);
    std::fill(flat.bgr.begin(), flat.bgr.end(), std::uint8_t(90));
    SFrame broken = Shot(1, 1);
    broken.bgr.resize(10);
    const Case cases[] = {
        {"empty", {}, -1, {}, StillFailure::Empty},
        {"one frame", {Shot(0, 0)}, -1, {}, StillFailure::None},
        {"other sizes",
         {Shot(0, 0, 0, 120, 100), Shot(2, 3), Shot(4, 1), broken},
         -1,
         {},
         StillFailure::None},
        {"failing source", Burst(4, 1, 1.0), 2, {}, StillFailure::SourceFailed},
        {"flat", {flat, flat}, -1, {}, StillFailure::NoReference},
        {"tiny", {Shot(0, 0, 0, 8, 8), Shot(1, 0, 0, 8, 8)}, -1, {}, StillFailure::NoReference},
        {"scale 0", Burst(2, 1, 0), -1, with([](CStillParams& p) { p.m_nScale = 0; }),
         StillFailure::BadParams},
        {"scale 4", Burst(2, 1, 0), -1, with([](CStillParams& p) { p.m_nScale = 4; }),
         StillFailure::BadParams},
        {"keep 0", Burst(2, 1, 0), -1, with([](CStillParams& p) { p.m_dKeepPercent = 0; }),
         StillFailure::BadParams},
        {"keep NaN", Burst(2, 1, 0), -1,
         with([](CStillParams& p) { p.m_dKeepPercent = std::nan(""); }), StillFailure::BadParams},
        {"negative threads", Burst(2, 1, 0), -1, with([](CStillParams& p) { p.m_nThreads = -1; }),
         StillFailure::BadParams},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CMemorySource source(c.frames, c.failAt);
        CEvents events;
        const CStillResult result = MakeStill(source, c.params, &events);
        EXPECT_EQ(result.m_failure, c.failure);
        EXPECT_EQ(result.m_status.Ok(), c.failure == StillFailure::None)
            << result.m_status.Reason();
        if (!result.m_status.Ok()) {
            EXPECT_FALSE(result.m_status.Reason().empty());
            EXPECT_TRUE(result.m_picture.bgr.empty());
            continue;
        }
        const SFrame& first = c.frames.front();
        EXPECT_EQ(result.m_picture.width, first.width * c.params.m_nScale);
        EXPECT_EQ(result.m_picture.bgr.size(),
                  std::size_t(result.m_picture.width) * result.m_picture.height * 3);
        // Every frame has a row; those of another size are named as such.
        ASSERT_EQ(result.m_rows.size(), c.frames.size());
        for (std::size_t i = 0; i < c.frames.size(); ++i) {
            const bool other =
                c.frames[i].width != first.width || c.frames[i].bgr.size() != first.bgr.size();
            EXPECT_EQ(result.m_rows[i].m_leftOut == StillLeftOut::OtherSize, other) << i;
        }
        EXPECT_EQ(std::count_if(events.m_events.begin(), events.m_events.end(),
                                [](const CStillEvent& e) {
                                    return std::holds_alternative<CStillFrameMerged>(e);
                                }),
                  result.m_nMerged);
    }
}
