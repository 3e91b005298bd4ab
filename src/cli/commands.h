// Subcommands of tarnwick-cli. Each cmd_*.cpp registers itself with a static CliCommand, so a
// new subcommand is one new file.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

// Exit codes shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a file could not be read or written
inline constexpr int kExitUsage = 2;

struct CliCommand {
    // Adds the subcommand to `app`; the returned function runs it once the arguments are parsed.
    using Setup = std::function<std::function<int()>(CLI::App& app)>;
    CliCommand(int order, Setup setup);
    int order;
    Setup setup;
};

const std::vector<const CliCommand*>& CliCommands();

// One line "tarnwick-cli: <what>" on stderr.
void CliError(const std::string& message);
