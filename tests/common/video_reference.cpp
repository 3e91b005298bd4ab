#include "common/video_reference.h"

#include <cmath>
#include <sstream>

#include "common/run_cli.h"

std::uint32_t FrameAdler32(const std::uint8_t* data, std::size_t size) {
    constexpr std::uint32_t kMod = 65521;
    std::uint32_t a = 0, b = 0;  // framecrc starts at 0, not at 1
    for (std::size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % kMod;
        b = (b + a) % kMod;
    }
    return (b << 16) | a;
}

std::string MakeClipWith(const std::filesystem::path& dir, const std::string& name,
                         const std::vector<std::string>& args, std::string* why) {
    const std::string path = (dir / name).string();
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(path);
    const CliResult run = RunProgram(argv);
    if (run.exitCode != 0) {
        if (why)
            *why = "ffmpeg failed for " + path + ": " + run.err;
        return {};
    }
    return path;
}

std::string MakeH264Clip(const std::filesystem::path& dir, std::string* why) {
    return MakeClipWith(dir, "gop.mp4",
                        {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25", "-t", "2", "-c:v",
                         "libx264", "-pix_fmt", "yuv420p", "-g", "12", "-bf", "2"},
                        why);
}

std::string MakeVfrClip(const std::filesystem::path& dir, std::string* why) {
    return MakeClipWith(
        dir, "vfr.mkv",
        {"-f", "lavfi", "-i", "testsrc2=size=322x242:rate=25", "-t", "2", "-vf",
         "settb=1/1000,setpts='(N/25+if(gte(N,10),0.013,0)+if(gte(N,30),0.021,0))/TB'", "-fps_mode",
         "vfr", "-enc_time_base", "1/1000", "-c:v", "mpeg4", "-g", "10"},
        why);
}

std::vector<SReferenceFrame> FfmpegFrames(const std::string& clip,
                                          const std::vector<std::string>& inputArgs,
                                          std::string* why) {
    // The times as the file has them (-copyts), every frame once (passthrough), in the
    // stream's own time base; framecrc sums each BGR24 frame.
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error"};
    argv.insert(argv.end(), inputArgs.begin(), inputArgs.end());
    for (const char* arg :
         {"-copyts", "-i", clip.c_str(), "-map", "0:v:0", "-fps_mode", "passthrough",
          "-enc_time_base", "-1", "-pix_fmt", "bgr24", "-f", "framecrc", "-"})
        argv.emplace_back(arg);
    const CliResult run = RunProgram(argv);
    std::vector<SReferenceFrame> frames;
    if (run.exitCode != 0) {
        if (why)
            *why = "ffmpeg failed for " + clip + ": " + run.err;
        return frames;
    }
    std::istringstream lines(run.out);
    std::string line;
    long long num = 0, den = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("#tb 0:", 0) == 0) {
            std::sscanf(line.c_str(), "#tb 0: %lld/%lld", &num, &den);
            continue;
        }
        if (line.empty() || line[0] == '#')
            continue;
        long long stream = 0, dts = 0, pts = 0, duration = 0, size = 0;
        unsigned adler = 0;
        if (std::sscanf(line.c_str(), "%lld, %lld, %lld, %lld, %lld, 0x%x", &stream, &dts, &pts,
                        &duration, &size, &adler) != 6 ||
            den == 0) {
            if (why)
                *why = "unexpected framecrc line: " + line;
            return {};
        }
        const auto ms =
            std::int64_t(std::llround(double(pts) * double(num) * 1000.0 / double(den)));
        frames.push_back({ms, adler});
    }
    return frames;
}

TempDir* CVideoClipsTest::s_dir = nullptr;
std::string CVideoClipsTest::s_h264, CVideoClipsTest::s_vfr, CVideoClipsTest::s_why;

void CVideoClipsTest::SetUpTestSuite() {
    s_dir = new TempDir;
    s_h264 = MakeH264Clip(s_dir->Path(), &s_why);
    if (!s_h264.empty())
        s_vfr = MakeVfrClip(s_dir->Path(), &s_why);
}

void CVideoClipsTest::TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
}
