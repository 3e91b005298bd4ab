#include "cli/console_progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace {

volatile std::sig_atomic_t g_bInterrupted = 0;

void OnInterrupt(int) {
    g_bInterrupted = 1;
}

}  // namespace

std::string KeepEnd(const std::string& text, std::size_t columns) {
    std::size_t chars = 0, next = text.size();
    for (std::size_t i = text.size(); i-- > 0;) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue;  // inside a character
        if (++chars == columns)
            return i == 0 ? text : "…" + text.substr(next);
        next = i;
    }
    return text;
}

CProgressLine::CProgressLine(std::FILE* stream)
    : m_pStream(stream),
      m_bTerminal(isatty(fileno(stream)) == 1),
      m_start(std::chrono::steady_clock::now()) {
    g_bInterrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = 0;  // no restart: Ctrl-C ends a call that waits on a pipe or a terminal
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &m_oldAction);
}

CProgressLine::~CProgressLine() {
    Finish();
    sigaction(SIGINT, &m_oldAction, nullptr);
}

int CProgressLine::Width() const {
    winsize ws{};
    if (ioctl(fileno(m_pStream), TIOCGWINSZ, &ws) == 0 && ws.ws_col >= 20)
        return ws.ws_col;
    return 80;
}

double CProgressLine::Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

bool CProgressLine::Interrupted() {
    return g_bInterrupted != 0;
}

void CProgressLine::Draw(const std::string& line) {
    if (!m_bTerminal)
        return;
    std::fprintf(m_pStream, "\r\033[K%s", line.c_str());
    std::fflush(m_pStream);
    m_bDrawn = true;
}

void CProgressLine::Finish() {
    if (!m_bDrawn)
        return;
    std::fprintf(m_pStream, "\r\033[K");
    std::fflush(m_pStream);
    m_bDrawn = false;
}

std::string CConsoleProgress::FormatLine(const std::string& path, int nDone, int nTotal,
                                         double elapsedSeconds, int width) {
    constexpr int kBar = 20;
    const int total = std::max(nTotal, 1);
    nDone = std::min(nDone, total);  // averaging visits files past the 255 it counts
    const int filled = std::clamp(nDone * kBar / total, 0, kBar);
    char rate[32] = "";
    if (elapsedSeconds > 0 && nDone > 0)
        std::snprintf(rate, sizeof rate, "  %.1f files/s", nDone / elapsedSeconds);
    std::string line = "[" + std::string(filled, '#') + std::string(kBar - filled, '.') + "] " +
                       std::to_string(nDone) + "/" + std::to_string(nTotal) + rate + "  ";
    const int room = width - 1 - int(line.size());
    const std::string name = std::filesystem::path(path).filename().string();
    if (room > 1)
        line += KeepEnd(name, std::size_t(room));
    return line;
}

std::string FormatFramesLine(const std::string& path, std::int64_t doneMs, std::int64_t rangeMs,
                             std::int64_t frames, double elapsedSeconds, int width) {
    constexpr int kBar = 20;
    char text[96];
    std::string line;
    if (rangeMs > 0) {
        const std::int64_t done = std::clamp<std::int64_t>(doneMs, 0, rangeMs);
        const int filled = int(done * kBar / rangeMs);
        std::snprintf(text, sizeof text, "] %.1f/%.1f s  ", double(done) / 1000,
                      double(rangeMs) / 1000);
        line = "[" + std::string(filled, '#') + std::string(kBar - filled, '.') + text;
    } else {
        std::snprintf(text, sizeof text, "%.1f s  ",
                      double(std::max<std::int64_t>(doneMs, 0)) / 1000);
        line = text;
    }
    std::snprintf(text, sizeof text, "%lld frames", static_cast<long long>(frames));
    line += text;
    if (elapsedSeconds > 0 && frames > 0) {
        std::snprintf(text, sizeof text, "  %.1f frames/s", double(frames) / elapsedSeconds);
        line += text;
    }
    line += "  ";
    const int room = width - 1 - int(line.size());
    if (room > 1)
        line += KeepEnd(std::filesystem::path(path).filename().string(), std::size_t(room));
    return line;
}

void CConsoleProgress::OnEvent(const CJobEvent& event) {
    if (!m_line.Terminal())
        return;
    std::visit(Overloaded{
                   [this](const CFileStarted& file) {
                       m_line.Draw(FormatLine(file.m_strPath, file.m_nFile - 1, file.m_nTotal,
                                              m_line.Elapsed(), m_line.Width()));
                   },
                   [this](const CResizeStarted& resize) {
                       m_line.Draw("放大至" + std::to_string(resize.m_nWidth) + "x" +
                                   std::to_string(resize.m_nHeight) + "...");
                   },
                   [](const auto&) {},
               },
               event);
}

bool CConsoleProgress::StopRequested() {
    return CProgressLine::Interrupted();
}

bool PrintJobSummary(const CJobResult& result, const std::string& pattern,
                     const std::string& srcDir,
                     const std::function<void(const std::string&)>& error) {
    for (const std::string& path : result.m_leftovers)
        std::printf("removed %s, left behind by an earlier run that was killed\n", path.c_str());
    for (const std::string& path : result.m_written) std::printf("wrote %s\n", path.c_str());
    if (!result.m_trashed.empty()) {
        std::printf("moved %zu source files to the trash:\n", result.m_trashed.size());
        const std::size_t named = std::min(result.m_trashed.size(), kTrashedNamed);
        for (std::size_t i = 0; i < named; ++i) std::printf("  %s\n", result.m_trashed[i].c_str());
        if (result.m_trashed.size() > named)
            std::printf("  …\n");
    }
    if (result.m_nOtherSize == 1)
        std::printf("1 image differs in size from the first; only the overlap was merged in\n");
    else if (result.m_nOtherSize > 1)
        std::printf("%d images differ in size from the first; only the overlap was merged in\n",
                    result.m_nOtherSize);
    std::fflush(stdout);
    for (const CJobProblem& p : result.m_skipped)
        error("skipped " + p.m_strPath + ": " + p.m_strReason);
    for (const CJobProblem& p : result.m_failures) error(p.m_strPath + ": " + p.m_strReason);
    switch (result.m_end) {
        case JobEnd::Refused:
            error(result.m_strReason);
            break;
        case JobEnd::NoFiles:
            error(srcDir + ": no " + pattern + " files");
            break;
        case JobEnd::NothingAdded:
            if (result.m_bStopped)
                break;
            error(srcDir + (result.m_bNoneAlignable
                                ? ": no image has enough detail to align; nothing written"
                                : ": no image could be read; nothing written"));
            break;
        case JobEnd::Failed:
        case JobEnd::Finished:
            break;
    }
    if (result.m_bStopped)
        error("stopped after " + std::to_string(std::max(result.m_nVisited - 1, 0)) + " of " +
              std::to_string(result.m_nTotal) + " files" +
              (result.m_written.empty() ? "; nothing written" : ""));
    // A skipped file is a file that could not be read: the exit code says so after the summary.
    return result.Ok() && !result.m_bStopped && result.m_skipped.empty();
}

int RunJobOnConsole(const std::function<CJobResult(IJobObserver&)>& run, const std::string& srcDir,
                    SourceKind source, const std::function<void(const std::string&)>& error) {
    if (!std::filesystem::is_directory(srcDir)) {
        error(srcDir + ": not a folder");
        return 1;
    }
    CConsoleProgress progress;
    const CJobResult result = run(progress);
    progress.Finish();
    if (result.m_end == JobEnd::Refused) {
        error(result.m_strReason +
              (result.m_refusal == JobRefusal::TargetIsSource ? " (--delete-sources)" : ""));
        return 2;
    }
    return PrintJobSummary(result, SourcePattern(source), srcDir, error) ? 0 : 1;
}
