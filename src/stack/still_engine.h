// The still engine: the best still picture out of many frames of one scene, on a grid 1, 2 or
// 3 times the frames' size. Its stages, each in a file of its own:
//   rank (still_rank.h: every frame's sharpness; the sharpest keep-percent are kept, the
//     reference is the sharpest or the one nearest a chosen time)
//   → align (still_align.h: a translation, then tiles fitted into a smooth motion)
//   → merge (still_merge.h: samples gathered onto the fine grid, weighed against a robust
//     first estimate so that what few frames show is left out)
//   → deconvolve (still_deconv.h: the pixel's own blur undone as far as the noise allows).
// The source is read twice (Rewind): once to rank, once to align and merge. Between the two the
// engine holds the reference and a few frames spread over the sequence (for the estimate), so
// its memory does not grow with the number of frames.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "image/frame_source.h"
#include "platform/status.h"

// Keeps the sharpest 80 %: measured on bursts of 4 to 16 frames (bench/still_quality), 75 %
// gives too few samples to fill the fine grid evenly, 90 % lets in the blurred frames of a
// burst of which a fifth is blurred.
inline constexpr double kDefaultStillKeepPercent = 80.0;

struct CStillParams {
    int m_nScale = 2;                                  // 1, 2 or 3
    double m_dKeepPercent = kDefaultStillKeepPercent;  // above 0, at most 100
    // The reference is the frame nearest this time (ms); unset: the sharpest frame.
    std::optional<std::int64_t> m_atMs;
    int m_nThreads = 0;      // 0: one a processor
    bool m_bVectors = true;  // false: the plain loops, for comparison
    bool m_bLocal = true;    // false: each frame aligned by one translation only
};

// A value of the parameters the engine cannot use; None when they pass.
enum class StillParamFault { None, BadScale, BadKeepPercent, BadThreads };
StillParamFault CheckStillParams(const CStillParams& params);

// Why a frame did not enter the result.
enum class StillLeftOut {
    None,        // it did
    NotSharp,    // below the keep-percent's sharpness
    OtherSize,   // its size is not the first frame's
    NoContrast,  // alignment: nothing to register on
    WeakPeak,    // alignment: no clear match with the reference
};

// One row of the report: a frame in source order.
struct CStillFrameRow {
    std::int64_t m_timeMs = 0;
    double m_dSharpness = 0;
    bool m_bKept = false;  // entered the result
    bool m_bReference = false;
    StillLeftOut m_leftOut = StillLeftOut::None;
    double m_dx = 0;  // its content against the reference's, at the reference's centre
    double m_dy = 0;
};

// Progress, in the order things happen.
struct CStillFramesRead {  // first pass: this many frames read and ranked so far
    int m_nRead = 0;
};
struct CStillRanked {  // the first pass is over
    int m_nFrames = 0;
    int m_nKept = 0;
    int m_nReference = 0;  // its index in source order
};
struct CStillFrameMerged {  // second pass: one more frame aligned and merged
    int m_nDone = 0;
    int m_nTotal = 0;
    double m_dSecondsLeft = 0;
};
struct CStillFrameLeftOut {
    int m_nFrame = 0;
    std::int64_t m_timeMs = 0;
    StillLeftOut m_reason = StillLeftOut::None;
};
struct CStillSharpening {};  // the last stage begins
using CStillEvent = std::variant<CStillFramesRead, CStillRanked, CStillFrameMerged,
                                 CStillFrameLeftOut, CStillSharpening>;

class IStillObserver {
public:
    virtual ~IStillObserver() = default;
    // Called on the engine's thread.
    virtual void OnEvent(const CStillEvent& event) = 0;
    // Asked once a frame; true ends the run with a failure.
    virtual bool StopRequested() { return false; }
};

// Why a run failed, for front ends that word it themselves; CStatus carries the English.
enum class StillFailure {
    None,
    BadParams,
    Empty,          // the source had no frame
    SourceFailed,   // reading or rewinding the source failed (the reason is the source's)
    SourceChanged,  // the second reading differed from the first
    NoReference,    // the reference has nothing to align on, or is too small
    NoMemory,
    Stopped,
};

struct CStillResult {
    StillFailure m_failure = StillFailure::None;
    CStatus m_status;
    SFrame m_picture;  // 24-bit, the frames' size times the scale
    std::vector<CStillFrameRow> m_rows;
    int m_nMerged = 0;
    double m_dNoiseSigma = 0;  // the frames' luma noise as measured
};

// Reads `source` twice and makes the picture. Never throws; a failure says why in m_status.
CStillResult MakeStill(IFrameSource& source, const CStillParams& params,
                       IStillObserver* observer = nullptr);
