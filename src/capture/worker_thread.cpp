// The worker thread and its manual-reset event.
#include "capture/worker_thread.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <system_error>

void CManualEvent::Set() {
    {
        std::lock_guard guard(m_lock);
        m_bSet = true;
    }
    m_changed.notify_all();
}

void CManualEvent::Reset() {
    std::lock_guard guard(m_lock);
    m_bSet = false;
}

bool CManualEvent::IsSet() const {
    std::lock_guard guard(m_lock);
    return m_bSet;
}

bool CManualEvent::Wait(int ms) const {
    std::unique_lock guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(ms < 0 ? 0 : ms),
                              [this] { return m_bSet; });
}

void CManualEvent::Wait() const {
    std::unique_lock guard(m_lock);
    m_changed.wait(guard, [this] { return m_bSet; });
}

CWorkerThread::CWorkerThread() : m_nWakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CWorkerThread::~CWorkerThread() {
    Stop();
    Reap();
    if (m_nWakeFd >= 0)
        close(m_nWakeFd);
}

void CWorkerThread::SetRoutine(Routine routine, void* param) {
    Stop();
    m_pfnRoutine = routine;
    m_pParam = param;
}

bool CWorkerThread::Start() {
    if (!m_pfnRoutine)
        return false;
    Stop();
    Reap();
    // A run that ended by itself left its finished signal raised; a new run starts clean so
    // that its Stop waits for its own routine.
    m_stop.Reset();
    m_finished.Reset();
    if (m_nWakeFd >= 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = read(m_nWakeFd, &count, sizeof count);
    }
    m_bRunning = true;
    try {
        m_thread = std::thread(&CWorkerThread::ThreadBody, this);
    } catch (const std::system_error&) {
        m_bRunning = false;
        return false;
    }
    return true;
}

void CWorkerThread::Stop() {
    if (!m_bRunning.load()) {
        Reap();
        return;
    }
    m_stop.Set();
    // Raised after the signal, so that a routine woken by it sees the stop request.
    if (m_nWakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(m_nWakeFd, &one, sizeof one);
    }
    OnStopRequested();
    m_finished.Wait();
    if (m_thread.joinable())
        m_thread.join();
    m_bRunning = false;
    m_stop.Reset();
    m_finished.Reset();
}

void CWorkerThread::Reap() {
    if (m_thread.joinable() && !m_bRunning.load())
        m_thread.join();
}

void CWorkerThread::ThreadBody() {
    const std::uint32_t code = m_pfnRoutine(m_pParam);
    m_nExitCode = code;
    m_bRunning = false;
    m_finished.Set();
}
