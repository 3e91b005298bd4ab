// BMP files: reading (with the normalisation that lets the rest of the program assume a 40- or
// 12-byte header, bottom-up uncompressed rows and complete data) and writing.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

#include "image/dib_image.h"
#include "platform/atomic_file.h"

namespace {

bool Fail(std::string* why, const std::string& text) {
    if (why) *why = text;
    return false;
}

struct Masks {
    std::uint32_t red, green, blue;
    bool operator==(const Masks&) const = default;
};

// The facts of a header, read from a block whose size is at least the header size.
struct BmpLayout {
    std::uint32_t headerSize = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;  // negative: rows stored top-down
    int bitCount = 0;
    std::uint32_t compression = kBiRgb;
    std::uint32_t colorCount = 0;
    std::uint32_t entryBytes = 4;
    std::size_t tableOffset = 0;  // after the header and any masks that follow it
    Masks masks{};
};

bool ReadLayout(const DibBlock& block, BmpLayout& L, std::string* why) {
    if (block.size() < 4) return Fail(why, "truncated: no bitmap header");
    const std::uint8_t* h = block.data();
    L.headerSize = DibRead32(h);
    const std::uint32_t hs = L.headerSize;
    if (hs != kCoreHeaderSize && hs != 40 && hs != 52 && hs != 56 && hs != 108 && hs != 124)
        return Fail(why, "unsupported: bitmap header of " + std::to_string(hs) + " bytes");
    if (block.size() < hs)
        return Fail(why, "truncated: header of " + std::to_string(hs) + " bytes, file holds " +
                             std::to_string(block.size()));
    if (hs == kCoreHeaderSize) {
        L.width = DibRead16(h + 4);
        L.height = DibRead16(h + 6);
        L.bitCount = DibRead16(h + 10);
        L.entryBytes = 3;
        L.colorCount = L.bitCount <= 8 ? (1u << L.bitCount) : 0;
        L.tableOffset = hs;
    } else {
        L.width = std::int32_t(DibRead32(h + 4));
        L.height = std::int32_t(DibRead32(h + 8));
        L.bitCount = DibRead16(h + 14);
        L.compression = DibRead32(h + 16);
        const std::uint32_t used = DibRead32(h + 32);
        L.colorCount = used != 0 ? used : (L.bitCount <= 8 ? (1u << L.bitCount) : 0);
        L.tableOffset = hs;
        if (L.compression == kBiBitfields) {
            std::size_t maskAt = 40;
            if (hs == 40) {  // the three masks follow the short header
                L.tableOffset = 52;
                if (block.size() < 52) return Fail(why, "truncated: colour masks missing");
            }
            L.masks = {DibRead32(h + maskAt), DibRead32(h + maskAt + 4), DibRead32(h + maskAt + 8)};
        }
    }
    switch (L.bitCount) {
        case 1: case 4: case 8: case 15: case 16: case 24: case 32: break;
        default: return Fail(why, "unsupported: " + std::to_string(L.bitCount) + " bits per pixel");
    }
    if (L.compression == kBiRle8 || L.compression == kBiRle4)
        return Fail(why, "unsupported: run-length compressed bitmap");
    if (L.compression == kBiBitfields && L.bitCount != 16 && L.bitCount != 32)
        return Fail(why, "unsupported: colour masks on a " + std::to_string(L.bitCount) + "-bit bitmap");
    if (L.compression != kBiRgb && L.compression != kBiBitfields)
        return Fail(why, "unsupported: compression type " + std::to_string(L.compression));
    if (L.width <= 0) return Fail(why, "invalid width " + std::to_string(L.width));
    if (L.height == 0 || L.height == std::numeric_limits<std::int32_t>::min())
        return Fail(why, "invalid height " + std::to_string(L.height));
    if (L.width * (L.height < 0 ? -L.height : L.height) > kMaxDibPixels)
        return Fail(why, "unsupported: " + std::to_string(L.width) + " x " +
                             std::to_string(L.height) + " pixels is too large");
    // The table size is a 16-bit quantity in memory; a larger one would misplace the rows.
    if (std::uint64_t(L.colorCount) * L.entryBytes > 0xFFFF)
        return Fail(why, "invalid colour count " + std::to_string(L.colorCount));
    return true;
}

// Standard masks map onto plain 16- (5-5-5) and 32-bit pixels; 5-6-5 is widened to 24 bits.
enum class MaskKind { Plain, Rgb565, Unsupported };

MaskKind ClassifyMasks(const BmpLayout& L) {
    if (L.compression != kBiBitfields) return MaskKind::Plain;
    if (L.bitCount == 32 && L.masks == Masks{0xFF0000, 0xFF00, 0xFF}) return MaskKind::Plain;
    if (L.bitCount == 16 && L.masks == Masks{0x7C00, 0x3E0, 0x1F}) return MaskKind::Plain;
    if (L.bitCount == 16 && L.masks == Masks{0xF800, 0x7E0, 0x1F}) return MaskKind::Rgb565;
    return MaskKind::Unsupported;
}

}  // namespace

HDIB BmpFileToDib(std::FILE* file, std::string* why) {
    auto fail = [why](const std::string& text) {
        if (why) *why = text;
        return HDIB{};
    };
    const long start = std::ftell(file);
    if (start < 0 || std::fseek(file, 0, SEEK_END) != 0) return fail(ErrnoText(errno));
    const long end = std::ftell(file);
    if (end < 0 || std::fseek(file, start, SEEK_SET) != 0) return fail(ErrnoText(errno));
    const std::size_t length = std::size_t(end - start);

    std::uint8_t fileHeader[kFileHeaderSize];
    if (std::fread(fileHeader, 1, kFileHeaderSize, file) != kFileHeaderSize ||
        DibRead16(fileHeader) != 0x4D42)
        return fail("not a BMP file");

    auto block = std::make_unique<DibBlock>(length - kFileHeaderSize);
    if (std::fread(block->data(), 1, block->size(), file) != block->size())
        return fail("read error: " + ErrnoText(errno));

    BmpLayout L;
    if (!ReadLayout(*block, L, why)) return {};
    const MaskKind kind = ClassifyMasks(L);
    if (kind == MaskKind::Unsupported) return fail("unsupported: colour masks of this bitmap");

    const std::uint64_t tableBytes = std::uint64_t(L.colorCount) * L.entryBytes;
    const std::int64_t rows = L.height < 0 ? -L.height : L.height;
    const std::int64_t rowBytes = DibRowBytes(L.width, L.bitCount);
    const std::uint64_t pixelBytes = std::uint64_t(rowBytes) * std::uint64_t(rows);
    if (L.tableOffset + tableBytes > block->size())
        return fail("truncated: header promises " + std::to_string(tableBytes) +
                    " colour table bytes, file holds " +
                    std::to_string(block->size() - L.tableOffset));
    const std::uint64_t pixelsAt = L.tableOffset + tableBytes;
    if (pixelsAt + pixelBytes > block->size())
        return fail("truncated: header promises " + std::to_string(pixelBytes) +
                    " pixel bytes, file holds " + std::to_string(block->size() - pixelsAt));

    // A core header stays as it is where it has a colour table (its 3-byte entries are read
    // as such); without one nothing is lost by moving to the 40-byte form, which can be saved.
    const bool keepCore = L.headerSize == kCoreHeaderSize && L.bitCount <= 8;
    const bool normal = (L.headerSize == 40 || keepCore) && L.compression == kBiRgb && L.height > 0;
    if (normal) return block;

    // Rebuild as a 40-byte header, the colour table, and bottom-up rows.
    const int outBits = kind == MaskKind::Rgb565 ? 24 : L.bitCount;
    const std::int64_t outRowBytes = DibRowBytes(L.width, outBits);
    auto out = std::make_unique<DibBlock>(40 + tableBytes + std::uint64_t(outRowBytes) * rows, 0);
    std::uint8_t* o = out->data();
    if (L.headerSize == kCoreHeaderSize) {
        DibWrite32(o + 4, std::uint32_t(L.width));
        DibWrite16(o + 12, 1);
    } else {
        std::memcpy(o, block->data(), 40);
    }
    DibWrite32(o, 40);
    DibWrite32(o + 8, std::uint32_t(rows));
    DibWrite16(o + 14, std::uint16_t(outBits));
    DibWrite32(o + 16, kBiRgb);
    DibWrite32(o + 20, 0);
    std::memcpy(o + 40, block->data() + L.tableOffset, tableBytes);
    const std::uint8_t* src = block->data() + pixelsAt;
    std::uint8_t* dst = o + 40 + tableBytes;
    for (std::int64_t r = 0; r < rows; ++r) {
        // Memory row r of the output is picture row rows-1-r; a top-down file stores it at rows-1-r.
        const std::int64_t srcRow = L.height < 0 ? rows - 1 - r : r;
        const std::uint8_t* s = src + srcRow * rowBytes;
        std::uint8_t* d = dst + r * outRowBytes;
        if (kind == MaskKind::Rgb565) {
            for (std::int64_t x = 0; x < L.width; ++x) {
                const std::uint16_t v = DibRead16(s + 2 * x);
                d[3 * x + 0] = std::uint8_t((v & 0x1F) << 3);
                d[3 * x + 1] = std::uint8_t(((v >> 5) & 0x3F) << 2);
                d[3 * x + 2] = std::uint8_t(((v >> 11) & 0x1F) << 3);
            }
        } else {
            std::memcpy(d, s, std::size_t(rowBytes));
        }
    }
    return out;
}

CStatus DibToBmpFile(DibBlock* block, std::FILE* file) {
    if (!block || block->size() < 40) return CStatus::Failure("bitmap block is incomplete");
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
    DibWrite32(fileHeader + 10, std::uint32_t(kFileHeaderSize + kInfoHeaderSize + DibColorTableBytes(h)));
    if (std::fwrite(fileHeader, 1, kFileHeaderSize, file) != kFileHeaderSize ||
        std::fwrite(h, 1, bitmapSize, file) != bitmapSize) {
        return CStatus::FromErrno(errno);
    }
    return {};
}

static bool HasExtension(const std::string& path, std::initializer_list<const char*> exts) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    const std::string ext = path.substr(dot);
    return std::any_of(exts.begin(), exts.end(),
                       [&](const char* e) { return strcasecmp(ext.c_str(), e) == 0; });
}

bool IsBmpPath(const std::string& path) { return HasExtension(path, {".bmp", ".dib"}); }
bool IsJpegPath(const std::string& path) { return HasExtension(path, {".jpg", ".jpeg"}); }

int CDibImage::LoadBmp(const std::string& path, std::string* why) {
    if (!IsBmpPath(path)) {
        if (why) *why = "not a .bmp or .dib file name";
        return 0;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        if (why) *why = ErrnoText(errno);
        return 0;
    }
    HDIB block = BmpFileToDib(file, why);
    std::fclose(file);
    return Attach(std::move(block));
}

CStatus CDibImage::SaveBmp(const std::string& path,
                           const std::function<CStatus()>& beforeReplace) {
    if (!m_hDib) return CStatus::Failure("no image");
    if (DibRead32(m_hDib->data()) != kInfoHeaderSize)
        return CStatus::Failure("unsupported: bitmap header is not the 40-byte form");
    CAtomicFile out;
    if (CStatus opened = out.Open(path); !opened) return opened;
    if (CStatus written = DibToBmpFile(m_hDib.get(), out.Stream()); !written) return written;
    return out.Commit(beforeReplace);
}
