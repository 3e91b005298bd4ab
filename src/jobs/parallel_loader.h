// Work on the files of a job ahead of the thread that drives it: a few workers take the files in
// scan order, at most a bounded number ahead, and hand their results back in that order. The
// driving thread (a page's UI thread, the command line) keeps reporting, asking about Stop,
// writing and trashing, one file at a time, as before.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/start_threads.h"
#include "platform/status.h"

class CDibImage;

// The files of `folder` matching `pattern`, in scan order (CSrchDir, no recursion).
std::vector<std::string> ListMatchingFiles(const std::string& folder, const std::string& pattern);

// LoadImageFile, except that a JPEG of the size `image` already has is decoded into its block,
// and a BMP is read into its block (LoadImageFileReusing), so a worker going through files of
// one size makes no new image per file. Succeeds when `image` holds the picture; after a
// failure the image may hold anything.
CStatus LoadSourceInto(const std::string& path, CDibImage& image);

// Runs `work(index, worker)` for items 0..count-1. With one thread there is no worker: Next runs
// the item itself, so nothing is done before it is asked for. With more, `threads` workers run
// items in order, at most `ahead` beyond the one Next waits for; `worker` (0..threads-1) lets
// the work keep state of its own per thread. `work` must not throw.
template <class Result>
class CParallelLoader {
public:
    using Work = std::function<Result(std::size_t index, int worker)>;

    CParallelLoader(std::size_t count, int threads, std::size_t ahead, Work work)
        : m_nCount(count), m_nAhead(std::max<std::size_t>(1, ahead)), m_work(std::move(work)) {
        if (threads <= 1 || count <= 1)
            return;
        m_slots.resize(m_nAhead);
        // Fewer workers when the system refuses threads, or none (Next does it all).
        m_workers = StartThreads(int(std::min<std::size_t>(std::size_t(threads), count)),
                                 [this](int worker) { WorkerLoop(worker); });
    }
    ~CParallelLoader() { Finish(); }
    CParallelLoader(const CParallelLoader&) = delete;
    CParallelLoader& operator=(const CParallelLoader&) = delete;

    // Workers running (0 when Next does the work itself).
    int Workers() const { return int(m_workers.size()); }

    // The result of the next item in order, waiting for it; none after the last item or once
    // Stop was called.
    std::optional<Result> Next() {
        if (m_nTaken >= m_nCount)
            return std::nullopt;
        if (m_workers.empty()) {
            if (m_bStop)
                return std::nullopt;
            return m_work(m_nTaken++, 0);
        }
        std::unique_lock lock(m_mutex);
        if (m_bStop)
            return std::nullopt;
        std::optional<Result>& slot = m_slots[m_nTaken % m_nAhead];
        m_ready.wait(lock, [&] { return slot.has_value(); });
        std::optional<Result> result = std::move(slot);
        slot.reset();  // NOLINT(bugprone-use-after-move): a moved-from optional is emptied here
        ++m_nTaken;
        m_room.notify_all();
        return result;
    }

    // No item starts after this; those under way run to their end (Finish waits for them) and
    // their results are dropped.
    void Stop() {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
        m_room.notify_all();
    }

    // Stops and waits for the items under way.
    void Finish() {
        Stop();
        m_workers.clear();  // joins
    }

private:
    void WorkerLoop(int worker) {
        for (;;) {
            std::size_t index;
            {
                std::unique_lock lock(m_mutex);
                m_room.wait(lock, [&] {
                    return m_bStop || m_nStarted >= m_nCount || m_nStarted < m_nTaken + m_nAhead;
                });
                if (m_bStop || m_nStarted >= m_nCount)
                    return;
                index = m_nStarted++;
            }
            Result result = m_work(index, worker);
            std::lock_guard lock(m_mutex);
            m_slots[index % m_nAhead] = std::move(result);
            m_ready.notify_all();
        }
    }

    const std::size_t m_nCount;
    const std::size_t m_nAhead;
    Work m_work;
    std::mutex m_mutex;
    std::condition_variable m_room;              // a slot came free, or Stop
    std::condition_variable m_ready;             // a result came in
    std::vector<std::optional<Result>> m_slots;  // result of item i at i % ahead
    std::size_t m_nStarted = 0;                  // items handed to workers
    std::size_t m_nTaken = 0;                    // items Next returned
    bool m_bStop = false;
    std::vector<std::jthread> m_workers;  // last: joined first
};
