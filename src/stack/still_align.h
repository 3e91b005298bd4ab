// The still engine's alignment: where each frame's content lies against the reference, first
// as one sub-pixel translation of the whole frame (CImageRegistration on its centre, checked
// against copies reduced four times each way, which reach four times as far: a pan), then
// locally on a grid of tiles, each registered on its own around the translation. The tiles'
// shifts are fitted by an affine motion (rotation, zoom, shear, translation), tiles that
// disagree with the fit are dropped, and what stays off the fit consistently (parallax, a
// frame's own bend) is kept as a smooth residual, bilinear between tile centres.
#pragma once

#include <memory>
#include <vector>

#include "image/frame_source.h"
#include "stack/image_registration.h"

// Where a frame's content lies: frame(p + d(p)) shows reference(p), p in reference pixels
// (pixel centres at whole numbers), d = affine(p) + residual(p).
struct SStillMotion {
    double m_ax[3] = {0, 0, 0};  // dx = ax0 + ax1 x + ax2 y
    double m_ay[3] = {0, 0, 0};  // dy = ay0 + ay1 x + ay2 y
    // The residual on the tile grid: m_nCols x m_nRows values, tile (i, j) centred at
    // (m_dLeft + i m_dCellW, m_dTop + j m_dCellH); empty when there is none.
    int m_nCols = 0;
    int m_nRows = 0;
    double m_dLeft = 0, m_dTop = 0, m_dCellW = 1, m_dCellH = 1;
    std::vector<float> m_rx, m_ry;

    void At(double x, double y, double& dx, double& dy) const;
    // At for `count` points of one row, (xs[i], y) into dx[i], dy[i], the same values as At:
    // where each x falls between the tile centres worked out once by Columns for many rows of
    // the same xs, what depends on y once a row. The AVX2 build (bAvx2) gives the same bits.
    struct SColumns {
        std::vector<int> m_i;  // the tile column at or left of each x
        std::vector<double> m_fu;
        std::vector<int> m_runs;  // where each run of one m_i begins, and the end
    };
    void Columns(const double* xs, int count, SColumns& columns) const;
    void Row(const double* xs, double y, int count, const SColumns& columns, double* dx, double* dy,
             bool bAvx2) const;
    // A pure translation.
    static SStillMotion Translation(double dx, double dy);
};

// What aligning one frame found.
enum class StillAlignFault {
    None,
    NoContrast,  // nothing in the centre window to register on
    WeakPeak,    // the correlation peak is too low: another scene, or too blurred
};
struct SStillAlignment {
    StillAlignFault m_fault = StillAlignFault::None;
    double m_dx = 0;  // the frame's shift at the reference's centre
    double m_dy = 0;
    int m_nTiles = 0;      // tiles with something to register on
    int m_nTilesUsed = 0;  // tiles that agreed with the fit
    SStillMotion m_motion;
};

// One aligner a job: SetReference once, then Align each frame (from one thread at a time; it
// fans its tiles out to `threads` threads itself, and the result does not depend on them).
class CStillAligner {
public:
    CStillAligner();
    ~CStillAligner();
    CStillAligner(const CStillAligner&) = delete;
    CStillAligner& operator=(const CStillAligner&) = delete;

    // False (with the reason) when the reference is too small or has no contrast to register on.
    CStatus SetReference(const SFrame& reference);
    SStillAlignment Align(const SFrame& frame, int threads);
    // With `bLocal` false only the translation is found: the tiles are not registered.
    void SetLocal(bool bLocal) { m_bLocal = bLocal; }

private:
    struct CTile;
    // The frame's reduced copy registered on the reference's.
    CRegistration RegisterReduced(const SFrame& frame);
    // The centre window's translation `near` checked against the reduced copies' (`coarse`):
    // kept when they agree, else the centre window is registered again where the copies say
    // its content went (a frame moved beyond the window's reach, or a false match there).
    CRegistration CheckFar(const SFrame& frame, const CRegistration& near,
                           const CRegistration& coarse);
    void FitMotion(const std::vector<double>& sx, const std::vector<double>& sy,
                   std::vector<bool>& good, SStillAlignment& result) const;

    int m_nWidth = 0;
    int m_nHeight = 0;
    bool m_bLocal = true;
    CImageRegistration m_global;
    // Far moves: the reference reduced, and its centre window at full size (m_bFar false when
    // the reduced window would reach no farther than m_global's).
    bool m_bFar = false;
    CImageRegistration m_coarse;
    CImageRegistration m_centre;
    int m_nCentreLeft = 0;
    int m_nCentreTop = 0;
    int m_nCentreSide = 0;
    std::vector<std::uint8_t> m_reduced;  // a frame's reduced copy
    int m_nCols = 0;
    int m_nRows = 0;
    double m_dCellW = 0;
    double m_dCellH = 0;
    std::vector<std::unique_ptr<CTile>> m_tiles;
};
