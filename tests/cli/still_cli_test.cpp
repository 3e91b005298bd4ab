#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>

#include "common/run_cli.h"
#include "common/temp_dir.h"
#include "common/video_reference.h"
#include "common/wait_for.h"
#include "image/dib_image.h"
#include "image/image_file.h"

namespace fs = std::filesystem;

namespace {

using StillCli = CVideoClipsTest;

// The size a written picture states: BMP and JPEG through the program's loader, PNG from its
// IHDR chunk (big-endian width and height at bytes 16 and 20), which no writer of ours reads.
std::pair<int, int> PictureSize(const fs::path& file) {
    if (file.extension() == ".PNG" || file.extension() == ".png") {
        const std::vector<unsigned char> bytes = ReadAllBytes(file.string());
        EXPECT_GE(bytes.size(), 24u);
        EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "IHDR");
        const auto be32 = [&](std::size_t at) {
            return int(bytes[at] << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3]);
        };
        return {be32(16), be32(20)};
    }
    CDibImage image;
    const CStatus loaded = LoadImageFile(file.string(), image);
    EXPECT_TRUE(loaded.Ok()) << loaded.Reason();
    return {image.m_nWidth, image.m_nHeight};
}

struct ReportRow {
    long long timeMs = 0;
    std::string status;
};

// The rows of a report after checking its header and the number of fields of each line.
std::vector<ReportRow> ReadReport(const fs::path& file) {
    const std::vector<unsigned char> bytes = ReadAllBytes(file.string());
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
    std::string line;
    std::getline(text, line);
    EXPECT_EQ(line, "time_ms,sharpness,status,dx,dy");
    std::vector<ReportRow> rows;
    while (std::getline(text, line)) {
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 4) << line;
        const std::size_t a = line.find(','), b = line.find(',', a + 1), c = line.find(',', b + 1);
        rows.push_back({std::stoll(line.substr(0, a)), line.substr(b + 1, c - b - 1)});
    }
    return rows;
}

std::vector<std::string> Hidden(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string()[0] == '.')
            names.push_back(entry.path().filename().string());
    return names;
}

}  // namespace

// Each output type comes back at the scale's multiple of the clip's size, and the report has
// one row per frame ffmpeg decodes in the range, at its time, with one reference: the frame
// nearest --at when given.
TEST_F(StillCli, WritesThePictureAndItsReport) {
    struct Case {
        std::string clip;
        const char* name;
        std::vector<std::string> options;  // of the command
        std::vector<std::string> range;    // the same for ffmpeg
        std::size_t limit;                 // --frames, 0: none
        int scale;
        std::optional<long long> atMs;
    };
    const Case kCases[] = {
        {s_h264, "x2.bmp", {"--scale", "2"}, {}, 0, 2, {}},
        {s_h264,
         "sub/x2.jpeg",
         {"--scale", "2", "--from", "0.5", "--to", "1.5"},
         {"-ss", "0.5", "-to", "1.5"},
         0,
         2,
         {}},
        {s_vfr, "x2.PNG", {"--frames", "14", "--at", "0.43"}, {}, 14, 2, 430},
        {s_vfr,
         "x1.jpg",
         {"--scale", "1", "--from", "0:01", "--keep", "50", "-q", "70"},
         {"-ss", "1"},
         0,
         1,
         {}},
        {s_h264, "x3.png", {"--scale", "3", "--frames", "8", "--at", "0:00.17"}, {}, 8, 3, 170},
    };
    int n = 0;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const fs::path out = s_dir->Path() / ("types" + std::to_string(n)) / c.name;
        const fs::path report = s_dir->Path() / ("reports" + std::to_string(n++)) / "r.csv";
        std::vector<std::string> args = {"still", c.clip, out.string(), "--report",
                                         report.string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const CliResult run = RunCli(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;

        std::string why;
        std::vector<SReferenceFrame> frames = FfmpegFrames(c.clip, c.range, &why);
        ASSERT_FALSE(frames.empty()) << why;
        if (c.limit > 0 && frames.size() > c.limit)
            frames.resize(c.limit);
        const int width = c.clip == s_h264 ? 320 : 322, height = c.clip == s_h264 ? 240 : 242;
        EXPECT_EQ(PictureSize(out), std::make_pair(width * c.scale, height * c.scale));

        const std::vector<ReportRow> rows = ReadReport(report);
        ASSERT_EQ(rows.size(), frames.size());
        int references = 0, merged = 0;
        long long referenceMs = -1;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].timeMs, frames[i].timeMs) << i;
            if (rows[i].status == "reference") {
                ++references;
                referenceMs = rows[i].timeMs;
            }
            merged += rows[i].status == "reference" || rows[i].status == "kept";
        }
        EXPECT_EQ(references, 1);
        if (c.atMs) {
            long long nearest = frames[0].timeMs;
            for (const SReferenceFrame& f : frames)
                if (std::llabs(f.timeMs - *c.atMs) < std::llabs(nearest - *c.atMs))
                    nearest = f.timeMs;
            EXPECT_EQ(referenceMs, nearest);
        }
        const std::string summary = out.string() + ": " + std::to_string(width * c.scale) + "x" +
                                    std::to_string(height * c.scale) + ", " +
                                    std::to_string(merged) + " of " + std::to_string(rows.size()) +
                                    " frames merged, " + std::to_string(rows.size() - merged) +
                                    " left out";
        EXPECT_NE(run.out.find(summary), std::string::npos) << run.out;
        EXPECT_TRUE(Hidden(out.parent_path()).empty());
    }
}

// Options it cannot use end with one message and exit 2 before anything is made; media it
// cannot read with one message naming the file and exit 1.
TEST_F(StillCli, RefusesBadOptionsAndMedia) {
    const std::string text = s_dir->File("text.mp4");
    WriteAllBytes(text, {'n', 'o', 't', ' ', 'a', ' ', 'c', 'l', 'i', 'p'});
    const std::vector<unsigned char> h264 = ReadAllBytes(s_h264);
    const std::string cut = s_dir->File("cut.mp4");
    WriteAllBytes(cut, std::vector<unsigned char>(h264.begin(), h264.begin() + h264.size() / 2));
    struct Case {
        std::string media;
        std::string out;  // a name within a fresh folder
        std::vector<std::string> options;
        int exitCode;
        std::string says;
    };
    const Case kCases[] = {
        {s_h264, "o.bmp", {"--scale", "4"}, 2, "must be 1, 2 or 3, not 4"},
        {s_h264, "o.bmp", {"--scale", "1.5"}, 2, "must be 1, 2 or 3, not 1.5"},
        {s_h264, "o.bmp", {"--keep", "0"}, 2, "above 0 and at most 100, such as 80, not 0"},
        {s_h264, "o.bmp", {"--keep", "100.5"}, 2, "not 100.5"},
        {s_h264, "o.bmp", {"--at", "1:75"}, 2, "not a time: 1:75"},
        {s_h264, "o.bmp", {"--from", "1", "--to", "0.5"}, 2, "--to 0.5 is not after --from 1"},
        {s_h264, "o.bmp", {"--frames", "0"}, 2, "--frames"},
        {s_h264, "o.bmp", {"-q", "0"}, 2, "--quality"},
        {s_h264, "o.gif", {}, 2, "o.gif: the picture is written as .bmp, .jpg, .jpeg or .png"},
        {s_h264, "o.png", {"--report", "@/o.png"}, 2, "o.png: is the picture's own name"},
        {s_h264, "o.bmp", {"--from", "5"}, 1, s_h264 + ": no frame in the range"},
        {text, "o.bmp", {}, 1, text + ": "},
        {cut, "o.bmp", {}, 1, cut + ": "},
        {s_dir->File("missing.mkv"), "o.bmp", {}, 1, s_dir->File("missing.mkv") + ": "},
    };
    int n = 0;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.says);
        const fs::path folder = s_dir->Path() / ("refused" + std::to_string(n++));
        std::vector<std::string> args = {"still", c.media, (folder / c.out).string()};
        for (std::string option : c.options) {
            if (option.rfind("@/", 0) == 0)
                option = (folder / option.substr(2)).string();
            args.push_back(option);
        }
        const CliResult run = RunCli(args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_FALSE(fs::exists(folder / c.out));
        if (c.exitCode == 1) {
            EXPECT_EQ(run.err.rfind("tarnwick-cli: " + c.media + ": ", 0), 0u) << run.err;
        }
    }
}

// As `average` does, an existing picture of the name is replaced in place (keeping its mode),
// and what is not a regular file ends the job before the media is read.
TEST_F(StillCli, ReplacesAFileButNothingElse) {
    const fs::path dir = s_dir->Path() / "existing";
    fs::create_directories(dir / "folder.bmp");
    const std::string file = (dir / "picture.bmp").string();
    WriteAllBytes(file, {'o', 'l', 'd'});
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);

    const CliResult replaced = RunCli({"still", s_h264, file, "--frames", "6", "--scale", "1"});
    ASSERT_EQ(replaced.exitCode, 0) << replaced.err;
    EXPECT_EQ(PictureSize(file), std::make_pair(320, 240));
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    const std::string folder = (dir / "folder.bmp").string();
    const CliResult refused = RunCli({"still", s_h264, folder});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find(folder + ": is not a regular file"), std::string::npos)
        << refused.err;
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_empty(folder));

    // The media is never the output.
    const CliResult itself = RunCli({"still", s_h264, s_h264 + ".bmp", "--report", s_h264});
    EXPECT_EQ(itself.exitCode, 2);
    EXPECT_NE(itself.err.find("is the media itself"), std::string::npos) << itself.err;
    EXPECT_FALSE(fs::exists(s_h264 + ".bmp"));
}

// Ctrl-C while frames are read ends the run with exit 1 and the summary saying so; the
// picture that was there stays as it was and no temporary file is left.
TEST_F(StillCli, CtrlCLeavesTheOldPicture) {
    std::string why;
    // Many small frames, so that the stop lands long before the end on any machine.
    const std::string clip = MakeClipWith(
        s_dir->Path(), "long.mkv",
        {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=100", "-t", "60", "-c:v", "mpeg4"}, &why);
    ASSERT_FALSE(clip.empty()) << why;
    const fs::path dir = s_dir->Path() / "stopped";
    fs::create_directories(dir);
    const std::string out = (dir / "still.png").string();
    const std::vector<unsigned char> old = {'o', 'l', 'd'};
    WriteAllBytes(out, old);
    const std::string stdoutPath = s_dir->File("stopped.out");
    const pid_t pid = StartCli({"still", clip, out}, stdoutPath);
    ASSERT_GT(pid, 0);
    // The media is opened only once Ctrl-C is taken over and every path checked.
    const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
    const bool bReading = WaitFor([&] {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(fds, error)) {
            std::error_code ignored;
            if (fs::read_symlink(entry.path(), ignored) == fs::canonical(clip))
                return true;
        }
        return false;
    });
    const int exitCode = InterruptCli(pid);
    ASSERT_TRUE(bReading);
    EXPECT_EQ(exitCode, 1);
    const std::vector<unsigned char> printed = ReadAllBytes(stdoutPath);
    const std::string summary(printed.begin(), printed.end());
    EXPECT_NE(summary.find(out + ": nothing written (interrupted)"), std::string::npos) << summary;
    EXPECT_EQ(ReadAllBytes(out), old);
    EXPECT_TRUE(Hidden(dir).empty());
}

// `average --scale` merges a folder of the clip's frames (as ffmpeg decodes them) as the still
// command merges the clip itself: the same picture byte for byte, in the type averaging picks
// by the target's name. Options of the plain averaging it cannot honour are refused.
TEST_F(StillCli, AverageScaleMergesAFolderAsStillMergesTheClip) {
    struct Case {
        int frames;
        const char* scale;
        const char* target;  // its extension picks the type: BMP for .bmp/.dib, else JPEG
        bool bAlign;         // implied by --scale; given or not, the same
        const char* quality;
    };
    const Case kCases[] = {
        {10, "2", "avg.bmp", false, "95"},
        {6, "3", "avg.dib", true, "95"},
        {5, "2", "avg.out", false, "80"},
    };
    int n = 0;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.target);
        const fs::path dir = s_dir->Path() / ("folder" + std::to_string(n++));
        fs::create_directories(dir / "in");
        std::string why;
        ASSERT_FALSE(MakeClipWith(dir / "in", "f%02d.bmp",
                                  {"-i", s_h264, "-frames:v", std::to_string(c.frames)}, &why)
                         .empty())
            << why;
        const std::string target = (dir / c.target).string();
        std::vector<std::string> args = {
            "average", (dir / "in").string(), target, "--scale", c.scale, "-q", c.quality};
        if (c.bAlign)
            args.push_back("--align");
        const CliResult averaged = RunCli(args);
        ASSERT_EQ(averaged.exitCode, 0) << averaged.err;
        EXPECT_NE(averaged.out.find(" pictures merged"), std::string::npos) << averaged.out;

        const bool bBmp = fs::path(target).extension() != ".out";
        const std::string still = (dir / (bBmp ? "still.bmp" : "still.jpg")).string();
        const std::vector<std::string> stillArgs = {
            "still", s_h264,   still, "--scale", c.scale, "--frames", std::to_string(c.frames),
            "-q",    c.quality};
        const CliResult made = RunCli(stillArgs);
        ASSERT_EQ(made.exitCode, 0) << made.err;
        EXPECT_EQ(ReadAllBytes(target), ReadAllBytes(still));
        const int factor = std::stoi(c.scale);
        EXPECT_EQ(PictureSize(still), std::make_pair(320 * factor, 240 * factor));
    }

    const fs::path in = s_dir->Path() / "folder0" / "in";
    const std::vector<std::string> refused[] = {{"--method", "median"}, {"--limit", "3"},
                                                {"--extras", "800"},    {"--auto-number"},
                                                {"--delete-sources"},   {"--report", "r.csv"},
                                                {"--kappa", "2"},       {"--method", "sigma-clip"}};
    for (const std::vector<std::string>& options : refused) {
        SCOPED_TRACE(options[0]);
        std::vector<std::string> args = {"average", in.string(),
                                         (s_dir->Path() / "refused.bmp").string(), "--scale", "2"};
        args.insert(args.end(), options.begin(), options.end());
        const CliResult run = RunCli(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.err.find(options[0] + " does not apply with --scale"), std::string::npos)
            << run.err;
        EXPECT_FALSE(fs::exists(s_dir->Path() / "refused.bmp"));
    }
    const CliResult four =
        RunCli({"average", in.string(), (s_dir->Path() / "four.bmp").string(), "--scale", "4"});
    EXPECT_EQ(four.exitCode, 2);
    EXPECT_NE(four.err.find("must be 2 or 3, not 4"), std::string::npos) << four.err;
}
