// Stacking many pictures of one scene into one, by any of the stack methods, from pictures
// already registered and moved onto the reference's grid (CStackPlacer).
//
// Geometry: the result has the size of the first picture added (the grid). Without alignment a
// picture covers the top-left-anchored overlap of itself and the grid; with alignment it covers
// the grid pixels its shifted self fully reaches. Only covering pictures count for a pixel in
// mean-of-added, median and sigma-clip; mean divides every pixel by the same number.
//
// Memory: the means keep 32-bit sums (any number of pictures). The median and the sigma clip
// need every picture at once: they keep the pictures on the grid in memory up to a budget and,
// past it, in one temporary file (a nameless file in the chosen folder, gone when the stacker
// is, even after a crash), which the result then reads back in tiles of rows that fit the
// budget. Peak memory is about the budget plus three grid-sized pictures, whatever the number of
// pictures, as long as one row of every picture fits the budget.
//
// One stacker is one job, driven from one thread: hand it each picture a CStackPlacer placed on the
// grid (AddPlaced), in order, then Finish.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "image/dib_image.h"
#include "stack/frame_store.h"
#include "stack/stack_file.h"
#include "stack/stack_options.h"

struct CStackStats {
    int m_nTileRows = 0;                  // rows of one tile of the median or sigma clip
    int m_nTilePasses = 0;                // tiles read
    std::uint64_t m_nStoreFileBytes = 0;  // bytes that went to the temporary file
};

// What stopped a stacker, for the caller to word or to file under kinds of its own.
enum class StackFailureKind {
    Other,        // m_strReason says it all
    NoMemory,     // no memory for the pictures or the work on them
    StoreFailed,  // the temporary store in m_strFolder failed, m_strSystem says why
};
struct CStackFailure {
    StackFailureKind m_kind = StackFailureKind::Other;
    std::string m_strFolder;
    std::string m_strSystem;
    std::string m_strReason;  // English, whole
};
// The English reason of a failure of `kind` (Other: `detail` itself; StoreFailed: `detail` is
// the folder).
std::string StackFailureReason(StackFailureKind kind, const std::string& detail,
                               const std::string& system = {});

class CImageStacker {
public:
    explicit CImageStacker(const CStackOptions& options);
    ~CImageStacker();
    CImageStacker(const CImageStacker&) = delete;
    CImageStacker& operator=(const CImageStacker&) = delete;

    // Takes a picture that a CStackPlacer (of this stacker's options) placed on a grid of
    // width x height into `frame`; the first one fixes the grid. A picture left out (not
    // registrable, too little overlap) is recorded in Files() and still succeeds. A failure
    // ends the job: no memory, or the temporary store cannot be written (the reason has the
    // folder and the system's reason; Failure() the parts). A frame from TakeSlot is kept as
    // it is, not copied.
    CStatus AddPlaced(const CStackFile& file, const std::uint8_t* frame, int width, int height,
                      bool bSlot = false);

    // For the threads that place pictures, at the same time as each other and as AddPlaced:
    // memory for one more picture on a grid of width x height, when the median or sigma clip
    // keeps its pictures in memory and `frames` of them (all there can be) fit the budget;
    // null otherwise (place into memory of your own; AddPlaced copies it). Placing into the
    // store's own memory saves a copy of every picture and spreads the cost of fresh memory
    // over the placing threads. A slot whose picture is left out goes back with ReturnSlot.
    std::uint8_t* TakeSlot(int width, int height, std::size_t frames);
    void ReturnSlot(std::uint8_t* slot);
    // Builds the result into `result`. Fails when no picture was used, or without memory or the
    // temporary store.
    CStatus Finish(CDibImage& result);
    // The parts of the last failure of AddPlaced or Finish, for the job's own wording.
    const CStackFailure& Failure() const { return m_failure; }

    // Every picture handed to AddPlaced, in order, with its shift and whether it was used.
    const std::vector<CStackFile>& Files() const { return m_files; }
    int Used() const { return m_nUsed; }
    const CStackStats& Stats() const { return m_stats; }

private:
    // Records the failure; its English reason is the status's.
    CStatus Fail(StackFailureKind kind, const std::string& detail = {},
                 const std::string& system = {});
    CStatus Begin(int width, int height);
    // Records a placed picture and, when used, adds it to the sums or the store (a slot of the
    // store's own as it is).
    CStatus Accumulate(const CStackFile& file, const std::uint8_t* frame, bool bSlot = false);
    void FinishMeans(CDibImage& result);
    CStatus FinishPerPixel(CDibImage& result);

    CStackOptions m_options;
    std::mutex m_beginLock;  // the first picture begins the stack
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nUsed = 0;
    std::vector<CStackFile> m_files;
    std::vector<std::uint32_t> m_sums;     // means: B, G, R per grid pixel
    std::vector<std::uint32_t> m_counts;   // mean-of-added: pictures covering each grid pixel
    std::unique_ptr<CFrameStore> m_store;  // median and sigma-clip
    CStackStats m_stats;
    CStackFailure m_failure;
};

// Rows of a tile when `frames` pictures of `width` pixels must fit `memoryBytes`: at least 1,
// at most `height`.
int StackTileRows(int width, int height, std::size_t frames, std::size_t memoryBytes);
