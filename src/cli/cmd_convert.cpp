// tarnwick-cli convert IN OUT [--quality Q]
#include "cli/commands.h"
#include "image/image_file.h"

namespace {

struct ConvertArgs {
    std::string in;
    std::string out;
    int quality = 95;
};

int RunConvert(const ConvertArgs& args) {
    CDibImage image;
    if (CStatus loaded = LoadImageFile(args.in, image); !loaded) {
        CliError(args.in + ": " + loaded.Reason());
        return kExitFailed;
    }
    if (CStatus saved = SaveImageFile(args.out, image, args.quality); !saved) {
        CliError(args.out + ": cannot write: " + saved.Reason());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

CliCommand ConvertCommand() {
    return {[](CLI::App& app) -> CliCommand::Run {
        auto args = std::make_shared<ConvertArgs>();
        CLI::App* sub = app.add_subcommand(
            "convert",
            "Convert an image between BMP and JPEG. IN is read by its extension (.bmp/.dib or "
            ".jpg/.jpeg, any case); OUT is written as BMP for .bmp/.dib and as JPEG otherwise.");
        sub->add_option("IN", args->in, "Image to read")->required();
        sub->add_option("OUT", args->out, "Image to write")->required();
        sub->add_option("-q,--quality", args->quality, "JPEG quality, 1 to 100")
            ->default_val(95)
            ->check(CLI::Range(1, 100));
        return [args](const CRunContext&) { return RunConvert(*args); };
    }};
}
