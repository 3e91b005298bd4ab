#include <gtest/gtest.h>

#include <signal.h>

#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>

#include "common/media_clips.h"
#include "common/run_cli.h"
#include "common/temp_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kFrameFileBytes = 14 + 40 + 1052 * 240;  // 252534

struct Recording {
    std::vector<int> numbers;  // file numbers, ascending
    int written = -1;
    int renumbered = 0;
    int dropped = -1;
    int failed = -1;
};

// Eight or more digits and ".bmp".
bool IsFrameName(const std::string& name) {
    const std::size_t digits = name.size() - 4;
    if (name.size() < 12 || name.compare(digits, 4, ".bmp") != 0)
        return false;
    return std::all_of(name.begin(), name.begin() + std::ptrdiff_t(digits),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The frame files of `dir` (but the names in `others`) and the figures the command printed.
Recording ReadRecording(const fs::path& dir, const std::string& out,
                        const std::vector<int>& others = {}) {
    Recording r;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(IsFrameName(name)) << name;
        const int number = std::stoi(name);
        if (std::find(others.begin(), others.end(), number) != others.end())
            continue;
        EXPECT_EQ(entry.file_size(), kFrameFileBytes) << name;
        r.numbers.push_back(number);
    }
    std::sort(r.numbers.begin(), r.numbers.end());
    static const std::regex figures(
        ": (\\d+) frames written(, of which (\\d+) renumbered because the name existed)?, "
        "(\\d+) dropped \\(queue full\\), (\\d+) failed");
    std::smatch match;
    if (std::regex_search(out, match, figures)) {
        r.written = std::stoi(match[1]);
        r.renumbered = match[3].matched ? std::stoi(match[3]) : 0;
        r.dropped = std::stoi(match[4]);
        r.failed = std::stoi(match[5]);
    }
    return r;
}

std::string FrameName(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "%08d.bmp", number);
    return name;
}

// Mean brightness of the picture area that the 320 x 240 video covers in a frame file.
double MeanOfPicture(const std::vector<unsigned char>& file) {
    double sum = 0;
    int n = 0;
    for (int row = 10; row < 230; row += 4) {
        for (int x = 20; x < 330; x += 4) {
            const unsigned char* p = file.data() + 54 + row * 1052 + x * 3;
            sum += p[0] + p[1] + p[2];
            ++n;
        }
    }
    return sum / (3.0 * n);
}

}  // namespace

// Clips of several formats, both writer modes: full-size frames named after the position,
// showing the video, numbers rising through the clip.
TEST(CliRecord, RecordsClipsOfSeveralFormats) {
    TempDir dir;
    const char* extensions[] = {".avi", ".wmv", ".mpg", ".dat", ".rm", ".swf"};
    const char* writers[] = {"timer", "position"};
    for (const char* extension : extensions) {
        std::string why;
        const std::string clip = MakeMediaClip(dir.Path(), extension, 1.5, &why);
        ASSERT_FALSE(clip.empty()) << why;
        for (const char* writer : writers) {
            SCOPED_TRACE(std::string(extension) + " " + writer);
            const fs::path target =
                dir.Path() / (std::string("out") + extension + writer) / "frames";
            CliResult r =
                RunCli({"record", clip, target.string(), "--interval", "40", "--writer", writer});
            ASSERT_EQ(r.exitCode, 0) << r.err;
            const Recording rec = ReadRecording(target, r.out);
            ASSERT_GE(rec.numbers.size(), 10u) << r.out;
            EXPECT_EQ(rec.failed, 0);
            // The numbers follow media time: from the start to near the end of 1.5 s.
            EXPECT_LT(rec.numbers.front(), 300);
            EXPECT_GT(rec.numbers.back(), 1000);
            EXPECT_LE(rec.numbers.back(), 1600);
            const auto first = ReadAllBytes((target / FrameName(rec.numbers.front())).string());
            const auto mid =
                ReadAllBytes((target / FrameName(rec.numbers[rec.numbers.size() / 2])).string());
            const auto last = ReadAllBytes((target / FrameName(rec.numbers.back())).string());
            // The video's picture, not black, from the first frame on.
            EXPECT_GT(MeanOfPicture(first), 20.0);
            EXPECT_GT(MeanOfPicture(mid), 20.0);
            EXPECT_GT(MeanOfPicture(last), 20.0);
            // One file a frame written: none replaced another.
            EXPECT_EQ(int(rec.numbers.size()), rec.written);
            EXPECT_NE(first, last);  // the picture moved on with playback
        }
    }
}

TEST(CliRecord, RefusesBadMediaAndBadTargets) {
    TempDir dir;
    WriteAllBytes(dir.File("junk.wmv"), {'n', 'o', 't', ' ', 'm', 'e', 'd', 'i', 'a'});
    CliResult r = RunCli({"record", dir.File("junk.wmv"), dir.File("out")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(dir.File("junk.wmv")), std::string::npos) << r.err;

    WriteAllBytes(dir.File("plain"), {'x'});
    r = RunCli({"record", dir.File("junk.wmv"), dir.File("plain") + "/sub"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(dir.File("plain")), std::string::npos) << r.err;

    struct Usage {
        std::vector<std::string> extra;
    };
    const Usage usages[] = {{{"--interval", "19"}},
                            {{"--interval", "1001"}},
                            {{"--rate", "0"}},
                            {{"--rate", "201"}},
                            {{"--writer", "fast"}}};
    for (const Usage& u : usages) {
        std::vector<std::string> args = {"record", dir.File("junk.wmv"), dir.File("out")};
        args.insert(args.end(), u.extra.begin(), u.extra.end());
        EXPECT_EQ(RunCli(args).exitCode, 2) << u.extra[0] << " " << u.extra[1];
    }
}

// At half speed the same media takes twice as long, so more frames are grabbed for it; the
// numbers still cover the media's time, not the wall clock's.
TEST(CliRecord, RateSlowsPlaybackWhileRecording) {
    TempDir dir;
    std::string why;
    const std::string clip = MakeMediaClip(dir.Path(), ".avi", 1.0, &why);
    ASSERT_FALSE(clip.empty()) << why;
    int written[2] = {0, 0};
    const char* rates[] = {"100", "50"};
    for (int i = 0; i < 2; ++i) {
        const fs::path target = dir.Path() / rates[i];
        CliResult r =
            RunCli({"record", clip, target.string(), "--rate", rates[i], "--interval", "40"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const Recording rec = ReadRecording(target, r.out);
        written[i] = rec.written;
        ASSERT_FALSE(rec.numbers.empty());
        EXPECT_LE(rec.numbers.back(), 1100);
    }
    EXPECT_GT(written[1], written[0]);
}

TEST(CliRecord, CtrlCEndsTheRecordingWithAFinalFlush) {
    TempDir dir;
    std::string why;
    const std::string clip = MakeMediaClip(dir.Path(), ".mpg", 20.0, &why);
    ASSERT_FALSE(clip.empty()) << why;
    const fs::path target = dir.Path() / "a" / "b";
    QProcess cli;
    cli.start(TARNWICK_CLI_PATH,
              {"record", QString::fromStdString(clip), QString::fromStdString(target.string())});
    ASSERT_TRUE(cli.waitForStarted(5000));
    // Wait until frames are being written, then interrupt.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end &&
           (!fs::exists(target) || fs::directory_iterator(target) == fs::directory_iterator())) {
        cli.waitForFinished(50);
    }
    ::kill(pid_t(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 0);
    const std::string out = cli.readAllStandardOutput().toStdString();
    EXPECT_NE(out.find("(interrupted)"), std::string::npos) << out;
    const Recording rec = ReadRecording(target, out);
    EXPECT_FALSE(rec.numbers.empty());
    EXPECT_LT(rec.numbers.back(), 15000);  // stopped well before the end of the media
}

// A still image stands at position 0 throughout: its frames are named 0, 1, 2, ..., one file a
// frame written, past files already in the folder (kept, counted and said); media of sound
// alone is refused with one line and exit 1, before any frame is made.
TEST(CliRecord, StillImagesTakeOneNameEachAndSoundAloneIsRefused) {
    TempDir dir;
    std::string why;
    const std::string still = MakeStillImage(dir.Path(), &why);
    ASSERT_FALSE(still.empty()) << why;
    const std::string sound = MakeMediaClip(dir.Path(), ".mp2", 1.0, &why);
    ASSERT_FALSE(sound.empty()) << why;
    const struct {
        const char* name;
        std::string media;
        std::vector<int> existing;  // frame files already in the folder
        int renumbered;             // frames that found their name taken (the 2nd and 3rd here)
        bool refused;
    } cases[] = {
        {"still image", still, {}, 0, false},
        {"still image, files in the way", still, {1, 3, 4}, 2, false},
        {"sound only", sound, {}, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path target = dir.Path() / c.name;
        fs::create_directories(target);
        for (int number : c.existing) std::ofstream(target / FrameName(number)) << "kept";
        const CliResult r = RunCli({"record", c.media, target.string()});
        if (c.refused) {
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_EQ(r.err,
                      "tarnwick-cli: " + c.media + ": has no picture to record (sound only)\n");
            EXPECT_TRUE(fs::is_empty(target));
            continue;
        }
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const Recording rec = ReadRecording(target, r.out, c.existing);
        ASSERT_GE(rec.written, 5) << r.out;
        EXPECT_EQ(rec.failed, 0);
        EXPECT_EQ(rec.renumbered, c.renumbered) << r.out;
        std::vector<int> expected;
        for (int n = 0; int(expected.size()) < rec.written; ++n) {
            if (std::find(c.existing.begin(), c.existing.end(), n) == c.existing.end())
                expected.push_back(n);
        }
        EXPECT_EQ(rec.numbers, expected);
        for (int number : c.existing) {
            const auto bytes = ReadAllBytes((target / FrameName(number)).string());
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "kept");
        }
        EXPECT_GT(MeanOfPicture(ReadAllBytes((target / FrameName(0)).string())), 20.0);
    }
}
