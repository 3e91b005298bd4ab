// Registering one picture to another by translation with sub-pixel precision (the shift then
// goes to ShiftOntoGrid, image_warp.h).
//
// Registration is phase correlation (FFTW3, single precision): both pictures' grey values in one
// window centred on the grid, Hann-tapered, are transformed; the normalised cross-power spectrum is
// transformed back (with a Gaussian weight that quietens the noisy highest frequencies) and its
// peak gives the whole-pixel shift. The peak is then refined by evaluating the correlation surface
// between the pixels straight from the spectrum (a band-limited interpolation, no fitting model),
// first along x, then y, then x again, on a 1/8- then a 1/64-pixel grid finished by a parabola
// through the best three points.
#pragma once

#include <fftw3.h>

#include <string>
#include <vector>

#include "platform/status.h"
#include "stack/image_view.h"

// What registering one picture found. The shift says where the picture's content lies relative
// to the reference: picture(x, y) shows reference(x - dx, y - dy), so content moved right and
// down has positive dx and dy.
struct CRegistration {
    bool m_bOk = false;
    double m_dx = 0;
    double m_dy = 0;
    double m_dPeakRatio = 0;  // correlation peak over the spread of the rest of the surface
    std::string m_strReason;  // why m_bOk is false
};

class CImageRegistration {
public:
    // A peak must stand this many standard deviations above the surface's mean: unrelated
    // pictures give about 4.5 with a 256 x 256 window.
    static constexpr double kDefaultMinPeakRatio = 8.0;
    // The smallest side of a picture it registers.
    static constexpr int kMinWindow = 16;

    // `bVectors` false keeps to the plain loops, the reference the AVX2 ones must match.
    explicit CImageRegistration(bool bVectors = true);
    ~CImageRegistration();
    CImageRegistration(const CImageRegistration&) = delete;
    CImageRegistration& operator=(const CImageRegistration&) = delete;

    // Plans a square window of the largest power of two up to 256 that fits the reference,
    // centred on it. Fails for a reference too small (under 16 pixels a side) or without any
    // contrast in the window.
    CStatus SetReference(const CImageView& reference);
    // Shifts found are within half the window either way. A picture whose peak ratio is below
    // `minPeakRatio` or with no contrast in the window is not registered.
    CRegistration Register(const CImageView& image, double minPeakRatio = kDefaultMinPeakRatio);

    int WindowSize() const { return m_nSize; }

private:
    // Hann-tapered, mean-free grey values of `image` in the window into m_pReal, transformed
    // into m_pWork (m_pReal is overwritten).
    // False when the window has no contrast.
    bool LoadSpectrum(const CImageView& image);
    // The peak of the correlation surface (from the cross-power spectrum in m_pCross) along x
    // at y = `fixed`, or along y at x = `fixed`, searched within `reach` of `x0`.
    double RefineAlong(bool bAlongY, double fixed, double x0, double reach);
    // The spectrum of the window in m_pReal into m_pWork, and back (m_pWork overwritten).
    void Forward();
    void Backward();
    void Release();

    bool m_bAvx2 = false;  // the loops' AVX2 builds
    int m_nSize = 0;
    int m_nLeft = 0;
    int m_nTop = 0;
    std::vector<float> m_taper;     // Hann window, one axis
    std::vector<float> m_lowPass;   // weight of each frequency of the cross-power spectrum
    std::vector<double> m_scratch;  // lines and turns of the refinement
    // Spectra hold size rows of size / 2 + 1 x frequencies (real-input transforms), in single
    // precision: the shifts found stay those of double precision to well within 1/100 pixel;
    // sums over the spectra and the surface are taken in double.
    float* m_pReal = nullptr;  // window in, correlation surface out
    fftwf_complex* m_pWork = nullptr;
    fftwf_complex* m_pReference = nullptr;  // conjugate of the reference's spectrum
    fftwf_complex* m_pCross = nullptr;      // normalised cross-power spectrum of the last picture
    // The 2-D transforms are taken as rows then columns. A real row of size values is
    // transformed as size / 2 complex (even, odd) pairs, then split into its spectrum with the
    // turns e^(-i 2 pi k / size) of m_turns (and joined back the same way): half the work of a
    // transform meant for real rows.
    std::vector<float> m_turns;
    fftwf_plan m_rowsForward = nullptr;  // in place in m_pReal
    fftwf_plan m_rowsBackward = nullptr;
    fftwf_plan m_columnsForward = nullptr;  // in place in m_pWork
    fftwf_plan m_columnsBackward = nullptr;
};
