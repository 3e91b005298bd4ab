#include "jobs/image_registration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

// The plain way of moving a picture onto the grid, kept as the yardstick of the fast one: the
// Lanczos weights worked out again here, then every tap added over whole rows, one at a time.
struct CRefTaps {
    int m_nFirst = 0;
    int m_nCount = 1;
    int m_weights[6] = {4096};
};

CRefTaps RefTaps(int frac) {
    CRefTaps taps;
    if (frac == 0)
        return taps;
    const auto lanczos = [](double t) {
        t = std::fabs(t);
        if (t < 1e-12)
            return 1.0;
        if (t >= 3)
            return 0.0;
        const double a = std::numbers::pi * t;
        return 3 * std::sin(a) * std::sin(a / 3) / (a * a);
    };
    taps.m_nFirst = -2;
    taps.m_nCount = 6;
    double w[6], total = 0;
    for (int k = 0; k < 6; ++k) total += w[k] = lanczos(taps.m_nFirst + k - frac / 256.0);
    int sum = 0, largest = 0;
    for (int k = 0; k < 6; ++k) {
        taps.m_weights[k] = int(std::lround(4096 * w[k] / total));
        sum += taps.m_weights[k];
        if (taps.m_weights[k] > taps.m_weights[largest])
            largest = k;
    }
    taps.m_weights[largest] += 4096 - sum;
    return taps;
}

CGridRect RefShiftOntoGrid(const CImageView& image, double dx, double dy, int width, int height,
                           std::uint8_t* grid) {
    const auto split = [](double d, int& whole, int& frac) {
        whole = int(std::floor(d));
        frac = int(std::lround((d - whole) * 256));
        if (frac == 256) {
            ++whole;
            frac = 0;
        }
    };
    int ix, fx, iy, fy;
    split(dx, ix, fx);
    split(dy, iy, fy);
    const CRefTaps tx = RefTaps(fx), ty = RefTaps(fy);
    CGridRect rect;
    rect.m_nLeft = std::max(0, -(ix + tx.m_nFirst));
    rect.m_nTop = std::max(0, -(iy + ty.m_nFirst));
    rect.m_nRight = std::min(width, image.m_nWidth - (ix + tx.m_nFirst + tx.m_nCount - 1));
    rect.m_nBottom = std::min(height, image.m_nHeight - (iy + ty.m_nFirst + ty.m_nCount - 1));
    if (rect.Empty())
        return CGridRect{};
    const int bytes = (rect.m_nRight - rect.m_nLeft) * 3;
    const int firstRow = rect.m_nTop + iy + ty.m_nFirst;
    const int rows = rect.m_nBottom - rect.m_nTop + ty.m_nCount - 1;
    std::vector<std::int16_t> across(std::size_t(rows) * bytes);
    std::vector<std::int32_t> sums(static_cast<std::size_t>(bytes));
    for (int r = 0; r < rows; ++r) {
        const std::uint8_t* src = image.Row(firstRow + r) + 3 * (rect.m_nLeft + ix + tx.m_nFirst);
        std::fill(sums.begin(), sums.end(), 128);
        for (int k = 0; k < tx.m_nCount; ++k)
            for (int i = 0; i < bytes; ++i)
                sums[std::size_t(i)] += src[3 * k + i] * tx.m_weights[k];
        for (int i = 0; i < bytes; ++i)
            across[std::size_t(r) * bytes + i] = std::int16_t(sums[std::size_t(i)] >> 8);
    }
    for (int y = rect.m_nTop; y < rect.m_nBottom; ++y) {
        const std::int16_t* col = across.data() + std::size_t(y - rect.m_nTop) * bytes;
        std::fill(sums.begin(), sums.end(), 1 << 15);
        for (int k = 0; k < ty.m_nCount; ++k)
            for (int i = 0; i < bytes; ++i)
                sums[std::size_t(i)] += col[std::size_t(k) * bytes + i] * ty.m_weights[k];
        std::uint8_t* out = grid + (std::size_t(y) * width + rect.m_nLeft) * 3;
        for (int i = 0; i < bytes; ++i)
            out[i] = std::uint8_t(std::clamp(sums[std::size_t(i)] >> 16, 0, 255));
    }
    return rect;
}

}  // namespace

// Over random pictures, grids and shifts (whole, one axis only, negative, fractions a hair from
// a whole pixel, shifts leaving hardly any overlap), moving onto the grid covers the same pixels
// and writes the same bytes as the plain tap-by-tap way; pixels outside are left alone.
TEST(ShiftOntoGrid, SameBytesAsThePlainWay) {
    std::mt19937 rng(2026);
    const auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    const auto pick = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    const int kSizes[][2] = {{1, 1}, {2, 3}, {5, 7}, {6, 6}, {7, 13}, {17, 9}, {33, 21}, {101, 64}};
    int covered = 0;
    for (int round = 0; round < 400; ++round) {
        const int w = round < 8 ? kSizes[round][0] : pick(1, 90) | (round % 2);
        const int h = round < 8 ? kSizes[round][1] : pick(1, 70);
        // A grid that is the picture's size, or another one.
        const int gw = round % 3 == 0 ? w : pick(1, 100);
        const int gh = round % 3 == 0 ? h : pick(1, 80);
        // Whole part anywhere from beyond the far side to beyond the near one; then a fraction.
        const auto shift = [&](int extent) {
            const double whole = pick(-extent - 3, extent + 3);
            switch (pick(0, 5)) {
                case 0:
                    return whole;  // no fraction
                case 1:
                    return whole + 0.998;  // rounds up to the next whole pixel
                case 2:
                    return whole + 0.997;  // just under
                case 3:
                    return whole + 0.002;
                default:
                    return whole + uniform(0, 1);
            }
        };
        double dx = shift(w), dy = shift(h);
        if (round % 7 == 1)
            dx = 0;  // down only
        if (round % 7 == 2)
            dy = 0;  // across only
        // Bottom-up storage (negative stride) in half the rounds, with padded rows.
        const std::ptrdiff_t rowBytes = std::ptrdiff_t(w) * 3 + round % 4;
        std::vector<std::uint8_t> bytes(std::size_t(rowBytes) * h);
        for (auto& b : bytes) b = std::uint8_t(pick(0, 1) ? pick(0, 255) : pick(0, 1) * 255);
        CImageView view = PackedView(bytes.data(), w, h);
        view.m_nStride = rowBytes;
        if (round % 2) {
            view.m_pTop = bytes.data() + (h - 1) * rowBytes;
            view.m_nStride = -rowBytes;
        }
        SCOPED_TRACE(::testing::Message() << "round " << round << ": " << w << "x" << h << " onto "
                                          << gw << "x" << gh << " by " << dx << ", " << dy);
        const std::uint8_t fill = std::uint8_t(pick(0, 255));
        std::vector<std::uint8_t> expected(std::size_t(gw) * gh * 3, fill);
        std::vector<std::uint8_t> got(expected);
        const CGridRect want = RefShiftOntoGrid(view, dx, dy, gw, gh, expected.data());
        const CGridRect rect = ShiftOntoGrid(view, dx, dy, gw, gh, got.data());
        EXPECT_EQ(rect.m_nLeft, want.m_nLeft);
        EXPECT_EQ(rect.m_nTop, want.m_nTop);
        EXPECT_EQ(rect.m_nRight, want.m_nRight);
        EXPECT_EQ(rect.m_nBottom, want.m_nBottom);
        ASSERT_EQ(got, expected);
        covered += want.Area() > 0;
    }
    // The random shifts must not all have missed the grid.
    EXPECT_GT(covered, 150);
}
