#include "stack/still_engine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <new>
#include <optional>
#include <thread>

#include "stack/frame_prefetch.h"
#include "stack/still_align.h"
#include "stack/still_deconv.h"
#include "stack/still_merge.h"
#include "stack/still_rank.h"

namespace {

// Frames held between the passes for the first estimate: every stride-th frame, the stride
// doubled (and every other held frame dropped) whenever more than this would be held, so they
// stay spread over the whole sequence.
constexpr std::size_t kEstimateFrames = 15;
// The noise the sharpening meets, against the frames' noise measured in their flattest blocks
// (in variance): a codec smooths those most, and the merge leaves what the alignment and the
// codec add. Measured on bursts of 4 and 16 frames of two photographs: twice, where once
// lifts the noise of few frames and three times loses detail.
constexpr double kNoiseMet = 2.0;

CStillResult Failed(CStillResult result, StillFailure failure, std::string reason) {
    result.m_failure = failure;
    result.m_status = CStatus::Failure(std::move(reason));
    result.m_picture = {};
    return result;
}

void Tell(IStillObserver* observer, const CStillEvent& event) {
    if (observer)
        observer->OnEvent(event);
}

bool Stop(IStillObserver* observer) {
    return observer && observer->StopRequested();
}

bool Usable(const SFrame& frame) {
    return frame.width > 0 && frame.height > 0 &&
           frame.bgr.size() == std::size_t(frame.width) * frame.height * 3;
}

StillLeftOut LeftOutOf(StillAlignFault fault) {
    return fault == StillAlignFault::NoContrast ? StillLeftOut::NoContrast : StillLeftOut::WeakPeak;
}

struct CHeldFrame {
    int m_nIndex = 0;
    SFrame m_frame;
};

CStillResult Run(IFrameSource& frames, const CStillParams& params, IStillObserver* observer) {
    CStillResult result;
    const int threads = params.m_nThreads > 0
                            ? params.m_nThreads
                            : std::max(1, int(std::thread::hardware_concurrency()));
    // With more than one thread the next frame is decoded while this one is worked on.
    std::optional<CPrefetchSource> prefetch;
    if (threads > 1)
        prefetch.emplace(frames);
    IFrameSource& source = prefetch ? *prefetch : frames;

    // First pass: sharpness of every frame, the reference and the held frames.
    SFrame frame, reference;
    int width = 0, height = 0, referenceIndex = -1, usable = 0, stride = 1;
    // Below any score: with --at the scores are minus distances, -1 and below.
    double best = -std::numeric_limits<double>::infinity();
    std::vector<CHeldFrame> held;
    std::vector<int> usableIndex;  // source index of each usable frame
    for (;;) {
        CResult<bool> next = source.Next(frame);
        if (!next)
            return Failed(std::move(result), StillFailure::SourceFailed, next.Reason());
        if (!*next)
            break;
        const int index = int(result.m_rows.size());
        CStillFrameRow row;
        row.m_timeMs = frame.timeMs;
        if (index == 0 || width == 0) {
            width = frame.width;
            height = frame.height;
        }
        if (!Usable(frame) || frame.width != width || frame.height != height) {
            row.m_leftOut = StillLeftOut::OtherSize;
            result.m_rows.push_back(row);
            Tell(observer, CStillFrameLeftOut{index, row.m_timeMs, row.m_leftOut});
            continue;
        }
        row.m_dSharpness = FrameSharpness(frame);
        const double score =
            params.m_atMs ? -std::fabs(double(frame.timeMs - *params.m_atMs)) : row.m_dSharpness;
        if (score > best) {
            best = score;
            referenceIndex = index;
            reference = frame;
        }
        if (usable % stride == 0) {
            held.push_back({index, frame});
            if (held.size() > kEstimateFrames) {
                std::vector<CHeldFrame> kept;
                for (std::size_t i = 0; i < held.size(); i += 2) kept.push_back(std::move(held[i]));
                held = std::move(kept);
                stride *= 2;
            }
        }
        ++usable;
        usableIndex.push_back(index);
        result.m_rows.push_back(row);
        Tell(observer, CStillFramesRead{int(result.m_rows.size())});
        if (Stop(observer))
            return Failed(std::move(result), StillFailure::Stopped, "stopped");
    }
    if (result.m_rows.empty())
        return Failed(std::move(result), StillFailure::Empty, "the source has no frame");
    if (usable == 0)
        return Failed(std::move(result), StillFailure::Empty, "the source has no usable frame");

    // Ranking among the usable frames.
    std::vector<double> sharpness;
    int forced = 0;
    for (int i = 0; i < usable; ++i) {
        sharpness.push_back(result.m_rows[std::size_t(usableIndex[std::size_t(i)])].m_dSharpness);
        if (usableIndex[std::size_t(i)] == referenceIndex)
            forced = i;
    }
    const std::vector<bool> keep = KeepSharpest(sharpness, params.m_dKeepPercent, forced);
    int kept = 0;
    for (int i = 0; i < usable; ++i) {
        CStillFrameRow& row = result.m_rows[std::size_t(usableIndex[std::size_t(i)])];
        if (keep[std::size_t(i)]) {
            ++kept;
        } else {
            row.m_leftOut = StillLeftOut::NotSharp;
            Tell(observer,
                 CStillFrameLeftOut{usableIndex[std::size_t(i)], row.m_timeMs, row.m_leftOut});
        }
    }
    result.m_rows[std::size_t(referenceIndex)].m_bReference = true;
    Tell(observer, CStillRanked{int(result.m_rows.size()), kept, referenceIndex});

    // The reference, the first estimate and the noise.
    CStillAligner aligner;
    aligner.SetLocal(params.m_bLocal);
    if (CStatus set = aligner.SetReference(reference); !set)
        return Failed(std::move(result), StillFailure::NoReference,
                      "the reference frame is " + set.Reason());
    std::vector<const SFrame*> estimateFrames{&reference};
    std::vector<SStillMotion> estimateMotions{SStillMotion{}};
    std::vector<double> noises{FrameNoiseSigma(reference)};
    for (const CHeldFrame& h : held) {
        if (h.m_nIndex == referenceIndex ||
            result.m_rows[std::size_t(h.m_nIndex)].m_leftOut != StillLeftOut::None)
            continue;
        const SStillAlignment a = aligner.Align(h.m_frame, threads);
        if (a.m_fault != StillAlignFault::None)
            continue;
        estimateFrames.push_back(&h.m_frame);
        estimateMotions.push_back(a.m_motion);
        noises.push_back(FrameNoiseSigma(h.m_frame));
    }
    std::sort(noises.begin(), noises.end());
    result.m_dNoiseSigma = noises[noises.size() / 2];
    const SStillEstimate estimate =
        MakeStillEstimate(estimateFrames, estimateMotions, threads, params.m_bVectors);
    held.clear();
    held.shrink_to_fit();

    CStillMerger merger;
    if (CStatus begun = merger.Begin(width, height, params.m_nScale, kept, params.m_bVectors);
        !begun)
        return Failed(std::move(result), StillFailure::NoMemory, begun.Reason());
    merger.SetEstimate(&estimate, result.m_dNoiseSigma);

    // Second pass: align and merge the kept frames.
    if (CStatus rewound = source.Rewind(); !rewound)
        return Failed(std::move(result), StillFailure::SourceFailed, rewound.Reason());
    const auto started = std::chrono::steady_clock::now();
    int done = 0, leftOut = 0;  // leftOut: by alignment, after the merge's kernel was chosen
    for (std::size_t index = 0;; ++index) {
        CResult<bool> next = source.Next(frame);
        if (!next)
            return Failed(std::move(result), StillFailure::SourceFailed, next.Reason());
        if (!*next) {
            if (index != result.m_rows.size())
                return Failed(std::move(result), StillFailure::SourceChanged,
                              "the source gave fewer frames the second time");
            break;
        }
        if (index >= result.m_rows.size())
            return Failed(std::move(result), StillFailure::SourceChanged,
                          "the source gave more frames the second time");
        CStillFrameRow& row = result.m_rows[index];
        if (row.m_leftOut != StillLeftOut::None)
            continue;
        if (frame.width != width || frame.height != height || !Usable(frame))
            return Failed(std::move(result), StillFailure::SourceChanged,
                          "a frame changed size between the readings");
        SStillMotion motion;
        if (int(index) != referenceIndex) {
            const SStillAlignment a = aligner.Align(frame, threads);
            if (a.m_fault != StillAlignFault::None) {
                row.m_leftOut = LeftOutOf(a.m_fault);
                Tell(observer, CStillFrameLeftOut{int(index), row.m_timeMs, row.m_leftOut});
                --kept;
                ++leftOut;
                continue;
            }
            row.m_dx = a.m_dx;
            row.m_dy = a.m_dy;
            motion = a.m_motion;
        }
        merger.Add(frame, motion, threads);
        row.m_bKept = true;
        ++done;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        Tell(observer, CStillFrameMerged{done, kept, seconds / done * (kept - done)});
        if (Stop(observer))
            return Failed(std::move(result), StillFailure::Stopped, "stopped");
    }
    result.m_nMerged = done;

    Tell(observer, CStillSharpening{});
    std::vector<float> planes;
    double factor = 0;
    merger.Finish(planes, &factor, threads);
    const int w = merger.Width(), h = merger.Height();
    SStillDeconv deconv;
    deconv.m_nScale = params.m_nScale;
    deconv.m_dKernelSigma = CStillMerger::KernelSigma(params.m_nScale, kept + leftOut);
    deconv.m_dNoiseVar = kNoiseMet * result.m_dNoiseSigma * result.m_dNoiseSigma * factor;
    DeconvolveStill(planes, w, h, deconv, threads);

    SFrame& picture = result.m_picture;
    picture.timeMs = reference.timeMs;
    picture.width = w;
    picture.height = h;
    const std::size_t area = std::size_t(w) * h;
    picture.bgr.resize(3 * area);
    for (std::size_t i = 0; i < area; ++i)
        for (int c = 0; c < 3; ++c)
            picture.bgr[3 * i + std::size_t(c)] =
                std::uint8_t(std::clamp(std::lround(planes[c * area + i]), 0L, 255L));
    return result;
}

}  // namespace

StillParamFault CheckStillParams(const CStillParams& params) {
    if (params.m_nScale < 1 || params.m_nScale > 3)
        return StillParamFault::BadScale;
    if (!(params.m_dKeepPercent > 0 && params.m_dKeepPercent <= 100))
        return StillParamFault::BadKeepPercent;
    if (params.m_nThreads < 0)
        return StillParamFault::BadThreads;
    return StillParamFault::None;
}

CStillResult MakeStill(IFrameSource& source, const CStillParams& params, IStillObserver* observer) {
    switch (CheckStillParams(params)) {
        case StillParamFault::None:
            break;
        case StillParamFault::BadScale:
            return Failed({}, StillFailure::BadParams,
                          "the scale must be 1, 2 or 3, not " + std::to_string(params.m_nScale));
        case StillParamFault::BadKeepPercent:
            return Failed({}, StillFailure::BadParams,
                          "the part of the frames kept must be above 0 and at most 100 %");
        case StillParamFault::BadThreads:
            return Failed({}, StillFailure::BadParams, "the number of threads cannot be negative");
    }
    try {
        return Run(source, params, observer);
    } catch (const std::bad_alloc&) {
        return Failed({}, StillFailure::NoMemory, "no memory for the frames");
    }
}
