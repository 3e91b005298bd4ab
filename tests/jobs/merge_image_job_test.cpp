#include "jobs/merge_image_job.h"

#include <cmath>
#include <random>

#include "jobs_test_util.h"

using namespace jobs_test;

namespace {

// Averaging parameters for `src` into `target`: BMP sources, no extras, sources kept, no numbering.
CMergeParams Plain(const std::string& src, const std::string& target) {
    CMergeParams s;
    s.m_strSrcDir = src;
    s.m_strTargetFile = target;
    s.m_bExtra800 = s.m_bExtra1024 = s.m_bDelSrc = s.m_bAutoNumber = false;
    return s;
}

}  // namespace

// Worked examples: 10 and 11 give 11 (10.5 rounds up), 0, 0, 1 give 0, sums 3 and 5 over two
// images give 2 and 3.
TEST(CMergeImageJob, RoundsHalfUpPerChannel) {
    struct Case {
        std::vector<std::uint8_t> values;  // one image per value
        std::uint8_t expected;
    };
    const Case kCases[] = {
        {{10, 11}, 11}, {{0, 0, 1}, 0}, {{1, 2}, 2}, {{2, 3}, 3}, {{255, 255, 255}, 255}, {{7}, 7},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(::testing::PrintToString(std::vector<int>(c.values.begin(), c.values.end())));
        TempDir dir;
        for (std::size_t i = 0; i < c.values.size(); ++i) {
            // Channel k of image i holds its value in blue only; green and red stay 0 and 100.
            const std::uint8_t v = c.values[i];
            WriteBmp(dir.Path() / "in" / ("g" + std::to_string(i) + ".bmp"), 3, 2,
                     [v](int, int, int k) {
                         return std::uint8_t(k == 0 ? v : k == 1 ? 0 : 100);
                     });
        }
        const std::string target = (dir.Path() / "avg.bmp").string();
        const CJobResult result =
            RunJob<CMergeImageJob>(Plain((dir.Path() / "in").string(), target));
        ASSERT_TRUE(result.Ok());
        CDibImage avg;
        LoadOrFail(target, avg);
        ASSERT_EQ(avg.m_nWidth, 3);
        ASSERT_EQ(avg.m_nHeight, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                EXPECT_EQ(avg.TopRow(y)[3 * x + 0], c.expected);
                EXPECT_EQ(avg.TopRow(y)[3 * x + 1], 0);
                EXPECT_EQ(avg.TopRow(y)[3 * x + 2], 100);
            }
    }
}

TEST(CMergeImageJob, OneFileGivesItsImage) {
    TempDir dir;
    std::mt19937 rng(7);
    std::vector<std::uint8_t> pixels(5 * 3 * 3);
    for (auto& p : pixels) p = std::uint8_t(rng());
    const auto fn = [&](int x, int y, int k) { return pixels[(y * 5 + x) * 3 + k]; };
    WriteBmp(dir.Path() / "in" / "only.bmp", 5, 3, fn);
    const std::string target = (dir.Path() / "avg.bmp").string();
    ASSERT_TRUE(RunJob<CMergeImageJob>(Plain((dir.Path() / "in").string(), target)).Ok());
    CDibImage avg;
    LoadOrFail(target, avg);
    ASSERT_EQ(avg.m_nWidth, 5);
    ASSERT_EQ(avg.m_nHeight, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(avg.TopRow(y)[3 * x + k], fn(x, y, k)) << x << "," << y;
}

TEST(CMergeImageJob, ThreeHundredFilesAverageTheFirst255) {
    TempDir dir;
    const fs::path in = dir.Path() / "in";
    for (int i = 0; i < 300; ++i) WriteText(in / ("f" + std::to_string(i) + ".bmp"), "");
    const std::vector<std::string> order = ScanOrder(in.string(), "*.bmp");
    ASSERT_EQ(order.size(), 300u);
    // Value of a file: its position in scan order, folded into a byte.
    long long sum = 0;
    for (int i = 0; i < 300; ++i) {
        const std::uint8_t v = std::uint8_t(i * 7 % 256);
        FillInPlace(order[i], 1, 1, [v](int, int, int) { return v; });
        if (i < 255)
            sum += v;
    }
    const int expected = int(std::floor(double(sum) / 255.0 + 0.5));

    CMergeParams s = Plain(in.string(), (dir.Path() / "avg.bmp").string());
    s.m_bDelSrc = true;
    CTestObserver observer;
    const CJobResult result = RunJob<CMergeImageJob>(s, observer);
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(result.m_nTotal, 255);
    EXPECT_EQ(observer.m_nTotal, 255);  // the progress range
    EXPECT_EQ(result.m_nVisited, 300);
    EXPECT_EQ(result.m_nUsed, 255);
    EXPECT_EQ(observer.m_files, order);
    CDibImage avg;
    LoadOrFail(dir.Path() / "avg.bmp", avg);
    EXPECT_EQ(avg.TopRow(0)[0], expected);
    // Every file was visited and, with delete sources on, went to the trash.
    EXPECT_EQ(result.m_trashed.size(), 300u);
    EXPECT_TRUE(fs::is_empty(in));
}

TEST(CMergeImageJob, FirstImageFixesTheSize) {
    // Small first (4x3, value 40), large later (8x6, value 90), and the other way round.
    struct Case {
        int firstW, firstH, laterW, laterH;
    };
    const Case kCases[] = {{4, 3, 8, 6}, {8, 6, 4, 3}};
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.firstW);
        TempDir dir;
        const fs::path in = dir.Path() / "in";
        WriteText(in / "a.bmp", "");
        WriteText(in / "b.bmp", "");
        const auto order = ScanOrder(in.string(), "*.bmp");
        FillInPlace(order[0], c.firstW, c.firstH, [](int, int, int) { return std::uint8_t(40); });
        FillInPlace(order[1], c.laterW, c.laterH, [](int, int, int) { return std::uint8_t(90); });
        const std::string target = (dir.Path() / "avg.bmp").string();
        ASSERT_TRUE(RunJob<CMergeImageJob>(Plain(in.string(), target)).Ok());
        CDibImage avg;
        LoadOrFail(target, avg);
        ASSERT_EQ(avg.m_nWidth, c.firstW);
        ASSERT_EQ(avg.m_nHeight, c.firstH);
        for (int y = 0; y < c.firstH; ++y)
            for (int x = 0; x < c.firstW; ++x) {
                // Outside the later image's top-left part only the first image adds; N stays 2.
                const bool inLater = x < c.laterW && y < c.laterH;
                const int want = int(std::floor((40 + (inLater ? 90 : 0)) / 2.0 + 0.5));
                ASSERT_EQ(avg.TopRow(y)[3 * x], want) << x << "," << y;
            }
    }
}

TEST(CMergeImageJob, TargetExtensionChoosesTheFormatAndTheExtrasNames) {
    struct Case {
        const char* target;
        bool bmp;
        const char* extra800;
        const char* extra1024;
    };
    const Case kCases[] = {
        {"avg.bmp", true, "avg_800x600.bmp", "avg_1024x768.bmp"},
        {"avg.DIB", true, "avg_800x600.bmp", "avg_1024x768.bmp"},
        {"avg.JPEG", false, "avg_800x600.jpg", "avg_1024x768.jpg"},
        {"avg", false, "avg_800x600.jpg", "avg_1024x768.jpg"},
        {"avg.png", false, "avg_800x600.jpg", "avg_1024x768.jpg"},
        {"my.dir/avg.Bmp", true, "my.dir/avg_800x600.bmp", "my.dir/avg_1024x768.bmp"},
    };
    TempDir dir;
    WriteBmp(dir.Path() / "in" / "a.bmp", 40, 30,
             [](int x, int y, int k) { return std::uint8_t(x * 5 + y * 3 + k); });
    fs::create_directories(dir.Path() / "my.dir");
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.target);
        CMergeParams s = Plain((dir.Path() / "in").string(), (dir.Path() / c.target).string());
        s.m_bExtra800 = s.m_bExtra1024 = true;
        CTestObserver observer;
        const CJobResult result = RunJob<CMergeImageJob>(s, observer);
        ASSERT_TRUE(result.Ok()) << (result.m_failures.empty() ? ""
                                                               : result.m_failures[0].m_strReason);
        EXPECT_EQ(observer.Events<CResizeStarted>(),
                  (std::vector<CResizeStarted>{{800, 600}, {1024, 768}}));
        const std::vector<std::pair<std::string, std::pair<int, int>>> files = {
            {c.target, {40, 30}}, {c.extra800, {800, 600}}, {c.extra1024, {1024, 768}}};
        EXPECT_EQ(result.m_written.size(), 3u);
        for (const auto& [name, size] : files) {
            const fs::path path = dir.Path() / name;
            SCOPED_TRACE(name);
            EXPECT_EQ(c.bmp ? LooksLikeBmp(path) : LooksLikeJpeg(path), true);
            CDibImage image;
            // Read back by content: the target may have any extension.
            const fs::path readable = dir.Path() / (c.bmp ? "check.bmp" : "check.jpg");
            fs::copy_file(path, readable, fs::copy_options::overwrite_existing);
            LoadOrFail(readable, image);
            EXPECT_EQ(image.m_nWidth, size.first);
            EXPECT_EQ(image.m_nHeight, size.second);
        }
    }
}

TEST(CMergeImageJob, AutoNumbering) {
    TempDir dir;
    const std::string d = Str(dir) + "/";
    WriteText(d + "a000012.jpg", "x");
    WriteText(d + "b999999.jpg", "x");
    WriteText(d + "c000007.jpg", "x");
    WriteText(d + "c000008.jpg", "x");
    struct Case {
        std::string target;
        std::string expected;
    };
    const Case kCases[] = {
        {d + "a12.jpg", d + "a000013.jpg"},        // a000012 exists, a000013 is free
        {d + "avg.jpg", d + "avg000000.jpg"},      // no digits, nothing numbered yet
        {d + "c7.jpg", d + "c000009.jpg"},         // skips every taken number
        {d + "b999999.jpg", d + "b999999.jpg"},    // the last number is taken even when it exists
        {d + "x1234567.bmp", d + "x1234567.bmp"},  // above 999999: unchanged, untested
        {d + "007.bmp", d + "000007.bmp"},         // the whole name is digits
        {d + "v1.2/n5", d + "v1.2/n000005"},       // a dot in a folder is no extension
        {"", ""},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.target);
        EXPECT_EQ(MakeUniqueTarget(c.target), c.expected);
    }
}

TEST(CMergeImageJob, AutoNumberedTargetIsWritten) {
    TempDir dir;
    WriteFlatBmp(dir.Path() / "in" / "a.bmp", 2, 2, 9);
    WriteText(dir.Path() / "avg000000.bmp", "taken");
    CMergeParams s = Plain((dir.Path() / "in").string(), (dir.Path() / "avg.bmp").string());
    s.m_bAutoNumber = true;
    const CJobResult result = RunJob<CMergeImageJob>(s);
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(result.m_strTarget, (dir.Path() / "avg000001.bmp").string());
    EXPECT_TRUE(LooksLikeBmp(dir.Path() / "avg000001.bmp"));
    EXPECT_EQ(ReadText(dir.Path() / "avg000000.bmp"), "taken");
}

TEST(CMergeImageJob, StopDuringTheThirdOfTenWritesAndTrashesNothing) {
    TempDir dir;
    for (int i = 0; i < 10; ++i)
        WriteFlatBmp(dir.Path() / "in" / ("f" + std::to_string(i) + ".bmp"), 2, 2, 50);
    CMergeParams s = Plain((dir.Path() / "in").string(), (dir.Path() / "avg.bmp").string());
    s.m_bDelSrc = true;
    CTestObserver observer;
    observer.m_nStopAt =
        4;  // Stop pressed while the third file was handled: seen when the fourth comes
    const CJobResult result = RunJob<CMergeImageJob>(s, observer);
    EXPECT_EQ(result.m_end, JobEnd::Finished);
    EXPECT_TRUE(result.m_bStopped);
    EXPECT_EQ(result.m_nUsed, 3);
    EXPECT_EQ(result.m_nVisited, 4);
    EXPECT_TRUE(result.m_written.empty());
    EXPECT_TRUE(result.m_trashed.empty());
    EXPECT_FALSE(fs::exists(dir.Path() / "avg.bmp"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path() / "in"), {}), 10);

    CTestObserver early;
    early.m_nStopAt = 1;  // before any image was added
    EXPECT_EQ(RunJob<CMergeImageJob>(s, early).m_end, JobEnd::NothingAdded);
}

TEST(CMergeImageJob, NothingToDo) {
    TempDir dir;
    WriteText(dir.Path() / "in" / "broken.bmp", "BM not really");
    WriteFlatBmp(dir.Path() / "jpgs" / "a.bmp", 2, 2, 1);
    CMergeParams s = Plain((dir.Path() / "in").string(), (dir.Path() / "avg.bmp").string());
    s.m_bDelSrc = true;
    const CJobResult broken = RunJob<CMergeImageJob>(s);
    EXPECT_EQ(broken.m_end, JobEnd::NothingAdded);
    ASSERT_EQ(broken.m_skipped.size(), 1u);
    EXPECT_TRUE(fs::exists(dir.Path() / "in" / "broken.bmp"));  // a file that failed to load stays

    s.m_strSrcDir = (dir.Path() / "jpgs").string();
    s.m_source = SourceKind::Jpg;
    EXPECT_EQ(RunJob<CMergeImageJob>(s).m_end, JobEnd::NoFiles);
    s.m_source = std::nullopt;
    EXPECT_EQ(RunJob<CMergeImageJob>(s).m_end, JobEnd::Refused);
    s.m_source = SourceKind::Bmp;
    s.m_strTargetFile.clear();
    EXPECT_EQ(RunJob<CMergeImageJob>(s).m_end, JobEnd::Refused);
}

TEST(CMergeImageJob, SourcesGoToTheTrashOnlyAfterTheResultIsWritten) {
    TempDir dir;
    const fs::path in = dir.Path() / "in";
    for (int i = 0; i < 3; ++i) WriteFlatBmp(in / ("t" + std::to_string(i) + ".bmp"), 2, 2, 30);
    WriteText(in / "t9-broken.bmp", "no image");

    // A target that cannot be written: its folder is a file.
    WriteText(dir.Path() / "notafolder", "x");
    CMergeParams s = Plain(in.string(), (dir.Path() / "notafolder" / "avg.bmp").string());
    s.m_bDelSrc = true;
    CTestObserver observer;
    observer.m_onFile = [&](const std::string& path) { EXPECT_FALSE(InTrash(path)); };
    const CJobResult failed = RunJob<CMergeImageJob>(s, observer);
    EXPECT_FALSE(failed.Ok());
    ASSERT_EQ(failed.m_failures.size(), 1u);
    EXPECT_EQ(failed.m_failures[0].m_strPath, s.m_strTargetFile);
    EXPECT_FALSE(failed.m_failures[0].m_strReason.empty());
    EXPECT_TRUE(failed.m_trashed.empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(in), {}), 4);

    // Written: the sources that loaded go, the broken one stays.
    s.m_strTargetFile = (dir.Path() / "avg.bmp").string();
    const CJobResult done = RunJob<CMergeImageJob>(s, observer);
    ASSERT_TRUE(done.Ok());
    EXPECT_EQ(done.m_trashed.size(), 3u);
    for (const auto& path : done.m_trashed) EXPECT_TRUE(InTrash(path)) << path;
    EXPECT_TRUE(fs::exists(in / "t9-broken.bmp"));
    EXPECT_TRUE(fs::exists(dir.Path() / "avg.bmp"));
}

TEST(CMergeImageJob, TargetAmongTheSourcesGoesToTheTrashFirst) {
    TempDir dir;
    WriteFlatBmp(dir.Path() / "avg.bmp", 2, 2, 10);
    WriteFlatBmp(dir.Path() / "b.bmp", 2, 2, 20);
    CMergeParams s = Plain(Str(dir), (dir.Path() / "avg.bmp").string());
    s.m_bDelSrc = true;
    const CJobResult result = RunJob<CMergeImageJob>(s);
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(result.m_trashed, (std::vector<std::string>{(dir.Path() / "avg.bmp").string(),
                                                          (dir.Path() / "b.bmp").string()}));
    EXPECT_TRUE(InTrash((dir.Path() / "avg.bmp").string()));
    CDibImage avg;
    LoadOrFail(dir.Path() / "avg.bmp", avg);
    EXPECT_EQ(avg.TopRow(0)[0], 15);
}

TEST(CMergeImageJob, JpegResultUsesTheQualityAtWritingTime) {
    TempDir dir;
    WriteBmp(dir.Path() / "in" / "a.bmp", 64, 64,
             [](int x, int y, int k) { return std::uint8_t((x * 37 + y * 91 + k * 53) % 256); });
    CMergeParams s = Plain((dir.Path() / "in").string(), (dir.Path() / "low.jpg").string());
    s.m_nJpgQuality = 95;
    CTestObserver low;
    low.m_nResultQuality = 5;
    ASSERT_TRUE(RunJob<CMergeImageJob>(s, low).Ok());
    s.m_strTargetFile = (dir.Path() / "high.jpg").string();
    ASSERT_TRUE(RunJob<CMergeImageJob>(s).Ok());
    EXPECT_LT(fs::file_size(dir.Path() / "low.jpg"), fs::file_size(dir.Path() / "high.jpg"));
}
