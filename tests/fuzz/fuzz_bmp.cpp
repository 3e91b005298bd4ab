// BMP reader: any bytes either give a block that holds every row its header describes and
// converts to 24 bits, or no block.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/dib_image.h"

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

// Run-length files are the one form whose image size the data does not bound: keep the fuzzer
// on small ones so that each run stays fast.
bool Huge(const std::uint8_t* data, std::size_t size) {
    if (size < 34 || Le32(data + 14) < 40)
        return false;
    const std::int64_t w = std::int32_t(Le32(data + 18)), h = std::int32_t(Le32(data + 22));
    const std::uint32_t compression = Le32(data + 30);
    return (compression == 1 || compression == 2) && std::llabs(w * h) > (1 << 16);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || Huge(data, size))
        return 0;
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!file)
        return 0;
    CResult<HDIB> block = BmpFileToDib(file);
    std::fclose(file);
    if (!block) {
        if (block.Reason().empty())
            std::abort();  // every refusal says why
        return 0;
    }
    CDibImage image;
    if (!image.Attach(std::move(*block)))
        std::abort();  // what the reader made, the image takes
    if (image.m_nWidth <= 0 || image.m_nHeight <= 0)
        std::abort();
    const std::size_t need = std::size_t(image.Bits() - image.m_hDib->data()) +
                             std::size_t(image.m_nRowBytes) * std::size_t(image.m_nHeight);
    if (need > image.m_hDib->size())
        std::abort();
    const int width = image.m_nWidth, height = image.m_nHeight;
    if (!image.ConvertTo24() || image.m_nBitCount != 24 || image.m_nWidth != width ||
        image.m_nHeight != height)
        std::abort();
    // Touch the last byte of the top row: the converted rows are all there.
    volatile std::uint8_t last = image.TopRow(0)[3 * width - 1];
    (void)last;
    return 0;
}
