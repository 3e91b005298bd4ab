#include "platform/trash.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// GIO reads XDG_DATA_HOME once per process, so it is pointed at a private, not yet existing
// folder before any test runs: nothing ever reaches the real user's trash.
struct PrivateDataHome {
    PrivateDataHome() : dataHome(dir.Path() / "no-such-yet" / "share") {
        setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    }
    TempDir dir;
    fs::path dataHome;
};
PrivateDataHome& Home() {
    static PrivateDataHome home;
    return home;
}
const bool kHomeSet = (Home(), true);

}  // namespace

TEST(MoveToTrash, FollowsTheTrashRulesEvenWithoutADataFolder) {
    ASSERT_TRUE(kHomeSet);
    TempDir work;
    const fs::path file = work.Path() / "grab 001.bmp";
    std::ofstream(file) << "pixels";
    ASSERT_FALSE(fs::exists(Home().dataHome));

    const fs::path cwd = fs::current_path();
    fs::current_path(work.Path());  // the faulty fallback would put it under ./files/
    const CStatus moved = MoveToTrash(file.string());
    fs::current_path(cwd);
    ASSERT_TRUE(moved) << moved.Reason();

    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(fs::exists(work.Path() / "files"));
    const fs::path trashed = Home().dataHome / "Trash" / "files" / "grab 001.bmp";
    ASSERT_TRUE(fs::exists(trashed));
    std::ifstream in(trashed);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "pixels");
    // The info file records where it came from, so it can be restored.
    std::ifstream info(Home().dataHome / "Trash" / "info" / "grab 001.bmp.trashinfo");
    const std::string infoText((std::istreambuf_iterator<char>(info)), {});
    EXPECT_NE(infoText.find("Path="), std::string::npos);
    EXPECT_NE(infoText.find("grab%20001.bmp"), std::string::npos) << infoText;
}

TEST(MoveToTrash, SameNameTwiceKeepsBoth) {
    TempDir work;
    const fs::path file = work.Path() / "same.bmp";
    for (const char* text : {"one", "two"}) {
        std::ofstream(file) << text;
        const CStatus trashed = MoveToTrash(file.string());
        ASSERT_TRUE(trashed) << trashed.Reason();
    }
    int n = 0;
    for (const auto& entry : fs::directory_iterator(Home().dataHome / "Trash" / "files"))
        n += entry.path().filename().string().rfind("same", 0) == 0;
    EXPECT_EQ(n, 2);
}

TEST(MoveToTrash, MissingFileFailsWithAReason) {
    TempDir work;
    const CStatus trashed = MoveToTrash((work.Path() / "missing.bmp").string());
    EXPECT_FALSE(trashed);
    EXPECT_FALSE(trashed.Reason().empty());
}
