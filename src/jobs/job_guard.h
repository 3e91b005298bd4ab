// What keeps a batch job from losing a file: a lock on its target folder against a second job,
// the removal of temporary files a killed run left there, and the names the folder held when the
// job began (an output never replaces a file that appeared later).
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

class CJobGuard {
public:
    CJobGuard() = default;
    ~CJobGuard();  // releases the lock
    CJobGuard(const CJobGuard&) = delete;
    CJobGuard& operator=(const CJobGuard&) = delete;

    // Takes the advisory lock (flock) of `folder` for this job, without waiting. False when
    // another job, in this process or another, holds it. A folder that does not exist is not
    // locked (nothing can be written there); true.
    bool Lock(const std::string& folder);
    // Takes the lock of one more folder (a job that trashes its sources locks their folder too);
    // true when it is held already.
    bool LockAlso(const std::string& folder);
    // Releases every lock.
    void Unlock();

    // Removes the temporary files of a killed earlier run from `folder` (those no live writer
    // holds) and notes the names the folder holds now; returns the removed paths.
    std::vector<std::string> Begin(const std::string& folder);
    // True when a file of the name of `path` was in the folder when Begin ran.
    bool ExistedAtStart(const std::string& path) const;

private:
    std::vector<std::pair<std::string, int>> m_locks;  // canonical folder, descriptor
    std::set<std::string> m_existing;                  // canonical paths
};

// The folder a target file is written into ("." for a bare name).
std::string FolderOf(const std::string& path);
