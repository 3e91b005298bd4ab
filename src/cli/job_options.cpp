#include "cli/job_options.h"

#include <limits>

#include "video/media_time.h"

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

CLI::Validator MediaTime() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const CResult<std::int64_t> ms = ParseMediaTime(text);
            return ms ? std::string() : ms.Reason();
        },
        "T");
}

bool MediaRangeArgs::Resolve(std::int64_t& fromMs, std::optional<std::int64_t>& toMs,
                             std::optional<std::int64_t>& maxFrames) const {
    if (!from.empty())
        fromMs = *ParseMediaTime(from);  // checked by the option's validator
    if (!to.empty()) {
        toMs = *ParseMediaTime(to);
        if (*toMs <= fromMs) {
            CliError("--to " + to + " is not after --from " + (from.empty() ? "0" : from));
            return false;
        }
    }
    if (bFramesGiven)
        maxFrames = frames;
    return true;
}

void AddMediaRangeOptions(CLI::App* sub, MediaRangeArgs& range, const std::string& framesHelp) {
    sub->add_option("--from", range.from,
                    "Start at the first frame at or after this time: seconds (12.5), m:ss or "
                    "h:mm:ss.mmm")
        ->type_name("T")
        ->check(MediaTime());
    sub->add_option("--to", range.to, "Stop before the first frame at or after this time")
        ->type_name("T")
        ->check(MediaTime());
    sub->add_option("--frames", range.frames, framesHelp)
        ->type_name("N")
        ->check(CLI::Range(std::int64_t(1), std::numeric_limits<std::int64_t>::max()))
        ->each([&range](const std::string&) { range.bFramesGiven = true; });
}
