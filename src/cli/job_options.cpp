#include "cli/job_options.h"

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
