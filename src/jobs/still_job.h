// The still job: the best still picture out of a media file's frames (or a range of them), on
// a grid 1, 2 or 3 times the frames' size (stack/still_engine.h), written as BMP, JPEG or PNG
// by the output's extension, with an optional CSV report of every frame. Like the averaging
// job it replaces an existing output file (atomically, keeping its mode), refuses anything
// but a regular file there, and checks every path before the media is read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "image/image_file.h"
#include "jobs/job_params.h"
#include "stack/still_engine.h"

using StillFileType = PictureFileType;
// By the extension, any case: ".bmp", ".jpg"/".jpeg", ".png"; none for anything else.
std::optional<StillFileType> StillFileTypeOf(const std::string& path);

struct CStillJobParams {
    std::string m_strMedia;
    std::string m_strTarget;               // its folder is made with its parents
    std::string m_strReport;               // empty: no report
    std::int64_t m_nFromMs = 0;            // the first frame at or after this time
    std::optional<std::int64_t> m_toMs;    // frames before this time only
    std::optional<std::int64_t> m_frames;  // at most this many
    std::optional<std::int64_t> m_atMs;    // the reference nearest this time; none: the sharpest
    int m_nScale = 2;                      // 1, 2 or 3
    double m_dKeepPercent = kDefaultStillKeepPercent;
    int m_nJpgQuality = 95;
    int m_nThreads = 0;  // 0: one a processor
    // A folder of pictures instead of the media (the range options then unused): its files of
    // the kind's pattern in name order, as averaging reads them, each one's place its time.
    std::string m_strFolder;
    SourceKind m_folderKind = SourceKind::Bmp;
    // The picture's file type; none: by the target's extension.
    std::optional<StillFileType> m_type;
    // Never replace a file: the picture goes to the target, or where a file of that name is
    // there (one made while the job ran too) to the first free "name_N.ext" from N = 2 on.
    bool m_bFreeName = false;

    bool operator==(const CStillJobParams&) const = default;
};

// The media is open: its frames' size.
struct CStillMediaOpened {
    int m_nWidth = 0;
    int m_nHeight = 0;
};
// The engine's own events, forwarded as they come.
using CStillJobEvent = std::variant<CStillMediaOpened, CStillFramesRead, CStillRanked,
                                    CStillFrameMerged, CStillFrameLeftOut, CStillSharpening>;

class IStillJobObserver {
public:
    virtual ~IStillJobObserver() = default;
    // Called on the job's thread, in the order things happen.
    virtual void OnEvent(const CStillJobEvent& event) = 0;
    // True ends the job without writing anything: asked once a frame and while the media is
    // read, so it must be cheap.
    virtual bool StopRequested() = 0;
};

enum class StillJobEnd {
    Finished,     // the picture (and the report) are written, or the job was stopped
    Refused,      // parameters it cannot use, or another job writes into the folder
    ReadFailed,   // the media (or a picture of the folder) could not be opened or read
    NoPicture,    // the frames gave no picture (none in the range, nothing to align on)
    WriteFailed,  // a folder or file could not be made: m_strPath says which
};

struct CStillJobResult {
    StillJobEnd m_end = StillJobEnd::Finished;
    bool m_bStopped = false;
    std::string m_strPath;    // the path a refusal or write failure is about
    std::string m_strReason;  // English; a read failure names the media
    int m_nFrames = 0;        // frames read
    int m_nMerged = 0;
    int m_nLeftOut = 0;
    int m_nWidth = 0;  // the picture's size
    int m_nHeight = 0;
    std::string m_strWritten;              // where the picture went
    std::int64_t m_nReferenceMs = -1;      // the time of the frame the others were aligned to
    std::vector<std::string> m_leftovers;  // temporary files of a killed earlier run, removed

    bool Ok() const { return m_end == StillJobEnd::Finished && !m_bStopped; }
};

// The report: a header, then one line a frame in source order: its time in ms, its sharpness,
// "kept", "reference" or why it was left out, and its shift against the reference.
std::string StillReportCsv(const std::vector<CStillFrameRow>& rows);

// Runs the job on this thread.
CStillJobResult RunStillJob(const CStillJobParams& params, IStillJobObserver& observer);
