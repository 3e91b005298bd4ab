#include "resample/resize_dib.h"

#include <cstdint>

#include "resample/image_header.h"
#include "resample/ipl_resize.h"
#include "resample/layer_status.h"

namespace {

// The first report of this thread's call, as "function: condition".
thread_local std::string* g_firstReport = nullptr;

int RecordReport(int status, const char* funcName, const char* context, const char*, int) {
    if (g_firstReport && g_firstReport->empty() && status != kStsBackTrace) {
        *g_firstReport =
            std::string(funcName) + ": " + LayerStatusText(status) + " (" + context + ")";
    }
    return status;
}

// Routes layer reports to RecordReport for its lifetime, so that a bad argument fails this call
// instead of ending the process, as the layer's default handler would.
class CCatchLayerErrors {
public:
    explicit CCatchLayerErrors(std::string* report)
        : m_previous(SetLayerErrorHandler(RecordReport)) {
        g_firstReport = report;
        SetLayerStatus(kStsOk);
    }
    ~CCatchLayerErrors() {
        g_firstReport = nullptr;
        SetLayerErrorHandler(m_previous);
    }
    CCatchLayerErrors(const CCatchLayerErrors&) = delete;
    CCatchLayerErrors& operator=(const CCatchLayerErrors&) = delete;

private:
    LayerErrorHandler m_previous;
};

// True when the block holds every pixel byte the header promises.
bool CoversPixels(const DibBlock& block, const ImageHeader& image) {
    const std::int64_t start = image.imageData - block.data();
    return start >= 0 && start + std::int64_t(image.imageSize) <= std::int64_t(block.size());
}

// Translates both images, runs resize(srcHeader, dstHeader) under the error catcher, releases the
// headers.
template <class LayerResize>
CStatus ResizeThroughLayer(const CDibImage& src, CDibImage& dst, const LayerResize& resize) {
    if (!src.m_hDib || !dst.m_hDib)
        return CStatus::Failure("no image to resize");
    if (&src == &dst)
        return CStatus::Failure("an image cannot be resized into itself");
    if (src.m_hDib->size() < kInfoHeaderSize || dst.m_hDib->size() < kInfoHeaderSize) {
        return CStatus::Failure("image block shorter than its header");
    }

    std::string report;
    bool ok = false;
    {
        CCatchLayerErrors catcher(&report);
        int cloneData = 0;
        // The source header is only read through; the layer's type has no const form.
        ImageHeader* srcImage =
            iplTranslateDIB(const_cast<std::uint8_t*>(src.m_hDib->data()), &cloneData);
        ImageHeader* dstImage =
            srcImage ? iplTranslateDIB(dst.m_hDib->data(), &cloneData) : nullptr;
        if (srcImage && dstImage) {
            if (!CoversPixels(*src.m_hDib, *srcImage) || !CoversPixels(*dst.m_hDib, *dstImage)) {
                report = "image block shorter than its header says";
            } else {
                resize(srcImage, dstImage);
                ok = LayerStatus() >= 0;
            }
        }
        iplReleaseParts(srcImage, kReleaseHeader);
        iplReleaseParts(dstImage, kReleaseHeader);
    }
    if (!ok)
        return CStatus::Failure(report.empty() ? "resize failed" : report);
    return {};
}

}  // namespace

CStatus ResizeDib(const CDibImage& src, CDibImage& dst) {
    return ResizeThroughLayer(src, dst, [&](ImageHeader* srcImage, ImageHeader* dstImage) {
        iplResize(srcImage, dstImage, dst.m_nWidth, src.m_nWidth, dst.m_nHeight, src.m_nHeight,
                  IPL_INTER_CUBIC);
    });
}

CStatus ResizeDibWindow(const CDibImage& src, int fullWidth, int fullHeight, int x0, int y0,
                        CDibImage& dst) {
    if (dst.m_hDib && (fullWidth <= 0 || fullHeight <= 0 || x0 < 0 || y0 < 0 ||
                       std::int64_t(x0) + dst.m_nWidth > fullWidth ||
                       std::int64_t(y0) + dst.m_nHeight > fullHeight)) {
        return CStatus::Failure("the window does not lie within the resized image");
    }
    // The layer counts rows in memory order, bottom up.
    const int memoryRow = fullHeight - y0 - dst.m_nHeight;
    return ResizeThroughLayer(src, dst, [&](ImageHeader* srcImage, ImageHeader* dstImage) {
        iplZoomWindow(srcImage, dstImage, fullWidth, src.m_nWidth, fullHeight, src.m_nHeight,
                      IPL_INTER_CUBIC, x0, memoryRow);
    });
}
