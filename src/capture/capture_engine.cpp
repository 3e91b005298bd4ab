// The capture target and its flush, the capture worker and the frame writer.
#include "capture/capture_engine.h"

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <utility>

#include "platform/atomic_file.h"
#include "platform/free_name.h"
#include "platform/media_player.h"
#include "platform/window_grab.h"

namespace {

// Room for a name of any 64-bit number so that a flush never allocates for it.
constexpr std::size_t kNameRoom = 24;
// kFrameNameFormat for numbers of 64 bits: the same names for every 32-bit number.
constexpr char kWideNameFormat[] = "%08" PRId64 ".bmp";
// How often a run that waits for its first picture looks at the view.
constexpr int kPictureWaitMs = 2;

}  // namespace

std::string CFlushStats::FirstError() const {
    if (m_nFailed == 0)
        return std::string();
    return m_strFailedPath + ": " + m_strFailReason;
}

void CCaptureTarget::SetCaptureTarget(const std::string& folder, std::int32_t firstNumber) {
    std::lock_guard guard(m_queue);
    m_nCounter = firstNumber;
    m_nLastNumber.reset();
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

void CCaptureTarget::SetName(std::int64_t number) {
    char name[kNameRoom + 8];
    std::snprintf(name, sizeof name, kWideNameFormat, number);
    m_strPath.resize(m_nNamePos);
    m_strPath += name;
}

std::int64_t CCaptureTarget::WriteFrame(CDibImage& frame, std::int64_t number) {
    const std::int64_t wanted = number;
    CCommitOptions commit;
    commit.m_bNoReplace = true;
    const CStatus saved = WriteAtFreeNumber(
        number,
        [this](std::int64_t n) {
            SetName(n);
            return m_strPath.c_str();
        },
        [&](std::int64_t n) {
            SetName(n);
            return frame.SaveBmp(m_strPath, commit);
        });
    // A failed write must neither stall the queue nor end the recording: the frame is dropped
    // and its number used up all the same. The first reason is kept for the report.
    if (saved) {
        ++m_stats.m_nWritten;
        if (number != wanted)
            ++m_stats.m_nRenumbered;
    } else if (m_stats.m_nFailed++ == 0) {
        m_stats.m_strFailedPath = m_strPath;
        m_stats.m_strFailReason = saved.Reason();
        if (m_fnFailed)
            m_fnFailed();
    }
    return number;
}

void CCaptureTarget::FlushFrames(std::int32_t nextNumber) {
    std::lock_guard guard(m_queue);
    CDibImage* frame = nullptr;
    std::optional<std::int32_t> stamp;
    while (m_queue.PeekFront(&frame, &stamp)) {
        if (m_bStopAtFailure && m_stats.m_nFailed > 0) {
            ++m_stats.m_nUnwritten;
            m_queue.DropFront();
            continue;
        }
        std::int64_t number = stamp ? *stamp : m_nCounter;
        // A position that stood still (or went back) still gives each frame a name of its own.
        if (m_nLastNumber)
            number = std::max(number, *m_nLastNumber + 1);
        m_nLastNumber = WriteFrame(*frame, number);
        m_nCounter = *m_nLastNumber + 1;
        m_queue.DropFront();
    }
    m_nCounter = nextNumber;
    if (m_nLastNumber)
        m_nCounter = std::max(m_nCounter, *m_nLastNumber + 1);
}

CFlushStats CCaptureTarget::Stats() const {
    std::lock_guard guard(m_queue);
    return m_stats;
}

std::string CCaptureTarget::NextPath() const {
    std::lock_guard guard(m_queue);
    char name[kNameRoom + 8];
    std::snprintf(name, sizeof name, kWideNameFormat, m_nCounter);
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

void CCaptureWorker::Start(const CPlayerView* view, int intervalMs, const CGrabOptions& options) {
    m_thread.Stop();
    m_pView = view;
    m_nInterval = intervalMs;
    m_options = options;
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
    const CPlayerView& view = *self->m_pView;
    const CGrabOptions& options = self->m_options;
    // The first grab waits for a new picture; the timer's ticks count from that grab.
    if (options.m_nPicturesBefore) {
        self->m_bWaitingForPicture = true;
        while (view.FrameCount() <= *options.m_nPicturesBefore) {
            if (self->m_thread.WaitForStop(kPictureWaitMs)) {
                self->m_bWaitingForPicture = false;
                return 0;
            }
        }
        self->m_bWaitingForPicture = false;
    }
    CGrabBitmap bitmap;
    const int timer = self->CreateTickTimer(self->m_nInterval);
    if (bitmap.Create(kGrabWidth, kGrabHeight)) {
        while (!self->m_thread.IsStopRequested()) {
            // A view grown on the screen is scaled back to the frame's size.
            GrabViewScaled(view, bitmap);
            std::optional<std::int32_t> stamp;
            if (options.m_pPosition)
                stamp = PositionToMs(options.m_pPosition->PositionSeconds());
            ++self->m_nGrabbed;
            if (!self->m_queue.Push(bitmap, stamp))
                ++self->m_nDropped;  // queue full: the frame is lost
            if (timer >= 0) {
                // Every expiry since the last read is taken at once, so ticks that fell while
                // a grab waited for a flush collapse into one and the next grab follows.
                // A stop wakes the wait at once, whatever the interval.
                pollfd fds[2] = {{timer, POLLIN, 0}, {self->m_thread.WakeHandle(), POLLIN, 0}};
                if (poll(fds, fds[1].fd >= 0 ? 2 : 1, self->m_nInterval) > 0 &&
                    (fds[0].revents & POLLIN)) {
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
