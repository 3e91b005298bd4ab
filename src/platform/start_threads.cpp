#include "platform/start_threads.h"

#include <algorithm>
#include <system_error>
#include <utility>

std::vector<std::jthread> StartThreads(int n, const std::function<void(int index)>& work,
                                       const ThreadStarter& start) {
    std::vector<std::jthread> threads;
    threads.reserve(std::size_t(std::max(0, n)));
    for (int i = 0; i < n; ++i) {
        std::function<void()> body = [work, i] { work(i); };
        try {
            threads.push_back(start ? start(std::move(body)) : std::jthread(std::move(body)));
        } catch (const std::system_error&) {
            break;  // no more threads to be had: the caller carries on with fewer
        }
    }
    return threads;
}

void RunOnThreads(int n, const std::function<void(int index)>& work, const ThreadStarter& start) {
    if (n <= 0)
        return;
    std::vector<std::jthread> threads = StartThreads(
        n - 1, [&work](int i) { work(i + 1); }, start);
    work(0);
    for (int i = int(threads.size()) + 1; i < n; ++i) work(i);  // refused a thread of its own
    threads.clear();                                            // joins
}
