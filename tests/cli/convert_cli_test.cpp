#include <gtest/gtest.h>

#include <cstring>

#include "common/bmp_builder.h"
#include "common/run_cli.h"
#include "common/temp_dir.h"
#include "image/dib_image.h"
#include "image/image_file.h"

namespace {

TEST(CliConvert, RoundTripsBmpAndJpeg) {
    TempDir dir;
    CDibImage image;
    ASSERT_TRUE(image.Create(40, 30, 24));
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            std::uint8_t* p = image.TopRow(y) + 3 * x;
            p[0] = 30, p[1] = std::uint8_t(4 * x), p[2] = std::uint8_t(6 * y);
        }
    ASSERT_TRUE(image.SaveBmp(dir.File("a.BMP")).Ok());

    CliResult r = RunCli({"convert", dir.File("a.BMP"), dir.File("b.jpg"), "--quality", "90"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = RunCli({"convert", dir.File("b.jpg"), dir.File("c.dib")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Any name that is not .bmp/.dib is written as JPEG.
    r = RunCli({"convert", dir.File("c.dib"), dir.File("d.out")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadAllBytes(dir.File("d.out"))[0], 0xFF);

    CDibImage back;
    const CStatus status = LoadImageFile(dir.File("c.dib"), back);
    ASSERT_TRUE(status) << status.Reason();
    ASSERT_EQ(back.m_nWidth, 40);
    ASSERT_EQ(back.m_nHeight, 30);
    const std::uint8_t* p = back.TopRow(20) + 3 * 10;
    EXPECT_NEAR(p[0], 30, 10);
    EXPECT_NEAR(p[1], 40, 10);
    EXPECT_NEAR(p[2], 120, 10);

    // A palette BMP converts to 24 bits on the way.
    BmpLayout s;
    s.width = 2, s.bitCount = 8, s.clrUsed = 2;
    s.table = {0, 0, 255, 0, 255, 0, 0, 0};
    s.pixels = {0, 1, 0, 0};
    WriteAllBytes(dir.File("p.bmp"), MakeBmp(s));
    r = RunCli({"convert", dir.File("p.bmp"), dir.File("p24.bmp")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_TRUE(back.LoadBmp(dir.File("p24.bmp")));
    EXPECT_EQ(back.m_nBitCount, 24);
    EXPECT_EQ(back.TopRow(0)[2], 255);  // red from entry 0
    EXPECT_EQ(back.TopRow(0)[3], 255);  // blue from entry 1
}

TEST(CliConvert, FailsCleanly) {
    TempDir dir;
    BmpLayout s;
    s.width = 350, s.height = 240;
    s.pixels.assign(20000, 0);
    WriteAllBytes(dir.File("short.bmp"), MakeBmp(s));
    WriteAllBytes(dir.File("text.bmp"), {'h', 'e', 'l', 'l', 'o', '\n'});
    s.width = 1, s.height = 1, s.bitCount = 64, s.pixels.assign(8, 0);
    WriteAllBytes(dir.File("deep.bmp"), MakeBmp(s));
    CDibImage ok;
    ASSERT_TRUE(ok.Create(4, 4, 24));
    ASSERT_TRUE(ok.SaveBmp(dir.File("ok.bmp")).Ok());

    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string message;  // expected inside stderr
    };
    const std::vector<Case> cases = {
        {{"convert", dir.File("short.bmp"), dir.File("o.jpg")},
         1,
         dir.File("short.bmp") +
             ": truncated: header promises 252480 pixel bytes, file holds 20000"},
        {{"convert", dir.File("text.bmp"), dir.File("o.jpg")}, 1, "not a BMP file"},
        {{"convert", dir.File("deep.bmp"), dir.File("o.jpg")}, 1, "unsupported: 64 bits per pixel"},
        {{"convert", dir.File("absent.jpg"), dir.File("o.bmp")}, 1, "No such file"},
        {{"convert", dir.File("ok.bmp"), dir.File("o.png.gif/x.bmp")},
         1,
         "cannot write: No such file"},
        {{"convert", dir.File("ok.bmp"), "/dev/full"},
         1,
         "/dev/full: cannot write: is not a regular file (a folder, a pipe or a device)"},
        {{"convert", dir.File("ok.bmp")}, 2, "OUT is required"},
        {{"convert", dir.File("ok.bmp"), dir.File("o.jpg"), "--quality", "0"}, 2, "quality"},
        {{"frobnicate"}, 2, ""},
        {{}, 2, ""},
    };
    for (const Case& c : cases) {
        const CliResult r = RunCli(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        if (c.exitCode == 1) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("o.jpg")));
}

TEST(CliConvert, HelpDescribesEverySubcommand) {
    const CliResult r = RunCli({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("convert"), std::string::npos);
    const CliResult sub = RunCli({"convert", "--help"});
    EXPECT_EQ(sub.exitCode, 0);
    EXPECT_NE(sub.out.find("--quality"), std::string::npos);
}

}  // namespace
