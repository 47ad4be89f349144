// The command line of a run without the window: what it asks for, parsed once.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "job/extension_options.h"

namespace zembrat::cli {

// Options that go beyond the window's settings, kept for the job's extension options; each
// is off (or unset) unless given.
struct ExtensionSwitches {
    std::optional<bool> https, lazy, htmlRules, checkContent, markdown;  // unset: the settings'
    std::optional<int> timeoutSeconds;                                   // --timeout SECONDS
    std::optional<int> jobs;  // --jobs N: downloads at once
};

// Sets every option the switches name, leaves the others as the settings file gave them.
void ApplySwitches(const ExtensionSwitches& switches, job::ExtensionOptions& options);

struct CommandLine {
    enum class Mode { Help, Version, Run };
    Mode mode = Mode::Run;
    bool dryRun = false;
    bool quiet = false;
    // Texts as typed (the terminal's UTF-8); unset: the setting's value.
    std::optional<std::string> folder;
    std::optional<std::string> filter;
    std::optional<std::string> images;
    std::optional<std::string> oldPrefix;
    std::optional<std::string> newPrefix;
    std::optional<std::string> exclude;
    std::optional<std::string> settingsFile;
    std::optional<std::string> reportFile;
    std::optional<std::string> retryReport;
    ExtensionSwitches extensions;
};

struct ParseResult {
    std::optional<CommandLine> line;
    std::string error;  // when line is empty: what is wrong, for standard error
};

// args without the program name. "--name value" and "--name=value" both work.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

// Whether the arguments ask for the command line rather than the window: one of them starts
// with "--" (the toolkit's own options start with a single "-"), or is "-h".
bool WantsConsole(int argc, char** argv);

// The text of --help, UTF-8.
const std::string& HelpText();

}  // namespace zembrat::cli
