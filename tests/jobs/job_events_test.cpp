// The typed events of both engines: what a front end sees, in the order things happen.
#include "jobs/merge_image_job.h"
#include "jobs/scale_image_job.h"

#include "jobs_test_util.h"

using namespace jobs_test;

namespace {

// The reason the result gives for its first skipped or failed file, so that the expected events
// carry the engine's own wording.
std::string SkipReason(const CJobResult& r) {
    return r.m_skipped.empty() ? "" : r.m_skipped[0].m_strReason;
}
std::string FailReason(const CJobResult& r) {
    return r.m_failures.empty() ? "" : r.m_failures[0].m_strReason;
}

CMergeParams Merge(const fs::path& src, const fs::path& target) {
    CMergeParams p;
    p.m_strSrcDir = src.string();
    p.m_strTargetFile = target.string();
    p.m_bExtra800 = p.m_bExtra1024 = p.m_bDelSrc = p.m_bAutoNumber = false;
    return p;
}

CScaleParams Scale(const fs::path& src, const fs::path& target) {
    CScaleParams p;
    p.m_strSrcDir = src.string();
    p.m_strTargetFolder = target.string();
    p.m_bDelSrc = true;
    return p;
}

}  // namespace

TEST(JobEvents, TellWhatHappensInOrder) {
    struct Case {
        const char* name;
        // Makes the files under `dir`, runs a job with `observer` and returns its result and
        // the events expected from it.
        std::function<CJobResult(const fs::path& dir, CTestObserver& observer,
                                 std::vector<CJobEvent>& expected)>
            run;
    };
    const Case kCases[] = {
        {"averaging: numbered target, extras, sources trashed after writing",
         [](const fs::path& dir, CTestObserver& observer, std::vector<CJobEvent>& expected) {
             WriteFlatBmp(dir / "in" / "a.bmp", 4, 3, 7);
             CMergeParams p = Merge(dir / "in", dir / "avg.bmp");
             p.m_bExtra800 = p.m_bExtra1024 = p.m_bDelSrc = p.m_bAutoNumber = true;
             const std::string in = (dir / "in" / "a.bmp").string();
             const std::string avg = (dir / "avg000000").string();
             expected = {CTargetChosen{avg + ".bmp"},
                         CJobStarted{1},
                         CFileStarted{in, 1, 1},
                         CFileWritten{avg + ".bmp"},
                         CResizeStarted{800, 600},
                         CFileWritten{avg + "_800x600.bmp"},
                         CResizeStarted{1024, 768},
                         CFileWritten{avg + "_1024x768.bmp"},
                         CFileTrashed{in}};
             return RunJob<CMergeImageJob>(p, observer);
         }},
        {"averaging: an unreadable source is skipped",
         [](const fs::path& dir, CTestObserver& observer, std::vector<CJobEvent>& expected) {
             WriteText(dir / "in" / "broken.bmp", "BM but no image");
             const std::string in = (dir / "in" / "broken.bmp").string();
             const CJobResult r =
                 RunJob<CMergeImageJob>(Merge(dir / "in", dir / "avg.bmp"), observer);
             expected = {CTargetChosen{(dir / "avg.bmp").string()}, CJobStarted{1},
                         CFileStarted{in, 1, 1}, CFileSkipped{in, SkipReason(r)}};
             // The kind the desktop program words in its own language.
             EXPECT_EQ(r.m_skipped.at(0).m_kind, JobProblemKind::Unreadable);
             return r;
         }},
        {"averaging: a target that cannot be written ends the job before any file",
         [](const fs::path& dir, CTestObserver& observer, std::vector<CJobEvent>& expected) {
             WriteFlatBmp(dir / "in" / "a.bmp", 2, 2, 1);
             WriteText(dir / "file", "not a folder");
             const std::string target = (dir / "file" / "avg.bmp").string();
             CMergeParams p = Merge(dir / "in", target);
             p.m_bDelSrc = true;
             const CJobResult r = RunJob<CMergeImageJob>(p, observer);
             expected = {CFileFailed{target, FailReason(r)}};
             return r;
         }},
        {"averaging: stopped before the first file",
         [](const fs::path& dir, CTestObserver& observer, std::vector<CJobEvent>& expected) {
             WriteFlatBmp(dir / "in" / "a.bmp", 2, 2, 1);
             WriteFlatBmp(dir / "in" / "b.bmp", 2, 2, 1);
             observer.m_nStopAt = 1;
             const std::string first = ScanOrder((dir / "in").string(), "*.bmp")[0];
             expected = {CTargetChosen{(dir / "avg.bmp").string()}, CJobStarted{2},
                         CFileStarted{first, 1, 2}};
             return RunJob<CMergeImageJob>(Merge(dir / "in", dir / "avg.bmp"), observer);
         }},
        {"enlarging into another folder: written, then trashed",
         [](const fs::path& dir, CTestObserver& observer, std::vector<CJobEvent>& expected) {
             WriteFlatBmp(dir / "in" / "a.bmp", 2, 2, 1);
             const std::string in = (dir / "in" / "a.bmp").string();
             expected = {CJobStarted{1}, CFileStarted{in, 1, 1},
                         CFileWritten{(dir / "out" / "a.bmp").string()}, CFileTrashed{in}};
             return RunJob<CScaleImageJob>(Scale(dir / "in", dir / "out"), observer);
         }},
        {"enlarging over its own source: trashed, then written",
         [](const fs::path& dir, CTestObserver& observer, std::vector<CJobEvent>& expected) {
             WriteFlatBmp(dir / "in" / "a.bmp", 2, 2, 1);
             const std::string in = (dir / "in" / "a.bmp").string();
             expected = {CJobStarted{1}, CFileStarted{in, 1, 1}, CFileTrashed{in},
                         CFileWritten{in}};
             return RunJob<CScaleImageJob>(Scale(dir / "in", dir / "in"), observer);
         }},
        {"enlarging: an output that appeared while the job ran",
         [](const fs::path& dir, CTestObserver& observer, std::vector<CJobEvent>& expected) {
             WriteFlatBmp(dir / "in" / "a.bmp", 2, 2, 1);
             const std::string out = (dir / "out" / "a.bmp").string();
             observer.m_onFile = [out](const std::string&) { WriteText(out, "appeared"); };
             const CJobResult r = RunJob<CScaleImageJob>(Scale(dir / "in", dir / "out"), observer);
             expected = {CJobStarted{1}, CFileStarted{(dir / "in" / "a.bmp").string(), 1, 1},
                         CFileFailed{out, FailReason(r)}};
             EXPECT_EQ(r.m_failures.at(0).m_kind, JobProblemKind::AppearedMeanwhile);
             return r;
         }},
        {"enlarging: an output name that a folder holds, before any file",
         [](const fs::path& dir, CTestObserver& observer, std::vector<CJobEvent>& expected) {
             WriteFlatBmp(dir / "in" / "a.bmp", 2, 2, 1);
             fs::create_directories(dir / "out" / "a.bmp");
             const std::string out = (dir / "out" / "a.bmp").string();
             const CJobResult r = RunJob<CScaleImageJob>(Scale(dir / "in", dir / "out"), observer);
             expected = {CFileFailed{out, FailReason(r)}};
             EXPECT_EQ(r.m_failures.at(0).m_kind, JobProblemKind::NotAFile);
             return r;
         }},
        {"no files, refused: nothing to tell",
         [](const fs::path& dir, CTestObserver& observer, std::vector<CJobEvent>& expected) {
             fs::create_directories(dir / "empty");
             expected = {};
             EXPECT_EQ(
                 RunJob<CMergeImageJob>(Merge(dir / "empty", dir / "avg.bmp"), observer).m_end,
                 JobEnd::NoFiles);
             CScaleParams noSize = Scale(dir / "empty", dir / "out");
             noSize.m_scale = std::nullopt;
             EXPECT_EQ(RunJob<CScaleImageJob>(noSize, observer).m_end, JobEnd::Refused);
             return RunJob<CScaleImageJob>(Scale(dir / "empty", dir / "out"), observer);
         }},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        CTestObserver observer;
        std::vector<CJobEvent> expected;
        const CJobResult result = c.run(dir.Path(), observer, expected);
        EXPECT_EQ(observer.m_events, expected);
        // Every recorded outcome was also told, the same way.
        std::vector<std::string> written;
        for (const CFileWritten& e : observer.Events<CFileWritten>())
            written.push_back(e.m_strPath);
        EXPECT_EQ(written, result.m_written);
        std::vector<std::string> trashed;
        for (const CFileTrashed& e : observer.Events<CFileTrashed>())
            trashed.push_back(e.m_strPath);
        EXPECT_EQ(trashed, result.m_trashed);
        EXPECT_EQ(observer.Events<CFileFailed>().size(), result.m_failures.size());
        EXPECT_EQ(observer.Events<CFileSkipped>().size(), result.m_skipped.size());
    }
}
