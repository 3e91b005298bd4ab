// tarnwick-cli enlarge SRC_DIR TARGET_DIR --size x2|x3|640x480|800x600|1024x768
//                      [--type jpg|bmp] [--quality Q] [--delete-sources]
#include <algorithm>

#include "cli/commands.h"
#include "cli/console_progress.h"
#include "jobs/scale_image_job.h"

namespace {

// In the order of the size choices of the enlarging job.
const std::vector<std::string> kSizes = {"x2", "x3", "640x480", "800x600", "1024x768"};

struct EnlargeArgs {
    std::string src;
    std::string target;
    std::string size;
    std::string type = "bmp";
    int quality = 95;
    bool deleteSources = false;
};

int RunEnlarge(const EnlargeArgs& args) {
    CScaleSettings settings;
    settings.m_strSrcDir = args.src;
    settings.m_strTgtDir = args.target;
    settings.m_nSrcFile = args.type == "jpg" ? 0 : 1;
    settings.m_nJpgQuality = args.quality;
    settings.m_nScale = int(std::find(kSizes.begin(), kSizes.end(), args.size) - kSizes.begin());
    settings.m_bDelSrc = args.deleteSources;

    return RunJobOnConsole(
        [&](IJobObserver& observer) { return CScaleImageJob(settings, observer).Run(); }, args.src,
        settings.m_nSrcFile, CliError);
}

const CliCommand kEnlarge(40, [](CLI::App& app) -> std::function<int()> {
    auto args = std::make_shared<EnlargeArgs>();
    CLI::App* sub = app.add_subcommand(
        "enlarge",
        "Enlarge every *.jpg or *.bmp image of SRC_DIR by x2 or x3, or fill and crop it to exactly "
        "640x480, 800x600 or 1024x768, and write it under its own name into TARGET_DIR (created "
        "when missing), as JPEG for jpg sources and BMP for bmp sources. Ctrl-C stops after the "
        "current file.");
    sub->add_option("SRC_DIR", args->src, "Folder of the images to enlarge")->required();
    sub->add_option("TARGET_DIR", args->target, "Folder for the results")->required();
    sub->add_option("--size", args->size, "x2, x3, 640x480, 800x600 or 1024x768")
        ->required()
        ->check(CLI::IsMember(kSizes));
    sub->add_option("--type", args->type, "Kind of source images: jpg or bmp")
        ->default_val("bmp")
        ->check(CLI::IsMember({"jpg", "bmp"}));
    sub->add_option("-q,--quality", args->quality, "JPEG quality, 1 to 100")
        ->default_val(95)
        ->check(CLI::Range(1, 100));
    sub->add_flag("--delete-sources", args->deleteSources,
                  "Move each source image to the trash once its result is written");
    return [args] { return RunEnlarge(*args); };
});

}  // namespace
