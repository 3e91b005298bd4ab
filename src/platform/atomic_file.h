// The one way the program writes a file: under a short hidden temporary name beside its target,
// flushed to disk, then renamed into place. A failed write never leaves a half-written file
// under the target's name, nor a visible temporary one.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/status.h"

// How a written file takes its place.
struct CCommitOptions {
    CCommitOptions() = default;
    // Only a step to run before the rename: any callable returning a CStatus.
    template <class F>
    requires std::is_invocable_r_v<CStatus, F&> CCommitOptions(F beforeRename)
        : m_beforeRename(std::move(beforeRename)) {}

    // Runs once the file is written, just before it is renamed into place; its failure is the
    // write's.
    std::function<CStatus()> m_beforeRename;
    // Never replace a file of the target's name: such a file, even one that appeared a moment
    // ago, makes the commit fail with EEXIST and stays as it was.
    bool m_bNoReplace = false;
};

class CAtomicFile {
public:
    CAtomicFile() = default;
    ~CAtomicFile();  // removes the temporary file unless committed
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // Creates the temporary file beside `path`. A target that exists and is not a regular file
    // (a folder, a pipe, a device, or a link to one) is refused (CheckOutputTarget).
    CStatus Open(const std::string& path);
    std::FILE* Stream() const { return m_file; }
    // Flushes to disk, gives the file the mode of the file it replaces (or the usual mode of a
    // new file), runs the options' step when given, and renames into place (without replacing
    // when so asked). On any failure, the step's included, the temporary file is removed and
    // the target left as it was. The temporary file holds an advisory lock (flock) until it is
    // renamed or removed, which tells it from a leftover of a writer that died.
    CStatus Commit(const CCommitOptions& options = {});
    // Closes and removes the temporary file.
    void Abandon();

private:
    std::string m_strTarget;
    std::string m_strTemp;
    std::FILE* m_file = nullptr;
    int m_nLockFd = -1;  // keeps the temporary file's lock past the stream's close
};

// Fails, with the reason, when `path` exists (links followed) and is not a regular file: the
// program writes only regular files, so that no output blocks on a pipe or goes into a device.
CStatus CheckOutputTarget(const std::string& path);

// The ways to rename without replacing, each tried when the file system lacks the one before:
// renameat2(RENAME_NOREPLACE), a hard link then unlinking the old name, and creating the
// target exclusively as a placeholder that the rename then replaces.
enum class NoReplaceMethod { Rename2, Link, Placeholder };
// Renames `from` to `to` unless `to` exists (then EEXIST and both stay as they were), starting
// with `first`.
CStatus RenameNoReplace(const std::string& from, const std::string& to,
                        NoReplaceMethod first = NoReplaceMethod::Rename2);

// The ways to make a file with no name, the second where the file system refuses the first:
// O_TMPFILE, and a file created under a temporary name that is unlinked at once.
enum class UnnamedFileMethod { TmpFile, Unlinked };
// Opens a new file (mode 0600, read and write) in `folder` under no name there, so that it goes
// with its last descriptor however the process ends; the descriptor in `fd`, -1 on failure.
// For a moment the second way names it ".tarnwick-stack-" and six letters, held with a lock.
CStatus OpenUnnamedFile(const std::string& folder, int& fd,
                        UnnamedFileMethod first = UnnamedFileMethod::TmpFile);

// True for a name CAtomicFile gives its temporary files (".tarnwick-" and six letters) and for
// the one OpenUnnamedFile gives for a moment (".tarnwick-stack-" and mkstemp's six), which a
// kill leaves.
bool IsTemporaryName(const std::string& name);
// Removes from `folder` the temporary files that no live writer holds (leftovers of a writer
// that was killed); returns their paths.
std::vector<std::string> RemoveLeftoverTemporaries(const std::string& folder);

// Writes `text` as the whole of `path` through CAtomicFile.
CStatus WriteWholeFile(const std::string& path, const std::string& text);

// Opens an existing regular file for reading without ever blocking: a FIFO, a device or a
// folder is refused at once, never waited on. The caller closes the stream.
CResult<std::FILE*> OpenRegularFile(const std::string& path);
