#include "cli/command_line.h"

#include <charconv>
#include <cstring>

#include "job/extension_options.h"

namespace zembrat::cli {
namespace {

bool ParseInt(const std::string& text, int low, int high, int& out) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < low || value > high) return false;
    out = value;
    return true;
}

}  // namespace

void ApplySwitches(const ExtensionSwitches& switches, job::ExtensionOptions& options) {
    if (switches.https) options.https = *switches.https;
    if (switches.lazy) options.lazyImages = *switches.lazy;
    if (switches.htmlRules) options.htmlRules = *switches.htmlRules;
    if (switches.checkContent) options.checkContent = *switches.checkContent;
    if (switches.markdown) options.markdown = *switches.markdown;
    if (switches.timeoutSeconds) options.timeoutSeconds = *switches.timeoutSeconds;
    if (switches.jobs) options.downloadsAtOnce = *switches.jobs;
}

bool WantsConsole(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--", 2) == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    }
    return false;
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    bool run = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> positional;
    bool on = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (name.rfind("--", 0) == 0) {
            const std::size_t eq = name.find('=');
            if (eq != std::string::npos) {
                inlineValue = name.substr(eq + 1);
                name.resize(eq);
            }
        } else if (name != "-h") {
            positional.push_back(name);
            continue;
        }
        // The value of an option that takes one: after "=" or the next argument.
        auto value = [&](std::optional<std::string>& into) -> std::optional<std::string> {
            if (inlineValue) {
                into = *inlineValue;
                return std::nullopt;
            }
            if (i + 1 >= args.size()) return name + " needs a value";
            into = args[++i];
            return std::nullopt;
        };
        auto flag = [&](bool& into) -> std::optional<std::string> {
            if (inlineValue) return name + " takes no value";
            into = true;
            return std::nullopt;
        };
        std::optional<std::string> error;
        std::optional<std::string> number;
        if (name == "--help" || name == "-h") {
            error = flag(help);
        } else if (name == "--version") {
            error = flag(version);
        } else if (name == "--run") {
            error = flag(run);
        } else if (name == "--dry-run") {
            error = flag(line.dryRun);
        } else if (name == "--quiet") {
            error = flag(line.quiet);
        } else if (name == "--filter") {
            error = value(line.filter);
        } else if (name == "--images") {
            error = value(line.images);
        } else if (name == "--old-prefix") {
            error = value(line.oldPrefix);
        } else if (name == "--new-prefix") {
            error = value(line.newPrefix);
        } else if (name == "--exclude") {
            error = value(line.exclude);
        } else if (name == "--settings") {
            error = value(line.settingsFile);
        } else if (name == "--report") {
            error = value(line.reportFile);
        } else if (name == "--retry-failed") {
            error = value(line.retryReport);
        } else if (name == "--https") {
            error = flag(on);
            line.extensions.https = on;
        } else if (name == "--lazy") {
            error = flag(on);
            line.extensions.lazy = on;
        } else if (name == "--html-rules") {
            error = flag(on);
            line.extensions.htmlRules = on;
        } else if (name == "--check-content") {
            error = flag(on);
            line.extensions.checkContent = on;
        } else if (name == "--markdown") {
            error = flag(on);
            line.extensions.markdown = on;
        } else if (name == "--timeout") {
            error = value(number);
            int seconds = 0;
            if (!error && !ParseInt(*number, 1, 3600, seconds))
                error = "--timeout takes a whole number of seconds from 1 to 3600";
            if (!error) line.extensions.timeoutSeconds = seconds;
        } else if (name == "--jobs") {
            error = value(number);
            int jobs = 0;
            if (!error && !ParseInt(*number, job::ExtensionOptions::kMinDownloadsAtOnce,
                                    job::ExtensionOptions::kMaxDownloadsAtOnce, jobs))
                error = "--jobs takes a whole number of downloads at once from 1 to 16";
            if (!error) line.extensions.jobs = jobs;
        } else {
            error = "unknown option " + name;
        }
        if (error) return {std::nullopt, *error};
    }

    if (help) {
        line.mode = CommandLine::Mode::Help;
        return {line, {}};
    }
    if (version) {
        line.mode = CommandLine::Mode::Version;
        return {line, {}};
    }
    // A dry run and a retry are runs of their own kind: --run may be left out for them.
    if (!run && !line.dryRun && !line.retryReport)
        return {std::nullopt, "nothing to do: give --run"};
    if (positional.size() > 1)
        return {std::nullopt, "more than one article folder: " + positional[1]};
    if (!positional.empty()) line.folder = positional[0];
    if (line.dryRun && line.retryReport)
        return {std::nullopt, "--dry-run and --retry-failed cannot be combined"};
    if (line.dryRun && line.reportFile)
        return {std::nullopt, "a dry run writes nothing: --report cannot be given with it"};
    if (line.retryReport && line.folder)
        return {std::nullopt, "--retry-failed takes its articles from the report: give no folder"};
    if (line.reportFile) {
        const std::string& f = *line.reportFile;
        auto endsWith = [&](const char* ext) {
            const std::size_t n = std::strlen(ext);
            if (f.size() < n) return false;
            for (std::size_t k = 0; k < n; ++k) {
                char c = f[f.size() - n + k];
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
                if (c != ext[k]) return false;
            }
            return true;
        };
        if (!endsWith(".csv") && !endsWith(".json"))
            return {std::nullopt, "--report FILE must end in .csv or .json"};
    }
    line.mode = CommandLine::Mode::Run;
    return {line, {}};
}

const std::string& HelpText() {
    static const std::string text =
        "Usage: zembrat                        open the window\n"
        "       zembrat --run [FOLDER] [OPTIONS]\n"
        "       zembrat --dry-run [FOLDER] [OPTIONS]\n"
        "       zembrat --retry-failed REPORT.csv [OPTIONS]\n"
        "\n"
        "Re-hosts the network images of the articles in FOLDER, without a window: downloads\n"
        "each image into the image folder below FOLDER/转存结果/ and writes the articles there\n"
        "with their new addresses. The settings are those the window uses (Zembrat.ini).\n"
        "\n"
        "Settings for this run (the settings file is never written):\n"
        "  FOLDER                the article folder\n"
        "  --filter WILDCARDS    the article filter (e.g. \"*.htm|*.html\")\n"
        "  --images FOLDER       the image folder, relative to the result folder\n"
        "  --old-prefix PREFIX   the old domain prefix put before addresses starting with \"/\"\n"
        "  --new-prefix PREFIX   the new domain prefix of the stored images\n"
        "  --exclude RANGES      addresses not to download (wildcards, \"|\" between them)\n"
        "  --settings FILE       read the settings from FILE instead of Zembrat.ini\n"
        "\n"
        "What the run does:\n"
        "  --run                 run the job\n"
        "  --dry-run             list what would become of every reference; write nothing,\n"
        "                        send no request\n"
        "  --report FILE         write one row per reference (.csv or .json)\n"
        "  --retry-failed REPORT download again only what the CSV report lists as failed,\n"
        "                        and write those articles again\n"
        "  --quiet               print only the summary\n"
        "\n"
        "Extension options (off unless given):\n"
        "  --https --lazy --html-rules --check-content --markdown\n"
        "  --timeout SECONDS     1..3600\n"
        "  --jobs N              downloads at once, 1..16 (at most 8 from one site);\n"
        "                        the articles come out as with one at a time\n"
        "\n"
        "  --help                this text\n"
        "  --version             the version\n"
        "\n"
        "Exit status: 0 every reference kept was stored and every article written; 1 some\n"
        "image failed or some article was not read or written; 2 bad usage or unreadable\n"
        "settings; 130 stopped by Ctrl+C (a second Ctrl+C ends at once).\n";
    return text;
}

}  // namespace zembrat::cli
