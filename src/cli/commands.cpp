#include "cli/commands.h"

#include <cstdio>

static std::vector<const CliCommand*>& Registry() {
    static std::vector<const CliCommand*> commands;
    return commands;
}

CliCommand::CliCommand(int order_, Setup setup_) : order(order_), setup(std::move(setup_)) {
    Registry().push_back(this);
}

const std::vector<const CliCommand*>& CliCommands() {
    return Registry();
}

void CliError(const std::string& message) {
    std::fprintf(stderr, "tarnwick-cli: %s\n", message.c_str());
}
