// tarnwick-cli still MEDIA OUT [--from T] [--to T] [--frames N] [--at T] [--scale 1|2|3]
//                    [--keep PCT] [--report FILE] [--quality Q]
//
// Makes one still picture out of MEDIA's frames (or a range of them) through the still job:
// the sharpest frames aligned and merged on a grid 1, 2 or 3 times their size.
#include <cstdlib>
#include <optional>
#include <string>

#include "cli/job_options.h"
#include "cli/still_console.h"
#include "jobs/still_job.h"
#include "video/media_time.h"

namespace {

struct StillArgs {
    CStillJobParams params;
    MediaRangeArgs range;
    std::string at;

    int Run(const CRunContext& context);
};

int StillArgs::Run(const CRunContext& context) {
    if (!range.Resolve(params.m_nFromMs, params.m_toMs, params.m_frames))
        return kExitUsage;
    if (!at.empty())
        params.m_atMs = *ParseMediaTime(at);
    params.m_nThreads = context.Workers();

    return RunStillOnConsole(params);
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
                    "Merge the sharpest PCT percent of the frames (default 80); frames under "
                    "half the median sharpness are left out whatever PCT")
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
