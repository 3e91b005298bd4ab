// BMP forms beyond the plain ones: run-length coding, colour masks of any shape, the OS/2 2.x
// header, 2 bits per pixel, 15 bits per pixel and pixels placed by the file header's offset.
// Every expected picture is written out by hand from the bytes of the file.
#include <gtest/gtest.h>

#include <random>

#include "bmp_forms.h"

using namespace bmp_forms;

namespace {

struct FormCase {
    const char* what;
    Bytes bytes;
    Picture want;
};

void ExpectForms(const std::vector<FormCase>& cases) {
    TempDir dir;
    for (const FormCase& c : cases) {
        SCOPED_TRACE(c.what);
        CDibImage image;
        const CStatus loaded = LoadAndConvert(dir, c.bytes, image);
        ASSERT_TRUE(loaded) << loaded.Reason();
        EXPECT_EQ(Difference(image, c.want), "");
    }
}

Bytes Rle(int bits, int width, int height, Bytes stream) {
    BmpLayout s;
    s.width = width, s.height = height, s.bitCount = std::uint16_t(bits);
    s.compression = bits == 8 ? 1 : 2;
    s.clrUsed = 16;
    s.table = Palette(16);
    s.pixels = std::move(stream);
    return MakeBmp(s);
}

TEST(BmpFormat, RunLengthCoding) {
    ExpectForms({
        // Bottom row: runs; middle: a run, a delta over two pixels, a run; top: an absolute
        // run of three (padded to a word), a run, end of bitmap.
        {"rle8 runs, delta, absolute", Rle(8, 5, 3, {3, 1, 1, 2, 1, 3, 0, 0,        //
                                                     2, 9, 0, 2, 2, 0, 1, 4, 0, 0,  //
                                                     0, 3, 5, 6, 7, 0, 2, 1, 0, 1}),
         Indexed({{5, 6, 7, 1, 1}, {9, 9, 0, 0, 4}, {1, 1, 1, 2, 3}})},
        {"rle8 ends early", Rle(8, 5, 3, {5, 7, 0, 1}),
         Indexed({{0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {7, 7, 7, 7, 7}})},
        {"rle8 delta up two rows", Rle(8, 4, 3, {0, 2, 1, 2, 1, 8, 0, 1}),
         Indexed({{0, 8, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}})},
        {"rle8 run cut at the right edge", Rle(8, 3, 2, {5, 4, 0, 0, 3, 5, 0, 1}),
         Indexed({{5, 5, 5}, {4, 4, 4}})},
        {"rle8 without end code after the last row", Rle(8, 2, 1, {2, 3}), Indexed({{3, 3}})},
        // Bottom: absolute three (two bytes, no pad), delta one, a one-pixel run; top: absolute
        // five (three bytes and a pad byte).
        {"rle4 absolute, delta, runs",
         Rle(4, 5, 2, {0, 3, 0x45, 0x60, 0,    2, 1, 0, 1, 0x70, 0, 0,  //
                       0, 5, 0x12, 0x12, 0x30, 0, 0, 1}),
         Indexed({{1, 2, 1, 2, 3}, {4, 5, 6, 0, 7}})},
        {"rle4 run alternates nibbles", Rle(4, 3, 1, {3, 0x9A, 0, 1}), Indexed({{9, 10, 9}})},
    });
}

struct MaskCase {
    const char* what;
    int bits;
    std::uint32_t headerSize;
    std::uint32_t compression;         // 3: three masks, 6: four masks
    std::vector<std::uint32_t> masks;  // red, green, blue, alpha
    std::uint32_t pixel[2];
    Bgr want[2];
};

Bytes Masked(const MaskCase& m) {
    BmpLayout s;
    s.headerSize = m.headerSize, s.width = 2, s.height = 1, s.bitCount = std::uint16_t(m.bits);
    s.compression = m.compression;
    s.masks.assign(m.masks.begin(), m.masks.begin() + 3);
    const int bytesEach = m.bits / 8;
    s.pixels.assign(std::size_t(FileRowBytes(2, m.bits)), 0);
    for (int x = 0; x < 2; ++x)
        for (int i = 0; i < bytesEach; ++i)
            s.pixels[std::size_t(x * bytesEach + i)] = std::uint8_t(m.pixel[x] >> (8 * i));
    Bytes v = MakeBmp(s);
    const std::uint32_t alpha = m.masks.size() > 3 ? m.masks[3] : 0;
    if (m.headerSize == 40 && m.compression == 6) {
        Bytes a(4);
        Put32At(a, 0, alpha);
        v = InsertBeforePixels(v, 14 + 40 + 12, a);
    } else if (m.headerSize >= 56) {
        Put32At(v, 14 + 52, alpha);
    }
    return v;
}

// Channels narrower than 8 bits scale to the full range (15 of 15 is 255); the standard 5-5-5,
// 5-6-5 and 8-8-8 masks keep the pixels they always had (a full 5-bit channel is 248).
TEST(BmpFormat, ColourMasksOfAnyShape) {
    const MaskCase kCases[] = {
        {"16-bit 4-4-4 (alpha 4)",
         16,
         40,
         3,
         {0x0F00, 0x00F0, 0x000F},
         {0xF8F1, 0},
         {{17, 255, 136}, {0, 0, 0}}},
        {"16-bit 1-5-5-5 in a V4 header",
         16,
         108,
         3,
         {0x7C00, 0x3E0, 0x1F, 0x8000},
         {0xFFFF, 0x8000},
         {{248, 248, 248}, {0, 0, 0}}},
        {"16-bit 2-3-1",
         16,
         40,
         3,
         {0x30, 0x0E, 0x01},
         {0x3F, 0x14},
         {{255, 255, 255}, {0, 73, 85}}},
        {"16-bit 5-6-5",
         16,
         40,
         3,
         {0xF800, 0x7E0, 0x1F},
         {0xFFFF, 0x0841},
         {{248, 252, 248}, {8, 8, 8}}},
        {"16-bit 4-4-4 in a V5 header",
         16,
         124,
         3,
         {0xF00, 0xF0, 0xF},
         {0x0F00, 0x0008},
         {{0, 0, 255}, {136, 0, 0}}},
        {"32-bit 10-10-10 (alpha 2)",
         32,
         124,
         3,
         {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000},
         {0xFFF80000, (4u << 20) | (2u << 10) | 1019u},
         {{0, 128, 255}, {254, 0, 1}}},
        {"32-bit red and blue swapped",
         32,
         40,
         3,
         {0xFF, 0xFF00, 0xFF0000},
         {0x281E140A, 0xFF0000},
         {{30, 20, 10}, {255, 0, 0}}},
        {"32-bit alpha in the low byte",
         32,
         40,
         6,
         {0xFF000000, 0xFF0000, 0xFF00, 0xFF},
         {0x03020107, 0xFF},
         {{1, 2, 3}, {0, 0, 0}}},
        {"32-bit standard masks with alpha",
         32,
         40,
         6,
         {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
         {0x80030201, 0xFF000000},
         {{1, 2, 3}, {0, 0, 0}}},
        {"32-bit with 5-bit channels",
         32,
         40,
         3,
         {0x7C00, 0x3E0, 0x1F},
         {0x7FFF, 0x4210},
         {{255, 255, 255}, {132, 132, 132}}},
        {"24-bit masks",
         24,
         40,
         3,
         {0xFF, 0xFF00, 0xFF0000},
         {0x1E140A, 0x0000FF},
         {{30, 20, 10}, {0, 0, 255}}},
        {"a zero mask",
         32,
         56,
         3,
         {0, 0xFF00, 0xFF},
         {0xFFFFFF, 0x10},
         {{255, 255, 0}, {16, 0, 0}}},
    };
    std::vector<FormCase> cases;
    for (const MaskCase& m : kCases)
        cases.push_back({m.what, Masked(m), {2, {m.want[0], m.want[1]}}});
    ExpectForms(cases);
}

// Channels of 8 bits or more come back exactly: a colour stored at the wider scale reads as
// the same 8-bit colour, whatever the layout of the masks.
TEST(BmpFormat, WideChannelsReadBackExactly) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 40; ++round) {
        // Three channels of 8 to 10 bits in a random order, packed from a random start.
        int widths[3], order[3] = {0, 1, 2};
        for (int& w : widths) w = 8 + int(rng() % 3);
        std::shuffle(std::begin(order), std::end(order), rng);
        int used = widths[0] + widths[1] + widths[2];
        int shift = int(rng() % std::uint32_t(32 - used + 1));
        std::uint32_t masks[3], shifts[3];
        for (int k : order) {
            shifts[k] = std::uint32_t(shift);
            masks[k] = ((1u << widths[k]) - 1) << shift;
            shift += widths[k];
        }
        BmpLayout s;
        s.width = 16, s.height = 1, s.bitCount = 32, s.compression = 3;
        s.masks = {masks[0], masks[1], masks[2]};
        Picture want{16, {}};
        for (int x = 0; x < 16; ++x) {
            const std::uint8_t c[3] = {std::uint8_t(rng()), std::uint8_t(rng()),
                                       std::uint8_t(rng())};
            std::uint32_t v = 0;
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t max = (1u << widths[k]) - 1;
                v |= ((c[k] * max + 127) / 255) << shifts[k];
            }
            for (int i = 0; i < 4; ++i) s.pixels.push_back(std::uint8_t(v >> (8 * i)));
            want.pixels.push_back({c[2], c[1], c[0]});  // masks are red, green, blue
        }
        SCOPED_TRACE("round " + std::to_string(round));
        ExpectForms({{"wide channels", MakeBmp(s), want}});
    }
}

Bytes Os2Short(Bytes v) {
    // A 40-byte header cut to the 16 bytes OS/2 2.x may store: size, width, height, planes, bits.
    v.erase(v.begin() + 14 + 16, v.begin() + 14 + 40);
    Put32At(v, 14, 16);
    Put32At(v, 2, Get32At(v, 2) - 24);
    Put32At(v, 10, Get32At(v, 10) - 24);
    return v;
}

TEST(BmpFormat, OtherHeadersAndDepths) {
    auto layout = [](std::uint32_t headerSize, int width, int height, int bits, Bytes table,
                     Bytes pixels) {
        BmpLayout s;
        s.headerSize = headerSize, s.width = width, s.height = height;
        s.bitCount = std::uint16_t(bits), s.clrUsed = std::uint32_t(table.size() / 4);
        s.table = std::move(table), s.pixels = std::move(pixels);
        return s;
    };
    ExpectForms({
        {"OS/2 2.x 64-byte header, 8 bits", MakeBmp(layout(64, 3, 1, 8, Palette(4), {2, 0, 3, 0})),
         Indexed({{2, 0, 3}})},
        {"OS/2 2.x 64-byte header, 24 bits",
         MakeBmp(layout(64, 1, 1, 24, {}, {1, 2, 3, 0})),
         {1, {{1, 2, 3}}}},
        {"OS/2 2.x 16-byte header",
         Os2Short(MakeBmp(layout(40, 2, 1, 8, Palette(3), {1, 2, 0, 0}))), Indexed({{1, 2}})},
        // Indices 0 1 2 3 2 (bottom) and 3 3 0 0 1 (top), four to a byte, first in the top bits.
        {"2 bits per pixel",
         MakeBmp(layout(40, 5, 2, 2, Palette(4), {0x1B, 0x80, 0, 0, 0xF0, 0x40, 0, 0})),
         Indexed({{3, 3, 0, 0, 1}, {0, 1, 2, 3, 2}})},
    });
}

TEST(BmpFormat, PixelsStartWhereTheFileHeaderSays) {
    BmpLayout pal8;
    pal8.width = 3, pal8.height = 2, pal8.bitCount = 8, pal8.clrUsed = 4, pal8.table = Palette(4);
    pal8.pixels = {1, 2, 3, 0, 3, 0, 1, 0};
    const Bytes plain = MakeBmp(pal8);
    const std::size_t pixelsAt = Get32At(plain, 10);

    BmpLayout rgb;
    rgb.width = 2, rgb.pixels = {1, 2, 3, 4, 5, 6, 0, 0};
    const Bytes rgbPlain = MakeBmp(rgb);

    // No colour count: 256 entries by default, but the pixels follow the first four.
    BmpLayout shortTable = pal8;
    shortTable.clrUsed = 0;

    // 15 bits are stored 2 bytes a pixel in rows padded to 4 bytes: a 100-pixel row is 200
    // bytes. Top row all 5-5-5 red, bottom row all blue.
    BmpLayout b15;
    b15.width = 100, b15.height = 2, b15.bitCount = 15;
    for (std::uint8_t lo : {0x1F, 0x00})
        for (int x = 0; x < 100; ++x)
            b15.pixels.insert(b15.pixels.end(), {lo, std::uint8_t(lo ? 0 : 0x7C)});
    Picture want15{100, {}};
    want15.pixels.assign(100, Bgr{0, 0, 248});
    want15.pixels.insert(want15.pixels.end(), 100, Bgr{248, 0, 0});

    ExpectForms({
        {"gap after the table", InsertBeforePixels(plain, pixelsAt, Bytes(100, 0xEE)),
         Indexed({{3, 0, 1}, {1, 2, 3}})},
        {"gap after a 24-bit header",
         InsertBeforePixels(rgbPlain, 54, Bytes(7, 0xEE)),
         {2, {{1, 2, 3}, {4, 5, 6}}}},
        {"table cut by the pixel offset", MakeBmp(shortTable), Indexed({{3, 0, 1}, {1, 2, 3}})},
        {"15 bits per pixel", MakeBmp(b15), want15},
    });
}

}  // namespace
