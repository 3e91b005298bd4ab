#include "jobs/scale_image_job.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "image/image_file.h"
#include "jobs/encoded_image.h"
#include "jobs/resize_to_fill.h"

namespace fs = std::filesystem;

// What a worker made of one file.
struct CScaleImageJob::CScaled {
    bool m_bLoaded = false;
    std::string m_strWhy;  // why it did not load
    int m_nWidth = 0;      // the target size
    int m_nHeight = 0;
    bool m_bResized = false;
    CStatus m_encoded;  // the output's bytes were made, or why not
    std::string m_bytes;
};

CScaleImageJob::CScaleImageJob(const CScaleParams& params, IJobObserver& observer,
                               const CRunContext& context)
    : CJobEngine(observer), m_params(params), m_context(context) {}

CScaleImageJob::~CScaleImageJob() = default;

CJobResult CScaleImageJob::Run() {
    if (!BeginJob(m_params, m_params.m_strTargetFolder, JobRefusal::NoTargetFolder))
        return m_result;
    if (!m_params.m_scale) {
        Refuse(JobRefusal::NoSize);
        return m_result;
    }
    m_params.m_nJpgQuality = std::clamp(m_params.m_nJpgQuality, 1, 100);
    const std::string pattern = SourcePattern(*m_params.m_source);

    std::vector<std::string> paths = ListMatchingFiles(m_params.m_strSrcDir, pattern);
    if (!Counted(int(paths.size())))
        return m_result;

    // Without the trash, every output that would replace its source would lose the original.
    const std::string& folder = m_params.m_strTargetFolder;
    if (!m_params.m_bDelSrc && SamePath(folder, m_params.m_strSrcDir)) {
        Refuse(JobRefusal::TargetIsSource, folder,
               folder +
                   ": is the source folder; the results would replace the originals. Choose "
                   "another target folder, or have the sources moved to the trash");
        return m_result;
    }
    // A target that cannot be written ends the job before any source is read.
    if (!PrepareTargetFolder(folder, folder))
        return m_result;
    if (!GuardTarget(folder, m_params.m_bDelSrc ? m_params.m_strSrcDir : std::string()))
        return m_result;
    // Listed again under the lock: a job that held it may have moved sources meanwhile (one
    // is briefly away while its replacement is renamed into place).
    paths = ListMatchingFiles(m_params.m_strSrcDir, pattern);
    if (!Counted(int(paths.size())))
        return m_result;
    m_sources.clear();
    for (const std::string& path : paths) m_sources.insert(CanonicalPath(path));
    m_pending = m_sources;
    m_outputs.clear();
    std::vector<std::string> outputs;
    outputs.reserve(paths.size());
    for (const std::string& path : paths) outputs.push_back(OutputPath(path));
    if (!CheckOutputs(outputs))
        return m_result;
    m_observer.OnEvent(CJobStarted{m_result.m_nTotal});

    const int threads = m_context.Workers();
    // Files side by side each resize on their own worker; a lone file uses the row threads.
    const bool bParallel = threads > 1 && paths.size() > 1;
    std::vector<CDibImage> images(std::size_t(std::max(1, threads)));
    CParallelLoader<CScaled> loader(
        paths.size(), threads, std::size_t(2 * threads), [&](std::size_t index, int worker) {
            return Scale(paths[index], images[std::size_t(worker)], bParallel);
        });
    for (const std::string& path : paths) {
        if (!ScaleFile(path, loader))
            break;
    }
    loader.Finish();
    m_guard.Unlock();
    return m_result;
}

std::string CScaleImageJob::OutputPath(const std::string& source) const {
    const std::string ext = m_params.m_source == SourceKind::Bmp ? ".bmp" : ".jpg";
    return (fs::path(m_params.m_strTargetFolder) / (fs::path(source).stem().string() + ext))
        .string();
}

CScaleImageJob::CScaled CScaleImageJob::Scale(const std::string& path, CDibImage& image,
                                              bool bOwnThread) const {
    CScaled scaled;
    const CStatus loaded = LoadSourceInto(path, image);
    scaled.m_bLoaded = loaded.Ok();
    if (!loaded)
        scaled.m_strWhy = loaded.Reason();
    if (!scaled.m_bLoaded)
        return scaled;
    ScaleTargetSize(*m_params.m_scale, image.m_nWidth, image.m_nHeight, scaled.m_nWidth,
                    scaled.m_nHeight);
    CDibImage resized;
    scaled.m_bResized = ResizeToFill(image, resized, scaled.m_nWidth, scaled.m_nHeight,
                                     m_context.Resample(bOwnThread))
                            .Ok();
    if (scaled.m_bResized)
        scaled.m_encoded =
            EncodeImageFile(OutputPath(path), resized, m_params.m_nJpgQuality, scaled.m_bytes);
    return scaled;
}

bool CScaleImageJob::ScaleFile(const std::string& path, CParallelLoader<CScaled>& loader) {
    if (!BeginFile(path))
        return false;
    const std::string source = CanonicalPath(path);
    m_pending.erase(source);
    std::optional<CScaled> scaled = loader.Next();
    if (!scaled)
        return false;
    if (!scaled->m_bLoaded) {
        m_result.m_skipped.push_back(
            MakeProblem(path, JobProblemKind::Unreadable, scaled->m_strWhy));
        ReportNew();
        return true;
    }

    const std::string output = OutputPath(path);
    const std::string outputKey = CanonicalPath(output);
    if (m_pending.count(outputKey)) {
        Fail(output, JobProblemKind::SourceNotReadYet, path);
        return true;
    }
    if (m_outputs.count(outputKey)) {
        Fail(output, JobProblemKind::WrittenAlready, path);
        return true;
    }
    const bool bOwnSource = m_params.m_bDelSrc && outputKey == source;
    if (!bOwnSource && m_sources.count(outputKey) && fs::exists(fs::symlink_status(output))) {
        Fail(output, JobProblemKind::SourceStays, path);
        return true;
    }
    if (!scaled->m_bResized) {
        Fail(output, JobProblemKind::NoImage,
             std::to_string(scaled->m_nWidth) + "x" + std::to_string(scaled->m_nHeight));
        return true;
    }
    if (!scaled->m_encoded) {
        Fail(output, JobProblemKind::WriteFailed, scaled->m_encoded.Reason());
        return true;
    }

    bool bWritten;
    if (bOwnSource) {
        bWritten = ReplaceSource(path, output, scaled->m_bytes);
    } else {
        // A file that appeared under the output's name while the job ran stays as it is.
        CCommitOptions commit;
        commit.m_bNoReplace = !m_guard.ExistedAtStart(output);
        bWritten = WriteOutput(output, scaled->m_bytes, commit);
        if (bWritten && m_params.m_bDelSrc)
            Trash(path);
    }
    if (bWritten) {
        m_outputs.insert(outputKey);
        ++m_result.m_nUsed;
    }
    return true;
}

bool CScaleImageJob::WriteOutput(const std::string& output, const std::string& bytes,
                                 const CCommitOptions& commit) {
    if (const CStatus written = WriteEncodedFile(output, bytes, commit); !written) {
        if (written.Error() == EEXIST && commit.m_bNoReplace)
            Fail(output, JobProblemKind::AppearedMeanwhile);
        else
            Fail(output, JobProblemKind::WriteFailed, written.Reason());
        return false;
    }
    m_result.m_written.push_back(output);
    ReportNew();
    return true;
}

bool CScaleImageJob::ReplaceSource(const std::string& source, const std::string& output,
                                   const std::string& bytes) {
    // The source goes to the trash once its replacement is written, just before the rename.
    bool bTrashFailed = false;
    const CStatus saved = WriteEncodedFile(output, bytes, [&]() -> CStatus {
        if (Trash(source))
            return {};
        bTrashFailed = true;  // recorded by Trash; the original stays untouched
        return CStatus::Failure("the source could not be moved to the trash");
    });
    if (saved) {
        m_result.m_written.push_back(output);
        ReportNew();
        return true;
    }
    if (!bTrashFailed)
        Fail(output, JobProblemKind::WriteFailed, saved.Reason());
    return false;
}
