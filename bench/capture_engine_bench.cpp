// The recording path: grabbing the view, pushing into the queue, flushing to files.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "capture/capture_engine.h"
#include "platform/media_player.h"
#include "platform/window_grab.h"

namespace {

void FillView(CPlayerView& view) {
    auto locked = view.LockFrame();
    CGrabBitmap& frame = locked.MutableFrame();
    for (int y = 0; y < frame.m_nHeight; ++y) {
        for (int x = 0; x < frame.m_nWidth * 4; ++x) frame.Row(y)[x] = std::uint8_t(x + y);
    }
}

void BM_GrabViewArea(benchmark::State& state) {
    CPlayerView view;
    view.Resize(kGrabWidth, kGrabHeight);
    FillView(view);
    CGrabBitmap bitmap;
    bitmap.Create(kGrabWidth, kGrabHeight);
    for (auto _ : state) {
        GrabViewArea(view, kGrabLeft, kGrabTop, bitmap);
        benchmark::DoNotOptimize(bitmap.Bits());
    }
}
BENCHMARK(BM_GrabViewArea);

void BM_FramePushAndDrop(benchmark::State& state) {
    CFrameQueue queue;
    CGrabBitmap bitmap;
    bitmap.Create(kGrabWidth, kGrabHeight);
    for (auto _ : state) {
        queue.Push(bitmap);
        queue.DropFront();
    }
}
BENCHMARK(BM_FramePushAndDrop);

// A full queue written out: 30 files of 252,534 bytes.
void BM_FlushFullQueue(benchmark::State& state) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "tarnwick-bench-flush";
    std::filesystem::create_directories(dir);
    CFrameQueue queue;
    CCaptureTarget target(queue);
    CGrabBitmap bitmap;
    bitmap.Create(kGrabWidth, kGrabHeight);
    for (auto _ : state) {
        state.PauseTiming();
        target.SetCaptureTarget(dir.string(), 0);
        while (queue.Push(bitmap)) {
        }
        state.ResumeTiming();
        target.FlushFrames(0);
    }
    state.SetItemsProcessed(state.iterations() * kFrameQueueCapacity);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_FlushFullQueue)->Unit(benchmark::kMillisecond);

}  // namespace
