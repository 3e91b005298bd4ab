#include "resample/resize_dib.h"

#include <cstdint>

#include "resample/image_header.h"
#include "resample/ipl_resize.h"
#include "resample/layer_status.h"

namespace {

// True when the block holds every pixel byte the header promises.
bool CoversPixels(const DibBlock& block, const ImageHeader& image) {
    const std::int64_t start = image.imageData - block.data();
    return start >= 0 && start + std::int64_t(image.imageSize) <= std::int64_t(block.size());
}

// Translates both images, runs resize(layer, srcHeader, dstHeader) with a status record of its
// own, releases the headers.
template <class LayerResize>
CStatus ResizeThroughLayer(const CDibImage& src, CDibImage& dst, const LayerResize& resize) {
    if (!src.m_hDib || !dst.m_hDib)
        return CStatus::Failure("no image to resize");
    if (&src == &dst)
        return CStatus::Failure("an image cannot be resized into itself");
    if (src.m_hDib->size() < kInfoHeaderSize || dst.m_hDib->size() < kInfoHeaderSize) {
        return CStatus::Failure("image block shorter than its header");
    }

    // The call's own status record: its first report becomes the failure's reason, and a bad
    // argument fails this call instead of ending the process.
    std::string report;
    CLayerStatus layer([&report](int status, const char* funcName, const char* context, const char*,
                                 int) {
        if (report.empty() && status != kStsBackTrace)
            report = std::string(funcName) + ": " + LayerStatusText(status) + " (" + context + ")";
        return status;
    });
    bool ok = false;
    int cloneData = 0;
    // The source header is only read through; the layer's type has no const form.
    ImageHeader* srcImage =
        iplTranslateDIB(layer, const_cast<std::uint8_t*>(src.m_hDib->data()), &cloneData);
    ImageHeader* dstImage =
        srcImage ? iplTranslateDIB(layer, dst.m_hDib->data(), &cloneData) : nullptr;
    if (srcImage && dstImage) {
        if (!CoversPixels(*src.m_hDib, *srcImage) || !CoversPixels(*dst.m_hDib, *dstImage)) {
            report = "image block shorter than its header says";
        } else {
            resize(layer, srcImage, dstImage);
            ok = layer.Status() >= 0;
        }
    }
    iplReleaseParts(srcImage, kReleaseHeader);
    iplReleaseParts(dstImage, kReleaseHeader);
    if (!ok)
        return CStatus::Failure(report.empty() ? "resize failed" : report);
    return {};
}

}  // namespace

CStatus ResizeDib(const CDibImage& src, CDibImage& dst) {
    return ResizeDib(CResampleOptions{}, src, dst);
}

CStatus ResizeDib(const CResampleOptions& options, const CDibImage& src, CDibImage& dst) {
    return ResizeThroughLayer(
        src, dst, [&](CLayerStatus& layer, ImageHeader* srcImage, ImageHeader* dstImage) {
            iplResize(layer, srcImage, dstImage, dst.m_nWidth, src.m_nWidth, dst.m_nHeight,
                      src.m_nHeight, IPL_INTER_CUBIC, options);
        });
}

CStatus ResizeDibWindow(const CDibImage& src, int fullWidth, int fullHeight, int x0, int y0,
                        CDibImage& dst) {
    return ResizeDibWindow(CResampleOptions{}, src, fullWidth, fullHeight, x0, y0, dst);
}

CStatus ResizeDibWindow(const CResampleOptions& options, const CDibImage& src, int fullWidth,
                        int fullHeight, int x0, int y0, CDibImage& dst) {
    if (dst.m_hDib && (fullWidth <= 0 || fullHeight <= 0 || x0 < 0 || y0 < 0 ||
                       std::int64_t(x0) + dst.m_nWidth > fullWidth ||
                       std::int64_t(y0) + dst.m_nHeight > fullHeight)) {
        return CStatus::Failure("the window does not lie within the resized image");
    }
    // The layer counts rows in memory order, bottom up.
    const int memoryRow = fullHeight - y0 - dst.m_nHeight;
    return ResizeThroughLayer(
        src, dst, [&](CLayerStatus& layer, ImageHeader* srcImage, ImageHeader* dstImage) {
            iplZoomWindow(layer, srcImage, dstImage, fullWidth, src.m_nWidth, fullHeight,
                          src.m_nHeight, IPL_INTER_CUBIC, x0, memoryRow, options);
        });
}
