// Reading BMP files written by other tools, and refusing malformed ones safely.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "bmp_forms.h"
#include "common/bmp_builder.h"
#include "common/temp_dir.h"
#include "image/dib_image.h"

namespace {

// A 3 x 2 picture, given top row first, as B, G, R triples.
const std::uint8_t kPicture[2][3][3] = {{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}},
                                        {{11, 12, 13}, {14, 15, 16}, {17, 18, 19}}};

// Pixel rows of kPicture in file order for a given depth writer.
template <typename PutPixel>
std::vector<std::uint8_t> Rows(int bitCount, bool topDown, PutPixel put) {
    const int rowBytes = FileRowBytes(3, bitCount);
    std::vector<std::uint8_t> out;
    for (int r = 0; r < 2; ++r) {
        const int y = topDown ? r : 1 - r;
        std::vector<std::uint8_t> row(std::size_t(rowBytes), 0);
        for (int x = 0; x < 3; ++x) put(row.data(), x, kPicture[y][x]);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

void Put24(std::uint8_t* row, int x, const std::uint8_t* p) {
    std::memcpy(row + 3 * x, p, 3);
}
void Put32(std::uint8_t* row, int x, const std::uint8_t* p) {
    std::memcpy(row + 4 * x, p, 3);
    row[4 * x + 3] = 0xAA;
}
void Put565(std::uint8_t* row, int x, const std::uint8_t* p) {
    // Keep the values exactly representable: b and r use 5 bits, g 6 bits.
    const std::uint16_t v = std::uint16_t(((p[2] >> 3) << 11) | ((p[1] >> 2) << 5) | (p[0] >> 3));
    row[2 * x] = std::uint8_t(v), row[2 * x + 1] = std::uint8_t(v >> 8);
}

std::vector<std::uint8_t> Table8(int count) {
    return std::vector<std::uint8_t>(std::size_t(count) * 4, 9);
}

void ExpectPicture(CDibImage& image, int shiftB = 0, int shiftG = 0, int shiftR = 0) {
    ASSERT_EQ(image.m_nWidth, 3);
    ASSERT_EQ(image.m_nHeight, 2);
    ASSERT_TRUE(image.ConvertTo24());
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const std::uint8_t* p = image.TopRow(y) + 3 * x;
            const std::uint8_t* e = kPicture[y][x];
            EXPECT_EQ(p[0], (e[0] >> shiftB) << shiftB) << x << "," << y;
            EXPECT_EQ(p[1], (e[1] >> shiftG) << shiftG) << x << "," << y;
            EXPECT_EQ(p[2], (e[2] >> shiftR) << shiftR) << x << "," << y;
        }
}

TEST(BmpRead, ModernFormsAreNormalised) {
    TempDir dir;
    struct Case {
        const char* what;
        BmpLayout bmp;
        int shift[3];
    };
    auto bmp = [](std::uint32_t headerSize, std::int32_t height, std::uint16_t bits,
                  std::uint32_t compression, std::vector<std::uint32_t> masks,
                  std::vector<std::uint8_t> pixels) {
        BmpLayout s;
        s.headerSize = headerSize, s.width = 3, s.height = height, s.bitCount = bits;
        s.compression = compression, s.masks = std::move(masks), s.pixels = std::move(pixels);
        return s;
    };
    const std::vector<Case> cases = {
        {"top-down 24", bmp(40, -2, 24, 0, {}, Rows(24, true, Put24)), {0, 0, 0}},
        {"core 24", bmp(12, 2, 24, 0, {}, Rows(24, false, Put24)), {0, 0, 0}},
        {"V4 header", bmp(108, 2, 24, 0, {}, Rows(24, false, Put24)), {0, 0, 0}},
        {"V5 header top-down", bmp(124, -2, 24, 0, {}, Rows(24, true, Put24)), {0, 0, 0}},
        {"32 bitfields after short header",
         bmp(40, 2, 32, 3, {0xFF0000, 0xFF00, 0xFF}, Rows(32, false, Put32)),
         {0, 0, 0}},
        {"V5 32 bitfields",
         bmp(124, -2, 32, 3, {0xFF0000, 0xFF00, 0xFF}, Rows(32, true, Put32)),
         {0, 0, 0}},
        {"565 bitfields",
         bmp(40, 2, 16, 3, {0xF800, 0x7E0, 0x1F}, Rows(16, false, Put565)),
         {3, 2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteAllBytes(dir.File("m.bmp"), MakeBmp(c.bmp));
        CDibImage image;
        bmp_forms::ExpectSameInUsedBlocks(dir.File("m.bmp"));
        const CStatus status = image.LoadBmp(dir.File("m.bmp"));
        ASSERT_TRUE(status) << status.Reason();
        EXPECT_EQ(DibRead32(image.m_hDib->data()), 40u);
        ExpectPicture(image, c.shift[0], c.shift[1], c.shift[2]);
        // The normalised image saves as an ordinary file.
        EXPECT_TRUE(image.SaveBmp(dir.File("out.bmp")).Ok());
    }
}

TEST(BmpRead, MalformedFilesAreRefused) {
    TempDir dir;
    auto valid = [] {
        BmpLayout s;
        s.width = 350, s.height = 240;
        s.pixels.assign(252480, 0);
        return s;
    };
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        const char* reason;
    };
    std::vector<Case> cases;
    {
        BmpLayout s = valid();
        s.pixels.resize(20000);
        cases.push_back({"truncated pixels", MakeBmp(s),
                         "truncated: header promises 252480 pixel bytes, file holds 20000"});
    }
    {  // The file ends inside the table, and the pixel offset points past the end.
        BmpLayout s;
        s.width = 2;
        s.bitCount = 8;
        s.table = Table8(10);
        auto bytes = MakeBmp(s);
        bytes[10] = 0xFF;
        cases.push_back(
            {"truncated table", bytes, "truncated: header promises 1024 colour table bytes"});
    }
    for (std::int32_t w : {0, -5}) {
        BmpLayout s;
        s.width = w;
        s.pixels = {0, 0, 0, 0};
        cases.push_back({"bad width", MakeBmp(s), "invalid width"});
    }
    {
        BmpLayout s;
        s.height = 0;
        cases.push_back({"zero height", MakeBmp(s), "invalid height"});
    }
    {
        BmpLayout s;
        s.bitCount = 64;
        s.pixels.assign(8, 0);
        cases.push_back({"64 bits", MakeBmp(s), "unsupported: 64 bits per pixel"});
    }
    for (std::uint32_t rle : {1u, 2u}) {
        BmpLayout s;
        s.bitCount = rle == 1 ? 4 : 8;
        s.compression = rle;
        s.table.assign(rle == 1 ? 64 : 1024, 0);
        s.pixels.assign(4, 0);
        cases.push_back({"rle on the wrong depth", MakeBmp(s), "invalid: run-length coding on a"});
    }
    {
        BmpLayout s;
        s.bitCount = 8;
        s.compression = 1;
        s.height = -1;
        s.table.assign(1024, 0);
        s.pixels = {0, 1};
        cases.push_back(
            {"top-down rle", MakeBmp(s), "invalid: run-length coded bitmap stored top-down"});
    }
    {
        BmpLayout s;
        s.bitCount = 8;
        s.compression = 3;
        s.masks = {0xE0, 0x1C, 0x3};
        s.pixels.assign(4, 0);
        cases.push_back({"masks on 8 bits", MakeBmp(s), "unsupported: colour masks on a 8-bit"});
    }
    {
        BmpLayout s;
        s.width = 65536;
        s.height = 65536;
        s.pixels.assign(16, 0);
        cases.push_back({"huge", MakeBmp(s), "too large"});
    }
    {
        BmpLayout s;
        s.width = 1000;
        s.height = 1000;
        s.pixels.assign(16, 0);
        cases.push_back({"promises much", MakeBmp(s), "truncated"});
    }
    {
        BmpLayout s;
        s.bitCount = 8;
        s.clrUsed = 0x10000;
        s.pixels.assign(4, 0);
        cases.push_back({"no room for a table", MakeBmp(s), "invalid: no colour table"});
    }
    {
        BmpLayout s;
        s.headerSize = 200;
        cases.push_back({"unknown header", MakeBmp(s), "unsupported: bitmap header of 200 bytes"});
    }
    cases.push_back(
        {"only file header", {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "truncated"});
    cases.push_back({"short", {'B', 'M', 1}, "not a BMP file"});
    cases.push_back({"empty", {}, "not a BMP file"});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteAllBytes(dir.File("bad.bmp"), c.bytes);
        bmp_forms::ExpectSameInUsedBlocks(dir.File("bad.bmp"));
        CDibImage image;
        ASSERT_TRUE(image.Create(2, 2, 24));
        const CStatus status = image.LoadBmp(dir.File("bad.bmp"));
        EXPECT_FALSE(status);
        EXPECT_FALSE(image.m_hDib);
        EXPECT_NE(status.Reason().find(c.reason), std::string::npos) << status.Reason();
    }
}

// Random damage to valid files of every depth must never read out of bounds (the sanitizer
// run checks that); whatever loads must convert and have all its rows.
TEST(BmpRead, DamagedFilesNeverReadOutOfBounds) {
    TempDir dir;
    std::mt19937 rng(12345);
    std::vector<std::vector<unsigned char>> seeds;
    for (std::uint16_t bits : {1, 4, 8, 16, 24, 32}) {
        BmpLayout s;
        s.width = 7, s.height = 5, s.bitCount = bits;
        if (bits <= 8)
            s.table.assign(std::size_t(4) << bits, 0x40);
        s.pixels.assign(std::size_t(FileRowBytes(7, bits)) * 5, 0x5A);
        seeds.push_back(MakeBmp(s));
        s.headerSize = 124;
        s.height = -5;
        seeds.push_back(MakeBmp(s));
    }
    int loaded = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<unsigned char> bytes = seeds[std::size_t(round) % seeds.size()];
        const int edits = 1 + int(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            // Mostly hit the headers, where the dangerous numbers are.
            const std::size_t at =
                rng() % 3 ? rng() % std::min<std::size_t>(bytes.size(), 70) : rng() % bytes.size();
            bytes[at] = std::uint8_t(rng());
        }
        if (rng() % 5 == 0)
            bytes.resize(rng() % bytes.size());
        WriteAllBytes(dir.File("f.bmp"), bytes);
        bmp_forms::ExpectSameInUsedBlocks(dir.File("f.bmp"));
        CDibImage image;
        if (!image.LoadBmp(dir.File("f.bmp"))) {
            EXPECT_FALSE(image.m_hDib);
            continue;
        }
        ++loaded;
        const std::size_t need = std::size_t(image.Bits() - image.m_hDib->data()) +
                                 std::size_t(image.m_nRowBytes) * std::size_t(image.m_nHeight);
        ASSERT_LE(need, image.m_hDib->size());
        if (image.ConvertTo24()) {
            ASSERT_EQ(image.m_nBitCount, 24);
            EXPECT_TRUE(image.SaveBmp(dir.File("g.bmp")).Ok());
        }
    }
    EXPECT_GT(loaded, 100);  // the damage must leave enough files loadable to exercise ConvertTo24
}

}  // namespace
