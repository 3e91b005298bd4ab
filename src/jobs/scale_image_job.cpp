#include "jobs/scale_image_job.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "image/image_file.h"
#include "jobs/resize_to_fill.h"

namespace fs = std::filesystem;

CScaleImageJob::CScaleImageJob(const CScaleParams& params, IJobObserver& observer)
    : CJobEngine(observer), m_params(params) {}

CJobResult CScaleImageJob::Run() {
    if (!BeginJob(m_params, m_params.m_strTargetFolder, "no target folder"))
        return m_result;
    if (!m_params.m_scale) {
        Refuse(JobRefusal::NoChoice, "no size chosen");
        return m_result;
    }
    m_params.m_nJpgQuality = std::clamp(m_params.m_nJpgQuality, 1, 100);
    const std::string pattern = SourcePattern(*m_params.m_source);

    CSourceLister lister;
    if (!Counted(lister.Count(m_params.m_strSrcDir, pattern)))
        return m_result;
    m_sources = std::move(lister.m_paths);
    m_pending = m_sources;
    m_outputs.clear();

    // Without the trash, every output that would replace its source would lose the original.
    const std::string& folder = m_params.m_strTargetFolder;
    if (!m_params.m_bDelSrc && SamePath(folder, m_params.m_strSrcDir)) {
        Refuse(JobRefusal::TargetIsSource,
               folder +
                   ": is the source folder; the results would replace the originals. Choose "
                   "another target folder, or have the sources moved to the trash");
        return m_result;
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    const bool bFolder = !ec && fs::is_directory(folder);
    if (bFolder && !GuardTarget(folder))
        return m_result;
    m_observer.OnEvent(CJobStarted{m_result.m_nTotal});
    if (!bFolder) {
        m_result.m_end = JobEnd::Failed;
        Fail(folder, "cannot create the target folder: " +
                         (ec ? ec.message() : std::string("not a folder")));
        return m_result;
    }

    CScaleScan scan;
    scan.Run(this, m_params.m_strSrcDir, pattern);
    m_guard.Unlock();
    return m_result;
}

std::string CScaleImageJob::OutputPath(const std::string& source) const {
    const std::string ext = m_params.m_source == SourceKind::Bmp ? ".bmp" : ".jpg";
    return (fs::path(m_params.m_strTargetFolder) / (fs::path(source).stem().string() + ext))
        .string();
}

bool CScaleImageJob::ScaleFile(const std::string& path) {
    if (!BeginFile(path))
        return false;
    const std::string source = CanonicalPath(path);
    m_pending.erase(source);
    CDibImage image;
    if (!LoadSource(path, image))
        return true;

    const std::string output = OutputPath(path);
    const std::string outputKey = CanonicalPath(output);
    if (m_pending.count(outputKey)) {
        Fail(output, "is a source file not read yet; " + path + " is left as it is");
        return true;
    }
    if (m_outputs.count(outputKey)) {
        Fail(output,
             "already written from another source in this job; " + path + " is left as it is");
        return true;
    }
    const bool bOwnSource = m_params.m_bDelSrc && outputKey == source;
    if (!bOwnSource && m_sources.count(outputKey) && fs::exists(fs::symlink_status(output))) {
        Fail(output, "is a source file that stays; " + path + " is left as it is");
        return true;
    }

    int width = 0, height = 0;
    ScaleTargetSize(*m_params.m_scale, image.m_nWidth, image.m_nHeight, width, height);
    CDibImage scaled;
    if (!ResizeToFill(image, scaled, width, height)) {
        Fail(output,
             "cannot make a " + std::to_string(width) + "x" + std::to_string(height) + " image");
        return true;
    }
    image.Free();

    bool bWritten;
    if (bOwnSource) {
        bWritten = ReplaceSource(path, output, scaled);
    } else {
        // A file that appeared under the output's name while the job ran stays as it is.
        CCommitOptions commit;
        commit.m_bNoReplace = !m_guard.ExistedAtStart(output);
        bWritten = WriteNew(output, scaled, commit);
        if (bWritten && m_params.m_bDelSrc)
            Trash(path);
    }
    if (bWritten) {
        m_outputs.insert(outputKey);
        ++m_result.m_nUsed;
    }
    return true;
}

bool CScaleImageJob::ReplaceSource(const std::string& source, const std::string& output,
                                   CDibImage& image) {
    // The source goes to the trash once its replacement is written, just before the rename.
    bool bTrashFailed = false;
    const CStatus saved = SaveImageFile(output, image, m_params.m_nJpgQuality, [&]() -> CStatus {
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
        Fail(output, saved.Reason());
    return false;
}

bool CScaleImageJob::WriteNew(const std::string& output, CDibImage& image,
                              const CCommitOptions& commit) {
    const CStatus saved = SaveImageFile(output, image, m_params.m_nJpgQuality, commit);
    if (!saved) {
        Fail(output, saved.Error() == EEXIST && commit.m_bNoReplace
                         ? "appeared while the job ran; left as it is"
                         : saved.Reason());
        return false;
    }
    m_result.m_written.push_back(output);
    ReportNew();
    return true;
}
