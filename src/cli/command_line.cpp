#include "cli/command_line.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <utility>

#include "job/extension_options.h"
#include "job/option_table.h"
#include "job/prune.h"
#include "text/codec.h"
#include "web/fetch_group.h"

namespace zembrat::cli {
namespace {

using job::ExtensionOptions;
using job::OptionDescriptor;
using Line = CommandLine;

// The command line's own options, in the order --help lists them; each group of the option
// table's switches follows the entry named below.
constexpr std::array<OptionEntry, 24> kOwnOptions{{
    {"FOLDER", "", "", OptionKind::Folder, OptionGroup::Settings, std::monostate{},
     "the article folder", "The article folder."},
    {"--filter", "", "WILDCARDS", OptionKind::Text, OptionGroup::Settings, &Line::filter,
     "the article filter (e.g. \"*.htm|*.html\")",
     "The article filter, for example `*.htm|*.html`."},
    {"--images", "", "FOLDER", OptionKind::Text, OptionGroup::Settings, &Line::images,
     "the image folder, relative to the result folder",
     "The image folder, relative to the result folder."},
    {"--old-prefix", "", "PREFIX", OptionKind::Text, OptionGroup::Settings, &Line::oldPrefix,
     "the old domain prefix put before addresses starting with \"/\"",
     "The old domain prefix: an address that starts with `/`\n"
     "is downloaded from `http://`_PREFIX_`/...`"},
    {"--new-prefix", "", "PREFIX", OptionKind::Text, OptionGroup::Settings, &Line::newPrefix,
     "the new domain prefix of the stored images",
     "The new domain prefix: the rewritten references read\n"
     "`http://`_PREFIX_`/`_image-folder_`/`_name_."},
    {"--exclude", "", "RANGES", OptionKind::Text, OptionGroup::Settings, &Line::exclude,
     "addresses not to download (wildcards, \"|\" between them)",
     "Addresses that are not downloaded: wildcards with `|` between them."},
    {"--settings", "", "FILE", OptionKind::Text, OptionGroup::Settings, &Line::settingsFile,
     "read the settings from FILE instead of Zembrat.ini",
     "Read the settings from _FILE_ instead of `Zembrat.ini`."},

    {"--run", "", "", OptionKind::Flag, OptionGroup::Run, Action::Run, "run the job",
     "Run the job."},
    {"--dry-run", "", "", OptionKind::Flag, OptionGroup::Run, &Line::dryRun,
     "list what would become of every reference; write nothing,\n"
     "send no request",
     "For every reference found, print what would become of it: downloaded (with\n"
     "the absolute address that would be fetched) or dropped, and why (empty,\n"
     "relative with no old prefix, not http, excluded by which range, duplicate in\n"
     "the article).\n"
     "Nothing is written and no request is sent.\n"
     "It cannot be given with `--run`."},
    {"--report", "", "FILE", OptionKind::Text, OptionGroup::Run, &Line::reportFile,
     "write one row per reference (.csv or .json)",
     "Write one row per reference of the run: article, source text as found,\n"
     "address fetched, outcome (stored, reused, failed, dropped, not reached), HTTP\n"
     "status, bytes, stored name, new address, the reason of a failure (status,\n"
     "time-out, not an image, cannot be written, stopped) or of a drop, and what\n"
     "became of the article.\n"
     "A name ending in `.csv` gives CSV in UTF-8 with a byte-order mark; one ending in\n"
     "`.json` gives one JSON array of objects."},
    {"--retry-failed", "", "[REPORT]", OptionKind::OptionalText, OptionGroup::Run,
     &Line::retryReport,
     "download again only what the CSV report (without one: the\n"
     "run record) lists as failed or not reached, and write those\n"
     "articles again",
     "Read a CSV report of an earlier run and download again only the references it\n"
     "lists as failed or not reached, in the articles it names (every image of an\n"
     "article a stop cut short).\n"
     "Without _REPORT_ (or with the run record's file as _REPORT_) the articles come\n"
     "from the run record of the result folder: those whose last run left images\n"
     "failed or not reached, or that a stop cut short.\n"
     "Each article is read from its earlier result, so the images stored then stay\n"
     "rewritten, and is written again; without an earlier result the article itself is\n"
     "read, and the summary and the report say so.\n"
     "The articles must be plain absolute paths in the article folder (FOLDER, or the\n"
     "settings' one); a report naming any other is refused with its line number.\n"
     "Rows with `https://` addresses are retried only with `--https`."},
    {"--prune", "", "", OptionKind::Flag, OptionGroup::Run, &Line::prune,
     "move the stored images no article uses into the result\n"
     "folder's trash (.zembrat-trash/STAMP/); with --dry-run, list\n"
     "them; with --publish TARGET, on the target too",
     "Move the images of the image folder that no article uses into a trash folder of\n"
     "the result folder, `.zembrat-trash/`_STAMP_`/` (the local time it was made,\n"
     "`20261210-143000`), in the same layout as below the result folder, and list\n"
     "them. An image stays when an article of the run record uses it (as its last run\n"
     "wrote it), when an article of the article folder references it (read again with\n"
     "the readers the options choose, front matter included), or when a result article\n"
     "points at it; only files a run stored (named by the CRC-32 of their bytes) are\n"
     "moved, renamed on the same file system with no link followed. The run record\n"
     "must be there and readable, and every article must be as the last run read it;\n"
     "otherwise nothing moves and the reason is told. More than {prune-files} files, or\n"
     "more than half of the images, are not moved in one go without `--force`. With\n"
     "`--dry-run` the images are listed and nothing moves. With `--publish` _TARGET_ the\n"
     "same files are moved into the target's own trash, only where this program\n"
     "published them with those bytes. With `--report` _FILE_ (CSV) one row per file:\n"
     "action, stamp, path, where it is now, outcome, bytes, reason."},
    {"--force", "", "", OptionKind::Flag, OptionGroup::Run, &Line::force,
     "with --prune: move past the bounds (more than {prune-files}\n"
     "files, or more than half of the images)",
     "With `--prune`: move the unused images even when they are more than {prune-files}\n"
     "files or more than half of the images."},
    {"--restore", "", "[STAMP]", OptionKind::OptionalText, OptionGroup::Run, &Line::restore,
     "bring the last trash (or the one of STAMP) back; a file\n"
     "whose name came back with other bytes stays in the trash",
     "Bring the files of the last trash (or of the trash _STAMP_) back to where they\n"
     "were. A file whose name has come back meanwhile with the same bytes counts as\n"
     "restored; with other bytes it is refused and stays in the trash. With\n"
     "`--publish` _TARGET_, on the target too."},
    {"--empty-trash", "", "[DAYS]", OptionKind::OptionalText, OptionGroup::Run, &Line::emptyTrash,
     "delete the trashes older than DAYS (without it: {trash-days})",
     "Delete the trashes of the result folder older than _DAYS_ days (without a value:\n"
     "{trash-days}; 0 deletes them all). With `--publish` _TARGET_, on the target too."},
    {"--quiet", "", "", OptionKind::Flag, OptionGroup::Run, &Line::quiet, "print only the summary",
     "Print only the summary."},

    {"--refresh", "", "", OptionKind::Flag, OptionGroup::Extensions, &Line::refresh,
     "with --incremental: ask again for the images stored before\n"
     "(If-None-Match, If-Modified-Since); skip no article",
     "With `--incremental`: ask again for each image stored before, naming the ETag\n"
     "and Last-Modified the server gave then; an answer \"not modified\" keeps the\n"
     "file and its name, a changed image is stored under its new name and the\n"
     "articles that use it are written again. No article is skipped."},
    {"--forget", "", "", OptionKind::Flag, OptionGroup::Extensions, &Line::forget,
     "set the run record aside and start a fresh one",
     "Set the run record aside (renamed beside it) and start a fresh one."},
    {"--publish", "", "[TARGET]", OptionKind::OptionalText, OptionGroup::Publish, &Line::publish,
     "publish the stored images to TARGET (a kept target's name,\n"
     "its place from 1, or a URL; without one: the chosen target of\n"
     "the settings); after --run, once it has finished; with\n"
     "--dry-run, list what would be sent and what conflicts",
     "Put the images the runs stored (as the run record of the result folder lists\n"
     "them) onto _TARGET_, in the same layout as below the result folder, so that the\n"
     "new addresses resolve on the site. _TARGET_ is the name of a target kept in the\n"
     "settings (section `发布目标`), its place from 1, or a URL:\n"
     "`sftp://user@host:port/path/`, `ftp://host/path/`, `ftpes://host/path/`\n"
     "(explicit TLS), `ftps://host/path/` (implicit TLS), `dav://host/path/`,\n"
     "`davs://host/path/` (WebDAV), or\n"
     "`s3://bucket/prefix/?endpoint=URL&region=R&style=path|virtual` (or\n"
     "`&provider=aws|r2|minio|oss|cos|qiniu`). A URL may carry `name=`, `public=`\n"
     "(the address the files are seen under), `ca=` and, for SFTP,\n"
     "`fingerprint=SHA256:...`. Without a value, the target chosen in the settings\n"
     "(or the first kept one). With `--run` the publish follows the run; alone it\n"
     "publishes an earlier result (the folder given may be the result folder itself);\n"
     "with `--dry-run` it lists what would be sent and the conflicts, sending\n"
     "nothing. Four files go at once (`--uploads`, a target's `uploads=`). A file\n"
     "published before to the same place with the same bytes (the manifest in the run\n"
     "record, kept per scheme, host, port and path) is not asked for; a file already\n"
     "on the server with the same bytes is left; one with other bytes is a conflict\n"
     "and is never overwritten. Only what the run wrote is sent: a link below the\n"
     "result folder, a record path leaving it, or a size and CRC-32 other than the\n"
     "record's fails that file. An upload counts once a look finds it there. Articles\n"
     "whose new prefix is not the target's `public=` address are held back (the images\n"
     "still go). Secrets never stand in the settings: SFTP uses the SSH agent or\n"
     "_~/.ssh_ keys, S3 `AWS_ACCESS_KEY_ID` and `AWS_SECRET_ACCESS_KEY` or\n"
     "_~/.aws/credentials_, FTP and WebDAV _~/.netrc_; when those give none, the\n"
     "desktop's keyring (the Secret Service) is read for the secret the window kept\n"
     "for the target's place (with an S3 target's `keyid=`); a key or\n"
     "_~/.aws/credentials_ others may read, or a _~/.netrc_ others may write, is\n"
     "refused with the `chmod 600` that fixes it.\n"
     "With `--report` _FILE_, the uploads go to _FILE_`-publish.csv`: target, remote\n"
     "path, outcome, bytes, reason."},
    {"--verify", "", "[TARGET]", OptionKind::OptionalText, OptionGroup::Publish, &Line::verify,
     "check the public copies of what was published to TARGET\n"
     "(as for --publish): fetch each image from the target's public=\n"
     "address and compare its bytes with its content name",
     "Fetch every image published from the result onto _TARGET_ (as for `--publish`)\n"
     "from the target's `public=` address (its custom domain or CDN) and compare its\n"
     "bytes with its content name. A copy that is missing, different (a placeholder,\n"
     "a stale object), not served as an image or unreachable is listed with why; the\n"
     "exit status is then 1. After `--publish` it checks what that publish left."},
    {"--check-remote", "", "", OptionKind::Flag, OptionGroup::Publish, &Line::checkRemote,
     "look on the server even for files published before",
     "Look on the server (a HEAD or a SIZE) even for the files the manifest says were\n"
     "published with the same bytes."},
    {"--accept-new-host-key", "", "", OptionKind::Flag, OptionGroup::Publish,
     &Line::acceptNewHostKey, "trust an SFTP host met for the first time",
     "Trust an SFTP host whose key is not in _~/.ssh/known_hosts_ yet and add it there.\n"
     "Without it such a host is refused, with its key's fingerprint. A key that changed\n"
     "is always refused."},

    {"--help", "-h", "", OptionKind::Flag, OptionGroup::Other, Action::Help, "this text",
     "Show the options."},
    {"--version", "", "", OptionKind::Flag, OptionGroup::Other, Action::Version, "the version",
     "Show the version."},
}};

// The option table's switches of each group come right after the command line's entry named here.
struct Splice {
    job::SwitchGroup group;
    OptionGroup listedIn;
    std::string_view after;
};
constexpr Splice kSplices[] = {{job::SwitchGroup::Extensions, OptionGroup::Extensions, "--quiet"},
                               {job::SwitchGroup::Publish, OptionGroup::Publish, "--publish"}};

OptionEntry SwitchEntry(const OptionDescriptor& d, OptionGroup group) {
    OptionEntry e{d.switchName, "", d.valueName, OptionKind::Text, group, &d, d.help, d.manual};
    if (d.kind == job::OptionKind::Flag) e.kind = OptionKind::Switch;
    if (d.kind == job::OptionKind::Number) {
        e.kind = OptionKind::Number;
        e.low = d.low;
        e.high = d.high;
        e.unit = d.unit;
        e.offValue = d.off;
    }
    return e;
}

const std::vector<OptionEntry>& Options() {
    static const std::vector<OptionEntry> options = [] {
        std::vector<OptionEntry> all;
        for (const OptionEntry& own : kOwnOptions) {
            all.push_back(own);
            for (const Splice& splice : kSplices) {
                if (own.name != splice.after) continue;
                for (const OptionDescriptor& d : job::OptionTable()) {
                    if (d.HasSwitch() && d.group == splice.group)
                        all.push_back(SwitchEntry(d, splice.listedIn));
                }
            }
        }
        return all;
    }();
    return options;
}

struct Group {
    OptionGroup group;
    const char* helpHeading;  // empty: the entries follow a blank line
    const char* manualHeading;
    const char* manualIntro;  // before the entries, in the entries' markup
};
constexpr Group kGroups[] = {
    {OptionGroup::Settings,
     "Settings for this run (the settings file is never written):", "Settings for this run", ""},
    {OptionGroup::Run, "What the run does:", "What the run does", ""},
    {OptionGroup::Extensions,
     "Extension options (unset: as the settings file has them; --no-X turns X off):",
     "Extension options",
     "Each one sets its option for this run; an option not given keeps the value of\n"
     "the settings file, and a `--no-` form turns off what the settings file turns on.\n"
     "Of `--`_x_ and `--no-`_x_, the last one given counts.\n"
     "A dry run takes them as the run does, and lists what that run would fetch and drop."},
    {OptionGroup::Publish, "Publishing to your own site:", "Publishing",
     "The result's images (and, if asked, its articles) put onto the user's own host."},
    {OptionGroup::Other, "", "Other", ""},
};

// After the entries of the manual, in their markup.
constexpr const char* kManualClosing =
    "An option's value can follow it as the next argument or after `=`, as in\n"
    "`--filter=*.md`.";

constexpr std::size_t kHelpColumn = 24;  // where the explanations of --help start

// What a choice's switch says of a value that is none of its choices.
std::string ChoiceError(const OptionDescriptor& option) {
    std::string values;
    for (const job::OptionChoice& choice : option.choices) {
        if (*choice.value) values += (values.empty() ? "" : ", ") + std::string(choice.value);
    }
    return std::string(option.switchName) + " takes one of " + values;
}

bool ParseInt(const std::string& text, int low, int high, int& out) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < low || value > high) return false;
    out = value;
    return true;
}

const OptionDescriptor* OptionOf(const OptionEntry& e) {
    const auto* d = std::get_if<const OptionDescriptor*>(&e.target);
    return d ? *d : nullptr;
}

bool HasNoForm(const OptionEntry& e) {
    const OptionDescriptor* d = OptionOf(e);
    return d && d->HasNoForm();
}

std::string NoForm(const OptionEntry& e) {
    return "--no-" + std::string(e.name.substr(2));
}

// The entry a typed name stands for; negated when it is the --no- form.
const OptionEntry* FindOption(std::string_view name, bool& negated) {
    for (const OptionEntry& e : Options()) {
        if (e.kind == OptionKind::Folder) continue;
        negated = false;
        if (name == e.name || (!e.shortName.empty() && name == e.shortName)) return &e;
        negated = true;
        if (HasNoForm(e) && name == NoForm(e)) return &e;
    }
    return nullptr;
}

// text with the entry's placeholders filled in; range is put between the two bounds.
std::string Fill(std::string_view text, const OptionEntry& e) {
    const std::pair<std::string_view, std::string> fills[] = {
        {"{low}", std::to_string(e.low)},
        {"{high}", std::to_string(e.high)},
        {"{per-site}", std::to_string(web::FetchGroup::kDefaultMaxPerHost)},
        {"{prune-files}", std::to_string(job::kMaxPrunedFiles)},
        {"{trash-days}", std::to_string(job::kTrashDaysKept)}};
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        bool filled = false;
        for (const auto& [key, value] : fills) {
            if (text.substr(i, key.size()) == key) {
                out += value;
                i += key.size();
                filled = true;
                break;
            }
        }
        if (!filled) out += text[i++];
    }
    return out;
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// Plain text with `bold` and _italic_ as roff: minus signs and backslashes escaped, a line that
// would read as a request kept as text.
std::string Roff(std::string_view text) {
    std::string out;
    bool bold = false, italic = false;
    for (const std::string_view line : Lines(text)) {
        if (!line.empty() && (line[0] == '.' || line[0] == '\'')) out += "\\&";
        for (const char c : line) {
            if (c == '`') {
                out += (bold = !bold) ? "\\fB" : "\\fR";
            } else if (c == '_') {
                out += (italic = !italic) ? "\\fI" : "\\fR";
            } else if (c == '-') {
                out += "\\-";
            } else if (c == '\\') {
                out += "\\e";
            } else {
                out += c;
            }
        }
        out += '\n';
    }
    return out;
}

// What is wrong with the trash's options on the line; empty when nothing.
std::string TrashLineError(const CommandLine& line, bool run, int trashActions) {
    if (line.force && !line.prune) return "--force goes with --prune";
    if (trashActions == 0) return {};
    if (trashActions > 1) return "--prune, --restore and --empty-trash cannot be combined";
    const std::string action = line.prune     ? "--prune"
                               : line.restore ? "--restore"
                                              : "--empty-trash";
    if (run || line.retryReport || line.verify)
        return action +
               " is an action of its own: it cannot be given with --run, --retry-failed "
               "or --verify";
    if (line.dryRun && !line.prune) return action + " cannot be given with --dry-run";
    int days = 0;
    if (line.emptyTrash && !line.emptyTrash->empty() &&
        !ParseInt(*line.emptyTrash, 0, job::kMaxTrashDays, days))
        return "--empty-trash takes a whole number of days from 0 to " +
               std::to_string(job::kMaxTrashDays);
    if (line.reportFile && !line.reportFile->ends_with(".csv") &&
        !line.reportFile->ends_with(".CSV"))
        return "the report of " + action + " is CSV: --report FILE must end in .csv";
    return {};
}

}  // namespace

std::span<const OptionEntry> OptionTable() {
    return Options();
}

std::vector<std::string> Spellings(const OptionEntry& entry) {
    std::string first(entry.name);
    if (!entry.valueName.empty()) first += " " + std::string(entry.valueName);
    std::vector<std::string> spellings{first};
    if (HasNoForm(entry)) spellings.push_back(NoForm(entry));
    if (!entry.shortName.empty()) spellings.emplace_back(entry.shortName);
    return spellings;
}

std::string AbsoluteFolder(const std::string& typed) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(typed, ec);
    return text::GbkFromUtf8(ec ? typed : absolute.string());
}

void ApplySwitches(const std::vector<GivenOption>& given, job::ExtensionOptions& options) {
    for (const auto& [option, typed] : given) {
        std::string text = typed;
        if (option->kind == job::OptionKind::Folder && !typed.empty())
            text = AbsoluteFolder(typed);
        else if (option->kind == job::OptionKind::Text)
            text = text::GbkFromUtf8(typed);
        option->Set(options, text);
    }
}

bool WantsConsole(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--", 2) == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    }
    return false;
}

namespace {

// The toolkit's options that take the next word as their value ("-style fusion"); any other
// word that starts with "-" stands alone.
bool TakesToolkitValue(std::string_view option) {
    static constexpr std::array<std::string_view, 17> kWithValue = {
        "-platform",      "-platformpluginpath",
        "-platformtheme", "-plugin",
        "-style",         "-stylesheet",
        "-session",       "-display",
        "-geometry",      "-title",
        "-name",          "-qwindowgeometry",
        "-qwindowicon",   "-qwindowtitle",
        "-qmljsdebugger", "-fn",
        "-font"};
    return std::find(kWithValue.begin(), kWithValue.end(), option) != kWithValue.end();
}

// The folder as a shell would take it back: plain words bare, others in single quotes.
std::string ShellWord(const std::string& arg) {
    bool plain = !arg.empty();
    for (const char c : arg) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80 && !std::isalnum(u) && !std::strchr("_./+,:@%=-", c)) plain = false;
    }
    if (plain) return arg;
    std::string quoted = "'";
    for (const char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

std::optional<std::string> NoDisplayMessage(const std::vector<std::string>& args) {
    std::optional<std::string> folder;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!arg.empty() && arg[0] == '-') {
            if (!TakesToolkitValue(arg) || i + 1 == args.size()) continue;
            // A platform that needs no display (offscreen, vnc, ...) is the toolkit's to open.
            const std::string& value = args[++i];
            if (arg == "-platform" && !value.starts_with("xcb") && !value.starts_with("wayland"))
                return std::nullopt;
            continue;
        }
        if (!folder) folder = arg;
    }
    return "zembrat: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY "
           "is set).\n"
           "To run without the window, use zembrat --run FOLDER instead:\n"
           "    zembrat --run " +
           (folder ? ShellWord(*folder) : std::string("FOLDER")) + "\n";
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    bool run = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (name.rfind("--", 0) == 0) {
            const std::size_t eq = name.find('=');
            if (eq != std::string::npos) {
                inlineValue = name.substr(eq + 1);
                name.resize(eq);
            }
        }
        bool negated = false;
        const OptionEntry* entry = FindOption(name, negated);
        if (!entry && name.rfind("--", 0) != 0) {
            positional.push_back(name);
            continue;
        }
        if (!entry) return {std::nullopt, "unknown option " + name};

        const bool takesValue =
            !negated && (entry->kind == OptionKind::Text || entry->kind == OptionKind::Number);
        std::string value;
        if (entry->kind == OptionKind::OptionalText) {
            std::error_code ec;
            if (inlineValue)
                value = *inlineValue;
            else if (i + 1 < args.size() && !args[i + 1].starts_with("-") &&
                     !std::filesystem::is_directory(args[i + 1], ec))
                value = args[++i];
            line.*std::get<std::optional<std::string> Line::*>(entry->target) = value;
            continue;
        }
        if (!takesValue && inlineValue) return {std::nullopt, name + " takes no value"};
        if (takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return {std::nullopt, name + " needs a value"};
            }
        }
        switch (entry->kind) {
            case OptionKind::Folder:
            case OptionKind::OptionalText:
                break;
            case OptionKind::Flag:
                if (const auto* action = std::get_if<Action>(&entry->target)) {
                    (*action == Action::Run    ? run
                     : *action == Action::Help ? help
                                               : version) = true;
                } else {
                    line.*std::get<bool Line::*>(entry->target) = true;
                }
                break;
            case OptionKind::Switch:
                line.extensions.push_back({OptionOf(*entry), negated ? "0" : "1"});
                break;
            case OptionKind::Text:
                if (const OptionDescriptor* option = OptionOf(*entry)) {
                    if (!negated && !option->Accepts(value))
                        return {std::nullopt, ChoiceError(*option)};
                    line.extensions.push_back({option, value});  // --no-name: empty
                } else {
                    line.*std::get<std::optional<std::string> Line::*>(entry->target) = value;
                }
                break;
            case OptionKind::Number: {
                int number = entry->offValue.value_or(0);
                if (!negated && !ParseInt(value, entry->low, entry->high, number))
                    return {std::nullopt, std::string(entry->name) + " takes a whole number of " +
                                              std::string(entry->unit) + " from " +
                                              std::to_string(entry->low) + " to " +
                                              std::to_string(entry->high)};
                line.extensions.push_back({OptionOf(*entry), std::to_string(number)});
                break;
            }
        }
    }

    if (help) {
        line.mode = CommandLine::Mode::Help;
        return {line, {}};
    }
    if (version) {
        line.mode = CommandLine::Mode::Version;
        return {line, {}};
    }
    if (run && line.dryRun) return {std::nullopt, "--run and --dry-run cannot be combined"};
    // A dry run and a retry are runs of their own kind: --run may be left out for them.
    // A publish alone publishes an earlier result.
    const int trashActions =
        int{line.prune} + int{line.restore.has_value()} + int{line.emptyTrash.has_value()};
    if (!run && !line.dryRun && !line.retryReport && !line.publish && !line.verify &&
        trashActions == 0)
        return {std::nullopt, "nothing to do: give --run"};
    if (const std::string error = TrashLineError(line, run, trashActions); !error.empty())
        return {std::nullopt, error};
    if (positional.size() > 1)
        return {std::nullopt, "more than one article folder: " + positional[1]};
    if (!positional.empty()) line.folder = positional[0];
    if (line.dryRun && line.retryReport)
        return {std::nullopt, "--dry-run and --retry-failed cannot be combined"};
    if (line.dryRun && line.reportFile)
        return {std::nullopt, "a dry run writes nothing: --report cannot be given with it"};
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
    line.run = run;
    return {line, {}};
}

const std::string& HelpText() {
    static const std::string text = [] {
        std::string t =
            "Usage: zembrat                        open the window\n"
            "       zembrat --run [FOLDER] [OPTIONS]\n"
            "       zembrat --dry-run [FOLDER] [OPTIONS]\n"
            "       zembrat --retry-failed REPORT.csv [FOLDER] [OPTIONS]\n"
            "       zembrat --retry-failed [FOLDER] [OPTIONS]     from the run record\n"
            "       zembrat --publish [TARGET] [FOLDER] [OPTIONS]  an earlier result\n"
            "       zembrat --verify [TARGET] [FOLDER] [OPTIONS]   its public copies\n"
            "       zembrat --prune | --restore [STAMP] | --empty-trash [DAYS] [FOLDER]\n"
            "\n"
            "Re-hosts the network images of the articles in FOLDER, without a window: downloads\n"
            "each image into the image folder below FOLDER/转存结果/ and writes the articles "
            "there\n"
            "with their new addresses. The settings are those the window uses (Zembrat.ini).\n";
        for (const Group& group : kGroups) {
            t += "\n";
            if (*group.helpHeading) t += std::string(group.helpHeading) + "\n";
            for (const OptionEntry& e : Options()) {
                if (e.group != group.group) continue;
                std::string label;
                for (const std::string& spelling : Spellings(e))
                    label += (label.empty() ? "" : ", ") + spelling;
                t += "  " + label;
                bool first = true;
                const std::string explanation = Fill(e.help, e);
                for (const std::string_view line : Lines(explanation)) {
                    const std::size_t at = first ? 2 + label.size() : 0;
                    if (first && at >= kHelpColumn) t += "\n";
                    t += std::string(at < kHelpColumn ? kHelpColumn - at : kHelpColumn, ' ');
                    t += std::string(line) + "\n";
                    first = false;
                }
            }
        }
        t += "\n"
             "Exit status: 0 every reference kept was stored and every article written; 1 some\n"
             "image failed, some article was not read or written, or the run record could not be\n"
             "kept (or a prune, a restore or an emptied trash was refused or failed); 2 bad\n"
             "usage, unreadable settings, no run record to prune by, or a run record a newer\n"
             "version wrote (left as it is) where the run or the publish needs one; 130 stopped\n"
             "by Ctrl+C (a second Ctrl+C ends at once).\n";
        return t;
    }();
    return text;
}

std::string ManualOptions() {
    std::string page = ".SH OPTIONS\n";
    for (const Group& group : kGroups) {
        page += ".SS " + std::string(group.manualHeading) + "\n";
        page += Roff(group.manualIntro);
        for (const OptionEntry& e : Options()) {
            if (e.group != group.group) continue;
            std::string tag;
            for (const std::string& spelling : Spellings(e)) {
                if (!tag.empty()) tag += ", ";
                const std::size_t space = spelling.find(' ');
                if (e.kind == OptionKind::Folder)
                    tag += "_" + spelling + "_";
                else if (space == std::string::npos)
                    tag += "`" + spelling + "`";
                else
                    tag +=
                        "`" + spelling.substr(0, space) + "` _" + spelling.substr(space + 1) + "_";
            }
            page += ".TP\n" + Roff(tag) + Roff(Fill(e.manual, e));
        }
    }
    page += ".PP\n" + Roff(kManualClosing);
    return page;
}

}  // namespace zembrat::cli
