#include "jobs/merge_image_job.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <new>

#include "image/image_file.h"
#include "image/jpeg_file.h"
#include "jobs/merge_sums.h"
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

// The stacking methods keep their memory bound: a picture above kMaxStackPixels is skipped
// before it is decoded. False with the reason then.
bool FitsStacking(const std::string& path, std::string* why) {
    const auto size = PeekImageSize(path);
    if (!size || std::int64_t(size->first) * size->second <= kMaxStackPixels)
        return true;
    *why = std::to_string(size->first) + "x" + std::to_string(size->second) +
           " is larger than the stacking methods take (" +
           std::to_string(kMaxStackPixels / 1000000) + " megapixels at most)";
    return false;
}

// A report line for a file that did not enter the result.
CStackFile LeftOut(const std::string& path, const std::string& reason) {
    CStackFile file;
    file.m_strPath = path;
    file.m_strReason = reason;
    return file;
}

}  // namespace

// What a worker made of one file, for the driving thread to report.
struct CMergeImageJob::CLoaded {
    bool m_bLoaded = false;
    std::string m_strWhy;      // why it did not load
    std::string m_strFailure;  // the sums could not be made: the job ends
    int m_nSumWidth = 0;       // entered the average: the sums' size
    int m_nSumHeight = 0;
    bool m_bOtherSize = false;  // entered, but its size is not the sums': only the overlap
    // What m_strFailure is: the English reason (Other), or the detail of this kind (a kind
    // without a detail is a failure of its own).
    JobProblemKind m_failureKind = JobProblemKind::Other;
    bool Failed() const { return !m_strFailure.empty() || m_failureKind != JobProblemKind::Other; }
    CStackFile m_placed;                // stacker path: the image placed on the grid,
    std::vector<std::uint8_t> m_frame;  // in these pixels
    std::uint8_t* m_pSlot = nullptr;    // or in this slot of the stacker's
};

// A worker's own: the image it decodes into (kept from file to file, so a file of the same size
// needs no new block) and its sums.
struct CMergeImageJob::CWorker {
    CDibImage m_image;
    CDibImage m_strip;  // a strip of rows of the JPEG being added as it is decoded
    std::vector<std::uint16_t> m_sums;
    std::unique_ptr<CStackPlacer> m_placer;  // stacker path: made for the first file it places
    std::string m_strPlacerFailure;          // the placer could not be made
};

// What decides how a loaded file enters the average depends on the files before it in scan
// order: the first loaded image fixes the size, and only the first N loaded images are added.
// Workers publish whether their file loaded; one that needs to know about earlier files waits
// for them, which happens only before the first image loaded and past the Nth file.
class CMergeImageJob::COrder {
public:
    COrder(std::size_t count, int nFiles) : m_files(count), m_nFiles(nFiles) {}

    struct CPlace {
        bool m_bEnters = false;
        int m_nWidth = 0;  // the sums' size
        int m_nHeight = 0;
        std::size_t m_nReference = 0;  // the first loaded file
    };
    // File `index` loaded (with its size) or not; where it stands.
    CPlace Publish(std::size_t index, bool bLoaded, int width, int height) {
        std::unique_lock lock(m_mutex);
        m_files[index] = {bLoaded ? kLoaded : kFailed, width, height, 0};
        for (; m_nPrefix < m_files.size() && m_files[m_nPrefix].m_state != kUnknown; ++m_nPrefix) {
            CFile& file = m_files[m_nPrefix];
            file.m_nLoadedBefore = m_nLoadedCount;
            if (file.m_state == kLoaded && m_nLoadedCount++ == 0) {
                m_nWidth = file.m_nWidth;
                m_nHeight = file.m_nHeight;
                m_nFirstLoaded = m_nPrefix;
            }
        }
        m_changed.notify_all();
        CPlace place;
        if (!bLoaded)
            return place;
        place.m_nReference = m_nFirstLoaded;
        // Up to file N every loaded image enters: fewer than N loaded before it.
        const bool bNeedCount = index >= std::size_t(m_nFiles);
        m_changed.wait(lock,
                       [&] { return m_nLoadedCount > 0 && (!bNeedCount || m_nPrefix > index); });
        place.m_nReference = m_nFirstLoaded;
        place.m_bEnters = !bNeedCount || m_files[index].m_nLoadedBefore < m_nFiles;
        place.m_nWidth = m_nWidth;
        place.m_nHeight = m_nHeight;
        return place;
    }

    // The sums' size once the first loaded image is known, without waiting: false before.
    bool KnownSize(int& width, int& height) {
        std::lock_guard lock(m_mutex);
        if (m_nLoadedCount == 0)
            return false;
        width = m_nWidth;
        height = m_nHeight;
        return true;
    }

private:
    static constexpr signed char kUnknown = -1, kFailed = 0, kLoaded = 1;
    struct CFile {
        signed char m_state = kUnknown;
        int m_nWidth = 0;
        int m_nHeight = 0;
        int m_nLoadedBefore = 0;  // images loaded before it, once the prefix reaches it
    };

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<CFile> m_files;  // in scan order
    const int m_nFiles;
    std::size_t m_nPrefix = 0;  // files 0..prefix-1 have published
    int m_nLoadedCount = 0;     // loaded among them
    int m_nWidth = 0;           // the first loaded image's size
    int m_nHeight = 0;
    std::size_t m_nFirstLoaded = 0;
};

CMergeImageJob::CMergeImageJob(const CMergeParams& params, IJobObserver& observer)
    : CJobEngine(observer), m_params(params) {}

CMergeImageJob::~CMergeImageJob() = default;

CJobResult CMergeImageJob::Run() {
    if (!BeginJob(m_params, m_params.m_strTargetFile, JobRefusal::NoTarget))
        return m_result;
    m_params.m_nJpgQuality = std::clamp(m_params.m_nJpgQuality, 1, 100);
    std::string detail;
    if (const JobRefusal refusal = StackOptionsRefusal(StackOptions(), &detail);
        refusal != JobRefusal::None) {
        Refuse(refusal, detail);
        return m_result;
    }
    if (m_params.m_nLimit < 0) {
        Refuse(JobRefusal::NegativeLimit);
        return m_result;
    }
    const std::string pattern = SourcePattern(*m_params.m_source);

    const std::vector<std::string> paths = ListMatchingFiles(m_params.m_strSrcDir, pattern);
    // Mean keeps the cap of 255; the others take every file unless limited.
    int cap = int(std::min<std::size_t>(paths.size(), std::size_t(INT_MAX)));
    if (m_params.m_method == StackMethod::Mean)
        cap = std::min(cap, kMaxMergeFiles);
    else if (m_params.m_nLimit > 0)
        cap = std::min(cap, m_params.m_nLimit);
    m_nFiles = cap;
    if (!Counted(m_nFiles))
        return m_result;
    m_sources.clear();
    for (const std::string& path : paths) m_sources.insert(CanonicalPath(path));
    // A target that cannot be written ends the job before any source is read.
    if (!PrepareTargetFolder(fs::path(m_params.m_strTargetFile).parent_path().string(),
                             m_params.m_strTargetFile))
        return m_result;
    // The lock comes before the name is chosen: a second job on the same target waits for
    // nothing and takes no number.
    if (!GuardTarget(FolderOf(m_params.m_strTargetFile),
                     m_params.m_bDelSrc ? m_params.m_strSrcDir : std::string()))
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

    m_sums.clear();
    m_nBufWidth = m_nBufHeight = m_nSeen = 0;
    m_loaded.clear();
    m_report.clear();
    const int threads = JobWorkerThreads();
    const bool bPlain = Plain();
    m_workers = std::vector<CWorker>(std::size_t(std::max(1, threads)));
    m_order = std::make_unique<COrder>(paths.size(), m_nFiles);
    if (!bPlain)
        m_stacker = std::make_unique<CImageStacker>(StackOptions());
    if (m_params.m_bAlign)
        FindReference(paths);
    if (!m_result.m_bStopped) {
        CParallelLoader<CLoaded> loader(paths.size(), threads, std::size_t(2 * threads),
                                        [&](std::size_t index, int worker) {
                                            return bPlain ? LoadAndAdd(paths[index], index, worker)
                                                          : LoadAndPlace(paths, index, worker);
                                        });
        for (const std::string& path : paths) {
            if (!AddImage(path, loader))
                break;
        }
    }  // the files under way are done
    // Stacking: the workers' pictures and registrations are done with; their memory goes back
    // before the stacker's result needs its own. (The plain average still merges their sums.)
    if (m_stacker) {
        m_workers.clear();
        m_spareFrames = {};
    }

    if (m_result.m_end != JobEnd::Failed) {
        if (m_result.m_nUsed == 0)
            m_result.m_end = JobEnd::NothingAdded;
        else if (!m_result.m_bStopped)
            WriteResult();
    }
    m_sums = {};
    m_workers.clear();
    m_order.reset();
    m_stacker.reset();
    m_spareFrames = {};
    m_guard.Unlock();
    return m_result;
}

bool CMergeImageJob::AddImage(const std::string& path, CParallelLoader<CLoaded>& loader) {
    if (!BeginFile(path))
        return false;
    std::optional<CLoaded> loaded = loader.Next();
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
    if (m_stacker ? loaded->m_placed.m_bUsed && loaded->m_placed.m_bOtherSize
                  : loaded->m_bOtherSize)
        ++m_result.m_nOtherSize;
    if (m_stacker)
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
    options.m_nThreads = JobWorkerThreads();
    return options;
}

void CMergeImageJob::FindReference(const std::vector<std::string>& paths) {
    m_reference.clear();
    m_declined.clear();
    m_strReferenceFailure.clear();
    m_nReference = paths.size();
    // The candidates: the first N loaded files that have the first loaded file's size.
    CDibImage image;
    int loadedCount = 0, width = 0, height = 0;
    for (std::size_t i = 0; i < paths.size() && loadedCount < m_nFiles; ++i) {
        if (m_observer.StopRequested()) {
            m_result.m_bStopped = true;
            return;
        }
        std::string why;
        if (!FitsStacking(paths[i], &why) || !LoadSourceInto(paths[i], image, &why))
            continue;
        if (loadedCount++ == 0) {
            width = image.m_nWidth;
            height = image.m_nHeight;
        }
        if (image.m_nWidth != width || image.m_nHeight != height)
            continue;
        try {
            CStackPlacer placer(StackOptions(), width, height);
            const CImageView view = ViewOf(image);
            std::string declined;
            if (placer.SetReference(view, &declined)) {
                m_reference = PackedCopy(view);
                m_nReference = i;
                if (m_reference.empty())
                    m_strReferenceFailure = "not enough memory for the reference";
                return;
            }
            if (std::min(width, height) < CImageRegistration::kMinWindow) {
                m_nReference = i;  // no picture of the grid's size can serve
                m_strReferenceFailure = declined;
                return;
            }
            m_declined.emplace(i, declined);  // a black frame, say: the next one is tried
        } catch (const std::bad_alloc&) {
            m_nReference = i;
            m_strReferenceFailure = "not enough memory to place the images";
            return;
        }
    }
    m_result.m_bNoneAlignable = !m_declined.empty();
}

CMergeImageJob::CLoaded CMergeImageJob::LoadAndPlace(const std::vector<std::string>& paths,
                                                     std::size_t index, int worker) {
    CLoaded loaded;
    CWorker& own = m_workers[std::size_t(worker)];
    CDibImage& image = own.m_image;
    loaded.m_bLoaded = FitsStacking(paths[index], &loaded.m_strWhy) &&
                       LoadSourceInto(paths[index], image, &loaded.m_strWhy);
    const COrder::CPlace place =
        m_order->Publish(index, loaded.m_bLoaded, image.m_nWidth, image.m_nHeight);
    if (!place.m_bEnters)
        return loaded;
    const CImageView view = ViewOf(image);
    // Without alignment the first loaded file stands as the reference in the report.
    const bool bReference = m_params.m_bAlign ? index == m_nReference : index == place.m_nReference;
    loaded.m_nSumWidth = place.m_nWidth;
    loaded.m_nSumHeight = place.m_nHeight;
    if (m_params.m_bAlign && m_strReferenceFailure.empty() && !bReference) {
        // Nothing to register on, or nothing to register to: left out.
        const auto declined = m_declined.find(index);
        if (declined != m_declined.end()) {
            loaded.m_placed = LeftOut(paths[index], declined->second);
            loaded.m_placed.m_leftOut = StackLeftOut::NoContrast;
            return loaded;
        }
        if (m_reference.empty()) {
            loaded.m_placed = LeftOut(paths[index],
                                      "no picture of the first one's size has "
                                      "anything to register on");
            loaded.m_placed.m_leftOut = StackLeftOut::NoReference;
            return loaded;
        }
    }
    if (!own.m_placer && own.m_strPlacerFailure.empty()) {
        std::string why = m_params.m_bAlign ? m_strReferenceFailure : std::string();
        try {
            auto placer =
                std::make_unique<CStackPlacer>(StackOptions(), place.m_nWidth, place.m_nHeight);
            if (m_params.m_bAlign && why.empty())
                placer->SetReference(
                    PackedView(m_reference.data(), place.m_nWidth, place.m_nHeight), &why);
            if (why.empty())
                own.m_placer = std::move(placer);
        } catch (const std::bad_alloc&) {
            why = "not enough memory to place the images";
        }
        if (!why.empty())
            own.m_strPlacerFailure =
                "cannot align to " + paths[m_params.m_bAlign ? m_nReference : index] + ": " + why;
    }
    if (!own.m_placer) {
        loaded.m_strFailure = own.m_strPlacerFailure;
        return loaded;
    }
    // Into the stacker's own memory when it keeps the pictures there, else into a frame of ours.
    loaded.m_pSlot = m_stacker->TakeSlot(place.m_nWidth, place.m_nHeight, std::size_t(m_nFiles));
    std::uint8_t* frame = loaded.m_pSlot;
    if (!frame) {
        {
            std::lock_guard lock(m_spareLock);
            if (!m_spareFrames.empty()) {
                loaded.m_frame = std::move(m_spareFrames.back());
                m_spareFrames.pop_back();
            }
        }
        try {
            loaded.m_frame.resize(std::size_t(place.m_nWidth) * std::size_t(place.m_nHeight) * 3);
        } catch (const std::bad_alloc&) {
            loaded.m_failureKind = JobProblemKind::StackNoMemory;
            return loaded;
        }
        frame = loaded.m_frame.data();
    }
    try {
        loaded.m_placed = own.m_placer->Place(paths[index], view, bReference, frame);
    } catch (const std::bad_alloc&) {
        loaded.m_failureKind = JobProblemKind::StackNoMemory;
    }
    if (loaded.m_pSlot && !loaded.m_placed.m_bUsed) {
        m_stacker->ReturnSlot(loaded.m_pSlot);
        loaded.m_pSlot = nullptr;
    }
    return loaded;
}

bool CMergeImageJob::StackImage(const std::string& path, CLoaded& loaded) {
    const std::size_t before = m_stacker->Files().size();
    std::string why;
    const bool bSlot = loaded.m_pSlot != nullptr;
    if (!m_stacker->AddPlaced(loaded.m_placed, bSlot ? loaded.m_pSlot : loaded.m_frame.data(),
                              loaded.m_nSumWidth, loaded.m_nSumHeight, &why, bSlot)) {
        m_result.m_end = JobEnd::Failed;
        FailStacking(path);
        return false;
    }
    {
        std::lock_guard lock(m_spareLock);
        m_spareFrames.push_back(std::move(loaded.m_frame));
    }
    const std::vector<CStackFile>& files = m_stacker->Files();
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

CMergeImageJob::CLoaded CMergeImageJob::LoadAndAdd(const std::string& path, std::size_t index,
                                                   int worker) {
    CLoaded loaded;
    CWorker& own = m_workers[std::size_t(worker)];
    CDibImage& image = own.m_image;
    if (LoadJpegIntoSums(path, index, own, loaded))
        return loaded;
    loaded.m_bLoaded = LoadSourceInto(path, image, &loaded.m_strWhy);
    const COrder::CPlace place =
        m_order->Publish(index, loaded.m_bLoaded, image.m_nWidth, image.m_nHeight);
    if (!place.m_bEnters)
        return loaded;
    loaded.m_nSumWidth = place.m_nWidth;
    loaded.m_nSumHeight = place.m_nHeight;
    loaded.m_bOtherSize = image.m_nWidth != place.m_nWidth || image.m_nHeight != place.m_nHeight;
    const std::size_t width = std::size_t(place.m_nWidth);
    if (own.m_sums.empty()) {
        try {
            own.m_sums.assign(width * std::size_t(place.m_nHeight) * 3, 0);
        } catch (const std::bad_alloc&) {
            loaded.m_failureKind = JobProblemKind::NoMemoryForSums;
            loaded.m_strFailure =
                std::to_string(place.m_nWidth) + "x" + std::to_string(place.m_nHeight);
            return loaded;
        }
    }
    // The overlap anchored at the top-left corner.
    const int rows = std::min(place.m_nHeight, image.m_nHeight);
    const int cols = std::min(place.m_nWidth, image.m_nWidth);
    for (int y = 0; y < rows; ++y)
        AddBytesToSums(own.m_sums.data() + std::size_t(y) * width * 3, image.TopRow(y),
                       std::size_t(cols) * 3);
    return loaded;
}

bool CMergeImageJob::LoadJpegIntoSums(const std::string& path, std::size_t index, CWorker& own,
                                      CLoaded& loaded) {
    // Only a file that enters whenever it loads (one of the first N) and whose sums' size is
    // known already; the others are added whole once they loaded.
    int width = 0, height = 0;
    if (index >= std::size_t(m_nFiles) || !IsJpegPath(path) || !m_order->KnownSize(width, height))
        return false;
    const std::size_t size = std::size_t(width) * std::size_t(height) * 3;
    if (own.m_sums.empty()) {
        try {
            own.m_sums.assign(size, 0);
        } catch (const std::bad_alloc&) {
            return false;  // the whole-picture path says so
        }
    }
    // Each strip of rows goes into the sums just after it was decoded, while it is in the cache,
    // and the whole picture is never made. A read that fails later takes its rows back out: the
    // sums wrap modulo 2^16, so subtracting the same bytes leaves them exactly as they were.
    CDibImage& strip = own.m_strip;
    const auto apply = [&](int top, int count, bool bAdd) {
        const int rows = std::min(top + count, height) - top;
        const std::size_t cols = std::size_t(std::min(width, strip.m_nWidth)) * 3;
        for (int i = 0; i < rows; ++i) {
            std::uint16_t* sums = own.m_sums.data() + std::size_t(top + i) * std::size_t(width) * 3;
            if (bAdd)
                AddBytesToSums(sums, strip.TopRow(i), cols);
            else
                SubtractBytesFromSums(sums, strip.TopRow(i), cols);
        }
    };
    CJpegStripHook hook;
    hook.m_rows = [&](int top, int count) { apply(top, count, true); };
    hook.m_undo = [&](int top, int count) { apply(top, count, false); };
    int pictureWidth = 0, pictureHeight = 0;
    const int read =
        ReadJpegStrips(path, own.m_strip, pictureWidth, pictureHeight, hook, &loaded.m_strWhy);
    loaded.m_bLoaded = read == 1;
    const COrder::CPlace place =
        m_order->Publish(index, loaded.m_bLoaded, pictureWidth, pictureHeight);
    if (read < 0)
        loaded.m_strFailure = "not enough memory to take a failed read back out of the sums";
    if (place.m_bEnters) {
        loaded.m_nSumWidth = place.m_nWidth;
        loaded.m_nSumHeight = place.m_nHeight;
        loaded.m_bOtherSize = pictureWidth != width || pictureHeight != height;
    }
    return true;
}

void CMergeImageJob::FailStacking(const std::string& path) {
    const CStackFailure& failure = m_stacker->Failure();
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

JobRefusal StackOptionsRefusal(const CStackOptions& options, std::string* detail) {
    switch (CheckStackOptions(options, detail)) {
        case StackOptionFault::None:
            break;
        case StackOptionFault::BadKappa:
            return JobRefusal::BadKappa;
        case StackOptionFault::BadReferenceCount:
            return JobRefusal::BadReferenceCount;
        case StackOptionFault::NegativeDivisor:
            return JobRefusal::NegativeDivisor;
        case StackOptionFault::BadOverlap:
            return JobRefusal::BadOverlap;
    }
    return JobRefusal::None;
}

void CMergeImageJob::MergeSums() {
    m_sums.clear();
    for (CWorker& worker : m_workers) {
        if (worker.m_sums.empty())
            continue;
        if (m_sums.empty())
            m_sums = std::move(worker.m_sums);
        else
            AddSumsToSums(m_sums.data(), worker.m_sums.data(), m_sums.size());
        worker.m_sums = {};
    }
}

bool CMergeImageJob::BuildAverage(CDibImage& average) {
    if (!average.Create(m_nBufWidth, m_nBufHeight, 24))
        return false;
    // Always divided by N, the capped count, even when fewer images were added: round half up.
    const double n = m_nFiles;
    for (int y = 0; y < m_nBufHeight; ++y) {
        std::uint8_t* dst = average.TopRow(y);
        const std::uint16_t* sum = m_sums.data() + std::size_t(y) * std::size_t(m_nBufWidth) * 3;
        for (int i = 0; i < m_nBufWidth * 3; ++i) {
            const int value = m_nFiles == 1 ? sum[i] : int(sum[i] / n + 0.5);
            dst[i] = std::uint8_t(std::min(value, 255));
        }
    }
    return true;
}

void CMergeImageJob::WriteResult() {
    const std::string& target = m_params.m_strTargetFile;
    CDibImage average;
    if (m_stacker) {
        if (!m_stacker->Finish(average, nullptr)) {
            FailStacking(target);
            return;
        }
    } else {
        MergeSums();
        if (!BuildAverage(average)) {
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
        if (!ResizeToFill(average, copy, extra.m_nWidth, extra.m_nHeight)) {
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
