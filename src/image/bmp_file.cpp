// BMP files: reading (with the normalisation that lets the rest of the program assume a 40- or
// 12-byte header, bottom-up uncompressed rows and complete data) and writing.
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/dib_image.h"
#include "platform/atomic_file.h"

namespace {

constexpr std::uint32_t kBiAlphaBitfields = 6;
constexpr std::uint32_t kOs2HeaderSize = 64;
constexpr std::uint32_t kOs2ShortHeaderSize = 16;
constexpr std::uint32_t kMaxHeaderSize = 124;

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

}  // namespace

CStatus BmpFileToBlock(std::FILE* file, DibBlock& block) {
    CBmpStream in(file);
    BmpHeader H;
    if (CStatus header = ReadHeader(in, H); !header)
        return header;
    const RowForm form = ChooseForm(H);

    // Colour table: where it is, how many entries the file has and how many the image keeps.
    const std::uint32_t entryBytes = H.bCore ? 3 : 4;
    const std::uint64_t tableAt = kFileHeaderSize + H.headerSize + H.maskBytes;
    std::uint64_t count = H.clrUsed != 0 ? H.clrUsed : (H.bitCount <= 8 ? 1u << H.bitCount : 0);
    if (H.bCore)
        count = H.bitCount <= 8 ? 1u << H.bitCount : 0;
    // The pixels start where the file header says, unless that points into the headers or past
    // the end; a table that would run into them is cut there.
    std::uint64_t pixelsAt = tableAt + count * entryBytes;
    if (H.offBits >= tableAt && !in.EndsBefore(H.offBits)) {
        count = std::min<std::uint64_t>(count, (H.offBits - tableAt) / entryBytes);
        pixelsAt = H.offBits;
    }
    if (in.EndsBefore(pixelsAt))
        return CStatus::Failure("truncated: header promises " + Num(count * entryBytes) +
                                " colour table bytes, file holds " + Num(in.Remaining(tableAt)));
    const std::uint64_t keep =
        H.bitCount <= 8 ? std::min<std::uint64_t>(count, 1u << H.bitCount) : 0;
    if (H.bitCount <= 8 && keep == 0)
        return CStatus::Failure("invalid: no colour table");

    const int outBits = form == RowForm::Copy ? (H.bitCount == 15 ? 16 : H.bitCount)
                        : form == RowForm::Rgb565 || form == RowForm::Masks ? 24
                                                                            : 8;
    const std::int64_t rows = H.height < 0 ? -H.height : H.height;
    const bool bCompressed = form == RowForm::Rle8 || form == RowForm::Rle4;
    const std::int64_t fileRowBytes = DibRowBytes(H.width, H.bitCount == 15 ? 16 : H.bitCount);
    const std::uint64_t pixelBytes = std::uint64_t(fileRowBytes) * std::uint64_t(rows);
    if (!bCompressed && in.EndsBefore(pixelsAt + pixelBytes))
        return CStatus::Failure("truncated: header promises " + Num(pixelBytes) +
                                " pixel bytes, file holds " + Num(in.Remaining(pixelsAt)));

    // A core header with its whole table stays as it is (its 3-byte entries are read as such);
    // everything else becomes the 40-byte form, which can be saved.
    const bool bKeepCore = H.bCore && form == RowForm::Copy && outBits <= 8 && keep == count &&
                           count == (1u << H.bitCount);
    const std::uint32_t outHeader = bKeepCore ? kCoreHeaderSize : kInfoHeaderSize;
    const std::uint32_t outEntry = bKeepCore ? 3 : 4;
    const std::int64_t outRowBytes = DibRowBytes(H.width, outBits);
    // The block may hold an earlier file: every byte below is written, or zeroed where nothing
    // is read into it (header fields, row padding, pixels a run-length stream skips).
    try {
        block.resize(outHeader + keep * outEntry +
                     std::uint64_t(outRowBytes) * std::uint64_t(rows));
    } catch (const std::bad_alloc&) {
        return CStatus::Failure("out of memory for " + std::to_string(H.width) + " x " +
                                std::to_string(rows) + " pixels");
    }
    std::uint8_t* o = block.data();
    std::memset(o, 0, outHeader);
    if (bKeepCore) {
        std::memcpy(o, H.raw, kCoreHeaderSize);
    } else {
        if (!H.bCore)
            std::memcpy(o, H.raw, std::min<std::uint32_t>(H.headerSize, 40));
        DibWrite32(o, kInfoHeaderSize);
        DibWrite32(o + 4, std::uint32_t(H.width));
        DibWrite32(o + 8, std::uint32_t(rows));
        // One plane, whatever the file says: readers ignore the field, and so does every
        // use of the image here.
        DibWrite16(o + 12, 1);
        DibWrite16(o + 14, std::uint16_t(outBits));
        DibWrite32(o + 16, kBiRgb);
        DibWrite32(o + 20, std::uint32_t(std::uint64_t(outRowBytes) * std::uint64_t(rows)));
        DibWrite32(o + 32, std::uint32_t(keep));
        DibWrite32(o + 36, 0);
    }

    // The table: the kept entries, then the rest skipped.
    std::uint8_t* table = o + outHeader;
    for (std::uint64_t i = 0; i < keep; ++i) {
        std::uint8_t e[4] = {};
        if (!in.Read(e, entryBytes))
            return CStatus::Failure("truncated: colour table");
        std::memcpy(table + i * outEntry, e, outEntry);
        if (outEntry == 4)
            table[i * 4 + 3] = 0;
    }
    if (!in.SkipTo(pixelsAt))
        return CStatus::Failure("truncated: pixel data would start at byte " + Num(pixelsAt));

    std::uint8_t* pixels = table + keep * outEntry;
    if (bCompressed) {
        std::memset(pixels, 0, std::size_t(outRowBytes) * std::size_t(rows));
        return DecodeRle(in, form == RowForm::Rle4, H.width, rows, pixels, outRowBytes);
    }
    auto cut = [&](std::int64_t row) {
        return CStatus::Failure("truncated: pixel rows end at row " + std::to_string(row) + " of " +
                                std::to_string(rows));
    };
    if (form == RowForm::Copy && H.height > 0) {
        // Bottom-up rows as the block keeps them: one read for all of them.
        const std::size_t bytes = std::size_t(fileRowBytes) * std::size_t(rows);
        const std::size_t got = in.ReadSome(pixels, bytes);
        if (got != bytes)
            return cut(std::int64_t(got / std::size_t(fileRowBytes)));
        return {};
    }

    std::vector<std::uint8_t> row;
    if (form != RowForm::Copy)
        row.resize(std::size_t(fileRowBytes));
    const Channel red(H.masks[0]), green(H.masks[1]), blue(H.masks[2]);
    const int pixelBytesEach = H.bitCount / 8;
    for (std::int64_t r = 0; r < rows; ++r) {
        // Memory row r is picture row rows-1-r; a top-down file stores that at rows-1-r.
        std::uint8_t* d = pixels + (H.height < 0 ? rows - 1 - r : r) * outRowBytes;
        std::uint8_t* s = form == RowForm::Copy ? d : row.data();
        if (!in.Read(s, std::size_t(fileRowBytes)))
            return cut(r);
        if (form != RowForm::Copy) {
            // The padding after the row's pixels.
            const std::int64_t used = form == RowForm::Index2 ? H.width : 3 * H.width;
            std::memset(d + used, 0, std::size_t(outRowBytes - used));
        }
        switch (form) {
            case RowForm::Index2:
                for (std::int64_t x = 0; x < H.width; ++x)
                    d[x] = std::uint8_t((s[x / 4] >> (6 - 2 * (x % 4))) & 3);
                break;
            case RowForm::Rgb565:
                for (std::int64_t x = 0; x < H.width; ++x) {
                    const std::uint16_t v = DibRead16(s + 2 * x);
                    d[3 * x + 0] = std::uint8_t((v & 0x1F) << 3);
                    d[3 * x + 1] = std::uint8_t(((v >> 5) & 0x3F) << 2);
                    d[3 * x + 2] = std::uint8_t(((v >> 11) & 0x1F) << 3);
                }
                break;
            case RowForm::Masks:
                for (std::int64_t x = 0; x < H.width; ++x) {
                    const std::uint8_t* p = s + pixelBytesEach * x;
                    const std::uint32_t v = pixelBytesEach == 2   ? DibRead16(p)
                                            : pixelBytesEach == 3 ? DibRead16(p) | (p[2] << 16)
                                                                  : DibRead32(p);
                    d[3 * x + 0] = blue(v);
                    d[3 * x + 1] = green(v);
                    d[3 * x + 2] = red(v);
                }
                break;
            default:
                break;
        }
    }
    return {};
}

CResult<HDIB> BmpFileToDib(std::FILE* file) {
    auto block = std::make_unique<DibBlock>();
    if (CStatus read = BmpFileToBlock(file, *block); !read)
        return read;
    return HDIB(std::move(block));
}

CStatus DibToBmpFile(DibBlock* block, std::FILE* file) {
    if (!block || block->size() < 40)
        return CStatus::Failure("bitmap block is incomplete");
    std::uint8_t* h = block->data();
    if (DibRead32(h) != kInfoHeaderSize)
        return CStatus::Failure("unsupported: bitmap header is not the 40-byte form");
    const std::uint32_t compression = DibRead32(h + 16);
    std::uint64_t pixelBytes;
    if (compression == kBiRle8 || compression == kBiRle4) {
        pixelBytes = DibRead32(h + 20);
    } else {
        pixelBytes = std::uint64_t(DibRowBytes(DibHeaderWidth(h), DibHeaderBitCount(h))) *
                     std::uint64_t(std::max(DibHeaderHeight(h), 0));
        DibWrite32(h + 20, std::uint32_t(pixelBytes));
    }
    const std::uint64_t bitmapSize = kInfoHeaderSize + DibColorTableBytes(h) + pixelBytes;
    if (bitmapSize > block->size() || bitmapSize + kFileHeaderSize > 0xFFFFFFFFu)
        return CStatus::Failure("bitmap block is incomplete");

    std::uint8_t fileHeader[kFileHeaderSize] = {'B', 'M'};
    DibWrite32(fileHeader + 2, std::uint32_t(bitmapSize + kFileHeaderSize));
    DibWrite32(fileHeader + 10,
               std::uint32_t(kFileHeaderSize + kInfoHeaderSize + DibColorTableBytes(h)));
    if (std::fwrite(fileHeader, 1, kFileHeaderSize, file) != kFileHeaderSize ||
        std::fwrite(h, 1, bitmapSize, file) != bitmapSize) {
        return CStatus::FromErrno(errno);
    }
    return {};
}

static bool HasExtension(const std::string& path, std::initializer_list<const char*> exts) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    const std::string ext = path.substr(dot);
    return std::any_of(exts.begin(), exts.end(),
                       [&](const char* e) { return strcasecmp(ext.c_str(), e) == 0; });
}

bool IsBmpPath(const std::string& path) {
    return HasExtension(path, {".bmp", ".dib"});
}
bool IsJpegPath(const std::string& path) {
    return HasExtension(path, {".jpg", ".jpeg"});
}

// LoadBmp; with `reuse`, into the block the image holds (a new one when it has none).
static CStatus LoadBmpFile(CDibImage& image, const std::string& path, bool reuse) {
    if (!IsBmpPath(path))
        return CStatus::Failure("not a .bmp or .dib file name");
    CResult<std::FILE*> opened = OpenRegularFile(path);
    if (!opened)
        return opened.Status();
    std::FILE* file = *opened;
    HDIB block = reuse ? std::move(image.m_hDib) : nullptr;
    image.Free();
    if (!block)
        block = std::make_unique<DibBlock>();
    CStatus read = BmpFileToBlock(file, *block);
    std::fclose(file);
    if (!read)
        return read;
    return image.Attach(std::move(block));
}

CStatus CDibImage::LoadBmp(const std::string& path) {
    return LoadBmpFile(*this, path, false);
}

CStatus CDibImage::LoadBmpIntoBlock(const std::string& path) {
    return LoadBmpFile(*this, path, true);
}

CStatus CDibImage::SaveBmp(const std::string& path, const CCommitOptions& commit) {
    if (!m_hDib)
        return CStatus::Failure("no image");
    if (DibRead32(m_hDib->data()) != kInfoHeaderSize)
        return CStatus::Failure("unsupported: bitmap header is not the 40-byte form");
    CAtomicFile out;
    if (CStatus opened = out.Open(path); !opened)
        return opened;
    if (CStatus written = DibToBmpFile(m_hDib.get(), out.Stream()); !written)
        return written;
    return out.Commit(commit);
}
