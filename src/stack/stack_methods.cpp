#include "stack/stack_methods.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

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

namespace {

// Thread sanitizer builds cannot take the indirect functions of target_clones.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_THREAD__)
#define TARNWICK_LANE_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define TARNWICK_LANE_CLONES
#endif

// Range, sum and sum of squares of every channel. With the channel count a constant the
// accumulators stay in registers. Inlined, so that each of LaneStats' versions vectorises it for
// its own processor.
template <class TLanes>
[[gnu::always_inline]] inline void LaneStatsOf(const std::uint8_t* __restrict block, std::size_t n,
                                               TLanes lanes, std::uint8_t* __restrict lo,
                                               std::uint8_t* __restrict hi,
                                               std::uint32_t* __restrict sums,
                                               std::uint32_t* __restrict squares) {
    constexpr int kMax = CBlockCombiner::kMaxLanes;
    std::uint8_t l[kMax], h[kMax];
    std::uint32_t s[kMax], q[kMax];
    for (int j = 0; j < lanes; ++j) l[j] = 255, h[j] = 0, s[j] = 0, q[j] = 0;
    for (std::size_t i = 0; i < n; ++i, block += lanes)
        for (int j = 0; j < lanes; ++j) {
            const std::uint8_t v = block[j];
            l[j] = v < l[j] ? v : l[j];
            h[j] = v > h[j] ? v : h[j];
            s[j] += v;
            q[j] += std::uint32_t(v) * v;
        }
    for (int j = 0; j < lanes; ++j) lo[j] = l[j], hi[j] = h[j], sums[j] = s[j], squares[j] = q[j];
}

TARNWICK_LANE_CLONES
void LaneStats(const std::uint8_t* block, std::size_t n, int lanes, std::uint8_t* lo,
               std::uint8_t* hi, std::uint32_t* sums, std::uint32_t* squares) {
    if (lanes == CBlockCombiner::kMaxLanes)
        LaneStatsOf(block, n, std::integral_constant<int, CBlockCombiner::kMaxLanes>(), lo, hi,
                    sums, squares);
    else
        LaneStatsOf(block, n, lanes, lo, hi, sums, squares);
}

// The counts of a whole block, unrolled: two instructions a sample.
template <int kLanes>
void CountLanes(std::uint16_t (*count)[256], const std::uint8_t* block, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i, block += kLanes) {
#pragma GCC unroll 48
        for (int j = 0; j < kLanes; ++j) ++count[j][block[j]];
    }
}

// Where a channel's median lies: `below` of the kept samples are under the value `at`.
struct CMedianCursor {
    int m_nAt;
    std::uint32_t m_nBelow;

    // Twice the median of the `n` kept samples, moving from where the cursor stands.
    int TwiceMedian(const std::uint16_t* count, std::uint32_t n) {
        const std::uint32_t rankLow = (n - 1) / 2;
        while (m_nBelow + count[m_nAt] <= rankLow) m_nBelow += count[m_nAt++];
        while (m_nBelow > rankLow) m_nBelow -= count[--m_nAt];
        int high = m_nAt;
        if (m_nBelow + count[m_nAt] <= n / 2)
            do ++high;
            while (count[high] == 0);
        return m_nAt + high;
    }
};

// The whole part of every channel's clipping limit 2 kappa s, s = sqrt(n squares - sum^2) / n,
// in the same double arithmetic as CSampleHistogram::SigmaClip. An integer distance exceeds the
// limit exactly when it exceeds the limit's whole part; no byte lies 1024 from another. One
// vector loop over the channels: the square roots and divisions overlap instead of each waiting
// for the last.
TARNWICK_LANE_CLONES
void WholeLimits(int lanes, const std::uint32_t* n, const std::uint64_t* sums,
                 const std::uint64_t* squares, double kappa, std::int64_t* whole) {
    const double twoKappa = 2.0 * kappa;
    for (int j = 0; j < lanes; ++j) {
        const double spread = double(n[j] * squares[j] - sums[j] * sums[j]);
        const double sigma = std::sqrt(spread) / double(n[j]);
        const double limit = twoKappa * sigma;
        whole[j] = limit < 1024.0 ? std::int64_t(limit) : 1024;
    }
}

// How many of each channel's samples lie below `at`: where a median cursor starts. One vector
// pass over the block beats walking each channel's counts up to `at`, whose length varies.
template <class TLanes>
[[gnu::always_inline]] inline void LaneBelowOf(const std::uint8_t* __restrict block, std::size_t n,
                                               TLanes lanes, const std::uint8_t* __restrict at,
                                               std::uint16_t* __restrict below) {
    constexpr int kMax = CBlockCombiner::kMaxLanes;
    std::uint8_t a[kMax];
    std::uint16_t b[kMax];
    for (int j = 0; j < lanes; ++j) a[j] = at[j], b[j] = 0;
    for (std::size_t i = 0; i < n; ++i, block += lanes)
        for (int j = 0; j < lanes; ++j) b[j] += std::uint16_t(block[j] < a[j]);
    for (int j = 0; j < lanes; ++j) below[j] = b[j];
}

TARNWICK_LANE_CLONES
void LaneBelow(const std::uint8_t* block, std::size_t n, int lanes, const std::uint8_t* at,
               std::uint16_t* below) {
    if (lanes == CBlockCombiner::kMaxLanes)
        LaneBelowOf(block, n, std::integral_constant<int, CBlockCombiner::kMaxLanes>(), at, below);
    else
        LaneBelowOf(block, n, lanes, at, below);
}

}  // namespace

bool CBlockCombiner::Count(const std::uint8_t* block, std::size_t n, int lanes) {
    if (n > 0xFFFF)
        return false;
    LaneStats(block, n, lanes, m_min, m_max, m_sum, m_squares);
    // Median cursors start at about the mean, usually a step or two from the median; any start
    // in the range leads to the same median.
    const float inverse = 1.0f / float(n);
    for (int j = 0; j < lanes; ++j)
        m_start[j] =
            std::uint8_t(std::clamp(int(float(m_sum[j]) * inverse), int(m_min[j]), int(m_max[j])));
    LaneBelow(block, n, lanes, m_start, m_below);
    if (lanes == kMaxLanes)
        CountLanes<kMaxLanes>(m_count, block, n);
    else
        for (std::size_t i = 0; i < n; ++i, block += lanes)
            for (int j = 0; j < lanes; ++j) ++m_count[j][block[j]];
    return true;
}

void CBlockCombiner::Clear(int lane) {
    std::memset(m_count[lane] + m_min[lane], 0,
                std::size_t(m_max[lane] - m_min[lane] + 1) * sizeof m_count[0][0]);
}

template <class FPlain, class FFast>
void CBlockCombiner::Combine(const std::uint8_t* block, std::size_t n, int lanes, std::uint8_t* out,
                             FPlain plain, FFast fast) {
    if (n == 0) {
        std::memset(out, 0, std::size_t(lanes));
        return;
    }
    if (!Count(block, n, lanes)) {
        for (int j = 0; j < lanes; ++j) {
            CSampleHistogram histogram;
            for (std::size_t i = 0; i < n; ++i) histogram.Add(block[i * std::size_t(lanes) + j]);
            out[j] = plain(histogram);
        }
        return;
    }
    fast();
    for (int j = 0; j < lanes; ++j) Clear(j);
}

void CBlockCombiner::ClipAll(std::uint32_t n0, int lanes, double kappa, std::uint8_t* out) {
    // CSampleHistogram::SigmaClip for every channel in step, with the same arithmetic and so the
    // same decisions. A channel's kept values always form a range [lo, hi].
    int lo[kMaxLanes], hi[kMaxLanes];
    std::uint32_t n[kMaxLanes];
    std::uint64_t sums[kMaxLanes], squares[kMaxLanes];
    std::int64_t twiceMedian[kMaxLanes], whole[kMaxLanes];
    CMedianCursor median[kMaxLanes];
    int live[kMaxLanes];  // the channels still clipping
    for (int j = 0; j < lanes; ++j) {
        lo[j] = m_min[j];
        hi[j] = m_max[j];
        n[j] = n0;
        sums[j] = m_sum[j];
        squares[j] = m_squares[j];
        median[j] = {m_start[j], m_below[j]};
        live[j] = j;
    }
    const std::uint32_t minKeep = (n0 + 1) / 2;
    for (int nLive = lanes; nLive > 0;) {
        for (int k = 0; k < nLive; ++k) {
            const int j = live[k];
            twiceMedian[j] = median[j].TwiceMedian(m_count[j], n[j]);
        }
        WholeLimits(lanes, n, sums, squares, kappa, whole);
        int stillLive = 0;
        for (int k = 0; k < nLive; ++k) {
            const int j = live[k];
            // Kept: |2v - twiceMedian| <= whole.
            const int keepLo = std::max(lo[j], int((twiceMedian[j] - whole[j] + 1) >> 1));
            const int keepHi = std::min(hi[j], int((twiceMedian[j] + whole[j]) >> 1));
            std::uint32_t dropped = 0, droppedBelow = 0;
            std::uint64_t newSum = sums[j], newSquares = squares[j];
            if (keepLo <= keepHi) {
                const std::uint16_t* count = m_count[j];
                const auto drop = [&](int v) {
                    const std::uint32_t c = count[v];
                    dropped += c;
                    newSum -= std::uint64_t(c) * std::uint64_t(v);
                    newSquares -= std::uint64_t(c) * std::uint64_t(v * v);
                };
                for (int v = lo[j]; v < keepLo; ++v) drop(v);
                droppedBelow = dropped;
                for (int v = keepHi + 1; v <= hi[j]; ++v) drop(v);
            }
            // Nothing more rejected, or too much (all of it when nothing is kept): done.
            if (keepLo > keepHi || dropped == 0 || n[j] - dropped < minKeep) {
                out[j] = RoundedMean(sums[j], n[j]);
                continue;
            }
            live[stillLive++] = j;
            lo[j] = keepLo;
            hi[j] = keepHi;
            n[j] -= dropped;
            sums[j] = newSum;
            squares[j] = newSquares;
            if (median[j].m_nAt < keepLo || median[j].m_nAt > keepHi)
                median[j] = {keepLo, 0};
            else
                median[j].m_nBelow -= droppedBelow;
        }
        nLive = stillLive;
    }
}

void CBlockCombiner::Median(const std::uint8_t* block, std::size_t n, int lanes,
                            std::uint8_t* out) {
    Combine(
        block, n, lanes, out, [](const CSampleHistogram& h) { return h.Median(); },
        [&] {
            for (int j = 0; j < lanes; ++j) {
                CMedianCursor median{m_start[j], m_below[j]};
                out[j] = std::uint8_t((median.TwiceMedian(m_count[j], std::uint32_t(n)) + 1) / 2);
            }
        });
}

void CBlockCombiner::SigmaClip(const std::uint8_t* block, std::size_t n, int lanes, double kappa,
                               std::uint8_t* out) {
    Combine(
        block, n, lanes, out, [kappa](const CSampleHistogram& h) { return h.SigmaClip(kappa); },
        [&] { ClipAll(std::uint32_t(n), lanes, kappa, out); });
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
    std::uint8_t out;
    CBlockCombiner().Median(values, n, 1, &out);
    return out;
}

std::uint8_t FastSigmaClipOf(const std::uint8_t* values, std::size_t n, double kappa) {
    std::uint8_t out;
    CBlockCombiner().SigmaClip(values, n, 1, kappa, &out);
    return out;
}

std::uint8_t MedianOf(const std::uint8_t* values, std::size_t n) {
    return HistogramOf<CSampleHistogram>(values, n).Median();
}

std::uint8_t SigmaClipOf(const std::uint8_t* values, std::size_t n, double kappa) {
    return HistogramOf<CSampleHistogram>(values, n).SigmaClip(kappa);
}
