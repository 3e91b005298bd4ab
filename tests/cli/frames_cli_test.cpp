#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "common/run_cli.h"
#include "common/temp_dir.h"
#include "common/video_reference.h"
#include "common/wait_for.h"
#include "image/dib_image.h"
#include "image/image_file.h"

namespace fs = std::filesystem;

namespace {

using FramesCli = CVideoClipsTest;

// Every name in `dir`, sorted.
std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> names;
    if (fs::is_directory(dir))
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The picture of a written frame as packed top-down BGR24: BMP through the program's loader,
// PNG and JPEG through ffmpeg, which knows nothing of the writers.
SReferenceFrame WrittenFrame(const fs::path& file) {
    const std::int64_t ms = std::stoll(file.stem().string());
    if (file.extension() == ".bmp") {
        CDibImage image;
        const CStatus loaded = LoadImageFile(file.string(), image);
        EXPECT_TRUE(loaded.Ok()) << loaded.Reason();
        std::vector<std::uint8_t> bgr;
        for (int y = 0; y < image.m_nHeight; ++y)
            bgr.insert(bgr.end(), image.TopRow(y), image.TopRow(y) + image.m_nWidth * 3);
        return {ms, FrameAdler32(bgr.data(), bgr.size())};
    }
    std::string why;
    const auto decoded = FfmpegFrames(file.string(), {}, &why);
    EXPECT_EQ(decoded.size(), 1u) << why;
    return {ms, decoded.empty() ? 0 : decoded[0].adler};
}

}  // namespace

// `frames` writes each frame ffmpeg decodes once, named after its time, with its pixels: BMP
// and PNG exactly, JPEG as many files at the same times.
TEST_F(FramesCli, WritesEveryFrameByItsTime) {
    struct Case {
        bool vfr;
        std::vector<std::string> options;  // of the command
        std::vector<std::string> range;    // the same for ffmpeg
        const char* type;
        std::size_t limit;  // --frames, 0: none
    };
    const Case kCases[] = {
        {false, {}, {}, "bmp", 0},
        {true, {"--from", "0.4", "--to", "0:01.5"}, {"-ss", "0.4", "-to", "1.5"}, "png", 0},
        {false, {"--from", "0:00.52", "--frames", "4"}, {"-ss", "0.52"}, "bmp", 4},
        {true, {"--from", "1.01", "--type", "jpg"}, {"-ss", "1.01"}, "jpg", 0},
    };
    int n = 0;
    for (const Case& c : kCases) {
        const std::string& clip = c.vfr ? s_vfr : s_h264;
        SCOPED_TRACE(clip + " " + c.type + " " + std::to_string(n));
        const fs::path out = s_dir->Path() / ("out" + std::to_string(n++));
        std::vector<std::string> args = {"frames", clip, out.string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        if (std::string(c.type) != "jpg" && std::string(c.type) != "bmp")
            args.insert(args.end(), {"--type", c.type});
        const CliResult run = RunCli(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;

        std::string why;
        std::vector<SReferenceFrame> expected = FfmpegFrames(clip, c.range, &why);
        ASSERT_FALSE(expected.empty()) << why;
        if (c.limit > 0 && expected.size() > c.limit)
            expected.resize(c.limit);
        const std::vector<std::string> names = Names(out);
        ASSERT_EQ(names.size(), expected.size());
        EXPECT_NE(run.out.find(": " + std::to_string(expected.size()) + " frames written"),
                  std::string::npos)
            << run.out;
        for (std::size_t i = 0; i < names.size(); ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "%08lld.%s",
                          static_cast<long long>(expected[i].timeMs), c.type);
            EXPECT_EQ(names[i], name);
            if (std::string(c.type) != "jpg") {
                EXPECT_EQ(WrittenFrame(out / names[i]), expected[i]) << names[i];
            }
        }
    }
}

// A name that is taken is never replaced: the frame takes the next free number, and the file
// in the way stays as it was.
TEST_F(FramesCli, NeverReplacesAFile) {
    const fs::path out = s_dir->Path() / "taken";
    fs::create_directories(out);
    const std::vector<unsigned char> mine = {'m', 'i', 'n', 'e'};
    WriteAllBytes((out / "00000040.bmp").string(), mine);
    WriteAllBytes((out / "00000041.bmp").string(), mine);
    const CliResult run = RunCli({"frames", s_h264, out.string(), "--frames", "3"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Names(out), (std::vector<std::string>{"00000000.bmp", "00000040.bmp", "00000041.bmp",
                                                    "00000042.bmp", "00000080.bmp"}));
    EXPECT_EQ(ReadAllBytes((out / "00000040.bmp").string()), mine);
    EXPECT_EQ(ReadAllBytes((out / "00000041.bmp").string()), mine);
    EXPECT_NE(run.out.find("3 frames written, of which 1 renumbered"), std::string::npos)
        << run.out;
}

// Options it cannot use are refused before anything is read or made.
TEST_F(FramesCli, RefusesBadOptions) {
    struct Case {
        std::vector<std::string> options;
        const char* says;
    };
    const Case kCases[] = {
        {{"--from", "abc"}, "not a time: abc"},
        {{"--from", "1:75"}, "not a time: 1:75"},
        {{"--to", "-2"}, "-2"},
        {{"--from", "1.5", "--to", "1.5"}, "--to 1.5 is not after --from 1.5"},
        {{"--frames", "0"}, "--frames"},
        {{"--type", "gif"}, "gif not in {bmp,png,jpg}"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.says);
        const fs::path out = s_dir->Path() / "refused";
        std::vector<std::string> args = {"frames", s_h264, out.string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const CliResult run = RunCli(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

// Cut, altered and wrong files end with one message naming the file, exit 1, and no file left
// half-written: only whole frames before the damage.
TEST_F(FramesCli, DamagedMediaEndsWithItsName) {
    const std::vector<unsigned char> h264 = ReadAllBytes(s_h264);
    const std::vector<unsigned char> vfr = ReadAllBytes(s_vfr);
    ASSERT_GT(h264.size(), 20000u);
    ASSERT_GT(vfr.size(), 20000u);
    const auto cut = [](const std::vector<unsigned char>& bytes, double share) {
        return std::vector<unsigned char>(bytes.begin(),
                                          bytes.begin() + std::ptrdiff_t(bytes.size() * share));
    };
    // Bytes of the picture data changed, well past the headers.
    const auto flipped = [](std::vector<unsigned char> bytes, double share) {
        const std::size_t at = std::size_t(bytes.size() * share);
        for (std::size_t i = at; i < at + 16; ++i) bytes[i] ^= 0x5A;
        return bytes;
    };
    std::map<std::string, std::vector<unsigned char>> files = {
        {"cut-head.mp4", cut(h264, 0.001)},
        {"cut-half.mp4", cut(h264, 0.5)},
        {"cut-tail.mp4", cut(h264, 0.99)},
        {"cut-head.mkv", cut(vfr, 0.002)},
        {"cut-third.mkv", cut(vfr, 0.3)},
        {"cut-two-thirds.mkv", cut(vfr, 0.66)},
        {"flipped-40.mp4", flipped(h264, 0.4)},
        {"flipped-70.mp4", flipped(h264, 0.7)},
        {"flipped-40.mkv", flipped(vfr, 0.4)},
        {"flipped-60.mkv", flipped(vfr, 0.6)},
        {"empty.mp4", {}},
        {"text.mkv", {'j', 'u', 's', 't', ' ', 't', 'e', 'x', 't', '\n'}},
    };
    std::vector<std::string> paths;
    for (const auto& [name, bytes] : files) {
        paths.push_back(s_dir->File(name));
        WriteAllBytes(paths.back(), bytes);
    }
    paths.push_back(s_dir->Path().string());       // a folder
    paths.push_back(s_dir->File("missing.webm"));  // nothing there
    int n = 0;
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const fs::path out = s_dir->Path() / ("hostile" + std::to_string(n++));
        const CliResult run = RunCli({"frames", path, out.string()});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err.rfind("tarnwick-cli: " + path + ": ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        for (const std::string& name : Names(out)) {
            EXPECT_NE(name[0], '.') << "a temporary file is left: " << name;
            EXPECT_EQ(WrittenFrame(out / name).timeMs, std::stoll(name));
        }
    }
}

// Ctrl-C in the middle stops after the frame in hand: exit 1, the summary says so, and every
// file in the folder is a whole frame of the clip.
TEST_F(FramesCli, CtrlCLeavesOnlyWholeFrames) {
    std::string why;
    // Many small frames, so that the stop lands long before the end on any machine.
    const std::string clip = MakeClipWith(
        s_dir->Path(), "long.mkv",
        {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=100", "-t", "30", "-c:v", "mpeg4"}, &why);
    ASSERT_FALSE(clip.empty()) << why;
    const fs::path out = s_dir->Path() / "stopped";
    const std::string stdoutPath = s_dir->File("stopped.out");
    const pid_t pid = StartCli({"frames", clip, out.string(), "--type", "png"}, stdoutPath);
    ASSERT_GT(pid, 0);
    // Frozen as soon as frames are being written, then interrupted wherever it was.
    const bool bWriting = WaitFor([&] { return Names(out).size() >= 2; });
    const int exitCode = InterruptCli(pid);
    ASSERT_TRUE(bWriting);
    EXPECT_EQ(exitCode, 1);
    const std::vector<unsigned char> printed = ReadAllBytes(stdoutPath);
    const std::string summary(printed.begin(), printed.end());
    EXPECT_NE(summary.find("(interrupted)"), std::string::npos) << summary;
    const std::vector<std::string> names = Names(out);
    EXPECT_LT(names.size(), 3000u);
    for (const std::string& name : names) {
        ASSERT_NE(name[0], '.') << "a temporary file is left: " << name;
        EXPECT_EQ(WrittenFrame(out / name).timeMs % 10, 0) << name;
    }
}
