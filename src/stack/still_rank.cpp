#include "stack/still_rank.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "stack/stack_detail.h"

namespace {

inline int Luma4(const std::uint8_t* p) {
    return p[0] + 2 * p[1] + p[2];
}

}  // namespace

namespace {

// Four times the luma of `count` pixels of a BGR row (at most 1020: 16 bits hold it).
[[gnu::always_inline]] inline void LumaRowBody(const std::uint8_t* row, int count,
                                               std::int16_t* luma) {
    for (int x = 0; x < count; ++x)
        luma[x] = std::int16_t(row[3 * x] + 2 * row[3 * x + 1] + row[3 * x + 2]);
}
// Adds the squared differences to the right and below over count - 1 pixels to *total, in
// pieces whose sums 32 bits hold (each term is at most 2 x 1020^2).
[[gnu::always_inline]] inline void GradientRowBody(const std::int16_t* here,
                                                   const std::int16_t* below, int count,
                                                   std::int64_t* total) {
    constexpr int kPiece = 1024;
    for (int start = 0; start + 1 < count; start += kPiece) {
        const int end = std::min(count - 1, start + kPiece);
        std::uint32_t sum = 0;
        for (int x = start; x < end; ++x) {
            const int gx = here[x + 1] - here[x];
            const int gy = below[x] - here[x];
            sum += std::uint32_t(gx * gx + gy * gy);
        }
        *total += sum;
    }
}
TARNWICK_TWO_BUILDS(LumaRow)
TARNWICK_TWO_BUILDS(GradientRow)

}  // namespace

double FrameSharpness(const SFrame& frame) {
    const int w = frame.width, h = frame.height;
    if (w < 2 || h < 2)
        return 0;
    const std::uint8_t* data = frame.bgr.data();
    const std::size_t stride = std::size_t(w) * 3;
    const bool avx2 = registration_detail::Avx2Loops(true);
    std::vector<std::int16_t> rows(2 * std::size_t(w));
    std::int16_t* here = rows.data();
    std::int16_t* below = here + w;
    avx2 ? LumaRowAvx2(data, w, here) : LumaRowPlain(data, w, here);
    std::int64_t total = 0;
    for (int y = 0; y + 1 < h; ++y) {
        const std::uint8_t* next = data + std::size_t(y + 1) * stride;
        avx2 ? LumaRowAvx2(next, w, below) : LumaRowPlain(next, w, below);
        avx2 ? GradientRowAvx2(here, below, w, &total) : GradientRowPlain(here, below, w, &total);
        std::swap(here, below);
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
    // Far below the (upper) median is a frame blurred by motion or focus: among few frames the keep
    // percent alone would let it in, and it costs more than the samples it adds.
    const double median = sharpness[std::size_t(order[std::size_t((n - 1) / 2)])];
    for (int i = 0; i < n; ++i)
        if (sharpness[std::size_t(i)] < kStillFarBelowMedian * median)
            keep[std::size_t(i)] = false;
    if (forced && *forced >= 0 && *forced < n)
        keep[std::size_t(*forced)] = true;
    return keep;
}
