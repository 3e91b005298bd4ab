// The averaging job without its page: every image of one kind in a folder (at most 255 of them
// enter the average) is summed pixel by pixel into 16-bit sums, divided by the file count and
// written as BMP or JPEG, optionally with copies filled and cropped to 800x600 and 1024x768.
// The other stack methods, and alignment, go through CImageStacker onto the same outputs. This
// is the driver: the sums are in merge_plain.h, the stacking in merge_stacking.h.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "jobs/job_engine.h"
#include "jobs/parallel_loader.h"
#include "jobs/run_context.h"
#include "stack/stack.h"

struct CMergeLoaded;
class CMergeOrder;
class CMergePlain;
class CMergeStacking;

// At most this many images enter an average: 255 x 255 still fits a 16-bit sum.
inline constexpr int kMaxMergeFiles = 255;

// One job, run on the calling thread, which reports every file in scan order, asks about Stop
// before each and writes the result; the files are decoded and summed ahead of it on the jobs'
// worker threads (CRunContext), each into sums of its own, added up at the end. It counts
// the sources and picks the numbered target itself (CTargetChosen tells which, again when the
// name was taken meanwhile). Sources go to the trash (when so set) only after the result and its
// extras are all written, except one that an output replaces, which goes just before; without
// the trash such a target is refused. A stopped job writes and trashes nothing. The target's
// folder is locked for the job.
//
// Mean without alignment is that plain average. With any other method, or alignment, the
// workers place each image on the grid (CStackPlacer; with alignment registered to the first
// loaded image) and the driving thread adds them in scan order to a CImageStacker (mean still
// divides by N and takes at most 255; the others take every file, or the first m_nLimit);
// an image that alignment leaves out is a skipped file with its reason, and stays where it
// is. The temporary store of the median and the sigma clip lies in the target's folder. The report
// (CSV, StackReportCsv) lists every file in scan order; it is written after the images, and sources
// go to the trash only when it was written too.
class CMergeImageJob : private CJobEngine {
public:
    CMergeImageJob(const CMergeParams& params, IJobObserver& observer,
                   const CRunContext& context = {});
    ~CMergeImageJob();

    CJobResult Run();
    // After Run: every file handed to the job in scan order, as the report lists it.
    const std::vector<CStackFile>& Report() const { return m_report; }

private:
    // One file of the processing pass, in scan order; false ends the job (a stop request).
    bool AddImage(const std::string& path, CParallelLoader<CMergeLoaded>& loader);
    void WriteResult();
    // The path of the extra copy of width x height beside the target.
    std::string ExtraPath(int width, int height) const;
    // The target and the extras that are on.
    std::vector<std::string> OutputPaths() const;
    // Writes one output and records it; `bMainNumbered` for the auto-numbered target, which
    // moves on to the next free number when its name was taken meanwhile.
    bool WriteOutput(const std::string& path, CDibImage& image, int quality, bool bMainNumbered);
    // The plain average (16-bit sums, divided by N): mean, not aligned.
    bool Plain() const;
    // The stacker's options for the job's parameters.
    CStackOptions StackOptions() const;
    // On the driving thread: hands a loaded image to the stacker and records what it did.
    bool StackImage(const std::string& path, CMergeLoaded& loaded);
    // The stacker's failure, on `path`.
    void FailStacking(const std::string& path);
    bool WriteReport();

    CMergeParams m_params;
    CRunContext m_context;
    int m_nFiles = 0;     // N: mean at most 255, the others at most the limit
    int m_nBufWidth = 0;  // the plain sums' size
    int m_nBufHeight = 0;
    int m_nSeen = 0;                    // images loaded so far
    std::vector<std::string> m_loaded;  // sources that loaded, in scan order
    std::set<std::string> m_sources;    // every matching file (canonical paths)
    std::unique_ptr<CMergeOrder> m_order;
    // While the job runs, one of the two: the plain average, or every other path.
    std::unique_ptr<CMergePlain> m_plain;
    std::unique_ptr<CMergeStacking> m_stacking;
    std::vector<CStackFile> m_report;  // every file handed to the job, in scan order
};

// A refusal of stacking options and its detail (the value at fault).
struct CStackRefusal {
    JobRefusal m_refusal = JobRefusal::None;
    std::string m_strDetail;
};
// The refusal for stacking options the stacker cannot use; None when they pass.
CStackRefusal StackOptionsRefusal(const CStackOptions& options);

// The first free numbered name for `target`: the digits that end its name are replaced by the
// first number from theirs (0 without digits), written with at least six digits, whose file does
// not exist yet; up to 999999, which is taken even when it exists. "a12.jpg" with a000012.jpg
// present and a000013.jpg free gives "a000013.jpg"; "avg.jpg" gives "avg000000.jpg".
std::string MakeUniqueTarget(const std::string& target);
