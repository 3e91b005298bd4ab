#include "jobs/stack_methods.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

struct CMethodName {
    StackMethod m_method;
    const char* m_pszName;
};
const CMethodName kMethodNames[] = {
    {StackMethod::Mean, "mean"},
    {StackMethod::MeanOfAdded, "mean-of-added"},
    {StackMethod::Median, "median"},
    {StackMethod::SigmaClip, "sigma-clip"},
};

}  // namespace

const char* StackMethodName(StackMethod method) {
    for (const CMethodName& name : kMethodNames)
        if (name.m_method == method)
            return name.m_pszName;
    return "";
}

bool ParseStackMethod(std::string_view text, StackMethod& method) {
    for (const CMethodName& name : kMethodNames)
        if (text == name.m_pszName) {
            method = name.m_method;
            return true;
        }
    return false;
}

int CSampleHistogram::TwiceMedian(int lo, int hi, std::uint32_t n) const {
    // 0-based ranks of the two middle samples (the same one for an odd count).
    const std::uint32_t rankLow = (n - 1) / 2;
    const std::uint32_t rankHigh = n / 2;
    std::uint32_t below = 0;
    int low = -1;
    for (int v = lo; v <= hi; ++v) {
        below += m_count[v];
        if (low < 0 && below > rankLow)
            low = v;
        if (below > rankHigh)
            return low + v;
    }
    return 2 * hi;  // not reached while n counts the samples in [lo, hi]
}

std::uint8_t CSampleHistogram::Median() const {
    if (m_n == 0)
        return 0;
    return std::uint8_t((TwiceMedian(m_nMin, m_nMax, m_n) + 1) / 2);
}

std::uint8_t CSampleHistogram::SigmaClip(double kappa) const {
    if (m_n == 0)
        return 0;
    const std::uint32_t minKeep = (m_n + 1) / 2;
    int lo = m_nMin;
    int hi = m_nMax;
    std::uint64_t n = m_n;
    std::uint64_t sum = m_nSum;
    std::uint64_t squares = m_nSquares;
    for (;;) {
        // Exact integers up to here: the variance's numerator cannot be negative.
        const double twiceMedian = TwiceMedian(lo, hi, std::uint32_t(n));
        const double spread = double(n * squares - sum * sum);
        const double sigma = std::sqrt(spread) / double(n);
        // |v - m| > kappa * s, with both sides doubled to keep the median whole.
        const double limit = 2.0 * kappa * sigma;
        const auto rejected = [&](int v) { return std::fabs(2.0 * v - twiceMedian) > limit; };

        int newLo = lo;
        int newHi = hi;
        std::uint64_t newN = n, newSum = sum, newSquares = squares;
        const auto drop = [&](int v) {
            const std::uint64_t c = m_count[v];
            newN -= c;
            newSum -= c * std::uint64_t(v);
            newSquares -= c * std::uint64_t(v) * std::uint64_t(v);
        };
        while (newLo <= newHi && rejected(newLo)) drop(newLo++);
        while (newHi >= newLo && rejected(newHi)) drop(newHi--);
        if (newN == n || newN < minKeep)
            break;
        lo = newLo;
        hi = newHi;
        n = newN;
        sum = newSum;
        squares = newSquares;
    }
    return RoundedMean(sum, n);
}

void CSampleHistogram::Clear() {
    for (int v = m_nMin; v <= m_nMax; ++v) m_count[v] = 0;
    m_nMin = 256;
    m_nMax = -1;
    m_n = 0;
    m_nSum = 0;
    m_nSquares = 0;
}

void CPrefixHistogram::Reset() {
    std::memset(m_count + m_nMin, 0, std::size_t(m_nMax - m_nMin + 1) * sizeof m_count[0]);
    m_nMin = 256;
    m_nMax = -1;
    m_n = 0;
}

void CPrefixHistogram::AddInterleaved(CPrefixHistogram* histograms, const std::uint8_t* first,
                                      std::size_t n, std::size_t stride) {
    std::uint32_t* count0 = histograms[0].m_count;
    std::uint32_t* count1 = histograms[1].m_count;
    std::uint32_t* count2 = histograms[2].m_count;
    int lo0 = histograms[0].m_nMin, hi0 = histograms[0].m_nMax;
    int lo1 = histograms[1].m_nMin, hi1 = histograms[1].m_nMax;
    int lo2 = histograms[2].m_nMin, hi2 = histograms[2].m_nMax;
    for (std::size_t i = 0; i < n; ++i, first += stride) {
        const int v0 = first[0], v1 = first[1], v2 = first[2];
        ++count0[v0];
        ++count1[v1];
        ++count2[v2];
        lo0 = v0 < lo0 ? v0 : lo0;
        hi0 = v0 > hi0 ? v0 : hi0;
        lo1 = v1 < lo1 ? v1 : lo1;
        hi1 = v1 > hi1 ? v1 : hi1;
        lo2 = v2 < lo2 ? v2 : lo2;
        hi2 = v2 > hi2 ? v2 : hi2;
    }
    histograms[0].m_nMin = lo0, histograms[0].m_nMax = hi0, histograms[0].m_n += std::uint32_t(n);
    histograms[1].m_nMin = lo1, histograms[1].m_nMax = hi1, histograms[1].m_n += std::uint32_t(n);
    histograms[2].m_nMin = lo2, histograms[2].m_nMax = hi2, histograms[2].m_n += std::uint32_t(n);
}

std::uint8_t CPrefixHistogram::Median() {
    if (m_n == 0)
        return 0;
    const std::uint32_t rankLow = (m_n - 1) / 2;
    const std::uint32_t rankHigh = m_n / 2;
    std::uint32_t below = 0;
    int low = -1;
    int twice = 2 * m_nMax;
    for (int v = m_nMin; v <= m_nMax; ++v) {
        below += m_count[v];
        if (low < 0 && below > rankLow)
            low = v;
        if (below > rankHigh) {
            twice = low + v;
            break;
        }
    }
    Reset();
    return std::uint8_t((twice + 1) / 2);
}

void CPrefixHistogram::Accumulate() {
    std::uint32_t n = 0;
    std::uint64_t sum = 0, squares = 0;
    m_below[m_nMin] = 0;
    m_sums[m_nMin] = 0;
    m_squares[m_nMin] = 0;
    for (int v = m_nMin; v <= m_nMax; ++v) {
        const std::uint32_t c = m_count[v];
        n += c;
        sum += std::uint64_t(c) * std::uint64_t(v);
        squares += std::uint64_t(c) * std::uint64_t(v * v);
        m_below[v + 1] = n;
        m_sums[v + 1] = sum;
        m_squares[v + 1] = squares;
    }
}

int CPrefixHistogram::TwiceMedian(int lo, int hi, std::uint32_t n) const {
    // The first value whose running count passes the rank.
    const std::uint32_t base = m_below[lo];
    const std::uint32_t* first = m_below + lo + 1;
    const std::uint32_t* last = m_below + hi + 2;
    const int low = int(std::upper_bound(first, last, base + (n - 1) / 2) - first);
    const int high = int(std::upper_bound(first + low, last, base + n / 2) - first);
    return 2 * lo + low + high;
}

std::uint8_t CPrefixHistogram::SigmaClip(double kappa) {
    if (m_n == 0)
        return 0;
    Accumulate();
    const std::uint32_t minKeep = (m_n + 1) / 2;
    int lo = m_nMin;
    int hi = m_nMax;
    std::uint64_t n = m_n;
    std::uint64_t sum = m_sums[hi + 1];
    std::uint64_t squares = m_squares[hi + 1];
    for (;;) {
        // The same arithmetic as CSampleHistogram's, so the same decisions to the last bit.
        const double twiceMedian = TwiceMedian(lo, hi, std::uint32_t(n));
        const double spread = double(n * squares - sum * sum);
        const double sigma = std::sqrt(spread) / double(n);
        const double limit = 2.0 * kappa * sigma;
        // |2v - m| > limit splits exactly into the two sides, each monotone in v.
        const auto rejectedBelow = [&](int v) { return twiceMedian - 2.0 * v > limit; };
        const auto rejectedAbove = [&](int v) { return 2.0 * v - twiceMedian > limit; };
        // The kept values are [keepLo, keepHi] within [lo, hi]: estimate, then settle exactly.
        int keepLo = int(std::fmin(std::fmax(std::ceil((twiceMedian - limit) / 2), lo), hi + 1));
        while (keepLo > lo && !rejectedBelow(keepLo - 1)) --keepLo;
        while (keepLo <= hi && rejectedBelow(keepLo)) ++keepLo;
        int keepHi = int(std::fmax(std::fmin(std::floor((twiceMedian + limit) / 2), hi), lo - 1));
        while (keepHi < hi && !rejectedAbove(keepHi + 1)) ++keepHi;
        while (keepHi >= lo && rejectedAbove(keepHi)) --keepHi;
        const std::uint64_t newN = keepLo <= keepHi ? m_below[keepHi + 1] - m_below[keepLo] : 0;
        if (newN == n || newN < minKeep)
            break;
        lo = keepLo;
        hi = keepHi;
        n = newN;
        sum = m_sums[hi + 1] - m_sums[lo];
        squares = m_squares[hi + 1] - m_squares[lo];
    }
    Reset();
    return RoundedMean(sum, n);
}

namespace {

// A histogram of kind H holding the n samples of `values`.
template <class H>
H HistogramOf(const std::uint8_t* values, std::size_t n) {
    H histogram;
    for (std::size_t i = 0; i < n; ++i) histogram.Add(values[i]);
    return histogram;
}

}  // namespace

std::uint8_t FastMedianOf(const std::uint8_t* values, std::size_t n) {
    return HistogramOf<CPrefixHistogram>(values, n).Median();
}

std::uint8_t FastSigmaClipOf(const std::uint8_t* values, std::size_t n, double kappa) {
    return HistogramOf<CPrefixHistogram>(values, n).SigmaClip(kappa);
}

std::uint8_t MedianOf(const std::uint8_t* values, std::size_t n) {
    return HistogramOf<CSampleHistogram>(values, n).Median();
}

std::uint8_t SigmaClipOf(const std::uint8_t* values, std::size_t n, double kappa) {
    return HistogramOf<CSampleHistogram>(values, n).SigmaClip(kappa);
}
