#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <poll.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "capture/worker_thread.h"
#include "common/media_clips.h"

namespace {

struct RunLog {
    CWorkerThread* worker = nullptr;
    std::atomic<int> active{0};
    std::atomic<int> maxActive{0};
    std::atomic<int> runs{0};
    std::atomic<int> ended{0};
    int lingerMs = 0;  // how long the routine takes to end after the stop signal
};

std::uint32_t LoopUntilStop(void* param) {
    auto* log = static_cast<RunLog*>(param);
    const int now = ++log->active;
    if (now > log->maxActive)
        log->maxActive = now;
    ++log->runs;
    while (!log->worker->WaitForStop(5)) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(log->lingerMs));
    --log->active;
    ++log->ended;
    return 7;
}

std::uint32_t ReturnAtOnce(void* param) {
    ++static_cast<RunLog*>(param)->ended;
    return 3;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace

TEST(WorkerThread, StopWithoutARunLeavesTheSignalsAlone) {
    CWorkerThread worker;
    worker.Stop();
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_FALSE(worker.StopSignal().IsSet());
    EXPECT_FALSE(worker.FinishedSignal().IsSet());
    EXPECT_FALSE(worker.Start());  // no routine set
}

TEST(WorkerThread, StopWaitsForTheRoutineAndClearsBothSignals) {
    CWorkerThread worker;
    RunLog log;
    log.worker = &worker;
    log.lingerMs = 150;
    worker.SetRoutine(&LoopUntilStop, &log);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return log.runs == 1; }, 2000));
    EXPECT_FALSE(worker.WaitForStop(20));
    worker.Stop();
    EXPECT_EQ(log.ended, 1);  // the routine had ended when Stop returned
    EXPECT_EQ(worker.ExitCode(), 7u);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_FALSE(worker.StopSignal().IsSet());
    EXPECT_FALSE(worker.FinishedSignal().IsSet());
}

TEST(WorkerThread, StartAndSetRoutineWhileRunningStopTheRunFirst) {
    CWorkerThread worker;
    RunLog log;
    log.worker = &worker;
    log.lingerMs = 50;
    worker.SetRoutine(&LoopUntilStop, &log);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return log.runs == 1; }, 2000));
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return log.runs == 2; }, 2000));
    EXPECT_EQ(log.ended, 1);
    worker.SetRoutine(&LoopUntilStop, &log);
    EXPECT_EQ(log.ended, 2);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(log.maxActive, 1);  // never two runs at once
}

// A run that ended by itself leaves its finished signal raised; the next run's Stop must
// still wait for that run's own routine.
TEST(WorkerThread, StopAfterAnEarlierRunEndedByItselfWaitsForTheNewRun) {
    CWorkerThread worker;
    RunLog log;
    log.worker = &worker;
    log.lingerMs = 200;
    worker.SetRoutine(&ReturnAtOnce, &log);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return !worker.IsRunning(); }, 2000));
    EXPECT_EQ(worker.ExitCode(), 3u);
    EXPECT_TRUE(worker.FinishedSignal().IsSet());
    worker.Stop();  // nothing runs: returns at once, signals as they were
    EXPECT_TRUE(worker.FinishedSignal().IsSet());

    worker.SetRoutine(&LoopUntilStop, &log);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return log.runs == 1; }, 2000));
    worker.Stop();
    EXPECT_EQ(log.ended, 2);
}

// Stop waits on the caller's thread and dispatches none of its events: an event posted to
// the caller before the stop is still waiting afterwards, and a routine that waits in poll is
// woken by the stop through the wake handle, whatever its own time-out.
TEST(WorkerThread, StopDispatchesNothingAndWakesAPollingRoutine) {
    EnsureApplication();
    struct Ctx {
        CWorkerThread* worker;
        std::atomic<bool> polling{false};
        std::atomic<int> woken{0};
    };
    CWorkerThread worker;
    ASSERT_GE(worker.WakeHandle(), 0);
    Ctx ctx{&worker};
    worker.SetRoutine(
        [](void* param) -> std::uint32_t {
            auto* c = static_cast<Ctx*>(param);
            pollfd wake{c->worker->WakeHandle(), POLLIN, 0};
            c->polling = true;
            // A day: only the stop can end this wait.
            if (poll(&wake, 1, 24 * 3600 * 1000) > 0 && c->worker->IsStopRequested())
                ++c->woken;
            return 0;
        },
        &ctx);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ctx.polling = false;
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(WaitFor([&] { return ctx.polling.load(); }, 10000));
        QObject uiObject;
        int served = 0;
        QMetaObject::invokeMethod(
            &uiObject, [&served] { ++served; }, Qt::QueuedConnection);
        worker.Stop();
        EXPECT_EQ(ctx.woken, run + 1);
        EXPECT_EQ(served, 0);
        QCoreApplication::processEvents();
        EXPECT_EQ(served, 1);
    }
}

TEST(ManualEvent, StaysRaisedUntilCleared) {
    CManualEvent event;
    EXPECT_FALSE(event.Wait(10));
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        event.Set();
    });
    EXPECT_TRUE(event.Wait(5000));
    setter.join();
}
