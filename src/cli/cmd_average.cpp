// tarnwick-cli average SRC_DIR TARGET [--type jpg|bmp] [--extras 800,1024] [--quality Q]
//                      [--auto-number] [--delete-sources]
#include <algorithm>

#include "cli/job_options.h"
#include "jobs/merge_image_job.h"

namespace {

struct AverageArgs {
    AverageArgs() { params.m_bAutoNumber = params.m_bDelSrc = false; }
    CMergeParams params;
    SourceKind source = SourceKind::Bmp;
    std::vector<int> extras;
};

int RunAverage(AverageArgs args) {
    const auto extra = [&](int width) {
        return std::find(args.extras.begin(), args.extras.end(), width) != args.extras.end();
    };
    args.params.m_source = args.source;
    args.params.m_bExtra800 = extra(800);
    args.params.m_bExtra1024 = extra(1024);
    return RunJobCommand<CMergeImageJob>(args.params);
}

const CliCommand kAverage(30, [](CLI::App& app) -> std::function<int()> {
    auto args = std::make_shared<AverageArgs>();
    CMergeParams& params = args->params;
    CLI::App* sub = AddJobSubcommand(
        app, "average",
        "Average every *.jpg or *.bmp image of SRC_DIR (the first 255 in folder order) pixel by "
        "pixel "
        "into TARGET, written as BMP for .bmp/.dib and as JPEG otherwise. Ctrl-C stops after the "
        "current file and writes nothing.",
        params, "Folder of the images to average", "TARGET", params.m_strTargetFile,
        "Image to write");
    AddSourceKindOption(sub, args->source);
    sub->add_option("--extras", args->extras,
                    "Also write copies filled and cropped to 800x600 and/or 1024x768 "
                    "(TARGET's name with _800x600 / _1024x768)")
        ->delimiter(',')
        ->check(CLI::IsMember({800, 1024}));
    AddQualityOption(sub, params.m_nJpgQuality);
    sub->add_flag("--auto-number", params.m_bAutoNumber,
                  "Write to the first free numbered name (TARGET's name with six digits)");
    sub->add_flag("--delete-sources", params.m_bDelSrc,
                  "Move the source images to the trash once the result is written");
    return [args] { return RunAverage(*args); };
});

}  // namespace
