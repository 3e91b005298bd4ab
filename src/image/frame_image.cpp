#include "image/frame_image.h"

#include <cstring>
#include <string>

CStatus FrameToDib(const SFrame& frame, CDibImage& image) {
    if (image.m_nWidth != frame.width || image.m_nHeight != frame.height ||
        image.m_nBitCount != 24 || !image.Bits()) {
        if (!image.Create(frame.width, frame.height, 24))
            return CStatus::Failure("out of memory for a frame of " + std::to_string(frame.width) +
                                    "x" + std::to_string(frame.height));
    }
    const std::size_t rowBytes = std::size_t(frame.width) * 3;
    for (int y = 0; y < frame.height; ++y)
        std::memcpy(image.TopRow(y), frame.bgr.data() + std::size_t(y) * rowBytes, rowBytes);
    return {};
}

void DibToFrame(const CDibImage& image, SFrame& frame) {
    frame.width = image.m_nWidth;
    frame.height = image.m_nHeight;
    const std::size_t rowBytes = std::size_t(frame.width) * 3;
    frame.bgr.resize(rowBytes * std::size_t(frame.height));
    const std::uint8_t* bits = image.Bits();
    // Rows are stored bottom-up, each padded to four bytes.
    for (int y = 0; y < frame.height; ++y)
        std::memcpy(frame.bgr.data() + std::size_t(y) * rowBytes,
                    bits + std::ptrdiff_t(image.m_nHeight - 1 - y) * image.m_nRowBytes, rowBytes);
}
