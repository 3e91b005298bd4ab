#include "jobs/job_result.h"

#include <filesystem>

#include "image/image_file.h"
#include "platform/trash.h"

bool CJobResult::WriteImage(const std::string& path, CDibImage& image, int quality,
                            const CCommitOptions& commit) {
    if (CStatus saved = SaveImageFile(path, image, quality, commit); !saved) {
        Fail(path, saved.Reason());
        return false;
    }
    m_written.push_back(path);
    return true;
}

bool CJobResult::TrashSource(const std::string& path) {
    std::string why;
    if (!MoveToTrash(path, &why)) {
        Fail(path, "cannot move to the trash: " + why);
        return false;
    }
    m_trashed.push_back(path);
    return true;
}

void CJobResult::Fail(const std::string& path, const std::string& reason) {
    m_failures.push_back({path, reason});
}

std::string CanonicalPath(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : canonical.string();
}

bool SamePath(const std::string& a, const std::string& b) {
    return CanonicalPath(a) == CanonicalPath(b);
}
