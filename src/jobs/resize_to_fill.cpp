#include "jobs/resize_to_fill.h"

#include <climits>

#include "resample/resize_dib.h"

namespace {

// x + 0.5 truncated toward zero; 0 (an impossible size) when it does not fit an int.
int RoundHalfUp(double x) {
    const double r = x + 0.5;
    return r > 0.0 && r < double(INT_MAX) ? int(r) : 0;
}

}  // namespace

CStatus ResizeToFill(const CDibImage& src, CDibImage& dst, int width, int height,
                     const CResampleOptions& options) {
    if (!src.m_hDib || src.m_nWidth <= 0 || src.m_nHeight <= 0)
        return CStatus::Failure("no image to resize");
    if (width <= 0 || height <= 0) {
        dst.Free();
        return CStatus::Failure("invalid size " + std::to_string(width) + " x " +
                                std::to_string(height));
    }
    // Scale by the larger ratio, so that the image covers width x height and one side matches.
    const double rw = double(width) / src.m_nWidth;
    const double rh = double(height) / src.m_nHeight;
    int scaledWidth = width;
    int scaledHeight = height;
    if (rw > rh) {
        scaledHeight = RoundHalfUp(src.m_nHeight * rw);
    } else {
        scaledWidth = RoundHalfUp(src.m_nWidth * rh);
    }
    // The centred part: (scaled - requested) / 2 columns cut at the left and rows at the top, the
    // rest at the right and bottom. Only that part of the scaled image is computed, straight into
    // `dst`, so memory follows the result however large the scaled image would be.
    // Every failure leaves `dst` empty, so that the caller never writes a blank picture.
    CStatus status = scaledWidth < width || scaledHeight < height
                         ? CStatus::Failure("the scaled image would not cover the size")
                         : dst.Create(width, height, 24);
    if (status)
        status = ResizeDibWindow(options, src, scaledWidth, scaledHeight, (scaledWidth - width) / 2,
                                 (scaledHeight - height) / 2, dst);
    if (!status)
        dst.Free();
    return status;
}
