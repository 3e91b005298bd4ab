// No job loses a file: an output never replaces a source that is not first in the trash, nor a
// file that appeared after the job chose its name; a second job on the same target is refused;
// the leftovers of a killed run are removed and named, and hidden files are never sources.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "jobs/job_guard.h"
#include "jobs/merge_image_job.h"
#include "jobs/scale_image_job.h"
#include "jobs_test_util.h"

using namespace jobs_test;

namespace {

CScaleParams Enlarge(const fs::path& src, const fs::path& target, bool bTrash) {
    CScaleParams s;
    s.m_strSrcDir = src.string();
    s.m_strTargetFolder = target.string();
    s.m_bDelSrc = bTrash;
    return s;
}

CMergeParams Average(const fs::path& src, const fs::path& target, bool bTrash) {
    CMergeParams s;
    s.m_strSrcDir = src.string();
    s.m_strTargetFile = target.string();
    s.m_bExtra800 = s.m_bExtra1024 = s.m_bAutoNumber = false;
    s.m_bDelSrc = bTrash;
    return s;
}

// Every file under `dir` with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files[entry.path().string()] = ReadText(entry.path());
    return files;
}

std::string Failures(const CJobResult& r) {
    std::string text;
    for (const CJobProblem& p : r.m_failures) text += p.m_strPath + ": " + p.m_strReason + "\n";
    return text;
}

using JobRun = std::function<CJobResult(CTestObserver&)>;

template <class Job, class Params>
JobRun Runs(Params params) {
    return [params](CTestObserver& observer) { return RunJob<Job>(params, observer); };
}

}  // namespace

// Outputs that would replace a source that is not going to the trash: refused before any file is
// touched, with the reason.
TEST(JobSafetyLoss, OutputOverAKeptSourceIsRefused) {
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    for (const char* name : {"f0.bmp", "f1.bmp", "avg_800x600.bmp"})
        WriteFlatBmp(src / name, 3, 2, 9);
    CMergeParams extraIsSource = Average(src, src / "avg.bmp", false);
    extraIsSource.m_bExtra800 = true;
    const struct {
        const char* name;
        JobRun run;
    } kCases[] = {
        {"enlarge into the source folder", Runs<CScaleImageJob>(Enlarge(src, src, false))},
        {"enlarge into the source folder by another path",
         Runs<CScaleImageJob>(Enlarge(src, src / ".." / "src" / "", false))},
        {"average onto a source", Runs<CMergeImageJob>(Average(src, src / "f0.bmp", false))},
        {"average with an extra onto a source", Runs<CMergeImageJob>(extraIsSource)},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const auto before = Snapshot(dir.Path());
        CTestObserver observer;
        const CJobResult result = c.run(observer);
        EXPECT_EQ(result.m_end, JobEnd::Refused);
        EXPECT_EQ(result.m_refusal, JobRefusal::TargetIsSource);
        EXPECT_NE(result.m_strReason.find("trash"), std::string::npos) << result.m_strReason;
        EXPECT_TRUE(observer.Events<CFileStarted>().empty());
        EXPECT_EQ(Snapshot(dir.Path()), before);
    }
}

// With the trash, a source that an output replaces is in the trash first, with its own bytes.
TEST(JobSafetyLoss, SourceUnderAnOutputIsInTheTrashFirst) {
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    WriteFlatBmp(src / "f0.bmp", 2, 2, 10);
    WriteFlatBmp(src / "f1.bmp", 2, 2, 30);
    CMergeParams s = Average(src, src / "f0.bmp", true);
    s.m_bExtra800 = true;
    const CJobResult result = RunJob<CMergeImageJob>(s);
    ASSERT_TRUE(result.Ok()) << Failures(result);
    EXPECT_EQ(result.m_trashed.size(), 2u);
    EXPECT_TRUE(InTrash((src / "f0.bmp").string()));
    CDibImage avg;
    LoadOrFail(src / "f0.bmp", avg);
    EXPECT_EQ(avg.TopRow(0)[0], 20);
    EXPECT_TRUE(fs::exists(src / "f0_800x600.bmp"));
}

// A target that is a link to a source is no source of its own: the result replaces the link,
// and only the real sources go to the trash, each once.
TEST(JobSafetyLoss, LinkToASourceIsReplacedAndOnlySourcesAreTrashed) {
    TempDir dir;
    const fs::path src = dir.Path() / "src", out = dir.Path() / "out";
    WriteFlatBmp(src / "g0.bmp", 2, 2, 10);
    WriteFlatBmp(src / "g1.bmp", 2, 2, 30);
    fs::create_directories(out);
    fs::create_symlink(src / "g0.bmp", out / "avg.bmp");
    const CJobResult result = RunJob<CMergeImageJob>(Average(src, out / "avg.bmp", true));
    ASSERT_TRUE(result.Ok()) << Failures(result);
    std::vector<std::string> trashed = result.m_trashed;
    std::sort(trashed.begin(), trashed.end());
    EXPECT_EQ(trashed,
              (std::vector<std::string>{(src / "g0.bmp").string(), (src / "g1.bmp").string()}));
    EXPECT_FALSE(fs::exists(src / "g0.bmp"));
    EXPECT_FALSE(fs::exists(src / "g1.bmp"));
    EXPECT_FALSE(fs::is_symlink(out / "avg.bmp"));
    CDibImage avg;
    LoadOrFail(out / "avg.bmp", avg);
    EXPECT_EQ(avg.TopRow(0)[0], 20);
}

// A source that could not be read stays in place: a later source whose output has its name
// (x.BMP gives x.bmp) fails instead of replacing it, in whichever order the folder lists them.
TEST(JobSafetyLoss, UnreadableSourceIsNotReplacedByAnotherOutput) {
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    for (int i = 0; i < 8; ++i) {
        WriteText(src / ("x" + std::to_string(i) + ".bmp"), "not a picture");
        WriteFlatBmp(src / ("x" + std::to_string(i) + ".BMP"), 2, 2, 40);
    }
    const auto before = Snapshot(src);
    const CJobResult result = RunJob<CScaleImageJob>(Enlarge(src, src, true));
    EXPECT_EQ(result.m_skipped.size(), 8u);
    EXPECT_EQ(result.m_failures.size(), 8u) << Failures(result);
    EXPECT_TRUE(result.m_written.empty());
    EXPECT_TRUE(result.m_trashed.empty());
    EXPECT_EQ(Snapshot(src), before);
}

// A file that takes an output's name after the job chose it stays as it is: the auto-numbered
// target moves on to the next free number, any other output fails and its sources stay.
TEST(JobSafetyLoss, FileThatAppearedMeanwhileIsKept) {
    struct Case {
        const char* name;
        bool bEnlarge;
        bool bExtra;
        const char* appears;  // relative to the case's folder, made while the first file is read
        const char* written;  // the output written instead, if any
        const char* failed;   // the output that fails, if any
    };
    const Case kCases[] = {
        {"numbered target", false, false, "out/avg000000.bmp", "out/avg000001.bmp", nullptr},
        {"extra of a numbered target", false, true, "out/avg000000_800x600.bmp",
         "out/avg000000.bmp", "out/avg000000_800x600.bmp"},
        // {1} and {2}: the first and the second source in scan order.
        {"enlarged output", true, false, "out/{2}", "out/{1}", "out/{2}"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path src = dir.Path() / "src", out = dir.Path() / "out";
        WriteFlatBmp(src / "a.bmp", 2, 2, 50);
        WriteFlatBmp(src / "b.bmp", 2, 2, 60);
        fs::create_directories(out);
        const std::vector<std::string> order = ScanOrder(src.string(), "*.bmp");
        const auto named = [&](const char* text) -> std::string {
            if (!text)
                return {};
            std::string path = text;
            for (int i = 1; i <= 2; ++i) {
                const std::string mark = "{" + std::to_string(i) + "}";
                if (const std::size_t at = path.find(mark); at != std::string::npos)
                    path.replace(at, mark.size(), fs::path(order[i - 1]).filename().string());
            }
            return path;
        };
        const std::string appears = named(c.appears), written = named(c.written),
                          failed = named(c.failed);
        CTestObserver observer;
        observer.m_onFile = [&](const std::string&) {
            if (!fs::exists(dir.Path() / appears))
                WriteText(dir.Path() / appears, "theirs");
        };
        CJobResult result;
        if (c.bEnlarge) {
            result = RunJob<CScaleImageJob>(Enlarge(src, out, true), observer);
        } else {
            CMergeParams s = Average(src, out / "avg.bmp", true);
            s.m_bAutoNumber = true;
            s.m_bExtra800 = c.bExtra;
            result = RunJob<CMergeImageJob>(s, observer);
        }
        EXPECT_EQ(ReadText(dir.Path() / appears), "theirs");
        EXPECT_TRUE(LooksLikeBmp(dir.Path() / written));
        if (!failed.empty()) {
            ASSERT_EQ(result.m_failures.size(), 1u);
            EXPECT_EQ(result.m_failures[0].m_strPath, (dir.Path() / failed).string());
            EXPECT_NE(result.m_failures[0].m_strReason.find("appeared"), std::string::npos);
            EXPECT_EQ(result.m_failures[0].m_kind, JobProblemKind::AppearedMeanwhile);
            // Averaging trashes nothing after a failure; enlarging keeps the failed one's source.
            EXPECT_TRUE(fs::exists(c.bEnlarge ? fs::path(order[1]) : src / "a.bmp"));
            EXPECT_TRUE(fs::exists(src / "b.bmp") || c.bEnlarge);
        } else {
            EXPECT_TRUE(result.Ok()) << Failures(result);
            EXPECT_EQ(result.m_strTarget, (dir.Path() / written).string());
            const auto chosen = observer.Events<CTargetChosen>();
            ASSERT_FALSE(chosen.empty());
            EXPECT_EQ(chosen.back().m_strPath, (dir.Path() / written).string());
            EXPECT_EQ(result.m_trashed.size(), 2u);
        }
    }
}

// A second job on a target folder another job holds is refused before it touches anything: a job
// of another process (the lock held here) or one started from within the first (as a page's
// message pump allows).
TEST(JobSafetyLoss, SecondJobOnTheSameTargetIsRefused) {
    TempDir dir;
    const fs::path src = dir.Path() / "src", out = dir.Path() / "out";
    WriteFlatBmp(src / "a.bmp", 2, 2, 50);
    fs::create_directories(out);
    const struct {
        const char* name;
        JobRun run;
    } kSecond[] = {
        {"enlarge", Runs<CScaleImageJob>(Enlarge(src, out, true))},
        {"average", Runs<CMergeImageJob>(Average(src, out / "avg.bmp", true))},
    };
    for (const auto& c : kSecond) {
        SCOPED_TRACE(c.name);
        // The other job holds the target folder, or the source folder whose files this one
        // would move to the trash.
        for (const fs::path& held : {out, src}) {
            CJobGuard other;
            ASSERT_TRUE(other.Lock(held.string()));
            const auto before = Snapshot(dir.Path());
            CTestObserver observer;
            const CJobResult result = c.run(observer);
            EXPECT_EQ(result.m_end, JobEnd::Refused);
            EXPECT_EQ(result.m_refusal, JobRefusal::TargetBusy);
            EXPECT_EQ(result.m_strReason,
                      held.string() +
                          ": another job is writing into this folder; start this one once it "
                          "has ended");
            EXPECT_EQ(Snapshot(dir.Path()), before);
        }
        // A job that keeps its sources only reads their folder: it runs beside the holder.
        {
            CJobGuard other;
            ASSERT_TRUE(other.Lock(src.string()));
            CTestObserver observer;
            const CJobResult kept = RunJob<CScaleImageJob>(Enlarge(src, out, false), observer);
            EXPECT_TRUE(kept.Ok()) << Failures(kept);
            fs::remove_all(out);
            fs::create_directories(out);
        }
        // Nested: the second starts while the first reads its file.
        CTestObserver first;
        CJobResult nested;
        first.m_onFile = [&](const std::string&) {
            CTestObserver second;
            nested = c.run(second);
        };
        const CJobResult outer = RunJob<CScaleImageJob>(Enlarge(src, out, false), first);
        EXPECT_TRUE(outer.Ok()) << Failures(outer);
        EXPECT_EQ(nested.m_refusal, JobRefusal::TargetBusy);
        EXPECT_TRUE(fs::exists(src / "a.bmp"));
        fs::remove_all(out);
        fs::create_directories(out);
    }
}

// Temporary files a killed run left in the target folder are removed and named; hidden files
// (those temporaries among them) are never taken as sources.
TEST(JobSafetyLoss, LeftoversAreRemovedAndHiddenFilesAreNoSources) {
    const struct {
        const char* name;
        bool bEnlarge;
    } kCases[] = {{"enlarge", true}, {"average", false}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path src = dir.Path() / "src", out = dir.Path() / "out";
        WriteFlatBmp(src / "a.bmp", 2, 2, 50);
        WriteFlatBmp(src / ".a.tarnwick-old.bmp", 2, 2, 99);  // hidden
        WriteFlatBmp(src / ".tarnwick-q1w2e3", 2, 2, 99);     // a leftover in the source folder
        // The leftovers: an atomic writer's, and a spilling stacker's killed before it unlinked.
        const std::vector<std::string> leftovers = {(out / ".tarnwick-k1lled").string(),
                                                    (out / ".tarnwick-stack-ab12CD").string()};
        for (const std::string& leftover : leftovers) WriteFlatBmp(leftover, 2, 2, 99);
        WriteText(out / ".keep.bmp", "hidden user file");
        CTestObserver observer;
        const CJobResult result =
            c.bEnlarge ? RunJob<CScaleImageJob>(Enlarge(src, out, false), observer)
                       : RunJob<CMergeImageJob>(Average(src, out / "avg.bmp", false), observer);
        EXPECT_TRUE(result.Ok()) << Failures(result);
        EXPECT_EQ(observer.m_files, std::vector<std::string>{(src / "a.bmp").string()});
        std::vector<std::string> removed = result.m_leftovers;
        std::sort(removed.begin(), removed.end());
        EXPECT_EQ(removed, leftovers);
        for (const std::string& leftover : leftovers) EXPECT_FALSE(fs::exists(leftover));
        EXPECT_TRUE(fs::exists(out / ".keep.bmp"));
        EXPECT_TRUE(fs::exists(src / ".tarnwick-q1w2e3"));  // not the job's target folder
        CDibImage image;
        LoadOrFail(out / (c.bEnlarge ? "a.bmp" : "avg.bmp"), image);
        EXPECT_EQ(image.TopRow(0)[0], 50);
    }
}
