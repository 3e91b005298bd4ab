#include "platform/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

std::string ErrnoText(int error) {
    char buf[256];
    // GNU strerror_r returns the text, which may or may not live in buf.
    return strerror_r(error, buf, sizeof buf);
}

CStatus CStatus::FromErrno(int error) {
    CStatus status = Failure(ErrnoText(error ? error : EIO));
    status.m_nError = error ? error : EIO;
    return status;
}

namespace {

constexpr char kTempPrefix[] = ".tarnwick-";
constexpr char kUnnamedPrefix[] = ".tarnwick-stack-";
constexpr std::size_t kTempLetters = 6;

// `prefix` and six letters: lower case and digits, or with `bUpper` (mkstemp's) also upper case.
bool IsPrefixAndSix(const std::string& name, const std::string& prefix, bool bUpper) {
    if (name.size() != prefix.size() + kTempLetters || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        const char c = name[i];
        if (!(c >= 'a' && c <= 'z') && !(c >= '0' && c <= '9') && !(bUpper && c >= 'A' && c <= 'Z'))
            return false;
    }
    return true;
}

// ".tarnwick-" and six random letters in the target's folder: short, so that a target whose
// name is as long as names may be still gets one, and hidden, so that no scan takes it.
std::string TemporaryName(const std::string& target) {
    static thread_local std::minstd_rand random{std::random_device{}()};
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    const std::filesystem::path parent = std::filesystem::path(target).parent_path();
    std::string name = kTempPrefix;
    for (std::size_t i = 0; i < kTempLetters; ++i)
        name += kLetters[random() % (sizeof kLetters - 1)];
    return (parent / name).string();
}

}  // namespace

CAtomicFile::~CAtomicFile() {
    Abandon();
}

CStatus CheckOutputTarget(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode))
        return {};
    // Writing there would block on a pipe, vanish into a device or fail on a folder.
    return CStatus::Failure("is not a regular file (a folder, a pipe or a device)");
}

CStatus CAtomicFile::Open(const std::string& path) {
    Abandon();
    m_strTarget = path;
    if (CStatus target = CheckOutputTarget(path); !target)
        return target;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        m_strTemp = TemporaryName(path);
        // 0666 less the umask: the mode any new file of the user gets.
        fd = ::open(m_strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const int error = errno;
        m_strTemp.clear();
        return CStatus::FromErrno(error);
    }
    // Held until the rename: a cleaner that cannot take it leaves the file alone.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        m_nLockFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    m_file = ::fdopen(fd, "wb");
    if (!m_file) {
        const int error = errno;
        ::close(fd);
        Abandon();
        return CStatus::FromErrno(error);
    }
    return {};
}

CStatus CAtomicFile::Commit(const CCommitOptions& options) {
    if (!m_file)
        return CStatus::Failure("file is not open");
    int error = 0;
    if (std::fflush(m_file) != 0 || std::ferror(m_file))
        error = errno ? errno : EIO;
    if (error == 0) {
        // An existing file keeps its mode when it is replaced.
        struct stat old {};
        if (::stat(m_strTarget.c_str(), &old) == 0)
            ::fchmod(::fileno(m_file), old.st_mode & 07777);
        if (::fsync(::fileno(m_file)) != 0)
            error = errno;
    }
    if (std::fclose(m_file) != 0 && error == 0)
        error = errno ? errno : EIO;
    m_file = nullptr;
    if (error != 0) {
        Abandon();
        return CStatus::FromErrno(error);
    }
    if (options.m_beforeRename) {
        CStatus hook = options.m_beforeRename();
        if (!hook) {
            Abandon();
            return hook;
        }
    }
    if (options.m_bNoReplace) {
        if (CStatus moved = RenameNoReplace(m_strTemp, m_strTarget); !moved) {
            Abandon();
            return moved;
        }
    } else if (::rename(m_strTemp.c_str(), m_strTarget.c_str()) != 0) {
        error = errno;
        Abandon();
        return CStatus::FromErrno(error);
    }
    m_strTemp.clear();
    Abandon();  // drops the lock
    return {};
}

void CAtomicFile::Abandon() {
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    if (!m_strTemp.empty()) {
        ::unlink(m_strTemp.c_str());  // our own temporary file, never the user's
        m_strTemp.clear();
    }
    if (m_nLockFd >= 0) {
        ::close(m_nLockFd);
        m_nLockFd = -1;
    }
}

namespace {

// The file systems that cannot do a step say so with one of these.
bool Unsupported(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM ||
           error == ENOTSUP;
}

}  // namespace

CStatus RenameNoReplace(const std::string& from, const std::string& to, NoReplaceMethod first) {
    if (first <= NoReplaceMethod::Rename2) {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return {};
        if (!Unsupported(errno))
            return CStatus::FromErrno(errno);
    }
    if (first <= NoReplaceMethod::Link) {
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str());  // the temporary name; the file lives on under `to`
            return {};
        }
        if (!Unsupported(errno))
            return CStatus::FromErrno(errno);
    }
    // Claims the name first; only our own empty placeholder is ever replaced.
    const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return CStatus::FromErrno(errno);
    ::close(fd);
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return CStatus::FromErrno(error);
    }
    return {};
}

CStatus OpenUnnamedFile(const std::string& folder, int& fd, UnnamedFileMethod first) {
    if (first == UnnamedFileMethod::TmpFile) {
        fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0)
            return {};
        // Only a file system (or kernel) without O_TMPFILE falls back; any other error is final.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return CStatus::FromErrno(errno);
    }
    std::string name = (std::filesystem::path(folder) / kUnnamedPrefix).string() + "XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return CStatus::FromErrno(errno);
    // Locked while it has a name, so that no job's cleaner takes it for a leftover. A cleaner
    // that locked it first unlinks it itself, which is all the same.
    ::flock(fd, LOCK_EX | LOCK_NB);
    ::unlink(name.c_str());
    return {};
}

bool IsTemporaryName(const std::string& name) {
    return IsPrefixAndSix(name, kTempPrefix, false) || IsPrefixAndSix(name, kUnnamedPrefix, true);
}

std::vector<std::string> RemoveLeftoverTemporaries(const std::string& folder) {
    std::vector<std::string> removed;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return removed;
    const int dfd = ::dirfd(dir);
    while (const dirent* de = ::readdir(dir)) {
        if (!IsTemporaryName(de->d_name))
            continue;
        const int fd =
            ::openat(dfd, de->d_name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            continue;
        struct stat st {};
        // A writer that is alive holds its lock; only a regular file nobody holds is a leftover.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::unlinkat(dfd, de->d_name, 0) == 0)
            removed.push_back((std::filesystem::path(folder) / de->d_name).string());
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

CResult<std::FILE*> OpenRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return CStatus::FromErrno(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return CStatus::Failure(S_ISDIR(st.st_mode) ? "is a folder" : "not a regular file");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        const int error = errno;
        ::close(fd);
        return CStatus::FromErrno(error);
    }
    return file;
}

CStatus WriteWholeFile(const std::string& path, const std::string& text) {
    CAtomicFile file;
    if (CStatus opened = file.Open(path); !opened)
        return opened;
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file.Stream()) != text.size()) {
        const int error = errno;
        file.Abandon();
        return CStatus::FromErrno(error);
    }
    return file.Commit();
}
