// Time and memory of the still engine on 1080p frames: ms a frame for scale 1 and 2 on 1 and 2
// threads, beyond reading the frames (an in-memory source: a copy a frame). The frames are a
// made-up texture (sines and a hashed grain, so every pixel differs) moved by sub-pixel shifts
// with noise. "peak_MiB" is the process's peak resident memory after the run, the frames held
// by the source (8 x 5.9 MiB) included.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "common/still_scene.h"
#include "stack/still_engine.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 8;

double Texture(double x, double y, int k) {
    const auto grain = [](int ix, int iy, int kk) {
        std::uint32_t h = std::uint32_t(ix) * 73856093u ^ std::uint32_t(iy) * 19349663u ^
                          std::uint32_t(kk) * 83492791u;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        h ^= h >> 15;
        return double(h & 255) - 128;
    };
    const int ix = int(std::floor(x / 3)), iy = int(std::floor(y / 3));
    return 128 + 50 * std::sin(x * 0.031 + k) * std::cos(y * 0.023) + 0.4 * grain(ix, iy, k);
}

const std::vector<SFrame>& Frames() {
    static const std::vector<SFrame> frames = [] {
        std::vector<SFrame> out;
        std::mt19937 rng(17);
        std::uniform_real_distribution<double> shift(-2, 2);
        for (int i = 0; i < kFrames; ++i) {
            SFrame f;
            f.timeMs = i * 40;
            f.width = kWidth;
            f.height = kHeight;
            f.bgr.resize(std::size_t(kWidth) * kHeight * 3);
            const double dx = i ? shift(rng) : 0, dy = i ? shift(rng) : 0;
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x)
                    for (int k = 0; k < 3; ++k)
                        f.bgr[(std::size_t(y) * kWidth + x) * 3 + std::size_t(k)] =
                            std::uint8_t(std::clamp(Texture(x + dx, y + dy, k), 0.0, 255.0));
            still_scene::AddNoise(f, 2.0, 40 + unsigned(i));
            out.push_back(std::move(f));
        }
        return out;
    }();
    return frames;
}

void BM_Still(benchmark::State& state) {
    const std::vector<SFrame>& frames = Frames();
    CStillParams params;
    params.m_nScale = int(state.range(0));
    params.m_nThreads = int(state.range(1));
    params.m_dKeepPercent = 100;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        still_scene::CMemorySource source(frames);
        const CStillResult result = MakeStill(source, params);
        if (!result.m_status) {
            state.SkipWithError(result.m_status.Reason().c_str());
            return;
        }
        benchmark::DoNotOptimize(result.m_picture.bgr.data());
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["ms_per_frame"] = 1e3 * seconds / (double(state.iterations()) * kFrames);
    state.counters["peak_MiB"] = double(usage.ru_maxrss) / 1024;
}
BENCHMARK(BM_Still)
    ->ArgNames({"scale", "threads"})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Args({2, 1})
    ->Args({2, 2})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

}  // namespace
