// The frames the still-quality bench makes and the measure it takes of results must agree: a
// frame made at a known shift is found at that shift and differs from the photograph only by
// its noise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "stacking_scene.h"
#include "still_scene.h"

using namespace still_scene;

namespace {

constexpr int kMargin = 8;

// A stand-in for a photograph, 320 x 240 inside a margin of kMargin: the stacking bench's
// scene, with stripes and edges finer than the frames can hold.
const CPicture& Photograph() {
    static const CPicture photograph = [] {
        const stacking_scene::CScene scene(320 + 2 * kMargin, 240 + 2 * kMargin);
        CDibImage image;
        scene.Render(0, 0, image);
        return FromDib(image);
    }();
    return photograph;
}

CPicture Truth() {
    const CPicture& photograph = Photograph();
    return Crop(photograph, kMargin, kMargin, photograph.m_nWidth - 2 * kMargin,
                photograph.m_nHeight - 2 * kMargin);
}

CFrameRecipe At(double dx, double dy) {
    CFrameRecipe recipe;
    recipe.m_dx = dx;
    recipe.m_dy = dy;
    return recipe;
}

TEST(StillScene, NoisyPictureIsFoundAtItsShiftAndScoresItsNoise) {
    // A frame (or, `full`, the photograph's part at its own size) moved by (dx, dy) of its
    // pixels, `crop` pixels cut off every side.
    struct Case {
        double dx, dy, sigma;
        int crop;
        bool full;
    };
    const Case kCases[] = {{0.37, -0.81, 3, 0, false}, {-1.25, 0.5, 3, 0, false},
                           {1.5, 1.5, 2, 0, false},    {0.0625, -1.4375, 6, 0, false},
                           {0, 0.2, 3, 6, false},      {-0.6, 1.3, 3, 0, true},
                           {2.75, -1.1, 3, 0, true},   {-2.3, -2.9, 4, 20, true}};
    const CPicture& photograph = Photograph();
    std::mt19937 rng(3);
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << "shift " << c.dx << ", " << c.dy << " crop " << c.crop
                                        << (c.full ? " full size" : " frame size"));
        const CPicture whole =
            c.full ? Crop(Shift(photograph, c.dx, c.dy), kMargin, kMargin,
                          photograph.m_nWidth - 2 * kMargin, photograph.m_nHeight - 2 * kMargin)
                   : RenderFrame(photograph, kMargin, At(c.dx, c.dy));
        CPicture picture =
            Crop(whole, c.crop, c.crop, whole.m_nWidth - 2 * c.crop, whole.m_nHeight - 2 * c.crop);
        AddNoise(picture, c.sigma, rng);
        CShift found;
        const double psnr = PsnrAgainstPhotograph(picture, photograph, kMargin, 8, &found);
        EXPECT_NEAR(found.m_dx, c.dx, 0.02);
        EXPECT_NEAR(found.m_dy, c.dy, 0.02);
        // Only the noise is left: its PSNR is 20 log10(255 / sigma).
        EXPECT_NEAR(psnr, 20 * std::log10(255 / c.sigma), 0.3);
        // The same picture of the unmoved scene compares far worse.
        const CPicture unmoved = c.full ? Crop(photograph, kMargin + c.crop, kMargin + c.crop,
                                               picture.m_nWidth, picture.m_nHeight)
                                        : Crop(RenderFrame(photograph, kMargin, At(0, 0)), c.crop,
                                               c.crop, picture.m_nWidth, picture.m_nHeight);
        EXPECT_LT(Psnr(picture, unmoved, 8), psnr - 6);
    }
}

TEST(StillScene, WholePixelShiftMovesTheIdealFrameExactly) {
    const CPicture ideal = BoxDown2(Truth());
    const struct { int dx, dy; } kCases[] = {{1, 0}, {0, -1}, {-1, 1}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << "shift " << c.dx << ", " << c.dy);
        const CPicture frame = RenderFrame(Photograph(), kMargin, At(c.dx, c.dy));
        double worst = 0;
        for (int y = 2; y < frame.m_nHeight - 2; ++y)
            for (int x = 2; x < frame.m_nWidth - 2; ++x)
                for (int k = 0; k < 3; ++k)
                    worst = std::max(worst, std::fabs(frame.Row(y)[3 * x + k] -
                                                      ideal.Row(y - c.dy)[3 * (x - c.dx) + k]));
        EXPECT_LT(worst, 1e-6);
    }
}

TEST(StillScene, ShiftAndAddLandsOnThePhotographsGridAndGainsFromMoreFrames) {
    const std::vector<CFrameRecipe> recipes = PlanFrames(16, Variant::Plain, 11, 160, 120);
    std::vector<CPicture> frames;
    std::vector<CShift> shifts;
    std::mt19937 rng(5);
    for (const CFrameRecipe& recipe : recipes) {
        frames.push_back(RenderFrame(Photograph(), kMargin, recipe));
        AddNoise(frames.back(), 3.0, rng);
        shifts.push_back({recipe.m_dx, recipe.m_dy});
    }
    const auto merge = [&](std::size_t count, CShift* found) {
        const std::vector<CPicture> some(frames.begin(), frames.begin() + long(count));
        const std::vector<CShift> theirs(shifts.begin(), shifts.begin() + long(count));
        return PsnrAgainstPhotograph(ShiftAndAdd(some, theirs, 2), Photograph(), kMargin, 8, found);
    };
    CShift found;
    const double all = merge(frames.size(), &found);
    EXPECT_NEAR(found.m_dx, 0.0, 0.05);
    EXPECT_NEAR(found.m_dy, 0.0, 0.05);
    // Sixteen places of the pan fill the finer grid far better than one frame does.
    EXPECT_GT(all, merge(1, nullptr) + 1.5);
}

}  // namespace
