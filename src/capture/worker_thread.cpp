// The worker thread and its manual-reset event.
#include "capture/worker_thread.h"

#include <chrono>
#include <system_error>

#include "platform/pump_messages.h"

namespace {
constexpr int kStopSliceMs = 100;  // longest wait between two dispatches of the caller's events
}

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

CWorkerThread::~CWorkerThread() {
    Stop();
    Reap();
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
    OnStopRequested();
    for (;;) {
        PumpMessages();
        if (m_finished.Wait(kStopSliceMs))
            break;
    }
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
