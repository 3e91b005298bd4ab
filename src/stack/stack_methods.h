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

// The same results as CSampleHistogram, for many channels side by side (the per-pixel loops):
// `lanes` channels (at most kMaxLanes) of `n` samples each, sample i of channel j at
// block[i * lanes + j]; one result byte a channel. The range, sums and squares of each channel
// come from one vectorised pass, its histogram from a second; the clipping steps then only
// walk the values they drop, and the median moves from where it was.
class CBlockCombiner {
public:
    static constexpr int kMaxLanes = 48;

    void Median(const std::uint8_t* block, std::size_t n, int lanes, std::uint8_t* out);
    void SigmaClip(const std::uint8_t* block, std::size_t n, int lanes, double kappa,
                   std::uint8_t* out);

private:
    // Every channel through `fast` (the counts filled) or, past what the counts hold, through
    // `plain` (given the channel's CSampleHistogram).
    template <class FPlain, class FFast>
    void Combine(const std::uint8_t* block, std::size_t n, int lanes, std::uint8_t* out,
                 FPlain plain, FFast fast);
    // False when the counts cannot hold `n` samples.
    bool Count(const std::uint8_t* block, std::size_t n, int lanes);
    void Clear(int lane);
    void ClipAll(std::uint32_t n, int lanes, double kappa, std::uint8_t* out);

    std::uint16_t m_count[kMaxLanes][256] = {};
    std::uint8_t m_min[kMaxLanes];
    std::uint8_t m_max[kMaxLanes];
    std::uint32_t m_sum[kMaxLanes];
    std::uint32_t m_squares[kMaxLanes];
    std::uint8_t m_start[kMaxLanes];   // where each channel's median cursor starts
    std::uint16_t m_below[kMaxLanes];  // samples below it
};

// The same combiners over a plain list of samples (tests and one-off uses).
std::uint8_t MedianOf(const std::uint8_t* values, std::size_t n);
std::uint8_t SigmaClipOf(const std::uint8_t* values, std::size_t n, double kappa);
// The same through CBlockCombiner.
std::uint8_t FastMedianOf(const std::uint8_t* values, std::size_t n);
std::uint8_t FastSigmaClipOf(const std::uint8_t* values, std::size_t n, double kappa);
