// The time a job has left, estimated from the rate of its own progress: the time since it
// started over the files done, times the files to go. Shown only once the rate means something.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class CTimeLeft {
public:
    // Milliseconds on a steady clock; a test hands in one it moves itself.
    using Clock = std::function<std::int64_t()>;

    // Measures on the steady clock.
    CTimeLeft();
    explicit CTimeLeft(Clock clock);

    // The job starts now.
    void Start();
    // The whole seconds left when `nDone` of `nTotal` files are done; none before kMinFiles
    // files or kMinMs of work, and none once all are done.
    std::optional<std::int64_t> SecondsLeft(int nDone, int nTotal) const;

    // "m:ss" below an hour, "h:mm:ss" from an hour on.
    static QString Format(std::int64_t seconds);

    static constexpr int kMinFiles = 3;
    static constexpr std::int64_t kMinMs = 2000;

private:
    Clock m_clock;
    std::int64_t m_nStartMs = 0;
};
