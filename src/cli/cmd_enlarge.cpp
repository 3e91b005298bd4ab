// tarnwick-cli enlarge SRC_DIR TARGET_DIR --size x2|x3|640x480|800x600|1024x768
//                      [--type jpg|bmp] [--quality Q] [--delete-sources]
#include "cli/job_options.h"
#include "jobs/scale_image_job.h"

namespace {

struct EnlargeArgs {
    EnlargeArgs() { params.m_bDelSrc = false; }

    int Run(const CRunContext& context) const {
        CScaleParams run = params;
        run.m_source = source;
        run.m_scale = scale;
        return RunJobCommand<CScaleImageJob>(run, context);
    }

    CScaleParams params;
    SourceKind source = SourceKind::Bmp;
    ScaleChoice scale = ScaleChoice::X2;
};

const CJobCommandText kText = {
    "enlarge",
    "Enlarge every *.jpg or *.bmp image of SRC_DIR by x2 or x3, or fill and crop it to exactly "
    "640x480, 800x600 or 1024x768, and write it under its own name into TARGET_DIR (created when "
    "missing), as JPEG for jpg sources and BMP for bmp sources. Ctrl-C stops after the current "
    "file.",
    "Folder of the images to enlarge", "TARGET_DIR", "Folder for the results"};

void AddOptions(CLI::App* sub, EnlargeArgs& args) {
    AddChoiceOption(sub, "--size", args.scale, kScaleChoices, ScaleChoiceName,
                    "x2, x3, 640x480, 800x600 or 1024x768")
        ->required();
    AddSourceKindOption(sub, args.source);
    AddQualityOption(sub, args.params.m_nJpgQuality);
    sub->add_flag("--delete-sources", args.params.m_bDelSrc,
                  "Move each source image to the trash once its result is written");
}

}  // namespace

CliCommand EnlargeCommand() {
    return {JobCommand<EnlargeArgs>(kText, &CScaleParams::m_strTargetFolder, AddOptions)};
}
