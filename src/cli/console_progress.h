// Drives a job engine from a terminal: a progress line on stderr (only when stderr is a
// terminal), Ctrl-C as the Stop button, and a summary of what the job did.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>

#include "jobs/job_observer.h"
#include "jobs/job_params.h"
#include "jobs/job_result.h"

class CConsoleProgress : public IJobObserver {
public:
    // Draws on `stream` when it is a terminal; otherwise stays silent.
    explicit CConsoleProgress(std::FILE* stream = stderr);
    // Restores the previous Ctrl-C handling.
    ~CConsoleProgress() override;
    CConsoleProgress(const CConsoleProgress&) = delete;
    CConsoleProgress& operator=(const CConsoleProgress&) = delete;

    // A file started redraws the line; a resize shows "放大至WxH..." until the next file.
    void OnEvent(const CJobEvent& event) override;
    // True once Ctrl-C was pressed: the file in hand is finished, the next is not started.
    bool StopRequested() override;

    // Ends the progress line so that later output starts on a fresh line.
    void Finish();

    // One progress line: "[#####.....] 3/10  name  2.5 files/s", cut to `width` columns.
    static std::string FormatLine(const std::string& path, int nDone, int nTotal,
                                  double elapsedSeconds, int width);

private:
    void Draw(const std::string& line);

    std::FILE* m_pStream;
    bool m_bTerminal;
    bool m_bDrawn = false;
    std::chrono::steady_clock::time_point m_start;
    struct sigaction m_oldAction {};
};

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
