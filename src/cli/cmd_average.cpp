// tarnwick-cli average SRC_DIR TARGET [--type jpg|bmp] [--extras 800,1024] [--quality Q]
//                      [--auto-number] [--delete-sources]
#include <algorithm>

#include "cli/job_options.h"
#include "jobs/merge_image_job.h"

namespace {

struct AverageArgs {
    AverageArgs() { params.m_bAutoNumber = params.m_bDelSrc = false; }

    int Run() const {
        CMergeParams run = params;
        run.m_source = source;
        run.m_bExtra800 = std::find(extras.begin(), extras.end(), 800) != extras.end();
        run.m_bExtra1024 = std::find(extras.begin(), extras.end(), 1024) != extras.end();
        return RunJobCommand<CMergeImageJob>(run);
    }

    CMergeParams params;
    SourceKind source = SourceKind::Bmp;
    std::vector<int> extras;
};

const CJobCommandText kText = {
    "average",
    "Average every *.jpg or *.bmp image of SRC_DIR (the first 255 in folder order) pixel by pixel "
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
}

const CliCommand kAverage(30, JobCommand<AverageArgs>(kText, &CMergeParams::m_strTargetFile,
                                                      AddOptions));

}  // namespace
