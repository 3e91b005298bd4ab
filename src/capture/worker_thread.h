// CWorkerThread: runs one routine on a thread of its own until asked to stop.
//
// Start, Stop and SetRoutine are called by the owner (the UI thread); the routine polls
// IsStopRequested, waits in WaitForStop, or polls WakeHandle beside its own descriptors, and
// returns soon after the stop signal. Stop blocks the calling thread until the routine has
// returned and dispatches none of its events: a routine must never wait for its owner's
// thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// A manual-reset event: stays raised until cleared.
class CManualEvent {
public:
    void Set();
    void Reset();
    bool IsSet() const;
    // True when raised within `ms` milliseconds.
    bool Wait(int ms) const;
    // Until raised.
    void Wait() const;

private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    bool m_bSet = false;
};

class CWorkerThread {
public:
    using Routine = std::uint32_t (*)(void* param);

    CWorkerThread();
    virtual ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Stops a run in progress first.
    void SetRoutine(Routine routine, void* param);
    // Stops a run in progress, then runs the routine on a new thread. False when no routine
    // is set or the thread cannot be created.
    bool Start();
    // Ends the current run and waits for its routine to return, on the calling thread and
    // without dispatching its events. Returns at once when nothing runs.
    void Stop();
    bool IsRunning() const { return m_bRunning.load(); }
    bool IsStopRequested() const { return m_stop.IsSet(); }
    // True when the stop signal is raised within `ms` milliseconds.
    bool WaitForStop(int ms) const { return m_stop.Wait(ms); }
    // A descriptor that turns readable when a stop is requested (an eventfd; -1 when none
    // could be made), for a routine that waits in poll: it stays readable until the next Start.
    int WakeHandle() const { return m_nWakeFd; }
    // Exit code of the last run that ended.
    std::uint32_t ExitCode() const { return m_nExitCode.load(); }

    // Signals, readable for the owner and for tests.
    const CManualEvent& StopSignal() const { return m_stop; }
    const CManualEvent& FinishedSignal() const { return m_finished; }

protected:
    // Called by Stop right after the stop signal is raised.
    virtual void OnStopRequested() {}

private:
    void ThreadBody();
    // Joins a thread whose routine has already returned by itself.
    void Reap();

    std::thread m_thread;
    std::atomic<bool> m_bRunning{false};
    std::atomic<std::uint32_t> m_nExitCode{0};
    CManualEvent m_stop;
    CManualEvent m_finished;
    Routine m_pfnRoutine = nullptr;
    void* m_pParam = nullptr;
    int m_nWakeFd = -1;
};
