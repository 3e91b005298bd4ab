// Speed of ResizeDib on the sizes the jobs use, and (when OpenCV is found) of OpenCV's bicubic
// resize on one thread beside it, so that one run gives the ratio.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "image/dib_image.h"
#include "resample/resize_dib.h"

#ifdef TARNWICK_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

void FillNoise(std::uint8_t* data, std::size_t bytes) {
    std::mt19937 rng(42);
    for (std::size_t i = 0; i < bytes; ++i) data[i] = std::uint8_t(rng());
}

void BM_ResizeDib(benchmark::State& state, int srcW, int srcH, int dstW, int dstH) {
    CDibImage src, dst;
    if (!src.Create(srcW, srcH, 24) || !dst.Create(dstW, dstH, 24)) {
        state.SkipWithError("cannot create the images");
        return;
    }
    FillNoise(src.Bits(), std::size_t(src.m_nRowBytes) * srcH);
    for (auto _ : state) {
        if (!ResizeDib(src, dst)) {
            state.SkipWithError("ResizeDib failed");
            return;
        }
        benchmark::DoNotOptimize(dst.Bits());
        benchmark::ClobberMemory();
    }
    state.counters["Mpix/s"] =
        benchmark::Counter(double(dstW) * dstH, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK_CAPTURE(BM_ResizeDib, 1024x768_to_2048x1536, 1024, 768, 2048, 1536)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ResizeDib, 1024x768_to_3072x2304, 1024, 768, 3072, 2304)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ResizeDib, 1024x768_to_800x600, 1024, 768, 800, 600)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ResizeDib, 640x480_to_800x600, 640, 480, 800, 600)
    ->Unit(benchmark::kMillisecond);

#ifdef TARNWICK_HAVE_OPENCV
void BM_OpenCvCubic(benchmark::State& state, int srcW, int srcH, int dstW, int dstH) {
    cv::setNumThreads(1);
    cv::Mat src(srcH, srcW, CV_8UC3);
    FillNoise(src.data, src.total() * src.elemSize());
    cv::Mat dst(dstH, dstW, CV_8UC3);
    for (auto _ : state) {
        cv::resize(src, dst, cv::Size(dstW, dstH), 0, 0, cv::INTER_CUBIC);
        benchmark::DoNotOptimize(dst.data);
        benchmark::ClobberMemory();
    }
    state.counters["Mpix/s"] =
        benchmark::Counter(double(dstW) * dstH, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK_CAPTURE(BM_OpenCvCubic, 1024x768_to_2048x1536, 1024, 768, 2048, 1536)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCvCubic, 1024x768_to_3072x2304, 1024, 768, 3072, 2304)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCvCubic, 1024x768_to_800x600, 1024, 768, 800, 600)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCvCubic, 640x480_to_800x600, 640, 480, 800, 600)
    ->Unit(benchmark::kMillisecond);
#endif

}  // namespace
