// The capture target and its flush, the capture worker and the frame writer.
#include "capture/capture_engine.h"

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <utility>

#include "platform/window_grab.h"

namespace {

// Room for a name of any 32-bit counter ("-2147483648.bmp") so that a flush never allocates.
constexpr std::size_t kNameRoom = 16;

}  // namespace

std::string CFlushStats::FirstError() const {
    if (m_nFailed == 0)
        return std::string();
    return m_strFailedPath + ": " + m_strFailReason;
}

void CCaptureTarget::SetCaptureTarget(const std::string& folder, std::int32_t firstNumber) {
    std::lock_guard guard(m_queue);
    m_nCounter = firstNumber;
    m_strPath = folder;
    if (!m_strPath.empty() && m_strPath.back() != '/')
        m_strPath += '/';
    m_nNamePos = m_strPath.size();
    m_strPath.reserve(m_nNamePos + kNameRoom);
    m_stats = CFlushStats{};
    m_bStopAtFailure = false;
    m_fnFailed = nullptr;
}

void CCaptureTarget::SetFailureHandling(bool bStopWriting, std::function<void()> fnFailed) {
    std::lock_guard guard(m_queue);
    m_bStopAtFailure = bStopWriting;
    m_fnFailed = std::move(fnFailed);
}

void CCaptureTarget::FlushFrames(std::int32_t nextNumber) {
    std::lock_guard guard(m_queue);
    CDibImage* frame = nullptr;
    while (m_queue.PeekFront(&frame)) {
        if (m_bStopAtFailure && m_stats.m_nFailed > 0) {
            ++m_stats.m_nUnwritten;
            m_queue.DropFront();
            continue;
        }
        char name[kNameRoom + 8];
        std::snprintf(name, sizeof name, kFrameNameFormat, int(m_nCounter));
        m_strPath.resize(m_nNamePos);
        m_strPath += name;
        // The frame is dropped and its number used up whatever happens: a failed write must
        // neither stall the queue nor end the recording. The first reason is kept for the
        // report at the end.
        const CStatus saved = frame->SaveBmp(m_strPath);
        if (saved) {
            ++m_stats.m_nWritten;
        } else if (m_stats.m_nFailed++ == 0) {
            m_stats.m_strFailedPath = m_strPath;
            m_stats.m_strFailReason = saved.Reason();
            if (m_fnFailed)
                m_fnFailed();
        }
        // Wraps instead of overflowing; numbers this large are beyond any media length.
        m_nCounter = std::int32_t(std::uint32_t(m_nCounter) + 1u);
        m_queue.DropFront();
    }
    m_nCounter = nextNumber;
}

CFlushStats CCaptureTarget::Stats() const {
    std::lock_guard guard(m_queue);
    return m_stats;
}

std::string CCaptureTarget::NextPath() const {
    std::lock_guard guard(m_queue);
    char name[kNameRoom + 8];
    std::snprintf(name, sizeof name, kFrameNameFormat, int(m_nCounter));
    return m_strPath.substr(0, m_nNamePos) + name;
}

std::int32_t PositionToMs(double seconds) {
    const double ms = seconds * kPositionScale;
    if (std::isnan(ms))
        return 0;
    if (ms >= double(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (ms <= double(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return std::int32_t(ms);  // truncates toward zero
}

// ---- CCaptureWorker ----

CCaptureWorker::~CCaptureWorker() {
    m_thread.Stop();
}

void CCaptureWorker::Start(const CPlayerView* view, int intervalMs) {
    m_thread.Stop();
    m_pView = view;
    m_nInterval = intervalMs;
    m_nGrabbed = 0;
    m_nDropped = 0;
    m_thread.SetRoutine(&CCaptureWorker::CaptureRoutine, this);
    m_thread.Start();
}

void CCaptureWorker::Stop() {
    m_thread.Stop();
}

int CCaptureWorker::CreateTickTimer(int intervalMs) {
    if (intervalMs <= 0)
        return -1;
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd < 0)
        return -1;
    itimerspec timing{};
    timing.it_interval.tv_sec = intervalMs / 1000;
    timing.it_interval.tv_nsec = long(intervalMs % 1000) * 1000000L;
    timing.it_value = timing.it_interval;
    if (timerfd_settime(fd, 0, &timing, nullptr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::uint32_t CCaptureWorker::CaptureRoutine(void* param) {
    auto* self = static_cast<CCaptureWorker*>(param);
    if (!self->m_pView)
        return 0;
    CGrabBitmap bitmap;
    const int timer = self->CreateTickTimer(self->m_nInterval);
    if (bitmap.Create(kGrabWidth, kGrabHeight)) {
        while (!self->m_thread.IsStopRequested()) {
            GrabViewArea(*self->m_pView, kGrabLeft, kGrabTop, bitmap);
            ++self->m_nGrabbed;
            if (!self->m_queue.Push(bitmap))
                ++self->m_nDropped;  // queue full: the frame is lost
            if (timer >= 0) {
                // Every expiry since the last read is taken at once, so ticks that fell while
                // a grab waited for a flush collapse into one and the next grab follows.
                pollfd pfd{timer, POLLIN, 0};
                if (poll(&pfd, 1, self->m_nInterval) > 0) {
                    std::uint64_t expirations = 0;
                    [[maybe_unused]] const ssize_t n =
                        read(timer, &expirations, sizeof expirations);
                }
            }
        }
    }
    if (timer >= 0)
        close(timer);
    return 0;
}

// ---- CFrameWriter ----

CFrameWriter::~CFrameWriter() {
    m_thread.Stop();
}

void CFrameWriter::Start(const IPositionSource* source) {
    m_thread.Stop();
    m_pSource = source;
    m_thread.SetRoutine(&CFrameWriter::WriterRoutine, this);
    m_thread.Start();
}

void CFrameWriter::Stop() {
    m_thread.Stop();
}

std::uint32_t CFrameWriter::WriterRoutine(void* param) {
    auto* self = static_cast<CFrameWriter*>(param);
    while (!self->m_thread.WaitForStop(kWriterPeriodMs)) {
        self->m_target.FlushFrames(
            PositionToMs(self->m_pSource ? self->m_pSource->PositionSeconds() : 0.0));
    }
    return 0;
}
