#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "platform/program_path.h"

namespace fs = std::filesystem;

namespace {

struct HelpCase {
    const char* m_szName;
    const char* m_szProgram;           // relative to a fresh folder
    std::vector<const char*> m_files;  // files to create there; a trailing '/' makes a folder
    const char* m_szExpected;          // the page Help opens (or reports missing)
};

const HelpCase kCases[] = {
    {"build tree: beside the program",
     "build/tarnwick",
     {"build/tarnwick.htm"},
     "build/tarnwick.htm"},
    {"installed: prefix/share/doc",
     "usr/bin/tarnwick",
     {"usr/share/doc/tarnwick/tarnwick.htm"},
     "usr/share/doc/tarnwick/tarnwick.htm"},
    {"the page beside the program wins",
     "usr/bin/tarnwick",
     {"usr/bin/tarnwick.htm", "usr/share/doc/tarnwick/tarnwick.htm"},
     "usr/bin/tarnwick.htm"},
    {"neither: the page beside the program", "usr/bin/tarnwick", {}, "usr/bin/tarnwick.htm"},
    {"a folder beside the program is no page",
     "usr/bin/tarnwick",
     {"usr/bin/tarnwick.htm/", "usr/share/doc/tarnwick/tarnwick.htm"},
     "usr/share/doc/tarnwick/tarnwick.htm"},
    {"a renamed program still finds the installed page",
     "opt/tw.d/bin/tw.v2",
     {"opt/tw.d/share/doc/tarnwick/tarnwick.htm"},
     "opt/tw.d/share/doc/tarnwick/tarnwick.htm"},
    {"a renamed program: its own name beside it",
     "opt/tw.d/bin/tw.v2",
     {"opt/tw.d/bin/tw.htm"},
     "opt/tw.d/bin/tw.htm"},
    {"the installed page has the package's name, not the program's",
     "usr/bin/tw",
     {"usr/share/doc/tarnwick/tw.htm"},
     "usr/bin/tw.htm"},
};

}  // namespace

TEST(HelpFile, BesideTheProgramFirstThenTheInstalledCopy) {
    for (const HelpCase& c : kCases) {
        SCOPED_TRACE(c.m_szName);
        TempDir dir;
        for (const std::string file : c.m_files) {
            const fs::path path = dir.Path() / file;
            if (file.back() == '/') {
                fs::create_directories(path);
                continue;
            }
            fs::create_directories(path.parent_path());
            std::ofstream(path) << "<html></html>";
        }
        const std::string program = dir.File(c.m_szProgram);
        EXPECT_EQ(fs::path(FindHelpFile(program)),
                  (dir.Path() / c.m_szExpected).lexically_normal());
    }
}

// CI points TARNWICK_INSTALLED_PROGRAM at the packaged program (/usr/bin/tarnwick) after
// installing it: Help must find the page of this source tree, wherever the package put it.
TEST(HelpFile, InstalledProgramFindsTheInstalledPage) {
    const char* program = std::getenv("TARNWICK_INSTALLED_PROGRAM");
    if (program == nullptr || program[0] == '\0') {
        GTEST_SKIP() << "TARNWICK_INSTALLED_PROGRAM is not set";
    }
    ASSERT_TRUE(fs::is_regular_file(program)) << program;
    const std::string help = FindHelpFile(program);
    ASSERT_TRUE(fs::is_regular_file(help)) << help;
    EXPECT_EQ(ReadAllBytes(help), ReadAllBytes(TARNWICK_SOURCE_DIR "/resources/tarnwick.htm"))
        << help;
}
