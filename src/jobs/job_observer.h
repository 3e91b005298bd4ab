// How a job engine (averaging, enlarging) talks to whoever drives it: a page, the command line
// or a test. The engine owns no widget; it reports progress here and asks here whether to stop.
#pragma once

#include <string>

class IJobObserver {
public:
    virtual ~IJobObserver() = default;

    // A file is about to be handled: its path, its number in scan order (from 1) and the file
    // count N of the counting pass. The number can exceed N (averaging visits files past 255).
    virtual void FileStarted(const std::string& path, int nFile, int nTotal) = 0;
    // Asked once per file, after FileStarted and before the file is loaded; true ends the job
    // without loading it. A page pumps its messages here, so its Stop button can be pressed.
    virtual bool StopRequested() = 0;
    // A status text for the "processing" line, such as "放大至800x600...".
    virtual void StatusChanged(const std::string& text) { (void)text; }
    // JPEG quality for the averaging result, asked when the result is written: the page reads
    // its quality control at that moment. `nQuality` is the job's own value.
    virtual int ResultQuality(int nQuality) { return nQuality; }
};
