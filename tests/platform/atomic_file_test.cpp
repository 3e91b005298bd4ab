#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "common/temp_dir.h"
#include "platform/atomic_file.h"

namespace {

std::string ReadText(const std::string& path) {
    const auto bytes = ReadAllBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

std::size_t EntriesIn(const std::filesystem::path& dir) {
    return std::size_t(std::distance(std::filesystem::directory_iterator(dir), {}));
}

}  // namespace

// Replacing a file: the new text under the old mode, or on any failure (the hook's too) the old
// file untouched; never a temporary file left behind.
TEST(AtomicFile, ReplacesWholeOrNotAtAll) {
    const struct {
        const char* name;
        bool hookFails;
        bool replaced;
    } kCases[] = {
        {"no hook", false, true},
        {"hook fails", true, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.File("settings.ini");
        WriteAllBytes(path, {'o', 'l', 'd'});
        ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

        CAtomicFile file;
        ASSERT_TRUE(file.Open(path));
        std::fputs("new text", file.Stream());
        int hookRuns = 0;
        const CStatus status = file.Commit([&]() -> CStatus {
            ++hookRuns;
            EXPECT_EQ(ReadText(path), "old");  // the hook runs before the target changes
            return c.hookFails ? CStatus::Failure("kept") : CStatus{};
        });
        EXPECT_EQ(hookRuns, 1);
        EXPECT_EQ(status.Ok(), c.replaced);
        EXPECT_EQ(ReadText(path), c.replaced ? "new text" : "old");
        EXPECT_EQ(ModeOf(path), 0640u);
        EXPECT_EQ(EntriesIn(dir.Path()), 1u);
    }
}

// A name as long as the file system allows still gets its temporary file.
TEST(AtomicFile, LongestNameCanBeWritten) {
    TempDir dir;
    const std::string path = dir.File(std::string(255 - 4, 'n') + ".bmp");
    ASSERT_TRUE(WriteWholeFile(path, "x")) << WriteWholeFile(path, "x").Reason();
    EXPECT_EQ(ReadText(path), "x");
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST(AtomicFile, FailureSaysWhy) {
    TempDir dir;
    const CStatus status = WriteWholeFile(dir.File("missing/x.ini"), "x");
    EXPECT_FALSE(status);
    EXPECT_NE(status.Reason().find("No such file"), std::string::npos) << status.Reason();
}

// Either way an unnamed file is made, it lives in the chosen folder yet shows no name there, is
// the user's alone, holds what is written, and a missing folder fails with the system's reason.
TEST(AtomicFile, UnnamedFileLeavesNoName) {
    const struct {
        const char* name;
        UnnamedFileMethod method;
    } kCases[] = {
        {"O_TMPFILE", UnnamedFileMethod::TmpFile},
        {"named then unlinked", UnnamedFileMethod::Unlinked},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        int fd = -1;
        const CStatus opened = OpenUnnamedFile(dir.Path().string(), fd, c.method);
        ASSERT_TRUE(opened) << opened.Reason();
        ASSERT_GE(fd, 0);
        EXPECT_EQ(EntriesIn(dir.Path()), 0u);
        struct stat file {
        }, folder{};
        ASSERT_EQ(::fstat(fd, &file), 0);
        ASSERT_EQ(::stat(dir.Path().c_str(), &folder), 0);
        EXPECT_TRUE(S_ISREG(file.st_mode));
        EXPECT_EQ(file.st_nlink, 0u);
        EXPECT_EQ(file.st_dev, folder.st_dev);
        EXPECT_EQ(file.st_mode & 07777, 0600u);
        EXPECT_EQ(::pwrite(fd, "pictures", 8, 4096), 8);
        char back[8] = {};
        EXPECT_EQ(::pread(fd, back, 8, 4096), 8);
        EXPECT_EQ(std::string(back, 8), "pictures");
        ::close(fd);

        const CStatus missing = OpenUnnamedFile(dir.File("missing"), fd, c.method);
        EXPECT_FALSE(missing);
        EXPECT_EQ(missing.Error(), ENOENT);
        EXPECT_EQ(fd, -1);
        EXPECT_EQ(EntriesIn(dir.Path()), 0u);
    }
}
