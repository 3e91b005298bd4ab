// Runs the built tarnwick-cli and captures what it did.
#pragma once

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
