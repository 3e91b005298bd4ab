// The registration's refinement: the correlation surface between the pixels, evaluated straight
// from the cross-power spectrum on ever finer grids around the whole-pixel peak.
#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "stack/image_registration.h"
#include "stack/stack_detail.h"

using namespace registration_detail;

namespace {

// line[u] += row[u] p for n complex values (planar `line`, interleaved `row`).
[[gnu::always_inline]] inline void AddTurnedRowBody(const float* __restrict row, float pr, float pi,
                                                    float* __restrict lineRe,
                                                    float* __restrict lineIm, int n) {
    for (int u = 0; u < n; ++u) {
        const float re = row[2 * u], im = row[2 * u + 1];
        lineRe[u] += re * pr - im * pi;
        lineIm[u] += re * pi + im * pr;
    }
}

TARNWICK_TWO_BUILDS(AddTurnedRow)

// Sum over u of row[u] p[u] for n complex values, both interleaved; `real` holds each p's real
// part twice, `imag` its imaginary part as (-im, im).
std::complex<double> TurnedSum(const float* row, const float* real, const float* imag, int n) {
    // Lanes hold (re, im) pairs: the row as it is times `real`, and swapped times `imag`.
    Float4 a[2] = {}, b[2] = {};
    int u = 0;
    for (; u + 4 <= n; u += 4)
        for (int k = 0; k < 2; ++k) {
            const int i = 2 * u + 4 * k;
            const Float4 z = Load4(row + i);
            a[k] += z * Load4(real + i);
            b[k] += __builtin_shufflevector(z, z, 1, 0, 3, 2) * Load4(imag + i);
        }
    double tr = 0, ti = 0;
    for (; u < n; ++u) {
        const double re = row[2 * u], im = row[2 * u + 1];
        tr += re * real[2 * u] - im * imag[2 * u + 1];
        ti += re * imag[2 * u + 1] + im * real[2 * u];
    }
    for (int k = 0; k < 2; ++k) {
        tr += double(a[k][0]) + a[k][2] + b[k][0] + b[k][2];
        ti += double(a[k][1]) + a[k][3] + b[k][1] + b[k][3];
    }
    return {tr, ti};
}

// values[s] = Re sum over k of c[k] w[k]^s for s = 0 .. count - 1; c is turned as it goes.
void PowerSums(double* cre, double* cim, const double* wre, const double* wim, int n, int count,
               double* values) {
    for (int s = 0; s < count; ++s) {
        Double2 lanes[2] = {};
        int k = 0;
        for (; k + 4 <= n; k += 4) {
            lanes[0] += Load2(cre + k);
            lanes[1] += Load2(cre + k + 2);
        }
        double total = 0;
        for (; k < n; ++k) total += cre[k];
        values[s] = total + (lanes[0][0] + lanes[0][1]) + (lanes[1][0] + lanes[1][1]);
        for (k = 0; k < n; ++k) {
            const double re = cre[k] * wre[k] - cim[k] * wim[k];
            cim[k] = cre[k] * wim[k] + cim[k] * wre[k];
            cre[k] = re;
        }
    }
}

}  // namespace

double CImageRegistration::RefineAlong(bool bAlongY, double fixed, double x0, double reach) {
    const int size = m_nSize;
    const int halfWidth = size / 2 + 1;
    const float* cross = reinterpret_cast<const float*>(m_pCross);
    const double step = 2 * std::numbers::pi / size;
    // The spectrum holds the x frequencies u = 0 .. size/2 only (the others are the conjugates
    // of these): every u above 0 counts twice, and only real parts are summed.
    // Along x: line(u) = w(u) sum over v of R(u, v) e^(i 2 pi v fixed / size); the surface at x
    // is Re sum over u of line(u) e^(i 2 pi u x / size). Along y: line(v) = sum over u of w(u)
    // R(u, v) e^(i 2 pi u fixed / size), the surface at y is Re sum over v of line(v)
    // e^(i 2 pi v y / size). `line` is kept in order of signed frequency from `lowest` up.
    // Turns e^(i step f fixed) for f = 0 .. size/2 by a recurrence (negative f: conjugates).
    const int length = bAlongY ? size : halfWidth;
    const int lowest = bAlongY ? -size / 2 : 0;
    m_scratch.assign(std::size_t(8) * size, 0.0);
    double* lineRe = m_scratch.data();
    double* lineIm = lineRe + size;
    double* turnRe = lineIm + size;
    double* turnIm = turnRe + size;
    {
        const std::complex<double> turn = std::polar(1.0, step * fixed);
        std::complex<double> z = 1.0;
        for (int f = 0; f < halfWidth; ++f, z *= turn) {
            turnRe[f] = z.real();
            turnIm[f] = z.imag();
        }
    }
    float lineF[2 * kMaxWindow], turnF[4 * kMaxWindow];
    if (bAlongY) {
        float* real = turnF;
        float* imag = turnF + 2 * kMaxWindow;
        for (int u = 0; u < halfWidth; ++u) {
            const double w = u == 0 ? 1 : 2;
            real[2 * u] = real[2 * u + 1] = float(w * turnRe[u]);
            imag[2 * u + 1] = float(w * turnIm[u]);
            imag[2 * u] = -imag[2 * u + 1];
        }
        for (int v = 0; v < size; ++v) {
            const std::complex<double> s =
                TurnedSum(cross + std::size_t(v) * 2 * halfWidth, real, imag, halfWidth);
            lineRe[Frequency(v, size) - lowest] = s.real();
            lineIm[Frequency(v, size) - lowest] = s.imag();
        }
    } else {
        std::fill(lineF, lineF + 2 * kMaxWindow, 0.0f);
        for (int v = 0; v < size; ++v) {
            const int f = Frequency(v, size);
            const float pr = float(turnRe[std::abs(f)]);
            const float pi = float(f < 0 ? -turnIm[-f] : turnIm[f]);
            const float* row = cross + std::size_t(v) * 2 * halfWidth;
            m_bAvx2 ? AddTurnedRowAvx2(row, pr, pi, lineF, lineF + kMaxWindow, halfWidth)
                    : AddTurnedRowPlain(row, pr, pi, lineF, lineF + kMaxWindow, halfWidth);
        }
        for (int u = 0; u < halfWidth; ++u) {
            lineRe[u] = (u == 0 ? 1 : 2) * double(lineF[u]);
            lineIm[u] = (u == 0 ? 1 : 2) * double(lineF[kMaxWindow + u]);
        }
    }
    // The surface at x = start + s h for s = 0 .. count - 1 into values: the line turned to
    // `start`, then turned on by one step h at a time.
    double* cRe = turnIm + size;
    double* cIm = cRe + size;
    double* wRe = cIm + size;
    double* wIm = wRe + size;
    const auto grid = [&](double start, double h, int count, double* values) {
        const std::complex<double> a = std::polar(1.0, step * start);
        const std::complex<double> b = std::polar(1.0, step * h);
        std::complex<double> za = std::polar(1.0, step * lowest * start);
        std::complex<double> zb = std::polar(1.0, step * lowest * h);
        for (int k = 0; k < length; ++k, za *= a, zb *= b) {
            cRe[k] = lineRe[k] * za.real() - lineIm[k] * za.imag();
            cIm[k] = lineRe[k] * za.imag() + lineIm[k] * za.real();
            wRe[k] = zb.real();
            wIm[k] = zb.imag();
        }
        PowerSums(cRe, cIm, wRe, wIm, length, count, values);
    };
    // Coarse then fine grid search, then a parabola through the best point and its neighbours.
    const int coarse = int(std::lround(reach * kCoarseSteps));
    double values[2 * (kCoarseSteps + kFineSteps) + 3] = {};
    grid(x0 - double(coarse) / kCoarseSteps, 1.0 / kCoarseSteps, 2 * coarse + 1, values);
    double best = x0;
    double bestValue = values[coarse];
    for (int s = -coarse; s <= coarse; ++s)
        if (values[s + coarse] > bestValue) {
            bestValue = values[s + coarse];
            best = x0 + double(s) / kCoarseSteps;
        }
    // The fine grid reaches one step further either way for the parabola's neighbours.
    const double h = 1.0 / (kCoarseSteps * kFineSteps);
    const double centre = best;
    const int fine = kFineSteps + 1;
    grid(centre - fine * h, h, 2 * fine + 1, values);
    int at = fine;
    for (int s = -kFineSteps; s <= kFineSteps; ++s)
        if (values[s + fine] > bestValue) {
            bestValue = values[s + fine];
            best = centre + s * h;
            at = s + fine;
        }
    const double left = values[at - 1];
    const double right = values[at + 1];
    const double curvature = left - 2 * values[at] + right;
    if (curvature < 0)
        best += 0.5 * h * (left - right) / curvature;
    return best;
}