// The frames job: every frame of a media file's video (or of a range of it) written at full
// size into a folder, one file a frame, named after its time in milliseconds ("%08d" and the
// type's extension), as a recording names its grabs. An existing file is never replaced: a
// frame whose name is taken gets the next free number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "image/image_file.h"
#include "platform/status.h"

using FrameFileType = PictureFileType;
inline constexpr FrameFileType kFrameFileTypes[] = {FrameFileType::Bmp, FrameFileType::Png,
                                                    FrameFileType::Jpg};
// "bmp", "png", "jpg": the command line's names and the files' extensions.
const char* FrameFileTypeName(FrameFileType type);

struct CFramesParams {
    std::string m_strMedia;
    std::string m_strTargetDir;            // created with its parents
    std::int64_t m_nFromMs = 0;            // the first frame at or after this time
    std::optional<std::int64_t> m_toMs;    // frames before this time only; none: to the end
    std::optional<std::int64_t> m_frames;  // at most this many; none: no limit
    FrameFileType m_type = FrameFileType::Bmp;
    int m_nJpgQuality = 95;
    int m_nDecoderThreads = 0;  // 0: the decoder chooses

    bool operator==(const CFramesParams&) const = default;
};

// The media is open: the size of its frames and the range that will be read (m_nEndMs is the
// end of the range, or of the media, or -1 when neither is known).
struct CFramesOpened {
    int m_nWidth = 0;
    int m_nHeight = 0;
    std::int64_t m_nFromMs = 0;
    std::int64_t m_nEndMs = -1;
    bool operator==(const CFramesOpened&) const = default;
};
// A frame is in place: its file, its time, its number from 1; m_bRenumbered when its own name
// was taken.
struct CFrameWritten {
    std::string m_strPath;
    std::int64_t m_nTimeMs = 0;
    std::int64_t m_nFrame = 0;
    bool m_bRenumbered = false;
    bool operator==(const CFrameWritten&) const = default;
};
using CFramesEvent = std::variant<CFramesOpened, CFrameWritten>;

class IFramesObserver {
public:
    virtual ~IFramesObserver() = default;
    // Called on the job's thread, in the order things happen.
    virtual void OnEvent(const CFramesEvent& event) = 0;
    // True ends the job: asked before each frame is written and often while the media is
    // read, on the job's thread, so it must be cheap and must not start another job.
    virtual bool StopRequested() = 0;
};

enum class FramesEnd {
    Finished,     // the range was read to its end (or the job was stopped: m_bStopped)
    ReadFailed,   // the media could not be opened or read; m_strReason names it
    WriteFailed,  // the folder or a frame could not be written; m_strPath and m_strReason say
                  // which and why
    Refused,      // not started: another job is writing into the target folder
};

struct CFramesResult {
    FramesEnd m_end = FramesEnd::Finished;
    bool m_bStopped = false;
    std::string m_strPath;    // the file a write failed for
    std::string m_strReason;  // English; a read failure names the media
    std::int64_t m_nWritten = 0;
    std::int64_t m_nRenumbered = 0;  // of those written, those whose name was taken
    std::int64_t m_nFirstMs = -1;    // the times of the first and last frame written
    std::int64_t m_nLastMs = -1;
    std::vector<std::string> m_leftovers;  // temporary files of a killed earlier run, removed

    bool Ok() const { return m_end == FramesEnd::Finished; }
};

// Writes `image` as `type` at `path`, never over a file of that name (EEXIST then); JPEG at
// `nJpgQuality`. The reason of a failure does not repeat the path.
CStatus WriteFrameFile(const std::string& path, CDibImage& image, FrameFileType type,
                       int nJpgQuality);

// Runs the job on this thread.
CFramesResult RunFramesJob(const CFramesParams& params, IFramesObserver& observer);
