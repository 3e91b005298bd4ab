// The averaging job's stacking path (every method but the plain mean, and alignment): the
// workers place each image on the grid (CStackPlacer; with alignment registered to a reference
// found first), and the driving thread hands them in scan order to a CImageStacker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "image/dib_image.h"
#include "jobs/job_observer.h"
#include "jobs/merge_workers.h"
#include "stack/stack.h"

class CMergeStacking {
public:
    // The stacker on `options`; `workers` job workers, each with a placer of its own; `nFiles`
    // (N) images enter at most; `order` tells each file where it stands and outlives this.
    CMergeStacking(const CStackOptions& options, int workers, int nFiles, CMergeOrder& order);
    ~CMergeStacking();

    // Alignment, before the workers start: the reference is the first of the first N loaded
    // files of the grid's size that has something to register on; those before it that have
    // nothing are noted to be left out. Loads files on the calling thread and asks `observer`
    // about Stop: false when stopped.
    bool FindReference(const std::vector<std::string>& paths, IJobObserver& observer);
    // After FindReference: no file could serve as the reference, and some were declined.
    bool NoneAlignable() const { return m_bNoneAlignable; }

    // On worker `worker`: loads file `index` and places it on the grid (registered to the
    // reference with alignment).
    CMergeLoaded LoadAndPlace(const std::vector<std::string>& paths, std::size_t index, int worker);

    // On the driving thread: hands a placed picture to the stacker; false when the stacker
    // failed (Failure says why). Files() then lists what it did with it.
    bool Add(CMergeLoaded& loaded);
    // Every file handed to the stacker so far, in scan order.
    const std::vector<CStackFile>& Files() const { return m_stacker->Files(); }
    const CStackFailure& Failure() const { return m_stacker->Failure(); }

    // The loading is over: the workers' pictures and placers go back before the result needs
    // memory of its own.
    void EndLoading();
    // The stack combined into a new image; false when the stacker failed (Failure says why).
    bool Finish(CDibImage& result);

private:
    // A worker's own: the image it decodes into and its placer.
    struct CWorker {
        CDibImage m_image;
        std::unique_ptr<CStackPlacer> m_placer;  // made for the first file it places
        std::string m_strPlacerFailure;          // the placer could not be made
    };

    const CStackOptions m_options;
    const int m_nFiles;
    CMergeOrder& m_order;
    std::vector<CWorker> m_workers;
    std::unique_ptr<CImageStacker> m_stacker;
    // Alignment: the reference (index, packed pixels), or why none can serve; the files before
    // it with nothing to register on, with the reason. Read-only while the workers run.
    std::size_t m_nReference = 0;
    std::vector<std::uint8_t> m_reference;
    std::string m_strReferenceFailure;
    std::map<std::size_t, std::string> m_declined;
    bool m_bNoneAlignable = false;
    // Pictures on the grid that the stacker has taken, for workers to place the next ones in
    // (no new block to fault in and clear for every file).
    std::mutex m_spareLock;
    std::vector<std::vector<std::uint8_t>> m_spareFrames;
};
