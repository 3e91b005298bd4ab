// Stacking many pictures of one scene into one, by any of the stack methods, optionally after
// registering each picture to a reference and moving it onto the reference's grid.
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
// One stacker is one job, driven from one thread: Add each loaded picture in order, then Finish.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "image/dib_image.h"
#include "jobs/image_registration.h"
#include "jobs/job_result.h"
#include "jobs/stack_methods.h"

// Holds 255 pictures of 640x480 (224.1 MiB) without a temporary file; a whole job stays under
// 256 MiB whatever the number of pictures of that size.
inline constexpr std::size_t kDefaultStackMemory = std::size_t(226) << 20;
// The largest picture the stacking methods take (pixels): with the store's budget this bounds
// their memory, whatever the pictures (a larger one is skipped before it is decoded).
inline constexpr std::int64_t kMaxStackPixels = 32'000'000;

struct CStackOptions {
    StackMethod m_method = StackMethod::MeanOfAdded;
    double m_dKappa = kDefaultKappa;  // sigma-clip only; above 0
    bool m_bAlign = false;
    // With alignment the reference is the sharpest of the first this many pictures of the grid's
    // size (1: the first picture).
    int m_nReferenceCandidates = 1;
    double m_dMinPeakRatio = CImageRegistration::kDefaultMinPeakRatio;
    // An aligned picture that covers less than this part of the grid is left out.
    double m_dMinOverlap = 0.25;
    // Mean only: the divisor of every pixel; 0 divides by the number of pictures used.
    int m_nMeanDivisor = 0;
    // Median and sigma-clip: bytes of pictures held in memory at most.
    std::size_t m_nMemoryBytes = kDefaultStackMemory;
    // Where the temporary store goes; empty: $TMPDIR, or /tmp.
    std::string m_strTempDir;
    // Median and sigma-clip: threads that combine bands of rows side by side; 0: as many as the
    // job workers (JobWorkerThreads).
    int m_nThreads = 0;
};

// Why a picture was left out, for front ends that word it themselves.
enum class StackLeftOut {
    None,          // used, or left out for a reason of the caller's
    NotAPicture,   // no 24-bit pixels
    NoContrast,    // alignment: nothing in the window to register on
    WeakPeak,      // alignment: the correlation peak is below the needed ratio
    SmallOverlap,  // alignment: the shifted picture covers too little of the grid
    NoReference,   // alignment: no picture of the grid's size has anything to register on
};

// What happened to one picture handed to the stacker.
struct CStackFile {
    std::string m_strPath;
    bool m_bUsed = false;
    bool m_bReference = false;
    double m_dx = 0;  // the picture's content relative to the reference (see CRegistration)
    double m_dy = 0;
    double m_dPeakRatio = 0;  // registration confidence; 0 without alignment
    CGridRect m_covered;      // grid pixels the picture covers
    std::string m_strReason;  // why it was left out
    StackLeftOut m_leftOut = StackLeftOut::None;
    double m_dNeededPeakRatio = 0;  // WeakPeak: the ratio it needed
    double m_dCoverage = 0;         // SmallOverlap: the part of the grid it covers (0..1)
    // Its size is not the grid's: only the overlap enters.
    bool m_bOtherSize = false;
};

struct CStackStats {
    int m_nTileRows = 0;                  // rows of one tile of the median or sigma clip
    int m_nTilePasses = 0;                // tiles read
    std::uint64_t m_nStoreFileBytes = 0;  // bytes that went to the temporary file
};

// The part of stacking that each picture needs on its own: registering it to the reference (with
// alignment) and moving it onto the grid. Several threads can place pictures side by side, one
// placer each, and hand the results to the stacker (AddPlaced) in order.
class CStackPlacer {
public:
    // A grid of width x height; with alignment SetReference must come before Place.
    CStackPlacer(const CStackOptions& options, int width, int height);
    ~CStackPlacer();
    CStackPlacer(const CStackPlacer&) = delete;
    CStackPlacer& operator=(const CStackPlacer&) = delete;

    // False (with the reason) when the reference has nothing to register on, or no memory.
    bool SetReference(const CImageView& reference, std::string* why);
    // `frame` (the grid's size: width x 3 bytes a row, top row first) gets the picture on the
    // grid (grid pixels it does not cover keep what they had); the result says what it covers
    // and its shift, or why it is left out. The reference itself is placed unshifted.
    CStackFile Place(const std::string& path, const CImageView& image, bool bReference,
                     std::uint8_t* frame);

    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

private:
    CStackOptions m_options;
    int m_nWidth;
    int m_nHeight;
    std::unique_ptr<CImageRegistration> m_registration;
};

// The kind of refusal for stacking options the stacker cannot use, with its detail (the value
// at fault); None when they pass.
JobRefusal StackOptionsRefusal(const CStackOptions& options, std::string* detail);

class CImageStacker {
public:
    explicit CImageStacker(const CStackOptions& options);
    ~CImageStacker();
    CImageStacker(const CImageStacker&) = delete;
    CImageStacker& operator=(const CImageStacker&) = delete;

    // False (with the option and its value in *why) for options the stacker cannot use:
    // RefusalReason of StackOptionsRefusal.
    static bool CheckOptions(const CStackOptions& options, std::string* why);

    // Takes one loaded 24-bit picture; `path` names it in the report. A picture left out (not
    // registrable, too little overlap) is recorded in Files() and still returns true. False
    // ends the job: no memory, or the temporary store cannot be written (*why has the folder
    // and the system's reason).
    bool Add(const std::string& path, const CDibImage& image, std::string* why);
    // Takes a picture that a CStackPlacer (of this stacker's options) placed on a grid of
    // width x height into `frame`; the first one fixes the grid. Used instead of Add, never
    // together with it. False as for Add. A frame from TakeSlot is kept as it is, not copied.
    bool AddPlaced(const CStackFile& file, const std::uint8_t* frame, int width, int height,
                   std::string* why, bool bSlot = false);

    // For the threads that place pictures, at the same time as each other and as AddPlaced:
    // memory for one more picture on a grid of width x height, when the median or sigma clip
    // keeps its pictures in memory and `frames` of them (all there can be) fit the budget;
    // null otherwise (place into memory of your own; AddPlaced copies it). Placing into the
    // store's own memory saves a copy of every picture and spreads the cost of fresh memory
    // over the placing threads. A slot whose picture is left out goes back with ReturnSlot.
    std::uint8_t* TakeSlot(int width, int height, std::size_t frames);
    void ReturnSlot(std::uint8_t* slot);
    // Builds the result into `result`. False when no picture was used or on a failure (*why).
    bool Finish(CDibImage& result, std::string* why);
    // What the last false of Add, AddPlaced or Finish was, without a path: StackNoMemory,
    // StackStoreFailed (with the folder and the system's reason), or Other with *why as a whole.
    const CJobProblem& Failure() const { return m_failure; }

    // Every picture handed to Add, in order, with its shift and whether it was used.
    const std::vector<CStackFile>& Files() const { return m_files; }
    int Used() const { return m_nUsed; }
    const CStackStats& Stats() const { return m_stats; }

private:
    class CFrameStore;
    struct CPending {
        std::string m_strPath;
        std::vector<std::uint8_t> m_pixels;  // packed, top row first
        int m_nWidth = 0;
        int m_nHeight = 0;
    };

    // Records the failure and its English reason in *why; false.
    bool Fail(std::string* why, JobProblemKind kind, const std::string& detail = {},
              const std::string& system = {});
    bool Begin(int width, int height, std::string* why);
    bool ChooseReference(std::string* why);
    bool Process(const std::string& path, const CImageView& image, bool bReference,
                 std::string* why);
    // Records a placed picture and, when used, adds it to the sums or the store (a slot of the
    // store's own as it is).
    bool Accumulate(const CStackFile& file, const std::uint8_t* frame, std::string* why,
                    bool bSlot = false);
    bool FinishMeans(CDibImage& result);
    bool FinishPerPixel(CDibImage& result, std::string* why);

    CStackOptions m_options;
    std::mutex m_beginLock;  // the first picture begins the stack, placed or added
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nUsed = 0;
    bool m_bHaveReference = false;
    std::vector<CStackFile> m_files;
    std::vector<CPending> m_pending;         // pictures waiting for the reference to be chosen
    std::vector<std::uint8_t> m_frame;       // the current picture on the grid
    std::vector<std::uint32_t> m_sums;       // means: B, G, R per grid pixel
    std::vector<std::uint32_t> m_counts;     // mean-of-added: pictures covering each grid pixel
    std::unique_ptr<CFrameStore> m_store;    // median and sigma-clip
    std::unique_ptr<CStackPlacer> m_placer;  // Add's own
    CStackStats m_stats;
    CJobProblem m_failure;
};

// Rows of a tile when `frames` pictures of `width` pixels must fit `memoryBytes`: at least 1,
// at most `height`.
int StackTileRows(int width, int height, std::size_t frames, std::size_t memoryBytes);

// The report as CSV: a header line, then per picture its path, dx, dy (3 decimals), "used" or
// "rejected", and the reason; always UTF-8 (EscapeToUtf8).
std::string StackReportCsv(const std::vector<CStackFile>& files);
// `text` as valid UTF-8: well-formed sequences stay, every other byte becomes "\xHH" (two
// upper-case hex digits) and a backslash "\\", so the bytes can be had back.
std::string EscapeToUtf8(const std::string& text);
