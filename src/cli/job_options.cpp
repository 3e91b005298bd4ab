#include "cli/job_options.h"

CLI::App* AddJobSubcommand(CLI::App& app, const std::string& name, const std::string& description,
                           CJobParams& params, const std::string& srcHelp,
                           const std::string& targetName, std::string& target,
                           const std::string& targetHelp) {
    CLI::App* sub = app.add_subcommand(name, description);
    sub->add_option("SRC_DIR", params.m_strSrcDir, srcHelp)->required();
    sub->add_option(targetName, target, targetHelp)->required();
    return sub;
}

void AddSourceKindOption(CLI::App* sub, SourceKind& kind) {
    AddChoiceOption(sub, "--type", kind, kSourceKinds, SourceKindName,
                    "Kind of source images: jpg or bmp")
        ->default_val("bmp");
}

void AddQualityOption(CLI::App* sub, int& quality) {
    sub->add_option("-q,--quality", quality, "JPEG quality, 1 to 100")
        ->default_val(95)
        ->check(CLI::Range(1, 100));
}
