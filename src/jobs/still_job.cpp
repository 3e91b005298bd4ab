#include "jobs/still_job.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "image/dib_image.h"
#include "image/frame_image.h"
#include "jobs/folder_frames.h"
#include "jobs/job_engine.h"
#include "jobs/job_guard.h"
#include "jobs/job_result.h"
#include "jobs/parallel_loader.h"
#include "platform/atomic_file.h"
#include "platform/free_name.h"
#include "video/video_reader.h"

namespace {

const char* LeftOutName(StillLeftOut reason) {
    switch (reason) {
        case StillLeftOut::NotSharp:
            return "not sharp enough";
        case StillLeftOut::OtherSize:
            return "other size";
        case StillLeftOut::NoContrast:
            return "nothing to align on";
        case StillLeftOut::WeakPeak:
            return "no clear match";
        case StillLeftOut::None:
            break;
    }
    return "kept";
}

// Forwards the engine's events and its stop question to the job's observer, counting frames.
class CForward : public IStillObserver {
public:
    explicit CForward(IStillJobObserver& observer) : m_observer(observer) {}
    void OnEvent(const CStillEvent& event) override {
        std::visit([this](const auto& e) { m_observer.OnEvent(CStillJobEvent(e)); }, event);
    }
    bool StopRequested() override { return m_observer.StopRequested(); }

private:
    IStillJobObserver& m_observer;
};

}  // namespace

std::optional<StillFileType> StillFileTypeOf(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (ext == ".bmp")
        return StillFileType::Bmp;
    if (ext == ".jpg" || ext == ".jpeg")
        return StillFileType::Jpg;
    if (ext == ".png")
        return StillFileType::Png;
    return std::nullopt;
}

std::string StillReportCsv(const std::vector<CStillFrameRow>& rows) {
    std::string csv = "time_ms,sharpness,status,dx,dy\n";
    char line[160];
    for (const CStillFrameRow& row : rows) {
        const char* status = row.m_bReference ? "reference"
                             : row.m_bKept    ? "kept"
                                              : LeftOutName(row.m_leftOut);
        std::snprintf(line, sizeof line, "%lld,%.3f,%s,%.3f,%.3f\n",
                      static_cast<long long>(row.m_timeMs), row.m_dSharpness, status, row.m_dx,
                      row.m_dy);
        csv += line;
    }
    return csv;
}

CStillJobResult RunStillJob(const CStillJobParams& params, IStillJobObserver& observer) {
    CStillJobResult result;
    const auto end = [&](StillJobEnd how, const std::string& path, const std::string& reason) {
        result.m_end = how;
        result.m_strPath = path;
        result.m_strReason = reason;
        return result;
    };
    // Everything that can be checked is, before the media is read.
    const std::optional<StillFileType> type =
        params.m_type ? params.m_type : StillFileTypeOf(params.m_strTarget);
    if (!type)
        return end(StillJobEnd::Refused, params.m_strTarget,
                   params.m_strTarget +
                       ": the picture is written as .bmp, .jpg, .jpeg or .png; name it so");
    CStillParams still;
    still.m_nScale = params.m_nScale;
    still.m_dKeepPercent = params.m_dKeepPercent;
    still.m_atMs = params.m_atMs;
    still.m_nThreads = params.m_nThreads;
    switch (CheckStillParams(still)) {
        case StillParamFault::None:
            break;
        case StillParamFault::BadScale:
            return end(StillJobEnd::Refused, {},
                       "the scale must be 1, 2 or 3, not " + std::to_string(params.m_nScale));
        case StillParamFault::BadKeepPercent:
            return end(StillJobEnd::Refused, {},
                       "the part of the frames kept must be above 0 and at most 100 %");
        case StillParamFault::BadThreads:
            return end(StillJobEnd::Refused, {}, "the thread count must not be negative");
    }
    std::vector<std::string> outputs{params.m_strTarget};
    if (!params.m_strReport.empty()) {
        if (SamePath(params.m_strReport, params.m_strTarget))
            return end(
                StillJobEnd::Refused, params.m_strReport,
                params.m_strReport + ": is the picture's own name; the report needs another");
        outputs.push_back(params.m_strReport);
    }
    const bool bFolder = !params.m_strFolder.empty();
    std::vector<std::string> pictures;
    if (bFolder) {
        pictures = ListMatchingFiles(params.m_strFolder, SourcePattern(params.m_folderKind));
        if (pictures.empty())
            return end(
                StillJobEnd::NoPicture, params.m_strFolder,
                params.m_strFolder + ": no " + SourcePattern(params.m_folderKind) + " files");
    }
    for (const std::string& output : outputs) {
        // The media is never replaced by what is made from it, nor is a picture of the folder.
        if (!bFolder && SamePath(output, params.m_strMedia))
            return end(StillJobEnd::Refused, output,
                       output + ": is the media itself; choose another name");
        for (const std::string& picture : pictures)
            if (SamePath(output, picture))
                return end(StillJobEnd::Refused, output,
                           output + ": is one of the pictures merged; choose another name");
        if (CStatus made = MakeWritableFolder(FolderOf(output)); !made)
            return end(StillJobEnd::WriteFailed, output, made.Reason());
        if (CStatus target = CheckOutputTarget(output); !target)
            return end(StillJobEnd::WriteFailed, output, target.Reason());
    }
    CJobGuard guard;
    const std::string folder = FolderOf(params.m_strTarget);
    if (!guard.Lock(folder))
        return end(StillJobEnd::Refused, folder,
                   folder + ": another job is writing into this folder");
    result.m_leftovers = guard.Begin(folder);

    const std::string& source = bFolder ? params.m_strFolder : params.m_strMedia;
    std::unique_ptr<IFrameSource> frames;
    if (bFolder) {
        frames = std::make_unique<CFolderFrames>(pictures);
    } else {
        CVideoReadOptions options;
        options.m_nFromMs = params.m_nFromMs;
        options.m_toMs = params.m_toMs;
        options.m_maxFrames = params.m_frames;
        options.m_nThreads = params.m_nThreads;
        options.m_stop = [&observer] { return observer.StopRequested(); };
        auto opened = CVideoReader::Open(params.m_strMedia, options);
        if (!opened) {
            if (observer.StopRequested()) {
                result.m_bStopped = true;
                return result;
            }
            return end(StillJobEnd::ReadFailed, params.m_strMedia, opened.Reason());
        }
        observer.OnEvent(
            CStillMediaOpened{(*opened)->Info().m_nWidth, (*opened)->Info().m_nHeight});
        frames = std::move(*opened);
    }

    CForward forward(observer);
    CStillResult made = MakeStill(*frames, still, &forward);
    result.m_nFrames = int(made.m_rows.size());
    result.m_nMerged = made.m_nMerged;
    for (const CStillFrameRow& row : made.m_rows)
        if (row.m_bReference)
            result.m_nReferenceMs = row.m_timeMs;
    result.m_nLeftOut = int(std::count_if(made.m_rows.begin(), made.m_rows.end(),
                                          [](const CStillFrameRow& row) { return !row.m_bKept; }));
    switch (made.m_failure) {
        case StillFailure::None:
            break;
        case StillFailure::Stopped:
            result.m_bStopped = true;
            return result;
        case StillFailure::SourceFailed:
        case StillFailure::SourceChanged:
            // A stop ends the reader's read with a failure of its own.
            if (observer.StopRequested()) {
                result.m_bStopped = true;
                return result;
            }
            return end(StillJobEnd::ReadFailed, source, made.m_status.Reason());
        case StillFailure::Empty:
            return end(StillJobEnd::NoPicture, source, source + ": no frame in the range");
        case StillFailure::BadParams:
        case StillFailure::NoReference:
        case StillFailure::NoMemory:
            return end(StillJobEnd::NoPicture, source, source + ": " + made.m_status.Reason());
    }
    // The last chance to stop before anything is written.
    if (observer.StopRequested()) {
        result.m_bStopped = true;
        return result;
    }
    CDibImage image;
    if (CStatus copied = FrameToDib(made.m_picture, image); !copied)
        return end(StillJobEnd::WriteFailed, params.m_strTarget, copied.Reason());
    if (params.m_bFreeName) {
        const auto nameOf = [&](std::int64_t n) { return NumberedPath(params.m_strTarget, n); };
        CCommitOptions noReplace;
        noReplace.m_bNoReplace = true;
        std::int64_t number = 1;
        const CStatus written = WriteAtFreeNumber(number, nameOf, [&](std::int64_t n) {
            return SavePictureFile(nameOf(n), image, *type, params.m_nJpgQuality, noReplace);
        });
        result.m_strWritten = nameOf(number);
        if (!written)
            return end(StillJobEnd::WriteFailed, result.m_strWritten, written.Reason());
    } else {
        // Replaces a file of the name, as the averaging job does: CAtomicFile keeps its mode.
        if (CStatus written =
                SavePictureFile(params.m_strTarget, image, *type, params.m_nJpgQuality);
            !written)
            return end(StillJobEnd::WriteFailed, params.m_strTarget, written.Reason());
        result.m_strWritten = params.m_strTarget;
    }
    result.m_nWidth = made.m_picture.width;
    result.m_nHeight = made.m_picture.height;
    if (!params.m_strReport.empty()) {
        if (CStatus written = WriteWholeFile(params.m_strReport, StillReportCsv(made.m_rows));
            !written)
            return end(StillJobEnd::WriteFailed, params.m_strReport, written.Reason());
    }
    return result;
}
