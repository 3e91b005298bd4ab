#include "stack/stack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
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
        const CGridRect want = RefShiftOntoGrid(view, dx, dy, gw, gh, expected.data());
        // The vector loops where the processor has them, and the plain ones alone.
        for (const bool bVectors : {true, false}) {
            SCOPED_TRACE(bVectors ? "vector loops" : "plain loops");
            std::vector<std::uint8_t> got(std::size_t(gw) * gh * 3, fill);
            const CGridRect rect = ShiftOntoGrid(view, dx, dy, gw, gh, got.data(), bVectors);
            EXPECT_EQ(rect.m_nLeft, want.m_nLeft);
            EXPECT_EQ(rect.m_nTop, want.m_nTop);
            EXPECT_EQ(rect.m_nRight, want.m_nRight);
            EXPECT_EQ(rect.m_nBottom, want.m_nBottom);
            ASSERT_EQ(got, expected);
        }
        covered += want.Area() > 0;
    }
    // The random shifts must not all have missed the grid.
    EXPECT_GT(covered, 150);
}

namespace {

// Packed pixels of a width x height picture of soft blobs (random place, size and colour, on
// grey), seen moved by (dx, dy): picture(x, y) = texture(x - dx, y - dy) at any fraction.
std::vector<std::uint8_t> Blobs(int width, int height, double dx, double dy) {
    std::vector<double> sum(std::size_t(width) * height * 3, 128.0);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> unit(0, 1);
    const int count = std::max(40, width * height / 60);
    for (int i = 0; i < count; ++i) {
        const double cx = unit(rng) * width + dx, cy = unit(rng) * height + dy;
        const double sigma = 1 + 2.5 * unit(rng);
        const double colour[3] = {unit(rng) * 160 - 80, unit(rng) * 160 - 80, unit(rng) * 160 - 80};
        const int reach = int(std::ceil(4 * sigma));
        for (int y = std::max(0, int(cy) - reach); y < std::min(height, int(cy) + reach + 1); ++y)
            for (int x = std::max(0, int(cx) - reach); x < std::min(width, int(cx) + reach + 1);
                 ++x) {
                const double g =
                    std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (2 * sigma * sigma));
                for (int k = 0; k < 3; ++k)
                    sum[(std::size_t(y) * width + x) * 3 + k] += colour[k] * g;
            }
    }
    std::vector<std::uint8_t> bytes(sum.size());
    for (std::size_t i = 0; i < sum.size(); ++i)
        bytes[i] = std::uint8_t(std::clamp(std::floor(sum[i] + 0.5), 0.0, 255.0));
    return bytes;
}

}  // namespace

// Windows of every size from 32 up, on pictures of odd and uneven sides, find whole and
// fractional shifts either way within a tenth of a pixel (a fifth in the smallest window, which
// sees too little of the picture for more).
TEST(CImageRegistration, RecoversShiftsWithEveryWindowSize) {
    struct {
        int width, height, window;
        double tolerance;
    } const kCases[] = {
        {45, 70, 32, 0.2}, {90, 65, 64, 0.1}, {301, 200, 128, 0.1}, {640, 480, 256, 0.1}};
    const double kShifts[][2] = {{2.4, -1.7}, {-0.35, 0.8}, {-3, 2}, {0.5, -0.5}};
    for (const auto& c : kCases) {
        const std::vector<std::uint8_t> reference = Blobs(c.width, c.height, 0, 0);
        CImageRegistration registration;
        const CStatus set =
            registration.SetReference(PackedView(reference.data(), c.width, c.height));
        ASSERT_TRUE(set) << set.Reason();
        EXPECT_EQ(registration.WindowSize(), c.window);
        for (const auto& shift : kShifts) {
            SCOPED_TRACE(::testing::Message()
                         << c.width << "x" << c.height << " by " << shift[0] << ", " << shift[1]);
            const std::vector<std::uint8_t> moved = Blobs(c.width, c.height, shift[0], shift[1]);
            const CRegistration found =
                registration.Register(PackedView(moved.data(), c.width, c.height));
            ASSERT_TRUE(found.m_bOk) << found.m_strReason;
            EXPECT_NEAR(found.m_dx, shift[0], c.tolerance);
            EXPECT_NEAR(found.m_dy, shift[1], c.tolerance);
        }
    }
}

// The plain loops and the vector ones (where the processor has them) find the very same shift
// and peak ratio, to the last bit, with every window size, and refuse the same pictures.
TEST(CImageRegistration, PlainLoopsFindWhatTheVectorLoopsFind) {
    struct {
        int width, height;
    } const kCases[] = {{45, 70}, {90, 65}, {301, 200}, {640, 480}};
    const double kShifts[][2] = {{0, 0}, {2.4, -1.7}, {-0.35, 0.8}, {-3, 2}, {7.5, 5.25}};
    int compared = 0;
    for (const auto& c : kCases) {
        const std::vector<std::uint8_t> reference = Blobs(c.width, c.height, 0, 0);
        const CImageView referenceView = PackedView(reference.data(), c.width, c.height);
        CImageRegistration vector(true), plain(false);
        for (CImageRegistration* registration : {&vector, &plain}) {
            const CStatus set = registration->SetReference(referenceView);
            ASSERT_TRUE(set) << set.Reason();
        }
        ASSERT_EQ(plain.WindowSize(), vector.WindowSize());
        const std::vector<std::uint8_t> flat(reference.size(), 90);
        for (const auto& shift : kShifts) {
            SCOPED_TRACE(::testing::Message()
                         << c.width << "x" << c.height << " by " << shift[0] << ", " << shift[1]);
            const std::vector<std::uint8_t> moved = Blobs(c.width, c.height, shift[0], shift[1]);
            const CImageView view = PackedView(moved.data(), c.width, c.height);
            const CRegistration fast = vector.Register(view);
            const CRegistration slow = plain.Register(view);
            // The far shift in the smallest window is too weak for either: refused alike.
            EXPECT_EQ(slow.m_bOk, fast.m_bOk);
            EXPECT_EQ(slow.m_strReason, fast.m_strReason);
            EXPECT_EQ(slow.m_dx, fast.m_dx);
            EXPECT_EQ(slow.m_dy, fast.m_dy);
            EXPECT_EQ(slow.m_dPeakRatio, fast.m_dPeakRatio);
            compared += fast.m_bOk;
        }
        // A picture without contrast is refused by both, for the same reason.
        const CImageView flatView = PackedView(flat.data(), c.width, c.height);
        const CRegistration fast = vector.Register(flatView);
        const CRegistration slow = plain.Register(flatView);
        EXPECT_FALSE(fast.m_bOk);
        EXPECT_FALSE(slow.m_bOk);
        EXPECT_EQ(slow.m_strReason, fast.m_strReason);
    }
    // All but that one were registered.
    EXPECT_EQ(compared, int(std::size(kCases) * std::size(kShifts)) - 1);
}

namespace {

// Phase correlation worked out plainly, in double with direct transforms, as the yardstick of
// the fast transforms: the peak ratio of the correlation surface of `image` against `reference`
// (packed, width x height) over the centred window of n x n.
double PlainPeakRatio(const std::vector<std::uint8_t>& reference,
                      const std::vector<std::uint8_t>& image, int width, int height, int n) {
    using Cx = std::complex<double>;
    const double pi = std::numbers::pi;
    const int left = (width - n) / 2, top = (height - n) / 2;
    // Grey, mean-free, Hann-tapered window.
    const auto window = [&](const std::vector<std::uint8_t>& bytes) {
        std::vector<Cx> a(std::size_t(n) * n);
        double mean = 0;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const std::uint8_t* p = &bytes[(std::size_t(top + y) * width + left + x) * 3];
                a[std::size_t(y) * n + x] = 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
                mean += a[std::size_t(y) * n + x].real() / (double(n) * n);
            }
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                a[std::size_t(y) * n + x] = (a[std::size_t(y) * n + x] - mean) *
                                            (0.5 - 0.5 * std::cos(2 * pi * x / n)) *
                                            (0.5 - 0.5 * std::cos(2 * pi * y / n));
        return a;
    };
    // Direct 2-D transform, rows then columns; sign -1 forward, +1 back (not normalised).
    const auto transform = [&](std::vector<Cx> a, int sign) {
        std::vector<Cx> b(a.size());
        for (int pass = 0; pass < 2; ++pass) {
            for (int line = 0; line < n; ++line)
                for (int k = 0; k < n; ++k) {
                    Cx s = 0;
                    for (int j = 0; j < n; ++j) {
                        const std::size_t at =
                            pass == 0 ? std::size_t(line) * n + j : std::size_t(j) * n + line;
                        s += a[at] * std::polar(1.0, sign * 2 * pi * double(j * k % n) / n);
                    }
                    b[pass == 0 ? std::size_t(line) * n + k : std::size_t(k) * n + line] = s;
                }
            a.swap(b);
        }
        return a;
    };
    const std::vector<Cx> r = transform(window(reference), -1);
    std::vector<Cx> c = transform(window(image), -1);
    for (int v = 0; v < n; ++v)
        for (int u = 0; u < n; ++u) {
            Cx& z = c[std::size_t(v) * n + u];
            z *= std::conj(r[std::size_t(v) * n + u]);
            z = std::abs(z) > 1e-9 ? z / std::abs(z) : 0.0;
            const double fu = double(u < n / 2 ? u : u - n) / n;
            const double fv = double(v < n / 2 ? v : v - n) / n;
            z *=
                u == n / 2 || v == n / 2 ? 0.0 : std::exp(-(fu * fu + fv * fv) / (2 * 0.15 * 0.15));
        }
    const std::vector<Cx> surface = transform(c, +1);
    std::size_t peak = 0;
    for (std::size_t i = 0; i < surface.size(); ++i)
        if (surface[i].real() > surface[peak].real())
            peak = i;
    const int px = int(peak % std::size_t(n)), py = int(peak / std::size_t(n));
    double sum = 0, squares = 0, count = 0;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const int ax = std::abs(x - px), ay = std::abs(y - py);
            if (std::min(ax, n - ax) <= 3 && std::min(ay, n - ay) <= 3)
                continue;
            const double s = surface[std::size_t(y) * n + x].real();
            sum += s;
            squares += s * s;
            ++count;
        }
    const double mean = sum / count;
    return (surface[peak].real() - mean) / std::sqrt(squares / count - mean * mean);
}

}  // namespace

// The peak ratio, which decides whether a picture is used, is that of phase correlation worked
// out plainly, for pictures moved every way and for one of unrelated noise.
TEST(CImageRegistration, PeakRatioOfThePlainCorrelation) {
    const int width = 90, height = 65, window = 64;
    const std::vector<std::uint8_t> reference = Blobs(width, height, 0, 0);
    CImageRegistration registration;
    ASSERT_TRUE(registration.SetReference(PackedView(reference.data(), width, height)));
    ASSERT_EQ(registration.WindowSize(), window);
    std::mt19937 rng(11);
    std::vector<std::uint8_t> noise(std::size_t(width) * height * 3);
    for (auto& b : noise) b = std::uint8_t(rng());
    const double kShifts[][2] = {{0.5, 0}, {1.25, -0.5}, {-4.6, 3.3}, {12, 9.5}};
    std::vector<std::vector<std::uint8_t>> pictures = {noise};
    for (const auto& shift : kShifts) pictures.push_back(Blobs(width, height, shift[0], shift[1]));
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        SCOPED_TRACE(i);
        const CRegistration found =
            registration.Register(PackedView(pictures[i].data(), width, height), 0);
        const double expected = PlainPeakRatio(reference, pictures[i], width, height, window);
        EXPECT_NEAR(found.m_dPeakRatio, expected, 1e-4 * expected);
    }
}
