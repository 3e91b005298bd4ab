// How a stack of same-geometry frames is combined into one picture, channel by channel: the
// methods, their names, and the per-pixel combiner that the median and the sigma clip share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum class StackMethod {
    Mean,         // sums divided by the number of images, round half up
    MeanOfAdded,  // sums divided by the number of images that covered the pixel
    Median,       // per-pixel median; an even count gives the two middle values' mean
    SigmaClip,    // mean after rejecting values farther than kappa sigma from the median
};

// Every method, in the order of their numbers (the settings file's, the page's list).
inline constexpr StackMethod kStackMethods[] = {StackMethod::Mean, StackMethod::MeanOfAdded,
                                                StackMethod::Median, StackMethod::SigmaClip};

inline constexpr double kDefaultKappa = 2.5;

// "mean", "mean-of-added", "median", "sigma-clip".
const char* StackMethodName(StackMethod method);
// False (method unchanged) for any other text.
bool ParseStackMethod(std::string_view text, StackMethod& method);

// Round half up of sum / count for non-negative integers, exactly: 10.5 gives 11, 0.33 gives 0.
inline std::uint8_t RoundedMean(std::uint64_t sum, std::uint64_t count) {
    return std::uint8_t((2 * sum + count) / (2 * count));
}

// The samples of one channel of one pixel, kept as a histogram of byte values so that the
// median and the clipped mean cost about one step per sample plus one per value in the range.
// Add the samples, read one result, then Clear (which only touches the range used).
class CSampleHistogram {
public:
    void Add(std::uint8_t value) {
        ++m_count[value];
        if (value < m_nMin)
            m_nMin = value;
        if (value > m_nMax)
            m_nMax = value;
        ++m_n;
        m_nSum += value;
        m_nSquares += std::uint32_t(value) * value;
    }
    std::uint32_t Count() const { return m_n; }

    // The middle value; for an even count the mean of the two middle values, rounded half up
    // ({10, 11} gives 11). 0 without samples.
    std::uint8_t Median() const;
    // Starting from all samples: take the median m and the standard deviation s (population)
    // of the kept samples, keep those with |v - m| <= kappa * s, and repeat until nothing more
    // is rejected. A step that would leave fewer than half of the samples (rounded up) is not
    // taken. Returns the kept samples' mean, round half up; 0 without samples.
    std::uint8_t SigmaClip(double kappa) const;
    void Clear();

private:
    // Twice the median of the samples whose values lie in [lo, hi], `n` of them.
    int TwiceMedian(int lo, int hi, std::uint32_t n) const;

    std::uint32_t m_count[256] = {};
    int m_nMin = 256;
    int m_nMax = -1;
    std::uint32_t m_n = 0;
    std::uint64_t m_nSum = 0;
    std::uint64_t m_nSquares = 0;
};

// The same results as CSampleHistogram, for the per-pixel loops: Add only counts and keeps the
// range; reading a result first makes running counts, sums and sums of squares over the range,
// so that every clipping step costs a few look-ups instead of scans, and leaves the counts
// empty for the next pixel.
class CPrefixHistogram {
public:
    void Add(std::uint8_t value) {
        ++m_count[value];
        m_nMin = value < m_nMin ? value : m_nMin;
        m_nMax = value > m_nMax ? value : m_nMax;
        ++m_n;
    }
    // Adds one pixel's samples of three channels at once: `n` pixels `stride` bytes apart from
    // `first` on, histogram k taking byte k of each.
    static void AddInterleaved(CPrefixHistogram* histograms, const std::uint8_t* first,
                               std::size_t n, std::size_t stride);
    std::uint8_t Median();
    std::uint8_t SigmaClip(double kappa);

private:
    // Running counts, sums and squares: entry v + 1 over the values from m_nMin to v. Empties
    // the counts.
    void Accumulate();
    // Twice the median of the `n` samples in [lo, hi], from the running counts.
    int TwiceMedian(int lo, int hi, std::uint32_t n) const;
    void Reset();

    std::uint32_t m_count[256] = {};
    int m_nMin = 256;
    int m_nMax = -1;
    std::uint32_t m_n = 0;
    std::uint32_t m_below[257];
    std::uint64_t m_sums[257];
    std::uint64_t m_squares[257];
};

// The same combiners over a plain list of samples (tests and one-off uses).
std::uint8_t MedianOf(const std::uint8_t* values, std::size_t n);
std::uint8_t SigmaClipOf(const std::uint8_t* values, std::size_t n, double kappa);
// The same through CPrefixHistogram.
std::uint8_t FastMedianOf(const std::uint8_t* values, std::size_t n);
std::uint8_t FastSigmaClipOf(const std::uint8_t* values, std::size_t n, double kappa);
