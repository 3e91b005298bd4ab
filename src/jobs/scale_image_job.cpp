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

bool ScaleTargetSize(int nScale, int width, int height, int& targetWidth, int& targetHeight) {
    static const int kFixed[][2] = {{640, 480}, {800, 600}, {1024, 768}};
    if (nScale == 0 || nScale == 1) {
        const long long factor = nScale + 2;
        if (width * factor > 0x7fffffff || height * factor > 0x7fffffff)
            return false;
        targetWidth = int(width * factor);
        targetHeight = int(height * factor);
        return true;
    }
    if (nScale >= 2 && nScale <= 4) {
        targetWidth = kFixed[nScale - 2][0];
        targetHeight = kFixed[nScale - 2][1];
        return true;
    }
    return false;
}

CScaleImageJob::CScaleImageJob(const CScaleSettings& settings, IJobObserver& observer)
    : m_settings(settings), m_observer(observer) {}

CJobResult CScaleImageJob::Run() {
    m_result = CJobResult{};
    const std::string pattern = SourcePattern(m_settings.m_nSrcFile);
    int w = 0, h = 0;
    const char* refusal = m_settings.m_strSrcDir.empty()   ? "no source folder"
                          : m_settings.m_strTgtDir.empty() ? "no target folder"
                          : pattern.empty()                ? "no source file type chosen"
                          : !ScaleTargetSize(m_settings.m_nScale, 1, 1, w, h) ? "no size chosen"
                                                                              : nullptr;
    if (refusal) {
        m_result.m_end = JobEnd::Refused;
        m_result.m_strReason = refusal;
        return m_result;
    }
    m_settings.m_nJpgQuality = std::clamp(m_settings.m_nJpgQuality, 1, 100);

    CFileLister lister;
    m_result.m_nTotal = lister.Count(m_settings.m_strSrcDir, pattern);
    if (m_result.m_nTotal == 0) {
        m_result.m_end = JobEnd::NoFiles;
        return m_result;
    }
    m_pending = std::move(lister.m_paths);
    m_outputs.clear();

    std::error_code ec;
    fs::create_directories(m_settings.m_strTgtDir, ec);
    if (ec || !fs::is_directory(m_settings.m_strTgtDir)) {
        m_result.m_end = JobEnd::Failed;
        m_result.Fail(m_settings.m_strTgtDir,
                      "cannot create the target folder: " +
                          (ec ? ec.message() : std::string("not a folder")));
        return m_result;
    }

    CScaleScan scan;
    scan.Run(this, m_settings.m_strSrcDir, pattern);
    return m_result;
}

std::string CScaleImageJob::OutputPath(const std::string& source) const {
    const std::string ext = m_settings.m_nSrcFile == 1 ? ".bmp" : ".jpg";
    return (fs::path(m_settings.m_strTgtDir) / (fs::path(source).stem().string() + ext)).string();
}

bool CScaleImageJob::ScaleFile(const std::string& path) {
    ++m_result.m_nVisited;
    m_observer.FileStarted(path, m_result.m_nVisited, m_result.m_nTotal);
    if (m_observer.StopRequested()) {
        m_result.m_bStopped = true;
        return false;
    }

    const std::string source = CanonicalPath(path);
    m_pending.erase(source);
    CDibImage image;
    std::string why;
    if (!LoadImageFile(path, image, &why)) {
        m_result.m_skipped.push_back({path, why});
        return true;
    }

    const std::string output = OutputPath(path);
    const std::string outputKey = CanonicalPath(output);
    if (m_pending.count(outputKey)) {
        m_result.Fail(output, "is a source file not read yet; " + path + " is left as it is");
        return true;
    }
    if (m_outputs.count(outputKey)) {
        m_result.Fail(output, "already written from another source in this job; " + path +
                                  " is left as it is");
        return true;
    }

    int width = 0, height = 0;
    ScaleTargetSize(m_settings.m_nScale, image.m_nWidth, image.m_nHeight, width, height);
    CDibImage scaled;
    if (!ResizeToFill(image, scaled, width, height)) {
        m_result.Fail(output, "cannot make a " + std::to_string(width) + "x" +
                                  std::to_string(height) + " image");
        return true;
    }
    image.Free();

    bool bWritten;
    if (m_settings.m_bDelSrc && outputKey == source) {
        bWritten = ReplaceSource(path, output, scaled);
    } else {
        bWritten = m_result.WriteImage(output, scaled, m_settings.m_nJpgQuality);
        if (bWritten && m_settings.m_bDelSrc)
            m_result.TrashSource(path);
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
    const CStatus saved =
        SaveImageFile(output, image, m_settings.m_nJpgQuality, [&]() -> CStatus {
            if (m_result.TrashSource(source))
                return {};
            bTrashFailed = true;  // recorded by TrashSource; the original stays untouched
            return CStatus::Failure("the source could not be moved to the trash");
        });
    if (saved) {
        m_result.m_written.push_back(output);
        return true;
    }
    if (!bTrashFailed)
        m_result.Fail(output, saved.Reason());
    return false;
}
