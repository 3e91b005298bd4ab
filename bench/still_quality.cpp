// How close the still engine comes to the scene, against what a user could do without it: one
// frame enlarged by the cubic resize, and the aligned mean (or sigma clip) of the frames then
// enlarged. Frames are made from a photograph (any JPEG; a desktop background by default),
// each pixel the mean of an 8 x 8 block of it, moved by random shifts of 1/8 pixel, with
// noise; the truth at x2 is the same photograph in 4 x 4 blocks. Prints PSNR in dB a case.
//
//   still_quality [photo.jpg] [keep-percent]
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "common/stack_feed.h"
#include "common/still_scene.h"
#include "image/image_file.h"
#include "resample/resize_dib.h"
#include "stack/stack.h"
#include "stack/still_engine.h"

using namespace still_scene;

namespace {

constexpr int kBox = 8;
constexpr int kMargin = 32;  // canvas pixels around the frames' area

void ToDib(const SFrame& frame, CDibImage& image) {
    if (!image.Create(frame.width, frame.height, 24))
        std::exit(1);
    for (int y = 0; y < frame.height; ++y)
        std::copy_n(frame.bgr.data() + std::size_t(y) * frame.width * 3, frame.width * 3,
                    image.TopRow(y));
}

SFrame ToFrame(CDibImage& image) {
    SFrame frame;
    frame.width = image.m_nWidth;
    frame.height = image.m_nHeight;
    frame.bgr.resize(std::size_t(frame.width) * frame.height * 3);
    for (int y = 0; y < frame.height; ++y)
        std::copy_n(image.TopRow(y), frame.width * 3,
                    frame.bgr.data() + std::size_t(y) * frame.width * 3);
    return frame;
}

SFrame Enlarge(const SFrame& frame, int scale) {
    CDibImage src, dst;
    ToDib(frame, src);
    if (!dst.Create(frame.width * scale, frame.height * scale, 24) || !ResizeDib(src, dst))
        std::exit(1);
    return ToFrame(dst);
}

SFrame Stacked(const std::vector<SFrame>& frames, StackMethod method) {
    CStackOptions options;
    options.m_bAlign = true;
    options.m_method = method;
    CImageStacker stacker(options);
    CStackFeed feed(stacker, options);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        CDibImage image;
        ToDib(frames[i], image);
        if (!feed.Add(std::to_string(i), image))
            std::exit(1);
    }
    CDibImage result;
    if (!stacker.Finish(result))
        std::exit(1);
    return ToFrame(result);
}

enum class Bad { None, Blur, Object };

}  // namespace

int main(int argc, char** argv) {
    const std::string path =
        argc > 1 ? argv[1] : "/usr/share/backgrounds/life_by_Aitzol_Berasategi.jpg";
    const double keep = argc > 2 ? std::atof(argv[2]) : kDefaultStillKeepPercent;
    CDibImage photo;
    if (CStatus loaded = LoadImageFile(path, photo); !loaded) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), loaded.Reason().c_str());
        return 1;
    }
    const int fw = 240, fh = 180;
    const int cw = fw * kBox + 2 * kMargin, ch = fh * kBox + 2 * kMargin;
    if (photo.m_nWidth < cw || photo.m_nHeight < ch) {
        std::fprintf(stderr, "%s: smaller than %d x %d\n", path.c_str(), cw, ch);
        return 1;
    }
    std::vector<std::uint8_t> crop(std::size_t(cw) * ch * 3);
    const int left = (photo.m_nWidth - cw) / 2;
    const int top = (photo.m_nHeight - ch) / 2;
    for (int y = 0; y < ch; ++y)
        std::copy_n(photo.TopRow(top + y) + 3 * left, cw * 3,
                    crop.data() + std::size_t(y) * cw * 3);
    const CCanvas canvas(std::move(crop), cw, ch);
    const SFrame truth1 = canvas.Frame(fw, fh, kBox, kMargin, kMargin);
    const SFrame truth2 = canvas.Frame(2 * fw, 2 * fh, kBox / 2, kMargin, kMargin);

    struct Case {
        const char* name;
        int frames;
        Bad bad;
    };
    const Case cases[] = {{"16 frames", 16, Bad::None},
                          {"4 frames", 4, Bad::None},
                          {"16, 3 blurred", 16, Bad::Blur},
                          {"16, 3 with an object", 16, Bad::Object},
                          {"8 frames", 8, Bad::None}};
    std::printf("%-22s %8s %8s %8s %8s | %8s %8s\n", "case", "1 cubic", "mean x2", "still x2",
                "gain", "clip x1", "still x1");
    for (const Case& c : cases) {
        std::mt19937 rng(1234);
        std::uniform_int_distribution<int> shift(-2 * kBox, 2 * kBox);
        std::vector<SFrame> frames;
        for (int i = 0; i < c.frames; ++i) {
            const int ox = i == 0 ? 0 : shift(rng), oy = i == 0 ? 0 : shift(rng);
            SFrame f = canvas.Frame(fw, fh, kBox, kMargin + ox, kMargin + oy, i * 40);
            if (c.bad == Bad::Blur && i % 5 == 4)
                Blur(f, 1.6);
            if (c.bad == Bad::Object && i % 5 == 4)
                Paint(f, fw / 3 + 10 * i, fh / 3, fw / 3 + 10 * i + 30, fh / 3 + 40, 20, 200, 240);
            AddNoise(f, 3.0, 100 + unsigned(i));
            frames.push_back(std::move(f));
        }
        CStillParams params;
        params.m_atMs = 0;  // frame 0 is the truth's own place
        params.m_dKeepPercent = keep;
        params.m_nScale = 2;
        CMemorySource source(frames);
        const CStillResult still2 = MakeStill(source, params);
        params.m_nScale = 1;
        CMemorySource source1(frames);
        const CStillResult still1 = MakeStill(source1, params);
        if (!still2.m_status || !still1.m_status) {
            std::fprintf(stderr, "%s\n", still2.m_status.Reason().c_str());
            return 1;
        }
        const int border = 8;
        const double one = Psnr(Enlarge(frames[0], 2), truth2, 2 * border);
        const double mean =
            Psnr(Enlarge(Stacked(frames, StackMethod::MeanOfAdded), 2), truth2, 2 * border);
        const double mine = Psnr(still2.m_picture, truth2, 2 * border);
        const double clip = Psnr(Stacked(frames, StackMethod::SigmaClip), truth1, border);
        const double mine1 = Psnr(still1.m_picture, truth1, border);
        std::printf("%-22s %8.2f %8.2f %8.2f %+8.2f | %8.2f %8.2f   (merged %d, noise %.2f)\n",
                    c.name, one, mean, mine, mine - std::max(one, mean), clip, mine1,
                    still2.m_nMerged, still2.m_dNoiseSigma);
    }
    return 0;
}
