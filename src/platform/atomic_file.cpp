#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

std::string ErrnoText(int error) {
    char buf[256];
    // GNU strerror_r returns the text, which may or may not live in buf.
    return strerror_r(error, buf, sizeof buf);
}

CAtomicFile::~CAtomicFile() {
    Abandon();
}

bool CAtomicFile::Open(const std::string& path, std::string* why) {
    Abandon();
    m_strTarget = path;
    struct stat st {};
    m_bDirect = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
    int fd = -1;
    if (m_bDirect) {
        fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    } else {
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            m_strTemp = path + ".tmp-" + std::to_string(::getpid()) + "-" +
                        std::to_string(counter.fetch_add(1));
            fd = ::open(m_strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST)
                break;
        }
    }
    if (fd < 0) {
        if (why)
            *why = ErrnoText(errno);
        m_strTemp.clear();
        return false;
    }
    m_file = ::fdopen(fd, "wb");
    if (!m_file) {
        if (why)
            *why = ErrnoText(errno);
        ::close(fd);
        Abandon();
        return false;
    }
    return true;
}

bool CAtomicFile::Commit(std::string* why) {
    if (!m_file) {
        if (why)
            *why = "file is not open";
        return false;
    }
    int error = 0;
    if (std::fflush(m_file) != 0 || std::ferror(m_file))
        error = errno ? errno : EIO;
    if (std::fclose(m_file) != 0 && error == 0)
        error = errno ? errno : EIO;
    m_file = nullptr;
    if (error == 0 && !m_bDirect && ::rename(m_strTemp.c_str(), m_strTarget.c_str()) != 0)
        error = errno;
    if (error != 0) {
        if (why)
            *why = ErrnoText(error);
        Abandon();
        return false;
    }
    m_strTemp.clear();
    return true;
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
