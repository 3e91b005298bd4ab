#include "jobs/merge_stacking.h"

#include <algorithm>
#include <new>

#include "image/image_file.h"
#include "jobs/parallel_loader.h"

namespace {

// The stacking methods keep their memory bound: a picture above kMaxStackPixels is skipped
// before it is decoded.
CStatus FitsStacking(const std::string& path) {
    const auto size = PeekImageSize(path);
    if (!size || std::int64_t(size->first) * size->second <= kMaxStackPixels)
        return {};
    return CStatus::Failure(std::to_string(size->first) + "x" + std::to_string(size->second) +
                            " is larger than the stacking methods take (" +
                            std::to_string(kMaxStackPixels / 1000000) + " megapixels at most)");
}

// FitsStacking, then LoadSourceInto.
CStatus LoadForStacking(const std::string& path, CDibImage& image) {
    if (CStatus fits = FitsStacking(path); !fits)
        return fits;
    return LoadSourceInto(path, image);
}

}  // namespace

CMergeStacking::CMergeStacking(const CStackOptions& options, int workers, int nFiles,
                               CMergeOrder& order)
    : m_options(options),
      m_nFiles(nFiles),
      m_order(order),
      m_workers(std::size_t(std::max(1, workers))),
      m_stacker(std::make_unique<CImageStacker>(options)) {}

CMergeStacking::~CMergeStacking() = default;

bool CMergeStacking::FindReference(const std::vector<std::string>& paths, IJobObserver& observer) {
    m_reference.clear();
    m_declined.clear();
    m_strReferenceFailure.clear();
    m_nReference = paths.size();
    // The candidates: the first N loaded files that have the first loaded file's size.
    CDibImage image;
    int loadedCount = 0, width = 0, height = 0;
    for (std::size_t i = 0; i < paths.size() && loadedCount < m_nFiles; ++i) {
        if (observer.StopRequested())
            return false;
        if (!LoadForStacking(paths[i], image))
            continue;
        if (loadedCount++ == 0) {
            width = image.m_nWidth;
            height = image.m_nHeight;
        }
        if (image.m_nWidth != width || image.m_nHeight != height)
            continue;
        try {
            CStackPlacer placer(m_options, width, height);
            const CImageView view = ViewOf(image);
            const CStatus set = placer.SetReference(view);
            const std::string& declined = set.Reason();
            if (set) {
                m_reference = PackedCopy(view);
                m_nReference = i;
                if (m_reference.empty())
                    m_strReferenceFailure = "not enough memory for the reference";
                return true;
            }
            if (std::min(width, height) < CImageRegistration::kMinWindow) {
                m_nReference = i;  // no picture of the grid's size can serve
                m_strReferenceFailure = declined;
                return true;
            }
            m_declined.emplace(i, declined);  // a black frame, say: the next one is tried
        } catch (const std::bad_alloc&) {
            m_nReference = i;
            m_strReferenceFailure = "not enough memory to place the images";
            return true;
        }
    }
    m_bNoneAlignable = !m_declined.empty();
    return true;
}

CMergeLoaded CMergeStacking::LoadAndPlace(const std::vector<std::string>& paths, std::size_t index,
                                          int worker) {
    CMergeLoaded loaded;
    CWorker& own = m_workers[std::size_t(worker)];
    CDibImage& image = own.m_image;
    const CStatus read = LoadForStacking(paths[index], image);
    const CMergeOrder::CPlace place =
        PublishRead(m_order, index, read, image.m_nWidth, image.m_nHeight, loaded);
    if (!place.m_bEnters)
        return loaded;
    const CImageView view = ViewOf(image);
    const bool bAlign = m_options.m_bAlign;
    // Without alignment the first loaded file stands as the reference in the report.
    const bool bReference = bAlign ? index == m_nReference : index == place.m_nReference;
    if (bAlign && m_strReferenceFailure.empty() && !bReference) {
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
        std::string why = bAlign ? m_strReferenceFailure : std::string();
        try {
            auto placer =
                std::make_unique<CStackPlacer>(m_options, place.m_nWidth, place.m_nHeight);
            if (bAlign && why.empty())
                if (CStatus set = placer->SetReference(
                        PackedView(m_reference.data(), place.m_nWidth, place.m_nHeight));
                    !set)
                    why = set.Reason();
            if (why.empty())
                own.m_placer = std::move(placer);
        } catch (const std::bad_alloc&) {
            why = "not enough memory to place the images";
        }
        if (!why.empty())
            own.m_strPlacerFailure =
                "cannot align to " + paths[bAlign ? m_nReference : index] + ": " + why;
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

bool CMergeStacking::Add(CMergeLoaded& loaded) {
    const bool bSlot = loaded.m_pSlot != nullptr;
    if (!m_stacker->AddPlaced(loaded.m_placed, bSlot ? loaded.m_pSlot : loaded.m_frame.data(),
                              loaded.m_nSumWidth, loaded.m_nSumHeight, bSlot))
        return false;
    std::lock_guard lock(m_spareLock);
    m_spareFrames.push_back(std::move(loaded.m_frame));
    return true;
}

void CMergeStacking::EndLoading() {
    m_workers.clear();
    m_spareFrames = {};
}

bool CMergeStacking::Finish(CDibImage& result) {
    return m_stacker->Finish(result).Ok();
}
