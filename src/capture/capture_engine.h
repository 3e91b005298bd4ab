// The capture engine: records what a player view shows as numbered BMP files.
//
// One program-wide frame queue, capture target, capture worker and frame writer, built during
// static initialisation and shared by both player pages and `tarnwick-cli record`:
//   - SetCaptureTarget: the folder and the number of the next frame file;
//   - CCaptureWorker: grabs the 350 x 240 area at the view's origin into the queue on a
//     periodic timer (first grab at once);
//   - FlushFrames: writes every queued frame as "%08d.bmp" under consecutive numbers, then
//     re-bases the number on the playback position in milliseconds;
//   - CFrameWriter: calls FlushFrames every 100 ms with a player's position.
// A recording: SetCaptureTarget, start playback, CCaptureWorker::Start (and CFrameWriter::Start
// where the periodic writer is used); flush while recording; to stop, Stop the workers and
// flush once more. Only one recording can be meaningful at a time.
//
// The queue's lock guards the target and each flush as a whole, file writes included; the
// recording path allocates nothing per frame.
#pragma once

#include <atomic>
#include <cstdint>
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

// What the flushes of the current recording did, for the page (or the CLI) to report when
// the recording stops.
struct CFlushStats {
    int m_nWritten = 0;
    int m_nFailed = 0;
    std::string m_strFirstError;  // "<path>: <reason>" of the first failure
};

// Sets the folder that receives the frames (a separator is appended when missing; an empty
// folder means the current one) and the number of the next file. Starts new flush figures.
void SetCaptureTarget(const std::string& folder, std::int32_t firstNumber);
// Writes all queued frames, oldest first, under consecutive numbers from the counter, then
// sets the counter to `nextNumber`. A frame that cannot be written is dropped all the same
// (its number used up) and counted with its reason; the flush goes on with the next frame.
void FlushFrames(std::int32_t nextNumber);
CFlushStats GetFlushStats();
// Where the next frame file would go (folder, separator and name); for the pages and tests.
std::string CaptureTargetPath();

// A playback position in seconds as a frame number: x 1000, truncated toward zero, clamped
// to the 32-bit range (0 for a position that is not a number).
std::int32_t PositionToMs(double seconds);

// The program's one frame queue.
CFrameQueue& FrameQueue();

class CCaptureWorker {
public:
    CCaptureWorker() = default;
    virtual ~CCaptureWorker();

    // Stops a run in progress, then grabs `view` every `intervalMs` (the pages give 20 to
    // 1000) until Stop. Grab and drop counts start from 0. With no view the run ends at once.
    void Start(const CPlayerView* view, int intervalMs);
    void Stop();
    bool IsRunning() const { return m_thread.IsRunning(); }
    int GrabbedFrames() const { return m_nGrabbed.load(); }
    // Frames lost because the queue was full.
    int DroppedFrames() const { return m_nDropped.load(); }

protected:
    // A periodic CLOCK_MONOTONIC timerfd firing every `intervalMs`, or -1 when none can be had
    // (the routine then grabs without waiting).
    virtual int CreateTickTimer(int intervalMs);

private:
    static std::uint32_t CaptureRoutine(void* param);

    CWorkerThread m_thread;
    const CPlayerView* m_pView = nullptr;
    int m_nInterval = 0;
    std::atomic<int> m_nGrabbed{0};
    std::atomic<int> m_nDropped{0};
};

// Whatever gives the playback position to CFrameWriter; called on the writer thread.
class IPositionSource {
public:
    virtual ~IPositionSource() = default;
    virtual double PositionSeconds() const = 0;
};

class CFrameWriter {
public:
    CFrameWriter() = default;
    virtual ~CFrameWriter();

    // Stops a run in progress, then flushes every 100 ms with the position of `page`.
    void Start(const IPositionSource* page);
    void Stop();
    bool IsRunning() const { return m_thread.IsRunning(); }

private:
    static std::uint32_t WriterRoutine(void* param);

    CWorkerThread m_thread;
    const IPositionSource* m_pPage = nullptr;
};

extern CCaptureWorker g_CaptureWorker;
extern CFrameWriter g_FrameWriter;
