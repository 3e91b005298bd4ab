// tarnwick-cli resize IN OUT WxH [--quality Q]: cubic stretch to exactly W x H.
// tarnwick-cli fill IN OUT WxH [--quality Q]: scale to cover W x H, keep the centre.
#include <charconv>
#include <cstdint>

#include "cli/commands.h"
#include "image/image_file.h"
#include "jobs/resize_to_fill.h"
#include "resample/resize_dib.h"

namespace {

struct ResizeArgs {
    std::string in;
    std::string out;
    std::string size;
    int quality = 95;
};

struct CSize {
    int width = 0;
    int height = 0;
};

// "800x600" (or "800X600") as a width and height; a failure for anything else.
CResult<CSize> ParseSize(const std::string& text) {
    const std::size_t cross = text.find_first_of("xX");
    std::int64_t w = 0;
    std::int64_t h = 0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    bool ok = cross != std::string::npos && cross > 0;
    if (ok) {
        auto [wEnd, wErr] = std::from_chars(begin, begin + cross, w);
        auto [hEnd, hErr] = std::from_chars(begin + cross + 1, end, h);
        ok = wErr == std::errc() && wEnd == begin + cross && hErr == std::errc() && hEnd == end;
    }
    if (!ok || w <= 0 || h <= 0)
        return CStatus::Failure(
            "size must be WIDTHxHEIGHT with both at least 1, like 800x600, not \"" + text + "\"");
    if (w > INT32_MAX || h > INT32_MAX || w * h > kMaxDibPixels)
        return CStatus::Failure("size " + text + " is too large: at most " +
                                std::to_string(kMaxDibPixels) + " pixels");
    return CSize{int(w), int(h)};
}

// Reads IN, makes the new picture with `make`, writes OUT; one line on stderr for any failure.
template <typename Make>
int RunResize(const ResizeArgs& args, Make make, const CResampleOptions& options) {
    const CResult<CSize> size = ParseSize(args.size);
    if (!size) {
        CliError(size.Reason());
        return kExitUsage;
    }
    CDibImage src;
    if (CStatus loaded = LoadImageFile(args.in, src); !loaded) {
        CliError(args.in + ": " + loaded.Reason());
        return kExitFailed;
    }
    CDibImage dst;
    if (CStatus made = make(options, src, dst, size->width, size->height); !made) {
        CliError(args.in + ": cannot resize to " + args.size + ": " + made.Reason());
        return kExitFailed;
    }
    if (CStatus saved = SaveImageFile(args.out, dst, args.quality); !saved) {
        CliError(args.out + ": cannot write: " + saved.Reason());
        return kExitFailed;
    }
    return kExitOk;
}

CStatus Stretch(const CResampleOptions& options, const CDibImage& src, CDibImage& dst, int width,
                int height) {
    if (!dst.Create(width, height, 24))
        return CStatus::Failure("not enough memory");
    return ResizeDib(options, src, dst);
}

CStatus Fill(const CResampleOptions& options, const CDibImage& src, CDibImage& dst, int width,
             int height) {
    if (ResizeToFill(src, dst, width, height, options))
        return {};
    return CStatus::Failure("the scaled image is too large or memory ran out");
}

CLI::App* AddResizeOptions(CLI::App& app, const char* name, const char* description,
                           ResizeArgs& args) {
    CLI::App* sub = app.add_subcommand(name, description);
    sub->add_option("IN", args.in, "Image to read (.bmp/.dib or .jpg/.jpeg)")->required();
    sub->add_option("OUT", args.out, "Image to write: BMP for .bmp/.dib, JPEG otherwise")
        ->required();
    sub->add_option("WxH", args.size, "Size of the new image, like 800x600")->required();
    sub->add_option("-q,--quality", args.quality, "JPEG quality, 1 to 100")
        ->default_val(95)
        ->check(CLI::Range(1, 100));
    return sub;
}

}  // namespace

CliCommand ResizeCommand() {
    return {[](CLI::App& app) -> CliCommand::Run {
        auto args = std::make_shared<ResizeArgs>();
        AddResizeOptions(
            app, "resize",
            "Resize an image to exactly WxH with cubic interpolation; each side is scaled on "
            "its own, so the proportions may change.",
            *args);
        return [args](const CRunContext& context) {
            return RunResize(*args, Stretch, context.Resample());
        };
    }};
}

CliCommand FillCommand() {
    return {[](CLI::App& app) -> CliCommand::Run {
        auto args = std::make_shared<ResizeArgs>();
        AddResizeOptions(
            app, "fill",
            "Bring an image to exactly WxH without distortion: scale it to cover WxH, then "
            "cut out the centre.",
            *args);
        return [args](const CRunContext& context) {
            return RunResize(*args, Fill, context.Resample());
        };
    }};
}
