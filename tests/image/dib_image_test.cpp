#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "common/bmp_builder.h"
#include "common/temp_dir.h"
#include "image/dib_image.h"
#include "image/image_file.h"
#include "image/jpeg_file.h"

namespace {

std::uint32_t Le32(const std::vector<unsigned char>& v, std::size_t at) {
    return v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | (std::uint32_t(v[at + 3]) << 24);
}

// Loads hand-made bytes through a file, as the program does.
CStatus LoadBytes(const TempDir& dir, const std::vector<unsigned char>& bytes, CDibImage& image,
                  const std::string& name = "in.bmp") {
    WriteAllBytes(dir.File(name), bytes);
    return image.LoadBmp(dir.File(name));
}

TEST(DibImageCreate, RowLengthAndBlockSize) {
    struct Case {
        int width, height, rowBytes;
        std::size_t blockBytes;
    };
    for (const Case& c : {Case{1, 1, 4, 48}, Case{350, 240, 1052, 44 + 240 * 1052},
                          Case{4, 2, 12, 44 + 2 * 12}, Case{5, 3, 16, 44 + 3 * 16}}) {
        CDibImage image;
        ASSERT_TRUE(image.Create(c.width, c.height, 24));
        EXPECT_EQ(image.m_nRowBytes, c.rowBytes) << c.width;
        ASSERT_TRUE(image.m_hDib);
        EXPECT_EQ(image.m_hDib->size(), c.blockBytes) << c.width;
        const std::uint8_t* h = image.m_hDib->data();
        EXPECT_EQ(DibHeaderWidth(h), c.width);
        EXPECT_EQ(DibHeaderHeight(h), c.height);
        EXPECT_EQ(DibColorCount(h), 0);
        EXPECT_EQ(image.Bits(), h + 40);
        for (std::size_t i = 40; i < image.m_hDib->size(); ++i) ASSERT_EQ(h[i], 0) << i;
    }
}

TEST(DibImageCreate, RefusesImpossibleSizes) {
    for (auto [w, h] : {std::pair{0, 5}, {5, 0}, {-1, 5}, {1 << 20, 1 << 20}}) {
        CDibImage image;
        EXPECT_FALSE(image.Create(w, h, 24)) << w << "x" << h;
        EXPECT_FALSE(image.m_hDib);
    }
}

TEST(DibImageSave, FrameFileLayout) {
    TempDir dir;
    CDibImage image;
    ASSERT_TRUE(image.Create(350, 240, 24));
    image.TopRow(0)[0] = 7;  // top-left blue byte
    ASSERT_TRUE(image.SaveBmp(dir.File("00005000.bmp")).Ok());
    const auto bytes = ReadAllBytes(dir.File("00005000.bmp"));
    ASSERT_EQ(bytes.size(), 252534u);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(Le32(bytes, 2), 252534u);
    EXPECT_EQ(Le32(bytes, 6), 0u);  // both reserved fields
    EXPECT_EQ(Le32(bytes, 10), 54u);
    EXPECT_EQ(Le32(bytes, 14 + 20), 252480u);
    EXPECT_EQ(Le32(bytes, 14 + 24), 0u);
    EXPECT_EQ(Le32(bytes, 14 + 28), 0u);
    // Top row is the last in the file.
    EXPECT_EQ(bytes[54 + 239 * 1052], 7);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

    CDibImage back;
    ASSERT_TRUE(back.LoadBmp(dir.File("00005000.bmp")));
    EXPECT_EQ(back.m_nWidth, 350);
    EXPECT_EQ(back.m_nHeight, 240);
    EXPECT_EQ(std::memcmp(back.Bits(), image.Bits(), 240 * 1052), 0);
}

// Both image writers report every failure as a status with the system's reason, and leave
// nothing but finished files behind.
TEST(ImageWriters, FailuresAreReported) {
    using Writer = std::function<CStatus(CDibImage&, const std::string&)>;
    const std::pair<const char*, Writer> kWriters[] = {
        {"bmp", [](CDibImage& image, const std::string& path) { return image.SaveBmp(path); }},
        {"jpeg",
         [](CDibImage& image, const std::string& path) {
             return WriteJpegFile(path, image, 95, false, true);
         }},
    };
    for (const auto& [name, write] : kWriters) {
        SCOPED_TRACE(name);
        TempDir dir;
        CDibImage empty;
        EXPECT_EQ(write(empty, dir.File("x")).Reason(), "no image");

        CDibImage image;
        ASSERT_TRUE(image.Create(8, 8, 24));
        const struct {
            std::string path;
            const char* reason;
        } kCases[] = {
            {dir.File("missing/x"), "No such file"},
            {"/dev/full", "is not a regular file"},  // never written into
        };
        for (const auto& c : kCases) {
            if (c.path == "/dev/full" && !std::filesystem::exists(c.path))
                continue;
            const CStatus status = write(image, c.path);
            EXPECT_FALSE(status);
            EXPECT_NE(status.Reason().find(c.reason), std::string::npos) << status.Reason();
        }
        ASSERT_TRUE(write(image, dir.File("ok")));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    }
}

TEST(DibImageLoad, ExtensionRules) {
    TempDir dir;
    BmpLayout bmp;
    bmp.width = 1;
    bmp.pixels = {1, 2, 3, 0};
    const auto bytes = MakeBmp(bmp);
    struct Case {
        const char* name;
        int result;
    };
    for (const Case& c : {Case{"a.BMP", 1}, Case{"b.Dib", 1}, Case{"c.bmp", 1}, Case{"d.jpg", 0},
                          Case{"noext", 0}, Case{"dot.bmp.d/e", 0}}) {
        std::filesystem::create_directories(std::filesystem::path(dir.File(c.name)).parent_path());
        CDibImage image;
        ASSERT_TRUE(image.Create(2, 2, 24));
        EXPECT_EQ(LoadBytes(dir, bytes, image, c.name).Ok(), c.result == 1) << c.name;
        // A refused name leaves the image as it was.
        EXPECT_EQ(image.m_nWidth, c.result ? 1 : 2) << c.name;
    }
}

TEST(DibImageLoad, NotBmpLeavesImageEmpty) {
    TempDir dir;
    CDibImage image;
    ASSERT_TRUE(image.Create(2, 2, 24));
    const CStatus loaded =
        LoadBytes(dir, {'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, image);
    EXPECT_FALSE(loaded);
    EXPECT_FALSE(image.m_hDib);
    EXPECT_EQ(loaded.Reason(), "not a BMP file");
    // An unreadable path leaves it as it was.
    ASSERT_TRUE(image.Create(2, 2, 24));
    EXPECT_FALSE(image.LoadBmp(dir.File("absent.bmp")));
    EXPECT_TRUE(image.m_hDib);
}

// Palette for the lookup tests: entry i is (red 10+i, green 20+i, blue 30+i).
std::vector<std::uint8_t> Table(int count, int entryBytes) {
    std::vector<std::uint8_t> t;
    for (int i = 0; i < count; ++i) {
        t.push_back(std::uint8_t(30 + i));
        t.push_back(std::uint8_t(20 + i));
        t.push_back(std::uint8_t(10 + i));
        if (entryBytes == 4)
            t.push_back(0);
    }
    return t;
}

struct Bgr {
    int b, g, r;
    bool operator==(const Bgr&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Bgr& p) {
    return o << p.b << "," << p.g << "," << p.r;
}

Bgr PixelAt(CDibImage& image, int x, int y) {
    const std::uint8_t* p = image.TopRow(y) + 3 * x;
    return {p[0], p[1], p[2]};
}
Bgr Entry(int i) {
    return {30 + i, 20 + i, 10 + i};
}

TEST(DibImageConvertTo24, EveryDepth) {
    TempDir dir;
    struct Case {
        const char* what;
        BmpLayout bmp;
        std::vector<std::pair<std::pair<int, int>, Bgr>> expect;  // (x, y from top) -> pixel
    };
    std::vector<Case> cases;
    {  // 16 bits: 0x7FFF is full 5-5-5 white, not rescaled.
        BmpLayout s;
        s.width = 2;
        s.height = 1;
        s.bitCount = 16;
        s.pixels = {0xFF, 0x7F, 0x1F, 0x00};
        cases.push_back({"16-bit", s, {{{0, 0}, {248, 248, 248}}, {{1, 0}, {248, 0, 0}}}});
    }
    {  // 5-5-5 red and green channels alone.
        BmpLayout s;
        s.width = 2;
        s.height = 1;
        s.bitCount = 16;
        s.pixels = {0x00, 0x7C, 0xE0, 0x03};
        cases.push_back({"16-bit channels", s, {{{0, 0}, {0, 0, 248}}, {{1, 0}, {0, 248, 0}}}});
    }
    {  // 32 bits drop the fourth byte.
        BmpLayout s;
        s.width = 1;
        s.height = 1;
        s.bitCount = 32;
        s.pixels = {10, 20, 30, 40};
        cases.push_back({"32-bit", s, {{{0, 0}, {10, 20, 30}}}});
    }
    {  // 1 bit, width 9: the ninth pixel is the top bit of the row's second byte.
        BmpLayout s;
        s.width = 9;
        s.height = 2;
        s.bitCount = 1;
        s.table = Table(2, 4);
        s.pixels = {0x00, 0x80, 0, 0,   // bottom row: only pixel 8 set
                    0x81, 0x00, 0, 0};  // top row: pixels 0 and 7 set
        cases.push_back({"1-bit",
                         s,
                         {{{8, 1}, Entry(1)},
                          {{7, 1}, Entry(0)},
                          {{0, 0}, Entry(1)},
                          {{7, 0}, Entry(1)},
                          {{8, 0}, Entry(0)},
                          {{1, 0}, Entry(0)}}});
    }
    {  // 4 bits: even x high nibble, odd x low nibble.
        BmpLayout s;
        s.width = 3;
        s.height = 1;
        s.bitCount = 4;
        s.table = Table(16, 4);
        s.pixels = {0x5A, 0xF0, 0, 0};
        cases.push_back(
            {"4-bit", s, {{{0, 0}, Entry(5)}, {{1, 0}, Entry(10)}, {{2, 0}, Entry(15)}}});
    }
    {  // 8 bits with a short table: an index past its end is black.
        BmpLayout s;
        s.width = 3;
        s.height = 1;
        s.bitCount = 8;
        s.clrUsed = 4;
        s.table = Table(4, 4);
        s.pixels = {3, 0, 200, 0};
        cases.push_back(
            {"8-bit", s, {{{0, 0}, Entry(3)}, {{1, 0}, Entry(0)}, {{2, 0}, {0, 0, 0}}}});
    }
    {  // Core header: 3-byte table entries.
        BmpLayout s;
        s.headerSize = 12;
        s.width = 2;
        s.height = 1;
        s.bitCount = 8;
        s.table = Table(256, 3);
        s.pixels = {7, 100, 0, 0};
        cases.push_back({"core 8-bit", s, {{{0, 0}, Entry(7)}, {{1, 0}, Entry(100)}}});
    }
    {  // 24 bits with a colour table that must be skipped over.
        BmpLayout s;
        s.width = 1;
        s.height = 1;
        s.bitCount = 24;
        s.clrUsed = 2;
        s.table = Table(2, 4);
        s.pixels = {1, 2, 3, 0};
        cases.push_back({"24-bit with table", s, {{{0, 0}, {1, 2, 3}}}});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDibImage image;
        const CStatus loaded = LoadBytes(dir, MakeBmp(c.bmp), image);
        ASSERT_TRUE(loaded) << loaded.Reason();
        ASSERT_TRUE(image.ConvertTo24());
        ASSERT_EQ(image.m_nBitCount, 24);
        EXPECT_EQ(image.m_nRowBytes, (image.m_nWidth * 3 + 3) / 4 * 4);
        for (const auto& [at, pixel] : c.expect)
            EXPECT_EQ(PixelAt(image, at.first, at.second), pixel) << at.first << "," << at.second;
    }
}

TEST(DibImageConvertTo24, TwentyFourBitsKeepsTheBlock) {
    CDibImage image;
    ASSERT_TRUE(image.Create(3, 3, 24));
    const DibBlock* before = image.m_hDib.get();
    EXPECT_TRUE(image.ConvertTo24());
    EXPECT_EQ(image.m_hDib.get(), before);
    CDibImage empty;
    EXPECT_FALSE(empty.ConvertTo24());
}

TEST(DibImageCrop, CutsCentredWithExtraAtBottomRight) {
    struct Case {
        int w, h, tw, th, left, top;
    };
    for (const Case& c : {Case{803, 601, 800, 600, 1, 0}, Case{10, 10, 4, 4, 3, 3},
                          Case{9, 8, 4, 5, 2, 1}, Case{5, 5, 5, 5, 0, 0}}) {
        CDibImage image;
        ASSERT_TRUE(image.Create(c.w, c.h, 24));
        // Each pixel records its own position.
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                std::uint8_t* p = image.TopRow(y) + 3 * x;
                p[0] = std::uint8_t(x), p[1] = std::uint8_t(x >> 8), p[2] = std::uint8_t(y);
            }
        ASSERT_TRUE(image.CropCentered(c.tw, c.th));
        ASSERT_EQ(image.m_nWidth, c.tw);
        ASSERT_EQ(image.m_nHeight, c.th);
        for (int y : {0, c.th - 1})
            for (int x : {0, c.tw - 1}) {
                const std::uint8_t* p = image.TopRow(y) + 3 * x;
                EXPECT_EQ(p[0] | (p[1] << 8), x + c.left) << c.w << "x" << c.h;
                EXPECT_EQ(p[2], std::uint8_t(y + c.top)) << c.w << "x" << c.h;
            }
    }
}

TEST(DibImageCrop, LargerTargetOrNoImage) {
    CDibImage image;
    EXPECT_FALSE(image.CropCentered(1, 1));
    ASSERT_TRUE(image.Create(10, 10, 24));
    const DibBlock* before = image.m_hDib.get();
    EXPECT_TRUE(image.CropCentered(11, 5));
    EXPECT_TRUE(image.CropCentered(5, 11));
    // Nothing to cut: the same block, not a copy of it.
    EXPECT_TRUE(image.CropCentered(10, 10));
    EXPECT_EQ(image.m_hDib.get(), before);
    EXPECT_EQ(image.m_nWidth, 10);
}

}  // namespace

// The size a header states is read without decoding: written pictures of random sizes, both
// kinds and BMP's header forms, then headers cut short or of another kind.
TEST(PeekImageSize, ReadsWhatTheHeaderStates) {
    TempDir dir;
    std::mt19937 rng(11);
    for (int round = 0; round < 12; ++round) {
        const int width = 1 + int(rng() % 300), height = 1 + int(rng() % 200);
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        CDibImage image;
        ASSERT_TRUE(image.Create(width, height, 24));
        for (const char* name : {"p.bmp", "p.jpg", "P.JPEG", "p.dib"}) {
            ASSERT_TRUE(SaveImageFile(dir.File(name), image, 90));
            EXPECT_EQ(PeekImageSize(dir.File(name)), std::make_pair(width, height)) << name;
        }
        for (const std::uint32_t header : {12u, 40u, 124u}) {
            BmpLayout layout;
            layout.headerSize = header;
            layout.width = width;
            layout.height = round % 2 ? -height : height;  // top-down rows
            if (header == 12 && layout.height < 0)
                layout.height = height;
            const std::vector<unsigned char> bytes = MakeBmp(layout);  // no pixels: never decoded
            std::ofstream(dir.File("h.bmp"), std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
            EXPECT_EQ(PeekImageSize(dir.File("h.bmp")), std::make_pair(width, height)) << header;
        }
    }
    // What says nothing: a missing file, a header cut short, another kind, a folder.
    const std::string jpeg = dir.File("p.jpg");
    std::ifstream in(jpeg, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::ofstream(dir.File("cut.jpg"), std::ios::binary) << bytes.substr(0, 20);
    std::ofstream(dir.File("cut.bmp"), std::ios::binary) << "BM\x10";
    std::ofstream(dir.File("text.jpg"), std::ios::binary) << "not a picture at all";
    std::filesystem::create_directories(dir.File("folder.bmp"));
    for (const char* name : {"missing.bmp", "cut.jpg", "cut.bmp", "text.jpg", "folder.bmp"})
        EXPECT_EQ(PeekImageSize(dir.File(name)), std::nullopt) << name;
}
