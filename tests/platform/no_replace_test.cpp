// Writing without replacing, and telling a leftover temporary file from a live one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

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

// Leftovers: a temporary file that no writer holds goes (the atomic writer's and the unnamed
// file's short-lived name alike), one a live writer holds stays, and so do files whose names
// only look alike.
TEST(NoReplace, OnlyUnheldTemporariesAreLeftovers) {
    const struct {
        const char* name;
        bool bLeftover;
    } kFiles[] = {
        {".tarnwick-ab12cd", true},         {".tarnwick-stack-ab12CD", true},
        {".tarnwick-notes", false},          // not six letters
        {".tarnwick-ABCDEF", false},         // not the letters the writer uses
        {"tarnwick-ab12cd", false},          // not hidden
        {".tarnwick-stack-ab12C", false},    // five letters
        {".tarnwick-stack-ab1-CD", false},   // not a letter
        {".tarnwick-stack-ab12CDE", false},  // seven letters
        {"tarnwick-stack-ab12CD", false},    // not hidden
    };
    TempDir dir;
    std::vector<std::string> expected;
    for (const auto& f : kFiles) {
        WriteText(dir.File(f.name), "file");
        if (f.bLeftover)
            expected.push_back(dir.File(f.name));
    }
    fs::create_directory(dir.Path() / ".tarnwick-folder");
    CAtomicFile live;
    ASSERT_TRUE(live.Open(dir.File("live.bmp")));
    // A writer between naming and unlinking its unnamed file holds it the same way.
    WriteText(dir.File(".tarnwick-stack-Li1VE0"), "");
    const int held = ::open(dir.File(".tarnwick-stack-Li1VE0").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    std::vector<std::string> before = Names(dir.Path());

    std::vector<std::string> removed = RemoveLeftoverTemporaries(dir.Path().string());
    ::close(held);
    std::sort(removed.begin(), removed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(removed, expected);
    for (const std::string& path : expected)
        before.erase(std::find(before.begin(), before.end(), fs::path(path).filename()));
    EXPECT_EQ(Names(dir.Path()), before);
    // The live writer still commits.
    std::fputs("live", live.Stream());
    ASSERT_TRUE(live.Commit());
    EXPECT_EQ(ReadText(dir.File("live.bmp")), "live");
}
