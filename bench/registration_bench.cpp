// Time of registering one 640x480 grab to a reference (the alignment step of every aligned
// stack), on noisy, jittered JPEG grabs of the made-up scene (stacking_scene.h). The pictures are
// decoded before the timed loop; only the registration is timed. "err_px" is the largest
// distance of a found shift from the true one over the grabs, so that a faster transform can be
// seen not to cost accuracy.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "stack/stack.h"
#include "stacking_scene.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFrames = 16;

struct CFrames {
    CFrames() {
        const fs::path folder =
            fs::temp_directory_path() / ("registration_bench." + std::to_string(::getpid()));
        const stacking_scene::CScene scene(640, 480);
        const std::vector<stacking_scene::CGrab> grabs =
            stacking_scene::MakeGrabs(scene, folder, kFrames);
        for (std::size_t i = 0; i < grabs.size(); ++i) {
            m_images.push_back(std::make_unique<CDibImage>());
            if (CStatus loaded = LoadImageFile(grabs[i].m_strPath, *m_images[i]); !loaded)
                m_strError = grabs[i].m_strPath + ": " + loaded.Reason();
            m_shifts.push_back({grabs[i].m_dx, grabs[i].m_dy});
        }
        fs::remove_all(folder);
    }

    std::vector<std::unique_ptr<CDibImage>> m_images;  // the first is the reference (not moved)
    std::vector<std::pair<double, double>> m_shifts;
    std::string m_strError;
};

const CFrames& Frames() {
    static const CFrames frames;
    return frames;
}

// One registration per iteration against a reference set once (the way of a stack).
void BM_RegisterFrame(benchmark::State& state) {
    const CFrames& frames = Frames();
    if (!frames.m_strError.empty()) {
        state.SkipWithError(frames.m_strError.c_str());
        return;
    }
    CImageRegistration registration;
    if (CStatus set = registration.SetReference(ViewOf(*frames.m_images[0])); !set) {
        state.SkipWithError(set.Reason().c_str());
        return;
    }
    double worst = 0;
    std::size_t next = 1;
    for (auto _ : state) {
        const CRegistration found = registration.Register(ViewOf(*frames.m_images[next]));
        benchmark::DoNotOptimize(found.m_dx);
        if (!found.m_bOk) {
            state.SkipWithError(found.m_strReason.c_str());
            return;
        }
        worst = std::max(worst, std::hypot(found.m_dx - frames.m_shifts[next].first,
                                           found.m_dy - frames.m_shifts[next].second));
        next = next + 1 < frames.m_images.size() ? next + 1 : 1;
    }
    state.counters["err_px"] = worst;
}

// A fresh registration object each iteration: planning and the reference's transform included.
void BM_SetReferenceAndRegister(benchmark::State& state) {
    const CFrames& frames = Frames();
    if (!frames.m_strError.empty()) {
        state.SkipWithError(frames.m_strError.c_str());
        return;
    }
    for (auto _ : state) {
        CImageRegistration registration;
        if (CStatus set = registration.SetReference(ViewOf(*frames.m_images[0])); !set) {
            state.SkipWithError(set.Reason().c_str());
            return;
        }
        const CRegistration found = registration.Register(ViewOf(*frames.m_images[1]));
        benchmark::DoNotOptimize(found.m_dx);
    }
}

// Moving one grab onto the reference grid by a sub-pixel shift (what follows each registration).
void BM_ShiftOntoGrid(benchmark::State& state) {
    const CFrames& frames = Frames();
    if (!frames.m_strError.empty()) {
        state.SkipWithError(frames.m_strError.c_str());
        return;
    }
    const CDibImage& image = *frames.m_images[1];
    std::vector<std::uint8_t> grid(std::size_t(image.m_nWidth) * image.m_nHeight * 3);
    for (auto _ : state) {
        const CGridRect rect =
            ShiftOntoGrid(ViewOf(image), 1.3, -0.6, image.m_nWidth, image.m_nHeight, grid.data());
        benchmark::DoNotOptimize(rect.m_nLeft);
        benchmark::DoNotOptimize(grid.data());
    }
}

BENCHMARK(BM_RegisterFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetReferenceAndRegister)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShiftOntoGrid)->Unit(benchmark::kMicrosecond);

}  // namespace
