#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/bmp_builder.h"
#include "common/run_cli.h"
#include "common/temp_dir.h"

namespace {

// The subcommands that play nothing never load the player library; `record` loads it when it
// starts its player, which shows the loader's trace would reveal it.
TEST(CliStartup, OnlyRecordLoadsThePlayerLibrary) {
    TempDir dir;
    std::filesystem::create_directories(dir.File("in"));
    const std::string tiny = dir.File("in/tiny.bmp");
    BmpLayout s;
    s.width = s.height = 16;
    s.pixels.assign(std::size_t(FileRowBytes(16, 24)) * 16, 128);
    WriteAllBytes(tiny, MakeBmp(s));
    // A file that is there but holds no video: the player is started and fails on it.
    const std::string junk = dir.File("junk.avi");
    WriteAllBytes(junk, std::vector<unsigned char>(64, 0x5a));
    struct Case {
        std::vector<std::string> args;
        bool loadsPlayer;
    };
    const Case cases[] = {
        {{"--help"}, false},
        {{"convert", tiny, dir.File("tiny.jpg")}, false},
        {{"resize", tiny, dir.File("r.bmp"), "20x10"}, false},
        {{"fill", tiny, dir.File("f.bmp"), "20x10"}, false},
        {{"average", dir.File("in"), dir.File("a.bmp")}, false},
        {{"enlarge", dir.File("in"), dir.File("big"), "--size", "x2"}, false},
        {{"record", junk, dir.File("frames")}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const CliResult r = RunCli(c.args, {"LD_DEBUG=libs"});
        const std::string tail =
            r.err.substr(r.err.size() - std::min<std::size_t>(r.err.size(), 600));
        EXPECT_EQ(r.exitCode == 0, !c.loadsPlayer) << tail;
        // The trace is there at all: the C++ runtime is always found.
        ASSERT_NE(r.err.find("find library=libstdc++.so.6"), std::string::npos);
        EXPECT_EQ(r.err.find("libmpv.so") != std::string::npos, c.loadsPlayer);
    }
}

}  // namespace
