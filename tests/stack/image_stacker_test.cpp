#include "stack/stack.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <thread>

#include "common/stack_feed.h"
#include "common/temp_dir.h"

namespace {

// A picture of width x height whose channel k at (x, y) is fn(x, y, k).
void Fill(CDibImage& image, int width, int height, const std::function<int(int, int, int)>& fn) {
    ASSERT_TRUE(image.Create(width, height, 24));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int k = 0; k < 3; ++k) image.TopRow(y)[3 * x + k] = std::uint8_t(fn(x, y, k));
}

// A textured picture of width x height: 400 soft blobs of random place, size and colour on grey,
// seen moved by (dx, dy), i.e. picture(x, y) = texture(x - dx, y - dy), exact at any fraction.
void FillTexture(CDibImage& image, int width, int height, double dx, double dy) {
    std::vector<double> sum(std::size_t(width) * height * 3, 128.0);
    std::mt19937 rng(99);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int i = 0; i < 400; ++i) {
        const double cx = unit(rng) * width + dx, cy = unit(rng) * height + dy;
        const double sigma = 1 + 3 * unit(rng);
        const double colour[3] = {unit(rng) * 160 - 80, unit(rng) * 160 - 80, unit(rng) * 160 - 80};
        const int reach = int(std::ceil(4 * sigma));
        for (int y = std::max(0, int(cy) - reach); y < std::min(height, int(cy) + reach + 1); ++y)
            for (int x = std::max(0, int(cx) - reach); x < std::min(width, int(cx) + reach + 1);
                 ++x) {
                const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                const double g = std::exp(-r2 / (2 * sigma * sigma));
                for (int k = 0; k < 3; ++k)
                    sum[(std::size_t(y) * width + x) * 3 + k] += colour[k] * g;
            }
    }
    Fill(image, width, height, [&](int x, int y, int k) {
        return int(
            std::clamp(std::floor(sum[(std::size_t(y) * width + x) * 3 + k] + 0.5), 0.0, 255.0));
    });
}

struct CStackRun {
    bool m_bOk = false;
    std::string m_strWhy;
    std::vector<CStackFile> m_files;
    CStackStats m_stats;
};

// Stacks `images` (named "0", "1", ...) into `result`.
CStackRun StackAll(const CStackOptions& options, const std::vector<const CDibImage*>& images,
                   CDibImage& result) {
    CStackRun run;
    CImageStacker stacker(options);
    CStackFeed feed(stacker, options);
    for (std::size_t i = 0; i < images.size(); ++i)
        if (CStatus added = feed.Add(std::to_string(i), *images[i]); !added) {
            run.m_strWhy = added.Reason();
            return run;
        }
    const CStatus finished = stacker.Finish(result);
    run.m_bOk = finished.Ok();
    if (!finished)
        run.m_strWhy = finished.Reason();
    run.m_files = stacker.Files();
    run.m_stats = stacker.Stats();
    return run;
}

}  // namespace

// Worked examples of the per-pixel combiners, each worked out by hand.
TEST(StackMethods, MedianAndSigmaClipOfSampleLists) {
    struct Case {
        std::vector<std::uint8_t> samples;
        double kappa;
        int median;
        int clipped;
    };
    const Case kCases[] = {
        {{7}, 2.5, 7, 7},
        {{10, 11}, 2.5, 11, 11},    // even count: 10.5 rounds up
        {{4, 1, 3, 2}, 2.5, 3, 3},  // 2.5 rounds up; the mean 2.5 too
        {{0, 255, 7}, 2.5, 7, 87},  // nothing is far enough out with only three samples
        // Nine at 10 and one at 250: mean 34, s 72, the 250 lies 240 > 180 from the median.
        {{10, 10, 10, 250, 10, 10, 10, 10, 10, 10}, 2.5, 10, 10},
        // s 33.1: the 0 lies 100 > 82.7 from the median 100; the rest stays (s 1.2).
        {{100, 102, 98, 101, 99, 100, 100, 0}, 2.5, 100, 100},
        // kappa 0.5 would reject every sample (all 127.5 from the median): half must stay.
        {{0, 0, 0, 0, 255, 255, 255, 255}, 0.5, 128, 128},
        // kappa 1: s 3.06 around the median 5 rejects the 0 and the 12 first, then no more.
        {{0, 4, 5, 5, 6, 12}, 1.0, 5, 5},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(
            ::testing::PrintToString(std::vector<int>(c.samples.begin(), c.samples.end())));
        EXPECT_EQ(MedianOf(c.samples.data(), c.samples.size()), c.median);
        EXPECT_EQ(SigmaClipOf(c.samples.data(), c.samples.size(), c.kappa), c.clipped);
        EXPECT_EQ(FastMedianOf(c.samples.data(), c.samples.size()), c.median);
        EXPECT_EQ(FastSigmaClipOf(c.samples.data(), c.samples.size(), c.kappa), c.clipped);
    }
    StackMethod method = StackMethod::Mean;
    EXPECT_TRUE(ParseStackMethod("sigma-clip", method));
    EXPECT_EQ(method, StackMethod::SigmaClip);
    EXPECT_FALSE(ParseStackMethod("average", method));
}

// The stacker's combiner against the plain histogram on random blocks of channels side by side:
// noisy clusters with outliers, a few distinct values (ties), the extremes 0 and 255, anything;
// kappas from tiny to huge. One combiner serves every block in turn, so anything a result leaves
// behind shows.
TEST(StackMethods, BlockCombinerMatchesThePlainOne) {
    std::mt19937 rng(2026);
    const auto uniform = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    const double kKappas[] = {0.05, 0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 5.0, 1e300};
    auto combiner = std::make_unique<CBlockCombiner>();
    std::vector<std::uint8_t> block;
    std::vector<std::uint8_t> channel;
    std::uint8_t out[CBlockCombiner::kMaxLanes];
    for (int round = 0; round < 3000; ++round) {
        // Mostly full blocks, as the stacker hands them; a block past the counts' reach once.
        const int lanes =
            round % 3 == 0 ? uniform(1, CBlockCombiner::kMaxLanes) : CBlockCombiner::kMaxLanes;
        const int n = round == 7 ? 70000 : uniform(1, 300);
        block.assign(std::size_t(n) * std::size_t(lanes), 0);
        for (int j = 0; j < lanes; ++j) {
            const int kind = uniform(0, 3);
            std::normal_distribution<double> noise(
                uniform(0, 255), std::uniform_real_distribution<double>(0, 30)(rng));
            const int few[3] = {uniform(0, 255), uniform(0, 255), uniform(0, 255)};
            for (int i = 0; i < n; ++i) {
                int v = 0;
                switch (kind) {
                    case 0:  // a noisy cluster, now and then an outlier anywhere
                        v = uniform(0, 9) == 0 ? uniform(0, 255) : int(std::lround(noise(rng)));
                        break;
                    case 1:  // ties: a few values only
                        v = few[uniform(0, 2)];
                        break;
                    case 2:  // the extremes among a cluster
                        v = uniform(0, 3) == 0 ? 255 * uniform(0, 1) : int(std::lround(noise(rng)));
                        break;
                    default:
                        v = uniform(0, 255);
                }
                block[std::size_t(i) * std::size_t(lanes) + std::size_t(j)] =
                    std::uint8_t(std::clamp(v, 0, 255));
            }
        }
        const double kappa = round % 10 == 9 ? std::uniform_real_distribution<double>(0.01, 6)(rng)
                                             : kKappas[uniform(0, 8)];
        SCOPED_TRACE(::testing::Message() << "round " << round << " kappa " << kappa << " lanes "
                                          << lanes << " n " << n);
        const auto channelOf = [&](int j) {
            channel.clear();
            for (int i = 0; i < n; ++i)
                channel.push_back(block[std::size_t(i) * std::size_t(lanes) + std::size_t(j)]);
        };
        combiner->SigmaClip(block.data(), std::size_t(n), lanes, kappa, out);
        for (int j = 0; j < lanes; ++j) {
            channelOf(j);
            ASSERT_EQ(out[j], SigmaClipOf(channel.data(), channel.size(), kappa))
                << "channel " << j;
        }
        combiner->Median(block.data(), std::size_t(n), lanes, out);
        for (int j = 0; j < lanes; ++j) {
            channelOf(j);
            ASSERT_EQ(out[j], MedianOf(channel.data(), channel.size())) << "channel " << j;
        }
    }
    out[0] = 1;
    combiner->Median(block.data(), 0, 1, out);
    EXPECT_EQ(out[0], 0);  // nothing to combine
}

// Small stacks of flat pictures, some smaller than the first, through the stacker: which pictures
// count where, and how each method combines them.
TEST(CImageStacker, MethodsOnHandMadeStacks) {
    struct Picture {
        int width, height, value;
    };
    struct Case {
        StackMethod method;
        std::vector<Picture> pictures;
        int expectedWhereAll;   // pixel (0, 0): every picture covers it
        int expectedElsewhere;  // pixel (3, 1): only the full-size pictures cover it
    };
    const Case kCases[] = {
        // A 4x2 of 100 and a 2x2 of 50: covered by both 75, else 100 (the plain mean: 50).
        {StackMethod::MeanOfAdded, {{4, 2, 100}, {2, 2, 50}}, 75, 100},
        {StackMethod::Mean, {{4, 2, 100}, {2, 2, 50}}, 75, 50},
        // 10, 20 (2x1 only), 31: the median of three is 20; of 10 and 31, 20.5 rounds up.
        {StackMethod::Median, {{4, 2, 10}, {2, 1, 20}, {4, 2, 31}}, 20, 21},
        // Five at 50 and an outlier at 250: the clip drops it, the mean of added keeps it.
        {StackMethod::SigmaClip,
         {{4, 2, 50}, {4, 2, 50}, {4, 2, 250}, {4, 2, 50}, {4, 2, 50}, {4, 2, 50}},
         50,
         50},
        {StackMethod::MeanOfAdded,
         {{4, 2, 50}, {4, 2, 50}, {4, 2, 250}, {4, 2, 50}, {4, 2, 50}, {4, 2, 50}},
         83,
         83},
        // A larger later picture only adds its top-left part.
        {StackMethod::SigmaClip, {{4, 2, 40}, {8, 8, 42}}, 41, 41},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(StackMethodName(c.method)) + " of " +
                     std::to_string(c.pictures.size()));
        std::vector<std::unique_ptr<CDibImage>> owned;
        std::vector<const CDibImage*> images;
        for (const Picture& p : c.pictures) {
            owned.push_back(std::make_unique<CDibImage>());
            Fill(*owned.back(), p.width, p.height, [&](int, int, int) { return p.value; });
            images.push_back(owned.back().get());
        }
        CStackOptions options;
        options.m_method = c.method;
        CDibImage result;
        const CStackRun run = StackAll(options, images, result);
        ASSERT_TRUE(run.m_bOk) << run.m_strWhy;
        ASSERT_EQ(result.m_nWidth, c.pictures[0].width);
        ASSERT_EQ(result.m_nHeight, c.pictures[0].height);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(result.TopRow(0)[k], c.expectedWhereAll);
            EXPECT_EQ(result.TopRow(1)[3 * 3 + k], c.expectedElsewhere);
        }
    }
}

// Registration finds whole and fractional shifts of a textured picture within 0.1 pixel, and
// pictures moved that way come out on the reference's grid.
TEST(CImageRegistration, RecoversKnownShifts) {
    const int size = 160;
    CDibImage reference;
    FillTexture(reference, size, size, 0, 0);
    CImageRegistration registration;
    const CStatus set = registration.SetReference(ViewOf(reference));
    ASSERT_TRUE(set) << set.Reason();
    EXPECT_EQ(registration.WindowSize(), 128);

    const double kShifts[][2] = {{0, 0},     {3, -2},     {-5, 7},         {0.25, -0.5},
                                 {1.3, 2.7}, {-2.6, 0.4}, {10.75, -6.125}, {-0.1, 0.05}};
    for (const auto& shift : kShifts) {
        SCOPED_TRACE(::testing::Message() << "shift " << shift[0] << ", " << shift[1]);
        CDibImage moved;
        FillTexture(moved, size, size, shift[0], shift[1]);
        const CRegistration found = registration.Register(ViewOf(moved));
        ASSERT_TRUE(found.m_bOk) << found.m_strReason;
        EXPECT_NEAR(found.m_dx, shift[0], 0.1);
        EXPECT_NEAR(found.m_dy, shift[1], 0.1);

        // Back on the grid, the covered part matches the reference up to interpolation: on
        // average within a level, nowhere off by much.
        std::vector<std::uint8_t> grid(std::size_t(size) * size * 3);
        const CGridRect rect =
            ShiftOntoGrid(ViewOf(moved), found.m_dx, found.m_dy, size, size, grid.data());
        ASSERT_GT(rect.Area(), 0);
        int worst = 0;
        double total = 0;
        for (int y = rect.m_nTop; y < rect.m_nBottom; ++y)
            for (int i = rect.m_nLeft * 3; i < rect.m_nRight * 3; ++i) {
                const int d =
                    std::abs(grid[std::size_t(y) * size * 3 + i] - reference.TopRow(y)[i]);
                worst = std::max(worst, d);
                total += d;
            }
        EXPECT_LE(total / (double(rect.Area()) * 3), 1.0);
        EXPECT_LE(worst, 12);
    }
}

// Registrations of their own on several threads at once (as the decoding workers hold them)
// find exactly what one alone finds: planning and releasing do not trample each other.
TEST(CImageRegistration, SeveralAtOnceFindWhatOneFinds) {
    const int kSizes[] = {96, 160, 260};
    std::vector<CDibImage> references(std::size(kSizes)), moved(std::size(kSizes));
    std::vector<CRegistration> alone(std::size(kSizes));
    for (std::size_t i = 0; i < std::size(kSizes); ++i) {
        FillTexture(references[i], kSizes[i], kSizes[i], 0, 0);
        FillTexture(moved[i], kSizes[i], kSizes[i], 1.5, -0.75);
        CImageRegistration registration;
        ASSERT_TRUE(registration.SetReference(ViewOf(references[i])));
        alone[i] = registration.Register(ViewOf(moved[i]));
        ASSERT_TRUE(alone[i].m_bOk) << alone[i].m_strReason;
    }
    std::atomic<int> differing{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 40; ++round) {
                // A new registration each round, of a size other threads plan at the same time.
                const std::size_t i = std::size_t(t + round) % std::size(kSizes);
                CImageRegistration registration;
                const bool bSet = registration.SetReference(ViewOf(references[i])).Ok();
                const CRegistration found = registration.Register(ViewOf(moved[i]));
                if (!bSet || !found.m_bOk || found.m_dx != alone[i].m_dx ||
                    found.m_dy != alone[i].m_dy)
                    ++differing;
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(differing.load(), 0);
}

// With alignment, a picture of something else and a flat one are left out, named in the report
// with the reason, and change nothing in the result; the others are used with their shifts.
TEST(CImageStacker, LeavesOutPicturesThatCannotBeRegistered) {
    const int size = 96;
    const double kShifts[][2] = {{0, 0}, {1.5, -0.75}, {-2.25, 1}, {0.5, 2.5}};
    std::vector<std::unique_ptr<CDibImage>> owned;
    for (const auto& shift : kShifts) {
        owned.push_back(std::make_unique<CDibImage>());
        FillTexture(*owned.back(), size, size, shift[0], shift[1]);
    }
    std::mt19937 rng(5);
    CDibImage noise, flat;
    Fill(noise, size, size, [&](int, int, int) { return int(rng() % 256); });
    Fill(flat, size, size, [](int, int, int) { return 77; });

    for (StackMethod method : {StackMethod::MeanOfAdded, StackMethod::SigmaClip}) {
        SCOPED_TRACE(StackMethodName(method));
        CStackOptions options;
        options.m_method = method;
        options.m_bAlign = true;
        const std::vector<const CDibImage*> good = {owned[0].get(), owned[1].get(), owned[2].get(),
                                                    owned[3].get()};
        const std::vector<const CDibImage*> mixed = {
            owned[0].get(), owned[1].get(), &noise, owned[2].get(), &flat, owned[3].get()};
        CDibImage clean, result;
        const CStackRun cleanRun = StackAll(options, good, clean);
        const CStackRun run = StackAll(options, mixed, result);
        ASSERT_TRUE(cleanRun.m_bOk) << cleanRun.m_strWhy;
        ASSERT_TRUE(run.m_bOk) << run.m_strWhy;
        ASSERT_EQ(run.m_files.size(), mixed.size());
        for (std::size_t i = 0; i < mixed.size(); ++i) {
            const bool bBad = mixed[i] == &noise || mixed[i] == &flat;
            SCOPED_TRACE(i);
            EXPECT_EQ(run.m_files[i].m_bUsed, !bBad);
            EXPECT_EQ(run.m_files[i].m_strReason.empty(), !bBad);
        }
        const int shifted[] = {1, 3, 5};
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(run.m_files[std::size_t(shifted[i])].m_dx, kShifts[i + 1][0], 0.1);
            EXPECT_NEAR(run.m_files[std::size_t(shifted[i])].m_dy, kShifts[i + 1][1], 0.1);
        }
        EXPECT_TRUE(run.m_files[0].m_bReference);
        const std::size_t bytes = std::size_t(clean.m_nRowBytes) * clean.m_nHeight;
        EXPECT_TRUE(std::equal(clean.Bits(), clean.Bits() + bytes, result.Bits()));

        const std::string csv = StackReportCsv(run.m_files);
        EXPECT_NE(csv.find("\n2,0.000,0.000,rejected,\"correlation peak too weak ("),
                  std::string::npos)
            << csv;
        EXPECT_NE(csv.find("\n4,0.000,0.000,rejected,no contrast"), std::string::npos) << csv;
        const std::size_t first = csv.find("\n1,");
        ASSERT_NE(first, std::string::npos) << csv;
        EXPECT_EQ(csv.substr(csv.find('\n', first + 1) - 6, 6), ",used,") << csv;
    }
}

// A median over 1000 pictures that together need far more memory than the process may take:
// the stacker holds its budget, goes through its temporary store in tiles, and its file in the
// chosen folder has no name there, neither while it is written nor after.
// Runs in a child process whose address space is capped a little above what it uses at start.
TEST(CImageStacker, MedianOf1000PicturesStaysWithinItsMemory) {
    const int width = 200, height = 150, frames = 1000;
    const std::size_t budget = std::size_t(4) << 20;
    const std::size_t allFrames = std::size_t(width) * height * 3 * frames;  // 90 MB
    const std::size_t headroom = std::size_t(40) << 20;
    ASSERT_GT(allFrames, headroom);
    TempDir dir;

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Exit codes: 0 fine, 1 the cap could not be set, 2 stacking failed, 3 wrong pixels,
        // 4 the tiles broke the budget or the store was not used, 5 a file was left behind,
        // 6 the store's file had a name while it was written, 7 it was not in the folder.
        std::ifstream status("/proc/self/status");
        std::string line;
        std::size_t vmKb = 0;
        while (std::getline(status, line))
            if (line.rfind("VmSize:", 0) == 0)
                vmKb = std::stoul(line.substr(7));
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = vmKb * 1024 + headroom;
        if (vmKb == 0 || setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(1);
        CStackOptions options;
        options.m_method = StackMethod::Median;
        options.m_nMemoryBytes = budget;
        options.m_strTempDir = dir.Path().string();
        CImageStacker stacker(options);
        CStackFeed feed(stacker, options);
        CDibImage image;
        ASSERT_TRUE(image.Create(width, height, 24));
        for (int f = 0; f < frames; ++f) {
            // Each value 0..199 five times per pixel: the middle two are 99 and 100.
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    for (int k = 0; k < 3; ++k)
                        image.TopRow(y)[3 * x + k] = std::uint8_t((f * 7) % 200 + x % 3 + k);
            if (!feed.Add("f", image))
                _exit(2);
            if (f == frames / 2) {
                if (!std::filesystem::is_empty(dir.Path()))
                    _exit(6);
                // Open files of this process: the store's shows as one in the folder.
                const std::string folder = std::filesystem::canonical(dir.Path()).string() + "/";
                bool bInFolder = false;
                for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
                    std::error_code error;
                    const std::string target = std::filesystem::read_symlink(fd, error).string();
                    bInFolder |= target.rfind(folder, 0) == 0;
                }
                if (!bInFolder)
                    _exit(7);
            }
        }
        CDibImage result;
        if (!stacker.Finish(result))
            _exit(2);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int k = 0; k < 3; ++k)
                    if (result.TopRow(y)[3 * x + k] != 100 + x % 3 + k)
                        _exit(3);
        const CStackStats& stats = stacker.Stats();
        if (stats.m_nTilePasses < 2 || stats.m_nStoreFileBytes != allFrames ||
            std::size_t(stats.m_nTileRows) * width * 3 * frames > budget)
            _exit(4);
        if (!std::filesystem::is_empty(dir.Path()))
            _exit(5);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child was killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// What stops a stacker is named by kind, so that a page can word it: the temporary store with its
// folder and the system's reason, the rest by the English reason alone.
TEST(CImageStacker, FailuresNameTheirKind) {
    TempDir dir;
    const std::string missing = (dir.Path() / "gone").string();
    CDibImage image;
    ASSERT_TRUE(image.Create(8, 6, 24));
    struct Case {
        const char* m_szName;
        int m_nPictures;  // added before Finish
        StackFailureKind m_kind;
        std::string m_strFolder;
        std::string m_strSystem;
        std::string m_strReason;
    };
    const Case cases[] = {
        {"store in a missing folder", 3, StackFailureKind::StoreFailed, missing,
         std::strerror(ENOENT),
         "cannot use the temporary picture store in " + missing + ": " + std::strerror(ENOENT)},
        {"nothing added", 0, StackFailureKind::Other, "", "", "no picture could be used"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_szName);
        CStackOptions options;
        options.m_method = StackMethod::Median;
        options.m_nMemoryBytes = 8 * 6 * 3;  // one picture: the second goes to the file
        options.m_strTempDir = missing;
        CImageStacker stacker(options);
        CStackFeed feed(stacker, options);
        CStatus status;
        for (int i = 0; i < c.m_nPictures && status; ++i) status = feed.Add("p", image);
        if (status) {
            CDibImage result;
            status = stacker.Finish(result);
        }
        EXPECT_FALSE(status);
        EXPECT_EQ(stacker.Failure().m_kind, c.m_kind);
        EXPECT_EQ(stacker.Failure().m_strFolder, c.m_strFolder);
        EXPECT_EQ(stacker.Failure().m_strSystem, c.m_strSystem);
        EXPECT_EQ(status.Reason(), c.m_strReason);
        EXPECT_EQ(stacker.Failure().m_strReason, c.m_strReason);
    }
}

// The report is UTF-8 whatever bytes the file names hold: well-formed sequences stay, any other
// byte is "\xHH" and a backslash "\\", so the names can be had back.
TEST(StackReportCsv, NamesAreUtf8WithOtherBytesEscaped) {
    const std::pair<std::string, std::string> kCases[] = {
        {"帧/00001234.bmp", "帧/00001234.bmp"},
        {"a\xff.bmp", "a\\xFF.bmp"},
        {"a\\b.bmp", "a\\\\b.bmp"},
        {"\xC0\xAF", "\\xC0\\xAF"},                    // overlong '/'
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},           // a surrogate
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // past U+10FFFF
        {"x\xE4\xB8", "x\\xE4\\xB8"},                  // cut short
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},      // four bytes
    };
    for (const auto& [name, want] : kCases) {
        SCOPED_TRACE(want);
        EXPECT_EQ(EscapeToUtf8(name), want);
        CStackFile file;
        file.m_strPath = name;
        file.m_strReason = "cannot align to " + name;
        EXPECT_NE(
            StackReportCsv({file}).find(want + ",0.000,0.000,rejected,cannot align to " + want),
            std::string::npos);
    }
    // Random bytes: what comes out decodes as UTF-8 by the C library, and unescapes to the input.
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        std::string raw(rng() % 12, '\0');
        for (char& c : raw) c = char(rng() % 4 == 0 ? '\\' : rng() % 256);
        const std::string text = EscapeToUtf8(raw);
        std::mbstate_t state{};
        const char* p = text.c_str();
        EXPECT_NE(std::mbsrtowcs(nullptr, &p, 0, &state), std::size_t(-1)) << text;
        std::string back;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '\\') {
                back += text[i];
            } else if (text[i + 1] == '\\') {
                back += '\\';
                ++i;
            } else {
                back += char(std::stoi(text.substr(i + 2, 2), nullptr, 16));
                i += 3;
            }
        }
        EXPECT_EQ(back, raw);
    }
    std::setlocale(LC_CTYPE, "C");
}
