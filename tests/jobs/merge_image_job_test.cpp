#include "jobs/merge_image_job.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <tuple>

#include "common/bmp_builder.h"
#include "common/stack_feed.h"
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

int CountFilesIn(const fs::path& folder) {
    return int(std::distance(fs::directory_iterator(folder), {}));
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

// The result counts the images of another size than the first that entered it (only their
// overlap did): on the plain path (BMP whole, JPEG strip by strip) and the stacker's. Neither the
// first image read nor one that did not enter counts.
TEST(CMergeImageJob, CountsTheImagesOfAnotherSize) {
    struct Size {
        int w, h;  // 0 x 0: a file that cannot be read
    };
    struct Case {
        const char* name;
        SourceKind kind;
        StackMethod method;
        int limit;
        std::vector<Size> sizes;  // in scan order
    };
    const Case kCases[] = {
        {"bmp mean", SourceKind::Bmp, StackMethod::Mean, 0, {{6, 4}, {8, 6}, {6, 4}, {6, 3}}},
        {"jpg mean", SourceKind::Jpg, StackMethod::Mean, 0, {{16, 8}, {16, 8}, {24, 8}, {16, 8}}},
        {"unreadable first", SourceKind::Bmp, StackMethod::Mean, 0, {{0, 0}, {5, 5}, {4, 5}}},
        {"median", SourceKind::Bmp, StackMethod::Median, 0, {{6, 4}, {6, 4}, {3, 4}, {9, 9}}},
        {"median past the limit",
         SourceKind::Bmp,
         StackMethod::Median,
         2,
         {{6, 4}, {7, 4}, {6, 4}, {3, 3}}},
        {"one size", SourceKind::Bmp, StackMethod::MeanOfAdded, 0, {{6, 4}, {6, 4}}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path in = dir.Path() / "in";
        const char* ext = c.kind == SourceKind::Jpg ? ".jpg" : ".bmp";
        for (std::size_t i = 0; i < c.sizes.size(); ++i)
            WriteText(in / ("p" + std::to_string(i) + ext), "");
        const std::vector<std::string> order = ScanOrder(in.string(), std::string("*") + ext);
        ASSERT_EQ(order.size(), c.sizes.size());
        // The expected count follows the rules: the first readable image fixes the size, and
        // only the first `limit` readable images enter.
        int readable = 0, expected = 0;
        const Size* first = nullptr;
        for (std::size_t i = 0; i < order.size(); ++i) {
            const Size size = c.sizes[i];
            if (size.w == 0)
                continue;  // left empty: unreadable
            CDibImage image;
            ASSERT_TRUE(image.Create(size.w, size.h, 24));
            for (int y = 0; y < size.h; ++y)
                std::fill_n(image.TopRow(y), size.w * 3, std::uint8_t(40 + 10 * i));
            const std::string staging = (dir.Path() / ("staging" + std::string(ext))).string();
            ASSERT_TRUE(SaveImageFile(staging, image, 90));
            std::ofstream(order[i], std::ios::binary | std::ios::trunc) << ReadText(staging);
            if (!first)
                first = &c.sizes[i];
            if ((c.limit == 0 || readable < c.limit) && (size.w != first->w || size.h != first->h))
                ++expected;
            ++readable;
        }
        CMergeParams s = Plain(in.string(), (dir.Path() / "avg.bmp").string());
        s.m_source = c.kind;
        s.m_method = c.method;
        s.m_nLimit = c.limit;
        const CJobResult result = RunJob<CMergeImageJob>(s);
        ASSERT_EQ(result.m_end, JobEnd::Finished);
        EXPECT_EQ(result.m_nOtherSize, expected);
        CDibImage avg;
        LoadOrFail(dir.Path() / "avg.bmp", avg);
        EXPECT_EQ(avg.m_nWidth, first->w);
        EXPECT_EQ(avg.m_nHeight, first->h);
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

// The default parameters are the plain average to the byte: random folders of images of mixed
// sizes, with unreadable files among them, against the average computed here by its rules
// (sums over the top-left overlap, divided by the capped file count, round half up), compared as
// the BMP files they make.
TEST(CMergeImageJob, DefaultsAreThePlainAverageToTheByte) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        TempDir dir;
        const fs::path in = dir.Path() / "in";
        const int files = 1 + int(rng() % 9);
        for (int i = 0; i < files; ++i) WriteText(in / ("f" + std::to_string(i) + ".bmp"), "");
        const std::vector<std::string> order = ScanOrder(in.string(), "*.bmp");
        int width = 0, height = 0;
        std::vector<int> sums;
        for (const std::string& path : order) {
            if (rng() % 5 == 0)
                continue;  // stays empty: unreadable, still counted in N
            const int w = 1 + int(rng() % 9), h = 1 + int(rng() % 7);
            std::vector<std::uint8_t> px(std::size_t(w * h * 3));
            for (auto& p : px) p = std::uint8_t(rng());
            FillInPlace(path, w, h, [&](int x, int y, int k) { return px[(y * w + x) * 3 + k]; });
            if (width == 0) {
                width = w;
                height = h;
                sums.assign(std::size_t(w * h * 3), 0);
            }
            for (int y = 0; y < std::min(h, height); ++y)
                for (int x = 0; x < std::min(w, width); ++x)
                    for (int k = 0; k < 3; ++k)
                        sums[(y * width + x) * 3 + k] += px[(y * w + x) * 3 + k];
        }
        const fs::path target = dir.Path() / "avg.bmp";
        const CJobResult result = RunJob<CMergeImageJob>(Plain(in.string(), target.string()));
        if (width == 0) {
            EXPECT_EQ(result.m_end, JobEnd::NothingAdded);
            continue;
        }
        ASSERT_EQ(result.m_end, JobEnd::Finished);
        CDibImage expected;
        ASSERT_TRUE(expected.Create(width, height, 24));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width * 3; ++x)
                expected.TopRow(y)[x] = std::uint8_t(
                    std::min((2 * sums[y * width * 3 + x] + files) / (2 * files), 255));
        const fs::path want = dir.Path() / "want.bmp";
        ASSERT_TRUE(expected.SaveBmp(want.string()));
        EXPECT_EQ(ReadText(target), ReadText(want));
    }
}

namespace {

// A smooth texture that registration can lock onto, with `offset` added.
std::uint8_t Texture(int x, int y, int k, int offset) {
    const double v =
        100 + 40 * std::sin(x * 0.31 + k) * std::cos(y * 0.23) + 25 * std::sin((x + 2 * y) * 0.11);
    return std::uint8_t(std::clamp(int(std::lround(v)) + offset, 0, 255));
}

}  // namespace

// Every method and alignment through the engine onto the same outputs: the numbered target, the
// extras, the report, the sources trashed after all of it. Twelve 64x48 frames: eleven copies
// of a texture with small offsets and one with a bright bar (an occluder); with alignment also
// a frame of unrelated noise, which is left out, named with its reason and kept in place.
TEST(CMergeImageJob, EveryMethodThroughTheEngine) {
    constexpr int kW = 64, kH = 48, kClean = 11;
    // A bright blob in a corner, outside the window registration looks at (32x32 in the centre):
    // a bar across the window can make the frame unregistrable, which is another test's matter.
    const auto occluded = [](int x, int y) { return x >= 4 && x < 14 && y >= 4 && y < 12; };
    struct Case {
        StackMethod method;
        bool align;
        int limit;
        int tolerance;  // aligned frames pass a sub-pixel resampling
    };
    const Case kCases[] = {
        {StackMethod::MeanOfAdded, false, 0, 0}, {StackMethod::Median, false, 0, 0},
        {StackMethod::SigmaClip, false, 0, 0},   {StackMethod::Median, false, 5, 0},
        {StackMethod::SigmaClip, true, 0, 2},    {StackMethod::Mean, true, 0, 2},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(StackMethodName(c.method)) + (c.align ? " aligned" : "") +
                     " limit " + std::to_string(c.limit));
        TempDir dir;
        const fs::path in = dir.Path() / "in";
        // Contents go by scan order: the reference (first) is clean, the third is occluded and,
        // with alignment, the last is noise.
        const int files = kClean + 1 + (c.align ? 1 : 0);
        for (int i = 0; i < files; ++i) WriteText(in / ("f" + std::to_string(i) + ".bmp"), "");
        const std::vector<std::string> order = ScanOrder(in.string(), "*.bmp");
        std::vector<int> offsets;  // of each frame in scan order; -1 for the occluded one
        for (int i = 0; i < kClean + 1; ++i) {
            const int offset = i == 2 ? -1 : ((i - (i > 2)) % 4) * 2;
            offsets.push_back(offset);
            FillInPlace(order[std::size_t(i)], kW, kH, [&](int x, int y, int k) {
                return offset < 0 && occluded(x, y) ? std::uint8_t(250)
                                                    : Texture(x, y, k, std::max(offset, 0));
            });
        }
        if (c.align) {
            std::mt19937 noise(5);
            FillInPlace(order.back(), kW, kH, [&](int, int, int) { return std::uint8_t(noise()); });
        }
        const int total = c.limit ? c.limit : int(order.size());  // N, the progress range
        const int used = c.limit ? c.limit : kClean + 1;
        // Mean divides by N, whatever was left out.
        const int divisor = c.method == StackMethod::Mean ? total : used;

        CMergeParams s = Plain(in.string(), (dir.Path() / "avg.bmp").string());
        s.m_method = c.method;
        s.m_bAlign = c.align;
        s.m_nLimit = c.limit;
        s.m_bExtra800 = s.m_bExtra1024 = s.m_bAutoNumber = s.m_bDelSrc = true;
        s.m_strReportFile = (dir.Path() / "report.csv").string();
        WriteText(dir.Path() / "avg000000.bmp", "taken");
        CTestObserver observer;
        const CJobResult result = RunJob<CMergeImageJob>(s, observer);
        ASSERT_TRUE(result.Ok()) << (result.m_failures.empty() ? result.m_strReason
                                                               : result.m_failures[0].m_strReason);
        EXPECT_EQ(observer.m_nTotal, total);
        EXPECT_EQ(observer.m_files, order);
        const fs::path target = dir.Path() / "avg000001.bmp";
        EXPECT_EQ(result.m_strTarget, target.string());
        EXPECT_EQ(result.m_written,
                  (std::vector<std::string>{
                      target.string(), (dir.Path() / "avg000001_800x600.bmp").string(),
                      (dir.Path() / "avg000001_1024x768.bmp").string(), s.m_strReportFile}));
        EXPECT_EQ(result.m_nUsed, used);

        // Left out by alignment: skipped with its reason, kept; everything else trashed.
        if (c.align) {
            ASSERT_EQ(result.m_skipped.size(), 1u);
            EXPECT_EQ(result.m_skipped[0].m_strPath, order.back());
            EXPECT_NE(result.m_skipped[0].m_strReason.find("correlation"), std::string::npos);
            EXPECT_TRUE(fs::exists(order.back()));
        } else {
            EXPECT_TRUE(result.m_skipped.empty());
        }
        EXPECT_EQ(result.m_trashed.size(), std::size_t(kClean + 1));
        EXPECT_EQ(CountFilesIn(in), c.align ? 1 : 0);

        // The report: a line per file, in scan order.
        const std::string report = ReadText(s.m_strReportFile);
        EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), std::ptrdiff_t(order.size() + 1));
        std::size_t at = 0;
        for (const std::string& path : order) {
            at = report.find(path + ",", at);
            ASSERT_NE(at, std::string::npos) << path << "\n" << report;
        }
        EXPECT_EQ(report.find("rejected") != std::string::npos, c.align || c.limit > 0);

        for (const auto& [name, w, h] : {std::tuple{"avg000001_800x600.bmp", 800, 600},
                                         std::tuple{"avg000001_1024x768.bmp", 1024, 768}}) {
            CDibImage extra;
            LoadOrFail(dir.Path() / name, extra);
            EXPECT_EQ(extra.m_nWidth, w);
            EXPECT_EQ(extra.m_nHeight, h);
        }

        // Each pixel against the method applied here to the frames' values.
        CDibImage avg;
        LoadOrFail(target, avg);
        ASSERT_EQ(avg.m_nWidth, kW);
        ASSERT_EQ(avg.m_nHeight, kH);
        const int margin = c.align ? 3 : 0;  // resampling taps leave the border out
        for (int y = margin; y < kH - margin; ++y)
            for (int x = margin; x < kW - margin; ++x)
                for (int k = 0; k < 3; ++k) {
                    std::vector<std::uint8_t> v;
                    for (int i = 0; i < used; ++i) {
                        const int offset = offsets[std::size_t(i)];
                        v.push_back(offset < 0 && occluded(x, y)
                                        ? std::uint8_t(250)
                                        : Texture(x, y, k, std::max(offset, 0)));
                    }
                    int want = 0;
                    switch (c.method) {
                        case StackMethod::Mean:
                        case StackMethod::MeanOfAdded: {
                            int sum = 0;
                            for (auto e : v) sum += e;
                            want = (2 * sum + divisor) / (2 * divisor);
                            break;
                        }
                        case StackMethod::Median:
                            std::sort(v.begin(), v.end());
                            want = v.size() % 2 ? v[v.size() / 2]
                                                : (v[v.size() / 2 - 1] + v[v.size() / 2] + 1) / 2;
                            break;
                        case StackMethod::SigmaClip:
                            want = SigmaClipOf(v.data(), v.size(), kDefaultKappa);
                            break;
                    }
                    ASSERT_NEAR(avg.TopRow(y)[3 * x + k], want, c.tolerance)
                        << x << "," << y << "," << k;
                    // The bar never shows through a median or a clipped mean.
                    if (occluded(x, y) && c.method != StackMethod::Mean &&
                        c.method != StackMethod::MeanOfAdded) {
                        ASSERT_LT(avg.TopRow(y)[3 * x + k], 200);
                    }
                }
    }
}

// Alignment takes as its reference the first picture with something to register on: a
// recording that starts on black frames still aligns, the flat frames left out and named, at
// any number of workers. Flat frames elsewhere are left out too; all flat adds nothing and says
// why. Pictures of another size never wait for a reference that cannot come (a hang fails the
// test through its time limit).
TEST(CMergeImageJob, AlignmentSkipsFlatFramesForItsReference) {
    constexpr int kW = 64, kH = 48, kFiles = 8;
    struct Case {
        std::vector<int> flat;  // scan positions of flat frames
        std::vector<int> wide;  // scan positions of textured frames of 80x60
        int reference;          // scan position of the reference; -1: nothing added
    };
    const Case kCases[] = {
        {{}, {}, 0},        {{0, 1}, {}, 2},
        {{0, 3, 4}, {}, 1}, {{0, 1, 2, 3, 4, 5, 6, 7}, {}, -1},
        {{0}, {1}, 2},      {{0, 2, 3, 4, 5, 6, 7}, {1}, -1},
    };
    for (const int threads : {1, 2, 3}) {
        CRunContext context;
        context.m_nThreads = threads;
        for (const Case& c : kCases) {
            SCOPED_TRACE(::testing::Message() << threads << " workers, reference " << c.reference);
            TempDir dir;
            const fs::path in = dir.Path() / "in";
            for (int i = 0; i < kFiles; ++i) WriteText(in / ("f" + std::to_string(i) + ".bmp"), "");
            const std::vector<std::string> order = ScanOrder(in.string(), "*.bmp");
            const auto isFlat = [&](int i) {
                return std::find(c.flat.begin(), c.flat.end(), i) != c.flat.end();
            };
            const auto isWide = [&](int i) {
                return std::find(c.wide.begin(), c.wide.end(), i) != c.wide.end();
            };
            for (int i = 0; i < kFiles; ++i)
                FillInPlace(order[std::size_t(i)], isWide(i) ? 80 : kW, isWide(i) ? 60 : kH,
                            [&](int x, int y, int k) {
                                return isFlat(i) ? std::uint8_t(i * 20)
                                                 : Texture(x + i % 3, y + i % 2, k, 0);
                            });
            CMergeParams s = Plain(in.string(), (dir.Path() / "avg.bmp").string());
            s.m_method = StackMethod::Median;
            s.m_bAlign = true;
            s.m_bDelSrc = false;
            s.m_strReportFile = (dir.Path() / "report.csv").string();
            CTestObserver observer;
            const CJobResult result = RunJob<CMergeImageJob>(s, observer, context);
            std::vector<std::string> skipped;
            for (const auto& problem : result.m_skipped) skipped.push_back(problem.m_strPath);
            std::vector<std::string> flat;
            for (int i = 0; i < kFiles; ++i)
                if (isFlat(i) || (isWide(i) && c.reference < 0))
                    flat.push_back(order[std::size_t(i)]);
            EXPECT_EQ(skipped, flat);
            EXPECT_EQ(result.m_bNoneAlignable, c.reference < 0);
            if (c.reference < 0) {
                EXPECT_EQ(result.m_end, JobEnd::NothingAdded);
                EXPECT_FALSE(fs::exists(dir.Path() / "avg.bmp"));
                continue;
            }
            ASSERT_TRUE(result.Ok()) << result.m_strReason;
            EXPECT_EQ(result.m_nUsed, kFiles - int(c.flat.size()));
            const std::string report = ReadText(s.m_strReportFile);
            for (int i = 0; i < kFiles; ++i) {
                const std::string& path = order[std::size_t(i)];
                const std::size_t at = report.find(path + ",");
                ASSERT_NE(at, std::string::npos) << report;
                const std::string line = report.substr(at, report.find('\n', at) - at);
                if (isFlat(i))
                    EXPECT_NE(line.find(",rejected,"), std::string::npos) << line;
                else
                    EXPECT_EQ(line.find(",used,reference") != std::string::npos, i == c.reference)
                        << line;
            }
            // Shifts are against the reference's content.
            CDibImage avg;
            LoadOrFail(dir.Path() / "avg.bmp", avg);
            EXPECT_NEAR(avg.TopRow(kH / 2)[3 * (kW / 2)],
                        Texture(kW / 2 + c.reference % 3, kH / 2 + c.reference % 2, 0, 0), 2);
        }
    }
}

// Parameters the engine cannot use, a report it cannot write and a report over an output.
TEST(CMergeImageJob, StackingRefusalsAndReportFailures) {
    TempDir dir;
    const fs::path in = dir.Path() / "in";
    WriteFlatBmp(in / "a.bmp", 4, 4, 10);
    WriteFlatBmp(in / "b.bmp", 4, 4, 20);
    WriteText(dir.Path() / "afile", "x");
    struct Case {
        const char* name;
        std::function<void(CMergeParams&)> set;
        JobEnd end;
        std::string failurePath;  // for Failed
    };
    const std::string avg = (dir.Path() / "avg.bmp").string();
    const Case kCases[] = {
        {"kappa 0", [](CMergeParams& s) { s.m_dKappa = 0; }, JobEnd::Refused, ""},
        {"negative limit", [](CMergeParams& s) { s.m_nLimit = -1; }, JobEnd::Refused, ""},
        {"report over the target", [&](CMergeParams& s) { s.m_strReportFile = avg; },
         JobEnd::Refused, ""},
        {"report over a source",
         [&](CMergeParams& s) { s.m_strReportFile = (in / "a.bmp").string(); }, JobEnd::Refused,
         ""},
        {"report in a file",
         [&](CMergeParams& s) {
             s.m_method = StackMethod::Median;
             s.m_strReportFile = (dir.Path() / "afile" / "r.csv").string();
         },
         JobEnd::Failed, (dir.Path() / "afile" / "r.csv").string()},
        {"report over a folder",
         [&](CMergeParams& s) {
             s.m_method = StackMethod::Median;
             s.m_strReportFile = dir.Path().string();
         },
         JobEnd::Failed, dir.Path().string()},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        CMergeParams s = Plain(in.string(), avg);
        s.m_bDelSrc = true;
        c.set(s);
        const CJobResult result = RunJob<CMergeImageJob>(s);
        EXPECT_EQ(result.m_end, c.end) << result.m_strReason;
        if (c.end == JobEnd::Refused) {
            EXPECT_FALSE(result.m_strReason.empty());
        }
        if (!c.failurePath.empty()) {
            ASSERT_EQ(result.m_failures.size(), 1u);
            EXPECT_EQ(result.m_failures[0].m_strPath, c.failurePath);
            EXPECT_FALSE(result.m_failures[0].m_strReason.empty());
            // Found before any image was read.
            EXPECT_EQ(result.m_nVisited, 0);
            EXPECT_TRUE(result.m_written.empty());
        }
        // No source went anywhere.
        EXPECT_TRUE(result.m_trashed.empty());
        EXPECT_EQ(CountFilesIn(in), 2);
    }
}

// A picture too large for the stacking methods is skipped before it is decoded, whichever place
// it has: the first one no longer sets a grid of its size. Its header alone states the size (no
// pixels follow), so a decode would have failed with another reason.
TEST(CMergeImageJob, StackingSkipsPicturesTooLargeBeforeDecoding) {
    const std::pair<std::int32_t, std::int32_t> kHuge[] = {{8000, 5000}, {16000, 16000}};
    for (const auto& [width, height] : kHuge) {
        for (const bool bAlign : {false, true}) {
            SCOPED_TRACE(std::to_string(width) + (bAlign ? " aligned" : ""));
            TempDir dir;
            const fs::path in = dir.Path() / "in";
            BmpLayout layout;
            layout.width = width;
            layout.height = height;
            const std::vector<unsigned char> bytes = MakeBmp(layout);
            fs::create_directories(in);
            std::ofstream(in / "a.bmp", std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
            for (const char* name : {"b.bmp", "c.bmp", "d.bmp"})
                WriteBmp(in / name, 64, 48,
                         [](int x, int y, int k) { return Texture(x, y, k, 0); });
            CMergeParams s = Plain(in.string(), (dir.Path() / "avg.bmp").string());
            s.m_method = StackMethod::Median;
            s.m_bAlign = bAlign;
            s.m_bDelSrc = false;
            const CJobResult result = RunJob<CMergeImageJob>(s);
            ASSERT_TRUE(result.Ok()) << result.m_strReason;
            EXPECT_EQ(result.m_nUsed, 3);
            ASSERT_EQ(result.m_skipped.size(), 1u);
            EXPECT_EQ(result.m_skipped[0].m_strPath, (in / "a.bmp").string());
            EXPECT_NE(result.m_skipped[0].m_strReason.find("megapixels"), std::string::npos)
                << result.m_skipped[0].m_strReason;
            CDibImage avg;
            LoadOrFail(dir.Path() / "avg.bmp", avg);
            EXPECT_EQ(avg.m_nWidth, 64);
            EXPECT_EQ(avg.m_nHeight, 48);
        }
    }
}

// The stacker's mean with the file count as divisor is the averaging engine's result, byte for
// byte, on pictures of random sizes and contents (the first decides the size).
TEST(CImageStacker, MeanMatchesTheAveragingEngine) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    TempDir dir;
    const int files = 7;
    for (int i = 0; i < files; ++i) {
        const int w = i == 0 ? 9 : 3 + int(rng() % 10);
        const int h = i == 0 ? 6 : 2 + int(rng() % 8);
        std::vector<std::uint8_t> bytes(std::size_t(w) * h * 3);
        for (auto& b : bytes) b = std::uint8_t(rng());
        WriteBmp(dir.Path() / "in" / ("p" + std::to_string(i) + ".bmp"), w, h,
                 [&](int x, int y, int k) { return bytes[(std::size_t(y) * w + x) * 3 + k]; });
    }
    CMergeParams settings;
    settings.m_strSrcDir = (dir.Path() / "in").string();
    settings.m_strTargetFile = dir.File("engine.bmp");
    settings.m_source = SourceKind::Bmp;
    settings.m_bExtra800 = settings.m_bExtra1024 = settings.m_bDelSrc = false;
    settings.m_bAutoNumber = false;
    ASSERT_TRUE(RunJob<CMergeImageJob>(settings).Ok());

    CStackOptions options;
    options.m_method = StackMethod::Mean;
    options.m_nMeanDivisor = files;
    CImageStacker stacker(options);
    CStackFeed feed(stacker, options);
    for (const std::string& path : ScanOrder(settings.m_strSrcDir, "*.bmp")) {
        CDibImage image;
        LoadOrFail(path, image);
        const CStatus added = feed.Add(path, image);
        ASSERT_TRUE(added) << added.Reason();
    }
    CDibImage result;
    const CStatus finished = stacker.Finish(result);
    ASSERT_TRUE(finished) << finished.Reason();
    ASSERT_TRUE(result.SaveBmp(dir.File("stacked.bmp")).Ok());
    EXPECT_EQ(ReadAllBytes(dir.File("stacked.bmp")), ReadAllBytes(settings.m_strTargetFile));
}
