// Writing without replacing, and telling a leftover temporary file from a live one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>

#include "common/temp_dir.h"
#include "platform/atomic_file.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
    const auto bytes = ReadAllBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::string& path, const std::string& text) {
    WriteAllBytes(path, std::vector<unsigned char>(text.begin(), text.end()));
}

std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// Every way of renaming without replacing moves to a free name and refuses a taken one with
// EEXIST, leaving both files as they were.
TEST(NoReplace, EveryMethodKeepsAnExistingTarget) {
    for (const NoReplaceMethod method :
         {NoReplaceMethod::Rename2, NoReplaceMethod::Link, NoReplaceMethod::Placeholder}) {
        for (const bool bTaken : {false, true}) {
            SCOPED_TRACE(std::to_string(int(method)) + (bTaken ? " taken" : " free"));
            TempDir dir;
            WriteText(dir.File("new"), "new");
            if (bTaken)
                WriteText(dir.File("target"), "old");
            const CStatus moved = RenameNoReplace(dir.File("new"), dir.File("target"), method);
            EXPECT_EQ(bool(moved), !bTaken) << moved.Reason();
            EXPECT_EQ(ReadText(dir.File("target")), bTaken ? "old" : "new");
            if (bTaken) {
                EXPECT_EQ(moved.Error(), EEXIST);
                EXPECT_EQ(ReadText(dir.File("new")), "new");
            } else {
                EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"target"});
            }
        }
    }
}

// A commit that must not replace: a file that took the name while the temporary file was being
// written stays; the write fails with EEXIST and leaves no temporary file. The usual commit
// replaces it.
TEST(NoReplace, CommitKeepsAFileThatAppearedMeanwhile) {
    for (const bool bNoReplace : {true, false}) {
        SCOPED_TRACE(bNoReplace);
        TempDir dir;
        CAtomicFile file;
        ASSERT_TRUE(file.Open(dir.File("out.bmp")));
        std::fputs("mine", file.Stream());
        WriteText(dir.File("out.bmp"), "theirs");  // appears after the name was chosen
        CCommitOptions options;
        options.m_bNoReplace = bNoReplace;
        const CStatus committed = file.Commit(options);
        EXPECT_EQ(bool(committed), !bNoReplace);
        if (bNoReplace) {
            EXPECT_EQ(committed.Error(), EEXIST);
        }
        EXPECT_EQ(ReadText(dir.File("out.bmp")), bNoReplace ? "theirs" : "mine");
        EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"out.bmp"});
    }
}

// Leftovers: a temporary file that no writer holds goes, one a live writer holds stays, and so do
// files whose names only look alike.
TEST(NoReplace, OnlyUnheldTemporariesAreLeftovers) {
    TempDir dir;
    WriteText(dir.File(".tarnwick-ab12cd"), "killed");
    WriteText(dir.File(".tarnwick-notes"), "user");   // not six letters
    WriteText(dir.File(".tarnwick-ABCDEF"), "user");  // not the letters the writer uses
    WriteText(dir.File("tarnwick-ab12cd"), "user");   // not hidden
    fs::create_directory(dir.Path() / ".tarnwick-folder");
    CAtomicFile live;
    ASSERT_TRUE(live.Open(dir.File("live.bmp")));
    std::vector<std::string> before = Names(dir.Path());

    const std::vector<std::string> removed = RemoveLeftoverTemporaries(dir.Path().string());
    EXPECT_EQ(removed, std::vector<std::string>{dir.File(".tarnwick-ab12cd")});
    before.erase(std::find(before.begin(), before.end(), ".tarnwick-ab12cd"));
    EXPECT_EQ(Names(dir.Path()), before);
    // The live writer still commits.
    std::fputs("live", live.Stream());
    ASSERT_TRUE(live.Commit());
    EXPECT_EQ(ReadText(dir.File("live.bmp")), "live");
}
