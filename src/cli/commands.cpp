#include "cli/commands.h"

#include <cstdio>

std::vector<CliCommand> CliCommands() {
    return {ConvertCommand(), AverageCommand(), ResizeCommand(), FillCommand(),
            EnlargeCommand(), RecordCommand(),  FramesCommand(), StillCommand()};
}

void CliError(const std::string& message) {
    std::fprintf(stderr, "tarnwick-cli: %s\n", message.c_str());
}
