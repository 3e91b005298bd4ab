#include "video/video_reader.h"

#include <gtest/gtest.h>

#include <optional>

#include "common/temp_dir.h"
#include "common/video_reference.h"

namespace {

using VideoReader = CVideoClipsTest;

// Every frame the reader gives, as the reference describes them; the size of each checked.
std::vector<SReferenceFrame> ReadAll(IFrameSource& source, int width, int height,
                                     std::string* failure) {
    std::vector<SReferenceFrame> frames;
    SFrame frame;
    for (;;) {
        const CResult<bool> next = source.Next(frame);
        if (!next) {
            *failure = next.Reason();
            break;
        }
        if (!*next)
            break;
        EXPECT_EQ(frame.width, width);
        EXPECT_EQ(frame.height, height);
        EXPECT_EQ(frame.bgr.size(), std::size_t(width) * height * 3);
        frames.push_back({frame.timeMs, FrameAdler32(frame.bgr.data(), frame.bgr.size())});
    }
    return frames;
}

std::string Secs(std::int64_t ms) {
    return std::to_string(ms / 1000) + "." + std::to_string(1000 + ms % 1000).substr(1);
}

}  // namespace

// The reader gives what the ffmpeg program decodes: the same frames, times and pixels, over
// the whole clip and over ranges that start inside a group of pictures.
TEST_F(VideoReader, GivesWhatFfmpegDecodes) {
    struct Case {
        bool vfr;
        std::int64_t fromMs;
        std::optional<std::int64_t> toMs;
        int threads;
    };
    const Case kCases[] = {
        {false, 0, std::nullopt, 0},    {false, 0, std::nullopt, 1},
        {false, 520, 1300, 2},                                   // key frames at 0.48 and 0.96 s
        {false, 1000, std::nullopt, 0}, {false, 1010, 1050, 1},  // one frame, not on a key frame
        {true, 0, std::nullopt, 0},     {true, 410, 500, 2},  // between 0.360 and the jump to 0.413
        {true, 1234, std::nullopt, 1},
    };
    for (const Case& c : kCases) {
        const std::string& clip = c.vfr ? s_vfr : s_h264;
        SCOPED_TRACE(clip + " from " + std::to_string(c.fromMs) + " threads " +
                     std::to_string(c.threads));
        std::vector<std::string> range;
        if (c.fromMs > 0)
            range = {"-ss", Secs(c.fromMs)};
        if (c.toMs) {
            range.push_back("-to");
            range.push_back(Secs(*c.toMs));
        }
        std::string why;
        const std::vector<SReferenceFrame> expected = FfmpegFrames(clip, range, &why);
        ASSERT_FALSE(expected.empty()) << why;

        CVideoReadOptions options;
        options.m_nFromMs = c.fromMs;
        options.m_toMs = c.toMs;
        options.m_nThreads = c.threads;
        auto reader = CVideoReader::Open(clip, options);
        ASSERT_TRUE(reader) << reader.Reason();
        const int width = c.vfr ? 322 : 320, height = c.vfr ? 242 : 240;
        EXPECT_EQ((*reader)->Info().m_nWidth, width);
        std::string failure;
        EXPECT_EQ(ReadAll(**reader, width, height, &failure), expected);
        EXPECT_EQ(failure, "");
        // Read again from the start of the range: the same frames.
        ASSERT_TRUE((*reader)->Rewind().Ok());
        EXPECT_EQ(ReadAll(**reader, width, height, &failure), expected);
    }
}

// A frame count takes the first N of the range; bytes in memory read as the file does; a stop
// ends the read with a failure that says so.
TEST_F(VideoReader, CountsMemoryAndStop) {
    std::string why;
    const std::vector<SReferenceFrame> all = FfmpegFrames(s_h264, {"-ss", "0.6"}, &why);
    ASSERT_GT(all.size(), 5u) << why;

    CVideoReadOptions options;
    options.m_nFromMs = 600;
    options.m_maxFrames = 5;
    auto counted = CVideoReader::Open(s_h264, options);
    ASSERT_TRUE(counted) << counted.Reason();
    std::string failure;
    EXPECT_EQ(ReadAll(**counted, 320, 240, &failure),
              std::vector<SReferenceFrame>(all.begin(), all.begin() + 5));

    const std::vector<unsigned char> bytes = ReadAllBytes(s_h264);
    options.m_maxFrames.reset();
    auto memory = CVideoReader::OpenMemory(bytes.data(), bytes.size(), "clip in memory", options);
    ASSERT_TRUE(memory) << memory.Reason();
    EXPECT_EQ(ReadAll(**memory, 320, 240, &failure), all);
    EXPECT_EQ(failure, "");

    int asked = 0;
    bool stop = false;
    options.m_stop = [&] {
        ++asked;
        return stop;
    };
    auto stopped = CVideoReader::Open(s_h264, options);
    ASSERT_TRUE(stopped) << stopped.Reason();
    SFrame frame;
    ASSERT_TRUE((*stopped)->Next(frame).Ok());
    stop = true;
    const CResult<bool> after = (*stopped)->Next(frame);
    ASSERT_FALSE(after);
    EXPECT_EQ(after.Reason(), s_h264 + ": stopped");
    EXPECT_GT(asked, 1);
}

// Whatever is wrong with a file, opening or reading it fails with its name and a reason,
// never a crash or a frame past the damage.
TEST_F(VideoReader, RefusesWhatIsNoVideo) {
    const std::string sound = MakeClipWith(
        s_dir->Path(), "tone.mka",
        {"-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-c:a", "flac"}, &s_why);
    ASSERT_FALSE(sound.empty()) << s_why;
    const std::string text = s_dir->File("notes.mp4");
    WriteAllBytes(text, {'n', 'o', 't', 'e', 's', '\n'});
    const std::string empty = s_dir->File("empty.mkv");
    WriteAllBytes(empty, {});
    struct Case {
        std::string path;
        const char* reason;
    };
    const Case kCases[] = {
        {sound, "has no video"},
        {text, "not a media file that can be read"},
        {empty, "not a media file that can be read"},
        {s_dir->Path().string(), "is a folder"},
        {s_dir->File("missing.mp4"), "no such file"},
        {"/dev/null", "not a regular file"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.path);
        auto reader = CVideoReader::Open(c.path, {});
        ASSERT_FALSE(reader);
        EXPECT_EQ(reader.Reason().rfind(c.path + ": " + c.reason, 0), 0u) << reader.Reason();
    }
}
