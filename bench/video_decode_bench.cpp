// Decoding alone with the frame reader: H.264 1080p into packed BGR, the floor that every use of
// a video's frames stands on. The clip (300 frames by default, TARNWICK_BENCH_VIDEO_FRAMES sets
// how many) is made once by the ffmpeg program in the build folder.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "video/video_reader.h"

namespace {

int ClipFrames() {
    const char* text = std::getenv("TARNWICK_BENCH_VIDEO_FRAMES");
    const int frames = text ? std::atoi(text) : 0;
    return frames > 0 ? frames : 300;
}

// The clip's path, made when missing; empty when ffmpeg failed.
const std::string& Clip() {
    static const std::string path = [] {
        const int frames = ClipFrames();
        const std::string made =
            std::string(TARNWICK_BENCH_DIR) + "/bench-1080p-" + std::to_string(frames) + ".mp4";
        if (std::filesystem::exists(made))
            return made;
        const std::string command =
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v " +
            std::to_string(frames) + " -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 50 '" +
            made + ".part.mp4' && mv '" + made + ".part.mp4' '" + made + "'";
        return std::system(command.c_str()) == 0 ? made : std::string();
    }();
    return path;
}

void BM_DecodeH264_1080p(benchmark::State& state) {
    if (Clip().empty()) {
        state.SkipWithError("ffmpeg could not make the clip");
        return;
    }
    CVideoReadOptions options;
    options.m_nThreads = int(state.range(0));
    std::int64_t frames = 0;
    SFrame frame;
    for (auto _ : state) {
        auto reader = CVideoReader::Open(Clip(), options);
        if (!reader) {
            state.SkipWithError(reader.Reason().c_str());
            return;
        }
        for (;;) {
            const CResult<bool> next = (*reader)->Next(frame);
            if (!next) {
                state.SkipWithError(next.Reason().c_str());
                return;
            }
            if (!*next)
                break;
            benchmark::DoNotOptimize(frame.bgr.data());
            ++frames;
        }
    }
    state.SetItemsProcessed(frames);
    state.counters["frames/s"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeH264_1080p)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
