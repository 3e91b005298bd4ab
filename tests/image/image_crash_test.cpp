// Hostile and damaged input: files that once crashed, over-read, allocated after their length
// or loaded as if whole. Each must load or be refused with a reason, never more.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>

#include "bmp_forms.h"
#include "image/image_file.h"
#include "image/jpeg_file.h"

using namespace bmp_forms;

namespace {

Bytes Rle(int bits, int width, int height, Bytes stream) {
    BmpLayout s;
    s.width = width, s.height = height, s.bitCount = std::uint16_t(bits);
    s.compression = bits == 8 ? 1 : 2;
    s.clrUsed = 16;
    s.table = Palette(16);
    s.pixels = std::move(stream);
    return MakeBmp(s);
}

Bytes Plain(int width, int height, int bits, std::size_t pixelBytes) {
    BmpLayout s;
    s.width = width, s.height = height, s.bitCount = std::uint16_t(bits);
    s.pixels.assign(pixelBytes, 0x5A);
    return MakeBmp(s);
}

Bytes Plain(std::uint32_t headerSize, int width, int height, int bits, std::size_t pixelBytes) {
    BmpLayout s;
    s.headerSize = headerSize, s.width = width, s.height = height, s.bitCount = std::uint16_t(bits);
    s.pixels.assign(pixelBytes, 0x5A);
    return MakeBmp(s);
}

Bytes WithOffset(Bytes v, std::uint32_t offBits) {
    Put32At(v, 10, offBits);
    return v;
}

Bytes Cut(Bytes v, std::size_t size) {
    v.resize(size);
    return v;
}

TEST(ImageCrash, HostileBmpFiles) {
    struct Case {
        const char* what;
        Bytes bytes;
        const char* refusal;  // null: loads and converts
    };
    Bytes zeroDeltas;
    for (int i = 0; i < 5000; ++i) zeroDeltas.insert(zeroDeltas.end(), {0, 2, 0, 0});
    BmpLayout masks40;
    masks40.bitCount = 32, masks40.compression = 3, masks40.masks = {0xFF, 0xFF00, 0xFF0000};
    BmpLayout os2Huffman;
    os2Huffman.headerSize = 64, os2Huffman.bitCount = 1, os2Huffman.compression = 3;
    os2Huffman.table = Palette(2), os2Huffman.pixels = {0, 0, 0, 0};
    BmpLayout shortTable;
    shortTable.width = 2, shortTable.bitCount = 8, shortTable.clrUsed = 2;
    shortTable.table = Palette(2), shortTable.pixels = {200, 1, 0, 0};

    const std::vector<Case> cases = {
        // 100 pixels at 15 bits are 200 bytes a row; rows at the 15-bit length (188) are short.
        {"15 bits, rows at the 15-bit length", Plain(100, 2, 15, 376), "truncated"},
        {"rle8 stream ends mid-row", Rle(8, 4, 2, {2, 1}), "truncated: run-length data ends"},
        {"rle8 absolute run cut", Rle(8, 8, 1, {0, 5, 1, 2}), "truncated: run-length data ends"},
        {"rle4 delta cut", Rle(4, 4, 2, {0, 2, 1}), "truncated: run-length data ends"},
        {"rle8 zero deltas for ever", Rle(8, 2, 2, zeroDeltas), "longer than its bitmap"},
        {"rle8 delta past the image", Rle(8, 3, 2, {0, 2, 200, 200, 1, 5}), nullptr},
        {"rle8 absolute run past the edge", Rle(8, 2, 1, {0, 6, 1, 2, 3, 4, 5, 6, 0, 1}), nullptr},
        {"rle4 run past the edge", Rle(4, 3, 2, {200, 0x12, 0, 0, 255, 0x34}), nullptr},
        {"pixel offset past the end", WithOffset(Plain(1, 1, 24, 4), 1000), nullptr},
        {"pixel offset inside the header", WithOffset(Plain(1, 1, 24, 4), 20), nullptr},
        {"huge size, tiny file", Plain(16000, 16000, 24, 16), "truncated: header promises"},
        {"header past the end", Cut(Plain(124, 1, 1, 24, 4), 50), "truncated: header of 124 bytes"},
        {"masks missing", Cut(MakeBmp(masks40), 14 + 40 + 4), "truncated: colour masks"},
        {"OS/2 Huffman coding", MakeBmp(os2Huffman), "unsupported: Huffman"},
        {"index past a short table", MakeBmp(shortTable), nullptr},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDibImage image;
        const CStatus loaded = LoadAndConvert(dir, c.bytes, image);
        if (c.refusal) {
            EXPECT_FALSE(loaded);
            EXPECT_FALSE(image.m_hDib);
            EXPECT_NE(loaded.Reason().find(c.refusal), std::string::npos) << loaded.Reason();
        } else {
            ASSERT_TRUE(loaded) << loaded.Reason();
            EXPECT_EQ(image.m_nBitCount, 24);
        }
    }
}

// A valid 10 x 10 file made 40 GB long (sparse): only the bytes the header asks for are read.
TEST(ImageCrash, HugeFileReadsOnlyWhatTheHeaderAsks) {
    TempDir dir;
    BmpLayout s;
    s.width = 10, s.height = 10;
    Picture want{10, {}};
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) want.pixels.push_back({x, y, x + y});
    for (int r = 0; r < 10; ++r) {  // bottom row first
        for (int x = 0; x < 10; ++x) {
            const Bgr& p = want.pixels[std::size_t((9 - r) * 10 + x)];
            s.pixels.insert(s.pixels.end(),
                            {std::uint8_t(p.b), std::uint8_t(p.g), std::uint8_t(p.r)});
        }
        s.pixels.insert(s.pixels.end(), 2, 0);
    }
    const std::string path = dir.File("big.bmp");
    WriteAllBytes(path, MakeBmp(s));
    std::error_code ec;
    std::filesystem::resize_file(path, std::uintmax_t(40) << 30, ec);
    if (ec)
        GTEST_SKIP() << "no sparse 40 GB file here: " << ec.message();

    CDibImage image;
    const CStatus status = LoadImageFile(path, image);
    ASSERT_TRUE(status) << status.Reason();
    EXPECT_EQ(Difference(image, want), "");
}

#if defined(__SANITIZE_ADDRESS__)
#define TARNWICK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNWICK_ASAN 1
#endif
#endif

// Loads with 512 MB of address space and exits 0 when that failed for want of memory.
[[maybe_unused]] void LoadUnderLimit(const std::string& path) {
    const rlimit limit{rlim_t(512) << 20, rlim_t(512) << 20};
    setrlimit(RLIMIT_AS, &limit);
    CDibImage image;
    const CStatus loaded = LoadImageFile(path, image);
    std::fprintf(stderr, "result %d: %s\n", int(loaded.Ok()), loaded.Reason().c_str());
    std::exit(!loaded && loaded.Reason().find("out of memory") != std::string::npos ? 0 : 1);
}

// A file whose pixels do not fit in memory is a failed load of that file, not an exception.
TEST(ImageCrash, OutOfMemoryIsAFailedLoad) {
#ifdef TARNWICK_ASAN
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#else
    TempDir dir;
    const std::string path = dir.File("wide.bmp");
    // 16000 x 16000 at 24 bits: 768 MB of pixels, present (sparse) in the file.
    WriteAllBytes(path, Plain(16000, 16000, 24, 0));
    std::error_code ec;
    std::filesystem::resize_file(path, 54 + std::uintmax_t(48000) * 16000, ec);
    if (ec)
        GTEST_SKIP() << "no sparse file here: " << ec.message();
    EXPECT_EXIT(LoadUnderLimit(path), testing::ExitedWithCode(0), "result 0: out of memory");
#endif
}

// A 64 x 64 noise picture, so that the scan makes up most of the file.
Bytes NoiseJpeg(const TempDir& dir) {
    CDibImage image;
    EXPECT_TRUE(image.Create(64, 64, 24));
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64 * 3; ++x)
            image.TopRow(y)[x] = std::uint8_t((x * 7919 + y * 104729) % 251);
    EXPECT_TRUE(WriteJpegFile(dir.File("noise.jpg"), image, 95, false, true).Ok());
    return ReadAllBytes(dir.File("noise.jpg"));
}

std::size_t ScanStart(const Bytes& jpeg) {
    for (std::size_t i = 0; i + 3 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA)
            return i + 2 + (jpeg[i + 2] << 8 | jpeg[i + 3]);
    return 0;
}

TEST(ImageCrash, DamagedJpegFailsAndIsReported) {
    TempDir dir;
    const Bytes good = NoiseJpeg(dir);
    const std::size_t scan = ScanStart(good);
    ASSERT_GT(scan, 0u);
    Bytes marker = good;  // a restart marker in the middle of a scan that has none
    marker[(scan + good.size()) / 2] = 0xFF;
    marker[(scan + good.size()) / 2 + 1] = 0xD0;
    struct Case {
        const char* what;
        Bytes bytes;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"cut in the middle", Cut(good, good.size() / 2), "Premature end of JPEG file"},
        {"cut before the end marker", Cut(good, good.size() - 40), "Premature end of JPEG file"},
        {"cut after the scan header", Cut(good, scan), "Premature end of JPEG file"},
        {"marker inside the scan", marker, "Corrupt JPEG data"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteAllBytes(dir.File("d.jpg"), c.bytes);
        CDibImage image;
        int grey = 0;
        testing::internal::CaptureStderr();
        const CStatus status = ReadJpegFile(dir.File("d.jpg"), image, grey, true);
        EXPECT_FALSE(status);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_FALSE(image.m_hDib);
        EXPECT_NE(status.Reason().find(c.reason), std::string::npos) << status.Reason();
        // The jobs and the command line see a failed file.
        EXPECT_FALSE(LoadImageFile(dir.File("d.jpg"), image));
    }
}

TEST(ImageCrash, OtherJpegWarningsStaySilent) {
    TempDir dir;
    Bytes jfif2 = NoiseJpeg(dir);
    ASSERT_EQ(jfif2[6], 'J');
    jfif2[11] = 2;  // JFIF major revision 2: the library warns and decodes
    WriteAllBytes(dir.File("v2.jpg"), jfif2);
    CDibImage image;
    int grey = 0;
    testing::internal::CaptureStderr();
    const CStatus status = ReadJpegFile(dir.File("v2.jpg"), image, grey, true);
    EXPECT_TRUE(status) << status.Reason();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(image.m_nWidth, 64);
}

// ConvertTo24 on a block that claims 15 bits with rows at the 15-bit length: its 2-byte pixels
// would run past the block.
TEST(ImageCrash, ConvertRefusesRowsShorterThanItsPixels) {
    CDibImage image;
    ASSERT_TRUE(image.Create(100, 2, 24));
    auto block = std::make_unique<DibBlock>(40 + 2 * DibRowBytes(100, 15), 0x33);
    std::memcpy(block->data(), image.m_hDib->data(), 40);
    DibWrite16(block->data() + 14, 15);
    ASSERT_TRUE(image.Attach(std::move(block)));
    EXPECT_FALSE(image.ConvertTo24());
    EXPECT_EQ(image.m_nBitCount, 15);
}

}  // namespace
