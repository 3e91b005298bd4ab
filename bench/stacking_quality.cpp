// How close each stack method comes to the true scene: makes 64 noisy, jittered JPEG grabs of a
// known scene (see stacking_scene.h), stacks them with every method, with and without alignment,
// and prints the PSNR of each result against the scene on the area every result covers.
//
//   stacking_quality [FOLDER]               the table; the grabs and results stay in FOLDER
//                                           when given, else go to a temporary folder
//   stacking_quality make FOLDER COUNT      only make COUNT grabs of 640x480
//   stacking_quality stack FOLDER METHOD [align] [MEMORY_MB]
//                                           stack the grabs of FOLDER once (run it under
//                                           /usr/bin/time -v for its peak memory)
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <string>
#include <vector>

#include "common/stack_feed.h"
#include "image/image_file.h"
#include "stack/stack.h"
#include "stacking_scene.h"

namespace fs = std::filesystem;
using stacking_scene::CGrab;
using stacking_scene::CScene;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kGrabs = 64;

std::vector<std::string> JpegFiles(const fs::path& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".jpg")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

struct CRun {
    StackMethod m_method = StackMethod::Mean;
    bool m_bAlign = false;
    CDibImage m_result;
    std::vector<CStackFile> m_files;
    double m_dSeconds = 0;
};

// Loads and stacks `files`; false (with the reason printed) on a failure.
bool Stack(const std::vector<std::string>& files, const CStackOptions& options, CDibImage& result,
           std::vector<CStackFile>* report, double* seconds) {
    const auto start = std::chrono::steady_clock::now();
    CImageStacker stacker(options);
    CStackFeed feed(stacker, options);
    for (const std::string& path : files) {
        CDibImage image;
        if (CStatus loaded = LoadImageFile(path, image); !loaded) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), loaded.Reason().c_str());
            continue;
        }
        if (CStatus added = feed.Add(path, image); !added) {
            std::fprintf(stderr, "%s\n", added.Reason().c_str());
            return false;
        }
    }
    if (CStatus finished = stacker.Finish(result); !finished) {
        std::fprintf(stderr, "%s\n", finished.Reason().c_str());
        return false;
    }
    if (seconds)
        *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (report)
        *report = stacker.Files();
    const CStackStats& stats = stacker.Stats();
    if (stats.m_nTilePasses > 0)
        std::fprintf(
            stderr,
            "  %s: %d pictures, %d tile passes of %d rows, %.1f MB in the temporary store\n",
            StackMethodName(options.m_method), stacker.Used(), stats.m_nTilePasses,
            stats.m_nTileRows, double(stats.m_nStoreFileBytes) / 1e6);
    return true;
}

double Psnr(const CDibImage& a, const CDibImage& b, const CGridRect& area) {
    double squares = 0;
    for (int y = area.m_nTop; y < area.m_nBottom; ++y) {
        const std::uint8_t* pa = a.Bits() + std::ptrdiff_t(a.m_nHeight - 1 - y) * a.m_nRowBytes;
        const std::uint8_t* pb = b.Bits() + std::ptrdiff_t(b.m_nHeight - 1 - y) * b.m_nRowBytes;
        for (int i = area.m_nLeft * 3; i < area.m_nRight * 3; ++i) {
            const double d = double(pa[i]) - double(pb[i]);
            squares += d * d;
        }
    }
    const double mse = squares / (double(area.Area()) * 3);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

int Table(const fs::path& folder, bool bKeep) {
    std::printf(
        "Scene %dx%d, %d grabs: Gaussian noise sigma 12, shifts up to +-2 px in 1/8 steps,\n"
        "a subtitle bar on 10%%, JPEG quality 75. Folder: %s\n\n",
        kWidth, kHeight, kGrabs, folder.string().c_str());
    const CScene scene(kWidth, kHeight);
    CDibImage truth;
    scene.Render(0, 0, truth);
    const std::vector<CGrab> grabs = stacking_scene::MakeGrabs(scene, folder, kGrabs);
    const std::vector<std::string> files = JpegFiles(folder);
    if (bKeep) {
        fs::create_directories(folder / "out");
        if (!truth.SaveBmp((folder / "out" / "truth.bmp").string()))
            std::fprintf(stderr, "cannot keep the ground truth\n");
    }

    const StackMethod methods[] = {StackMethod::Mean, StackMethod::MeanOfAdded, StackMethod::Median,
                                   StackMethod::SigmaClip};
    std::list<CRun> runs;  // CDibImage cannot be copied or moved
    for (bool bAlign : {false, true})
        for (StackMethod method : methods) {
            CRun& run = runs.emplace_back();
            run.m_method = method;
            run.m_bAlign = bAlign;
            CStackOptions options;
            options.m_method = method;
            options.m_bAlign = bAlign;
            // The plain average divides by the file count, as the averaging engine does.
            if (method == StackMethod::Mean)
                options.m_nMeanDivisor = int(files.size());
            if (!Stack(files, options, run.m_result, &run.m_files, &run.m_dSeconds))
                return 1;
            const std::string kept =
                (folder / "out" /
                 (std::string(StackMethodName(method)) + (bAlign ? "-aligned" : "") + ".bmp"))
                    .string();
            if (bKeep && !run.m_result.SaveBmp(kept))
                std::fprintf(stderr, "cannot keep %s\n", kept.c_str());
        }

    // The area every result covers: the grid, less what any aligned grab does not reach.
    CGridRect area{0, 0, kWidth, kHeight};
    for (const CRun& run : runs)
        for (const CStackFile& file : run.m_files)
            if (file.m_bUsed && run.m_bAlign) {
                area.m_nLeft = std::max(area.m_nLeft, file.m_covered.m_nLeft);
                area.m_nTop = std::max(area.m_nTop, file.m_covered.m_nTop);
                area.m_nRight = std::min(area.m_nRight, file.m_covered.m_nRight);
                area.m_nBottom = std::min(area.m_nBottom, file.m_covered.m_nBottom);
            }

    // Registration against the true shifts (the first grab is the reference and unmoved).
    const std::vector<CStackFile>& aligned = runs.back().m_files;
    double worst = 0, squares = 0;
    int used = 0;
    for (std::size_t i = 0; i < aligned.size() && i < grabs.size(); ++i) {
        if (!aligned[i].m_bUsed) {
            std::printf("left out: %s (%s)\n", aligned[i].m_strPath.c_str(),
                        aligned[i].m_strReason.c_str());
            continue;
        }
        const double ex = aligned[i].m_dx - grabs[i].m_dx, ey = aligned[i].m_dy - grabs[i].m_dy;
        worst = std::max({worst, std::fabs(ex), std::fabs(ey)});
        squares += ex * ex + ey * ey;
        ++used;
    }
    std::printf("Registration: %d of %zu grabs used, shift error RMS %.3f px, worst %.3f px\n",
                used, aligned.size(), std::sqrt(squares / std::max(used, 1)), worst);
    std::printf("PSNR on [%d, %d) x [%d, %d) of the %dx%d grid\n\n", area.m_nLeft, area.m_nRight,
                area.m_nTop, area.m_nBottom, kWidth, kHeight);

    const double plain = Psnr(runs.front().m_result, truth, area);
    CDibImage single;
    if (LoadImageFile(files.front(), single))
        std::printf("One grab alone (the reference): %.2f dB\n\n", Psnr(single, truth, area));
    double unalignedMedian = 0;
    std::printf("| method | aligned | PSNR dB | vs plain mean | time s |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const CRun& run : runs) {
        const double psnr = Psnr(run.m_result, truth, area);
        if (run.m_method == StackMethod::Median && !run.m_bAlign)
            unalignedMedian = psnr;
        std::printf("| %s%s | %s | %.2f | %+.2f | %.2f |\n", StackMethodName(run.m_method),
                    run.m_method == StackMethod::Mean ? " (plain average)" : "",
                    run.m_bAlign ? "yes" : "no", psnr, psnr - plain, run.m_dSeconds);
    }
    const double best = Psnr(runs.back().m_result, truth, area);
    const bool bGoal = best >= plain + 6 && best > unalignedMedian;
    std::printf("\nGoal (aligned sigma-clip >= plain mean + 6 dB and > unaligned median): %s\n",
                bGoal ? "met" : "NOT met");
    return bGoal ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "make" && args.size() >= 3) {
        const CScene scene(kWidth, kHeight);
        stacking_scene::MakeGrabs(scene, args[1], std::atoi(args[2].c_str()));
        return 0;
    }
    if (!args.empty() && args[0] == "stack" && args.size() >= 3) {
        CStackOptions options;
        if (!ParseStackMethod(args[2], options.m_method)) {
            std::fprintf(stderr, "unknown method %s\n", args[2].c_str());
            return 1;
        }
        for (std::size_t i = 3; i < args.size(); ++i) {
            if (args[i] == "align")
                options.m_bAlign = true;
            else
                options.m_nMemoryBytes = std::size_t(std::atol(args[i].c_str())) << 20;
        }
        CDibImage result;
        double seconds = 0;
        if (!Stack(JpegFiles(args[1]), options, result, nullptr, &seconds))
            return 1;
        std::printf("%.2f s\n", seconds);
        return 0;
    }
    if (args.size() > 1 || (!args.empty() && args[0].rfind("-", 0) == 0)) {
        std::fprintf(stderr,
                     "usage: stacking_quality [FOLDER]\n"
                     "       stacking_quality make FOLDER COUNT\n"
                     "       stacking_quality stack FOLDER METHOD [align] [MEMORY_MB]\n");
        return 1;
    }
    if (!args.empty())
        return Table(args[0], true);
    const fs::path folder =
        fs::temp_directory_path() / ("stacking_quality." + std::to_string(::getpid()));
    const int rc = Table(folder, false);
    fs::remove_all(folder);
    return rc;
}
