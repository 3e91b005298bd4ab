// Runs the built tarnwick-cli and captures what it did.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct CliResult {
    int exitCode = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs tarnwick-cli with `args` (no shell involved), optionally with extra environment
// entries ("NAME=value").
CliResult RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
// Runs the program argv[0] (looked up on PATH when it has no slash) the same way; standard
// output is kept byte for byte.
CliResult RunProgram(std::vector<std::string> argv, const std::vector<std::string>& env = {});

// Starts tarnwick-cli with `args` in the background, its standard output into the file
// `stdoutPath`; its process id, or -1 when it could not be started.
pid_t StartCli(const std::vector<std::string>& args, const std::string& stdoutPath);
// Presses Ctrl-C on a process StartCli started, wherever it is (frozen first, so that the
// signal lands at that point), and waits for it: its exit code, or -1 when a signal ended it.
int InterruptCli(pid_t pid);
