// The still engine's merge: every aligned frame's samples gathered onto a grid 1, 2 or 3 times
// the frame's size, each weighted by how near it fell and by how well it agrees with a robust
// first estimate of the scene, so that what only a few frames show (a passing object, a
// subtitle, a flash) is left out.
//
// On a finer grid what is merged is each sample less the estimate where it fell, added back to
// the estimate on the fine grid: the residual varies less than the picture, so where a sample
// falls within its kernel matters less. On the frames' own grid the samples themselves are
// merged: there the estimate's interpolation would only blur.
//
// The first estimate is the per-pixel median of a few frames spread over the sequence, moved
// onto the reference's grid; their spread at each pixel, the frames' noise and the estimate's
// own slope say how far a sample may stray from it. The estimate also fills what no sample
// reached.
#pragma once

#include <cstdint>
#include <vector>

#include "image/frame_source.h"
#include "stack/still_align.h"

// The first estimate on the reference's grid (width x height): the median's B, G, R planes,
// its luma and the luma's robust spread.
struct SStillEstimate {
    int m_nWidth = 0;
    int m_nHeight = 0;
    std::vector<float> m_bgr;  // three planes
    std::vector<float> m_luma;
    std::vector<float> m_spread;
    bool m_bRobust = false;  // made of enough frames to reject by; otherwise nothing is rejected
};
// The estimate from `frames` (each with its motion); robust from three frames on. bVectors
// false: the plain loops.
SStillEstimate MakeStillEstimate(const std::vector<const SFrame*>& frames,
                                 const std::vector<SStillMotion>& motions, int threads,
                                 bool bVectors);

class CStillMerger {
public:
    // Standard deviation, in fine pixels, of the Gaussian weight of a sample by its distance,
    // for a merge of `frames` frames.
    static double KernelSigma(int scale, int frames);

    // A grid `scale` times the frames' width x height, for `frames` frames. False when there
    // is no memory for it.
    CStatus Begin(int width, int height, int scale, int frames, bool bVectors);
    // The estimate samples are weighed against (it must outlive the merger; set before Add),
    // and the frames' noise (luma standard deviation).
    void SetEstimate(const SStillEstimate* estimate, double noiseSigma);
    // Gathers the frame's samples onto the grid: each grid pixel from the 2 x 2 frame pixels
    // around where it falls. Threads take bands of grid rows; the result is the same for any
    // number of them.
    void Add(const SFrame& frame, const SStillMotion& motion, int threads);
    // The merged picture as three float planes of the grid (B, G, R), what no sample reached
    // taken from the estimate; *noiseFactor is the mean over the grid of sum w^2 / (sum w)^2,
    // what is left of one sample's noise variance. The merger's memory is handed over.
    void Finish(std::vector<float>& planes, double* noiseFactor, int threads);

    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

private:
    void Weigh(const SFrame& frame, const SStillMotion& motion, int threads);

    int m_nFrameWidth = 0;
    int m_nFrameHeight = 0;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nScale = 1;
    bool m_bVectors = true;
    bool m_bResidual = false;  // merging residuals (a finer grid) or samples
    const SStillEstimate* m_pEstimate = nullptr;
    // How far a sample may stray from the estimate, a pixel of the reference's grid.
    std::vector<float> m_tolerance;
    std::vector<float> m_sums;     // B, G, R planes of weighted sums
    std::vector<float> m_weights;  // sum of weights
    std::vector<float> m_squares;  // sum of squared weights
    // The frame's samples: planes of B, G, R (less the estimate, on a finer grid) and of the
    // weight by agreement (0..1), what the gathered taps read.
    std::vector<float> m_samples;
    float m_lut[257 + 8] = {};  // weight by distance, in 1/256 frame pixel (SGatherFrame)
};
