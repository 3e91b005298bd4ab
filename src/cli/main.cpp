#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>

#include "cli/commands.h"
#include "jobs/run_context.h"

int main(int argc, char** argv) {
    CLI::App app{
        "Tarnwick from the shell: convert, resize, average and enlarge images, record video "
        "frames."};
    app.require_subcommand(1);
    // TARNWICK_VERSION comes from the build: the project version, the one the package carries.
    app.set_version_flag("--version", std::string("tarnwick-cli ") + TARNWICK_VERSION,
                         "Print the version and exit");
    // One option for every subcommand, also after its name.
    int threads = 0;
    app.add_option("--threads", threads,
                   "Threads to use: files worked on side by side in average and enlarge, and "
                   "row threads of each resize (default: TARNWICK_THREADS, else one per "
                   "processor)")
        ->type_name("N")
        ->check(CLI::Range(1, 1024));
    app.fallthrough();
    std::map<CLI::App*, CliCommand::Run> runners;
    for (const CliCommand& command : CliCommands()) {
        const auto before = app.get_subcommands({});
        auto run = command.setup(app);  // adds one subcommand: the new one runs `run`
        for (CLI::App* sub : app.get_subcommands({})) {
            if (std::find(before.begin(), before.end(), sub) == before.end())
                runners[sub] = run;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);  // --help, --version
        // A usage error is one line, as every other error.
        CliError(std::string(e.what()) + " (see --help)");
        return kExitUsage;
    }
    const CRunContext context = RunContextFromEnvironment(threads, {});
    for (auto& [sub, run] : runners) {
        if (sub->parsed())
            return run(context);
    }
    return kExitUsage;
}
