#include "cli/still_console.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/console_progress.h"

namespace {

// "m:ss" of a time left, rounded up to the second.
std::string Clock(double seconds) {
    const long whole = std::lround(std::ceil(std::max(seconds, 0.0)));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

// The progress line and Ctrl-C as Stop.
class CStillConsole : public IStillJobObserver {
public:
    void OnEvent(const CStillJobEvent& event) override {
        if (!m_line.Terminal())
            return;
        if (const auto* read = std::get_if<CStillFramesRead>(&event)) {
            m_line.Draw(KeepEnd(std::to_string(read->m_nRead) + " frames read and ranked",
                                std::size_t(m_line.Width() - 1)));
        } else if (const auto* merged = std::get_if<CStillFrameMerged>(&event)) {
            std::string bar = "[";
            const int filled = merged->m_nTotal > 0 ? 10 * merged->m_nDone / merged->m_nTotal : 0;
            bar.append(std::size_t(filled), '#').append(std::size_t(10 - filled), '.') += "] ";
            m_line.Draw(KeepEnd(
                bar + std::to_string(merged->m_nDone) + "/" + std::to_string(merged->m_nTotal) +
                    " frames aligned and merged  " + Clock(merged->m_dSecondsLeft) + " left",
                std::size_t(m_line.Width() - 1)));
        } else if (std::holds_alternative<CStillSharpening>(event)) {
            m_line.Draw("sharpening");
        }
    }
    bool StopRequested() override { return CProgressLine::Interrupted(); }
    void Finish() { m_line.Finish(); }

private:
    CProgressLine m_line;
};

}  // namespace

int RunStillOnConsole(const CStillJobParams& params) {
    CStillConsole console;
    const CStillJobResult result = RunStillJob(params, console);
    console.Finish();
    for (const std::string& path : result.m_leftovers)
        std::printf("removed %s, left behind by an earlier run that was killed\n", path.c_str());
    switch (result.m_end) {
        case StillJobEnd::Refused:
            CliError(result.m_strReason);
            return kExitUsage;
        case StillJobEnd::ReadFailed:
        case StillJobEnd::NoPicture:
            CliError(result.m_strReason);
            return kExitFailed;
        case StillJobEnd::WriteFailed:
            CliError(result.m_strPath + ": " + result.m_strReason);
            return kExitFailed;
        case StillJobEnd::Finished:
            break;
    }
    if (result.m_bStopped) {
        std::printf("%s: nothing written (interrupted)\n", params.m_strTarget.c_str());
        std::fflush(stdout);
        return kExitFailed;
    }
    std::printf("%s: %dx%d, %d of %d %s merged, %d left out\n", params.m_strTarget.c_str(),
                result.m_nWidth, result.m_nHeight, result.m_nMerged, result.m_nFrames,
                params.m_strFolder.empty() ? "frames" : "pictures", result.m_nLeftOut);
    if (!params.m_strReport.empty())
        std::printf("wrote %s\n", params.m_strReport.c_str());
    std::fflush(stdout);
    return kExitOk;
}
