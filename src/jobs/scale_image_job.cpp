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

namespace {

// Collects the matching files of the counting pass, so that outputs can be checked against
// sources the job has not read yet.
class CFileLister : public CFileCounter {
public:
    void OnFileFound(const std::string& path, const CFindRecord& record) override {
        CFileCounter::OnFileFound(path, record);
        m_paths.insert(CanonicalPath(path));
    }
    std::set<std::string> m_paths;
};

}  // namespace

CScaleImageJob::CScaleImageJob(const CScaleParams& params, IJobObserver& observer)
    : CJobEngine(observer), m_params(params) {}

CJobResult CScaleImageJob::Run() {
    if (!BeginJob(m_params, m_params.m_strTargetFolder, "no target folder"))
        return m_result;
    if (!m_params.m_scale) {
        Refuse("no size chosen");
        return m_result;
    }
    m_params.m_nJpgQuality = std::clamp(m_params.m_nJpgQuality, 1, 100);
    const std::string pattern = SourcePattern(*m_params.m_source);

    CFileLister lister;
    if (!Counted(lister.Count(m_params.m_strSrcDir, pattern)))
        return m_result;
    // A target that cannot be written ends the job before any source is read.
    if (!PrepareTargetFolder(m_params.m_strTargetFolder, m_params.m_strTargetFolder))
        return m_result;
    m_pending = std::move(lister.m_paths);
    m_outputs.clear();
    m_observer.OnEvent(CJobStarted{m_result.m_nTotal});

    CScaleScan scan;
    scan.Run(this, m_params.m_strSrcDir, pattern);
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
    if (m_params.m_bDelSrc && outputKey == source) {
        bWritten = ReplaceSource(path, output, scaled);
    } else {
        bWritten = Write(output, scaled, m_params.m_nJpgQuality);
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
