// What the averaging and enlarging engines share: the observer and the result, the checks
// before a job starts, the start of every file (progress, the stop question), loading a source,
// and recording what was written, trashed, skipped or failed, each with its event.
#pragma once

#include <string>
#include <vector>

#include "image/dib_image.h"
#include "jobs/job_guard.h"
#include "jobs/job_observer.h"
#include "jobs/job_params.h"
#include "jobs/job_result.h"
#include "platform/status.h"

// Makes `folder` and its missing parents; fails when it cannot be made, is no folder, or files
// cannot be created in it (read-only, no permission). On failure `problem`, when given, holds
// the kind, the folder as its detail and the system's reason (the path is left to the caller).
CStatus MakeWritableFolder(const std::string& folder, CJobProblem* problem = nullptr);

class CJobEngine {
protected:
    explicit CJobEngine(IJobObserver& observer) : m_observer(observer) {}

    // Starts a fresh result. Refuses (false, the reason in the result) without a source
    // folder, without `target` (as `noTarget`) or without a source kind.
    bool BeginJob(const CJobParams& params, const std::string& target, JobRefusal noTarget);
    // Refuses with the English of RefusalReason(refusal, detail), or with `reason`.
    void Refuse(JobRefusal refusal, const std::string& detail = {});
    void Refuse(JobRefusal refusal, const std::string& detail, const std::string& reason);
    // Locks the target folder for this job, and the sources' folder `trashedFrom` unless empty
    // (refused as TargetBusy when another job holds either), removes the leftovers of a killed
    // run from the target folder (listed in the result) and notes its names.
    bool GuardTarget(const std::string& folder, const std::string& trashedFrom = {});
    // The counting pass is over with `nTotal` files: recorded; false (the job ends as NoFiles)
    // when there are none.
    bool Counted(int nTotal);
    // Makes the folder the job writes into (with missing parents) and checks that files can be
    // created in it, before any source is read. On failure the job ends as Failed with one
    // failure for `failPath` (the target as the user named it).
    bool PrepareTargetFolder(const std::string& folder, const std::string& failPath);

    // Every output whose name is taken must be a regular file: the first that is not ends the job
    // as Failed before any source is read (one failure, NotAFile).
    bool CheckOutputs(const std::vector<std::string>& outputs);

    // The start of one file of the processing pass: counted, reported, and the stop question.
    // False when the job is to stop before this file.
    bool BeginFile(const std::string& path);

    // Each records its outcome in the result and reports it.
    bool Trash(const std::string& path);
    void Fail(const std::string& path, const std::string& reason);
    void Fail(const std::string& path, JobProblemKind kind, const std::string& detail = {});
    void Fail(CJobProblem problem);
    // Reports what was recorded in the result since the last report, in that order.
    void ReportNew();

    IJobObserver& m_observer;
    CJobResult m_result;
    CJobGuard m_guard;

private:
    std::size_t m_nReportedWritten = 0;
    std::size_t m_nReportedTrashed = 0;
    std::size_t m_nReportedSkipped = 0;
    std::size_t m_nReportedFailures = 0;
};
