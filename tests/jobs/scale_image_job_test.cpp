#include "jobs/scale_image_job.h"

#include "jobs_test_util.h"

using namespace jobs_test;

namespace {

CScaleParams Plain(const std::string& src, const std::string& target, int nScale) {
    CScaleParams s;
    s.m_strSrcDir = src;
    s.m_strTargetFolder = target;
    s.m_scale = ScaleChoiceAt(nScale);
    s.m_bDelSrc = false;
    return s;
}

std::uint8_t Pattern(int x, int y, int k) {
    return std::uint8_t((x * 3 + y * 5 + k * 70) % 256);
}

std::string FirstFailure(const CJobResult& r) {
    return r.m_failures.empty() ? ""
                                : r.m_failures[0].m_strPath + ": " + r.m_failures[0].m_strReason;
}

}  // namespace

// The worked examples of the size list.
TEST(CScaleImageJob, SizeChoices) {
    struct Case {
        int w, h, scale, outW, outH;
    };
    const Case kCases[] = {
        {320, 240, 0, 640, 480},   {320, 240, 1, 960, 720},  {400, 400, 3, 800, 600},
        {1600, 1200, 2, 640, 480}, {300, 200, 4, 1024, 768},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " choice " +
                     std::to_string(c.scale));
        TempDir dir;
        WriteBmp(dir.Path() / "in" / "pic.bmp", c.w, c.h, Pattern);
        const CJobResult result = RunJob<CScaleImageJob>(
            Plain((dir.Path() / "in").string(), (dir.Path() / "out").string(), c.scale));
        ASSERT_TRUE(result.Ok()) << FirstFailure(result);
        CDibImage out;
        LoadOrFail(dir.Path() / "out" / "pic.bmp", out);
        EXPECT_EQ(out.m_nWidth, c.outW);
        EXPECT_EQ(out.m_nHeight, c.outH);
    }
    for (int bad : {-1, 5, 100}) EXPECT_EQ(ScaleChoiceAt(bad), std::nullopt) << bad;
    int w = 0, h = 0;  // a factor that would overflow
    EXPECT_FALSE(ScaleTargetSize(ScaleChoice::X3, 0x7fffffff / 2, 10, w, h));
}

TEST(CScaleImageJob, OutputNamesAndTypes) {
    TempDir dir;
    WriteBmp(dir.Path() / "jpgsrc" / "staging.bmp", 8, 6, Pattern);
    CDibImage image;
    LoadOrFail(dir.Path() / "jpgsrc" / "staging.bmp", image);
    fs::remove(dir.Path() / "jpgsrc" / "staging.bmp");
    for (const char* name : {"IMG01.JPG", "two.dots.jpg"}) {
        std::string why;
        {
            const CStatus saved = SaveImageFile((dir.Path() / "jpgsrc" / name).string(), image, 90);
            ASSERT_TRUE(saved) << saved.Reason();
        }
    }
    WriteBmp(dir.Path() / "bmpsrc" / "Shot.BMP", 8, 6, Pattern);

    CScaleParams jpg = Plain((dir.Path() / "jpgsrc").string(), (dir.Path() / "out").string(), 0);
    jpg.m_source = SourceKind::Jpg;
    ASSERT_TRUE(RunJob<CScaleImageJob>(jpg).Ok());
    CScaleParams bmp = Plain((dir.Path() / "bmpsrc").string(), (dir.Path() / "out/").string(), 0);
    bmp.m_nJpgQuality = 10;  // no effect on BMP outputs
    ASSERT_TRUE(RunJob<CScaleImageJob>(bmp).Ok());

    EXPECT_TRUE(LooksLikeJpeg(dir.Path() / "out" / "IMG01.jpg"));
    EXPECT_TRUE(LooksLikeJpeg(dir.Path() / "out" / "two.dots.jpg"));
    EXPECT_TRUE(LooksLikeBmp(dir.Path() / "out" / "Shot.bmp"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path() / "out"), {}), 3);
}

TEST(CScaleImageJob, StopDuringTheFifthOfTwenty) {
    TempDir dir;
    const fs::path in = dir.Path() / "in";
    for (int i = 0; i < 20; ++i) WriteBmp(in / ("f" + std::to_string(i) + ".bmp"), 4, 3, Pattern);
    const auto order = ScanOrder(in.string(), "*.bmp");
    CTestObserver observer;
    observer.m_nStopAt = 6;  // pressed during the fifth: seen before the sixth is loaded
    const CJobResult result =
        RunJob<CScaleImageJob>(Plain(in.string(), (dir.Path() / "out").string(), 0), observer);
    EXPECT_TRUE(result.Ok());
    EXPECT_TRUE(result.m_bStopped);
    EXPECT_EQ(result.m_nUsed, 5);
    EXPECT_EQ(observer.m_nTotal, 20);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(fs::exists(dir.Path() / "out" / fs::path(order[i]).filename()), i < 5) << i;
}

TEST(CScaleImageJob, TargetFolderEqualToTheSourceFolder) {
    // Every output comes from its original source, and no output is enlarged a second time.
    // (Without the trash such a job is refused: see the safety tests.)
    for (bool bDelete : {true}) {
        SCOPED_TRACE(bDelete);
        TempDir dir;
        for (int i = 0; i < 6; ++i)
            WriteBmp(dir.Path() / ("p" + std::to_string(i) + ".bmp"), 5, 4, Pattern);
        CScaleParams s = Plain(Str(dir), Str(dir) + "/", 0);
        s.m_bDelSrc = bDelete;
        const CJobResult result = RunJob<CScaleImageJob>(s);
        ASSERT_TRUE(result.Ok()) << FirstFailure(result);
        EXPECT_EQ(result.m_nVisited, 6);
        EXPECT_EQ(result.m_nUsed, 6);
        EXPECT_EQ(result.m_trashed.size(), bDelete ? 6u : 0u);
        int files = 0;
        for (const auto& entry : fs::directory_iterator(dir.Path())) {
            ++files;
            CDibImage out;
            LoadOrFail(entry.path(), out);
            EXPECT_EQ(out.m_nWidth, 10);
            EXPECT_EQ(out.m_nHeight, 8);
        }
        EXPECT_EQ(files, 6);
        if (bDelete) {
            for (const auto& path : result.m_trashed) EXPECT_TRUE(InTrash(path));
        }
    }
}

TEST(CScaleImageJob, NeverOverwritesAnUnreadSourceOrAnEarlierOutput) {
    TempDir dir;
    WriteBmp(dir.Path() / "a.bmp", 3, 3, Pattern);
    WriteBmp(dir.Path() / "a.BMP", 4, 4, Pattern);  // both become a.bmp
    CScaleParams s = Plain(Str(dir), Str(dir), 0);
    s.m_bDelSrc = true;
    const CJobResult result = RunJob<CScaleImageJob>(s);
    EXPECT_FALSE(result.Ok());
    ASSERT_EQ(result.m_failures.size(), 1u);
    EXPECT_EQ(result.m_failures[0].m_strPath, (dir.Path() / "a.bmp").string());
    EXPECT_EQ(result.m_nUsed, 1);
    // Whichever comes first: a.bmp is enlarged from itself (its original in the trash), and
    // a.BMP, whose output would replace a.bmp unread or a.bmp's own output, is left as it was.
    CDibImage lower, upper;
    LoadOrFail(dir.Path() / "a.bmp", lower);
    EXPECT_EQ(lower.m_nWidth, 6);
    LoadOrFail(dir.Path() / "a.BMP", upper);
    EXPECT_EQ(upper.m_nWidth, 4);
    EXPECT_EQ(result.m_trashed, std::vector<std::string>{(dir.Path() / "a.bmp").string()});
}

TEST(CScaleImageJob, TrashOnlyAfterTheOwnOutputIsWritten) {
    TempDir dir;
    const fs::path in = dir.Path() / "in",
                   out = dir.Path() / "new" / "deeper";  // created by the job
    for (const char* name : {"k1.bmp", "k2.bmp", "k3.bmp"}) WriteBmp(in / name, 4, 4, Pattern);
    WriteText(in / "k4.bmp", "garbage");
    CScaleParams s = Plain(in.string(), out.string(), 0);
    s.m_bDelSrc = true;
    CTestObserver observer;
    std::vector<std::string> seen;
    observer.m_onFile = [&](const std::string& path) {
        // Everything in the trash so far has its output written.
        for (const auto& done : seen)
            if (InTrash(done)) {
                EXPECT_TRUE(fs::is_regular_file(out / fs::path(done).filename())) << done;
            }
        EXPECT_FALSE(InTrash(path));
        seen.push_back(path);
        // A file takes k2's output name while the job runs: its write fails.
        if (fs::path(path).filename() == "k2.bmp")
            WriteText(out / "k2.bmp", "appeared");
    };
    const CJobResult result = RunJob<CScaleImageJob>(s, observer);
    EXPECT_FALSE(result.Ok());
    ASSERT_EQ(result.m_failures.size(), 1u);
    EXPECT_EQ(result.m_failures[0].m_strPath, (out / "k2.bmp").string());
    EXPECT_FALSE(result.m_failures[0].m_strReason.empty());
    EXPECT_TRUE(fs::exists(in / "k2.bmp"));  // its write failed: it stays
    EXPECT_TRUE(fs::exists(in / "k4.bmp"));  // unreadable: it stays
    EXPECT_EQ(result.m_skipped.size(), 1u);
    EXPECT_FALSE(fs::exists(in / "k1.bmp"));
    EXPECT_FALSE(fs::exists(in / "k3.bmp"));
    EXPECT_TRUE(InTrash((in / "k1.bmp").string()));
    EXPECT_TRUE(fs::is_regular_file(out / "k1.bmp"));
}

TEST(CScaleImageJob, RefusesOrEndsWithoutTouchingSources) {
    TempDir dir;
    WriteBmp(dir.Path() / "in" / "a.bmp", 4, 4, Pattern);
    WriteText(dir.Path() / "file", "x");
    struct Case {
        const char* name;
        CScaleParams settings;
        JobEnd end;
    };
    const std::string in = (dir.Path() / "in").string(), out = (dir.Path() / "out").string();
    CScaleParams noSize = Plain(in, out, 5);
    CScaleParams noType = Plain(in, out, 0);
    noType.m_source = std::nullopt;
    CScaleParams jpgs = Plain(in, out, 0);
    jpgs.m_source = SourceKind::Jpg;
    const Case kCases[] = {
        {"size outside the list", noSize, JobEnd::Refused},
        {"type outside the list", noType, JobEnd::Refused},
        {"no source folder", Plain("", out, 0), JobEnd::Refused},
        {"no target folder", Plain(in, "", 0), JobEnd::Refused},
        {"no JPEG files", jpgs, JobEnd::NoFiles},
        {"target folder cannot be made", Plain(in, (dir.Path() / "file" / "out").string(), 0),
         JobEnd::Failed},
    };
    for (Case c : kCases) {
        SCOPED_TRACE(c.name);
        c.settings.m_bDelSrc = true;
        const CJobResult result = RunJob<CScaleImageJob>(c.settings);
        EXPECT_EQ(result.m_end, c.end);
        EXPECT_FALSE(result.Ok());
        EXPECT_TRUE(result.m_trashed.empty());
        EXPECT_TRUE(fs::exists(dir.Path() / "in" / "a.bmp"));
    }
}
