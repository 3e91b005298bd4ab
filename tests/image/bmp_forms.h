// Helpers for the BMP format and hostile-input tests: byte edits on files made with MakeBmp, and
// pictures written out pixel by pixel to compare a loaded image with.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/bmp_builder.h"
#include "common/temp_dir.h"
#include "image/dib_image.h"

namespace bmp_forms {

using Bytes = std::vector<unsigned char>;

inline void Put32At(Bytes& v, std::size_t at, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = std::uint8_t(x >> (8 * i));
}
inline std::uint32_t Get32At(const Bytes& v, std::size_t at) {
    return v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | (std::uint32_t(v[at + 3]) << 24);
}

// Inserts `data` at `at` (at or before the pixels) and moves the pixel offset and file size on.
inline Bytes InsertBeforePixels(Bytes v, std::size_t at, const Bytes& data) {
    v.insert(v.begin() + std::ptrdiff_t(at), data.begin(), data.end());
    Put32At(v, 2, Get32At(v, 2) + std::uint32_t(data.size()));
    Put32At(v, 10, Get32At(v, 10) + std::uint32_t(data.size()));
    return v;
}

struct Bgr {
    int b = 0, g = 0, r = 0;
    bool operator==(const Bgr&) const = default;
};
inline std::ostream& operator<<(std::ostream& o, const Bgr& p) {
    return o << "(" << p.b << "," << p.g << "," << p.r << ")";
}

// A picture: width, then pixels top row first.
struct Picture {
    int width = 0;
    std::vector<Bgr> pixels;
    int Height() const { return width ? int(pixels.size()) / width : 0; }
};

// Colour-table entry i of the test palettes: blue 30+i, green 20+i, red 10+i (4-byte entries,
// or 3-byte ones for the 12-byte header).
inline Bytes Palette(int count, int entryBytes = 4) {
    Bytes t;
    for (int i = 0; i < count; ++i) {
        t.push_back(std::uint8_t(30 + i));
        t.push_back(std::uint8_t(20 + i));
        t.push_back(std::uint8_t(10 + i));
        if (entryBytes == 4)
            t.push_back(0);
    }
    return t;
}
inline Bgr Entry(int i) {
    return {30 + i, 20 + i, 10 + i};
}

// A picture of palette entries, given as rows of indices, top row first.
inline Picture Indexed(const std::vector<std::vector<int>>& rows) {
    Picture p;
    p.width = int(rows.front().size());
    for (const auto& row : rows)
        for (int i : row) p.pixels.push_back(Entry(i));
    return p;
}

// Loads `path` into a new block and into blocks that held other pictures (filled with 0xA5, one
// smaller and one larger than the file's), and expects the same result, reason and block, byte
// for byte: whatever the reader does not read must be zeroed as in a new block.
inline void ExpectSameInUsedBlocks(const std::string& path) {
    CDibImage fresh;
    const CStatus loaded = fresh.LoadBmp(path);
    for (const int side : {1, 300}) {
        SCOPED_TRACE("block used by a " + std::to_string(side) + "x" + std::to_string(side) +
                     " picture");
        CDibImage used;
        ASSERT_TRUE(used.Create(side, side, 24));
        std::fill(used.m_hDib->begin(), used.m_hDib->end(), std::uint8_t(0xA5));
        const CStatus again = used.LoadBmpIntoBlock(path);
        EXPECT_EQ(again.Ok(), loaded.Ok());
        EXPECT_EQ(again.Reason(), loaded.Reason());
        ASSERT_EQ(bool(used.m_hDib), bool(fresh.m_hDib));
        if (!fresh.m_hDib)
            continue;
        EXPECT_EQ(*used.m_hDib, *fresh.m_hDib);
        EXPECT_EQ(used.m_hPalette.size(), fresh.m_hPalette.size());
        EXPECT_EQ(
            std::tuple(used.m_nWidth, used.m_nHeight, used.m_nRowBytes, used.m_nBitCount),
            std::tuple(fresh.m_nWidth, fresh.m_nHeight, fresh.m_nRowBytes, fresh.m_nBitCount));
    }
}

// Loads `bytes` as a BMP file; on success converts to 24 bits. Reading into a used block is
// checked to give the same on the way.
inline CStatus LoadAndConvert(const TempDir& dir, const Bytes& bytes, CDibImage& image) {
    WriteAllBytes(dir.File("case.bmp"), bytes);
    ExpectSameInUsedBlocks(dir.File("case.bmp"));
    if (CStatus loaded = image.LoadBmp(dir.File("case.bmp")); !loaded)
        return loaded;
    if (!image.ConvertTo24())
        return CStatus::Failure("ConvertTo24 failed");
    return {};
}

// The first difference between a 24-bit image and a picture, or empty when they agree.
inline std::string Difference(CDibImage& image, const Picture& want) {
    if (image.m_nWidth != want.width || image.m_nHeight != want.Height())
        return "size " + std::to_string(image.m_nWidth) + "x" + std::to_string(image.m_nHeight) +
               ", want " + std::to_string(want.width) + "x" + std::to_string(want.Height());
    for (int y = 0; y < want.Height(); ++y)
        for (int x = 0; x < want.width; ++x) {
            const std::uint8_t* p = image.TopRow(y) + 3 * x;
            const Bgr got{p[0], p[1], p[2]};
            const Bgr& w = want.pixels[std::size_t(y * want.width + x)];
            if (!(got == w)) {
                std::ostringstream o;
                o << "pixel " << x << "," << y << " is " << got << ", want " << w;
                return o.str();
            }
        }
    return {};
}

}  // namespace bmp_forms
