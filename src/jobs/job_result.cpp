#include "jobs/job_result.h"

#include <filesystem>
#include <utility>

#include "image/image_file.h"
#include "platform/trash.h"
#include "stack/image_stacker.h"

bool CJobResult::TrashSource(const std::string& path) {
    CTrashedFile where;
    if (const CStatus trashed = MoveToTrash(path, &where); !trashed) {
        Fail(path, JobProblemKind::TrashFailed, trashed.Reason());
        return false;
    }
    m_trashed.push_back(path);
    m_trashPlaces.push_back(std::move(where));
    return true;
}

void CJobResult::Fail(const std::string& path, const std::string& reason) {
    m_failures.push_back({path, reason});
}

void CJobResult::Fail(const std::string& path, JobProblemKind kind, const std::string& detail) {
    m_failures.push_back(MakeProblem(path, kind, detail));
}

std::string ProblemReason(JobProblemKind kind, const std::string& detail,
                          const std::string& system) {
    switch (kind) {
        case JobProblemKind::TrashFailed:
            return "cannot move to the trash: " + detail;
        case JobProblemKind::AppearedMeanwhile:
            return "appeared while the job ran; left as it is";
        case JobProblemKind::SourceNotReadYet:
            return "is a source file not read yet; " + detail + " is left as it is";
        case JobProblemKind::WrittenAlready:
            return "already written from another source in this job; " + detail +
                   " is left as it is";
        case JobProblemKind::SourceStays:
            return "is a source file that stays; " + detail + " is left as it is";
        case JobProblemKind::SourceImageStays:
            return "is a source image that stays; nothing written there";
        case JobProblemKind::NoImage:
            return "cannot make a " + detail + " image";
        case JobProblemKind::NoResizedCopy:
            return "cannot make the resized copy";
        case JobProblemKind::FolderNotMade:
            return "cannot create the folder " + detail + ": " + system;
        case JobProblemKind::NotAFolder:
            return detail + " is not a folder";
        case JobProblemKind::FolderNotWritable:
            return "cannot write into the folder " + detail + ": " + system;
        case JobProblemKind::NoMemoryForSums:
            return "not enough memory for the sums of a " + detail + " image";
        case JobProblemKind::StackNoMemory:
            return StackFailureReason(StackFailureKind::NoMemory, detail, system);
        case JobProblemKind::StackStoreFailed:
            return StackFailureReason(StackFailureKind::StoreFailed, detail, system);
        case JobProblemKind::NotAFile:
            return detail + "; nothing written there";
        case JobProblemKind::Other:
        case JobProblemKind::Unreadable:
        case JobProblemKind::WriteFailed:
            break;
    }
    return detail;
}

CJobProblem MakeProblem(const std::string& path, JobProblemKind kind, const std::string& detail,
                        const std::string& system) {
    return {path, ProblemReason(kind, detail, system), kind, detail, system};
}

std::string RefusalReason(JobRefusal kind, const std::string& detail) {
    switch (kind) {
        case JobRefusal::NoSource:
            return "no source folder";
        case JobRefusal::NoTarget:
            return "no target file";
        case JobRefusal::NoChoice:
            return "no source file type chosen";
        case JobRefusal::NoTargetFolder:
            return "no target folder";
        case JobRefusal::NoSize:
            return "no size chosen";
        case JobRefusal::NegativeLimit:
            return "the limit of images cannot be negative";
        case JobRefusal::ReportIsResult:
            return detail + ": the report would replace the result";
        case JobRefusal::ReportIsSource:
            return detail + ": the report would replace a source image";
        case JobRefusal::ReportInSourceFolder:
            return detail + ": the report would lie among the source images; write it elsewhere";
        case JobRefusal::BadKappa:
            return "kappa must be a number above 0, not " + detail;
        case JobRefusal::BadReferenceCount:
            return "the reference must be chosen among at least 1 picture, not " + detail;
        case JobRefusal::NegativeDivisor:
            return "the divisor of the mean cannot be negative";
        case JobRefusal::BadOverlap:
            return "the least overlap must lie between 0 and 1";
        case JobRefusal::None:
        case JobRefusal::TargetIsSource:
        case JobRefusal::TargetBusy:
            break;
    }
    return detail;
}

std::string CanonicalPath(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : canonical.string();
}

bool SamePath(const std::string& a, const std::string& b) {
    return CanonicalPath(a) == CanonicalPath(b);
}
