// The averaging job beside its floors, in one run: 255 JPEG files of 640x480 and of 1920x1080
// against a loop that only decodes them with libjpeg (float DCT, RGB, one thread), and 255 BMP
// files of 640x480 against reading the files; the job at one and two worker threads. Wall-clock
// times (the job's workers are other threads); the files are made once, in a folder under
// TMPDIR, and stay in the page cache between runs.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "image/dib_image.h"
#include "image/image_file.h"
#include "jobs/merge_image_job.h"
#include "jobs/parallel_loader.h"

extern "C" {
#include <jpeglib.h>
}

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 255;

// CPU time of the whole process (every thread), in seconds: on a shared machine the wall time
// alone says little.
double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// Reports the process CPU time per iteration as the counter "cpu_ms".
struct CCpuCounter {
    explicit CCpuCounter(benchmark::State& state) : m_state(state), m_start(ProcessCpuSeconds()) {}
    ~CCpuCounter() {
        m_state.counters["cpu_ms"] =
            benchmark::Counter(1e3 * (ProcessCpuSeconds() - m_start) /
                               double(std::max<std::int64_t>(1, m_state.iterations())));
    }
    benchmark::State& m_state;
    double m_start;
};

// Soft gradients, a few hard-edged discs and sensor noise: the kind of grab that gets averaged.
void Paint(CDibImage& image, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 4.0);
    const int w = image.m_nWidth, h = image.m_nHeight;
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = image.TopRow(y);
        for (int x = 0; x < w; ++x) {
            const double u = double(x) / w, v = double(y) / h;
            const bool disc = (u - 0.4) * (u - 0.4) + (v - 0.5) * (v - 0.5) < 0.04;
            const double base[3] = {120 + 80 * std::sin(3.1 * u + 1.3 * v),
                                    110 + 70 * std::cos(2.3 * v - 0.7 * u), disc ? 220.0 : 60.0};
            for (int k = 0; k < 3; ++k)
                row[3 * x + k] = std::uint8_t(std::clamp(base[k] + noise(rng), 0.0, 255.0));
        }
    }
}

// A folder of kFiles images of width x height with extension `ext`, made on first use.
std::string Folder(int width, int height, const char* ext) {
    const char* tmp = std::getenv("TMPDIR");
    const fs::path dir =
        fs::path(tmp ? tmp : "/tmp") /
        ("tarnwick-bench-avg-" + std::to_string(width) + "x" + std::to_string(height) + "-" + ext);
    if (fs::exists(dir / "done"))
        return dir.string();
    fs::create_directories(dir);
    CDibImage image;
    if (!image.Create(width, height, 24))
        std::abort();  // no memory for the picture: the bench cannot run
    for (int i = 0; i < kFiles; ++i) {
        Paint(image, unsigned(i));
        char name[32];
        std::snprintf(name, sizeof name, "%03d.%s", i, ext);
        if (!SaveImageFile((dir / name).string(), image, 95))
            std::abort();
    }
    std::FILE* done = std::fopen((dir / "done").c_str(), "w");
    if (done)
        std::fclose(done);
    return dir.string();
}

std::vector<std::string> Files(const std::string& folder, const char* ext) {
    return ListMatchingFiles(folder, std::string("*.") + ext);
}

void AverageFolder(benchmark::State& state, const std::string& folder, SourceKind kind) {
    CRunContext context;
    context.m_nThreads = int(state.range(0));
    CMergeParams params;
    params.m_strSrcDir = folder;
    params.m_source = kind;
    params.m_strTargetFile = folder + "/../avg-out.bmp";
    params.m_bExtra800 = params.m_bExtra1024 = params.m_bDelSrc = params.m_bAutoNumber = false;
    struct CQuiet : IJobObserver {
        void OnEvent(const CJobEvent&) override {}
        bool StopRequested() override { return false; }
    } observer;
    CCpuCounter cpu(state);
    for (auto _ : state) {
        const CJobResult result = CMergeImageJob(params, observer, context).Run();
        if (result.m_nUsed != kFiles)
            state.SkipWithError("not every file was averaged");
    }
}

// libjpeg alone: every file decoded to RGB rows with the float DCT, nothing else.
void DecodeOnly(benchmark::State& state, const std::string& folder) {
    const std::vector<std::string> files = Files(folder, "jpg");
    std::vector<JSAMPLE> row;
    CCpuCounter cpu(state);
    for (auto _ : state) {
        for (const std::string& path : files) {
            std::FILE* file = std::fopen(path.c_str(), "rb");
            jpeg_decompress_struct cinfo;
            jpeg_error_mgr err;
            cinfo.err = jpeg_std_error(&err);
            jpeg_create_decompress(&cinfo);
            jpeg_stdio_src(&cinfo, file);
            jpeg_read_header(&cinfo, TRUE);
            cinfo.dct_method = JDCT_FLOAT;
            jpeg_start_decompress(&cinfo);
            row.resize(std::size_t(cinfo.output_width) * cinfo.output_components);
            JSAMPROW rows[1] = {row.data()};
            while (cinfo.output_scanline < cinfo.output_height)
                jpeg_read_scanlines(&cinfo, rows, 1);
            benchmark::DoNotOptimize(row.data());
            jpeg_finish_decompress(&cinfo);
            jpeg_destroy_decompress(&cinfo);
            std::fclose(file);
        }
    }
}

// Reading the BMP files whole, as bytes.
void ReadOnly(benchmark::State& state, const std::string& folder) {
    const std::vector<std::string> files = Files(folder, "bmp");
    std::vector<char> bytes;
    CCpuCounter cpu(state);
    for (auto _ : state) {
        for (const std::string& path : files) {
            std::FILE* file = std::fopen(path.c_str(), "rb");
            bytes.resize(std::size_t(fs::file_size(path)));
            if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size())
                state.SkipWithError("short read");
            benchmark::DoNotOptimize(bytes.data());
            std::fclose(file);
        }
    }
}

void BM_AverageJpeg640x480(benchmark::State& state) {
    AverageFolder(state, Folder(640, 480, "jpg"), SourceKind::Jpg);
}
void BM_DecodeFloorJpeg640x480(benchmark::State& state) {
    DecodeOnly(state, Folder(640, 480, "jpg"));
}
void BM_AverageJpeg1920x1080(benchmark::State& state) {
    AverageFolder(state, Folder(1920, 1080, "jpg"), SourceKind::Jpg);
}
void BM_DecodeFloorJpeg1920x1080(benchmark::State& state) {
    DecodeOnly(state, Folder(1920, 1080, "jpg"));
}
void BM_AverageBmp640x480(benchmark::State& state) {
    AverageFolder(state, Folder(640, 480, "bmp"), SourceKind::Bmp);
}
void BM_ReadFilesBmp640x480(benchmark::State& state) {
    ReadOnly(state, Folder(640, 480, "bmp"));
}

}  // namespace

BENCHMARK(BM_DecodeFloorJpeg640x480)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AverageJpeg640x480)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeFloorJpeg1920x1080)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AverageJpeg1920x1080)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadFilesBmp640x480)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AverageBmp640x480)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
