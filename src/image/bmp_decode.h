// The reading side of BMP files, below BmpFileToBlock: the stream, the headers and the
// run-length decoder. Only bmp_file.cpp uses it.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "image/dib_image.h"
#include "platform/status.h"

namespace bmp_detail {

inline constexpr std::uint32_t kBiAlphaBitfields = 6;
inline constexpr std::uint32_t kOs2HeaderSize = 64;
inline constexpr std::uint32_t kOs2ShortHeaderSize = 16;
inline constexpr std::uint32_t kMaxHeaderSize = 124;

// Reads a BMP from a stream, counting positions from its "BM" mark. Only what the headers ask
// for is read; nothing is allocated after the stream's length.
class CBmpStream {
public:
    explicit CBmpStream(std::FILE* file) : m_file(file) {
        // The length is only used to refuse a file that cannot hold what its header promises
        // before anything is allocated for it; pipes have none.
        const off_t start = ftello(file);
        if (start >= 0 && fseeko(file, 0, SEEK_END) == 0) {
            const off_t end = ftello(file);
            if (fseeko(file, start, SEEK_SET) == 0 && end >= start) {
                m_nLength = std::uint64_t(end - start);
                m_bHaveLength = true;
            }
        }
    }

    bool Read(void* dst, std::size_t n) { return ReadSome(dst, n) == n; }
    // Reads up to n bytes; the count read.
    std::size_t ReadSome(void* dst, std::size_t n) {
        const std::size_t got = std::fread(dst, 1, n, m_file);
        m_nPos += got;
        return got;
    }
    // The next byte, or -1 at the end of the stream.
    int Byte() {
        const int c = std::getc(m_file);
        if (c == EOF)
            return -1;
        ++m_nPos;
        return c;
    }
    // Moves forward to `pos`; false when the stream ends first.
    bool SkipTo(std::uint64_t pos) {
        if (pos < m_nPos)
            return false;
        if (pos == m_nPos)
            return true;
        if (m_bHaveLength && pos > m_nLength)
            return false;
        if (m_bHaveLength && fseeko(m_file, off_t(pos - m_nPos), SEEK_CUR) == 0) {
            m_nPos = pos;
            return true;
        }
        std::uint8_t sink[4096];
        while (m_nPos < pos) {
            const std::size_t n = std::size_t(std::min<std::uint64_t>(sizeof sink, pos - m_nPos));
            if (!Read(sink, n))
                return false;
        }
        return true;
    }
    // True when the stream is known to end before `pos`.
    bool EndsBefore(std::uint64_t pos) const { return m_bHaveLength && pos > m_nLength; }
    std::uint64_t Remaining(std::uint64_t from) const {
        return m_nLength > from ? m_nLength - from : 0;
    }

    std::uint64_t m_nPos = 0;

private:
    std::FILE* m_file;
    std::uint64_t m_nLength = 0;
    bool m_bHaveLength = false;
};

// What a file's headers say, before any pixel is read.
struct BmpHeader {
    std::uint32_t headerSize = 0;
    bool bCore = false;  // 12-byte header: 16-bit sizes, 3-byte colour entries
    bool bOs2 = false;   // OS/2 2.x header (16 or 64 bytes): compressions 3 and 4 mean other things
    std::int64_t width = 0;
    std::int64_t height = 0;  // negative: rows stored top-down
    int bitCount = 0;
    std::uint32_t compression = kBiRgb;
    std::uint32_t clrUsed = 0;
    std::uint32_t masks[4] = {};  // red, green, blue, alpha
    std::uint32_t maskBytes = 0;  // masks stored after a 40-byte header
    std::uint32_t offBits = 0;
    std::uint8_t raw[kMaxHeaderSize] = {};
};

// How the pixel rows of the file become the rows of the block.
enum class RowForm {
    Copy,    // file rows are block rows (15 bits are stored as 16)
    Index2,  // 2 bits per pixel, widened to one byte per index
    Rle8,    // run-length coded indices, decoded to one byte per index
    Rle4,    // run-length coded nibbles, decoded to one byte per index
    Rgb565,  // 5-6-5 masks, widened to 24 bits by shifting (as loaded since the start)
    Masks,   // any other masks, each channel scaled to 8 bits
};

// Decimal text of a byte count, for the reasons of a truncated file.
std::string Num(std::uint64_t v);

// Reads the file header and the info header (with any masks after it) and checks what they
// promise before a pixel is read.
CStatus ReadHeader(CBmpStream& in, BmpHeader& H);
bool IsMasked(const BmpHeader& H);
RowForm ChooseForm(const BmpHeader& H);

// One channel of a masked pixel: the bits under the mask, scaled from their range to 0..255.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint64_t max = 0;

    explicit Channel(std::uint32_t m) : mask(m) {
        if (m == 0)
            return;
        while (!(m & 1)) m >>= 1, ++shift;
        max = m;
    }
    std::uint8_t operator()(std::uint32_t pixel) const {
        if (max == 0)
            return 0;
        const std::uint64_t v = (pixel & mask) >> shift;
        return std::uint8_t((v * 255 + max / 2) / max);
    }
};

// Decodes run-length coded indices into bottom-up rows of one byte per pixel (already zero:
// pixels the stream skips keep index 0). Stops at the end-of-bitmap code or once every row is
// done; runs past the right edge are cut there. A stream that ends before either is truncated.
CStatus DecodeRle(CBmpStream& in, bool bRle4, std::int64_t width, std::int64_t rows,
                  std::uint8_t* dst, std::int64_t rowBytes);

}  // namespace bmp_detail
