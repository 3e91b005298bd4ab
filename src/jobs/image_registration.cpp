#include "jobs/image_registration.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <mutex>
#include <numbers>

namespace {

constexpr int kMaxWindow = 256;
constexpr int kMinWindow = 16;
// Grid points of the refinement: ±1 pixel in 1/8 steps, then ±1/8 in 1/64 steps.
constexpr int kCoarseSteps = 8;
constexpr int kFineSteps = 8;
// Half-width of the square around the peak left out of the surface's statistics.
constexpr int kPeakRadius = 3;
// Lobes of the Lanczos kernel that moves pictures onto the grid: 2 x this many taps a side.
constexpr int kLanczosLobes = 3;
// Standard deviation, in cycles per pixel, of the Gaussian weight on the cross-power spectrum.
constexpr double kLowPass = 0.15;

// The spectra are single precision; sums over them are taken in double.
using Complex = std::complex<float>;
using Complex64 = std::complex<double>;

Complex* AsComplex(fftwf_complex* p) {
    return reinterpret_cast<Complex*>(p);
}

// Signed frequency of DFT index k out of n.
int Frequency(int k, int n) {
    return k < n / 2 ? k : k - n;
}

// Grey value with the usual luma weights, in 0..255 (B, G, R order).
double Grey(const std::uint8_t* p) {
    return 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
}

// Taps of the interpolating kernel for one axis: weights in 1/4096 summing to 4096, for the
// source pixels at offsets m_nFirst .. m_nFirst + m_nCount - 1 from the whole part of the shift.
struct CTaps {
    int m_nFirst = 0;
    int m_nCount = 1;
    int m_weights[2 * kLanczosLobes] = {4096};
};

double Lanczos(double t) {
    t = std::fabs(t);
    if (t < 1e-12)
        return 1;
    if (t >= kLanczosLobes)
        return 0;
    const double a = std::numbers::pi * t;
    return kLanczosLobes * std::sin(a) * std::sin(a / kLanczosLobes) / (a * a);
}

// Taps for a fraction of `frac` / 256 pixel; a zero fraction is a single tap (an exact copy).
CTaps MakeTaps(int frac) {
    CTaps taps;
    if (frac == 0)
        return taps;
    const double f = frac / 256.0;
    taps.m_nFirst = 1 - kLanczosLobes;
    taps.m_nCount = 2 * kLanczosLobes;
    double w[2 * kLanczosLobes], total = 0;
    for (int k = 0; k < taps.m_nCount; ++k) total += w[k] = Lanczos(taps.m_nFirst + k - f);
    int sum = 0, largest = 0;
    for (int k = 0; k < taps.m_nCount; ++k) {
        taps.m_weights[k] = int(std::lround(4096 * w[k] / total));
        sum += taps.m_weights[k];
        if (taps.m_weights[k] > taps.m_weights[largest])
            largest = k;
    }
    taps.m_weights[largest] += 4096 - sum;  // rounding must not change the sum
    return taps;
}

}  // namespace

CImageView ViewOf(const CDibImage& image) {
    CImageView view;
    if (!image.Bits() || image.m_nWidth <= 0 || image.m_nHeight <= 0)
        return view;
    view.m_nWidth = image.m_nWidth;
    view.m_nHeight = image.m_nHeight;
    view.m_nStride = -std::ptrdiff_t(image.m_nRowBytes);
    view.m_pTop = image.Bits() + std::ptrdiff_t(image.m_nHeight - 1) * image.m_nRowBytes;
    return view;
}

CImageView PackedView(const std::uint8_t* data, int width, int height) {
    CImageView view;
    view.m_pTop = data;
    view.m_nStride = std::ptrdiff_t(width) * 3;
    view.m_nWidth = width;
    view.m_nHeight = height;
    return view;
}

namespace {

// Thread sanitizer builds cannot take the indirect functions of target_clones. The loops below
// are integer arithmetic (or float without contraction), so every clone gives the same bytes.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_THREAD__)
#define TARNWICK_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define TARNWICK_CLONES
#endif

// One row across, six taps: out[i] = (128 + sum over k of src[i + 3k] w[k]) >> 8, 1/16 units.
TARNWICK_CLONES
void AcrossRow(const std::uint8_t* __restrict src, const std::int32_t* __restrict w,
               std::int16_t* __restrict out, int n) {
    const std::int32_t w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3], w4 = w[4], w5 = w[5];
    for (int i = 0; i < n; ++i) {
        const std::int32_t s = 128 + src[i] * w0 + src[i + 3] * w1 + src[i + 6] * w2 +
                               src[i + 9] * w3 + src[i + 12] * w4 + src[i + 15] * w5;
        out[i] = std::int16_t(s >> 8);
    }
}

// One row across without a fraction: (128 + src[i] 4096) >> 8 is src[i] in 1/16 units.
TARNWICK_CLONES
void AcrossCopy(const std::uint8_t* __restrict src, std::int16_t* __restrict out, int n) {
    for (int i = 0; i < n; ++i) out[i] = std::int16_t(src[i] * 16);
}

// One grid row down, six taps of rows r0 .. r5, rounded and clipped to bytes.
TARNWICK_CLONES
void DownRow(const std::int16_t* __restrict r0, const std::int16_t* __restrict r1,
             const std::int16_t* __restrict r2, const std::int16_t* __restrict r3,
             const std::int16_t* __restrict r4, const std::int16_t* __restrict r5,
             const std::int32_t* __restrict w, std::uint8_t* __restrict out, int n) {
    const std::int32_t w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3], w4 = w[4], w5 = w[5];
    for (int i = 0; i < n; ++i) {
        const std::int32_t s =
            (1 << 15) + r0[i] * w0 + r1[i] * w1 + r2[i] * w2 + r3[i] * w3 + r4[i] * w4 + r5[i] * w5;
        out[i] = std::uint8_t(std::clamp(s >> 16, 0, 255));
    }
}

// One grid row down without a fraction: (2^15 + v 4096) >> 16, clipped.
TARNWICK_CLONES
void DownCopy(const std::int16_t* __restrict r0, std::uint8_t* __restrict out, int n) {
    for (int i = 0; i < n; ++i)
        out[i] = std::uint8_t(std::clamp(((1 << 15) + r0[i] * 4096) >> 16, 0, 255));
}

// FFTW's planner, plan destruction included, is not thread-safe, and each decoding worker has
// its own registration: they plan one at a time.
std::mutex& PlannerLock() {
    static std::mutex s_lock;
    return s_lock;
}

}  // namespace

CImageRegistration::CImageRegistration() = default;

CImageRegistration::~CImageRegistration() {
    Release();
}

void CImageRegistration::Release() {
    std::lock_guard lock(PlannerLock());
    if (m_forward)
        fftwf_destroy_plan(m_forward);
    if (m_backward)
        fftwf_destroy_plan(m_backward);
    fftwf_free(m_pReal);
    fftwf_free(m_pWork);
    fftwf_free(m_pReference);
    fftwf_free(m_pCross);
    m_forward = m_backward = nullptr;
    m_pReal = nullptr;
    m_pWork = m_pReference = m_pCross = nullptr;
    m_nSize = 0;
}

bool CImageRegistration::SetReference(const CImageView& reference, std::string* why) {
    const int side = std::min(reference.m_nWidth, reference.m_nHeight);
    if (side < kMinWindow) {
        if (why)
            *why = "too small to register (under " + std::to_string(kMinWindow) + " pixels a side)";
        return false;
    }
    int size = kMinWindow;
    while (size * 2 <= std::min(side, kMaxWindow)) size *= 2;
    if (size != m_nSize) {
        Release();
        const std::size_t half = std::size_t(size) * (size / 2 + 1);
        m_pReal = fftwf_alloc_real(std::size_t(size) * size);
        m_pWork = fftwf_alloc_complex(half);
        m_pReference = fftwf_alloc_complex(half);
        m_pCross = fftwf_alloc_complex(half);
        // FFTW_ESTIMATE: planning must not overwrite the arrays and should take no time.
        std::lock_guard lock(PlannerLock());
        m_forward = fftwf_plan_dft_r2c_2d(size, size, m_pReal, m_pWork, FFTW_ESTIMATE);
        m_backward = fftwf_plan_dft_c2r_2d(size, size, m_pWork, m_pReal, FFTW_ESTIMATE);
        m_nSize = size;
        m_lowPass.resize(half);
        for (int v = 0; v < size; ++v) {
            const double fv = double(Frequency(v, size)) / size;
            for (int u = 0; u < size / 2 + 1; ++u) {
                const double fu = double(u) / size;
                m_lowPass[std::size_t(v) * (size / 2 + 1) + u] =
                    float(std::exp(-(fu * fu + fv * fv) / (2 * kLowPass * kLowPass)));
            }
        }
        m_taper.resize(std::size_t(size));
        for (int i = 0; i < size; ++i)
            m_taper[std::size_t(i)] = float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / size));
    }
    m_nLeft = (reference.m_nWidth - size) / 2;
    m_nTop = (reference.m_nHeight - size) / 2;
    if (!LoadSpectrum(reference)) {
        if (why)
            *why = "the reference has no contrast to register on";
        Release();
        return false;
    }
    const std::size_t half = std::size_t(size) * (size / 2 + 1);
    const Complex* work = AsComplex(m_pWork);
    Complex* ref = AsComplex(m_pReference);
    for (std::size_t i = 0; i < half; ++i) ref[i] = std::conj(work[i]);
    return true;
}

bool CImageRegistration::LoadSpectrum(const CImageView& image) {
    const int size = m_nSize;
    float* real = m_pReal;
    // Mean of the window's pixels inside the picture; pixels outside it count as that mean.
    const int x0 = std::max(0, -m_nLeft), x1 = std::min(size, image.m_nWidth - m_nLeft);
    const int y0 = std::max(0, -m_nTop), y1 = std::min(size, image.m_nHeight - m_nTop);
    if (x1 - x0 < 2 || y1 - y0 < 2)
        return false;
    // The grey values are read once into the window, then made mean-free and tapered there.
    std::fill(real, real + std::size_t(size) * size, 0.0f);
    double sum = 0, squares = 0;
    for (int y = y0; y < y1; ++y) {
        const std::uint8_t* row = image.Row(m_nTop + y) + 3 * (m_nLeft + x0);
        float* out = real + std::size_t(y) * size;
        for (int x = x0; x < x1; ++x, row += 3) {
            const double g = Grey(row);
            out[x] = float(g);
            sum += g;
            squares += g * g;
        }
    }
    const double inside = double(x1 - x0) * double(y1 - y0);
    const double mean = sum / inside;
    if (squares / inside - mean * mean < 1e-6)
        return false;
    const float level = float(mean);
    const float* taper = m_taper.data();
    for (int y = y0; y < y1; ++y) {
        float* out = real + std::size_t(y) * size;
        const float ty = taper[y];
        for (int x = x0; x < x1; ++x) out[x] = (out[x] - level) * (taper[x] * ty);
    }
    fftwf_execute(m_forward);
    return true;
}

CRegistration CImageRegistration::Register(const CImageView& image, double minPeakRatio) {
    CRegistration result;
    if (m_nSize == 0) {
        result.m_strReason = "no reference";
        return result;
    }
    if (!LoadSpectrum(image)) {
        result.m_strReason = "no contrast to register on";
        return result;
    }
    const int size = m_nSize;
    const int halfWidth = size / 2 + 1;
    const std::size_t half = std::size_t(size) * halfWidth;
    const std::size_t n = std::size_t(size) * size;
    Complex* work = AsComplex(m_pWork);
    Complex* cross = AsComplex(m_pCross);
    const Complex* ref = AsComplex(m_pReference);
    for (std::size_t i = 0; i < half; ++i) {
        const Complex c = work[i] * ref[i];
        const float magnitude = std::sqrt(c.real() * c.real() + c.imag() * c.imag());
        cross[i] = magnitude > 1e-9f ? c / magnitude : 0.0f;
    }
    // A Gaussian weight on the frequencies: the highest ones carry mostly noise and JPEG blocks.
    // A symmetric weight leaves a true peak where it is.
    for (std::size_t i = 0; i < half; ++i) cross[i] *= m_lowPass[i];
    // The Nyquist row and column have no sign: dropping them keeps the surface real between
    // the pixels.
    for (int k = 0; k < halfWidth; ++k) cross[std::size_t(size / 2) * halfWidth + k] = 0.0f;
    for (int k = 0; k < size; ++k) cross[std::size_t(k) * halfWidth + size / 2] = 0.0f;
    std::copy(cross, cross + half, work);
    fftwf_execute(m_backward);  // m_pWork -> m_pReal (the transform overwrites m_pWork)

    // The highest point (the first of equals) and the surface's sums, in one pass.
    const float* surface = m_pReal;
    std::size_t peak = 0;
    float highest = surface[0];
    double sum = 0, squares = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const float v = surface[i];
        if (v > highest) {
            highest = v;
            peak = i;
        }
        sum += double(v);
        squares += double(v) * v;
    }
    const int px = int(peak % std::size_t(size));
    const int py = int(peak / std::size_t(size));
    std::size_t count = n;
    for (int dy = -kPeakRadius; dy <= kPeakRadius; ++dy)
        for (int dx = -kPeakRadius; dx <= kPeakRadius; ++dx) {
            const int x = (px + dx + size) % size, y = (py + dy + size) % size;
            const double v = surface[std::size_t(y) * size + x];
            sum -= v;
            squares -= v * v;
            --count;
        }
    const double mean = sum / double(count);
    const double spread = std::sqrt(std::max(squares / double(count) - mean * mean, 1e-300));
    result.m_dPeakRatio = (surface[peak] - mean) / spread;
    if (!(result.m_dPeakRatio >= minPeakRatio)) {
        char text[96];
        std::snprintf(text, sizeof text, "correlation peak too weak (%.1f, needs %.1f)",
                      result.m_dPeakRatio, minPeakRatio);
        result.m_strReason = text;
        return result;
    }

    // Whole-pixel shift, wrapped into [-size/2, size/2), then refined between the pixels.
    const double x0 = Frequency(px, size);
    const double y0 = Frequency(py, size);
    const double x1 = RefineAlong(false, y0, x0, 1.0);
    const double y1 = RefineAlong(true, x1, y0, 1.0);
    const double x2 = RefineAlong(false, y1, x1, 0.25);
    result.m_dx = x2;
    result.m_dy = y1;
    result.m_bOk = true;
    return result;
}

double CImageRegistration::RefineAlong(bool bAlongY, double fixed, double x0, double reach) {
    const int size = m_nSize;
    const int halfWidth = size / 2 + 1;
    const Complex* cross = AsComplex(m_pCross);
    const double step = 2 * std::numbers::pi / size;
    // The spectrum holds the x frequencies u = 0 .. size/2 only (the others are the conjugates
    // of these): every u above 0 counts twice, and only real parts are summed.
    // Along x: line(u) = w(u) sum over v of R(u, v) e^(i 2 pi v fixed / size); the surface at x
    // is Re sum over u of line(u) e^(i 2 pi u x / size). Along y: line(v) = sum over u of w(u)
    // R(u, v) e^(i 2 pi u fixed / size), the surface at y is Re sum over v of line(v)
    // e^(i 2 pi v y / size). `line` is kept in order of signed frequency from `lowest` up.
    const auto weight = [](int u) { return u == 0 ? 1.0 : 2.0; };
    std::vector<Complex64> line;
    int lowest = 0;
    if (bAlongY) {
        std::vector<Complex64> phase(static_cast<std::size_t>(halfWidth));
        for (int u = 0; u < halfWidth; ++u)
            phase[std::size_t(u)] = weight(u) * std::polar(1.0, step * u * fixed);
        line.assign(std::size_t(size), 0.0);
        lowest = -size / 2;
        for (int v = 0; v < size; ++v) {
            const Complex* row = cross + std::size_t(v) * halfWidth;
            Complex64 s = 0.0;
            for (int u = 0; u < halfWidth; ++u) s += Complex64(row[u]) * phase[std::size_t(u)];
            line[std::size_t(Frequency(v, size) - lowest)] = s;
        }
    } else {
        line.assign(std::size_t(halfWidth), 0.0);
        for (int v = 0; v < size; ++v) {
            const Complex* row = cross + std::size_t(v) * halfWidth;
            const Complex64 p = std::polar(1.0, step * Frequency(v, size) * fixed);
            for (int u = 0; u < halfWidth; ++u) line[std::size_t(u)] += Complex64(row[u]) * p;
        }
        for (int u = 0; u < halfWidth; ++u) line[std::size_t(u)] *= weight(u);
    }
    const auto surface = [&](double x) {
        const Complex64 turn = std::polar(1.0, step * x);
        Complex64 z = std::polar(1.0, step * lowest * x);
        double s = 0;
        for (const Complex64& c : line) {
            s += c.real() * z.real() - c.imag() * z.imag();
            z *= turn;
        }
        return s;
    };
    // Coarse then fine grid search, then a parabola through the best point and its neighbours.
    double best = x0;
    double bestValue = surface(x0);
    const int coarse = int(std::lround(reach * kCoarseSteps));
    for (int s = -coarse; s <= coarse; ++s) {
        const double x = x0 + double(s) / kCoarseSteps;
        const double v = surface(x);
        if (v > bestValue) {
            bestValue = v;
            best = x;
        }
    }
    const double h = 1.0 / (kCoarseSteps * kFineSteps);
    const double centre = best;
    for (int s = -kFineSteps; s <= kFineSteps; ++s) {
        const double x = centre + s * h;
        const double v = surface(x);
        if (v > bestValue) {
            bestValue = v;
            best = x;
        }
    }
    const double left = surface(best - h);
    const double right = surface(best + h);
    const double curvature = left - 2 * bestValue + right;
    if (curvature < 0)
        best += 0.5 * h * (left - right) / curvature;
    return best;
}

double Sharpness(const CImageView& image) {
    if (image.m_nWidth < 2 || image.m_nHeight < 2)
        return 0;
    double sum = 0;
    for (int y = 0; y + 1 < image.m_nHeight; ++y) {
        const std::uint8_t* row = image.Row(y);
        const std::uint8_t* below = image.Row(y + 1);
        for (int x = 0; x + 1 < image.m_nWidth; ++x) {
            const double g = Grey(row + 3 * x);
            const double gx = Grey(row + 3 * x + 3) - g;
            const double gy = Grey(below + 3 * x) - g;
            sum += gx * gx + gy * gy;
        }
    }
    return sum / (double(image.m_nWidth - 1) * (image.m_nHeight - 1));
}

CGridRect ShiftOntoGrid(const CImageView& image, double dx, double dy, int width, int height,
                        std::uint8_t* grid) {
    // Whole part and fraction in 1/256 steps; a fraction that rounds to a whole pixel moves the
    // whole part.
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
    const CTaps tx = MakeTaps(fx);
    const CTaps ty = MakeTaps(fy);
    // Grid pixels whose taps all lie inside the picture.
    CGridRect rect;
    rect.m_nLeft = std::max(0, -(ix + tx.m_nFirst));
    rect.m_nTop = std::max(0, -(iy + ty.m_nFirst));
    rect.m_nRight = std::min(width, image.m_nWidth - (ix + tx.m_nFirst + tx.m_nCount - 1));
    rect.m_nBottom = std::min(height, image.m_nHeight - (iy + ty.m_nFirst + ty.m_nCount - 1));
    if (rect.Empty())
        return CGridRect{};

    const int bytes = (rect.m_nRight - rect.m_nLeft) * 3;
    if (tx.m_nCount == 1 && ty.m_nCount == 1) {
        for (int y = rect.m_nTop; y < rect.m_nBottom; ++y) {
            const std::uint8_t* src = image.Row(y + iy) + 3 * (rect.m_nLeft + ix);
            std::copy(src, src + bytes, grid + (std::size_t(y) * width + rect.m_nLeft) * 3);
        }
        return rect;
    }
    // Rows first, kept in 1/16 units (16 bits hold them with the kernel's overshoot), then
    // columns. Each source row is taken across once, into a ring of as many rows as there are
    // taps down, just before the first grid row that needs it.
    const int firstRow = rect.m_nTop + iy + ty.m_nFirst;
    const int firstByte = 3 * (rect.m_nLeft + ix + tx.m_nFirst);
    const int taps = ty.m_nCount;
    std::vector<std::int16_t> ring(std::size_t(taps) * bytes);
    const auto across = [&](int r) {
        const std::uint8_t* src = image.Row(firstRow + r) + firstByte;
        std::int16_t* out = ring.data() + std::size_t(r % taps) * bytes;
        if (tx.m_nCount == 1)
            AcrossCopy(src, out, bytes);
        else
            AcrossRow(src, tx.m_weights, out, bytes);
    };
    for (int r = 0; r + 1 < taps; ++r) across(r);
    for (int y = rect.m_nTop; y < rect.m_nBottom; ++y) {
        const int r = y - rect.m_nTop;
        across(r + taps - 1);
        std::uint8_t* out = grid + (std::size_t(y) * width + rect.m_nLeft) * 3;
        if (taps == 1) {
            DownCopy(ring.data(), out, bytes);
            continue;
        }
        const auto row = [&](int k) { return ring.data() + std::size_t((r + k) % taps) * bytes; };
        DownRow(row(0), row(1), row(2), row(3), row(4), row(5), ty.m_weights, out, bytes);
    }
    return rect;
}
