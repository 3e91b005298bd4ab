// The still job on a terminal: its progress line, Ctrl-C as Stop, and the summary, for the
// still command and for averaging a folder onto a finer grid.
#pragma once

#include "jobs/still_job.h"

// Runs the job on this thread; tarnwick-cli's exit code: 0 when the picture is written, 2 when
// the job refused its parameters, 1 otherwise (stopped, a read or write failed, no picture),
// with one line on stderr saying why.
int RunStillOnConsole(const CStillJobParams& params);
