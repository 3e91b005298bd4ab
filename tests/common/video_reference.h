// Clips made with the ffmpeg program at test time and what ffmpeg itself decodes from them:
// the yardstick of the frame reader.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/temp_dir.h"

// One decoded frame: its time in ms and the Adler-32 (started at 0, as ffmpeg's framecrc
// does) of its packed BGR24 rows, top-down.
struct SReferenceFrame {
    std::int64_t timeMs = 0;
    std::uint32_t adler = 0;
    bool operator==(const SReferenceFrame&) const = default;
};

std::uint32_t FrameAdler32(const std::uint8_t* data, std::size_t size);

// Runs `ffmpeg -v error -y` with `args`, writing `dir`/`name`; its path, or empty with
// ffmpeg's complaint in *why.
std::string MakeClipWith(const std::filesystem::path& dir, const std::string& name,
                         const std::vector<std::string>& args, std::string* why);

// The test clips: 2 s of a moving test picture, key frames apart so that a start time falls
// inside a group of pictures.
// "gop.mp4": 320x240 H.264 (yuv420p, B-frames), 25 frames a second, a key frame every 12.
std::string MakeH264Clip(const std::filesystem::path& dir, std::string* why);
// "vfr.mkv": 322x242 MPEG-4 part 2 with frame times 40 ms apart but for two jumps (13 and
// 21 ms more), a key frame every 10.
std::string MakeVfrClip(const std::filesystem::path& dir, std::string* why);

// What the ffmpeg program decodes from `clip`'s first video stream, every frame once, as
// BGR24; `inputArgs` go before its -i (such as "-ss", "0.52", "-to", "1.3"). Empty with the
// reason in *why when ffmpeg fails.
std::vector<SReferenceFrame> FfmpegFrames(const std::string& clip,
                                          const std::vector<std::string>& inputArgs,
                                          std::string* why);

// A test suite over both clips, made once for the suite in a folder of its own; a test fails
// at its start when ffmpeg could not make them.
class CVideoClipsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override { ASSERT_FALSE(s_vfr.empty()) << s_why; }

    static TempDir* s_dir;
    static std::string s_h264, s_vfr, s_why;
};
