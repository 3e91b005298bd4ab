#include "platform/make_folder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "common/temp_dir.h"

namespace fs = std::filesystem;

TEST(MakeFolder, MadeWithItsParentsOrRefusedWithTheSystemsReason) {
    TempDir dir;
    std::ofstream(dir.File("file")) << "x";
    struct Case {
        std::string folder;
        int error;  // 0: made
    };
    const Case cases[] = {{dir.File("new/deeper/frames"), 0},
                          {dir.File("new/deeper/frames/"), 0},
                          {dir.File("new"), 0},
                          {dir.Path().string(), 0},
                          {dir.File("file"), ENOTDIR},
                          {dir.File("file/sub"), ENOTDIR},
                          {"", EINVAL}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const CStatus made = MakeFolder(c.folder);
        EXPECT_EQ(made.Ok(), c.error == 0);
        EXPECT_EQ(made.Error(), c.error);
        if (c.error == 0) {
            EXPECT_TRUE(fs::is_directory(c.folder));
            EXPECT_TRUE(made.Reason().empty());
        } else {
            EXPECT_EQ(made.Reason(), ErrnoText(c.error));
        }
    }
    // A file where the folder was asked for is left as it was.
    EXPECT_TRUE(fs::is_regular_file(dir.File("file")));
}
