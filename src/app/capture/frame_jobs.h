// What the player pages make from the media file itself rather than from the picture on screen:
// the frame at a position at its own size, every frame of a span, and the best still of a span.
// The long ones run on a thread of their own (CPlayerJob) and report to the UI thread.
#pragma once

#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "capture/worker_thread.h"
#include "image/frame_source.h"
#include "jobs/frames_job.h"
#include "platform/status.h"

// A span of the media in ms: from its start to before its end (none: to the media's end).
struct CMediaSpan {
    std::int64_t m_nFromMs = 0;
    std::optional<std::int64_t> m_toMs;
};

// The span the marks give (either may be missing); without marks, a second either side of
// `positionMs`. A start mark alone runs to the media's end, an end mark alone from its start.
// The end mark's own picture belongs to the span: the span ends three quarters of a picture
// (at `framesPerSecond`; 1 ms when unknown) after it, which a reader's time base, rounded to
// the nearest tick, keeps before the next picture.
CMediaSpan SpanOfMarks(std::optional<double> startSeconds, std::optional<double> endSeconds,
                       std::int64_t positionMs, double framesPerSecond);

// "<folder>/<media's name>_<ms, 8 digits><suffix>.<ext>", or the first of "…_2.<ext>",
// "…_3.<ext>" … not taken: the name a page gives what it makes from its media.
std::string FreeMediaFileName(const QString& folder, const QString& media, std::int64_t ms,
                              const QString& suffix, const QString& ext);

// The frame shown at `ms` (the first whose time is at or after it, as the player's exact seek
// lands), decoded from `media` at its own size.
CResult<SFrame> ReadFrameAt(const std::string& media, std::int64_t ms);

// Writes the frame of `media` at `ms` into `folder` under a free name after the media and the
// time, as `type`. Returns the path written, or the path and the reason it failed.
struct CFrameSaved {
    CStatus m_status;
    std::string m_strPath;
};
CFrameSaved SaveFrameAt(const QString& media, std::int64_t ms, const QString& folder,
                        FrameFileType type);

// `frame` enlarged `nScale` times the plain way (the exact cubic resize), as a picture to show.
CResult<QImage> EnlargeFrame(const SFrame& frame, int nScale);

// One job at a time, run on a worker thread. The routine asks StopRequested, reports through
// Report from its thread, and its end reaches the UI thread as Finished; the page keeps the
// results in the routine's own captures until then.
class CPlayerJob : public QObject {
    Q_OBJECT
public:
    explicit CPlayerJob(QObject* parent = nullptr);
    // Asks a running routine to stop and waits for it.
    ~CPlayerJob() override;

    // Starts `routine` on the worker; false when one still runs or no thread could be made.
    bool Start(std::function<void(CPlayerJob&)> routine);
    bool IsRunning() const { return m_bRunning; }
    // Asks the routine to end; Finished follows once it has.
    void RequestStop() { m_bStop = true; }
    bool StopRequested() const { return m_bStop.load(); }
    // From the routine's thread: `fraction` done (below 0: not known), seconds left (below 0:
    // not known) and a line of text, delivered to the UI thread as Progress.
    void Report(double fraction, double secondsLeft, const QString& text);

signals:
    void Progress(double fraction, double secondsLeft, const QString& text);
    // The routine has returned (on the UI thread).
    void Finished();

private:
    static std::uint32_t Body(void* param);
    void OnReturned();

    CWorkerThread m_worker;
    std::function<void(CPlayerJob&)> m_routine;
    std::atomic<bool> m_bStop{false};
    bool m_bRunning = false;
};
