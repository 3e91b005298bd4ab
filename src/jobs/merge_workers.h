// What the averaging job's workers hand back, and the order they agree on: the first loaded
// image fixes the size, and only the first N loaded images enter the result. The plain sums
// (merge_plain.h) and the stacking (merge_stacking.h) both load through it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "jobs/job_result.h"
#include "stack/stack.h"

// What a worker made of one file, for the driving thread to report.
struct CMergeLoaded {
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

// How a loaded file enters the average depends on the files before it in scan order. Workers
// publish whether their file loaded; one that needs to know about earlier files waits for them,
// which happens only before the first image loaded and past the Nth file. Called from every
// worker at once.
class CMergeOrder {
public:
    // `count` files in scan order, of which the first `nFiles` loaded ones enter.
    CMergeOrder(std::size_t count, int nFiles) : m_files(count), m_nFiles(nFiles) {}

    struct CPlace {
        bool m_bEnters = false;
        int m_nWidth = 0;  // the sums' size
        int m_nHeight = 0;
        std::size_t m_nReference = 0;  // the first loaded file
    };
    // File `index` loaded (with its size) or not; where it stands.
    CPlace Publish(std::size_t index, bool bLoaded, int width, int height);

    // The sums' size once the first loaded image is known, without waiting: false before.
    bool KnownSize(int& width, int& height);

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

// A worker's file read (or not, `read` saying why) at width x height: published in `order`, and
// whether it loaded, why not, and the sums' size when it enters noted in `loaded`.
CMergeOrder::CPlace PublishRead(CMergeOrder& order, std::size_t index, const CStatus& read,
                                int width, int height, CMergeLoaded& loaded);

// A report line for a file that did not enter the result.
CStackFile LeftOut(const std::string& path, const std::string& reason);
