// The capture target, the flush, the capture worker and the frame writer.
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

#include "platform/window_grab.h"

namespace {

// Where the frames go. Guarded by the frame queue's lock.
struct CCaptureTarget {
    std::string m_strPath;        // folder, separator, then the name of the file being written
    std::size_t m_nNamePos = 0;   // where the name starts
    std::int32_t m_nCounter = 0;  // number of the next file
    CFlushStats m_stats;
};

// Built in this order during static initialisation; the workers go first at exit.
CFrameQueue g_FrameQueue;
CCaptureTarget g_CaptureTarget;

// Room for a name of any 32-bit counter ("-2147483648.bmp") so that a flush never allocates.
constexpr std::size_t kNameRoom = 16;

}  // namespace

CCaptureWorker g_CaptureWorker;
CFrameWriter g_FrameWriter;

CFrameQueue& FrameQueue() {
    return g_FrameQueue;
}

void SetCaptureTarget(const std::string& folder, std::int32_t firstNumber) {
    std::lock_guard guard(g_FrameQueue);
    CCaptureTarget& target = g_CaptureTarget;
    target.m_nCounter = firstNumber;
    target.m_strPath = folder;
    if (!target.m_strPath.empty() && target.m_strPath.back() != '/')
        target.m_strPath += '/';
    target.m_nNamePos = target.m_strPath.size();
    target.m_strPath.reserve(target.m_nNamePos + kNameRoom);
    target.m_stats = CFlushStats{};
}

void FlushFrames(std::int32_t nextNumber) {
    std::lock_guard guard(g_FrameQueue);
    CCaptureTarget& target = g_CaptureTarget;
    CDibImage* frame = nullptr;
    while (g_FrameQueue.PeekFront(&frame)) {
        char name[kNameRoom + 8];
        std::snprintf(name, sizeof name, kFrameNameFormat, int(target.m_nCounter));
        target.m_strPath.resize(target.m_nNamePos);
        target.m_strPath += name;
        // The frame is dropped and its number used up whatever happens: a failed write must
        // neither stall the queue nor end the recording. The first reason is kept for the
        // report at the end.
        const CStatus saved = frame->SaveBmp(target.m_strPath);
        if (saved) {
            ++target.m_stats.m_nWritten;
        } else if (target.m_stats.m_nFailed++ == 0) {
            target.m_stats.m_strFirstError = target.m_strPath + ": " + saved.Reason();
        }
        // Wraps instead of overflowing; numbers this large are beyond any media length.
        target.m_nCounter = std::int32_t(std::uint32_t(target.m_nCounter) + 1u);
        g_FrameQueue.DropFront();
    }
    target.m_nCounter = nextNumber;
}

CFlushStats GetFlushStats() {
    std::lock_guard guard(g_FrameQueue);
    return g_CaptureTarget.m_stats;
}

std::string CaptureTargetPath() {
    std::lock_guard guard(g_FrameQueue);
    char name[kNameRoom + 8];
    std::snprintf(name, sizeof name, kFrameNameFormat, int(g_CaptureTarget.m_nCounter));
    return g_CaptureTarget.m_strPath.substr(0, g_CaptureTarget.m_nNamePos) + name;
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
            if (!FrameQueue().Push(bitmap))
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

void CFrameWriter::Start(const IPositionSource* page) {
    m_thread.Stop();
    m_pPage = page;
    m_thread.SetRoutine(&CFrameWriter::WriterRoutine, this);
    m_thread.Start();
}

void CFrameWriter::Stop() {
    m_thread.Stop();
}

std::uint32_t CFrameWriter::WriterRoutine(void* param) {
    auto* self = static_cast<CFrameWriter*>(param);
    while (!self->m_thread.WaitForStop(kWriterPeriodMs)) {
        FlushFrames(PositionToMs(self->m_pPage ? self->m_pPage->PositionSeconds() : 0.0));
    }
    return 0;
}
