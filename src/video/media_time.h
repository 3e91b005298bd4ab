// Times within a media file as the user writes them: seconds ("12.5") or clock form
// ("1:02:03.250", "2:05"), read into whole milliseconds.
#pragma once

#include <cstdint>
#include <string>

#include "platform/status.h"

// Milliseconds of "S[.fff]", "M:SS[.fff]" or "H:MM:SS[.fff]" (at most three decimals; minutes
// and seconds below 60 after a colon). Anything else fails with the reason.
CResult<std::int64_t> ParseMediaTime(const std::string& text);
