#include "stack/still_merge.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "platform/start_threads.h"
#include "stack/stack_detail.h"
#include "stack/still_gather.h"

namespace {

constexpr int kMaxEstimateFrames = 16;
// Grid pixels gathered at a time (a multiple of 8, the vector loops' width).
constexpr int kGatherPiece = 256;
// Weight of a residual of 0 in every grid pixel, against up to one a sample: a pixel no sample
// reached keeps the estimate, elsewhere it hardly matters.
constexpr float kEstimateWeight = 0.01f;
// A sample agrees fully within kAgreement tolerances of the estimate, not at all past twice
// that. The tolerance adds, in quadrature, the noise, the frames' spread and half a pixel's
// worth of the estimate's slope (which a sample's exact place can add), plus one level.
constexpr float kAgreement = 2.5f;
constexpr float kSlopeShare = 0.2f;

// Calls add(a, b) for each comparison of Batcher's odd-even merge sort of n values (a power of
// two), in order.
template <class Add>
constexpr void EachComparison(int n, Add add) {
    for (int p = 1; p < n; p <<= 1)
        for (int k = p; k >= 1; k >>= 1)
            for (int j = k % p; j + k < n; j += 2 * k)
                for (int i = 0; i < k; ++i)
                    if ((i + j) / (2 * p) == (i + j + k) / (2 * p))
                        add(i + j, i + j + k);
}

constexpr int ComparisonCount(int n) {
    int count = 0;
    EachComparison(n, [&count](int, int) { ++count; });
    return count;
}

// The comparisons for kMaxEstimateFrames values.
struct SSortNetwork {
    static constexpr int kN = kMaxEstimateFrames;
    static_assert((kN & (kN - 1)) == 0, "the network sorts a power of two");
    static constexpr int kSize = ComparisonCount(kN);
    int m_a[kSize] = {}, m_b[kSize] = {};
    constexpr SSortNetwork() {
        int c = 0;
        EachComparison(kN, [&](int a, int b) {
            m_a[c] = a;
            m_b[c] = b;
            ++c;
        });
    }
};
constexpr SSortNetwork kSortNetwork;

// The median of n values, at most kMaxEstimateFrames, reordering them (v holds room for
// kMaxEstimateFrames): the values padded with the largest float and sorted by the fixed
// network, without the branches an insertion sort mispredicts.
float Median(float* v, int n) {
    std::fill(v + n, v + SSortNetwork::kN, std::numeric_limits<float>::max());
#pragma GCC unroll 64
    for (int c = 0; c < SSortNetwork::kSize; ++c) {
        const float a = v[kSortNetwork.m_a[c]], b = v[kSortNetwork.m_b[c]];
        v[kSortNetwork.m_a[c]] = std::min(a, b);
        v[kSortNetwork.m_b[c]] = std::max(a, b);
    }
    return n % 2 ? v[n / 2] : 0.5f * (v[n / 2 - 1] + v[n / 2]);
}

// Grid rows [first, last) of band `part` of `parts`.
void Band(int rows, int part, int parts, int& first, int& last) {
    first = int(std::int64_t(rows) * part / parts);
    last = int(std::int64_t(rows) * (part + 1) / parts);
}

}  // namespace

SStillEstimate MakeStillEstimate(const std::vector<const SFrame*>& frames,
                                 const std::vector<SStillMotion>& motions, int threads,
                                 bool bVectors) {
    SStillEstimate e;
    if (frames.empty())
        return e;
    const int w = frames[0]->width, h = frames[0]->height;
    const std::size_t area = std::size_t(w) * h;
    e.m_nWidth = w;
    e.m_nHeight = h;
    e.m_bgr.assign(3 * area, 0.0f);
    e.m_luma.assign(area, 0.0f);
    e.m_spread.assign(area, 0.0f);
    const int n = std::min(int(frames.size()), kMaxEstimateFrames);
    e.m_bRobust = n >= 3;
    std::vector<float> wide(area, 0.0f);
    const int parts = std::clamp(threads, 1, h);
    RunOnThreads(parts, [&](int part) {
        int first, last;
        Band(h, part, parts, first, last);
        float values[4][kMaxEstimateFrames], sorted[kMaxEstimateFrames];
        // Each frame's motion a row at a time.
        std::vector<double> xs(static_cast<std::size_t>(w));
        for (int x = 0; x < w; ++x) xs[std::size_t(x)] = x;
        std::vector<SStillMotion::SColumns> columns(static_cast<std::size_t>(n));
        for (int f = 0; f < n; ++f)
            motions[std::size_t(f)].Columns(xs.data(), w, columns[std::size_t(f)]);
        std::vector<double> rowDx(std::size_t(n) * w), rowDy(rowDx.size());
        const bool avx2 = registration_detail::Avx2Loops(bVectors);
        for (int y = first; y < last; ++y) {
            for (int f = 0; f < n; ++f)
                motions[std::size_t(f)].Row(xs.data(), y, w, columns[std::size_t(f)],
                                            rowDx.data() + std::size_t(f) * w,
                                            rowDy.data() + std::size_t(f) * w, avx2);
            for (int x = 0; x < w; ++x) {
                int k = 0;
                for (int f = 0; f < n; ++f) {
                    const double dx = rowDx[std::size_t(f) * w + x];
                    const double dy = rowDy[std::size_t(f) * w + x];
                    const double qx = x + dx, qy = y + dy;
                    if (qx < 0 || qy < 0 || qx > w - 1 || qy > h - 1)
                        continue;
                    const int ix = std::min(int(qx), w - 2 < 0 ? 0 : w - 2);
                    const int iy = std::min(int(qy), h - 2 < 0 ? 0 : h - 2);
                    const float fx = float(qx - ix), fy = float(qy - iy);
                    const int ix1 = std::min(ix + 1, w - 1), iy1 = std::min(iy + 1, h - 1);
                    const std::uint8_t* bgr = frames[std::size_t(f)]->bgr.data();
                    const std::uint8_t* r0 = bgr + (std::size_t(iy) * w) * 3;
                    const std::uint8_t* r1 = bgr + (std::size_t(iy1) * w) * 3;
                    for (int c = 0; c < 3; ++c) {
                        const float top = r0[3 * ix + c] + (r0[3 * ix1 + c] - r0[3 * ix + c]) * fx;
                        const float bottom =
                            r1[3 * ix + c] + (r1[3 * ix1 + c] - r1[3 * ix + c]) * fx;
                        values[c][k] = top + (bottom - top) * fy;
                    }
                    values[3][k] = 0.25f * (values[0][k] + 2 * values[1][k] + values[2][k]);
                    ++k;
                }
                const std::size_t at = std::size_t(y) * w + x;
                if (k == 0) {  // no frame reaches: the reference's own pixel
                    const std::uint8_t* p = frames[0]->bgr.data() + 3 * at;
                    for (int c = 0; c < 3; ++c) e.m_bgr[c * area + at] = p[c];
                    e.m_luma[at] = 0.25f * (p[0] + 2 * p[1] + p[2]);
                    continue;
                }
                // The median first, then the mean of the frames near it: one frame far off
                // (an object) moves a median by a whole step between neighbouring values, but
                // is simply left out of this mean.
                float medians[4];
                for (int c = 0; c < 4; ++c) {
                    std::copy_n(values[c], k, sorted);
                    medians[c] = Median(sorted, k);
                }
                for (int i = 0; i < k; ++i) sorted[i] = std::fabs(values[3][i] - medians[3]);
                const float spread = 1.4826f * Median(sorted, k);
                const float limit = 3.0f * std::max(spread, 2.0f);
                float sums[3] = {0, 0, 0};
                int used = 0;
                for (int i = 0; i < k; ++i) {
                    bool near = true;
                    for (int c = 0; c < 3; ++c)
                        near = near && std::fabs(values[c][i] - medians[c]) <= limit;
                    if (!near)
                        continue;
                    for (int c = 0; c < 3; ++c) sums[c] += values[c][i];
                    ++used;
                }
                for (int c = 0; c < 3; ++c)
                    e.m_bgr[c * area + at] = used ? sums[c] / used : medians[c];
                e.m_luma[at] =
                    0.25f * (e.m_bgr[at] + 2 * e.m_bgr[area + at] + e.m_bgr[2 * area + at]);
                wide[at] = spread;
            }
        }
    });
    // Each pixel's spread widened to its neighbours', for samples that fall between pixels.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float m = 0;
            for (int v = std::max(0, y - 1); v <= std::min(h - 1, y + 1); ++v)
                for (int u = std::max(0, x - 1); u <= std::min(w - 1, x + 1); ++u)
                    m = std::max(m, wide[std::size_t(v) * w + u]);
            e.m_spread[std::size_t(y) * w + x] = m;
        }
    return e;
}

double CStillMerger::KernelSigma(int scale, int frames) {
    // The more frames, the denser the samples and the narrower the weight can be. Measured on
    // bursts of 4 to 16 frames: narrower leaves holes between the samples of few frames (on the
    // frames' own grid, noise the sharpening then lifts), wider blurs more than the sharpening
    // gives back. On a finer grid 0.35 frame pixel for 4 frames or fewer, down to 0.28 for 7
    // and more; on the frames' own grid 0.45 for 4 or fewer, down to 0.35 for 7 and more.
    const double fewer = std::sqrt(4.0 / std::max(frames, 1));
    if (scale == 1)
        return std::clamp(0.45 * fewer, 0.35, 0.45);
    return std::clamp(0.35 * fewer, 0.28, 0.35) * scale;
}

CStatus CStillMerger::Begin(int width, int height, int scale, int frames, bool bVectors) {
    m_nFrameWidth = width;
    m_nFrameHeight = height;
    m_nScale = scale;
    m_nWidth = width * scale;
    m_nHeight = height * scale;
    m_bVectors = bVectors;
    m_bResidual = scale > 1;
    const std::size_t area = std::size_t(m_nWidth) * m_nHeight;
    try {
        m_sums.assign(3 * area, 0.0f);
        m_weights.assign(area, 0.0f);
        m_squares.assign(area, 0.0f);
        m_samples.assign(4 * std::size_t(width) * height, 0.0f);
    } catch (const std::bad_alloc&) {
        return CStatus::Failure("no memory for the merge");
    }
    const double sigma = KernelSigma(scale, frames);
    for (int k = 0; k <= 256; ++k) {
        const double t = k / 256.0 * scale;
        m_lut[k] = float(std::exp(-t * t / (2 * sigma * sigma)));
    }
    return {};
}

void CStillMerger::SetEstimate(const SStillEstimate* estimate, double noiseSigma) {
    m_pEstimate = estimate;
    // How far a sample may stray from the estimate, per pixel of the reference's grid.
    const SStillEstimate& e = *estimate;
    const int w = e.m_nWidth, h = e.m_nHeight;
    const float noise2 = float(noiseSigma * noiseSigma);
    const std::size_t area = std::size_t(w) * h;
    m_tolerance.assign(area, 0.0f);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto luma = [&](int u, int v) {
                return e.m_luma[std::size_t(std::clamp(v, 0, h - 1)) * w + std::clamp(u, 0, w - 1)];
            };
            const float gx = 0.5f * (luma(x + 1, y) - luma(x - 1, y));
            const float gy = 0.5f * (luma(x, y + 1) - luma(x, y - 1));
            const std::size_t at = std::size_t(y) * w + x;
            const float spread = e.m_spread[at];
            const float slope2 = kSlopeShare * kSlopeShare * (gx * gx + gy * gy);
            m_tolerance[at] = kAgreement * std::sqrt(noise2 + spread * spread + slope2) + 1.0f;
        }
}

void CStillMerger::Weigh(const SFrame& frame, const SStillMotion& motion, int threads) {
    const int w = m_nFrameWidth, h = m_nFrameHeight;
    const std::size_t area = std::size_t(w) * h;
    const bool bReject = m_pEstimate->m_bRobust;
    const int parts = std::clamp(threads, 1, h);
    RunOnThreads(parts, [&](int part) {
        int first, last;
        Band(h, part, parts, first, last);
        std::vector<double> xs(static_cast<std::size_t>(w)), dxs(xs), dys(xs);
        std::vector<std::int32_t> at(xs.size());
        std::vector<float> fxs(xs.size()), fys(xs.size()), agreement(xs.size());
        // The rows just outside the band are weighed too (their samples into `halo`, not
        // kept), for the agreement's minimum across rows.
        std::vector<float> halo(3 * xs.size());
        // Each row's agreement, the least of each pixel's and its two neighbours', for the
        // last three rows.
        std::vector<float> least(3 * xs.size());
        const auto leastRow = [&](int y) { return least.data() + std::size_t(y % 3) * w; };
        for (int x = 0; x < w; ++x) xs[std::size_t(x)] = x;
        SStillMotion::SColumns columns;
        motion.Columns(xs.data(), w, columns);
        const bool avx2 = registration_detail::Avx2Loops(m_bVectors);
        // The neighbours of a pixel of the reference's grid, right and below (none on a grid
        // one pixel wide or high).
        const float* bgr = m_pEstimate->m_bgr.data();
        const SWeighRow weigh{{bgr, bgr + area, bgr + 2 * area, m_tolerance.data()},
                              w > 1 ? 1u : 0u,
                              h > 1 ? std::size_t(w) : 0,
                              m_bResidual,
                              bReject};
        // A rejected pixel takes its neighbours with it (the edges of what passed by): the
        // weight of row y's samples is the least agreement over the 3 x 3 pixels around.
        const auto finishRow = [&](int y) {
            const float* up = leastRow(std::max(0, y - 1));
            const float* row = leastRow(y);
            const float* down = leastRow(std::min(h - 1, y + 1));
            LeastDown(avx2, up, row, down, w, m_samples.data() + 3 * area + std::size_t(y) * w);
        };
        const int from = std::max(0, first - 1), to = std::min(h, last + 1);
        for (int y = from; y < to; ++y) {
            motion.Row(xs.data(), y, w, columns, dxs.data(), dys.data(), avx2);
            // Where each sample lies on the reference's grid; bilinear weights shared by the
            // estimate's four planes there.
            PlaceOnReference(avx2, dxs.data(), dys.data(), y, w, w, h, at.data(), fxs.data(),
                             fys.data());
            const std::uint8_t* p = frame.bgr.data() + 3 * std::size_t(y) * w;
            const bool bOwn = y >= first && y < last;
            float* samples[3];
            for (int c = 0; c < 3; ++c)
                samples[c] = bOwn ? m_samples.data() + c * area + std::size_t(y) * w
                                  : halo.data() + c * std::size_t(w);
            WeighRow(avx2, weigh, p, at.data(), fxs.data(), fys.data(), w, samples,
                     agreement.data());
            LeastAcross(avx2, agreement.data(), w, leastRow(y));
            if (y - 1 >= first && y - 1 < last)
                finishRow(y - 1);
        }
        if (last == h)
            finishRow(h - 1);
    });
}

void CStillMerger::Add(const SFrame& frame, const SStillMotion& motion, int threads) {
    Weigh(frame, motion, threads);
    const std::size_t frameArea = std::size_t(m_nFrameWidth) * m_nFrameHeight;
    const float* samples = m_samples.data();
    const SGatherFrame g{
        {samples, samples + frameArea, samples + 2 * frameArea, samples + 3 * frameArea},
        m_nFrameWidth,
        m_nFrameHeight,
        m_lut};
    const std::size_t area = std::size_t(m_nWidth) * m_nHeight;
    const double s = m_nScale;
    const int parts = std::clamp(threads, 1, m_nHeight);
    RunOnThreads(parts, [&](int part) {
        int first, last;
        Band(m_nHeight, part, parts, first, last);
        // A row a piece at a time, so that its motion and places stay in the nearest cache.
        const int pieces = (m_nWidth + kGatherPiece - 1) / kGatherPiece;
        std::vector<double> xs(static_cast<std::size_t>(m_nWidth));
        std::vector<double> dx(static_cast<std::size_t>(kGatherPiece)), dy(dx);
        std::vector<std::int32_t> place(4 * dx.size());
        for (int xx = 0; xx < m_nWidth; ++xx) xs[std::size_t(xx)] = (xx + 0.5) / s - 0.5;
        std::vector<SStillMotion::SColumns> columns(static_cast<std::size_t>(pieces));
        for (int p = 0; p < pieces; ++p) {
            const int from = p * kGatherPiece, count = std::min(kGatherPiece, m_nWidth - from);
            motion.Columns(xs.data() + from, count, columns[std::size_t(p)]);
        }
        const bool avx2 = registration_detail::Avx2Loops(m_bVectors);
        for (int yy = first; yy < last; ++yy) {
            const double y = (yy + 0.5) / s - 0.5;
            for (int p = 0; p < pieces; ++p) {
                const int from = p * kGatherPiece, count = std::min(kGatherPiece, m_nWidth - from);
                const double* x = xs.data() + from;
                motion.Row(x, y, count, columns[std::size_t(p)], dx.data(), dy.data(), avx2);
                const std::size_t at = std::size_t(yy) * m_nWidth + std::size_t(from);
                float* sb = m_sums.data() + at;
                GatherRow(avx2, g, x, y, dx.data(), dy.data(), count, place.data(), sb, sb + area,
                          sb + 2 * area, m_weights.data() + at, m_squares.data() + at);
            }
        }
    });
}

void CStillMerger::Finish(std::vector<float>& planes, double* noiseFactor, int threads) {
    const std::size_t area = std::size_t(m_nWidth) * m_nHeight;
    const double s = m_nScale;
    const int parts = std::clamp(threads, 1, m_nHeight);
    // Where each grid column and row falls on the estimate's grid (clamped to it), for the
    // bilinear fill: the columns worked out once.
    const int fw = m_nFrameWidth, fh = m_nFrameHeight;
    const auto place = [&](int i, int size, int& at, int& next, float& f) {
        const double v = std::clamp((i + 0.5) / s - 0.5, 0.0, double(size - 1));
        at = std::min(int(v), size - 2 < 0 ? 0 : size - 2);
        next = std::min(at + 1, size - 1);
        f = float(v - at);
    };
    std::vector<int> col0(static_cast<std::size_t>(m_nWidth)), col1(col0.size());
    std::vector<float> colF(col0.size());
    for (int xx = 0; xx < m_nWidth; ++xx)
        place(xx, fw, col0[std::size_t(xx)], col1[std::size_t(xx)], colF[std::size_t(xx)]);
    // One sum a row, added up in row order afterwards: the same for any number of threads.
    std::vector<double> factors(std::size_t(m_nHeight), 0.0);
    RunOnThreads(parts, [&](int part) {
        int first, last;
        Band(m_nHeight, part, parts, first, last);
        for (int yy = first; yy < last; ++yy) {
            double factor = 0;
            int iy, iy1;
            float fy;
            place(yy, fh, iy, iy1, fy);
            const std::size_t row = std::size_t(yy) * m_nWidth;
            for (int xx = 0; xx < m_nWidth; ++xx) {
                const float total = m_weights[row + xx] + kEstimateWeight;
                factor += double(m_squares[row + xx]) / (double(total) * total);
            }
            for (int c = 0; c < 3; ++c) {
                const float* plane =
                    m_pEstimate ? m_pEstimate->m_bgr.data() + c * std::size_t(fw) * fh : nullptr;
                const float* r0 = plane ? plane + std::size_t(iy) * fw : nullptr;
                const float* r1 = plane ? plane + std::size_t(iy1) * fw : nullptr;
                float* sums = m_sums.data() + c * area + row;
                for (int xx = 0; xx < m_nWidth; ++xx) {
                    float fill = 0;
                    if (plane) {
                        const int ix = col0[std::size_t(xx)], ix1 = col1[std::size_t(xx)];
                        const float fx = colF[std::size_t(xx)];
                        const float top = r0[ix] + (r0[ix1] - r0[ix]) * fx;
                        const float bottom = r1[ix] + (r1[ix1] - r1[ix]) * fx;
                        fill = top + (bottom - top) * fy;
                    }
                    const float total = m_weights[row + xx] + kEstimateWeight;
                    float& v = sums[xx];
                    v = m_bResidual ? fill + v / total : (v + kEstimateWeight * fill) / total;
                }
            }
            factors[std::size_t(yy)] = factor;
        }
    });
    double factor = 0;
    for (double f : factors) factor += f;
    if (noiseFactor)
        *noiseFactor = factor / double(area);
    planes = std::move(m_sums);
    m_sums = {};
    m_weights = {};
    m_squares = {};
    m_samples = {};
    m_tolerance = {};
}
