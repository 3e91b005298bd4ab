#include "app/capture/frame_jobs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "image/dib_image.h"
#include "image/frame_image.h"
#include "platform/free_name.h"
#include "resample/resize_dib.h"
#include "video/video_reader.h"

namespace {
// The span around the position when nothing is marked.
constexpr std::int64_t kUnmarkedHalfSpanMs = 1000;

std::int64_t ToMs(double seconds) {
    return std::max<std::int64_t>(0, std::llround(seconds * 1000.0));
}
}  // namespace

CMediaSpan SpanOfMarks(std::optional<double> startSeconds, std::optional<double> endSeconds,
                       std::int64_t positionMs, double framesPerSecond) {
    CMediaSpan span;
    if (!startSeconds && !endSeconds) {
        span.m_nFromMs = std::max<std::int64_t>(0, positionMs - kUnmarkedHalfSpanMs);
        span.m_toMs = positionMs + kUnmarkedHalfSpanMs;
        return span;
    }
    if (startSeconds)
        span.m_nFromMs = ToMs(*startSeconds);
    if (endSeconds) {
        const bool bRate = std::isfinite(framesPerSecond) && framesPerSecond > 0;
        span.m_toMs =
            ToMs(*endSeconds) +
            (bRate ? std::max<std::int64_t>(1, std::llround(750.0 / framesPerSecond)) : 1);
    }
    return span;
}

std::string FreeMediaFileName(const QString& folder, const QString& media, std::int64_t ms,
                              const QString& suffix, const QString& ext) {
    const QString name =
        QDir(folder).filePath(QStringLiteral("%1_%2%3.%4")
                                  .arg(QFileInfo(media).completeBaseName())
                                  .arg(std::max<std::int64_t>(0, ms), 8, 10, QLatin1Char('0'))
                                  .arg(suffix, ext));
    const std::string path(QFile::encodeName(name).constData());
    const auto nameOf = [&](std::int64_t n) { return NumberedPath(path, n); };
    return nameOf(FirstFreeNumber(1, std::numeric_limits<std::int64_t>::max(), nameOf));
}

CResult<SFrame> ReadFrameAt(const std::string& media, std::int64_t ms) {
    CVideoReadOptions options;
    options.m_nFromMs = std::max<std::int64_t>(0, ms);
    options.m_maxFrames = 1;
    auto opened = CVideoReader::Open(media, options);
    if (!opened)
        return opened.Status();
    SFrame frame;
    CResult<bool> next = (*opened)->Next(frame);
    if (!next)
        return next.Status();
    if (!*next)
        return CStatus::Failure(media + ": no frame at " + std::to_string(ms) + " ms");
    return frame;
}

CFrameSaved SaveFrameAt(const QString& media, std::int64_t ms, const QString& folder,
                        FrameFileType type) {
    CFrameSaved saved;
    const std::string mediaPath(QFile::encodeName(media).constData());
    CResult<SFrame> frame = ReadFrameAt(mediaPath, ms);
    if (!frame) {
        saved.m_status = frame.Status();
        saved.m_strPath = mediaPath;
        return saved;
    }
    CDibImage image;
    if (CStatus made = FrameToDib(*frame, image); !made) {
        saved.m_status = made;
        saved.m_strPath = mediaPath;
        return saved;
    }
    // Named after the frame's own time; a name taken meanwhile moves on to the next.
    const QString ext = QString::fromLatin1(FrameFileTypeName(type));
    for (;;) {
        saved.m_strPath = FreeMediaFileName(folder, media, frame->timeMs, QString(), ext);
        saved.m_status = WriteFrameFile(saved.m_strPath, image, type, 95);
        if (saved.m_status || saved.m_status.Error() != EEXIST)
            return saved;
    }
}

CResult<QImage> EnlargeFrame(const SFrame& frame, int nScale) {
    CDibImage source;
    if (CStatus made = FrameToDib(frame, source); !made)
        return made;
    CDibImage enlarged;
    if (CStatus made = enlarged.Create(frame.width * nScale, frame.height * nScale, 24); !made)
        return made;
    if (CStatus resized = ResizeDib(source, enlarged); !resized)
        return resized;
    SFrame out;
    DibToFrame(enlarged, out);
    return QImage(out.bgr.data(), out.width, out.height, qsizetype(out.width) * 3,
                  QImage::Format_BGR888)
        .copy();
}

CPlayerJob::CPlayerJob(QObject* parent) : QObject(parent) {
    m_worker.SetRoutine(&CPlayerJob::Body, this);
}

CPlayerJob::~CPlayerJob() {
    m_bStop = true;
    m_worker.Stop();
}

bool CPlayerJob::Start(std::function<void(CPlayerJob&)> routine) {
    if (m_bRunning)
        return false;
    m_routine = std::move(routine);
    m_bStop = false;
    if (!m_worker.Start())
        return false;
    m_bRunning = true;
    return true;
}

void CPlayerJob::Report(double fraction, double secondsLeft, const QString& text) {
    QMetaObject::invokeMethod(
        this, [this, fraction, secondsLeft, text] { emit Progress(fraction, secondsLeft, text); },
        Qt::QueuedConnection);
}

std::uint32_t CPlayerJob::Body(void* param) {
    auto* job = static_cast<CPlayerJob*>(param);
    job->m_routine(*job);
    QMetaObject::invokeMethod(job, &CPlayerJob::OnReturned, Qt::QueuedConnection);
    return 0;
}

void CPlayerJob::OnReturned() {
    // The routine has returned: this only joins its thread.
    m_worker.Stop();
    m_bRunning = false;
    emit Finished();
}
