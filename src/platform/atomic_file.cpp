#include "platform/atomic_file.h"

#include <fcntl.h>
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
    return Failure(ErrnoText(error ? error : EIO));
}

namespace {

// ".tarnwick-" and six random letters in the target's folder: short, so that a target whose
// name is as long as names may be still gets one, and hidden, so that no scan takes it.
std::string TemporaryName(const std::string& target) {
    static thread_local std::minstd_rand random{std::random_device{}()};
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    const std::filesystem::path parent = std::filesystem::path(target).parent_path();
    std::string name = ".tarnwick-";
    for (int i = 0; i < 6; ++i)
        name += kLetters[random() % (sizeof kLetters - 1)];
    return (parent / name).string();
}

}  // namespace

CAtomicFile::~CAtomicFile() {
    Abandon();
}

CStatus CAtomicFile::Open(const std::string& path) {
    Abandon();
    m_strTarget = path;
    struct stat st {};
    m_bDirect = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
    int fd = -1;
    if (m_bDirect) {
        fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    } else {
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            m_strTemp = TemporaryName(path);
            // 0666 less the umask: the mode any new file of the user gets.
            fd = ::open(m_strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST)
                break;
        }
    }
    if (fd < 0) {
        const int error = errno;
        m_strTemp.clear();
        return CStatus::FromErrno(error);
    }
    m_file = ::fdopen(fd, "wb");
    if (!m_file) {
        const int error = errno;
        ::close(fd);
        Abandon();
        return CStatus::FromErrno(error);
    }
    return {};
}

CStatus CAtomicFile::Commit(const std::function<CStatus()>& beforeRename) {
    if (!m_file)
        return CStatus::Failure("file is not open");
    int error = 0;
    if (std::fflush(m_file) != 0 || std::ferror(m_file))
        error = errno ? errno : EIO;
    if (error == 0 && !m_bDirect) {
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
    if (m_bDirect)
        return {};
    if (beforeRename) {
        CStatus hook = beforeRename();
        if (!hook) {
            Abandon();
            return hook;
        }
    }
    if (::rename(m_strTemp.c_str(), m_strTarget.c_str()) != 0) {
        error = errno;
        Abandon();
        return CStatus::FromErrno(error);
    }
    m_strTemp.clear();
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
}

std::FILE* OpenRegularFile(const std::string& path, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        why = ErrnoText(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = S_ISDIR(st.st_mode) ? "is a folder" : "not a regular file";
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        why = ErrnoText(errno);
        ::close(fd);
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
