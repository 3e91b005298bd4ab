// Subcommands of tarnwick-cli: each cmd_*.cpp makes its own, and CliCommands lists them.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

#include "jobs/run_context.h"

// Exit codes shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a file could not be read or written
inline constexpr int kExitUsage = 2;

struct CliCommand {
    // Runs the parsed subcommand in the program's run context; the exit code.
    using Run = std::function<int(const CRunContext& context)>;
    // Adds the subcommand to `app`; the returned function runs it once the arguments are parsed.
    using Setup = std::function<Run(CLI::App& app)>;
    Setup setup;
};

// Every subcommand, in the order the help lists them.
std::vector<CliCommand> CliCommands();

CliCommand ConvertCommand();
CliCommand AverageCommand();
CliCommand ResizeCommand();
CliCommand FillCommand();
CliCommand EnlargeCommand();
CliCommand RecordCommand();
CliCommand FramesCommand();
CliCommand StillCommand();

// One line "tarnwick-cli: <what>" on stderr.
void CliError(const std::string& message);
