// Waiting on another thread's work in tests without a clock in the verdict: the limit only
// keeps a fault from hanging the run.
#pragma once

#include <chrono>
#include <thread>

// Polls `done` until it is true (then true) or 10 s have passed (then false).
template <typename Done>
bool WaitFor(Done done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
