#include "image/dib_image.h"

#include <algorithm>
#include <cstring>
#include <utility>

std::uint16_t DibRead16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | (p[1] << 8));
}

std::uint32_t DibRead32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

void DibWrite16(std::uint8_t* p, std::uint16_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

void DibWrite32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

static bool IsInfoHeader(const std::uint8_t* header) {
    return DibRead32(header) == kInfoHeaderSize;
}

std::int32_t DibHeaderWidth(const std::uint8_t* header) {
    return IsInfoHeader(header) ? std::int32_t(DibRead32(header + 4)) : DibRead16(header + 4);
}

std::int32_t DibHeaderHeight(const std::uint8_t* header) {
    return IsInfoHeader(header) ? std::int32_t(DibRead32(header + 8)) : DibRead16(header + 6);
}

std::uint16_t DibHeaderBitCount(const std::uint8_t* header) {
    return IsInfoHeader(header) ? DibRead16(header + 14) : DibRead16(header + 10);
}

std::uint16_t DibColorCount(const std::uint8_t* header) {
    if (IsInfoHeader(header)) {
        std::uint32_t used = DibRead32(header + 32);
        if (used != 0)
            return std::uint16_t(used);
    }
    switch (DibHeaderBitCount(header)) {
        case 1:
            return 2;
        case 4:
            return 16;
        case 8:
            return 256;
        default:
            return 0;
    }
}

std::uint16_t DibColorTableBytes(const std::uint8_t* header) {
    return std::uint16_t(DibColorCount(header) * (IsInfoHeader(header) ? 4 : 3));
}

std::uint8_t* DibPixelData(std::uint8_t* header) {
    return header + DibRead32(header) + DibColorTableBytes(header);
}

const std::uint8_t* DibPixelData(const std::uint8_t* header) {
    return header + DibRead32(header) + DibColorTableBytes(header);
}

std::int64_t DibRowBytes(std::int64_t width, int bitCount) {
    return ((width * bitCount + 31) / 32) * 4;
}

bool DibMakePalette(const DibBlock* block, DibPalette& palette) {
    palette.clear();
    if (!block)
        return false;
    const std::uint8_t* header = block->data();
    const int count = DibColorCount(header);
    const int entryBytes = IsInfoHeader(header) ? 4 : 3;
    const std::uint8_t* table = header + DibRead32(header);
    palette.resize(count);
    for (int i = 0; i < count; ++i) {
        const std::uint8_t* e = table + i * entryBytes;
        palette[i] = DibColor{e[2], e[1], e[0]};
    }
    return true;
}

std::uint8_t* CDibImage::Bits() {
    return m_hDib ? DibPixelData(m_hDib->data()) : nullptr;
}

const std::uint8_t* CDibImage::Bits() const {
    return m_hDib ? DibPixelData(std::as_const(*m_hDib).data()) : nullptr;
}

CStatus CDibImage::Create(int width, int height, int bitCount) {
    Free();
    m_nWidth = width;
    m_nHeight = height;
    m_nBitCount = bitCount;
    const std::int64_t rowBytes = DibRowBytes(width, bitCount);
    m_nRowBytes = int(std::clamp<std::int64_t>(rowBytes, 0, INT32_MAX));
    if (width <= 0 || height <= 0 || bitCount <= 0 || bitCount > 32 ||
        std::int64_t(width) * height > kMaxDibPixels) {
        return CStatus::Failure("invalid image size " + std::to_string(width) + " x " +
                                std::to_string(height) + " at " + std::to_string(bitCount) +
                                " bits");
    }
    const std::uint32_t colors = bitCount == 1 ? 2 : bitCount == 4 ? 16 : bitCount == 8 ? 256 : 0;
    try {
        m_hDib = std::make_unique<DibBlock>(std::size_t(44 + std::int64_t(height) * rowBytes), 0);
    } catch (const std::bad_alloc&) {
        return CStatus::Failure("out of memory");
    }
    std::uint8_t* h = m_hDib->data();
    DibWrite32(h, kInfoHeaderSize);
    DibWrite32(h + 4, std::uint32_t(width));
    DibWrite32(h + 8, std::uint32_t(height));
    DibWrite16(h + 12, 1);
    DibWrite16(h + 14, std::uint16_t(bitCount));
    DibWrite32(h + 32, colors);
    DibWrite32(h + 36, colors);
    return {};
}

CStatus CDibImage::Attach(HDIB block) {
    Free();
    if (!block)
        return CStatus::Failure("no bitmap");
    m_hDib = std::move(block);
    const std::uint8_t* h = m_hDib->data();
    m_nWidth = DibHeaderWidth(h);
    m_nHeight = DibHeaderHeight(h);
    m_nBitCount = DibHeaderBitCount(h);
    m_nRowBytes = int(DibRowBytes(m_nWidth, m_nBitCount));
    DibMakePalette(m_hDib.get(), m_hPalette);
    return {};
}

void CDibImage::Free() {
    m_hDib.reset();
    m_hPalette.clear();
}

CStatus CDibImage::ConvertTo24() {
    CStatus unsupported = CStatus::Failure("unsupported: cannot convert " +
                                           std::to_string(m_nBitCount) + "-bit pixels");
    if (!m_hDib)
        return CStatus::Failure("no image");
    if (m_nBitCount == 24)
        return {};
    if (m_nBitCount < 15 && m_hPalette.empty())
        return unsupported;
    if (m_nBitCount != 1 && m_nBitCount != 4 && m_nBitCount != 8 && m_nBitCount != 15 &&
        m_nBitCount != 16 && m_nBitCount != 32)
        return unsupported;
    // The walk below reads 2 bytes a pixel at 15 bits, whose rows the row rule makes shorter
    // than that: refuse any block whose rows do not hold what the walk reads.
    const int step = m_nBitCount == 15 || m_nBitCount == 16 ? 2 : m_nBitCount == 32 ? 4 : 0;
    const std::int64_t readBytes =
        step ? std::int64_t(step) * m_nWidth : DibRowBytes(m_nWidth, m_nBitCount);
    const DibBlock& block = *m_hDib;
    const std::size_t headerBytes = block.size() < 4 ? 0 : DibRead32(block.data());
    if (headerBytes != kInfoHeaderSize && headerBytes != kCoreHeaderSize)
        return unsupported;
    if (block.size() < headerBytes)
        return unsupported;
    const std::uint64_t pixelsAt = headerBytes + DibColorTableBytes(block.data());
    if (m_nWidth <= 0 || m_nHeight <= 0 || readBytes > m_nRowBytes ||
        pixelsAt + std::uint64_t(m_nRowBytes) * std::uint64_t(m_nHeight) > block.size())
        return unsupported;
    CDibImage out;
    if (CStatus made = out.Create(m_nWidth, m_nHeight, 24); !made)
        return made;

    // An index past the table's end has no colour: black.
    const DibPalette& table = m_hPalette;
    auto put = [&table](std::uint8_t* d, unsigned index) {
        const DibColor c = index < table.size() ? table[index] : DibColor{};
        d[0] = c.blue;
        d[1] = c.green;
        d[2] = c.red;
    };
    for (int y = 0; y < m_nHeight; ++y) {
        const std::uint8_t* s = TopRow(y);
        std::uint8_t* d = out.TopRow(y);
        for (int x = 0; x < m_nWidth; ++x, d += 3) {
            switch (m_nBitCount) {
                case 1:
                    put(d, (*s >> (7 - x % 8)) & 1);
                    if (x % 8 == 7)
                        ++s;
                    break;
                case 4:
                    if (x % 2 == 0) {
                        put(d, *s >> 4);
                    } else {
                        put(d, *s & 0x0F);
                        ++s;
                    }
                    break;
                case 8:
                    put(d, *s++);
                    break;
                case 15:
                case 16: {
                    // 5-5-5 without masks; channels are not rescaled (a full channel is 248).
                    const std::uint8_t lo = s[0], hi = s[1];
                    d[0] = std::uint8_t(lo << 3);
                    d[1] = std::uint8_t(((lo >> 2) & 0x38) | (hi << 6));
                    d[2] = std::uint8_t((hi & 0xFC) << 1);
                    s += 2;
                    break;
                }
                case 32:
                    d[0] = s[0];
                    d[1] = s[1];
                    d[2] = s[2];
                    s += 4;
                    break;
            }
        }
    }
    return Attach(std::move(out.m_hDib));
}

CStatus CDibImage::CropCentered(int width, int height) {
    if (!m_hDib || m_nBitCount != 24)
        return CStatus::Failure("not a 24-bit image");
    if (width > m_nWidth || height > m_nHeight)
        return {};
    // Nothing to cut: the image stays as it is, without a second copy of it.
    if (width == m_nWidth && height == m_nHeight)
        return {};
    CDibImage out;
    if (CStatus made = out.Create(width, height, 24); !made)
        return made;
    const int y0 = (m_nHeight - height) / 2;
    const int x0 = (m_nWidth - width) / 2;
    for (int y = 0; y < height; ++y)
        std::memcpy(out.TopRow(y), TopRow(y0 + y) + std::ptrdiff_t(x0) * 3, std::size_t(width) * 3);
    return Attach(std::move(out.m_hDib));
}
