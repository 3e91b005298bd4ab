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

// Which of the frames to keep: the `keepPercent` sharpest (at least one), the ties in frame
// order. `forced`, when set, is kept whatever its sharpness.
std::vector<bool> KeepSharpest(const std::vector<double>& sharpness, double keepPercent,
                               std::optional<int> forced = {});
