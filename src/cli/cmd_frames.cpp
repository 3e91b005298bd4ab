// tarnwick-cli frames MEDIA DIR [--from T] [--to T] [--frames N] [--type bmp|png|jpg]
//                     [--quality Q]
//
// Writes every decoded frame of MEDIA's video (or of a range of it) at full size into DIR,
// named after its time in milliseconds, through the frames job.
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/console_progress.h"
#include "cli/job_options.h"
#include "jobs/frames_job.h"

namespace {

struct FramesArgs {
    CFramesParams params;
    MediaRangeArgs range;

    int Run(const CRunContext& context);
};

std::string Seconds(std::int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", double(ms) / 1000);
    return text;
}

// The progress line and Ctrl-C as Stop.
class CFramesConsole : public IFramesObserver {
public:
    void OnEvent(const CFramesEvent& event) override {
        if (const auto* opened = std::get_if<CFramesOpened>(&event)) {
            m_nFromMs = opened->m_nFromMs;
            m_nEndMs = opened->m_nEndMs;
        } else if (const auto* written = std::get_if<CFrameWritten>(&event)) {
            if (m_line.Terminal())
                m_line.Draw(FormatFramesLine(written->m_strPath, written->m_nTimeMs - m_nFromMs,
                                             m_nEndMs < 0 ? -1 : m_nEndMs - m_nFromMs,
                                             written->m_nFrame, m_line.Elapsed(), m_line.Width()));
        }
    }
    bool StopRequested() override { return CProgressLine::Interrupted(); }
    void Finish() { m_line.Finish(); }

private:
    CProgressLine m_line;
    std::int64_t m_nFromMs = 0;
    std::int64_t m_nEndMs = -1;
};

int FramesArgs::Run(const CRunContext& context) {
    if (!range.Resolve(params.m_nFromMs, params.m_toMs, params.m_frames))
        return kExitUsage;
    params.m_nDecoderThreads = context.Workers();

    CFramesConsole console;
    const CFramesResult result = RunFramesJob(params, console);
    console.Finish();
    for (const std::string& path : result.m_leftovers)
        std::printf("removed %s, left behind by an earlier run that was killed\n", path.c_str());
    if (result.m_end == FramesEnd::Refused) {
        CliError(result.m_strReason);
        return kExitUsage;
    }
    std::string renumbered;
    if (result.m_nRenumbered > 0)
        renumbered = ", of which " + std::to_string(result.m_nRenumbered) +
                     " renumbered because the name existed";
    std::string span;
    if (result.m_nWritten > 0)
        span = "; media " + Seconds(result.m_nFirstMs) + " to " + Seconds(result.m_nLastMs) + " s";
    std::printf("%s: %" PRId64 " frames written%s%s%s\n", params.m_strTargetDir.c_str(),
                result.m_nWritten, renumbered.c_str(), span.c_str(),
                result.m_bStopped ? " (interrupted)" : "");
    std::fflush(stdout);
    switch (result.m_end) {
        case FramesEnd::ReadFailed:
            CliError(result.m_strReason);
            return kExitFailed;
        case FramesEnd::WriteFailed:
            CliError(result.m_strPath == params.m_strTargetDir
                         ? result.m_strReason
                         : result.m_strPath + ": " + result.m_strReason);
            return kExitFailed;
        case FramesEnd::Refused:
        case FramesEnd::Finished:
            break;
    }
    if (result.m_bStopped)
        return kExitFailed;
    if (result.m_nWritten == 0) {
        CliError(params.m_strMedia +
                 (range.Given() ? ": no frame in the range" : ": has no frame"));
        return kExitFailed;
    }
    return kExitOk;
}

CliCommand::Run AddFrames(CLI::App& app) {
    auto args = std::make_shared<FramesArgs>();
    CLI::App* sub = app.add_subcommand(
        "frames",
        "Write every frame of MEDIA's video, decoded from the file at its full size, into DIR, "
        "named after its time in milliseconds (\"%08d\" and the type's extension); a frame "
        "whose name is taken gets the next free number, and no file is ever replaced. Ctrl-C "
        "stops after the current frame.");
    sub->add_option("MEDIA", args->params.m_strMedia, "Media file to read")->required();
    sub->add_option("DIR", args->params.m_strTargetDir,
                    "Folder for the frames; created with its parents")
        ->required();
    AddMediaRangeOptions(sub, args->range, "Write at most N frames");
    AddChoiceOption(sub, "--type", args->params.m_type, kFrameFileTypes, FrameFileTypeName,
                    "File type of the frames: bmp (the default), png or jpg")
        ->default_val("bmp");
    AddQualityOption(sub, args->params.m_nJpgQuality);
    return [args](const CRunContext& context) { return args->Run(context); };
}

}  // namespace

CliCommand FramesCommand() {
    return {AddFrames};
}
