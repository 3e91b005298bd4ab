#include "video/media_time.h"

#include <gtest/gtest.h>

// Every form the options take, and the texts they refuse.
TEST(ParseMediaTime, FormsAndRefusals) {
    struct Case {
        const char* text;
        std::int64_t ms;  // -1: refused
    };
    const Case kCases[] = {
        {"0", 0},
        {"12.5", 12'500},
        {"12.05", 12'050},
        {"12.005", 12'005},
        {"7.", -1},
        {".5", -1},
        {"0:00", 0},
        {"2:05", 125'000},
        {"2:05.25", 125'250},
        {"61:00", 3'660'000},  // minutes may exceed 59 when they lead
        {"1:02:03.250", 3'723'250},
        {"10:00:00", 36'000'000},
        {"1:60", -1},
        {"1:5", -1},
        {"1:2:03", -1},
        {"1:02:03:04", -1},
        {"12.3456", -1},
        {"-1", -1},
        {"1e3", -1},
        {"", -1},
        {":", -1},
        {" 1", -1},
        {"99999999999", -1},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.text);
        const CResult<std::int64_t> ms = ParseMediaTime(c.text);
        if (c.ms < 0) {
            ASSERT_FALSE(ms);
            EXPECT_NE(ms.Reason().find(c.text), std::string::npos) << ms.Reason();
        } else {
            ASSERT_TRUE(ms) << ms.Reason();
            EXPECT_EQ(*ms, c.ms);
        }
    }
}
