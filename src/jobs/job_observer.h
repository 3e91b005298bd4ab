// How a job engine (averaging, enlarging) talks to whoever drives it: a page, the command line
// or a test. The engine owns no widget and no text for the user: it reports typed events here,
// each front end renders them in its own words, and it asks here whether to stop.
#pragma once

#include <string>
#include <variant>

// The counting pass found m_nTotal files (at least one; averaging: at most 255) and the
// processing pass begins: the progress range.
struct CJobStarted {
    int m_nTotal = 0;
    bool operator==(const CJobStarted&) const = default;
};
// Averaging: the target file the job writes, after auto-numbering. Comes before CJobStarted.
struct CTargetChosen {
    std::string m_strPath;
    bool operator==(const CTargetChosen&) const = default;
};
// A file is about to be handled: its path, its number in scan order (from 1) and N. The number
// can exceed N (averaging visits files past 255).
struct CFileStarted {
    std::string m_strPath;
    int m_nFile = 0;
    int m_nTotal = 0;
    bool operator==(const CFileStarted&) const = default;
};
// Averaging: the fill-and-crop resize of the result to an extra copy of m_nWidth x m_nHeight
// begins.
struct CResizeStarted {
    int m_nWidth = 0;
    int m_nHeight = 0;
    bool operator==(const CResizeStarted&) const = default;
};
// An output file is in place.
struct CFileWritten {
    std::string m_strPath;
    bool operator==(const CFileWritten&) const = default;
};
// A source went to the trash.
struct CFileTrashed {
    std::string m_strPath;
    bool operator==(const CFileTrashed&) const = default;
};
// A source could not be read or has no pixels; it stays where it is.
struct CFileSkipped {
    std::string m_strPath;
    std::string m_strReason;
    bool operator==(const CFileSkipped&) const = default;
};
// A write, a move to the trash or a resize failed.
struct CFileFailed {
    std::string m_strPath;
    std::string m_strReason;
    bool operator==(const CFileFailed&) const = default;
};

using CJobEvent = std::variant<CJobStarted, CTargetChosen, CFileStarted, CResizeStarted,
                               CFileWritten, CFileTrashed, CFileSkipped, CFileFailed>;

// Lets std::visit take one lambda per event type.
template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

class IJobObserver {
public:
    virtual ~IJobObserver() = default;

    // Called on the job's thread, in the order things happen.
    virtual void OnEvent(const CJobEvent& event) = 0;
    // Asked once per file, after CFileStarted and before the file is loaded; true ends the job
    // without loading it. A page pumps its messages here, so its Stop button can be pressed.
    virtual bool StopRequested() = 0;
    // JPEG quality for the averaging result, asked when the result is written: the page reads
    // its quality control at that moment. `nQuality` is the job's own value.
    virtual int ResultQuality(int nQuality) { return nQuality; }
};
