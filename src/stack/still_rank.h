// The still engine's first stage: how sharp a frame is, how noisy, and which frames to keep.
// Everything here works on luma, (B + 2G + R) / 4, straight from the packed frame.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "image/frame_source.h"

// Mean squared luma gradient (forward differences, both axes): larger is sharper. A blurred
// frame of the same scene loses most of its high frequencies and so most of this energy.
double FrameSharpness(const SFrame& frame);

// The standard deviation of the frame's luma noise, from a 3 x 3 high-pass residual (second
// differences along both axes, which cancel smooth shading and gentle ramps) in blocks of
// 16 x 16 pixels: the flattest blocks' residual is the noise's, so edges and texture elsewhere
// do not pass for noise.
double FrameNoiseSigma(const SFrame& frame);

// A frame whose sharpness is under this part of the median's is left out whatever the keep
// percent. Measured on bursts with a fifth of the frames blurred (Gaussian sigma 1.6): those
// score about a twelfth of the others; the sharp frames of a still scene lie within a fifth.
inline constexpr double kStillFarBelowMedian = 0.5;

// Which of the frames to keep: the `keepPercent` sharpest (at least one), the ties in frame
// order, less those far below the median (kStillFarBelowMedian). `forced`, when set, is kept
// whatever its sharpness.
std::vector<bool> KeepSharpest(const std::vector<double>& sharpness, double keepPercent,
                               std::optional<int> forced = {});
