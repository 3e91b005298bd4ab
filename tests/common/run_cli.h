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
// Runs the program argv[0] (looked up on PATH when it has no slash) the same way; standard
// output is kept byte for byte.
CliResult RunProgram(std::vector<std::string> argv, const std::vector<std::string>& env = {});
