// The fast cubic pass: tables, bands of destination rows, threads.
#include "resample/cubic_fast.h"

#include <algorithm>

#include "platform/start_threads.h"
#include "resample/cubic_pass.h"
#include "resample/layer_memory.h"

namespace {

// The row cache of one band: four horizontal rows; m_rows[n] holds source row base - 1 + n.
class CBandBuffers {
public:
    explicit CBandBuffers(int count) {
        // A vector's width of slack past the end.
        const std::int64_t n = std::int64_t(count) + 16;
        for (float*& p : m_rows) p = static_cast<float*>(LayerAlignedAlloc(n * 4));
    }
    ~CBandBuffers() {
        for (float* p : m_rows) LayerAlignedFree(p);
    }
    CBandBuffers(const CBandBuffers&) = delete;
    CBandBuffers& operator=(const CBandBuffers&) = delete;

    bool Ok() const {
        return std::all_of(std::begin(m_rows), std::end(m_rows),
                           [](const float* p) { return p != nullptr; });
    }

    float* m_rows[4] = {};
};

// Destination rows y0 to y1 - 1, with a row cache of their own. Each source row goes through the
// horizontal pass at most once per band; the rows sharing a window go through the vertical pass
// together, so that its differences are formed once, a cache-sized block at a time.
bool RunBand(const CubicPlan& plan, const CubicKernels& kernels, const std::uint8_t* srcData,
             std::ptrdiff_t srcStep, std::uint8_t* dstData, std::ptrdiff_t dstStep, int y0,
             int y1) noexcept {
    CBandBuffers buffers(plan.count);
    if (!buffers.Ok())
        return false;
    float** rows = buffers.m_rows;

    bool filled = false;
    int lastBase = 0;
    std::uint8_t* dst[kWindowRows];
    for (int yy = y0; yy < y1;) {
        const int base = plan.rowBase[yy];
        if (!filled || base != lastBase) {
            // Bases only grow: keep the rows still in the window, recompute the others.
            const int keep = filled ? std::max(0, 4 - (base - lastBase)) : 0;
            std::rotate(rows, rows + (4 - keep), rows + 4);
            for (int n = keep; n < 4; ++n)
                kernels.horizontal(srcData + (base - 1 + n) * srcStep, plan, rows[n]);
            filled = true;
            lastBase = base;
        }
        int n = 0;
        for (; n < kWindowRows && yy + n < y1 && plan.rowBase[yy + n] == base; ++n)
            dst[n] = dstData + (yy + n) * dstStep;
        kernels.vertical(rows[0], rows[1], rows[2], rows[3], plan.count, n, &plan.rowG[yy],
                         &plan.rowH[yy], &plan.rowL[yy], dst);
        yy += n;
    }
    return true;
}

}  // namespace

void PlanVectorWindows(CubicPlan& plan, int srcRowBytes) {
    // Element e's samples lie at first[e] + {0, 1, 2, 3} x pixelBytes.
    const int groups = plan.count / 8;
    plan.window.assign(std::size_t(groups) * 2, -1);
    plan.shuffle.assign(std::size_t(groups) * 32, 0);
    for (int w = 0; w < groups * 2; ++w) {
        const int e0 = w * 4;
        const auto [lo, hi] = std::minmax_element(&plan.first[e0], &plan.first[e0] + 4);
        const int start = *lo;
        const int end = *hi + 3 * plan.pixelBytes;
        if (end - start >= 16 || start + 16 > srcRowBytes)
            continue;
        plan.window[w] = start;
        for (int i = 0; i < 4; ++i) {
            for (int n = 0; n < 4; ++n) {
                plan.shuffle[std::size_t(w) * 16 + i * 4 + n] =
                    std::uint8_t(plan.first[e0 + i] - start + n * plan.pixelBytes);
            }
        }
    }
}

CubicPlan MakeCubicPlan(const CubicGrid& grid, int channels, int pixelBytes, int srcRowBytes) {
    CubicPlan plan;
    plan.count = grid.columns * channels;
    plan.pixelBytes = pixelBytes;
    plan.first.resize(plan.count);
    plan.g.resize(plan.count);
    plan.h.resize(plan.count);
    plan.l.resize(plan.count);
    for (int j = 0; j < grid.columns; ++j) {
        const CubicCoefficients k = MakeCubicCoefficients(grid.colFraction[j]);
        for (int c = 0; c < channels; ++c) {
            const int e = j * channels + c;
            plan.first[e] = grid.colOffset[j] + c - pixelBytes;
            plan.g[e] = k.g;
            plan.h[e] = k.h;
            plan.l[e] = k.l;
        }
    }
    PlanVectorWindows(plan, srcRowBytes);
    plan.rowBase = grid.rowBase;
    plan.rowG.resize(grid.rows);
    plan.rowH.resize(grid.rows);
    plan.rowL.resize(grid.rows);
    for (int i = 0; i < grid.rows; ++i) {
        const CubicCoefficients k = MakeCubicCoefficients(grid.rowFraction[i]);
        plan.rowG[i] = k.g;
        plan.rowH[i] = k.h;
        plan.rowL[i] = k.l;
    }
    return plan;
}

bool RunCubicPassFast(const CubicGrid& grid, int srcWidth, const std::uint8_t* srcData,
                      std::ptrdiff_t srcStep, int srcPixelBytes, std::uint8_t* dstData,
                      std::ptrdiff_t dstStep, int channels, ResampleKernel kernel, int threads) {
    const CubicPlan plan = MakeCubicPlan(grid, channels, srcPixelBytes, srcWidth * srcPixelBytes);
    const CubicKernels& kernels = CubicKernelsFor(kernel);
    const int bands = std::clamp(threads, 1, std::max(1, grid.rows));
    std::vector<char> ok(bands, 0);
    const auto band = [&](int t) noexcept {
        const int y0 = int(std::int64_t(grid.rows) * t / bands);
        const int y1 = int(std::int64_t(grid.rows) * (t + 1) / bands);
        ok[t] = RunBand(plan, kernels, srcData, srcStep, dstData, dstStep, y0, y1);
    };
    RunOnThreads(bands, band);  // a band refused a thread is done on this one
    return std::all_of(ok.begin(), ok.end(), [](char b) { return b != 0; });
}
