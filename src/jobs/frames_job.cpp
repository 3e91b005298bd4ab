#include "jobs/frames_job.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "image/dib_image.h"
#include "image/frame_image.h"
#include "jobs/job_engine.h"
#include "jobs/job_guard.h"
#include "platform/free_name.h"
#include "video/video_reader.h"

const char* FrameFileTypeName(FrameFileType type) {
    switch (type) {
        case FrameFileType::Png:
            return "png";
        case FrameFileType::Jpg:
            return "jpg";
        case FrameFileType::Bmp:
            break;
    }
    return "bmp";
}

namespace {

// "<folder>/%08d.<ext>" for each number, the folder's part made once.
class CFrameName {
public:
    CFrameName(const std::string& folder, FrameFileType type)
        : m_strPath(folder.empty()         ? "./"
                    : folder.back() == '/' ? folder
                                           : folder + "/"),
          m_nFolder(m_strPath.size()),
          m_strExt(std::string(".") + FrameFileTypeName(type)) {}

    const std::string& Of(std::int64_t number) {
        char digits[32];
        std::snprintf(digits, sizeof digits, "%08" PRId64, number);
        m_strPath.resize(m_nFolder);
        m_strPath += digits;
        m_strPath += m_strExt;
        return m_strPath;
    }

private:
    std::string m_strPath;
    std::size_t m_nFolder;
    std::string m_strExt;
};

}  // namespace

CStatus WriteFrameFile(const std::string& path, CDibImage& image, FrameFileType type,
                       int nJpgQuality) {
    CCommitOptions commit;
    commit.m_bNoReplace = true;
    return SavePictureFile(path, image, type, nJpgQuality, commit);
}

CFramesResult RunFramesJob(const CFramesParams& params, IFramesObserver& observer) {
    CFramesResult result;
    const auto failRead = [&](const CStatus& status) {
        if (observer.StopRequested())
            result.m_bStopped = true;
        else {
            result.m_end = FramesEnd::ReadFailed;
            result.m_strReason = status.Reason();
        }
        return result;
    };
    // The folder first: nothing is decoded for a target that cannot take the frames.
    if (CStatus made = MakeWritableFolder(params.m_strTargetDir); !made) {
        result.m_end = FramesEnd::WriteFailed;
        result.m_strPath = params.m_strTargetDir;
        result.m_strReason = params.m_strTargetDir + ": " + made.Reason();
        return result;
    }
    CJobGuard guard;
    if (!guard.Lock(params.m_strTargetDir)) {
        result.m_end = FramesEnd::Refused;
        result.m_strPath = params.m_strTargetDir;
        result.m_strReason = params.m_strTargetDir + ": another job is writing into this folder";
        return result;
    }
    result.m_leftovers = guard.Begin(params.m_strTargetDir);

    CVideoReadOptions options;
    options.m_nFromMs = params.m_nFromMs;
    options.m_toMs = params.m_toMs;
    options.m_maxFrames = params.m_frames;
    options.m_nThreads = params.m_nDecoderThreads;
    options.m_stop = [&observer] { return observer.StopRequested(); };
    auto opened = CVideoReader::Open(params.m_strMedia, options);
    if (!opened)
        return failRead(opened.Status());
    CVideoReader& reader = **opened;
    const CVideoInfo& info = reader.Info();
    std::int64_t end = info.m_nDurationMs;
    if (params.m_toMs)
        end = end < 0 ? *params.m_toMs : std::min(end, *params.m_toMs);
    observer.OnEvent(CFramesOpened{info.m_nWidth, info.m_nHeight, params.m_nFromMs, end});

    CFrameName name(params.m_strTargetDir, params.m_type);
    SFrame frame;
    CDibImage image;
    for (;;) {
        const CResult<bool> next = reader.Next(frame);
        if (!next)
            return failRead(next.Status());
        if (!*next)
            break;
        if (observer.StopRequested()) {
            result.m_bStopped = true;
            break;
        }
        const std::int64_t wanted = std::max<std::int64_t>(frame.timeMs, 0);
        std::int64_t number = wanted;
        CStatus written = FrameToDib(frame, image);
        if (written)
            written = WriteAtFreeNumber(
                number, [&name](std::int64_t n) { return name.Of(n); },
                [&](std::int64_t n) {
                    return WriteFrameFile(name.Of(n), image, params.m_type, params.m_nJpgQuality);
                });
        if (!written) {
            result.m_end = FramesEnd::WriteFailed;
            result.m_strPath = name.Of(number);
            result.m_strReason = written.Reason();
            return result;
        }
        ++result.m_nWritten;
        if (number != wanted)
            ++result.m_nRenumbered;
        if (result.m_nFirstMs < 0)
            result.m_nFirstMs = frame.timeMs;
        result.m_nLastMs = frame.timeMs;
        observer.OnEvent(
            CFrameWritten{name.Of(number), frame.timeMs, result.m_nWritten, number != wanted});
    }
    return result;
}
