// CResult: a value or the failure that kept it from being made.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/status.h"

namespace {

CResult<int> Half(int n) {
    if (n % 2 != 0)
        return CStatus::Failure(std::to_string(n) + " is odd");
    return n / 2;
}

TEST(Result, CarriesTheValueOrTheReason) {
    struct Case {
        int n;
        bool ok;
        int value;
        std::string reason;
    };
    const Case cases[] = {
        {8, true, 4, ""},
        {0, true, 0, ""},
        {7, false, 0, "7 is odd"},
        {-3, false, 0, "-3 is odd"},
    };
    for (const Case& c : cases) {
        const CResult<int> result = Half(c.n);
        EXPECT_EQ(bool(result), c.ok) << c.n;
        EXPECT_EQ(result.Ok(), c.ok) << c.n;
        EXPECT_EQ(result.Status().Ok(), c.ok) << c.n;
        EXPECT_EQ(result.Reason(), c.reason) << c.n;
        if (c.ok) {
            EXPECT_EQ(*result, c.value) << c.n;
        }
    }
}

TEST(Result, ASuccessfulStatusWithoutValueIsAFailure) {
    const CResult<int> result{CStatus{}};
    EXPECT_FALSE(result);
    EXPECT_EQ(result.Reason(), "unknown error");
}

TEST(Result, KeepsTheErrnoOfItsFailure) {
    const CResult<int> result{CStatus::FromErrno(2)};
    EXPECT_FALSE(result);
    EXPECT_EQ(result.Status().Error(), 2);
    EXPECT_EQ(result.Reason(), ErrnoText(2));
}

TEST(Result, HandsOverAValueThatOnlyMoves) {
    CResult<std::unique_ptr<std::string>> result = std::make_unique<std::string>("made");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->get()->size(), 4U);
    const std::unique_ptr<std::string> taken = std::move(result).value();
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(*taken, "made");
}

}  // namespace
