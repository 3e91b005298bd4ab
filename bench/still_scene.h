// The frames a camera panning over a photograph would record, and how close a picture made
// from them comes to the photograph: the maths behind bench/still-quality.
//
// A frame has half the photograph's size. Frame pixel (x, y) is the mean of the 2 x 2
// photograph pixels it covers once the photograph is moved by the frame's shift: the
// photograph is shifted at full resolution by twice the frame shift (Lanczos, three lobes),
// then box-averaged 2 x 2. Shifts are in frame pixels and follow the stacker's sign:
// frame(x, y) shows the unmoved frame at (x - dx, y - dy).
//
// Pictures are kept as doubles, three channels interleaved in the order of a 24-bit DIB
// (B, G, R), rows top-down, so that nothing is rounded before the last step.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "image/dib_image.h"

namespace still_scene {

struct CPicture {
    int m_nWidth = 0;
    int m_nHeight = 0;
    std::vector<double> m_values;  // m_nWidth * m_nHeight * 3

    CPicture() = default;
    CPicture(int width, int height)
        : m_nWidth(width), m_nHeight(height), m_values(std::size_t(width) * height * 3, 0.0) {}
    double* Row(int y) { return m_values.data() + std::size_t(y) * m_nWidth * 3; }
    const double* Row(int y) const { return m_values.data() + std::size_t(y) * m_nWidth * 3; }
};

// A 24-bit DIB as doubles, and back (rounded half up, clipped to 0..255).
CPicture FromDib(CDibImage& image);
void ToDib(const CPicture& picture, CDibImage& image);

CPicture Crop(const CPicture& picture, int left, int top, int width, int height);
// out(x, y) = in(x - dx, y - dy), separable Lanczos of three lobes, edges repeated.
CPicture Shift(const CPicture& picture, double dx, double dy);
// Each output pixel the mean of the 2 x 2 input pixels it covers (odd last row/column dropped).
CPicture BoxDown2(const CPicture& picture);
// Gaussian blur of standard deviation `sigma` pixels, edges repeated.
CPicture GaussianBlur(const CPicture& picture, double sigma);
void AddNoise(CPicture& picture, double sigma, std::mt19937& rng);
// An opaque disc of one colour (B, G, R).
void PaintDisc(CPicture& picture, double cx, double cy, double radius, const double (&bgr)[3]);

// What one frame is made of.
struct CFrameRecipe {
    double m_dx = 0;
    double m_dy = 0;
    bool m_bBlurred = false;
    bool m_bCovered = false;
    double m_dDiscX = 0;  // where the object's centre is on a covered frame, frame pixels
    double m_dDiscY = 0;
};

enum class Variant { Plain, Blur, Object };
bool ParseVariant(const std::string& text, Variant& variant);

// `count` recipes from `seed`: a straight pan between two random points within +-1.2 frame
// pixels each way plus a jitter of up to +-0.3, so that every shift lies within +-1.5. Blur:
// a fifth of the frames (rounded, at least one), chosen at random but never the first, are
// blurred. Object: as many consecutive frames in the middle carry a disc crossing from left
// to right.
std::vector<CFrameRecipe> PlanFrames(int count, Variant variant, std::uint32_t seed, int frameWidth,
                                     int frameHeight);

// The frame that `recipe` describes, before noise. `photograph` has a margin of `margin`
// pixels around the part the frames show (twice the largest shift and then some, so that the
// Lanczos taps never reach the edge).
CPicture RenderFrame(const CPicture& photograph, int margin, const CFrameRecipe& recipe);

// The translation of `image` against `reference` (same size) by phase correlation, refined
// between the pixels on the correlation surface evaluated straight from the spectrum:
// image(x, y) ~ reference(x - dx, y - dy).
struct CShift {
    double m_dx = 0;
    double m_dy = 0;
};
CShift EstimateShift(const CPicture& image, const CPicture& reference);

// PSNR (all three channels) over the pictures less `border` pixels on every side.
double Psnr(const CPicture& a, const CPicture& b, int border);

// How close `image` comes to the photograph: at the photograph's size (scale 2) against its
// part the frames show, at the frames' size (scale 1) against the frame a camera without noise
// would record there. The image is registered to that reference and the reference, not the
// image, is moved: made afresh from the photograph at the shift found, as the frames are, and
// registered again (three rounds), so that neither interpolation nor aliasing at the frames'
// size counts against the image. An image smaller than the photograph's part (or than a
// frame) is taken as its centre, as a result cropped evenly on every side is. The shift, in
// the image's pixels, lands in *found.
double PsnrAgainstPhotograph(const CPicture& image, const CPicture& photograph, int margin,
                             int border, CShift* found);

// Shift-and-add onto a grid `scale` times finer, with the true shifts: each frame sample is
// spread over the fine pixels around the place it shows (Gaussian weights of 0.45 fine pixels)
// and every fine pixel is the weighted mean of what reached it. The output has the frames'
// size times `scale` and is placed as the photograph's part the unmoved frame shows.
CPicture ShiftAndAdd(const std::vector<CPicture>& frames, const std::vector<CShift>& shifts,
                     int scale);

}  // namespace still_scene
