// CRecording: one recording of what a player view shows into numbered BMP files.
//
// It owns the frame queue, the capture target, the capture worker and the writer worker, and
// the order in which they are used:
//   Start:  target folder and first number set, the player played, the capture worker
//           started on the view (its first grab waits for the first picture the view
//           presents after this point; each frame stamped with the player's position), and
//           the writer thread when the recording uses one;
//   Flush:  the queued frames written, the number re-based on a position (the owner calls it
//           on the player's position notifications when there is no writer thread);
//   Stop:   the workers stopped, the player paused, the frames still queued written with the
//           player's position; the result says what was written, dropped and failed.
// A frame goes: view -> CCaptureWorker (grab, every interval) -> CFrameQueue (30 frames) ->
// CCaptureTarget::FlushFrames (UI thread or writer thread) -> "<folder>/%08d.bmp".
//
// Start, Stop, Abandon and EndRunning are called on the UI thread; the stops block it until
// the workers have ended (a stop wakes them, so that is at once or after one frame write) and
// dispatch none of its events, so nothing re-enters the owner meanwhile. Flush may come from
// any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "capture/capture_engine.h"
#include "capture/frame_queue.h"

class CPlayerView;

// The player a recording drives. PositionSeconds is read on the capture and writer threads
// too.
class IRecordedPlayer : public IPositionSource {
public:
    // Once the target is set, just before the first grab: start playing.
    virtual void PlayForRecording() = 0;
    // Once the workers have stopped, before the final flush: stop playing.
    virtual void PauseAfterRecording() = 0;
};

struct CRecordingResult;

struct CRecordingParams {
    std::string m_strFolder;  // receives the frames; a separator is added when missing
    // Number of the first frame file when frames carry no stamp (no player).
    std::int32_t m_nFirstNumber = 0;
    const CPlayerView* m_pView = nullptr;
    int m_nIntervalMs = 20;  // between two grabs
    // Gives each frame its stamp, the position it is named after.
    IRecordedPlayer* m_pPlayer = nullptr;
    // The first grab waits for a picture the view presents after it had presented
    // `m_nPicturesBefore` (CPlayerView::FrameCount), or, without that count, after
    // PlayForRecording was called; off, the first grab is at once.
    bool m_bWaitForPicture = true;
    std::optional<std::uint64_t> m_nPicturesBefore;
    // Flush every 100 ms on a thread of its own; without it the owner calls Flush.
    bool m_bWriterThread = false;
    // Called once when this recording has stopped, whoever stopped it (its owner, or another
    // recording about to start), on the thread that called Stop and after the final flush,
    // with the result; Abandon calls it not.
    std::function<void(const CRecordingResult&)> m_fnStopped;
    // The first frame file that cannot be written ends the writing: nothing more is written
    // (the frames after it are counted as unwritten) and `m_fnFirstFailure`, when given, is
    // called once, on the thread of that flush and under the queue's lock: it may only post
    // the news to its owner, who then stops the recording. Off, a failed frame is counted and
    // the next one tried.
    bool m_bStopAtFirstFailure = false;
    std::function<void()> m_fnFirstFailure;
};

struct CRecordingResult {
    int m_nGrabbed = 0;           // pictures taken from the view
    int m_nWritten = 0;           // frame files written
    int m_nRenumbered = 0;        // of them, under a higher number as a file had their name
    int m_nDropped = 0;           // pictures lost because the queue was full
    int m_nFailed = 0;            // frames whose file could not be written
    int m_nUnwritten = 0;         // frames thrown away after the first failure (when it stops)
    std::string m_strFailedPath;  // the first of them
    std::string m_strFailReason;  // and why
    // The player's position when the recording stopped, after the pause; the final flush
    // re-based the number on it.
    double m_dStopSeconds = 0;

    // "<path>: <reason>" of the first failure (empty when none).
    std::string FirstFailure() const;
};

class CRecording {
public:
    CRecording();
    // Stops the workers; nothing more is written.
    ~CRecording();
    CRecording(const CRecording&) = delete;
    CRecording& operator=(const CRecording&) = delete;

    // Ends a running recording first (EndRunning), then records `params.m_pView` into
    // `params.m_strFolder`.
    void Start(CRecordingParams params);
    // Writes the queued frames, then numbers the next one `nextNumber`.
    void Flush(std::int32_t nextNumber);
    // Stops the workers, pauses the player, writes what is still queued, tells the owner
    // (CRecordingParams::m_fnStopped) and gives the result. Returns the last result at once
    // when nothing runs.
    CRecordingResult Stop();
    // For an owner going away: stops the workers and throws the queued frames away, with no
    // call to the player and nothing more written.
    void Abandon();
    // Stops a running recording, as Stop does.
    void EndRunning();

    bool IsRunning() const { return m_bRunning; }
    // The figures of the current (or last) recording so far.
    CRecordingResult Result() const;
    // Where the next frame file would go.
    std::string NextFramePath() const { return m_target.NextPath(); }

    // The parts, for tests.
    CFrameQueue& Queue() { return m_queue; }
    const CCaptureWorker& CaptureWorker() const { return m_captureWorker; }
    const CFrameWriter& Writer() const { return m_writer; }

private:
    // Built in this order; the workers go first.
    CFrameQueue m_queue;
    CCaptureTarget m_target{m_queue};
    CCaptureWorker m_captureWorker{m_queue};
    CFrameWriter m_writer{m_target};
    bool m_bRunning = false;
    IRecordedPlayer* m_pPlayer = nullptr;  // while running
    std::function<void(const CRecordingResult&)> m_fnStopped;
    double m_dStopSeconds = 0;
};
