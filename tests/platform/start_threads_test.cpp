// Starting worker threads, and carrying on with fewer when the system refuses one.
#include "platform/start_threads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Starts real threads, except that the `refused`-th start (counting from 0) and every later one
// fail as the system fails them; -1 refuses none.
ThreadStarter RefusingFrom(int refused, int* calls) {
    return [refused, calls](std::function<void()> body) {
        const int call = (*calls)++;
        if (refused >= 0 && call >= refused)
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        return std::jthread(std::move(body));
    };
}

struct Case {
    int n;
    int refused;              // the start the system refuses, -1 for none
    int started;              // threads StartThreads returns
    int startsTried;          // starts asked of the system: none after the first refusal
    int runOnThreadsStarted;  // threads RunOnThreads starts: work(0) is the caller's
};
const Case kCases[] = {
    {0, -1, 0, 0, 0},   // nothing to do
    {1, -1, 1, 1, 0},   // RunOnThreads: the caller alone
    {4, -1, 4, 4, 3},   // every start granted
    {4, 0, 0, 1, 0},    // the first refused: none start
    {4, 2, 2, 3, 2},    // the third refused: two start, the rest are not tried
    {5, 4, 4, 5, 4},    // only the last refused
    {-3, -1, 0, 0, 0},  // a negative count is none
};

TEST(StartThreads, StartsInOrderUntilTheFirstRefusal) {
    for (const Case& c : kCases) {
        SCOPED_TRACE("n " + std::to_string(c.n) + ", refused " + std::to_string(c.refused));
        const int slots = std::max(c.n, 0);
        std::vector<std::atomic<int>> runs(std::size_t(slots) + 1);
        int calls = 0;
        std::size_t started = 0;
        {
            std::vector<std::jthread> threads = StartThreads(
                c.n, [&](int index) { ++runs[std::size_t(index)]; },
                RefusingFrom(c.refused, &calls));
            started = threads.size();
        }  // joined
        EXPECT_EQ(int(started), c.started);
        EXPECT_EQ(calls, c.startsTried);
        // Thread i runs work(i); the indexes past those started never run.
        for (int i = 0; i < slots; ++i)
            EXPECT_EQ(runs[std::size_t(i)].load(), i < c.started ? 1 : 0) << "index " << i;
    }
}

TEST(RunOnThreads, RunsEveryIndexOnceWhateverTheSystemRefuses) {
    for (const Case& c : kCases) {
        SCOPED_TRACE("n " + std::to_string(c.n) + ", refused " + std::to_string(c.refused));
        const int slots = std::max(c.n, 0);
        std::vector<std::atomic<int>> runs(std::size_t(slots) + 1);
        std::vector<std::thread::id> ranOn(std::size_t(slots) + 1);
        int calls = 0;
        RunOnThreads(
            c.n,
            [&](int index) {
                ++runs[std::size_t(index)];
                ranOn[std::size_t(index)] = std::this_thread::get_id();
            },
            RefusingFrom(c.refused, &calls));
        for (int i = 0; i < slots; ++i) {
            EXPECT_EQ(runs[std::size_t(i)].load(), 1) << "index " << i;
            // work(0) and every index refused a thread run on the caller; the others do not.
            const bool bCaller = i == 0 || i > c.runOnThreadsStarted;
            EXPECT_EQ(ranOn[std::size_t(i)] == std::this_thread::get_id(), bCaller)
                << "index " << i;
        }
    }
}

}  // namespace
