// Moving a file to the desktop's trash (freedesktop trash rules: the home trash under the data
// folder, or a top-folder trash on other file systems), through GIO, and putting it back. Files
// are never deleted.
#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

// Where a trashed file went: the trash keeps it under files/NAME and records where it came from
// in info/NAME.trashinfo (its Path= key).
struct CTrashedFile {
    std::string m_strPath;       // where it was, absolute
    std::string m_strTrashFile;  // the file in the trash; empty when it could not be told
    std::string m_strInfoFile;   // its .trashinfo
};

// Moves `path` to the trash; a failure carries GIO's reason (the file stays put). `where`, when
// given, gets the file's place in the trash.
CStatus MoveToTrash(const std::string& path, CTrashedFile* where = nullptr);

enum class RestoreOutcome {
    Restored,    // back at its path, and gone from the trash
    PathTaken,   // another file stands at its path now; both stay as they are
    NotInTrash,  // the trash holds it no more (emptied, put back already), or never told where
    Failed,      // the system refused (m_strWhy); it stays in the trash
};

struct CRestoredFile {
    std::string m_strPath;  // where it was
    RestoreOutcome m_outcome = RestoreOutcome::Failed;
    std::string m_strWhy;  // Failed: the system's reason
};

// Puts each file back where it was, never over a file that stands there now; one answer per
// file, in the same order.
std::vector<CRestoredFile> RestoreFromTrash(const std::vector<CTrashedFile>& files);
