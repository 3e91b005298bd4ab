#include "jobs/merge_image_job.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>

#include "image/image_file.h"
#include "jobs/merge_plain.h"
#include "jobs/merge_stacking.h"
#include "jobs/merge_workers.h"
#include "jobs/resize_to_fill.h"
#include "platform/atomic_file.h"
#include "platform/free_name.h"

namespace fs = std::filesystem;

namespace {

struct CExtra {
    bool CMergeParams::*m_pbOn;
    int m_nWidth;
    int m_nHeight;
};
const CExtra kExtras[] = {
    {&CMergeParams::m_bExtra800, 800, 600},
    {&CMergeParams::m_bExtra1024, 1024, 768},
};

bool IsLink(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

CMergeImageJob::CMergeImageJob(const CMergeParams& params, IJobObserver& observer,
                               const CRunContext& context)
    : CJobEngine(observer), m_params(params), m_context(context) {}

CMergeImageJob::~CMergeImageJob() = default;

CJobResult CMergeImageJob::Run() {
    if (!BeginJob(m_params, m_params.m_strTargetFile, JobRefusal::NoTarget))
        return m_result;
    m_params.m_nJpgQuality = std::clamp(m_params.m_nJpgQuality, 1, 100);
    if (const CStackRefusal refused = StackOptionsRefusal(StackOptions());
        refused.m_refusal != JobRefusal::None) {
        Refuse(refused.m_refusal, refused.m_strDetail);
        return m_result;
    }
    if (m_params.m_nLimit < 0) {
        Refuse(JobRefusal::NegativeLimit);
        return m_result;
    }
    const std::string pattern = SourcePattern(*m_params.m_source);

    std::vector<std::string> paths;
    const auto listSources = [&] {
        paths = ListMatchingFiles(m_params.m_strSrcDir, pattern);
        // Mean keeps the cap of 255; the others take every file unless limited.
        int cap = int(std::min<std::size_t>(paths.size(), std::size_t(INT_MAX)));
        if (m_params.m_method == StackMethod::Mean)
            cap = std::min(cap, kMaxMergeFiles);
        else if (m_params.m_nLimit > 0)
            cap = std::min(cap, m_params.m_nLimit);
        m_nFiles = cap;
        m_sources.clear();
        for (const std::string& path : paths) m_sources.insert(CanonicalPath(path));
        return Counted(m_nFiles);
    };
    if (!listSources())
        return m_result;
    // A target that cannot be written ends the job before any source is read.
    if (!PrepareTargetFolder(fs::path(m_params.m_strTargetFile).parent_path().string(),
                             m_params.m_strTargetFile))
        return m_result;
    // The lock comes before the name is chosen: a second job on the same target waits for
    // nothing and takes no number.
    if (!GuardTarget(FolderOf(m_params.m_strTargetFile),
                     m_params.m_bDelSrc ? m_params.m_strSrcDir : std::string()))
        return m_result;
    // Listed again under the lock: a job that held it may have moved sources meanwhile.
    if (!listSources())
        return m_result;
    if (m_params.m_bAutoNumber)
        m_params.m_strTargetFile = MakeUniqueTarget(m_params.m_strTargetFile);
    const std::string& report = m_params.m_strReportFile;
    if (!report.empty()) {
        for (const std::string& output : OutputPaths()) {
            if (SamePath(output, report)) {
                Refuse(JobRefusal::ReportIsResult, report);
                return m_result;
            }
        }
        if (m_sources.count(CanonicalPath(report))) {
            Refuse(JobRefusal::ReportIsSource, report);
            return m_result;
        }
        // Later runs would take a report in the source folder for a source, or skip it.
        if (SamePath(FolderOf(report), m_params.m_strSrcDir)) {
            Refuse(JobRefusal::ReportInSourceFolder, report);
            return m_result;
        }
        // Its folder is made now, so a report that cannot be written ends the job before any
        // source is read.
        if (!PrepareTargetFolder(FolderOf(report), report))
            return m_result;
    }
    if (!m_params.m_bDelSrc) {
        for (const std::string& output : OutputPaths()) {
            if (m_sources.count(CanonicalPath(output))) {
                Refuse(JobRefusal::TargetIsSource, output,
                       output +
                           ": is one of the source images; the result would replace it. "
                           "Choose another target, or have the sources moved to the trash");
                return m_result;
            }
        }
    }
    std::vector<std::string> outputs = OutputPaths();
    if (!report.empty())
        outputs.push_back(report);
    if (!CheckOutputs(outputs))
        return m_result;
    m_result.m_strTarget = m_params.m_strTargetFile;
    m_observer.OnEvent(CTargetChosen{m_params.m_strTargetFile});
    m_observer.OnEvent(CJobStarted{m_nFiles});

    m_nBufWidth = m_nBufHeight = m_nSeen = 0;
    m_loaded.clear();
    m_report.clear();
    const int threads = m_context.Workers();
    m_order = std::make_unique<CMergeOrder>(paths.size(), m_nFiles);
    if (Plain())
        m_plain = std::make_unique<CMergePlain>(threads, m_nFiles, *m_order);
    else
        m_stacking = std::make_unique<CMergeStacking>(StackOptions(), threads, m_nFiles, *m_order);
    if (m_params.m_bAlign) {
        if (!m_stacking->FindReference(paths, m_observer))
            m_result.m_bStopped = true;
        else if (m_stacking->NoneAlignable())
            m_result.m_bNoneAlignable = true;
    }
    if (!m_result.m_bStopped) {
        CParallelLoader<CMergeLoaded> loader(
            paths.size(), threads, std::size_t(2 * threads), [&](std::size_t index, int worker) {
                return m_plain ? m_plain->LoadAndAdd(paths[index], index, worker)
                               : m_stacking->LoadAndPlace(paths, index, worker);
            });
        for (const std::string& path : paths) {
            if (!AddImage(path, loader))
                break;
        }
    }  // the files under way are done
    // Stacking: the workers' pictures and registrations are done with; their memory goes back
    // before the stacker's result needs its own. (The plain average still merges their sums.)
    if (m_stacking)
        m_stacking->EndLoading();

    if (m_result.m_end != JobEnd::Failed) {
        if (m_result.m_nUsed == 0)
            m_result.m_end = JobEnd::NothingAdded;
        else if (!m_result.m_bStopped)
            WriteResult();
    }
    m_plain.reset();
    m_stacking.reset();
    m_order.reset();
    m_guard.Unlock();
    return m_result;
}

bool CMergeImageJob::AddImage(const std::string& path, CParallelLoader<CMergeLoaded>& loader) {
    if (!BeginFile(path))
        return false;
    std::optional<CMergeLoaded> loaded = loader.Next();
    if (!loaded)
        return false;
    if (!loaded->m_bLoaded && !loaded->m_strFailure.empty()) {
        m_result.m_end = JobEnd::Failed;
        Fail(path, loaded->m_strFailure);
        return false;
    }
    if (!loaded->m_bLoaded) {
        m_result.m_skipped.push_back(
            MakeProblem(path, JobProblemKind::Unreadable, loaded->m_strWhy));
        m_report.push_back(LeftOut(path, loaded->m_strWhy));
        ReportNew();
        return true;
    }
    // Loaded files go to the trash with the others once the result is written, also those
    // past the 255th (or the limit) that do not enter the average.
    m_loaded.push_back(path);
    if (++m_nSeen > m_nFiles) {
        m_result.m_unused.push_back(path);
        m_report.push_back(LeftOut(path, "past the first " + std::to_string(m_nFiles) + " images"));
        return true;
    }
    if (loaded->Failed()) {
        m_result.m_end = JobEnd::Failed;
        Fail(path, loaded->m_failureKind, loaded->m_strFailure);
        return false;
    }
    // Another size than the first: only the overlap enters, which the summary tells.
    if (m_stacking ? loaded->m_placed.m_bUsed && loaded->m_placed.m_bOtherSize
                   : loaded->m_bOtherSize)
        ++m_result.m_nOtherSize;
    if (m_stacking)
        return StackImage(path, *loaded);
    m_nBufWidth = loaded->m_nSumWidth;
    m_nBufHeight = loaded->m_nSumHeight;
    ++m_result.m_nUsed;
    CStackFile used;
    used.m_strPath = path;
    used.m_bUsed = true;
    m_report.push_back(used);
    return true;
}

bool CMergeImageJob::Plain() const {
    return m_params.m_method == StackMethod::Mean && !m_params.m_bAlign;
}

CStackOptions CMergeImageJob::StackOptions() const {
    CStackOptions options;
    options.m_method = m_params.m_method;
    options.m_dKappa = m_params.m_dKappa;
    options.m_bAlign = m_params.m_bAlign;
    // Mean divides by N whatever was left out, as the plain average does.
    options.m_nMeanDivisor = m_params.m_method == StackMethod::Mean ? m_nFiles : 0;
    // The target's folder is known to be writable, and is no memory-backed /tmp.
    options.m_strTempDir = FolderOf(m_params.m_strTargetFile);
    // The median and the sigma clip combine on as many threads as the job decodes on.
    options.m_nThreads = m_context.Workers();
    options.m_bVectors = m_context.StackVectors();
    return options;
}

bool CMergeImageJob::StackImage(const std::string& path, CMergeLoaded& loaded) {
    const std::size_t before = m_stacking->Files().size();
    if (!m_stacking->Add(loaded)) {
        m_result.m_end = JobEnd::Failed;
        FailStacking(path);
        return false;
    }
    const std::vector<CStackFile>& files = m_stacking->Files();
    for (std::size_t i = before; i < files.size(); ++i) {
        const CStackFile& file = files[i];
        m_report.push_back(file);
        if (file.m_bUsed) {
            ++m_result.m_nUsed;
            continue;
        }
        // Left out by alignment: a skipped file, which stays where it is.
        m_result.m_skipped.push_back({file.m_strPath, file.m_strReason});
        const auto it = std::find(m_loaded.rbegin(), m_loaded.rend(), file.m_strPath);
        if (it != m_loaded.rend())
            m_loaded.erase(std::next(it).base());
    }
    ReportNew();
    return true;
}

void CMergeImageJob::FailStacking(const std::string& path) {
    const CStackFailure& failure = m_stacking->Failure();
    switch (failure.m_kind) {
        case StackFailureKind::NoMemory:
            Fail(MakeProblem(path, JobProblemKind::StackNoMemory));
            return;
        case StackFailureKind::StoreFailed:
            Fail(MakeProblem(path, JobProblemKind::StackStoreFailed, failure.m_strFolder,
                             failure.m_strSystem));
            return;
        case StackFailureKind::Other:
            break;
    }
    Fail(MakeProblem(path, JobProblemKind::Other, failure.m_strReason));
}

CStackRefusal StackOptionsRefusal(const CStackOptions& options) {
    CStackOptionCheck check = CheckStackOptions(options);
    const auto refuse = [&](JobRefusal refusal) {
        return CStackRefusal{refusal, std::move(check.m_strDetail)};
    };
    switch (check.m_fault) {
        case StackOptionFault::None:
            break;
        case StackOptionFault::BadKappa:
            return refuse(JobRefusal::BadKappa);
        case StackOptionFault::BadReferenceCount:
            return refuse(JobRefusal::BadReferenceCount);
        case StackOptionFault::NegativeDivisor:
            return refuse(JobRefusal::NegativeDivisor);
        case StackOptionFault::BadOverlap:
            return refuse(JobRefusal::BadOverlap);
    }
    return {};
}

void CMergeImageJob::WriteResult() {
    const std::string& target = m_params.m_strTargetFile;
    CDibImage average;
    if (m_stacking) {
        if (!m_stacking->Finish(average)) {
            FailStacking(target);
            return;
        }
    } else {
        if (!m_plain->BuildAverage(m_nBufWidth, m_nBufHeight, average)) {
            Fail(target, JobProblemKind::NoImage,
                 std::to_string(m_nBufWidth) + "x" + std::to_string(m_nBufHeight));
            return;
        }
    }
    const bool bBmp = IsBmpPath(target);  // ".bmp" or ".dib", any case
    // The quality is read now: the page lets it change while the job runs.
    const int quality = bBmp ? m_params.m_nJpgQuality
                             : std::clamp(m_observer.ResultQuality(m_params.m_nJpgQuality), 1, 100);
    bool bAllWritten = WriteOutput(target, average, quality, m_params.m_bAutoNumber);

    for (const CExtra& extra : kExtras) {
        if (!(m_params.*extra.m_pbOn))
            continue;
        const std::string path = ExtraPath(extra.m_nWidth, extra.m_nHeight);
        m_observer.OnEvent(CResizeStarted{extra.m_nWidth, extra.m_nHeight});
        CDibImage copy;
        if (!ResizeToFill(average, copy, extra.m_nWidth, extra.m_nHeight, m_context.Resample())) {
            Fail(path, JobProblemKind::NoResizedCopy);
            bAllWritten = false;
            continue;
        }
        bAllWritten = WriteOutput(path, copy, quality, false) && bAllWritten;
    }
    if (!m_params.m_strReportFile.empty())
        bAllWritten = WriteReport() && bAllWritten;

    if (!bAllWritten || !m_params.m_bDelSrc)
        return;
    for (const std::string& source : m_loaded) {
        // A source that an output replaced went to the trash just before.
        const bool bTrashed =
            std::any_of(m_result.m_trashed.begin(), m_result.m_trashed.end(),
                        [&](const std::string& gone) { return SamePath(gone, source); });
        if (!bTrashed)
            Trash(source);
    }
}

bool CMergeImageJob::WriteReport() {
    const std::string& path = m_params.m_strReportFile;
    if (const CStatus written = WriteWholeFile(path, StackReportCsv(m_report)); !written) {
        Fail(path, JobProblemKind::WriteFailed, written.Reason());
        return false;
    }
    m_result.m_written.push_back(path);
    ReportNew();
    return true;
}

std::string CMergeImageJob::ExtraPath(int width, int height) const {
    // The target without its extension, "_WxH", and ".bmp" or ".jpg" whatever the case or form
    // of the target's own extension.
    const fs::path targetPath(m_params.m_strTargetFile);
    const std::string base = (targetPath.parent_path() / targetPath.stem()).string();
    return base + "_" + std::to_string(width) + "x" + std::to_string(height) +
           (IsBmpPath(m_params.m_strTargetFile) ? ".bmp" : ".jpg");
}

std::vector<std::string> CMergeImageJob::OutputPaths() const {
    std::vector<std::string> paths{m_params.m_strTargetFile};
    for (const CExtra& extra : kExtras)
        if (m_params.*extra.m_pbOn)
            paths.push_back(ExtraPath(extra.m_nWidth, extra.m_nHeight));
    return paths;
}

bool CMergeImageJob::WriteOutput(const std::string& path, CDibImage& image, int quality,
                                 bool bMainNumbered) {
    std::string target = path;
    CCommitOptions commit;
    // An auto-numbered name, and a file of an auto-numbered job whose name was free when the
    // job began, never replace a file that appeared since: the main target takes the next free
    // number, an extra fails.
    commit.m_bNoReplace =
        m_params.m_bAutoNumber && (bMainNumbered || !m_guard.ExistedAtStart(path));
    for (int attempt = 0;; ++attempt) {
        // A source under the output's name goes to the trash just before it is replaced. A link
        // to a source is no source: the rename replaces the link, and the source itself goes
        // with the others.
        const bool bSource = m_sources.count(CanonicalPath(target)) != 0 && !IsLink(target);
        if (bSource && !m_params.m_bDelSrc) {
            Fail(target, JobProblemKind::SourceImageStays);
            return false;
        }
        bool bTrashFailed = false;
        if (bSource) {
            commit.m_beforeRename = [&]() -> CStatus {
                if (!NameTaken(target) || Trash(target))
                    return {};
                bTrashFailed = true;  // recorded by Trash; the source stays as it was
                return CStatus::Failure("the source could not be moved to the trash");
            };
        } else {
            commit.m_beforeRename = {};
        }
        const CStatus saved = SaveImageFile(target, image, quality, commit);
        if (saved) {
            m_result.m_written.push_back(target);
            ReportNew();
            return true;
        }
        if (bTrashFailed)
            return false;
        if (saved.Error() == EEXIST && commit.m_bNoReplace) {
            const std::string next = bMainNumbered ? MakeUniqueTarget(target) : target;
            if (next != target && attempt < 1000) {
                target = next;
                m_params.m_strTargetFile = target;
                m_result.m_strTarget = target;
                m_observer.OnEvent(CTargetChosen{target});
                continue;
            }
            Fail(target, JobProblemKind::AppearedMeanwhile);
            return false;
        }
        Fail(target, JobProblemKind::WriteFailed, saved.Reason());
        return false;
    }
}

std::string MakeUniqueTarget(const std::string& target) {
    if (target.empty())
        return target;
    const fs::path path(target);
    const std::string name = path.stem().string();
    const std::string ext = path.extension().string();
    std::size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    const std::string stem = name.substr(0, digits);
    std::string run = name.substr(digits);
    run.erase(0, std::min(run.find_first_not_of('0'), run.size()));  // value without leading zeros

    const auto candidate = [&](const std::string& number) {
        std::string padded =
            number.size() < 6 ? std::string(6 - number.size(), '0') + number : number;
        return (path.parent_path() / (stem + padded + ext)).string();
    };
    // A number above 999999 is taken as it is, untested.
    if (run.size() > 6)
        return candidate(run);
    const int number = run.empty() ? 0 : std::stoi(run);
    return candidate(std::to_string(FirstFreeNumber(
        number, 999999, [&](std::int64_t n) { return candidate(std::to_string(n)); })));
}
