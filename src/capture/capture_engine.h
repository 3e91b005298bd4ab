// The capture engine: the pieces a recording is made of (CRecording in recording.h puts them
// together and is what the player pages and `tarnwick-cli record` use):
//   - CCaptureTarget: the folder that receives the frames, the number of the next file, and
//     FlushFrames, which writes every queued frame as "%08d.bmp" named after the playback
//     position in milliseconds at which it was grabbed (its stamp), each name above the one
//     before it in the recording and none over an existing file;
//   - CCaptureWorker: grabs the 350 x 240 area at a view's origin into a frame queue on a
//     periodic timer, stamping each frame with the position (first grab at once, or with the
//     first picture the view presents after the start);
//   - CFrameWriter: calls FlushFrames every 100 ms with a player's position.
//
// The queue's lock guards the target and each flush as a whole, file writes included; the
// recording path allocates nothing per frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "capture/frame_queue.h"
#include "capture/worker_thread.h"

class CPlayerView;

inline constexpr int kGrabWidth = kFrameWidth;    // width of the grabbed area and of every frame
inline constexpr int kGrabHeight = kFrameHeight;  // height of the grabbed area and of every frame
inline constexpr int kGrabLeft = 0;               // grab origin: the view's top-left corner
inline constexpr int kGrabTop = 0;
// Accuracy the grab timer was designed for. A timerfd wakes within the thread's timer slack
// (50 us by default), well inside it, so nothing needs raising for a run.
inline constexpr int kTimerResolutionMs = 10;
inline constexpr int kWriterPeriodMs = 100;  // wait between two flushes of CFrameWriter
inline constexpr int kPositionScale = 1000;  // seconds to milliseconds
inline constexpr char kFrameNameFormat[] = "%08d.bmp";

// What the flushes since the target was set did.
struct CFlushStats {
    int m_nWritten = 0;
    // Of those written, the frames that took a higher number because a file had their name.
    int m_nRenumbered = 0;
    int m_nFailed = 0;
    // Frames thrown away unwritten after the first failure, when the target stops writing there.
    int m_nUnwritten = 0;
    std::string m_strFailedPath;  // the first frame file that could not be written
    std::string m_strFailReason;  // and why

    // "<path>: <reason>" of the first failure (empty when none).
    std::string FirstError() const;
};

// A playback position in seconds as a frame number: x 1000, truncated toward zero, clamped
// to the 32-bit range (0 for a position that is not a number).
std::int32_t PositionToMs(double seconds);

// Where the frames of `queue` go. Every member takes the queue's lock.
class CCaptureTarget {
public:
    explicit CCaptureTarget(CFrameQueue& queue) : m_queue(queue) {}
    CCaptureTarget(const CCaptureTarget&) = delete;
    CCaptureTarget& operator=(const CCaptureTarget&) = delete;

    // Sets the folder that receives the frames (a separator is appended when missing; an
    // empty folder means the current one) and the number of the next file. Starts new flush
    // figures.
    void SetCaptureTarget(const std::string& folder, std::int32_t firstNumber);
    // What the first failed write of this target does besides being counted: `fnFailed` is
    // called once (on the flushing thread, under the queue's lock, so it may only hand the news
    // on), and with `bStopWriting` nothing more is written: the frames queued then and later
    // are thrown away and counted as unwritten. Both last until the next SetCaptureTarget.
    void SetFailureHandling(bool bStopWriting, std::function<void()> fnFailed);
    // Writes all queued frames, oldest first, then sets the counter to `nextNumber`. A frame is
    // named after its stamp, or, without one, the counter (which then counts on by one); but
    // never at or below the name before it since SetCaptureTarget (that name + 1 instead, and
    // the counter never goes back there either), and never over an existing file: the next
    // free number is taken (counted as renumbered). A frame that cannot be written is dropped
    // all the same (its number used up) and counted with its reason; the flush goes on with
    // the next.
    void FlushFrames(std::int32_t nextNumber);
    CFlushStats Stats() const;
    // Where the next frame file would go (folder, separator and name).
    std::string NextPath() const;

private:
    // Puts the name of `number` after the folder in m_strPath.
    void SetName(std::int64_t number);
    // Writes `frame` under `number` or, when a file has that name, the next free number;
    // returns the number used up.
    std::int64_t WriteFrame(CDibImage& frame, std::int64_t number);

    CFrameQueue& m_queue;
    std::string m_strPath;        // folder, separator, then the name of the file being written
    std::size_t m_nNamePos = 0;   // where the name starts
    std::int64_t m_nCounter = 0;  // number of the next unstamped file
    // The last number used up since SetCaptureTarget, when there is one.
    std::optional<std::int64_t> m_nLastNumber;
    CFlushStats m_stats;
    bool m_bStopAtFailure = false;
    std::function<void()> m_fnFailed;
};

// Whatever gives the playback position to CFrameWriter and to CCaptureWorker's stamps; called
// on the writer and capture threads.
class IPositionSource {
public:
    virtual ~IPositionSource() = default;
    virtual double PositionSeconds() const = 0;
};

// What a capture run notes with its frames and when it takes the first one.
struct CGrabOptions {
    // Stamps each frame with this position (in ms, PositionToMs) read as it is grabbed;
    // without it frames carry no stamp.
    const IPositionSource* m_pPosition = nullptr;
    // With a value, the first grab waits for a picture that the view presents after it had
    // presented this many (CPlayerView::FrameCount): nothing shown before the start (a black
    // view, the last picture of an earlier run) is taken. Without, the first grab is at once.
    std::optional<std::uint64_t> m_nPicturesBefore;
};

class CCaptureWorker {
public:
    explicit CCaptureWorker(CFrameQueue& queue) : m_queue(queue) {}
    virtual ~CCaptureWorker();
    CCaptureWorker(const CCaptureWorker&) = delete;
    CCaptureWorker& operator=(const CCaptureWorker&) = delete;

    // Stops a run in progress, then grabs `view` into the queue every `intervalMs` (the pages
    // give 20 to 1000) until Stop, as `options` say. Grab and drop counts start from 0. With
    // no view the run ends at once.
    void Start(const CPlayerView* view, int intervalMs, const CGrabOptions& options = {});
    void Stop();
    bool IsRunning() const { return m_thread.IsRunning(); }
    // The interval of the current (or last) run, in milliseconds.
    int IntervalMs() const { return m_nInterval; }
    // True while the run waits for its first picture (CGrabOptions::m_nPicturesBefore).
    bool IsWaitingForPicture() const { return m_bWaitingForPicture.load(); }
    int GrabbedFrames() const { return m_nGrabbed.load(); }
    // Frames lost because the queue was full.
    int DroppedFrames() const { return m_nDropped.load(); }

protected:
    // A periodic CLOCK_MONOTONIC timerfd firing every `intervalMs`, or -1 when none can be had
    // (the routine then grabs without waiting). The routine owns and closes it; each readable
    // state, read as 8 bytes, is one tick (ticks that fell meanwhile count as one), and without
    // a tick it grabs again after `intervalMs`.
    virtual int CreateTickTimer(int intervalMs);

private:
    static std::uint32_t CaptureRoutine(void* param);

    CFrameQueue& m_queue;
    CWorkerThread m_thread;
    const CPlayerView* m_pView = nullptr;
    int m_nInterval = 0;
    CGrabOptions m_options;
    std::atomic<int> m_nGrabbed{0};
    std::atomic<int> m_nDropped{0};
    std::atomic<bool> m_bWaitingForPicture{false};
};

class CFrameWriter {
public:
    explicit CFrameWriter(CCaptureTarget& target) : m_target(target) {}
    virtual ~CFrameWriter();
    CFrameWriter(const CFrameWriter&) = delete;
    CFrameWriter& operator=(const CFrameWriter&) = delete;

    // Stops a run in progress, then flushes the target every 100 ms with the position of
    // `source`.
    void Start(const IPositionSource* source);
    void Stop();
    bool IsRunning() const { return m_thread.IsRunning(); }

private:
    static std::uint32_t WriterRoutine(void* param);

    CCaptureTarget& m_target;
    CWorkerThread m_thread;
    const IPositionSource* m_pSource = nullptr;
};
