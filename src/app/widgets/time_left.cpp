#include "app/widgets/time_left.h"

#include <QElapsedTimer>

#include <utility>

CTimeLeft::CTimeLeft()
    : CTimeLeft([] {
          // One timer for the process: its epoch is only a start to measure from.
          static const QElapsedTimer clock = [] {
              QElapsedTimer timer;
              timer.start();
              return timer;
          }();
          return std::int64_t(clock.elapsed());
      }) {}

CTimeLeft::CTimeLeft(Clock clock) : m_clock(std::move(clock)) {}

void CTimeLeft::Start() {
    m_nStartMs = m_clock();
}

std::optional<std::int64_t> CTimeLeft::SecondsLeft(int nDone, int nTotal) const {
    if (nDone <= 0 || nDone >= nTotal) {
        return std::nullopt;
    }
    const std::int64_t elapsed = m_clock() - m_nStartMs;
    if (nDone < kMinFiles && elapsed < kMinMs) {
        return std::nullopt;
    }
    // Rounded up: "0:00" never shows while files are left.
    const std::int64_t msLeft = elapsed * (nTotal - nDone) / nDone;
    return (msLeft + 999) / 1000;
}

QString CTimeLeft::Format(std::int64_t seconds) {
    const std::int64_t hours = seconds / 3600;
    const std::int64_t minutes = seconds / 60 % 60;
    const std::int64_t secs = seconds % 60;
    if (hours > 0) {
        return QStringLiteral("%1:%2:%3")
            .arg(hours)
            .arg(minutes, 2, 10, QLatin1Char('0'))
            .arg(secs, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1:%2").arg(minutes).arg(secs, 2, 10, QLatin1Char('0'));
}
