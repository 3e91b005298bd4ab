#include "stack/still_rank.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace {

inline int Luma4(const std::uint8_t* p) {
    return p[0] + 2 * p[1] + p[2];
}

}  // namespace

double FrameSharpness(const SFrame& frame) {
    const int w = frame.width, h = frame.height;
    if (w < 2 || h < 2)
        return 0;
    const std::uint8_t* data = frame.bgr.data();
    const std::size_t stride = std::size_t(w) * 3;
    std::int64_t total = 0;
    for (int y = 0; y + 1 < h; ++y) {
        const std::uint8_t* row = data + y * stride;
        const std::uint8_t* below = row + stride;
        std::int64_t rowTotal = 0;
        for (int x = 0; x + 1 < w; ++x) {
            const int here = Luma4(row + 3 * x);
            const int gx = Luma4(row + 3 * x + 3) - here;
            const int gy = Luma4(below + 3 * x) - here;
            rowTotal += gx * gx + gy * gy;
        }
        total += rowTotal;
    }
    // Luma4 is four times the luma.
    return double(total) / (16.0 * double(w - 1) * double(h - 1));
}

double FrameNoiseSigma(const SFrame& frame) {
    const int w = frame.width, h = frame.height;
    constexpr int kBlock = 16;
    if (w < kBlock + 2 || h < kBlock + 2)
        return 0;
    const std::uint8_t* data = frame.bgr.data();
    const std::size_t stride = std::size_t(w) * 3;
    // Blocks on a lattice of at most about 4 000 of them.
    const int across = (w - 2) / kBlock, down = (h - 2) / kBlock;
    const int step = std::max(1, int(std::sqrt(double(across) * down / 4000.0)));
    std::vector<double> spreads;
    for (int by = 0; by < down; by += step)
        for (int bx = 0; bx < across; bx += step) {
            std::int64_t squares = 0;
            for (int y = 1 + by * kBlock; y < 1 + (by + 1) * kBlock; ++y) {
                const std::uint8_t* up = data + (y - 1) * stride;
                const std::uint8_t* row = up + stride;
                const std::uint8_t* down = row + stride;
                for (int x = 1 + bx * kBlock; x < 1 + (bx + 1) * kBlock; ++x) {
                    const int l = 3 * (x - 1), c = 3 * x, r = 3 * (x + 1);
                    const int v = Luma4(up + l) - 2 * Luma4(up + c) + Luma4(up + r) -
                                  2 * (Luma4(row + l) - 2 * Luma4(row + c) + Luma4(row + r)) +
                                  Luma4(down + l) - 2 * Luma4(down + c) + Luma4(down + r);
                    squares += std::int64_t(v) * v;
                }
            }
            spreads.push_back(std::sqrt(double(squares) / (kBlock * kBlock)));
        }
    // The flattest blocks show the noise alone: the tenth percentile, raised by what that
    // percentile falls short of the mean for pure noise over a block (about 7 %).
    auto at = spreads.begin() + std::ptrdiff_t(spreads.size() / 10);
    std::nth_element(spreads.begin(), at, spreads.end());
    // The kernel's squared weights sum to 36: white noise of sigma s gives a residual of 6 s,
    // 24 s in Luma4's units.
    return *at * 1.07 / 24.0;
}

std::vector<bool> KeepSharpest(const std::vector<double>& sharpness, double keepPercent,
                               std::optional<int> forced) {
    const int n = int(sharpness.size());
    std::vector<bool> keep(static_cast<std::size_t>(n), false);
    if (n == 0)
        return keep;
    const int count = std::clamp(int(std::ceil(n * keepPercent / 100.0 - 1e-9)), 1, n);
    std::vector<int> order(static_cast<std::size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return sharpness[std::size_t(a)] > sharpness[std::size_t(b)];
    });
    for (int i = 0; i < count; ++i) keep[std::size_t(order[std::size_t(i)])] = true;
    if (forced && *forced >= 0 && *forced < n)
        keep[std::size_t(*forced)] = true;
    return keep;
}
