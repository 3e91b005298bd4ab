// The search for a free numbered name that the averaging job and the recording share, and the
// numbering of the names the program picks itself.
#include "platform/free_name.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "common/temp_dir.h"

namespace {

// Names "n<number>" in one folder that hold files "n2", "n3", "n5", a dangling link "n6" and a
// folder "n7".
TEST(FirstFreeNumber, PassesOverEveryTakenName) {
    TempDir dir;
    for (const char* name : {"n2", "n3", "n5"}) WriteAllBytes(dir.File(name), {1});
    ASSERT_EQ(symlink("gone", dir.File("n6").c_str()), 0);
    std::filesystem::create_directory(dir.File("n7"));
    const auto nameOf = [&](std::int64_t n) { return dir.File("n" + std::to_string(n)); };
    struct Case {
        std::int64_t first, last, expected;
    };
    const Case kCases[] = {
        {0, 100, 0},  // free at once
        {2, 100, 4},  // n2, n3 taken
        {5, 100, 8},  // a file, a dangling link and a folder all count as taken
        {5, 7, 7},    // every name before the last taken: the last, untested
        {3, 3, 3},    // nothing to test
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::to_string(c.first) + " below " + std::to_string(c.last));
        EXPECT_EQ(FirstFreeNumber(c.first, c.last, nameOf), c.expected);
    }
    // Names as C strings from a buffer of the caller's, as the frame writer makes them.
    char buffer[4096];
    const auto cName = [&](std::int64_t n) {
        std::snprintf(buffer, sizeof buffer, "%s/n%lld", dir.Path().c_str(),
                      static_cast<long long>(n));
        return static_cast<const char*>(buffer);
    };
    EXPECT_EQ(FirstFreeNumber(2, 100, cName), 4);
    EXPECT_TRUE(NameTaken(dir.File("n6")));
    EXPECT_FALSE(NameTaken(dir.File("n4")));
}

// The numbering of picked names: the number goes before the file name's extension, never into
// a folder's name, and a name without an extension simply ends with it.
TEST(NumberedPath, NumbersBeforeTheExtension) {
    struct Case {
        const char* path;
        std::int64_t n;
        const char* expected;
    };
    const Case kCases[] = {
        {"out/still.png", 1, "out/still.png"},    // the first is the name itself
        {"out/still.png", 2, "out/still_2.png"},  //
        {"a.b/clip_00001000_x2.jpg", 12, "a.b/clip_00001000_x2_12.jpg"},
        {"a.b/still", 3, "a.b/still_3"},        // a dot in a folder's name is no extension
        {"dir/.hidden", 2, "dir/.hidden_2"},    // nor is a leading one
        {"still.tar.gz", 2, "still.tar_2.gz"},  // the last dot's
        {"still", 2, "still_2"},
    };
    for (const Case& c : kCases) EXPECT_EQ(NumberedPath(c.path, c.n), c.expected) << c.path;
}

}  // namespace
