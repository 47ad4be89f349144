// The option table: what the parser makes of arguments, and that --help and the manual page
// list what the parser takes.
#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "job/extension_options.h"
#include "job/option_table.h"
#include "support/option_samples.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#ifdef ZEMBRAT_EXECUTABLE
#include "child_process.h"
#endif

namespace zembrat::cli {
namespace {

using job::ExtensionOptions;
using O = job::ExtensionOptions;

CommandLine Parsed(const std::vector<std::string>& args) {
    const ParseResult result = ParseCommandLine(args);
    EXPECT_TRUE(result.line) << result.error;
    return result.line.value_or(CommandLine{});
}

// The text last given on the line for the option, if any.
std::optional<std::string> Given(const CommandLine& line, job::OptionDescriptor::Field field) {
    std::optional<std::string> text;
    for (const GivenOption& given : line.extensions) {
        if (given.option == &job::Descriptor(field)) text = given.text;
    }
    return text;
}

std::string Error(const std::vector<std::string>& args) {
    const ParseResult result = ParseCommandLine(args);
    EXPECT_FALSE(result.line);
    return result.error;
}

TEST(CommandLine, ParsesValuesSwitchesAndTheirErrors) {
    // A value inline or as the next argument; a plain argument is the folder.
    CommandLine line = Parsed({"--run", "--filter=*.md", "posts", "--images", "img", "--exclude="});
    EXPECT_EQ(line.filter, "*.md");
    EXPECT_EQ(line.images, "img");
    EXPECT_EQ(line.exclude, "");
    EXPECT_EQ(line.folder, "posts");
    EXPECT_FALSE(line.oldPrefix);

    // Of --x and --no-x the last counts; what is not named stays unset.
    line = Parsed({"--run", "--https", "--no-https", "--no-lazy", "--lazy", "--no-markdown",
                   "--timeout", "30", "--no-timeout", "--jobs=4"});
    EXPECT_EQ(Given(line, &O::https), "0");
    EXPECT_EQ(Given(line, &O::lazyImages), "1");
    EXPECT_EQ(Given(line, &O::markdown), "0");
    EXPECT_FALSE(Given(line, &O::htmlRules));
    EXPECT_FALSE(Given(line, &O::checkContent));
    EXPECT_EQ(Given(line, &O::timeoutSeconds), "0");
    EXPECT_EQ(Given(line, &O::downloadsAtOnce), "4");
    EXPECT_EQ(Given(Parsed({"--run", "--no-timeout", "--timeout=7"}), &O::timeoutSeconds), "7");

    // Over the settings file's options: the named ones change, the others stay.
    ExtensionOptions options;
    options.https = options.markdown = options.checkContent = true;
    options.timeoutSeconds = 20;
    options.downloadsAtOnce = 3;
    ExtensionOptions expected = options;
    expected.https = false;
    expected.lazyImages = true;
    expected.markdown = false;
    expected.timeoutSeconds = 0;
    expected.downloadsAtOnce = 4;
    ApplySwitches(line.extensions, options);
    EXPECT_EQ(options, expected);
    ApplySwitches({}, options);
    EXPECT_EQ(options, expected);

    // The bounds of the numbers, and what lies outside them.
    const int maxTimeout = ExtensionOptions::kMaxTimeoutSeconds;
    const int maxJobs = ExtensionOptions::kMaxDownloadsAtOnce;
    EXPECT_EQ(Given(Parsed({"--run", "--timeout", std::to_string(maxTimeout)}), &O::timeoutSeconds),
              std::to_string(maxTimeout));
    EXPECT_EQ(Given(Parsed({"--run", "--jobs", std::to_string(maxJobs)}), &O::downloadsAtOnce),
              std::to_string(maxJobs));
    const std::string timeoutError =
        "--timeout takes a whole number of seconds from 1 to " + std::to_string(maxTimeout);
    for (const std::string& bad :
         std::vector<std::string>{"0", std::to_string(maxTimeout + 1), "5s", "", "-3"})
        EXPECT_EQ(Error({"--run", "--timeout", bad}), timeoutError) << bad;
    const std::string jobsError = "--jobs takes a whole number of downloads at once from " +
                                  std::to_string(ExtensionOptions::kMinDownloadsAtOnce) + " to " +
                                  std::to_string(maxJobs);
    EXPECT_EQ(Error({"--run", "--jobs=" + std::to_string(maxJobs + 1)}), jobsError);

    // A text option's --no- form empties it.
    EXPECT_EQ(Given(Parsed({"--run", "--output=a", "--no-output"}), &O::outputFolder), "");
    EXPECT_EQ(Given(Parsed({"--run", "--no-output", "--output", "b"}), &O::outputFolder), "b");
    EXPECT_EQ(Error({"--run", "--no-output=x"}), "--no-output takes no value");
    EXPECT_EQ(Error({"--run", "--no-filter"}), "unknown option --no-filter");

    // Names that are not options, values where none belongs, values missing.
    EXPECT_EQ(Error({"--run", "--bogus"}), "unknown option --bogus");
    EXPECT_EQ(Error({"--run", "--no-jobs"}), "unknown option --no-jobs");
    EXPECT_EQ(Error({"--no-run"}), "unknown option --no-run");
    EXPECT_EQ(Error({"--run", "--no-https=1"}), "--no-https takes no value");
    EXPECT_EQ(Error({"--run=yes"}), "--run takes no value");
    EXPECT_EQ(Error({"--run", "--filter"}), "--filter needs a value");
    EXPECT_EQ(Error({"--run", "a", "b"}), "more than one article folder: b");

    // What to do: --run and --dry-run exclude each other; a dry run or a retry alone is enough.
    EXPECT_EQ(Error({"--run", "--dry-run"}), "--run and --dry-run cannot be combined");
    EXPECT_EQ(Error({"--dry-run", "posts", "--run"}), "--run and --dry-run cannot be combined");
    EXPECT_EQ(Error({"--https"}), "nothing to do: give --run");
    EXPECT_TRUE(Parsed({"--dry-run"}).dryRun);
    EXPECT_EQ(Parsed({"--retry-failed", "r.csv"}).retryReport, "r.csv");
    EXPECT_EQ(Parsed({"--run", "--dry-run", "-h"}).mode, CommandLine::Mode::Help);

    // Arguments left to the window: a folder, not a toolkit option's value, asks for --run.
    EXPECT_FALSE(NoDisplayMessage({"-platform", "vnc"}));
    EXPECT_NE(NoDisplayMessage({"-style", "x", "posts"}).value_or("").find("--run posts\n"),
              std::string::npos);
}

// Every option of the table that has a switch: the switch sets what the settings file would, its
// --no- form turns it off, and an option without one has no entry.
TEST(CommandLine, EverySwitchOfTheOptionTableSetsItsOption) {
    for (const job::OptionDescriptor& d : job::OptionTable()) {
        SCOPED_TRACE(d.key);
        std::size_t entries = 0;
        for (const OptionEntry& e : OptionTable()) {
            const auto* option = std::get_if<const job::OptionDescriptor*>(&e.target);
            if (option && *option == &d) {
                ++entries;
                EXPECT_EQ(e.name, d.switchName);
            }
        }
        EXPECT_EQ(entries, d.HasSwitch() ? 1u : 0u);
        if (!d.HasSwitch()) continue;

        const std::string other = testing::NonDefaultText(d);
        std::vector<std::string> args{"--run", d.switchName};
        if (d.kind != job::OptionKind::Flag) args.push_back(other);
        ExtensionOptions options;
        ApplySwitches(Parsed(args).extensions, options);
        ExtensionOptions expected;
        d.Set(expected, other);
        EXPECT_EQ(options, expected);

        if (!d.HasNoForm()) continue;
        args.push_back("--no-" + std::string(d.switchName).substr(2));
        ApplySwitches(Parsed(args).extensions, options);
        EXPECT_EQ(d.Text(options), d.kind == job::OptionKind::Number ? std::to_string(*d.off)
                                   : d.kind == job::OptionKind::Flag ? "0"
                                                                     : "");
    }
}

TEST(CommandLine, HelpAndManualListEverySpellingTheParserTakes) {
    const std::string& help = HelpText();
    const std::string manual = ManualOptions();
    for (const OptionEntry& entry : OptionTable()) {
        for (const std::string& spelling : Spellings(entry)) {
            // Every spelling opens a line of --help or follows another on it.
            EXPECT_TRUE(help.find("\n  " + spelling) != std::string::npos ||
                        help.find(", " + spelling) != std::string::npos)
                << spelling;
            std::string roff;
            for (const char c : spelling.substr(0, spelling.find(' ')))
                roff += c == '-' ? std::string("\\-") : std::string(1, c);
            EXPECT_NE(manual.find(roff), std::string::npos) << spelling;
            if (entry.kind == OptionKind::Folder) continue;
            // ... and the parser knows it (a value where one is needed).
            std::vector<std::string> args{spelling.substr(0, spelling.find(' '))};
            if (spelling.find(' ') != std::string::npos) args.push_back("1");
            const ParseResult result = ParseCommandLine(args);
            EXPECT_EQ(result.error.find("unknown option"), std::string::npos) << spelling;
        }
    }
    EXPECT_EQ(help.find('{'), std::string::npos);  // every placeholder filled
    EXPECT_EQ(manual.find('{'), std::string::npos);
    EXPECT_NE(help.find("1.." + std::to_string(ExtensionOptions::kMaxDownloadsAtOnce)),
              std::string::npos);
}

// ZEMBRAT_REWRITE_MANUAL=1 writes the table's options into the page instead of comparing
// (tools/update-manual-options.sh).
TEST(CommandLine, ManualPageOptionsAreTheTables) {
    const std::string path = ZEMBRAT_MANUAL_PAGE;
    const std::string page = testing::ReadFileOrMissing(path);
    const std::size_t begin = page.find("\n.SH OPTIONS\n");
    ASSERT_NE(begin, std::string::npos);
    const std::size_t end = page.find("\n.SH ", begin + 1);
    ASSERT_NE(end, std::string::npos);
    const std::string section = page.substr(begin + 1, end - begin);
    const char* rewrite = std::getenv("ZEMBRAT_REWRITE_MANUAL");
    if (rewrite && *rewrite == '1' && section != ManualOptions()) {
        std::ofstream(path, std::ios::binary)
            << page.substr(0, begin + 1) + ManualOptions() + page.substr(end + 1);
        return;
    }
    EXPECT_EQ(section, ManualOptions());
}

// The help page explains every option the dialog shows, under the dialog's caption.
TEST(CommandLine, TheHelpPageExplainsEveryOptionOfTheDialog) {
    const std::string page = testing::ReadFileOrMissing(ZEMBRAT_HELP_PAGE);
    ASSERT_FALSE(page.empty());
    for (const job::OptionDescriptor& d : job::OptionTable()) {
        if (d.place == job::DialogPlace::None) continue;
        std::string caption = d.caption;
        if (caption.ends_with("：")) caption.resize(caption.size() - std::string("：").size());
        EXPECT_NE(page.find("<dt>" + caption + " ("), std::string::npos) << caption;
    }
}

#ifdef ZEMBRAT_EXECUTABLE
TEST(CommandLine, AFolderWithoutADisplayPointsToRun) {
    testing::TempDir dir;
    std::string err;
    // ChildProcess leaves DISPLAY and WAYLAND_DISPLAY out.
    EXPECT_EQ(testing::RunToEnd(ZEMBRAT_EXECUTABLE, {dir / "my posts"}, dir.path(), nullptr, &err),
              2);
    EXPECT_NE(err.find("zembrat --run FOLDER"), std::string::npos) << err;
    EXPECT_NE(err.find("zembrat --run '" + (dir / "my posts") + "'\n"), std::string::npos) << err;
    // Whatever the arguments, the toolkit never aborts: a mistyped "-run", none at all, a
    // toolkit option and its value.
    const testing::ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-run", dir / "posts"}, "    zembrat --run " + (dir / "posts") + "\n"},
        {{}, "    zembrat --run FOLDER\n"},
        {{"-reverse", "-style", "fusion", "posts"}, "    zembrat --run posts\n"},
    };
    for (const auto& [args, hint] : cases) {
        SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
        err.clear();
        EXPECT_EQ(testing::RunToEnd(ZEMBRAT_EXECUTABLE, args, dir.path(), nullptr, &err), 2);
        EXPECT_NE(err.find(hint), std::string::npos) << err;
    }
}
#endif

}  // namespace
}  // namespace zembrat::cli
