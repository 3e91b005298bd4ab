// BMP files: reading (with the normalisation that lets the rest of the program assume a 40- or
// 12-byte header, bottom-up uncompressed rows and complete data) and writing.
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/bmp_decode.h"
#include "image/dib_image.h"
#include "platform/atomic_file.h"

using bmp_detail::BmpHeader;
using bmp_detail::CBmpStream;
using bmp_detail::Channel;
using bmp_detail::ChooseForm;
using bmp_detail::DecodeRle;
using bmp_detail::Num;
using bmp_detail::ReadHeader;
using bmp_detail::RowForm;

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
bool IsPngPath(const std::string& path) {
    return HasExtension(path, {".png"});
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
