// tarnwick-cli still MEDIA OUT [--from T] [--to T] [--frames N] [--at T] [--scale 1|2|3]
//                    [--keep PCT] [--report FILE] [--quality Q]
//
// Makes one still picture out of MEDIA's frames (or a range of them) through the still job:
// the sharpest frames aligned and merged on a grid 1, 2 or 3 times their size.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "cli/console_progress.h"
#include "cli/job_options.h"
#include "jobs/still_job.h"
#include "video/media_time.h"

namespace {

struct StillArgs {
    CStillJobParams params;
    MediaRangeArgs range;
    std::string at;

    int Run(const CRunContext& context);
};

// "m:ss" of a time left, rounded up to the second.
std::string Clock(double seconds) {
    const long whole = std::lround(std::ceil(std::max(seconds, 0.0)));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

// The progress line and Ctrl-C as Stop.
class CStillConsole : public IStillJobObserver {
public:
    void OnEvent(const CStillJobEvent& event) override {
        if (!m_line.Terminal())
            return;
        if (const auto* read = std::get_if<CStillFramesRead>(&event)) {
            m_line.Draw(KeepEnd(std::to_string(read->m_nRead) + " frames read and ranked",
                                std::size_t(m_line.Width() - 1)));
        } else if (const auto* merged = std::get_if<CStillFrameMerged>(&event)) {
            std::string bar = "[";
            const int filled = merged->m_nTotal > 0 ? 10 * merged->m_nDone / merged->m_nTotal : 0;
            bar.append(std::size_t(filled), '#').append(std::size_t(10 - filled), '.') += "] ";
            m_line.Draw(KeepEnd(
                bar + std::to_string(merged->m_nDone) + "/" + std::to_string(merged->m_nTotal) +
                    " frames aligned and merged  " + Clock(merged->m_dSecondsLeft) + " left",
                std::size_t(m_line.Width() - 1)));
        } else if (std::holds_alternative<CStillSharpening>(event)) {
            m_line.Draw("sharpening");
        }
    }
    bool StopRequested() override { return CProgressLine::Interrupted(); }
    void Finish() { m_line.Finish(); }

private:
    CProgressLine m_line;
};

int StillArgs::Run(const CRunContext& context) {
    if (!range.Resolve(params.m_nFromMs, params.m_toMs, params.m_frames))
        return kExitUsage;
    if (!at.empty())
        params.m_atMs = *ParseMediaTime(at);
    params.m_nThreads = context.Workers();

    CStillConsole console;
    const CStillJobResult result = RunStillJob(params, console);
    console.Finish();
    for (const std::string& path : result.m_leftovers)
        std::printf("removed %s, left behind by an earlier run that was killed\n", path.c_str());
    switch (result.m_end) {
        case StillJobEnd::Refused:
            CliError(result.m_strReason);
            return kExitUsage;
        case StillJobEnd::ReadFailed:
        case StillJobEnd::NoPicture:
            CliError(result.m_strReason);
            return kExitFailed;
        case StillJobEnd::WriteFailed:
            CliError(result.m_strPath + ": " + result.m_strReason);
            return kExitFailed;
        case StillJobEnd::Finished:
            break;
    }
    if (result.m_bStopped) {
        std::printf("%s: nothing written (interrupted)\n", params.m_strTarget.c_str());
        std::fflush(stdout);
        return kExitFailed;
    }
    std::printf("%s: %dx%d, %d of %d frames merged, %d left out\n", params.m_strTarget.c_str(),
                result.m_nWidth, result.m_nHeight, result.m_nMerged, result.m_nFrames,
                result.m_nLeftOut);
    if (!params.m_strReport.empty())
        std::printf("wrote %s\n", params.m_strReport.c_str());
    std::fflush(stdout);
    return kExitOk;
}

CLI::Validator Scale() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (text != "1" && text != "2" && text != "3")
                return "must be 1, 2 or 3, not " + text;
            return {};
        },
        "");
}

CLI::Validator KeepPercent() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !(value > 0 && value <= 100))
                return "must be a number above 0 and at most 100, such as 80, not " + text;
            return {};
        },
        "");
}

CliCommand::Run AddStill(CLI::App& app) {
    auto args = std::make_shared<StillArgs>();
    CLI::App* sub = app.add_subcommand(
        "still",
        "Make one still picture out of MEDIA's frames: the sharpest are aligned to a reference "
        "and merged on a grid 1, 2 or 3 times their size, and the result written to OUT as BMP, "
        "JPEG or PNG by its extension (a file of that name is replaced). Ctrl-C stops and "
        "writes nothing.");
    sub->add_option("MEDIA", args->params.m_strMedia, "Media file to read")->required();
    sub->add_option("OUT", args->params.m_strTarget,
                    "Picture to write: .bmp, .jpg, .jpeg or .png; its folder is created with its "
                    "parents")
        ->required();
    AddMediaRangeOptions(sub, args->range, "Read at most N frames");
    sub->add_option("--at", args->at,
                    "Align to the frame nearest this time instead of the sharpest one")
        ->type_name("T")
        ->check(MediaTime());
    sub->add_option("--scale", args->params.m_nScale,
                    "The picture's size in frame sizes: 1, 2 (the default) or 3")
        ->type_name("1|2|3")
        ->check(Scale());
    sub->add_option("--keep", args->params.m_dKeepPercent,
                    "Merge the sharpest PCT percent of the frames (default 80)")
        ->type_name("PCT")
        ->check(KeepPercent());
    sub->add_option("--report", args->params.m_strReport,
                    "Write a CSV line per frame: its time in ms, its sharpness, kept, reference "
                    "or why it was left out, and its shift against the reference")
        ->type_name("FILE");
    AddQualityOption(sub, args->params.m_nJpgQuality);
    return [args](const CRunContext& context) { return args->Run(context); };
}

}  // namespace

CliCommand StillCommand() {
    return {AddStill};
}
