#include "cli/console_progress.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// Display width in characters of UTF-8 text.
int Columns(const std::string& text) {
    int n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

}  // namespace

TEST(CConsoleProgress, FormatLine) {
    struct Case {
        const char* path;
        int done, total;
        double seconds;
        int width;
        const char* starts;  // expected beginning
        const char* ends;    // expected end
    };
    const Case kCases[] = {
        {"/in/a.bmp", 0, 10, 0.0, 80, "[....................] 0/10  ", "a.bmp"},
        {"/in/a.bmp", 5, 10, 2.0, 80, "[##########..........] 5/10  2.5 files/s  ", "a.bmp"},
        {"/in/a.bmp", 10, 10, 4.0, 80, "[####################] 10/10", "a.bmp"},
        // Averaging visits files past the count: the line stays at its end.
        {"/in/z.bmp", 300, 255, 1.0, 80, "[####################] 255/255", "z.bmp"},
        // A long name keeps its end and the line its width.
        {"/in/very-long-name-of-a-grabbed-frame-000123.bmp", 1, 4, 1.0, 60, "[#####",
         "frame-000123.bmp"},
        {"/in/源文件源文件源文件源文件源文件源文件源文件.jpg", 1, 4, 1.0, 60, "[#####",
         "源文件源文件.jpg"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.path);
        const std::string line =
            CConsoleProgress::FormatLine(c.path, c.done, c.total, c.seconds, c.width);
        EXPECT_EQ(line.rfind(c.starts, 0), 0u) << line;
        EXPECT_EQ(line.substr(line.size() - std::string(c.ends).size()), c.ends) << line;
        EXPECT_LT(Columns(line), c.width) << line;
        // Only a name that does not fit is cut, and the cut is marked.
        const bool bFits = line.find(fs::path(c.path).filename().string()) != std::string::npos;
        EXPECT_NE(bFits, line.find("…") != std::string::npos) << line;
        if (!bFits) {
            EXPECT_EQ(Columns(line), c.width - 1) << line;
        }
    }
}

// The frames line: a bar over the range's seconds when its length is known, the count and the
// rate, and the file's name cut to the width.
TEST(CConsoleProgress, FormatFramesLine) {
    struct Case {
        std::int64_t doneMs, rangeMs, frames;
        double seconds;
        int width;
        const char* starts;
        const char* ends;
    };
    const Case kCases[] = {
        {0, 10'000, 1, 0.0, 80, "[....................] 0.0/10.0 s  1 frames  ", "00000000.bmp"},
        {5'000, 10'000, 125, 2.5, 80,
         "[##########..........] 5.0/10.0 s  125 frames  50.0 frames/s", "00005000.bmp"},
        {12'000, 10'000, 300, 1.0, 80, "[####################] 10.0/10.0 s", "00005000.bmp"},
        {61'300, -1, 7, 1.0, 80, "61.3 s  7 frames  7.0 frames/s  ", "00005000.bmp"},
        // Too narrow for the whole name: its end stays, after a mark.
        {5'000, 10'000, 125, 2.5, 70, "[##########", ".bmp"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.starts);
        const std::string path = c.doneMs == 0 ? "/out/00000000.bmp" : "/out/00005000.bmp";
        const std::string line =
            FormatFramesLine(path, c.doneMs, c.rangeMs, c.frames, c.seconds, c.width);
        EXPECT_EQ(line.rfind(c.starts, 0), 0u) << line;
        EXPECT_EQ(line.substr(line.size() - std::string(c.ends).size()), c.ends) << line;
        EXPECT_LT(Columns(line), c.width) << line;
        EXPECT_NE(line.find(fs::path(path).filename().string()) == std::string::npos,
                  line.find("…") == std::string::npos)
            << line;
    }
}
