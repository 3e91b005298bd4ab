// Time of stacking 255 JPEG grabs of 640x480 (made once per run, see stacking_scene.h): the
// averaging engine with the plain average and with the stacker's methods, and the stacker alone
// (decoding on one thread), aligned and not. Files are
// read and decoded inside the timed loop in every case. Peak memory is measured outside, with
// stacking_quality's "stack" mode under /usr/bin/time -v.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/stack_feed.h"
#include "image/image_file.h"
#include "jobs/merge_image_job.h"
#include "stack/stack.h"
#include "stacking_scene.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFrames = 255;

class CGrabFolder {
public:
    CGrabFolder() {
        m_folder = fs::temp_directory_path() / ("stacking_bench." + std::to_string(::getpid()));
        const stacking_scene::CScene scene(640, 480);
        stacking_scene::MakeGrabs(scene, m_folder / "in", kFrames);
        for (const auto& entry : fs::directory_iterator(m_folder / "in"))
            m_files.push_back(entry.path().string());
        std::sort(m_files.begin(), m_files.end());
    }
    ~CGrabFolder() { fs::remove_all(m_folder); }

    fs::path m_folder;
    std::vector<std::string> m_files;
};

const CGrabFolder& Grabs() {
    static const CGrabFolder grabs;
    return grabs;
}

class CQuietObserver : public IJobObserver {
public:
    void OnEvent(const CJobEvent&) override {}
    bool StopRequested() override { return false; }
};

// The averaging engine with `method` (and alignment): decoding on the job workers, stacking on
// the driving thread, as the page and the command line run it.
void BM_Engine(benchmark::State& state, StackMethod method, bool bAlign) {
    const CGrabFolder& grabs = Grabs();
    CMergeParams settings;
    settings.m_method = method;
    settings.m_bAlign = bAlign;
    settings.m_strSrcDir = (grabs.m_folder / "in").string();
    settings.m_strTargetFile = (grabs.m_folder / "mean.bmp").string();
    settings.m_source = SourceKind::Jpg;
    settings.m_bExtra800 = settings.m_bExtra1024 = settings.m_bDelSrc = false;
    settings.m_bAutoNumber = false;
    CQuietObserver observer;
    for (auto _ : state) {
        CMergeImageJob job(settings, observer);
        if (!job.Run().Ok()) {
            state.SkipWithError("the averaging engine failed");
            return;
        }
    }
}

void BM_Stack(benchmark::State& state, StackMethod method, bool bAlign) {
    const CGrabFolder& grabs = Grabs();
    CStackOptions options;
    options.m_method = method;
    options.m_bAlign = bAlign;
    options.m_strTempDir = grabs.m_folder.string();
    for (auto _ : state) {
        CImageStacker stacker(options);
        CStackFeed feed(stacker, options);
        for (const std::string& path : grabs.m_files) {
            CDibImage image;
            CStatus added = LoadImageFile(path, image);
            if (added)
                added = feed.Add(path, image);
            if (!added) {
                state.SkipWithError(added.Reason().c_str());
                return;
            }
        }
        CDibImage result;
        if (CStatus finished = stacker.Finish(result); !finished) {
            state.SkipWithError(finished.Reason().c_str());
            return;
        }
        benchmark::DoNotOptimize(result.Bits());
    }
}

// The per-pixel combine alone: 255 pictures of 640x120 already on the grid (noise around a
// gradient, a bright bar on a tenth, each covering the grid but a random border of up to 2
// pixels, as aligned pictures do), handed to the stacker (not timed) and combined on one thread.
void BM_Combine(benchmark::State& state, StackMethod method) {
    constexpr int kWidth = 640, kHeight = 120;
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0, 12);
    std::uniform_int_distribution<int> border(0, 2);
    std::vector<std::vector<std::uint8_t>> frames(kFrames);
    std::vector<CStackFile> files(kFrames);
    for (int f = 0; f < kFrames; ++f) {
        frames[f].resize(std::size_t(kWidth) * kHeight * 3);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth * 3; ++x) {
                const bool bBar = f % 10 == 0 && y > 80 && y < 100;
                const double v = bBar ? 250 : x / 8.0 + y + noise(rng);
                frames[f][std::size_t(y) * kWidth * 3 + x] =
                    std::uint8_t(std::clamp(std::lround(v), 0L, 255L));
            }
        files[f].m_bUsed = true;
        files[f].m_covered = {border(rng), border(rng), kWidth - border(rng),
                              kHeight - border(rng)};
    }
    CStackOptions options;
    options.m_method = method;
    options.m_nThreads = 1;
    for (auto _ : state) {
        // Only the combine is timed, not filling the store.
        state.PauseTiming();
        CImageStacker stacker(options);
        for (int f = 0; f < kFrames; ++f)
            if (CStatus added = stacker.AddPlaced(files[f], frames[f].data(), kWidth, kHeight);
                !added) {
                state.SkipWithError(added.Reason().c_str());
                return;
            }
        state.ResumeTiming();
        CDibImage result;
        if (CStatus finished = stacker.Finish(result); !finished) {
            state.SkipWithError(finished.Reason().c_str());
            return;
        }
        benchmark::DoNotOptimize(result.Bits());
    }
    state.SetItemsProcessed(state.iterations() * kFrames * kWidth * kHeight * 3);
}

BENCHMARK_CAPTURE(BM_Combine, median, StackMethod::Median)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Combine, sigma_clip, StackMethod::SigmaClip)->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(BM_Engine, mean, StackMethod::Mean, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Engine, sigma_clip_aligned, StackMethod::SigmaClip, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Engine, median, StackMethod::Median, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Stack, mean_of_added, StackMethod::MeanOfAdded, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Stack, sigma_clip, StackMethod::SigmaClip, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Stack, median_aligned, StackMethod::Median, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Stack, sigma_clip_aligned, StackMethod::SigmaClip, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
