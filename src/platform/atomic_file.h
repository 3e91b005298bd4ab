// The one way the program writes a file: under a short hidden temporary name beside its target,
// flushed to disk, then renamed into place. A failed write never leaves a half-written file
// under the target's name, nor a visible temporary one.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "platform/status.h"

class CAtomicFile {
public:
    CAtomicFile() = default;
    ~CAtomicFile();  // removes the temporary file unless committed
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // Creates the temporary file beside `path`. A target that exists and is not a regular file
    // (a device, a pipe) is written in place instead.
    CStatus Open(const std::string& path);
    std::FILE* Stream() const { return m_file; }
    // Flushes to disk, gives the file the mode of the file it replaces (or the usual mode of a
    // new file), runs `beforeRename` when given, and renames into place. On any failure, the
    // hook's included, the temporary file is removed and the target left as it was.
    CStatus Commit(const std::function<CStatus()>& beforeRename = {});
    // Closes and removes the temporary file.
    void Abandon();

private:
    std::string m_strTarget;
    std::string m_strTemp;
    std::FILE* m_file = nullptr;
    bool m_bDirect = false;
};

// Writes `text` as the whole of `path` through CAtomicFile.
CStatus WriteWholeFile(const std::string& path, const std::string& text);

// Opens an existing regular file for reading without ever blocking: a FIFO, a device or a
// folder is refused at once, never waited on. Null with the reason in `why`.
std::FILE* OpenRegularFile(const std::string& path, std::string& why);
