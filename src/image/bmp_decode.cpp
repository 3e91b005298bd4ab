#include "image/bmp_decode.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace bmp_detail {

std::string Num(std::uint64_t v) {
    return std::to_string(v);
}

CStatus ReadHeader(CBmpStream& in, BmpHeader& H) {
    std::uint8_t fileHeader[kFileHeaderSize];
    if (!in.Read(fileHeader, kFileHeaderSize) || DibRead16(fileHeader) != 0x4D42)
        return CStatus::Failure("not a BMP file");
    H.offBits = DibRead32(fileHeader + 10);
    if (!in.Read(H.raw, 4))
        return CStatus::Failure("truncated: no bitmap header");
    const std::uint32_t hs = DibRead32(H.raw);
    H.headerSize = hs;
    if (hs != kCoreHeaderSize && hs != kOs2ShortHeaderSize && hs != 40 && hs != 52 && hs != 56 &&
        hs != kOs2HeaderSize && hs != 108 && hs != 124)
        return CStatus::Failure("unsupported: bitmap header of " + Num(hs) + " bytes");
    if (!in.Read(H.raw + 4, hs - 4))
        return CStatus::Failure("truncated: header of " + Num(hs) + " bytes, file holds " +
                                Num(in.m_nPos - kFileHeaderSize));
    const std::uint8_t* h = H.raw;
    if (hs == kCoreHeaderSize) {
        H.bCore = true;
        H.width = DibRead16(h + 4);
        H.height = DibRead16(h + 6);
        H.bitCount = DibRead16(h + 10);
    } else {
        H.bOs2 = hs == kOs2ShortHeaderSize || hs == kOs2HeaderSize;
        H.width = std::int32_t(DibRead32(h + 4));
        H.height = std::int32_t(DibRead32(h + 8));
        H.bitCount = DibRead16(h + 14);
        // Fields past the end of a short header are zero.
        H.compression = DibRead32(h + 16);
        H.clrUsed = DibRead32(h + 32);
    }
    if (H.bOs2 && H.compression == 3)
        return CStatus::Failure("unsupported: Huffman-coded OS/2 bitmap");
    if (H.bOs2 && H.compression == 4)
        return CStatus::Failure("unsupported: 24-bit run-length coding");
    if (!H.bOs2 && (H.compression == kBiBitfields || H.compression == kBiAlphaBitfields)) {
        const int count = H.compression == kBiAlphaBitfields ? 4 : 3;
        if (hs == 40) {  // the masks follow the short header
            H.maskBytes = 4 * std::uint32_t(count);
            std::uint8_t m[16];
            if (!in.Read(m, H.maskBytes))
                return CStatus::Failure("truncated: colour masks missing");
            for (int i = 0; i < count; ++i) H.masks[i] = DibRead32(m + 4 * i);
        } else {
            for (int i = 0; i < 4 && 40 + 4 * std::uint32_t(i) + 4 <= hs; ++i)
                H.masks[i] = DibRead32(h + 40 + 4 * i);
        }
    }

    switch (H.bitCount) {
        case 1:
        case 2:
        case 4:
        case 8:
        case 15:
        case 16:
        case 24:
        case 32:
            break;
        default:
            return CStatus::Failure("unsupported: " + Num(std::uint64_t(H.bitCount)) +
                                    " bits per pixel");
    }
    switch (H.compression) {
        case kBiRgb:
            break;
        case kBiRle8:
        case kBiRle4:
            if (H.bitCount != (H.compression == kBiRle8 ? 8 : 4))
                return CStatus::Failure("invalid: run-length coding on a " +
                                        Num(std::uint64_t(H.bitCount)) + "-bit bitmap");
            if (H.height < 0)
                return CStatus::Failure("invalid: run-length coded bitmap stored top-down");
            break;
        case kBiBitfields:
        case kBiAlphaBitfields:
            if (H.bitCount != 16 && H.bitCount != 24 && H.bitCount != 32)
                return CStatus::Failure("unsupported: colour masks on a " +
                                        Num(std::uint64_t(H.bitCount)) + "-bit bitmap");
            break;
        case 4:
            return CStatus::Failure("unsupported: JPEG data inside a BMP file");
        case 5:
            return CStatus::Failure("unsupported: PNG data inside a BMP file");
        default:
            return CStatus::Failure("unsupported: compression type " + Num(H.compression));
    }
    if (H.width <= 0)
        return CStatus::Failure("invalid width " + std::to_string(H.width));
    if (H.height == 0 || H.height == std::numeric_limits<std::int32_t>::min())
        return CStatus::Failure("invalid height " + std::to_string(H.height));
    if (H.width * (H.height < 0 ? -H.height : H.height) > kMaxDibPixels)
        return CStatus::Failure("unsupported: " + std::to_string(H.width) + " x " +
                                std::to_string(H.height) + " pixels is too large");
    return {};
}

bool IsMasked(const BmpHeader& H) {
    return H.compression == kBiBitfields || H.compression == kBiAlphaBitfields;
}

RowForm ChooseForm(const BmpHeader& H) {
    if (H.compression == kBiRle8)
        return RowForm::Rle8;
    if (H.compression == kBiRle4)
        return RowForm::Rle4;
    if (H.bitCount == 2)
        return RowForm::Index2;
    if (!IsMasked(H))
        return RowForm::Copy;
    const std::uint32_t r = H.masks[0], g = H.masks[1], b = H.masks[2];
    // The standard masks keep the pixels they always had: 5-5-5 and 8-8-8 as plain pixels,
    // 5-6-5 shifted, none of them rescaled.
    if (H.bitCount == 32 && r == 0xFF0000 && g == 0xFF00 && b == 0xFF)
        return RowForm::Copy;
    if (H.bitCount == 16 && r == 0x7C00 && g == 0x3E0 && b == 0x1F)
        return RowForm::Copy;
    if (H.bitCount == 16 && r == 0xF800 && g == 0x7E0 && b == 0x1F)
        return RowForm::Rgb565;
    return RowForm::Masks;
}

CStatus DecodeRle(CBmpStream& in, bool bRle4, std::int64_t width, std::int64_t rows,
                  std::uint8_t* dst, std::int64_t rowBytes) {
    std::int64_t x = 0, y = 0;
    // Codes that move nothing (zero deltas, runs past the edge) cannot go on for ever: no
    // stream a bitmap needs is longer than this.
    const std::uint64_t limit = in.m_nPos + 4 * std::uint64_t(width * rows + rows) + 1024;
    auto put = [&](std::uint8_t index) {
        if (x < width && y < rows)
            dst[y * rowBytes + x] = index;
        ++x;
    };
    auto streamEnded = [&] {
        // The last row complete counts as the end of the bitmap.
        if (y >= rows || (y == rows - 1 && x >= width))
            return CStatus{};
        return CStatus::Failure("truncated: run-length data ends at row " + std::to_string(y) +
                                " of " + std::to_string(rows));
    };
    while (y < rows) {
        if (in.m_nPos > limit)
            return CStatus::Failure("invalid: run-length data longer than its bitmap");
        const int count = in.Byte();
        if (count < 0)
            return streamEnded();
        const int value = in.Byte();
        if (value < 0)
            return streamEnded();
        if (count > 0) {  // a run of one index (RLE4: two alternating nibbles)
            for (int i = 0; i < count && x < width; ++i)
                put(bRle4 ? std::uint8_t(i % 2 ? value & 0x0F : value >> 4) : std::uint8_t(value));
            continue;
        }
        switch (value) {
            case 0:  // end of line
                x = 0;
                ++y;
                break;
            case 1:  // end of bitmap
                return {};
            case 2: {  // move right and up
                const int dx = in.Byte();
                const int dy = dx < 0 ? -1 : in.Byte();
                if (dy < 0)
                    return streamEnded();
                x += dx;
                y += dy;
                break;
            }
            default: {  // `value` indices as they are, padded to a 16-bit boundary
                const int bytes = bRle4 ? (value + 1) / 2 : value;
                int b = 0;
                for (int i = 0; i < bytes; ++i) {
                    b = in.Byte();
                    if (b < 0)
                        return streamEnded();
                    if (bRle4) {
                        put(std::uint8_t(b >> 4));
                        if (2 * i + 1 < value)
                            put(std::uint8_t(b & 0x0F));
                    } else {
                        put(std::uint8_t(b));
                    }
                }
                if (bytes % 2 && in.Byte() < 0)
                    return streamEnded();
                break;
            }
        }
    }
    return {};
}

}  // namespace bmp_detail
