// Speed of ResizeDib on the sizes the jobs use, at one and two row threads, on noise and on a
// natural-looking picture, and (when OpenCV is found) OpenCV's bicubic resize with the same
// thread count beside each, so that one run gives the ratios. Wall-clock times: with two
// threads the time of the calling thread alone would say nothing.
//
// The scalar reference and each instruction set the processor has are also timed on the first
// case, one thread, to show what each step is worth.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "image/dib_image.h"
#include "resample/resample_options.h"
#include "resample/resize_dib.h"

#ifdef TARNWICK_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

enum class Content { kNoise, kNatural };

// `rowBytes` apart, three bytes a pixel.
void Fill(Content content, std::uint8_t* data, int width, int height, std::size_t rowBytes) {
    std::mt19937 rng(42);
    if (content == Content::kNoise) {
        for (int y = 0; y < height; ++y) {
            for (int k = 0; k < width * 3; ++k) data[y * rowBytes + k] = std::uint8_t(rng());
        }
        return;
    }
    // Soft light over the frame, a few discs with hard edges, some fine texture and sensor noise.
    std::normal_distribution<double> noise(0.0, 3.0);
    struct Disc {
        double x, y, r;
        int colour[3];
    };
    Disc discs[12];
    for (Disc& d : discs) {
        d.x = rng() % width;
        d.y = rng() % height;
        d.r = 10 + rng() % std::max(11, width / 6);
        for (int& c : d.colour) c = int(rng() % 256);
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height;
            double px[3] = {
                120 + 80 * std::sin(3.1 * u + 1.3 * v),
                110 + 70 * std::cos(2.3 * v - 0.7 * u),
                100 + 60 * std::sin(1.7 * (u + v)),
            };
            for (const Disc& d : discs) {
                if ((x - d.x) * (x - d.x) + (y - d.y) * (y - d.y) < d.r * d.r) {
                    for (int c = 0; c < 3; ++c) px[c] = 0.6 * d.colour[c] + 0.4 * px[c];
                }
            }
            const double texture = 12 * std::sin(x * 0.9) * std::sin(y * 0.7);
            for (int c = 0; c < 3; ++c) {
                const double value = px[c] + texture + noise(rng);
                data[y * rowBytes + x * 3 + c] = std::uint8_t(std::clamp(value, 0.0, 255.0));
            }
        }
    }
}

struct Case {
    const char* name;
    int srcW, srcH, dstW, dstH;
};
constexpr Case kCases[] = {
    {"1024x768_to_2048x1536", 1024, 768, 2048, 1536},
    {"1024x768_to_3072x2304", 1024, 768, 3072, 2304},
    {"1024x768_to_800x600", 1024, 768, 800, 600},
    {"640x480_to_800x600", 640, 480, 800, 600},
};

void SetPixelCounter(benchmark::State& state, const Case& c) {
    state.counters["Mpix/s"] =
        benchmark::Counter(double(c.dstW) * c.dstH, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ResizeDib(benchmark::State& state, Case c, Content content, int threads,
                  ResampleKernel kernel) {
    if (!ResampleKernelSupported(kernel)) {
        state.SkipWithError("the processor lacks this instruction set");
        return;
    }
    CDibImage src, dst;
    if (!src.Create(c.srcW, c.srcH, 24) || !dst.Create(c.dstW, c.dstH, 24)) {
        state.SkipWithError("cannot create the images");
        return;
    }
    Fill(content, src.Bits(), c.srcW, c.srcH, src.m_nRowBytes);
    const CResampleOptions options{kernel, threads};
    for (auto _ : state) {
        if (!ResizeDib(options, src, dst)) {
            state.SkipWithError("ResizeDib failed");
            break;
        }
        benchmark::DoNotOptimize(dst.Bits());
        benchmark::ClobberMemory();
    }
    SetPixelCounter(state, c);
}

#ifdef TARNWICK_HAVE_OPENCV
void BM_OpenCvCubic(benchmark::State& state, Case c, Content content, int threads) {
    cv::setNumThreads(threads);
    cv::Mat src(c.srcH, c.srcW, CV_8UC3);
    Fill(content, src.data, c.srcW, c.srcH, src.step);
    cv::Mat dst(c.dstH, c.dstW, CV_8UC3);
    for (auto _ : state) {
        cv::resize(src, dst, cv::Size(c.dstW, c.dstH), 0, 0, cv::INTER_CUBIC);
        benchmark::DoNotOptimize(dst.data);
        benchmark::ClobberMemory();
    }
    SetPixelCounter(state, c);
}
#endif

template <class... Args>
void Register(const std::string& name, Args&&... args) {
    benchmark::RegisterBenchmark(name.c_str(), std::forward<Args>(args)...)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

const bool g_registered = [] {
    const ResampleKernel best = BestResampleKernel();
    for (const Case& c : kCases) {
        for (const Content content : {Content::kNoise, Content::kNatural}) {
            const std::string what =
                std::string(c.name) + (content == Content::kNoise ? "/noise" : "/natural");
            for (const int threads : {1, 2}) {
                const std::string t = "/threads:" + std::to_string(threads);
                Register("BM_ResizeDib/" + what + t, BM_ResizeDib, c, content, threads, best);
#ifdef TARNWICK_HAVE_OPENCV
                Register("BM_OpenCvCubic/" + what + t, BM_OpenCvCubic, c, content, threads);
#endif
            }
        }
    }
    // Each kernel on its own, on the first case.
    for (const ResampleKernel kernel : {ResampleKernel::kScalar, ResampleKernel::kBaseline,
                                        ResampleKernel::kAvx2, ResampleKernel::kAvx512}) {
        Register(std::string("BM_ResizeKernel/") + kCases[0].name + "/natural/" +
                     ResampleKernelName(kernel),
                 BM_ResizeDib, kCases[0], Content::kNatural, 1, kernel);
    }
    return true;
}();

}  // namespace
