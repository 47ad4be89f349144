// The console's command line on random argument vectors: the input split at its zero bytes.
// Checked besides crashes: a line that does not parse says why, the extension switches of one
// that does keep the options within their ranges when applied, numbers stay within their
// table entry's form, and --help names every spelling of every option.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "fuzz_support.h"
#include "job/extension_options.h"
#include "job/option_table.h"

namespace {
using namespace zembrat;

bool WithinRanges(const job::ExtensionOptions& o) {
    using Options = job::ExtensionOptions;
    return o.timeoutSeconds >= 0 && o.timeoutSeconds <= Options::kMaxTimeoutSeconds &&
           o.downloadsAtOnce >= Options::kMinDownloadsAtOnce &&
           o.downloadsAtOnce <= Options::kMaxDownloadsAtOnce;
}

// Whether every option given holds a text its table entry takes.
void CheckGiven(const std::vector<cli::GivenOption>& given) {
    for (const cli::GivenOption& g : given) {
        if (g.option->kind != job::OptionKind::Text && g.option->kind != job::OptionKind::Folder)
            FUZZ_CHECK(g.option->Accepts(g.text));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    static const bool helpChecked = [] {
        for (const cli::OptionEntry& e : cli::OptionTable()) {
            for (const std::string& spelling : cli::Spellings(e))
                FUZZ_CHECK(cli::HelpText().find(spelling) != std::string::npos);
        }
        return true;
    }();
    (void)helpChecked;

    std::vector<std::string> args;
    const std::string input(reinterpret_cast<const char*>(data), size);
    for (std::size_t from = 0;;) {
        const std::size_t zero = input.find('\0', from);
        args.push_back(input.substr(from, zero == std::string::npos ? zero : zero - from));
        if (zero == std::string::npos) break;
        from = zero + 1;
    }

    const cli::ParseResult parsed = cli::ParseCommandLine(args);
    if (!parsed.line) {
        FUZZ_CHECK(!parsed.error.empty());
    } else {
        const std::vector<cli::GivenOption>& switches = parsed.line->extensions;
        CheckGiven(switches);
        job::ExtensionOptions options;
        cli::ApplySwitches(switches, options);
        FUZZ_CHECK(WithinRanges(options));
        // Options at their far ends stay within their ranges too.
        job::ExtensionOptions far;
        far.timeoutSeconds = job::ExtensionOptions::kMaxTimeoutSeconds;
        far.downloadsAtOnce = job::ExtensionOptions::kMaxDownloadsAtOnce;
        cli::ApplySwitches(switches, far);
        FUZZ_CHECK(WithinRanges(far));
        // The same line parses the same way again.
        const cli::ParseResult again = cli::ParseCommandLine(args);
        FUZZ_CHECK(again.line && again.line->mode == parsed.line->mode &&
                   again.line->folder == parsed.line->folder && again.line->extensions == switches);
    }

    // What the program's entry asks before anything else, on the same arguments.
    std::vector<char*> argv{const_cast<char*>("zembrat")};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    (void)cli::WantsConsole(static_cast<int>(argv.size() - 1), argv.data());
    (void)cli::NoDisplayMessage(args);
    return 0;
}
