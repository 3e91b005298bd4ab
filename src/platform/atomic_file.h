// Writes a file under a temporary name beside its target and renames it into place once every
// byte is out, so a failed write never leaves a half-written file under the target's name.
#pragma once

#include <cstdio>
#include <string>

class CAtomicFile {
public:
    CAtomicFile() = default;
    ~CAtomicFile();  // removes the temporary file unless committed
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // Creates the temporary file. False (with the system's reason in *why) when it cannot.
    bool Open(const std::string& path, std::string* why);
    std::FILE* Stream() const { return m_file; }
    // Flushes, closes and renames into place. False with the reason when any step fails.
    bool Commit(std::string* why);
    // Closes and removes the temporary file.
    void Abandon();

private:
    std::string m_strTarget;
    std::string m_strTemp;
    std::FILE* m_file = nullptr;
    bool m_bDirect = false;  // target is not a regular file (a device, a pipe): written in place
};

// The system's text for an errno value.
std::string ErrnoText(int error);
