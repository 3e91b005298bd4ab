// What the two job subcommands (average, enlarge) share: their options for the kind of sources
// and the JPEG quality, stored straight into the engine's parameters, and running the engine on
// the terminal.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "cli/console_progress.h"
#include "jobs/job_params.h"

// An option whose values are the names of the choices `all` (`name` gives each one's), stored
// into `choice` as the enum; the help lists the names, and any other value is refused with them.
template <class E, std::size_t N>
CLI::Option* AddChoiceOption(CLI::App* sub, const std::string& option, E& choice, const E (&all)[N],
                             const char* (*name)(E), const std::string& help) {
    std::map<std::string, E> byName;
    std::string names;
    for (const E value : all) {
        byName.emplace(name(value), value);
        names += (names.empty() ? "{" : ",") + std::string(name(value));
    }
    names += "}";
    // Turns the name into the number CLI11 reads an enum from.
    const auto toNumber = [byName, names](std::string& value) -> std::string {
        const auto it = byName.find(value);
        if (it == byName.end())
            return value + " not in " + names;
        value = std::to_string(int(it->second));
        return {};
    };
    return sub->add_option(option, choice, help)
        ->type_name("TEXT")
        ->transform(CLI::Validator(toNumber, names));
}

// --type jpg|bmp, "bmp" when not given.
void AddSourceKindOption(CLI::App* sub, SourceKind& kind);
// -q,--quality 1..100, 95 when not given.
void AddQualityOption(CLI::App* sub, int& quality);

// A media time as --from, --to and --at take it (seconds, m:ss or h:mm:ss.mmm); a value
// ParseMediaTime refuses is refused with its reason.
CLI::Validator MediaTime();

// --from, --to and --frames of the commands that read a media file, as given.
struct MediaRangeArgs {
    std::string from, to;
    std::int64_t frames = 0;
    bool bFramesGiven = false;

    bool Given() const { return !from.empty() || !to.empty() || bFramesGiven; }
    // The range in the reader's terms; false, with the message given, when --to is not after
    // --from.
    bool Resolve(std::int64_t& fromMs, std::optional<std::int64_t>& toMs,
                 std::optional<std::int64_t>& maxFrames) const;
};
// Adds the three options into `range`, which must live as long as `sub`; `framesHelp` says
// what --frames N limits.
void AddMediaRangeOptions(CLI::App* sub, MediaRangeArgs& range, const std::string& framesHelp);

// Runs the engine Job over `params` in `context` with the progress line and Ctrl-C as Stop; the
// exit code.
template <class Job, class Params>
int RunJobCommand(const Params& params, const CRunContext& context) {
    return RunJobOnConsole(
        [&](IJobObserver& observer) { return Job(params, observer, context).Run(); },
        params.m_strSrcDir, params.m_source.value_or(SourceKind::Bmp), CliError);
}

// The names and help texts of a job subcommand and of its two positionals, SRC_DIR and the
// target.
struct CJobCommandText {
    const char* m_pszName;
    const char* m_pszHelp;
    const char* m_pszSrcHelp;
    const char* m_pszTarget;
    const char* m_pszTargetHelp;
};

// The set-up of a job subcommand. Args holds the engine's parameters in `params`, with the
// target in params.*target, and whatever its own options need; `addOptions(sub, args)` adds
// those options after the positionals, and `args.Run(context)` runs the parsed command.
template <class Args, class P, class AddOptions>
CliCommand::Setup JobCommand(const CJobCommandText& text, std::string P::*target,
                             AddOptions addOptions) {
    return [text, target, addOptions](CLI::App& app) -> CliCommand::Run {
        auto args = std::make_shared<Args>();
        CLI::App* sub = app.add_subcommand(text.m_pszName, text.m_pszHelp);
        sub->add_option("SRC_DIR", args->params.m_strSrcDir, text.m_pszSrcHelp)->required();
        sub->add_option(text.m_pszTarget, args->params.*target, text.m_pszTargetHelp)->required();
        addOptions(sub, *args);
        return [args](const CRunContext& context) { return args->Run(context); };
    };
}
