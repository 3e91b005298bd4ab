#include "video/media_time.h"

#include <vector>

namespace {

constexpr std::int64_t kMaxSeconds = 1'000'000'000;  // far beyond any media, far below overflow

bool AllDigits(const std::string& text) {
    if (text.empty())
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

}  // namespace

CResult<std::int64_t> ParseMediaTime(const std::string& text) {
    const auto bad = [&text](const std::string& why) {
        return CStatus::Failure("not a time: " + text + " (" + why + ")");
    };
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == ':')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    if (parts.size() > 3)
        return bad("at most hours:minutes:seconds");
    // The fraction belongs to the last part only.
    std::string last = parts.back();
    std::string fraction;
    if (const auto dot = last.find('.'); dot != std::string::npos) {
        fraction = last.substr(dot + 1);
        last.resize(dot);
        if (!AllDigits(fraction))
            return bad("digits expected after the point");
        if (fraction.size() > 3)
            return bad("at most three decimals, milliseconds");
    }
    parts.back() = last;
    std::int64_t seconds = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        if (!AllDigits(part) || part.size() > 10)
            return bad("seconds, m:ss or h:mm:ss expected, such as 12.5 or 1:02:03.250");
        const std::int64_t value = std::stoll(part);
        if (i > 0 && (value >= 60 || part.size() != 2))
            return bad("minutes and seconds after a colon are two digits below 60");
        seconds = seconds * 60 + value;
        if (seconds > kMaxSeconds)
            return bad("too large");
    }
    std::int64_t ms = seconds * 1000;
    if (!fraction.empty()) {
        fraction.resize(3, '0');
        ms += std::stoll(fraction);
    }
    return ms;
}
