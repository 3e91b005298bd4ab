// Drives a job engine from a terminal: a progress line on stderr (only when stderr is a
// terminal), Ctrl-C as the Stop button, and a summary of what the job did.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "jobs/job_observer.h"
#include "jobs/job_params.h"
#include "jobs/job_result.h"

// The one line a command redraws on a terminal, and Ctrl-C as a flag while it lives.
class CProgressLine {
public:
    // Draws on `stream` when it is a terminal; otherwise stays silent. Takes Ctrl-C over.
    explicit CProgressLine(std::FILE* stream = stderr);
    // Ends the line and restores the previous Ctrl-C handling.
    ~CProgressLine();
    CProgressLine(const CProgressLine&) = delete;
    CProgressLine& operator=(const CProgressLine&) = delete;

    bool Terminal() const { return m_bTerminal; }
    // The terminal's width in columns (80 when it cannot be asked).
    int Width() const;
    // Seconds since the line was made.
    double Elapsed() const;
    // Replaces the line on a terminal.
    void Draw(const std::string& line);
    // Ends the progress line so that later output starts on a fresh line.
    void Finish();
    // True once Ctrl-C was pressed while a line lived.
    static bool Interrupted();

private:
    std::FILE* m_pStream;
    bool m_bTerminal;
    bool m_bDrawn = false;
    std::chrono::steady_clock::time_point m_start;
    struct sigaction m_oldAction {};
};

// Cuts UTF-8 text to at most `columns` characters, keeping its end (a file name) after "…".
std::string KeepEnd(const std::string& text, std::size_t columns);

class CConsoleProgress : public IJobObserver {
public:
    // Draws on `stream` when it is a terminal; otherwise stays silent.
    explicit CConsoleProgress(std::FILE* stream = stderr) : m_line(stream) {}
    CConsoleProgress(const CConsoleProgress&) = delete;
    CConsoleProgress& operator=(const CConsoleProgress&) = delete;

    // A file started redraws the line; a resize shows "放大至WxH..." until the next file.
    void OnEvent(const CJobEvent& event) override;
    // True once Ctrl-C was pressed: the file in hand is finished, the next is not started.
    bool StopRequested() override;

    // Ends the progress line so that later output starts on a fresh line.
    void Finish() { m_line.Finish(); }

    // One progress line: "[#####.....] 3/10  name  2.5 files/s", cut to `width` columns.
    static std::string FormatLine(const std::string& path, int nDone, int nTotal,
                                  double elapsedSeconds, int width);

private:
    CProgressLine m_line;
};

// One progress line of the frames command: "[#####.....] 12.5/60.0 s  245 frames  50.1
// frames/s  name", with the bar and the range's length only when `rangeMs` is known (not -1);
// `doneMs` is the time reached within the range. Cut to `width` columns.
std::string FormatFramesLine(const std::string& path, std::int64_t doneMs, std::int64_t rangeMs,
                             std::int64_t frames, double elapsedSeconds, int width);

// Runs one job from a terminal: checks that `srcDir` is a folder, runs `run` with a
// CConsoleProgress (progress line, Ctrl-C as Stop), then prints the summary. Returns
// tarnwick-cli's exit code: 0 when the job ran to its end and nothing was skipped or failed, 2
// when it refused its parameters, 1 otherwise (stopped, nothing to do, a file skipped or a
// failure), with one line per problem through `error`.
int RunJobOnConsole(const std::function<CJobResult(IJobObserver&)>& run, const std::string& srcDir,
                    SourceKind source, const std::function<void(const std::string&)>& error);

// Prints what the job wrote to stdout ("wrote PATH", the sources moved to the trash with the
// first kTrashedNamed named, and how many images of another size than the first went in) and
// every skipped file, failure or early end through `error` (one line each, path and reason).
// True when the job ran to its end and nothing was skipped or failed.
bool PrintJobSummary(const CJobResult& result, const std::string& pattern,
                     const std::string& srcDir,
                     const std::function<void(const std::string&)>& error);
