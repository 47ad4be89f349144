// The command line of a run without the window: what it asks for, parsed once. Every option
// lives in one table, which the parser, the --help text and the manual page's options all read.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zembrat::job {
struct ExtensionOptions;
struct OptionDescriptor;
}  // namespace zembrat::job

namespace zembrat::cli {

// An extension option given on the command line: its entry of the option table and its text as
// typed (UTF-8): "1" or "0" for a flag, a number in decimal within its bounds, a text or a choice;
// a --no- form gives the option's off text ("0", its off number, or empty).
struct GivenOption {
    const job::OptionDescriptor* option;
    std::string text;

    friend bool operator==(const GivenOption&, const GivenOption&) = default;
};

// Sets every option given, in the order given (so of --x and --no-x the last counts), and leaves
// the others as the settings file gave them. A text becomes GBK; a relative folder is taken from
// the current folder, an empty one stays empty.
void ApplySwitches(const std::vector<GivenOption>& given, job::ExtensionOptions& options);

// The folder as typed (UTF-8), made absolute from the current folder, as GBK.
std::string AbsoluteFolder(const std::string& typed);

struct CommandLine {
    enum class Mode { Help, Version, Run };
    Mode mode = Mode::Run;
    bool dryRun = false;
    bool run = false;  // --run was given
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
    // --retry-failed: the CSV report named, or empty for the run record's articles to retry.
    std::optional<std::string> retryReport;
    // The trash of the result folder: --prune sets the unused images aside (with --dry-run: lists
    // them; with --force: past the bounds), --restore [STAMP] brings the last (or that) trash
    // back, --empty-trash [DAYS] deletes those older than DAYS (empty: the usual age).
    bool prune = false;
    bool force = false;
    std::optional<std::string> restore;
    std::optional<std::string> emptyTrash;
    bool refresh = false;  // ask the images stored before again (incremental runs)
    bool forget = false;   // set the run record aside and start a fresh one
    // --publish [TARGET]: publish the result (a kept target's name or place, or a URL; empty:
    // the chosen one of the settings).
    std::optional<std::string> publish;
    // --verify [TARGET]: check the public copies of what was published there (as for --publish).
    std::optional<std::string> verify;
    bool checkRemote = false;             // look on the server even for what was published before
    bool acceptNewHostKey = false;        // an SFTP host met for the first time is trusted
    std::vector<GivenOption> extensions;  // the extension options given, in order
};

// One entry of the option table.
enum class OptionKind {
    Folder,  // the article folder, a plain argument; listed with the options
    Flag,    // --name
    Switch,  // --name / --no-name, the last one given wins
    Text,    // --name VALUE; an extension's text or choice also has --no-name, which empties it
    Number,  // --name N within [low, high]; with offValue, --no-name sets that
    // --name [VALUE]: the next argument is its value unless it is an option or an existing folder;
    // without one the value is empty
    OptionalText,
};
enum class OptionGroup { Settings, Run, Extensions, Publish, Other };
enum class Action { Help, Version, Run };  // what a flag asks for beyond the line's members

// An extension option's entry is made from its entry of the option table (job/option_table.h).
using OptionTarget =
    std::variant<std::monostate, Action, bool CommandLine::*,
                 std::optional<std::string> CommandLine::*, const job::OptionDescriptor*>;

struct OptionEntry {
    std::string_view name;       // "--filter"; for the folder, its value name
    std::string_view shortName;  // "-h", or empty
    std::string_view valueName;  // "WILDCARDS", or empty
    OptionKind kind;
    OptionGroup group;
    OptionTarget target;
    // The --help text (lines after the first are indented below it) and the manual's
    // paragraph, where `text` is bold and _text_ italic. In both, {low} and {high} stand for
    // a number's bounds, {per-site} for the downloads at once from one site.
    std::string_view help;
    std::string_view manual;
    int low = 0, high = 0;             // Number
    std::string_view unit = {};        // Number: what it counts, in its error
    std::optional<int> offValue = {};  // Number: what --no-name sets
};

// Every option, in the order --help lists them: the command line's own, and a switch for each
// entry of the option table that has one.
std::span<const OptionEntry> OptionTable();

// Every spelling of the entry, as --help and the manual list them: "--https, --no-https".
std::vector<std::string> Spellings(const OptionEntry& entry);

struct ParseResult {
    std::optional<CommandLine> line;
    std::string error;  // when line is empty: what is wrong, for standard error
};

// args without the program name. "--name value" and "--name=value" both work.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

// Whether the arguments ask for the command line rather than the window: one of them starts
// with "--" (the toolkit's own options start with a single "-"), or is "-h".
bool WantsConsole(int argc, char** argv);

// For arguments left to the window (see WantsConsole) when there is no display to open it
// on: the message for standard error that points to --run, naming the first word that is no
// toolkit option nor its value as the folder ("FOLDER" when there is none), so that the
// toolkit never aborts. nullopt only for "-platform" naming a platform that needs no display
// (offscreen, vnc, ...): that is the toolkit's to open.
std::optional<std::string> NoDisplayMessage(const std::vector<std::string>& args);

// The text of --help, UTF-8.
const std::string& HelpText();

// The manual page's options: from its ".SH OPTIONS" line up to the next section, UTF-8 roff.
std::string ManualOptions();

}  // namespace zembrat::cli
