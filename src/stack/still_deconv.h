// The still engine's last stage: undoing the blur the merge leaves. A frame pixel integrates a
// box `scale` fine pixels wide, and the merge spreads each sample by its Gaussian weight; both
// are known, so a Wiener filter can undo them as far as the noise allows. The noise is not
// guessed: it is the frames' own (measured) left after merging (the merger's noise factor),
// and the signal's power is measured on the merged picture itself, along rows and along
// columns. The filter is separable: one short kernel a row, then the same a column.
#pragma once

#include <vector>

struct SStillDeconv {
    int m_nScale = 1;
    double m_dKernelSigma = 0;  // the merge's Gaussian, in fine pixels
    double m_dNoiseVar = 0;     // of the merged picture's luma, per fine pixel
};

// The blur's transfer at frequency f (cycles per fine pixel) along one axis: the merge's
// kernel as a 2 x 2 gather averages it over every sub-pixel place, times the frame pixel's box
// over the fine pixel's.
double StillBlurTransfer(double f, int scale, double kernelSigma);

// The filter's taps (2 * kStillTaps + 1, summing to 1) for the measured signal power `power`
// at the frequencies k / kStillSegment, k = 0 .. kStillSegment / 2.
inline constexpr int kStillSegment = 32;
inline constexpr int kStillTaps = 8;
std::vector<double> StillWienerTaps(const std::vector<double>& power, const SStillDeconv& d);

// Filters three float planes of width x height in place. Rows are split over `threads`; the
// result is the same for any number of them.
void DeconvolveStill(std::vector<float>& planes, int width, int height, const SStillDeconv& d,
                     int threads);
