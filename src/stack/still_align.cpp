#include "stack/still_align.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/start_threads.h"
#include "stack/image_view.h"
#include "stack/stack_detail.h"

namespace {

// Tiles are about this far apart, and this wide (a power of two: the registration's window).
constexpr int kTileSpacing = 128;
constexpr int kTileSide = 64;
constexpr int kMinTilesPerAxis = 4;
constexpr int kMaxTilesPerAxis = 16;
// A tile whose shift is off the fit by more than this (pixels), and by more than
// kOutlierFactor times the tiles' median miss, is dropped from the fit.
constexpr double kOutlierFloor = 1.0;
constexpr double kOutlierFactor = 4.0;
// Fewer tiles than this agreeing: the translation alone.
constexpr int kMinTilesForFit = 6;
// A smoothed residual smaller than this (pixels) is the fit's own noise, not motion of its own.
constexpr double kResidualFloor = 0.25;

// A frame moved farther than the centre window reaches (a pan over seconds) is looked for on
// copies reduced this many times each way first.
constexpr int kReduce = 4;  // the sums below add four rows and four columns

// The frame's mean over blocks of kReduce x kReduce pixels into `out` (what is left over at the
// right and bottom edges dropped): the rows of a block summed first, then each block's columns.
void Reduce(const SFrame& frame, std::vector<std::uint8_t>& out, int& width, int& height) {
    width = frame.width / kReduce;
    height = frame.height / kReduce;
    out.resize(std::size_t(width) * height * 3);
    const std::size_t span = std::size_t(width) * kReduce * 3,
                      stride = std::size_t(frame.width) * 3;
    std::vector<std::uint16_t> rows(span);
    constexpr unsigned kArea = kReduce * kReduce;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = frame.bgr.data() + std::size_t(y) * kReduce * stride;
        for (std::size_t i = 0; i < span; ++i)
            rows[i] =
                std::uint16_t(in[i] + in[i + stride] + in[i + 2 * stride] + in[i + 3 * stride]);
        std::uint8_t* to = out.data() + std::size_t(y) * width * 3;
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const std::uint16_t* p = rows.data() + std::size_t(x) * kReduce * 3 + c;
                to[3 * x + c] = std::uint8_t((p[0] + p[3] + p[6] + p[9] + kArea / 2) / kArea);
            }
    }
}

double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// Solves the 3 x 3 system m x = r by Cramer's rule; false when it is (near) singular.
bool Solve3(const double m[3][3], const double r[3], double x[3]) {
    const auto det = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
               a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det(m);
    if (std::fabs(d) < 1e-9)
        return false;
    for (int k = 0; k < 3; ++k) {
        double a[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) a[i][j] = j == k ? r[i] : m[i][j];
        x[k] = det(a) / d;
    }
    return true;
}

}  // namespace

void SStillMotion::At(double x, double y, double& dx, double& dy) const {
    dx = m_ax[0] + m_ax[1] * x + m_ax[2] * y;
    dy = m_ay[0] + m_ay[1] * x + m_ay[2] * y;
    if (m_rx.empty())
        return;
    // Bilinear between tile centres, held flat beyond the outer ones: down the two tile
    // columns first, then across (Row works the same way, so both give the same bits).
    const double u = std::clamp((x - m_dLeft) / m_dCellW, 0.0, double(m_nCols - 1));
    const double v = std::clamp((y - m_dTop) / m_dCellH, 0.0, double(m_nRows - 1));
    const int i = std::min(int(u), std::max(0, m_nCols - 2));
    const int j = std::min(int(v), std::max(0, m_nRows - 2));
    const double fu = u - i, fv = v - j;
    const int i1 = std::min(i + 1, m_nCols - 1), j1 = std::min(j + 1, m_nRows - 1);
    const auto at = [&](const std::vector<float>& r) {
        const double left =
            r[std::size_t(j) * m_nCols + i] * (1 - fv) + r[std::size_t(j1) * m_nCols + i] * fv;
        const double right =
            r[std::size_t(j) * m_nCols + i1] * (1 - fv) + r[std::size_t(j1) * m_nCols + i1] * fv;
        return left * (1 - fu) + right * fu;
    };
    dx += at(m_rx);
    dy += at(m_ry);
}

void SStillMotion::Columns(const double* xs, int count, SColumns& columns) const {
    columns.m_i.resize(std::size_t(std::max(0, count)));
    columns.m_fu.resize(columns.m_i.size());
    columns.m_runs.clear();
    if (m_rx.empty())
        return;
    for (int k = 0; k < count; ++k) {
        const double u = std::clamp((xs[k] - m_dLeft) / m_dCellW, 0.0, double(m_nCols - 1));
        const int i = std::min(int(u), std::max(0, m_nCols - 2));
        columns.m_i[std::size_t(k)] = i;
        columns.m_fu[std::size_t(k)] = u - i;
        if (k == 0 || i != columns.m_i[std::size_t(k - 1)])
            columns.m_runs.push_back(k);
    }
    columns.m_runs.push_back(count);
}

namespace {

[[gnu::always_inline]] inline void MotionRowBody(const SStillMotion* m, const double* xs, double y,
                                                 int count, const SStillMotion::SColumns* columns,
                                                 double* dx, double* dy) {
    for (int k = 0; k < count; ++k) {
        dx[k] = m->m_ax[0] + m->m_ax[1] * xs[k] + m->m_ax[2] * y;
        dy[k] = m->m_ay[0] + m->m_ay[1] * xs[k] + m->m_ay[2] * y;
    }
    if (m->m_rx.empty())
        return;
    const double v = std::clamp((y - m->m_dTop) / m->m_dCellH, 0.0, double(m->m_nRows - 1));
    const int j = std::min(int(v), std::max(0, m->m_nRows - 2));
    const double fv = v - j;
    const int j1 = std::min(j + 1, m->m_nRows - 1);
    const std::size_t r0 = std::size_t(j) * m->m_nCols, r1 = std::size_t(j1) * m->m_nCols;
    const double* fu = columns->m_fu.data();
    const float* rx = m->m_rx.data();
    const float* ry = m->m_ry.data();
    // A run of xs between the same two tile columns at a time: the columns' values down this
    // row once, then a loop the vectoriser takes.
    for (std::size_t run = 0; run + 1 < columns->m_runs.size(); ++run) {
        const int from = columns->m_runs[run], to = columns->m_runs[run + 1];
        const std::size_t i = std::size_t(columns->m_i[std::size_t(from)]);
        const std::size_t i1 = std::min<std::size_t>(i + 1, std::size_t(m->m_nCols - 1));
        const double xl = rx[r0 + i] * (1 - fv) + rx[r1 + i] * fv;
        const double xr = rx[r0 + i1] * (1 - fv) + rx[r1 + i1] * fv;
        const double yl = ry[r0 + i] * (1 - fv) + ry[r1 + i] * fv;
        const double yr = ry[r0 + i1] * (1 - fv) + ry[r1 + i1] * fv;
        for (int k = from; k < to; ++k) {
            dx[k] += xl * (1 - fu[k]) + xr * fu[k];
            dy[k] += yl * (1 - fu[k]) + yr * fu[k];
        }
    }
}
TARNWICK_TWO_BUILDS(MotionRow)

}  // namespace

void SStillMotion::Row(const double* xs, double y, int count, const SColumns& columns, double* dx,
                       double* dy, bool bAvx2) const {
    bAvx2 ? MotionRowAvx2(this, xs, y, count, &columns, dx, dy)
          : MotionRowPlain(this, xs, y, count, &columns, dx, dy);
}

SStillMotion SStillMotion::Translation(double dx, double dy) {
    SStillMotion motion;
    motion.m_ax[0] = dx;
    motion.m_ay[0] = dy;
    return motion;
}

// One alignment point: its place on the reference and a registration holding the reference's
// window there. Only one thread uses a tile at a time.
struct CStillAligner::CTile {
    int m_nLeft = 0;
    int m_nTop = 0;
    int m_nSide = 0;
    double m_dCentreX = 0;
    double m_dCentreY = 0;
    bool m_bUsable = false;  // the reference has something to register on here
    CImageRegistration m_registration;
};

CStillAligner::CStillAligner() = default;
CStillAligner::~CStillAligner() = default;

CStatus CStillAligner::SetReference(const SFrame& reference) {
    m_nWidth = reference.width;
    m_nHeight = reference.height;
    m_tiles.clear();
    const CImageView view = PackedView(reference.bgr.data(), m_nWidth, m_nHeight);
    if (CStatus set = m_global.SetReference(view); !set)
        return set;
    m_nCentreSide = m_global.WindowSize();
    m_nCentreLeft = (m_nWidth - m_nCentreSide) / 2;
    m_nCentreTop = (m_nHeight - m_nCentreSide) / 2;
    int rw = 0, rh = 0;
    Reduce(reference, m_reduced, rw, rh);
    m_bFar = std::min(rw, rh) >= CImageRegistration::kMinWindow &&
             m_coarse.SetReference(PackedView(m_reduced.data(), rw, rh)).Ok() &&
             m_coarse.WindowSize() * kReduce > m_nCentreSide &&
             m_centre
                 .SetReference(CImageView{view.Row(m_nCentreTop) + 3 * m_nCentreLeft,
                                          view.m_nStride, m_nCentreSide, m_nCentreSide})
                 .Ok();
    // At least 4 x 4 tiles (a smaller frame has smaller tiles), so the fit has enough.
    m_nCols = std::clamp(int(std::lround(double(m_nWidth) / kTileSpacing)), kMinTilesPerAxis,
                         kMaxTilesPerAxis);
    m_nRows = std::clamp(int(std::lround(double(m_nHeight) / kTileSpacing)), kMinTilesPerAxis,
                         kMaxTilesPerAxis);
    m_dCellW = double(m_nWidth) / m_nCols;
    m_dCellH = double(m_nHeight) / m_nRows;
    int side = CImageRegistration::kMinWindow;
    while (side * 2 <= std::min({double(kTileSide), m_dCellW, m_dCellH})) side *= 2;
    if (side > std::min(m_dCellW, m_dCellH))
        return {};  // too small for tiles: the translation alone
    for (int j = 0; j < m_nRows; ++j)
        for (int i = 0; i < m_nCols; ++i) {
            auto tile = std::make_unique<CTile>();
            tile->m_nSide = side;
            tile->m_nLeft = int(std::lround((i + 0.5) * m_dCellW - side / 2.0));
            tile->m_nTop = int(std::lround((j + 0.5) * m_dCellH - side / 2.0));
            tile->m_dCentreX = tile->m_nLeft + side / 2.0 - 0.5;
            tile->m_dCentreY = tile->m_nTop + side / 2.0 - 0.5;
            const CImageView part{view.Row(tile->m_nTop) + 3 * tile->m_nLeft, view.m_nStride, side,
                                  side};
            tile->m_bUsable = tile->m_registration.SetReference(part).Ok();
            m_tiles.push_back(std::move(tile));
        }
    return {};
}

SStillAlignment CStillAligner::Align(const SFrame& frame, int threads) {
    SStillAlignment result;
    const CImageView view = PackedView(frame.bgr.data(), frame.width, frame.height);
    CRegistration global, coarse;
    if (m_bFar && threads > 1) {
        // The centre window and the reduced copies registered side by side.
        RunOnThreads(2, [&](int part) {
            if (part == 0)
                global = m_global.Register(view);
            else
                coarse = RegisterReduced(frame);
        });
    } else {
        global = m_global.Register(view);
        if (m_bFar)
            coarse = RegisterReduced(frame);
    }
    if (m_bFar)
        global = CheckFar(frame, global, coarse);
    if (!global.m_bOk) {
        result.m_fault =
            global.m_dPeakRatio > 0 ? StillAlignFault::WeakPeak : StillAlignFault::NoContrast;
        return result;
    }
    result.m_dx = global.m_dx;
    result.m_dy = global.m_dy;
    result.m_motion = SStillMotion::Translation(global.m_dx, global.m_dy);
    if (!m_bLocal || m_tiles.empty())
        return result;

    // Each tile registered around the translation, the window moved by its whole pixels.
    const int n = int(m_tiles.size());
    std::vector<double> sx(std::size_t(n), 0), sy(std::size_t(n), 0);
    // One byte a tile: threads write neighbouring tiles' flags, which std::vector<bool> would
    // pack into one word.
    std::vector<std::uint8_t> registered(std::size_t(n), 0);
    const int ox = int(std::lround(global.m_dx)), oy = int(std::lround(global.m_dy));
    const int parts = std::clamp(threads, 1, n);
    RunOnThreads(parts, [&](int part) {
        for (int t = part; t < n; t += parts) {
            CTile& tile = *m_tiles[std::size_t(t)];
            if (!tile.m_bUsable)
                continue;
            const int left = std::clamp(tile.m_nLeft + ox, 0, frame.width - tile.m_nSide);
            const int top = std::clamp(tile.m_nTop + oy, 0, frame.height - tile.m_nSide);
            const CImageView part{view.Row(top) + 3 * left, view.m_nStride, tile.m_nSide,
                                  tile.m_nSide};
            const CRegistration found = tile.m_registration.Register(part);
            if (!found.m_bOk)
                continue;
            sx[std::size_t(t)] = found.m_dx + (left - tile.m_nLeft);
            sy[std::size_t(t)] = found.m_dy + (top - tile.m_nTop);
            registered[std::size_t(t)] = 1;
        }
    });
    std::vector<bool> good(registered.begin(), registered.end());
    for (int t = 0; t < n; ++t) result.m_nTiles += m_tiles[std::size_t(t)]->m_bUsable ? 1 : 0;
    FitMotion(sx, sy, good, result);
    return result;
}

CRegistration CStillAligner::RegisterReduced(const SFrame& frame) {
    int rw = 0, rh = 0;
    Reduce(frame, m_reduced, rw, rh);
    return m_coarse.Register(PackedView(m_reduced.data(), rw, rh));
}

CRegistration CStillAligner::CheckFar(const SFrame& frame, const CRegistration& near,
                                      const CRegistration& coarse) {
    if (!coarse.m_bOk)
        return near;
    const double cx = coarse.m_dx * kReduce, cy = coarse.m_dy * kReduce;
    if (near.m_bOk && std::hypot(near.m_dx - cx, near.m_dy - cy) <= 2 * kReduce)
        return near;
    // The centre window moved to where the reduced copies say its content went.
    const int left =
        std::clamp(m_nCentreLeft + int(std::lround(cx)), 0, frame.width - m_nCentreSide);
    const int top =
        std::clamp(m_nCentreTop + int(std::lround(cy)), 0, frame.height - m_nCentreSide);
    const CImageView view = PackedView(frame.bgr.data(), frame.width, frame.height);
    CRegistration found = m_centre.Register(
        CImageView{view.Row(top) + 3 * left, view.m_nStride, m_nCentreSide, m_nCentreSide});
    found.m_dx += left - m_nCentreLeft;
    found.m_dy += top - m_nCentreTop;
    if (!found.m_bOk && near.m_bOk) {  // two answers, neither confirmed
        found.m_dPeakRatio = std::max(found.m_dPeakRatio, 1e-3);
        found.m_strReason = "the reduced frames disagree with the centre window";
    }
    return found;
}

void CStillAligner::FitMotion(const std::vector<double>& sx, const std::vector<double>& sy,
                              std::vector<bool>& good, SStillAlignment& result) const {
    const int n = int(m_tiles.size());
    const double cx = (m_nWidth - 1) / 2.0, cy = (m_nHeight - 1) / 2.0;
    double ax[3] = {result.m_dx, 0, 0}, ay[3] = {result.m_dy, 0, 0};
    const auto fitted = [&](const double c[3], int t) {
        const CTile& tile = *m_tiles[std::size_t(t)];
        return c[0] + c[1] * (tile.m_dCentreX - cx) / m_nWidth +
               c[2] * (tile.m_dCentreY - cy) / m_nHeight;
    };
    bool bFit = false;
    for (int round = 0; round < 3; ++round) {
        // Least squares over the agreeing tiles, in coordinates centred and scaled to about 1.
        double m[3][3] = {}, rx[3] = {}, ry[3] = {};
        int count = 0;
        for (int t = 0; t < n; ++t) {
            if (!good[std::size_t(t)])
                continue;
            const CTile& tile = *m_tiles[std::size_t(t)];
            const double b[3] = {1, (tile.m_dCentreX - cx) / m_nWidth,
                                 (tile.m_dCentreY - cy) / m_nHeight};
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) m[i][j] += b[i] * b[j];
                rx[i] += b[i] * sx[std::size_t(t)];
                ry[i] += b[i] * sy[std::size_t(t)];
            }
            ++count;
        }
        if (count < kMinTilesForFit || !Solve3(m, rx, ax) || !Solve3(m, ry, ay)) {
            bFit = false;
            break;
        }
        bFit = true;
        std::vector<double> misses;
        for (int t = 0; t < n; ++t)
            if (good[std::size_t(t)])
                misses.push_back(std::hypot(sx[std::size_t(t)] - fitted(ax, t),
                                            sy[std::size_t(t)] - fitted(ay, t)));
        const double limit = std::max(kOutlierFloor, kOutlierFactor * Median(misses));
        bool bDropped = false;
        for (int t = 0; t < n; ++t)
            if (good[std::size_t(t)] && std::hypot(sx[std::size_t(t)] - fitted(ax, t),
                                                   sy[std::size_t(t)] - fitted(ay, t)) > limit) {
                good[std::size_t(t)] = false;
                bDropped = true;
            }
        if (!bDropped)
            break;
    }
    if (!bFit)
        return;  // the translation stands
    result.m_nTilesUsed = int(std::count(good.begin(), good.end(), true));
    SStillMotion& motion = result.m_motion;
    motion.m_ax[1] = ax[1] / m_nWidth;
    motion.m_ax[2] = ax[2] / m_nHeight;
    motion.m_ax[0] = ax[0] - motion.m_ax[1] * cx - motion.m_ax[2] * cy;
    motion.m_ay[1] = ay[1] / m_nWidth;
    motion.m_ay[2] = ay[2] / m_nHeight;
    motion.m_ay[0] = ay[0] - motion.m_ay[1] * cx - motion.m_ay[2] * cy;

    // What the fit leaves, as the median of each tile's agreeing neighbours (itself too).
    std::vector<float> rx(std::size_t(n), 0), ry(std::size_t(n), 0);
    bool bAny = false;
    for (int j = 0; j < m_nRows; ++j)
        for (int i = 0; i < m_nCols; ++i) {
            std::vector<double> nx, ny;
            for (int v = std::max(0, j - 1); v <= std::min(m_nRows - 1, j + 1); ++v)
                for (int u = std::max(0, i - 1); u <= std::min(m_nCols - 1, i + 1); ++u) {
                    const int t = v * m_nCols + u;
                    if (!good[std::size_t(t)])
                        continue;
                    nx.push_back(sx[std::size_t(t)] - fitted(ax, t));
                    ny.push_back(sy[std::size_t(t)] - fitted(ay, t));
                }
            if (nx.size() < 3)
                continue;
            const double mx = Median(nx), my = Median(ny);
            if (std::hypot(mx, my) < kResidualFloor)
                continue;
            rx[std::size_t(j) * m_nCols + i] = float(mx);
            ry[std::size_t(j) * m_nCols + i] = float(my);
            bAny = true;
        }
    if (bAny) {
        motion.m_nCols = m_nCols;
        motion.m_nRows = m_nRows;
        motion.m_dLeft = m_tiles.front()->m_dCentreX;
        motion.m_dTop = m_tiles.front()->m_dCentreY;
        motion.m_dCellW = m_dCellW;
        motion.m_dCellH = m_dCellH;
        motion.m_rx = std::move(rx);
        motion.m_ry = std::move(ry);
    }
    motion.At(cx, cy, result.m_dx, result.m_dy);
}
