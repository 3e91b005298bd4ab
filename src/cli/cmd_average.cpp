// tarnwick-cli average SRC_DIR TARGET [--type jpg|bmp] [--extras 800,1024] [--quality Q]
//                      [--auto-number] [--delete-sources]
#include <algorithm>

#include "cli/commands.h"
#include "cli/console_progress.h"
#include "jobs/merge_image_job.h"

namespace {

struct AverageArgs {
    std::string src;
    std::string target;
    std::string type = "bmp";
    std::vector<int> extras;
    int quality = 95;
    bool autoNumber = false;
    bool deleteSources = false;
};

int RunAverage(const AverageArgs& args) {
    CMergeSettings settings;
    settings.m_strSrcDir = args.src;
    settings.m_strTgtDir = args.target;
    settings.m_nSrcFile = args.type == "jpg" ? 0 : 1;
    settings.m_nJpgQuality = args.quality;
    settings.m_bResize800 =
        std::find(args.extras.begin(), args.extras.end(), 800) != args.extras.end();
    settings.m_bResize1024 =
        std::find(args.extras.begin(), args.extras.end(), 1024) != args.extras.end();
    settings.m_bNoSameFile = args.autoNumber;
    settings.m_bDelSrc = args.deleteSources;

    return RunJobOnConsole(
        [&](IJobObserver& observer) { return CMergeImageJob(settings, observer).Run(); }, args.src,
        settings.m_nSrcFile, CliError);
}

const CliCommand kAverage(30, [](CLI::App& app) -> std::function<int()> {
    auto args = std::make_shared<AverageArgs>();
    CLI::App* sub = app.add_subcommand(
        "average",
        "Average every *.jpg or *.bmp image of SRC_DIR (the first 255 in folder order) pixel by "
        "pixel "
        "into TARGET, written as BMP for .bmp/.dib and as JPEG otherwise. Ctrl-C stops after the "
        "current file and writes nothing.");
    sub->add_option("SRC_DIR", args->src, "Folder of the images to average")->required();
    sub->add_option("TARGET", args->target, "Image to write")->required();
    sub->add_option("--type", args->type, "Kind of source images: jpg or bmp")
        ->default_val("bmp")
        ->check(CLI::IsMember({"jpg", "bmp"}));
    sub->add_option("--extras", args->extras,
                    "Also write copies filled and cropped to 800x600 and/or 1024x768 "
                    "(TARGET's name with _800x600 / _1024x768)")
        ->delimiter(',')
        ->check(CLI::IsMember({800, 1024}));
    sub->add_option("-q,--quality", args->quality, "JPEG quality, 1 to 100")
        ->default_val(95)
        ->check(CLI::Range(1, 100));
    sub->add_flag("--auto-number", args->autoNumber,
                  "Write to the first free numbered name (TARGET's name with six digits)");
    sub->add_flag("--delete-sources", args->deleteSources,
                  "Move the source images to the trash once the result is written");
    return [args] { return RunAverage(*args); };
});

}  // namespace
