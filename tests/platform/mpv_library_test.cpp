#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

#include "common/media_clips.h"
#include "platform/media_player.h"
#include "platform/mpv_library.h"

namespace {

// Whether every entry point of the table is filled, and whether any is.
std::pair<bool, bool> Filled(const MpvApi& api) {
    bool all = true, any = false;
#define TARNWICK_MPV_CHECK(name)      \
    all = all && api.name != nullptr; \
    any = any || api.name != nullptr;
    TARNWICK_MPV_FUNCTIONS(TARNWICK_MPV_CHECK)
#undef TARNWICK_MPV_CHECK
    return {all, any};
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

// The real library fills the whole table; a missing library, or one without libmpv's
// functions, fills none of it and says which library or function was missing.
TEST(MpvLibrary, OpensTheRealLibraryAndNamesWhatIsMissing) {
    struct Case {
        const char* soname;
        bool opens;
        const char* reasonNames;
    };
    const Case cases[] = {
        {kMpvLibraryName, true, ""},
        {"libmpv-does-not-exist.so", false, "libmpv-does-not-exist.so"},
        {"libc.so.6", false, "mpv_create"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.soname);
        MpvApi api;
        api.create = reinterpret_cast<decltype(api.create)>(&std::abort);  // must be cleared
        const CStatus status = OpenMpvLibrary(c.soname, api);
        EXPECT_EQ(status.Ok(), c.opens) << status.Reason();
        const auto [all, any] = Filled(api);
        EXPECT_EQ(all, c.opens);
        EXPECT_EQ(any, c.opens);
        EXPECT_TRUE(Contains(status.Reason(), c.reasonNames)) << status.Reason();
    }
}

// In a process without libmpv a player fails to start with a reason that says so, does
// nothing else, and leaves the process running. Runs in a fresh process, as the library is
// loaded once per process and the other tests load the real one.
TEST(MpvLibraryDeathTest, AMissingLibraryIsReportedByEveryPlayer) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto run = [] {
        EnsureApplication();
        std::string problems;
        const auto check = [&problems](bool ok, const std::string& what) {
            if (!ok)
                problems += what + "\n";
        };
        const CResult<const MpvApi*> loaded = LoadMpv("libmpv-does-not-exist.so");
        check(!loaded, "the library loaded");
        check(Contains(loaded.Reason(), "libmpv-does-not-exist.so"), "reason: " + loaded.Reason());
        // Later requests, whatever name they pass, give the first answer.
        check(!LoadMpv(kMpvLibraryName), "a second load succeeded");
        const CStatus again = LoadPlayerLibrary();
        check(!again.Ok() && again.Reason() == loaded.Reason(), "again: " + again.Reason());

        const std::string expected = "the player library could not be loaded: " + loaded.Reason();
        for (int i = 0; i < 2; ++i) {
            CMediaPlayer player(false);
            check(player.SetViewSize(160, 120), "SetViewSize");
            check(player.PlayState() == kPlayStateStopped, "PlayState before starting");
            const CStatus opened = player.Open("/nonexistent/clip.avi");
            check(!opened, "Open succeeded");
            check(opened.Reason() == expected, "Open: " + opened.Reason());
            // Asked again, the start gives its first answer.
            const CStatus started = player.Start();
            check(started.Reason() == expected, "Start: " + started.Reason());
            check(!player.SetRate(2.0), "SetRate succeeded");
            check(player.Rate() == 1.0, "Rate");
            player.Play();
            check(player.PlayState() == kPlayStateStopped && !player.HasMedia(),
                  "state after Play");
            check(player.PositionSeconds() == 0.0 && player.Duration() == 0.0, "position");
        }
        std::cerr << problems;
        std::exit(problems.empty() ? 0 : 1);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), "^$");
}
