#include "stack/image_registration.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <numbers>

#include "platform/cpu_features.h"
#include "stack/stack_detail.h"

using namespace registration_detail;

namespace {

// Half-width of the square around the peak left out of the surface's statistics.
constexpr int kPeakRadius = 3;
// Standard deviation, in cycles per pixel, of the Gaussian weight on the cross-power spectrum.
constexpr double kLowPass = 0.15;

// The spectra are single precision; sums over them are taken in double.
using Complex = std::complex<float>;

Complex* AsComplex(fftwf_complex* p) {
    return reinterpret_cast<Complex*>(p);
}

// Grey values of n pixels (B, G, R) with the luma weights, in float.
[[gnu::always_inline]] inline void GreyRowBody(const std::uint8_t* __restrict bgr,
                                               float* __restrict out, int n) {
    for (int x = 0; x < n; ++x)
        out[x] = 0.114f * float(bgr[3 * x]) + 0.587f * float(bgr[3 * x + 1]) +
                 0.299f * float(bgr[3 * x + 2]);
}

// Adds the sum of v[i] - pivot and of its squares over n values to `sum` and `squares`. Taken
// about a value of the window itself, a flat window sums to exactly nothing.
void AddDeviations(const float* v, int n, float pivot, double& sum, double& squares) {
    Float4 s[4] = {}, q[4] = {};
    int i = 0;
    for (; i + 16 <= n; i += 16)
        for (int k = 0; k < 4; ++k) {
            const Float4 d = Load4(v + i + 4 * k) - pivot;
            s[k] += d;
            q[k] += d * d;
        }
    for (; i < n; ++i) {
        const double d = double(v[i]) - pivot;
        sum += d;
        squares += d * d;
    }
    sum += LaneSum(s, 4);
    squares += LaneSum(q, 4);
}

// The largest of n values, their sum and the sum of their squares (added to `sum`, `squares`).
float AddSurfaceRow(const float* v, int n, double& sum, double& squares) {
    Float4 s[4] = {}, q[4] = {};
    Float4 m[4] = {Float4{} + v[0], Float4{} + v[0], Float4{} + v[0], Float4{} + v[0]};
    int i = 0;
    for (; i + 16 <= n; i += 16)
        for (int k = 0; k < 4; ++k) {
            const Float4 x = Load4(v + i + 4 * k);
            m[k] = m[k] < x ? x : m[k];
            s[k] += x;
            q[k] += x * x;
        }
    float highest = v[0];
    for (; i < n; ++i) {
        highest = std::max(highest, v[i]);
        sum += v[i];
        squares += double(v[i]) * v[i];
    }
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 4; ++j) highest = std::max(highest, m[k][j]);
    sum += LaneSum(s, 4);
    squares += LaneSum(q, 4);
    return highest;
}

// The normalised cross-power spectrum of `work` and the conjugate reference `ref`, weighted by
// `lowPass`, into both `cross` and `work` (interleaved complex values, n of them). Bins of no
// power are left out.
[[gnu::always_inline]] inline void CrossPowerBody(float* __restrict work,
                                                  const float* __restrict ref,
                                                  const float* __restrict lowPass,
                                                  float* __restrict cross, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const float a = work[2 * i], b = work[2 * i + 1];
        const float c = ref[2 * i], d = ref[2 * i + 1];
        const float re = a * c - b * d, im = a * d + b * c;
        const float power = re * re + im * im;
        const float scale =
            (power > 1e-18f ? 1.0f : 0.0f) * lowPass[i] / std::sqrt(std::max(power, 1e-18f));
        cross[2 * i] = work[2 * i] = re * scale;
        cross[2 * i + 1] = work[2 * i + 1] = im * scale;
    }
}

// The spectrum X[0 .. m] of a real row x of 2m values, from the transform Z of its pairs
// z[j] = x[2j] + i x[2j + 1] (interleaved complex): with the even and odd parts
// E = (Z[k] + conj Z[m - k]) / 2 and O = (Z[k] - conj Z[m - k]) / 2i, X[k] = E + turn[k] O.
[[gnu::always_inline]] inline void SplitRowBody(const float* __restrict z,
                                                const float* __restrict turn, float* __restrict out,
                                                int m) {
    out[0] = z[0] + z[1];
    out[1] = 0;
    out[2 * m] = z[0] - z[1];
    out[2 * m + 1] = 0;
    for (int k = 1; k < m; ++k) {
        const float ar = z[2 * k], ai = z[2 * k + 1];
        const float br = z[2 * (m - k)], bi = -z[2 * (m - k) + 1];
        const float er = 0.5f * (ar + br), ei = 0.5f * (ai + bi);
        const float orr = 0.5f * (ai - bi), oi = -0.5f * (ar - br);
        const float tr = turn[2 * k], ti = turn[2 * k + 1];
        out[2 * k] = er + (tr * orr - ti * oi);
        out[2 * k + 1] = ei + (tr * oi + ti * orr);
    }
}

// The way back: from X[0 .. m] (the imaginary parts of X[0] and X[m] taken as nothing, as for
// a real row) the pairs' spectrum Z[k] = A + i B with A = X[k] + conj X[m - k] and
// B = (X[k] - conj X[m - k]) conj turn[k], whose inverse transform is the row's pairs.
[[gnu::always_inline]] inline void JoinRowBody(const float* __restrict x,
                                               const float* __restrict turn, float* __restrict z,
                                               int m) {
    z[0] = x[0] + x[2 * m];
    z[1] = x[0] - x[2 * m];
    for (int k = 1; k < m; ++k) {
        const float ar = x[2 * k], ai = x[2 * k + 1];
        const float br = x[2 * (m - k)], bi = -x[2 * (m - k) + 1];
        const float sr = ar + br, si = ai + bi;
        const float dr = ar - br, di = ai - bi;
        const float tr = turn[2 * k], ti = -turn[2 * k + 1];
        const float qr = dr * tr - di * ti, qi = dr * ti + di * tr;
        z[2 * k] = sr - qi;
        z[2 * k + 1] = si + qr;
    }
}

TARNWICK_TWO_BUILDS(GreyRow)
TARNWICK_TWO_BUILDS(CrossPower)
TARNWICK_TWO_BUILDS(SplitRow)
TARNWICK_TWO_BUILDS(JoinRow)

// FFTW's planner, plan destruction included, is not thread-safe, and each decoding worker has
// its own registration: they plan one at a time.
std::mutex& PlannerLock() {
    static std::mutex s_lock;
    return s_lock;
}

}  // namespace

bool registration_detail::Avx2Loops(bool bVectors) {
#if TARNWICK_X86_VECTORS
    return bVectors && CpuFeatures().m_bAvx2;
#else
    return false;
#endif
}

CImageRegistration::CImageRegistration(bool bVectors) : m_bAvx2(Avx2Loops(bVectors)) {}

CImageRegistration::~CImageRegistration() {
    Release();
}

void CImageRegistration::Release() {
    std::lock_guard lock(PlannerLock());
    for (fftwf_plan plan : {m_rowsForward, m_rowsBackward, m_columnsForward, m_columnsBackward})
        if (plan)
            fftwf_destroy_plan(plan);
    fftwf_free(m_pReal);
    fftwf_free(m_pWork);
    fftwf_free(m_pReference);
    fftwf_free(m_pCross);
    m_rowsForward = m_rowsBackward = m_columnsForward = m_columnsBackward = nullptr;
    m_pReal = nullptr;
    m_pWork = m_pReference = m_pCross = nullptr;
    m_nSize = 0;
}

CStatus CImageRegistration::SetReference(const CImageView& reference) {
    const int side = std::min(reference.m_nWidth, reference.m_nHeight);
    if (side < kMinWindow)
        return CStatus::Failure("too small to register (under " + std::to_string(kMinWindow) +
                                " pixels a side)");
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
        const int half1 = size / 2, halfWidth = size / 2 + 1;
        auto* pairs = reinterpret_cast<fftwf_complex*>(m_pReal);
        m_rowsForward = fftwf_plan_many_dft(1, &half1, size, pairs, nullptr, 1, half1, pairs,
                                            nullptr, 1, half1, FFTW_FORWARD, FFTW_ESTIMATE);
        m_rowsBackward = fftwf_plan_many_dft(1, &half1, size, pairs, nullptr, 1, half1, pairs,
                                             nullptr, 1, half1, FFTW_BACKWARD, FFTW_ESTIMATE);
        m_columnsForward =
            fftwf_plan_many_dft(1, &size, halfWidth, m_pWork, nullptr, halfWidth, 1, m_pWork,
                                nullptr, halfWidth, 1, FFTW_FORWARD, FFTW_ESTIMATE);
        m_columnsBackward =
            fftwf_plan_many_dft(1, &size, halfWidth, m_pWork, nullptr, halfWidth, 1, m_pWork,
                                nullptr, halfWidth, 1, FFTW_BACKWARD, FFTW_ESTIMATE);
        m_turns.resize(2 * std::size_t(halfWidth));
        for (int k = 0; k < halfWidth; ++k) {
            const std::complex<double> turn = std::polar(1.0, -2 * std::numbers::pi * k / size);
            m_turns[2 * std::size_t(k)] = float(turn.real());
            m_turns[2 * std::size_t(k) + 1] = float(turn.imag());
        }
        m_nSize = size;
        m_lowPass.resize(half);
        for (int v = 0; v < size; ++v) {
            const double fv = double(Frequency(v, size)) / size;
            for (int u = 0; u < size / 2 + 1; ++u) {
                const double fu = double(u) / size;
                // Nothing on the Nyquist row and column (see Register).
                const bool nyquist = v == size / 2 || u == size / 2;
                m_lowPass[std::size_t(v) * (size / 2 + 1) + u] =
                    nyquist ? 0.0f
                            : float(std::exp(-(fu * fu + fv * fv) / (2 * kLowPass * kLowPass)));
            }
        }
        m_taper.resize(std::size_t(size));
        for (int i = 0; i < size; ++i)
            m_taper[std::size_t(i)] = float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / size));
    }
    m_nLeft = (reference.m_nWidth - size) / 2;
    m_nTop = (reference.m_nHeight - size) / 2;
    if (!LoadSpectrum(reference)) {
        Release();
        return CStatus::Failure("the reference has no contrast to register on");
    }
    const std::size_t half = std::size_t(size) * (size / 2 + 1);
    const Complex* work = AsComplex(m_pWork);
    Complex* ref = AsComplex(m_pReference);
    for (std::size_t i = 0; i < half; ++i) ref[i] = std::conj(work[i]);
    return {};
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
    if (x0 > 0 || y0 > 0 || x1 < size || y1 < size)
        std::fill(real, real + std::size_t(size) * size, 0.0f);
    double sum = 0, squares = 0;
    float pivot = 0;
    const int rowBytes = 3 * (x1 - x0);
    for (int y = y0; y < y1; ++y) {
        // The picture was most likely not read lately: ask for a row a few rows ahead.
        if (y + 4 < y1) {
            const std::uint8_t* ahead = image.Row(m_nTop + y + 4) + 3 * (m_nLeft + x0);
            for (int i = 0; i < rowBytes; i += 64) __builtin_prefetch(ahead + i);
        }
        float* out = real + std::size_t(y) * size + x0;
        const std::uint8_t* row = image.Row(m_nTop + y) + 3 * (m_nLeft + x0);
        m_bAvx2 ? GreyRowAvx2(row, out, x1 - x0) : GreyRowPlain(row, out, x1 - x0);
        if (y == y0)
            pivot = out[0];
        AddDeviations(out, x1 - x0, pivot, sum, squares);
    }
    const double inside = double(x1 - x0) * double(y1 - y0);
    const double offset = sum / inside;
    if (squares / inside - offset * offset < 1e-6)
        return false;
    const float level = float(pivot + offset);
    const float* taper = m_taper.data();
    for (int y = y0; y < y1; ++y) {
        float* out = real + std::size_t(y) * size;
        const float ty = taper[y];
        for (int x = x0; x < x1; ++x) out[x] = (out[x] - level) * (taper[x] * ty);
    }
    Forward();
    return true;
}

void CImageRegistration::Forward() {
    const int half = m_nSize / 2;
    fftwf_execute(m_rowsForward);
    for (int y = 0; y < m_nSize; ++y) {
        const float* row = m_pReal + std::size_t(y) * m_nSize;
        float* out = reinterpret_cast<float*>(m_pWork + std::size_t(y) * (half + 1));
        m_bAvx2 ? SplitRowAvx2(row, m_turns.data(), out, half)
                : SplitRowPlain(row, m_turns.data(), out, half);
    }
    fftwf_execute(m_columnsForward);
}

void CImageRegistration::Backward() {
    const int half = m_nSize / 2;
    fftwf_execute(m_columnsBackward);
    for (int y = 0; y < m_nSize; ++y) {
        const float* row = reinterpret_cast<const float*>(m_pWork + std::size_t(y) * (half + 1));
        float* out = m_pReal + std::size_t(y) * m_nSize;
        m_bAvx2 ? JoinRowAvx2(row, m_turns.data(), out, half)
                : JoinRowPlain(row, m_turns.data(), out, half);
    }
    fftwf_execute(m_rowsBackward);
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
    // The weight on the frequencies is Gaussian (the highest ones carry mostly noise and JPEG
    // blocks; a symmetric weight leaves a true peak where it is) and nothing on the Nyquist row
    // and column, which have no sign: dropping them keeps the surface real between the pixels.
    float* work = reinterpret_cast<float*>(m_pWork);
    const float* reference = reinterpret_cast<const float*>(m_pReference);
    float* cross = reinterpret_cast<float*>(m_pCross);
    m_bAvx2 ? CrossPowerAvx2(work, reference, m_lowPass.data(), cross, half)
            : CrossPowerPlain(work, reference, m_lowPass.data(), cross, half);
    Backward();

    // The highest point (the first of equals) and the surface's sums, a row at a time.
    const float* surface = m_pReal;
    double sum = 0, squares = 0;
    float highest = surface[0];
    int py = 0;
    for (int y = 0; y < size; ++y) {
        const float rowHighest = AddSurfaceRow(surface + std::size_t(y) * size, size, sum, squares);
        if (rowHighest > highest || y == 0) {
            highest = rowHighest;
            py = y;
        }
    }
    const float* peakRow = surface + std::size_t(py) * size;
    const int px = int(std::find(peakRow, peakRow + size, highest) - peakRow);
    const std::size_t peak = std::size_t(py) * size + px;
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
