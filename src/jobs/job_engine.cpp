#include "jobs/job_engine.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "image/image_file.h"
#include "platform/atomic_file.h"
#include "platform/make_folder.h"

CStatus MakeWritableFolder(const std::string& folder, CJobProblem* problem) {
    namespace fs = std::filesystem;
    const fs::path path = folder.empty() ? fs::path(".") : fs::path(folder);
    const auto fail = [&](JobProblemKind kind, const std::string& system) {
        CJobProblem made = MakeProblem(std::string(), kind, path.string(), system);
        CStatus status = CStatus::Failure(made.m_strReason);
        if (problem)
            *problem = std::move(made);
        return status;
    };
    // A name taken by something else than a folder is the one failure without an errno.
    if (CStatus made = MakeFolder(path.string()); !made)
        return made.Error() != 0 ? fail(JobProblemKind::FolderNotMade, made.Reason())
                                 : fail(JobProblemKind::NotAFolder, {});
    // Creating and renaming files needs write and search permission on the folder.
    if (access(path.c_str(), W_OK | X_OK) != 0)
        return fail(JobProblemKind::FolderNotWritable, ErrnoText(errno));
    return {};
}

bool CJobEngine::BeginJob(const CJobParams& params, const std::string& target,
                          JobRefusal noTarget) {
    m_result = CJobResult{};
    m_nReportedWritten = m_nReportedTrashed = m_nReportedSkipped = m_nReportedFailures = 0;
    if (params.m_strSrcDir.empty())
        Refuse(JobRefusal::NoSource);
    else if (target.empty())
        Refuse(noTarget);
    else if (!params.m_source)
        Refuse(JobRefusal::NoChoice);
    return m_result.m_end != JobEnd::Refused;
}

void CJobEngine::Refuse(JobRefusal refusal, const std::string& detail) {
    Refuse(refusal, detail, RefusalReason(refusal, detail));
}

void CJobEngine::Refuse(JobRefusal refusal, const std::string& detail, const std::string& reason) {
    m_result.m_end = JobEnd::Refused;
    m_result.m_refusal = refusal;
    m_result.m_strRefusalDetail = detail;
    m_result.m_strReason = reason;
}

bool CJobEngine::GuardTarget(const std::string& folder, const std::string& trashedFrom) {
    const auto busy = [this](const std::string& busyFolder) {
        Refuse(JobRefusal::TargetBusy, busyFolder,
               busyFolder +
                   ": another job is writing into this folder; start this one once it has "
                   "ended");
        return false;
    };
    if (!m_guard.Lock(folder))
        return busy(folder);
    // A job that moves its sources to the trash owns their folder as well: a second such job
    // would trash files under the first one's hands.
    if (!trashedFrom.empty() && !m_guard.LockAlso(trashedFrom)) {
        m_guard.Unlock();
        return busy(trashedFrom);
    }
    m_result.m_leftovers = m_guard.Begin(folder);
    return true;
}

bool CJobEngine::Counted(int nTotal) {
    m_result.m_nTotal = nTotal;
    if (nTotal == 0) {
        m_result.m_end = JobEnd::NoFiles;
        return false;
    }
    return true;
}

bool CJobEngine::PrepareTargetFolder(const std::string& folder, const std::string& failPath) {
    CJobProblem problem;
    if (MakeWritableFolder(folder, &problem))
        return true;
    m_result.m_end = JobEnd::Failed;
    problem.m_strPath = failPath;
    m_result.m_failures.push_back(std::move(problem));
    ReportNew();
    return false;
}

bool CJobEngine::CheckOutputs(const std::vector<std::string>& outputs) {
    for (const std::string& output : outputs) {
        if (const CStatus target = CheckOutputTarget(output); !target) {
            m_result.m_end = JobEnd::Failed;
            Fail(MakeProblem(output, JobProblemKind::NotAFile, target.Reason()));
            return false;
        }
    }
    return true;
}

bool CJobEngine::BeginFile(const std::string& path) {
    ++m_result.m_nVisited;
    m_observer.OnEvent(CFileStarted{path, m_result.m_nVisited, m_result.m_nTotal});
    if (m_observer.StopRequested()) {
        m_result.m_bStopped = true;
        return false;
    }
    return true;
}

bool CJobEngine::Trash(const std::string& path) {
    const bool bTrashed = m_result.TrashSource(path);
    ReportNew();
    return bTrashed;
}

void CJobEngine::Fail(const std::string& path, const std::string& reason) {
    m_result.Fail(path, reason);
    ReportNew();
}

void CJobEngine::Fail(const std::string& path, JobProblemKind kind, const std::string& detail) {
    m_result.Fail(path, kind, detail);
    ReportNew();
}

void CJobEngine::Fail(CJobProblem problem) {
    m_result.m_failures.push_back(std::move(problem));
    ReportNew();
}

void CJobEngine::ReportNew() {
    for (; m_nReportedWritten < m_result.m_written.size(); ++m_nReportedWritten)
        m_observer.OnEvent(CFileWritten{m_result.m_written[m_nReportedWritten]});
    for (; m_nReportedTrashed < m_result.m_trashed.size(); ++m_nReportedTrashed)
        m_observer.OnEvent(CFileTrashed{m_result.m_trashed[m_nReportedTrashed]});
    for (; m_nReportedSkipped < m_result.m_skipped.size(); ++m_nReportedSkipped) {
        const CJobProblem& p = m_result.m_skipped[m_nReportedSkipped];
        m_observer.OnEvent(CFileSkipped{p.m_strPath, p.m_strReason});
    }
    for (; m_nReportedFailures < m_result.m_failures.size(); ++m_nReportedFailures) {
        const CJobProblem& p = m_result.m_failures[m_nReportedFailures];
        m_observer.OnEvent(CFileFailed{p.m_strPath, p.m_strReason});
    }
}
