// The C++ half of bench/still-quality: makes the frames of a scene and measures results.
//
//   still_quality_tool make PHOTO.bmp DIR COUNT plain|blur|object SEED
//       PHOTO has a margin of kMargin pixels around the part the frames show. Writes
//       DIR/truth.bmp (that part), DIR/ideal.bmp (it averaged 2 x 2: the frame a camera
//       without noise or shift would record), DIR/raw/fNNNN.bmp (the frames, Gaussian noise
//       sigma 3, 8 bits) and DIR/shifts.csv (index, dx, dy, blurred, covered).
//   still_quality_tool psnr IMAGE.bmp PHOTO.bmp [BORDER]
//       prints "PSNR dx dy": IMAGE (of the truth's size or the frames', or up to a quarter
//       less: cropped evenly) against PHOTO's part
//       the frames show, registered and compared as PsnrAgainstPhotograph does, over the
//       interior less BORDER pixels (default 16).
//   still_quality_tool sas FRAMES_DIR SHIFTS.csv OUT.bmp SCALE
//       shift-and-add of FRAMES_DIR/fNNNN.bmp onto a grid SCALE times finer, with the shifts
//       of SHIFTS.csv.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "still_scene.h"

namespace fs = std::filesystem;
using namespace still_scene;

namespace {

constexpr int kMargin = 8;
constexpr double kNoiseSigma = 3.0;

std::string FrameName(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "f%04d.bmp", index);
    return name;
}

bool Load(const std::string& path, CPicture& picture) {
    CDibImage image;
    if (CStatus loaded = LoadImageFile(path, image); !loaded) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), loaded.Reason().c_str());
        return false;
    }
    picture = FromDib(image);
    return true;
}

bool Save(const std::string& path, const CPicture& picture) {
    CDibImage image;
    ToDib(picture, image);
    if (const CStatus saved = image.SaveBmp(path); !saved) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), saved.Reason().c_str());
        return false;
    }
    return true;
}

int Make(const std::string& photoPath, const fs::path& dir, int count, const std::string& kind,
         std::uint32_t seed) {
    Variant variant = Variant::Plain;
    if (count < 1 || !ParseVariant(kind, variant)) {
        std::fprintf(stderr,
                     "make: COUNT must be positive and the variant plain, blur or object\n");
        return 2;
    }
    CPicture photograph;
    if (!Load(photoPath, photograph))
        return 1;
    const int w = photograph.m_nWidth - 2 * kMargin, h = photograph.m_nHeight - 2 * kMargin;
    if (w < 64 || h < 64 || w % 2 || h % 2) {
        std::fprintf(stderr, "%s: too small or odd inside its margin of %d\n", photoPath.c_str(),
                     kMargin);
        return 2;
    }
    std::error_code error;
    fs::create_directories(dir / "raw", error);
    const CPicture truth = Crop(photograph, kMargin, kMargin, w, h);
    if (!Save((dir / "truth.bmp").string(), truth) ||
        !Save((dir / "ideal.bmp").string(), BoxDown2(truth)))
        return 1;
    const std::vector<CFrameRecipe> recipes = PlanFrames(count, variant, seed, w / 2, h / 2);
    std::ofstream shifts(dir / "shifts.csv");
    std::mt19937 noise(seed ^ 0x5eedu);
    for (int i = 0; i < count; ++i) {
        const CFrameRecipe& recipe = recipes[std::size_t(i)];
        CPicture frame = RenderFrame(photograph, kMargin, recipe);
        AddNoise(frame, kNoiseSigma, noise);
        if (!Save((dir / "raw" / FrameName(i)).string(), frame))
            return 1;
        shifts << i << ',' << recipe.m_dx << ',' << recipe.m_dy << ',' << recipe.m_bBlurred << ','
               << recipe.m_bCovered << '\n';
    }
    shifts.close();
    if (!shifts) {
        std::fprintf(stderr, "%s: cannot be written\n", (dir / "shifts.csv").c_str());
        return 1;
    }
    return 0;
}

int Measure(const std::string& imagePath, const std::string& photoPath, int border) {
    CPicture image, photograph;
    if (!Load(imagePath, image) || !Load(photoPath, photograph))
        return 1;
    // Of the truth's size or a frame's, or a little smaller (a result cropped at its edges).
    const int w = photograph.m_nWidth - 2 * kMargin, h = photograph.m_nHeight - 2 * kMargin;
    const auto fits = [&](int width, int height) {
        return image.m_nWidth <= width && image.m_nHeight <= height &&
               image.m_nWidth > width * 3 / 4 && image.m_nHeight > height * 3 / 4;
    };
    if (!fits(w, h) && !fits(w / 2, h / 2)) {
        std::fprintf(stderr, "%s is %dx%d, neither about %dx%d nor %dx%d\n", imagePath.c_str(),
                     image.m_nWidth, image.m_nHeight, w, h, w / 2, h / 2);
        return 1;
    }
    CShift shift;
    const double psnr = PsnrAgainstPhotograph(image, photograph, kMargin, border, &shift);
    std::printf("%.2f %.3f %.3f\n", psnr, shift.m_dx, shift.m_dy);
    return 0;
}

int ShiftAndAddFrames(const fs::path& framesDir, const std::string& shiftsPath,
                      const std::string& outPath, int scale) {
    std::ifstream in(shiftsPath);
    std::vector<CPicture> frames;
    std::vector<CShift> shifts;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string index, dx, dy;
        if (!std::getline(fields, index, ',') || !std::getline(fields, dx, ',') ||
            !std::getline(fields, dy, ','))
            continue;
        CPicture& frame = frames.emplace_back();
        if (!Load((framesDir / FrameName(std::atoi(index.c_str()))).string(), frame))
            return 1;
        shifts.push_back({std::atof(dx.c_str()), std::atof(dy.c_str())});
    }
    if (frames.empty()) {
        std::fprintf(stderr, "%s: no shifts\n", shiftsPath.c_str());
        return 1;
    }
    return Save(outPath, ShiftAndAdd(frames, shifts, scale)) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 6 && args[0] == "make")
        return Make(args[1], args[2], std::atoi(args[3].c_str()), args[4],
                    std::uint32_t(std::strtoul(args[5].c_str(), nullptr, 10)));
    if ((args.size() == 3 || args.size() == 4) && args[0] == "psnr")
        return Measure(args[1], args[2], args.size() == 4 ? std::atoi(args[3].c_str()) : 16);
    if (args.size() == 5 && args[0] == "sas")
        return ShiftAndAddFrames(args[1], args[2], args[3], std::atoi(args[4].c_str()));
    std::fprintf(stderr,
                 "usage: still_quality_tool make PHOTO.bmp DIR COUNT plain|blur|object SEED\n"
                 "       still_quality_tool psnr IMAGE.bmp PHOTO.bmp [BORDER]\n"
                 "       still_quality_tool sas FRAMES_DIR SHIFTS.csv OUT.bmp SCALE\n");
    return 2;
}
