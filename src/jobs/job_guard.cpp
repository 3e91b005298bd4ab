#include "jobs/job_guard.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

#include "jobs/job_result.h"
#include "platform/atomic_file.h"

namespace fs = std::filesystem;

namespace {

// A name in a folder, whatever it is (a link stays a link): the canonical folder and the name.
std::string NameKey(const std::string& folder, const std::string& name) {
    return (fs::path(CanonicalPath(folder)) / name).string();
}

}  // namespace

CJobGuard::~CJobGuard() {
    Unlock();
}

bool CJobGuard::Lock(const std::string& folder) {
    Unlock();
    return LockAlso(folder);
}

bool CJobGuard::LockAlso(const std::string& folder) {
    // A folder held already is not locked twice: a second lock of this process would conflict
    // with the first.
    const std::string canonical = CanonicalPath(folder);
    for (const auto& held : m_locks)
        if (held.first == canonical)
            return true;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_locks.emplace_back(canonical, fd);
    return true;
}

void CJobGuard::Unlock() {
    for (const auto& held : m_locks) ::close(held.second);
    m_locks.clear();
}

std::vector<std::string> CJobGuard::Begin(const std::string& folder) {
    std::vector<std::string> removed = RemoveLeftoverTemporaries(folder);
    m_existing.clear();
    if (DIR* dir = ::opendir(folder.c_str())) {
        const std::string canonical = CanonicalPath(folder);
        while (const dirent* de = ::readdir(dir))
            m_existing.insert((fs::path(canonical) / de->d_name).string());
        ::closedir(dir);
    }
    return removed;
}

bool CJobGuard::ExistedAtStart(const std::string& path) const {
    const fs::path p(path);
    return m_existing.count(NameKey(FolderOf(path), p.filename().string())) != 0;
}

std::string FolderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}
