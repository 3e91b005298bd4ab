// A target that cannot be written ends both jobs before any source is read; a missing folder
// that can be made is made.
#include <sys/stat.h>
#include <unistd.h>

#include "jobs/merge_image_job.h"
#include "jobs/scale_image_job.h"
#include "jobs_test_util.h"

namespace {

using namespace jobs_test;

TEST(JobTarget, UnwritableTargetEndsTheJobBeforeAnySourceIsRead) {
    TempDir dir;
    const fs::path in = dir.Path() / "in";
    WriteFlatBmp(in / "a.bmp", 4, 4, 20);
    WriteFlatBmp(in / "b.bmp", 4, 4, 40);
    WriteText(in / "c.bmp", "not an image: reading it would make it skipped");
    WriteText(dir.Path() / "afile", "a file where a folder should be");
    const fs::path readOnly = dir.Path() / "readonly";
    fs::create_directories(readOnly);
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
    // The super-user may write into any folder: the read-only case then says nothing.
    const bool bReadOnlyHolds = geteuid() != 0;

    struct Case {
        const char* name;
        fs::path folder;  // the enlarging target; the averaging one is folder/avg.bmp
        bool bRefused;
    };
    const Case kCases[] = {
        {"parent is a file", dir.Path() / "afile" / "out", true},
        {"read-only folder", readOnly, bReadOnlyHolds},
        {"missing folders are made", dir.Path() / "new" / "deeper", false},
    };
    for (const Case& c : kCases) {
        for (const bool bMerge : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (bMerge ? " average" : " enlarge"));
            CTestObserver observer;
            CJobResult result;
            std::string failPath;
            if (bMerge) {
                CMergeParams p;
                p.m_strSrcDir = in.string();
                p.m_strTargetFile = failPath = (c.folder / "avg.bmp").string();
                p.m_bAutoNumber = p.m_bExtra800 = p.m_bExtra1024 = false;
                p.m_bDelSrc = true;
                result = RunJob<CMergeImageJob>(p, observer);
            } else {
                CScaleParams p;
                p.m_strSrcDir = in.string();
                p.m_strTargetFolder = failPath = c.folder.string();
                p.m_bDelSrc = true;
                result = RunJob<CScaleImageJob>(p, observer);
            }
            if (!c.bRefused) {
                EXPECT_TRUE(fs::is_directory(c.folder));
                EXPECT_EQ(result.m_nVisited, 3);
                EXPECT_EQ(result.m_skipped.size(), 1u);
                EXPECT_FALSE(result.m_written.empty());
                fs::remove_all(c.folder);
                // What was trashed comes back for the next case.
                for (const std::string& path : result.m_trashed) WriteFlatBmp(path, 4, 4, 20);
                continue;
            }
            EXPECT_EQ(result.m_end, JobEnd::Failed);
            ASSERT_EQ(result.m_failures.size(), 1u);
            EXPECT_EQ(result.m_failures[0].m_strPath, failPath);
            EXPECT_NE(result.m_failures[0].m_strReason.find(c.folder.string()), std::string::npos)
                << result.m_failures[0].m_strReason;
            // Nothing was read, started, written or trashed.
            EXPECT_EQ(result.m_nVisited, 0);
            EXPECT_TRUE(observer.m_files.empty());
            EXPECT_TRUE(observer.Events<CJobStarted>().empty());
            EXPECT_TRUE(result.m_skipped.empty());
            EXPECT_TRUE(result.m_written.empty());
            EXPECT_TRUE(result.m_trashed.empty());
            EXPECT_EQ(std::distance(fs::directory_iterator(in), {}), 3);
        }
    }
    std::error_code ec;
    fs::permissions(readOnly, fs::perms::owner_all, ec);
}

}  // namespace
