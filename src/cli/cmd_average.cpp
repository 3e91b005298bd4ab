// tarnwick-cli average SRC_DIR TARGET [--type jpg|bmp] [--extras 800,1024] [--quality Q]
//                      [--auto-number] [--delete-sources]
//                      [--method mean|mean-of-added|median|sigma-clip] [--kappa K] [--align]
//                      [--limit N] [--report FILE] [--scale 2|3]
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include <filesystem>

#include "cli/job_options.h"
#include "cli/still_console.h"
#include "image/image_file.h"
#include "jobs/merge_image_job.h"

namespace {

struct AverageArgs {
    AverageArgs() { params.m_bAutoNumber = params.m_bDelSrc = false; }

    int Run(const CRunContext& context) const {
        if (scale != 0)
            return RunScaled(context);
        CMergeParams run = params;
        run.m_source = source;
        run.m_bExtra800 = std::find(extras.begin(), extras.end(), 800) != extras.end();
        run.m_bExtra1024 = std::find(extras.begin(), extras.end(), 1024) != extras.end();
        // Options that the chosen method would ignore are refused rather than dropped.
        if (bKappaGiven && run.m_method != StackMethod::SigmaClip) {
            CliError("--kappa applies to --method sigma-clip only");
            return kExitUsage;
        }
        if (bLimitGiven && run.m_method == StackMethod::Mean) {
            CliError("--limit applies to the methods other than mean (mean takes at most 255)");
            return kExitUsage;
        }
        return RunJobCommand<CMergeImageJob>(run, context);
    }

    // --scale: the still engine over the folder's pictures, which has a merge of its own.
    int RunScaled(const CRunContext& context) const {
        const std::pair<bool, const char*> unused[] = {
            {!extras.empty(), "--extras"},
            {params.m_bAutoNumber, "--auto-number"},
            {params.m_bDelSrc, "--delete-sources"},
            {bMethodGiven, "--method"},
            {bKappaGiven, "--kappa"},
            {bLimitGiven, "--limit"},
            {!params.m_strReportFile.empty(), "--report"},
        };
        for (const auto& [bGiven, option] : unused) {
            if (bGiven) {
                CliError(std::string(option) +
                         " does not apply with --scale, which merges the "
                         "pictures its own way");
                return kExitUsage;
            }
        }
        if (!std::filesystem::is_directory(params.m_strSrcDir)) {
            CliError(params.m_strSrcDir + ": not a folder");
            return kExitFailed;
        }
        CStillJobParams still;
        still.m_strFolder = params.m_strSrcDir;
        still.m_folderKind = source;
        still.m_strTarget = params.m_strTargetFile;
        // As the plain average: BMP for .bmp and .dib, JPEG for any other name.
        still.m_type = IsBmpPath(still.m_strTarget) ? StillFileType::Bmp : StillFileType::Jpg;
        still.m_nScale = scale;
        still.m_nJpgQuality = params.m_nJpgQuality;
        still.m_nThreads = context.Workers();
        return RunStillOnConsole(still);
    }

    CMergeParams params;
    SourceKind source = SourceKind::Bmp;
    std::vector<int> extras;
    bool bMethodGiven = false;
    bool bKappaGiven = false;
    bool bLimitGiven = false;
    int scale = 0;  // 0: the size of the pictures
};

const CJobCommandText kText = {
    "average",
    "Average every *.jpg or *.bmp image of SRC_DIR (the first 255 by name) pixel by pixel "
    "into TARGET, written as BMP for .bmp/.dib and as JPEG otherwise. Ctrl-C stops after the "
    "current file and writes nothing.",
    "Folder of the images to average", "TARGET", "Image to write"};

void AddOptions(CLI::App* sub, AverageArgs& args) {
    AddSourceKindOption(sub, args.source);
    sub->add_option("--extras", args.extras,
                    "Also write copies filled and cropped to 800x600 and/or 1024x768 "
                    "(TARGET's name with _800x600 / _1024x768)")
        ->delimiter(',')
        ->check(CLI::IsMember({800, 1024}));
    AddQualityOption(sub, args.params.m_nJpgQuality);
    sub->add_flag("--auto-number", args.params.m_bAutoNumber,
                  "Write to the first free numbered name (TARGET's name with six digits)");
    sub->add_flag("--delete-sources", args.params.m_bDelSrc,
                  "Move the source images to the trash once the result is written");
    AddChoiceOption(sub, "--method", args.params.m_method, kStackMethods, StackMethodName,
                    "How the images are combined per pixel: mean (the plain average, the "
                    "default), mean-of-added (each pixel divided by the images that cover it), "
                    "median, or sigma-clip (the mean after rejecting outliers). The methods "
                    "other than the plain mean skip pictures over 32 megapixels, which keeps "
                    "them within 226 MiB plus about three pictures per thread")
        ->default_val("mean")
        ->each([&args](const std::string&) { args.bMethodGiven = true; });
    sub->add_option("--kappa", args.params.m_dKappa,
                    "sigma-clip: reject values farther than K standard deviations from the "
                    "median (default 2.5)")
        ->type_name("K")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                char* end = nullptr;
                const double value = std::strtod(text.c_str(), &end);
                if (text.empty() || *end != '\0' || !(value > 0) || !std::isfinite(value))
                    return "must be a number above 0, such as 2.5, not " + text;
                return {};
            },
            "K"))
        ->each([&args](const std::string&) { args.bKappaGiven = true; });
    sub->add_flag("--align", args.params.m_bAlign,
                  "Register every image by translation to the first one with something to "
                  "register on and move it onto it before combining; an image that cannot be "
                  "registered (a flat frame, say) is left out");
    sub->add_option("--limit", args.params.m_nLimit,
                    "Methods other than mean: combine at most the first N images (default and 0: "
                    "all of them)")
        ->type_name("N")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                int value = 0;
                const char* end = text.data() + text.size();
                const auto [ptr, error] = std::from_chars(text.data(), end, value);
                if (text.empty() || error != std::errc() || ptr != end || value < 0)
                    return "must be a whole number from 0 to " +
                           std::to_string(std::numeric_limits<int>::max()) + ", not " + text;
                return {};
            },
            "N"))
        ->each([&args](const std::string&) { args.bLimitGiven = true; });
    sub->add_option("--report", args.params.m_strReportFile,
                    "Write a CSV line per source file: name, dx, dy (the shift found), used or "
                    "rejected, and the reason")
        ->type_name("FILE");
    sub->add_option("--scale", args.scale,
                    "Merge the pictures onto a grid 2 or 3 times their size instead, as the still "
                    "command merges frames: each aligned to the sharpest, the sharpest 80 % kept")
        ->type_name("2|3")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                if (text != "2" && text != "3")
                    return "must be 2 or 3, not " + text;
                return {};
            },
            ""));
}

}  // namespace

CliCommand AverageCommand() {
    return {JobCommand<AverageArgs>(kText, &CMergeParams::m_strTargetFile, AddOptions)};
}
