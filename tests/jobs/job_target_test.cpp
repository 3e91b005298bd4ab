// A target that cannot be written ends both jobs before any source is read; a missing folder
// that can be made is made.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

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

// An output whose name is taken by something other than a regular file (a pipe would block the
// job, a device swallow the result) ends the job before any source is read, naming it. A hang
// here fails the test through its time limit.
TEST(JobTarget, OutputThatIsNoRegularFileEndsTheJobFirst) {
    TempDir dir;
    const fs::path in = dir.Path() / "in";
    WriteFlatBmp(in / "a.bmp", 4, 4, 20);
    WriteFlatBmp(in / "b.bmp", 4, 4, 40);
    const struct {
        const char* name;
        std::function<void(const fs::path&)> make;
    } kKinds[] = {
        {"pipe", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }},
        {"link to a device", [](const fs::path& p) { fs::create_symlink("/dev/null", p); }},
        {"folder", [](const fs::path& p) { fs::create_directories(p); }},
    };
    for (const auto& kind : kKinds) {
        for (const int job : {0, 1, 2}) {  // average, its report, enlarge
            SCOPED_TRACE(std::string(kind.name) + " " + std::to_string(job));
            const fs::path out = dir.Path() / "out";
            fs::remove_all(out);
            fs::create_directories(out);
            const fs::path special = out / (job == 1 ? "r.csv" : job == 0 ? "avg.bmp" : "b.bmp");
            kind.make(special);
            CTestObserver observer;
            CJobResult result;
            if (job == 2) {
                CScaleParams p;
                p.m_strSrcDir = in.string();
                p.m_strTargetFolder = out.string();
                p.m_bDelSrc = true;
                result = RunJob<CScaleImageJob>(p, observer);
            } else {
                CMergeParams p;
                p.m_strSrcDir = in.string();
                p.m_strTargetFile = (out / "avg.bmp").string();
                p.m_bAutoNumber = p.m_bExtra800 = p.m_bExtra1024 = false;
                p.m_bDelSrc = true;
                if (job == 1)
                    p.m_strReportFile = special.string();
                result = RunJob<CMergeImageJob>(p, observer);
            }
            EXPECT_EQ(result.m_end, JobEnd::Failed);
            ASSERT_EQ(result.m_failures.size(), 1u);
            EXPECT_EQ(result.m_failures[0].m_strPath, special.string());
            EXPECT_EQ(result.m_failures[0].m_kind, JobProblemKind::NotAFile);
            EXPECT_NE(result.m_failures[0].m_strReason.find("not a regular file"),
                      std::string::npos);
            EXPECT_TRUE(observer.m_files.empty());
            EXPECT_TRUE(result.m_written.empty());
            EXPECT_TRUE(result.m_trashed.empty());
            EXPECT_EQ(std::distance(fs::directory_iterator(in), {}), 2);
            EXPECT_EQ(std::distance(fs::directory_iterator(out), {}), 1);
        }
    }
}

}  // namespace
