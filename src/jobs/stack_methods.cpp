#include "jobs/stack_methods.h"

#include <cmath>

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

std::uint8_t MedianOf(const std::uint8_t* values, std::size_t n) {
    CSampleHistogram histogram;
    for (std::size_t i = 0; i < n; ++i) histogram.Add(values[i]);
    return histogram.Median();
}

std::uint8_t SigmaClipOf(const std::uint8_t* values, std::size_t n, double kappa) {
    CSampleHistogram histogram;
    for (std::size_t i = 0; i < n; ++i) histogram.Add(values[i]);
    return histogram.SigmaClip(kappa);
}
