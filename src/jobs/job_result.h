// What a batch job did: how it ended, what it wrote and moved to the trash, what it skipped and
// what failed (each with the path and the reason). A job never reports success over a failure.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "image/dib_image.h"
#include "platform/trash.h"

enum class JobEnd {
    Finished,      // ran to its end, or stopped on request (see m_bStopped)
    Refused,       // not started: the parameters cannot be used (m_strReason says which)
    NoFiles,       // the source folder holds none of the required files
    NothingAdded,  // averaging: no image could be added, nothing written
    Failed,        // ended early by a failure listed in m_failures
};

// Why a job refused to start. The engine's English reason (what the command line prints) is
// RefusalReason(kind, detail), but for the two whose English each job words itself
// (TargetIsSource, TargetBusy); the front ends word each kind in their own language.
enum class JobRefusal {
    None,                  // only the English reason says it
    NoSource,              // no source folder
    NoTarget,              // no target file
    NoChoice,              // no source kind chosen
    TargetIsSource,        // an output would replace a source that is not going to the trash
    TargetBusy,            // another job is writing into the target folder
    NoTargetFolder,        // enlarging: no target folder
    NoSize,                // enlarging: no size chosen
    NegativeLimit,         // averaging: a limit of images below 0
    ReportIsResult,        // averaging: the report (the detail) would replace the result
    ReportIsSource,        // averaging: the report (the detail) would replace a source image
    ReportInSourceFolder,  // averaging: the report (the detail) would lie among the sources
    BadKappa,              // stacking: kappa (the detail) not above 0
    BadReferenceCount,     // stacking: fewer than 1 reference candidate (the detail)
    NegativeDivisor,       // stacking: a divisor of the mean below 0
    BadOverlap,            // stacking: the least overlap outside 0..1
};

// What went wrong with a file, for the front ends that word it in their own language. The
// engine's English reason (what the command line prints) is ProblemReason(kind, detail).
enum class JobProblemKind {
    Other,              // only the English reason says it
    Unreadable,         // skipped: the loader's reason is the detail
    WriteFailed,        // the system's reason is the detail
    TrashFailed,        // the trash's reason is the detail
    AppearedMeanwhile,  // a file of that name appeared while the job ran; left as it is
    SourceNotReadYet,   // the output is a source not read yet; the detail is the path left as it is
    WrittenAlready,     // another source of the job wrote the output; the detail as above
    SourceStays,        // the output is a source that stays; the detail as above
    SourceImageStays,   // averaging: the target is a source image that stays; nothing written
    NoImage,            // an image of the detail's size ("640x480") could not be made
    NoResizedCopy,      // averaging: the resized copy could not be made
    FolderNotMade,      // the detail is the folder that cannot be made, m_strSystem the reason
    NotAFolder,         // the detail is a path that should be a folder and is something else
    FolderNotWritable,  // no files can be made in the detail's folder, m_strSystem says why
    NoMemoryForSums,    // averaging: no memory for the sums of an image of the detail's size
    StackNoMemory,      // stacking: no memory for the pictures or the work on them
    StackStoreFailed,   // stacking: the temporary picture store in the detail's folder failed,
                        // m_strSystem says why
    NotAFile,           // an output's name is taken by a folder, a pipe or a device; the detail
                        // says which
};

struct CJobProblem {
    CJobProblem() = default;
    CJobProblem(std::string path, std::string reason, JobProblemKind kind = JobProblemKind::Other,
                std::string detail = {}, std::string system = {})
        : m_strPath(std::move(path)),
          m_strReason(std::move(reason)),
          m_kind(kind),
          m_strDetail(std::move(detail)),
          m_strSystem(std::move(system)) {}

    std::string m_strPath;
    std::string m_strReason;  // English
    JobProblemKind m_kind = JobProblemKind::Other;
    std::string m_strDetail;  // the varying part of the reason (see JobProblemKind)
    std::string m_strSystem;  // the system's own reason, for the kinds that have one
};

// The English reason of a problem of `kind` with `detail` (and the system's reason `system`).
std::string ProblemReason(JobProblemKind kind, const std::string& detail,
                          const std::string& system = {});
// A problem of `kind` with its English reason.
CJobProblem MakeProblem(const std::string& path, JobProblemKind kind,
                        const std::string& detail = {}, const std::string& system = {});
// The English reason of a refusal of `kind` with `detail` (see JobRefusal).
std::string RefusalReason(JobRefusal kind, const std::string& detail = {});

struct CJobResult {
    JobEnd m_end = JobEnd::Finished;
    bool m_bStopped = false;
    std::string m_strReason;  // why a job was refused
    JobRefusal m_refusal = JobRefusal::None;
    // The varying part of the refusal (see JobRefusal).
    std::string m_strRefusalDetail;
    int m_nTotal = 0;         // N of the counting pass (averaging: at most 255)
    int m_nVisited = 0;       // files handed to the job, the one it stopped on included
    int m_nUsed = 0;          // images averaged, or files enlarged
    std::string m_strTarget;  // averaging: the target file used (after auto-numbering)
    // Averaging: images used whose size differs from the first; only the overlap entered.
    int m_nOtherSize = 0;
    std::vector<std::string> m_written;
    std::vector<std::string> m_trashed;
    // Where each of m_trashed went in the trash, in the same order (for putting them back).
    std::vector<CTrashedFile> m_trashPlaces;
    std::vector<CJobProblem> m_skipped;    // unreadable or without pixels; left in place
    std::vector<std::string> m_unused;     // averaging: read but past the 255th, not averaged
    std::vector<CJobProblem> m_failures;   // writes and moves to the trash that failed
    std::vector<std::string> m_leftovers;  // temporary files of a killed earlier run, removed
    // Averaging with alignment: no image had anything to register on (all read, none used).
    bool m_bNoneAlignable = false;

    // True when the job ran to its end (or was stopped) and nothing failed.
    bool Ok() const { return m_end == JobEnd::Finished && m_failures.empty(); }

    // Moves a source to the trash, recording it as trashed or the failure.
    bool TrashSource(const std::string& path);
    void Fail(const std::string& path, const std::string& reason);
    void Fail(const std::string& path, JobProblemKind kind, const std::string& detail = {});
};

// The summaries name this many of the files moved to the trash, then "…".
inline constexpr std::size_t kTrashedNamed = 10;

// `path` with symbolic links, "." and ".." resolved, whether or not it exists yet: two paths of
// the same file give the same text.
std::string CanonicalPath(const std::string& path);
bool SamePath(const std::string& a, const std::string& b);
