// A frame source that reads one frame ahead on a thread of its own, so that decoding the next
// frame overlaps the work on this one. It gives the same frames, in the same order, with the
// same failures, as the source it wraps.
#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "image/frame_source.h"

class CPrefetchSource : public IFrameSource {
public:
    // `source` must outlive this object and is read only through it from now on.
    explicit CPrefetchSource(IFrameSource& source);
    ~CPrefetchSource() override;
    CPrefetchSource(const CPrefetchSource&) = delete;
    CPrefetchSource& operator=(const CPrefetchSource&) = delete;

    CResult<bool> Next(SFrame& frame) override;
    CStatus Rewind() override;

private:
    void Read(const std::stop_token& stop);
    // Waits for a frame asked for to arrive (lock held).
    void WaitIdle(std::unique_lock<std::mutex>& lock);

    IFrameSource& m_source;
    std::mutex m_lock;
    std::condition_variable_any m_changed;
    bool m_bAsked = false;  // the reader is to read (or is reading) the next frame
    SFrame m_ahead;
    std::optional<CResult<bool>> m_got;  // what the read ahead gave; none while it runs
    std::jthread m_reader;               // last: started once the rest is set up
};
