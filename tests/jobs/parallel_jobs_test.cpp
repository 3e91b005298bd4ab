// The jobs on several worker threads: the same files, events and bytes as on one thread, and a
// stop that leaves nothing half-written and trashes nothing whose output is not written.
#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <random>
#include <set>

#include "image/jpeg_file.h"
#include "jobs/merge_image_job.h"
#include "jobs/parallel_loader.h"
#include "jobs/scale_image_job.h"
#include "jobs_test_util.h"

using namespace jobs_test;

namespace {

// A run context of n job workers (and n row threads a resize).
CRunContext Threads(int n) {
    CRunContext context;
    context.m_nThreads = n;
    return context;
}

// Every file under `folder` (hidden ones included) with its bytes.
std::map<std::string, std::string> Contents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), folder).string()] = ReadText(entry.path());
    return files;
}

// Noise or a gradient, by seed.
PixelFn Picture(unsigned seed) {
    auto rng = std::make_shared<std::mt19937>(seed);
    if (seed % 2)
        return [rng](int, int, int) { return std::uint8_t((*rng)()); };
    return [seed](int x, int y, int k) { return std::uint8_t(x * 3 + y * 5 + k * 40 + seed); };
}

void WriteJpeg(const fs::path& path, int width, int height, unsigned seed) {
    const fs::path staging = path.string() + ".bmp";
    WriteBmp(staging, width, height, Picture(seed));
    CDibImage image;
    LoadOrFail(staging, image);
    fs::remove(staging);
    const CStatus saved = SaveImageFile(path.string(), image, 90);
    ASSERT_TRUE(saved) << saved.Reason();
}

// The source folders: what varies is what makes a worker wait for the ones before it.
struct CFolder {
    const char* name;
    SourceKind kind;
    bool enlarge;  // also enlarged (300 files written three times would only cost time)
    std::function<void(const fs::path&)> make;
};
const CFolder kFolders[] = {
    {"jpeg noise and gradients", SourceKind::Jpg, true,
     [](const fs::path& in) {
         for (unsigned i = 0; i < 14; ++i)
             WriteJpeg(in / ("p" + std::to_string(i) + ".jpg"), 37 + int(i % 3), 29, i);
     }},
    {"bmp, broken first, sizes changing", SourceKind::Bmp, true,
     [](const fs::path& in) {
         WriteText(in / "a0.bmp", "BM broken");
         WriteText(in / "a1.bmp", "");
         for (unsigned i = 2; i < 12; ++i)
             WriteBmp(in / ("a" + std::to_string(i) + ".bmp"), 20 + int(i % 4) * 3,
                      15 + int(i % 3) * 4, Picture(i));
     }},
    {"300 bmp with broken ones before the 255th", SourceKind::Bmp, false,
     [](const fs::path& in) {
         for (unsigned i = 0; i < 300; ++i) {
             const fs::path path = in / ("f" + std::to_string(1000 + i) + ".bmp");
             if (i % 97 == 5)
                 WriteText(path, "BM broken");
             else
                 WriteBmp(path, 2, 2, [i](int, int, int k) { return std::uint8_t(i * 7 + k); });
         }
     }},
};

// What a front end sees of a job, with the temporary folder's own name taken out.
std::vector<std::string> Seen(const CTestObserver& observer, const CJobResult& result,
                              const fs::path& root) {
    std::vector<std::string> seen;
    const std::string prefix = root.string();
    const auto strip = [&](std::string s) {
        for (std::size_t at; (at = s.find(prefix)) != std::string::npos;)
            s.erase(at, prefix.size());
        return s;
    };
    for (const CJobEvent& event : observer.m_events) {
        std::visit(
            Overloaded{
                [&](const CFileStarted& e) { seen.push_back("start " + strip(e.m_strPath)); },
                [&](const CFileWritten& e) { seen.push_back("wrote " + strip(e.m_strPath)); },
                [&](const CFileTrashed& e) { seen.push_back("trash " + strip(e.m_strPath)); },
                [&](const CFileSkipped& e) {
                    seen.push_back("skip " + strip(e.m_strPath) + " " + e.m_strReason);
                },
                [&](const CFileFailed& e) {
                    seen.push_back("fail " + strip(e.m_strPath) + " " + e.m_strReason);
                },
                [&](const auto&) { seen.push_back("other"); },
            },
            event);
    }
    seen.push_back("used " + std::to_string(result.m_nUsed) + " visited " +
                   std::to_string(result.m_nVisited) + " end " + std::to_string(int(result.m_end)));
    return seen;
}

}  // namespace

TEST(ParallelJobs, SameBytesAndEventsAsOneThread) {
    for (const CFolder& folder : kFolders) {
        SCOPED_TRACE(folder.name);
        TempDir dir;
        const fs::path in = dir.Path() / "in";
        folder.make(in);
        const std::map<std::string, std::string> sources = Contents(in);

        std::vector<std::string> oneSeen;
        std::map<std::string, std::string> oneOut;
        for (const int threads : {1, 2, 3}) {
            SCOPED_TRACE(threads);
            const CRunContext context = Threads(threads);
            ASSERT_EQ(context.Workers(), threads);
            const fs::path out = dir.Path() / ("out" + std::to_string(threads));
            fs::create_directories(out);

            CMergeParams merge;
            merge.m_strSrcDir = in.string();
            merge.m_source = folder.kind;
            merge.m_strTargetFile = (out / "avg.bmp").string();
            merge.m_bExtra1024 = merge.m_bAutoNumber = merge.m_bDelSrc = false;
            CTestObserver mergeSeen;
            const CJobResult merged = RunJob<CMergeImageJob>(merge, mergeSeen, context);
            ASSERT_TRUE(merged.Ok());

            std::vector<std::string> seen = Seen(mergeSeen, merged, out);
            // The stacker's path, which places (and registers) the images on the workers: the
            // same files, report, skips and failures (2x2 images cannot be registered).
            for (const auto& [method, bAlign] :
                 {std::pair{StackMethod::SigmaClip, true}, std::pair{StackMethod::Median, false}}) {
                CMergeParams stack = merge;
                stack.m_method = method;
                stack.m_bAlign = bAlign;
                const std::string name = StackMethodName(method) + std::string(bAlign ? "-a" : "");
                stack.m_strTargetFile = (out / (name + ".bmp")).string();
                stack.m_strReportFile = (out / (name + ".csv")).string();
                CTestObserver stackSeen;
                const CJobResult stacked = RunJob<CMergeImageJob>(stack, stackSeen, context);
                ASSERT_NE(stacked.m_end, JobEnd::Refused);
                const std::vector<std::string> more = Seen(stackSeen, stacked, out);
                seen.insert(seen.end(), more.begin(), more.end());
            }
            if (folder.enlarge) {
                CScaleParams scale;
                scale.m_strSrcDir = in.string();
                scale.m_source = folder.kind;
                scale.m_strTargetFolder = (out / "big").string();
                scale.m_scale = ScaleChoice::X3;
                scale.m_bDelSrc = false;
                CTestObserver scaleSeen;
                const CJobResult scaled = RunJob<CScaleImageJob>(scale, scaleSeen, context);
                ASSERT_TRUE(scaled.Ok());

                const std::vector<std::string> more = Seen(scaleSeen, scaled, out);
                seen.insert(seen.end(), more.begin(), more.end());
            }
            const std::map<std::string, std::string> written = Contents(out);
            ASSERT_FALSE(written.empty());
            if (threads == 1) {
                oneSeen = seen;
                oneOut = written;
                continue;
            }
            EXPECT_EQ(seen, oneSeen);
            ASSERT_EQ(written.size(), oneOut.size());
            for (const auto& [name, bytes] : oneOut)
                EXPECT_TRUE(written.count(name) && written.at(name) == bytes) << name;
        }
        EXPECT_EQ(Contents(in), sources);
    }
}

// JPEG folders of mixed sizes (larger, smaller and as large as the first loaded picture in each
// direction), with files that fail before their size is known and files cut short that fail
// after rows were decoded: at 1, 2 and 3 threads the average is the one computed here from the
// pictures as they decode whole (top-left overlap, divided by the file count, round half up),
// and the files that do not load are reported with the whole reader's reasons.
TEST(ParallelJobs, JpegAverageIsTheAverageOfTheDecodedPictures) {
    std::mt19937 rng(1207);
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        TempDir dir;
        const fs::path in = dir.Path() / "in";
        const int files = 5 + int(rng() % 10);
        const int w0 = 20 + int(rng() % 40), h0 = 64 + int(rng() % 40);
        int cut = 0;
        for (int i = 0; i < files; ++i) {
            const fs::path path = in / ("j" + std::to_string(100 + i) + ".jpg");
            const unsigned kind = rng() % 8;
            if (kind == 0) {
                WriteText(path, rng() % 2 ? "\xff\xd8 not a picture" : "");
                continue;
            }
            const int w = w0 + std::array{-7, 0, 9}[rng() % 3];
            const int h = h0 + std::array{-17, 0, 13}[rng() % 3];
            const bool bCut = kind == 1 || (i == files / 2 && cut == 0);
            // Noise (odd seeds) for a file to be cut: its data is spread over all rows.
            WriteJpeg(path, w, h, unsigned(rng()) | (bCut ? 1u : 0u));
            if (bCut) {
                // Cut at three quarters: the first strips decode, then the data ends.
                const std::string bytes = ReadText(path);
                std::ofstream(path, std::ios::binary | std::ios::trunc)
                    << bytes.substr(0, bytes.size() * 3 / 4);
                ++cut;
                // What the rows read strip by strip were, the same rows are handed back.
                CDibImage strip;
                int shown = 0;
                std::vector<std::string> rows, undone;
                const auto take = [&](std::vector<std::string>& into, int top, int count) {
                    EXPECT_EQ(top, int(into.size()));
                    for (int r = 0; r < count; ++r)
                        into.emplace_back(reinterpret_cast<const char*>(strip.TopRow(r)),
                                          std::size_t(strip.m_nWidth) * 3);
                };
                CJpegStripHook hook;
                hook.m_rows = [&](int top, int count) { take(rows, top, count); };
                hook.m_undo = [&](int top, int count) { take(undone, top, count); };
                EXPECT_FALSE(ReadJpegStrips(path.string(), strip, hook));
                shown = int(rows.size());
                EXPECT_GT(shown, 0);
                EXPECT_EQ(undone, rows);
            }
        }
        int width = 0, height = 0;
        std::vector<int> sums;
        std::vector<std::string> skipped;  // path and reason of the files that do not load
        for (const std::string& path : ScanOrder(in.string(), "*.jpg")) {
            CDibImage image;
            if (const CStatus loaded = LoadImageFile(path, image); !loaded) {
                skipped.push_back(path + ": " + loaded.Reason());
                continue;
            }
            if (width == 0) {
                width = image.m_nWidth;
                height = image.m_nHeight;
                sums.assign(std::size_t(width * height * 3), 0);
            }
            for (int y = 0; y < std::min(height, image.m_nHeight); ++y)
                for (int x = 0; x < std::min(width, image.m_nWidth) * 3; ++x)
                    sums[std::size_t(y * width * 3 + x)] += image.TopRow(y)[x];
        }
        ASSERT_GT(width, 0);
        CDibImage expected;
        ASSERT_TRUE(expected.Create(width, height, 24));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width * 3; ++x)
                expected.TopRow(y)[x] = std::uint8_t(std::min(
                    (2 * sums[std::size_t(y * width * 3 + x)] + files) / (2 * files), 255));
        const fs::path want = dir.Path() / "want.bmp";
        ASSERT_TRUE(expected.SaveBmp(want.string()));

        for (const int threads : {1, 2, 3}) {
            SCOPED_TRACE(threads);
            const CRunContext context = Threads(threads);
            CMergeParams merge;
            merge.m_strSrcDir = in.string();
            merge.m_source = SourceKind::Jpg;
            merge.m_strTargetFile =
                (dir.Path() / ("avg" + std::to_string(threads) + ".bmp")).string();
            merge.m_bExtra800 = merge.m_bExtra1024 = merge.m_bAutoNumber = merge.m_bDelSrc = false;
            const CJobResult result = RunJob<CMergeImageJob>(merge, context);
            ASSERT_EQ(result.m_end, JobEnd::Finished);
            EXPECT_EQ(ReadText(merge.m_strTargetFile), ReadText(want));
            std::vector<std::string> reported;
            for (const CJobProblem& problem : result.m_skipped)
                reported.push_back(problem.m_strPath + ": " + problem.m_strDetail);
            EXPECT_EQ(reported, skipped);
        }
    }
}

// Stop on a file while the workers have several later ones under way: the outputs before it are
// whole and their sources trashed; nothing after it is written or trashed, and no temporary
// file is left behind.
TEST(ParallelJobs, StopLeavesNothingHalfDone) {
    for (const int threads : {2, 3}) {
        SCOPED_TRACE(threads);
        const CRunContext context = Threads(threads);
        TempDir dir;
        const fs::path in = dir.Path() / "in";
        for (unsigned i = 0; i < 12; ++i)
            WriteJpeg(in / ("s" + std::to_string(10 + i) + ".jpg"), 90, 70, i);
        const std::vector<std::string> order = ScanOrder(in.string(), "*.jpg");
        const fs::path out = dir.Path() / "out";

        CScaleParams scale;
        scale.m_strSrcDir = in.string();
        scale.m_source = SourceKind::Jpg;
        scale.m_strTargetFolder = out.string();
        scale.m_scale = ScaleChoice::X3;
        scale.m_bDelSrc = true;
        CTestObserver observer;
        observer.m_nStopAt = 5;
        const CJobResult result = RunJob<CScaleImageJob>(scale, observer, context);
        EXPECT_TRUE(result.m_bStopped);
        EXPECT_TRUE(result.Ok());
        ASSERT_EQ(result.m_written.size(), 4u);
        ASSERT_EQ(result.m_trashed, std::vector<std::string>(order.begin(), order.begin() + 4));
        std::set<std::string> expected;
        for (int i = 0; i < 4; ++i) {
            expected.insert(fs::path(order[std::size_t(i)]).stem().string() + ".jpg");
            EXPECT_TRUE(InTrash(order[std::size_t(i)]));
            CDibImage image;
            LoadOrFail(out / (fs::path(order[std::size_t(i)]).stem().string() + ".jpg"), image);
            EXPECT_EQ(image.m_nWidth, 270);
        }
        std::set<std::string> present;
        for (const auto& [name, bytes] : Contents(out)) present.insert(name);
        EXPECT_EQ(present, expected);  // no later output, no temporary file
        for (std::size_t i = 4; i < order.size(); ++i) EXPECT_TRUE(fs::exists(order[i]));
        // Nothing is reported after the stop.
        const auto stopAt = std::find_if(observer.m_events.begin(), observer.m_events.end(),
                                         [&](const CJobEvent& e) {
                                             const auto* f = std::get_if<CFileStarted>(&e);
                                             return f && f->m_nFile == 5;
                                         });
        ASSERT_NE(stopAt, observer.m_events.end());
        EXPECT_EQ(stopAt + 1, observer.m_events.end());

        // Averaging the rest, stopped on the third: nothing written, nothing trashed.
        CMergeParams merge;
        merge.m_strSrcDir = in.string();
        merge.m_source = SourceKind::Jpg;
        merge.m_strTargetFile = (dir.Path() / "avg.bmp").string();
        merge.m_bDelSrc = true;
        CTestObserver mergeObserver;
        mergeObserver.m_nStopAt = 3;
        const CJobResult merged = RunJob<CMergeImageJob>(merge, mergeObserver);
        EXPECT_TRUE(merged.m_bStopped);
        EXPECT_EQ(merged.m_nUsed, 2);
        EXPECT_TRUE(merged.m_written.empty());
        EXPECT_TRUE(merged.m_trashed.empty());
        EXPECT_EQ(Contents(dir.Path()).size(), 8u + 4u);  // the 8 sources and the 4 outputs
    }
}

// The loader hands results back in order, runs every item once, keeps to its bound, and after
// Stop starts nothing new.
TEST(ParallelJobs, LoaderKeepsOrderAndBound) {
    for (const int threads : {1, 2, 3, 8}) {
        SCOPED_TRACE(threads);
        constexpr std::size_t kCount = 200, kAhead = 5;
        std::atomic<int> running{0}, most{0};
        std::vector<std::atomic<int>> runs(kCount);
        std::atomic<std::size_t> taken{0};
        std::atomic<bool> overran{false};
        std::mt19937 rng(threads);
        std::vector<int> delays(kCount);
        for (int& d : delays) d = int(rng() % 300);
        CParallelLoader<std::size_t> loader(kCount, threads, kAhead, [&](std::size_t i, int w) {
            EXPECT_LT(w, std::max(1, threads));
            // The consumer waits for item `taken`: nothing starts beyond the bound.
            if (i > taken + kAhead)
                overran = true;
            most = std::max(most.load(), ++running);
            std::this_thread::sleep_for(std::chrono::microseconds(delays[i]));
            --running;
            ++runs[i];
            return i * 3;
        });
        for (std::size_t i = 0; i < 120; ++i) {
            const std::optional<std::size_t> r = loader.Next();
            ASSERT_TRUE(r);
            EXPECT_EQ(*r, i * 3);
            taken = i + 1;
        }
        loader.Stop();
        EXPECT_FALSE(loader.Next());
        loader.Finish();
        EXPECT_FALSE(overran);
        EXPECT_LE(most, std::max(1, threads));
        std::size_t ran = 0;
        for (std::size_t i = 0; i < kCount; ++i) {
            EXPECT_LE(runs[i], 1) << i;
            ran += std::size_t(runs[i].load());
            if (i < 120) {
                EXPECT_EQ(runs[i], 1) << i;
            }
        }
        EXPECT_LE(ran, 120 + kAhead);  // after Stop only the items under way finished
    }
}
