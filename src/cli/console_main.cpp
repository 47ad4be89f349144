#include "cli/console_main.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>

#include "cli/command_line.h"
#include "cli/console_prune.h"
#include "cli/console_publish.h"
#include "cli/console_run.h"
#include "config/config_store.h"
#include "job/article_listing.h"
#include "job/extension_options.h"
#include "job/found_source.h"
#include "job/image_names.h"
#include "job/markdown_reader.h"
#include "job/references.h"
#include "job/result_folder.h"
#include "job/retry_plan.h"
#include "job/run.h"
#include "job/run_report.h"
#include "job/settings_table.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "platform/user_account.h"
#include "record/outcome.h"
#include "record/run_record.h"
#include "text/codec.h"
#include "text/gbk.h"
#include "web/web_client.h"

namespace zembrat::cli {
namespace {

using namespace text::literals;

constexpr int kAllDone = 0;
constexpr int kSomethingFailed = 1;
constexpr int kBadUsage = 2;

std::string HomeFolder() {
    const std::string home = platform::HomeFolder();
    return text::GbkFromUtf8(home.empty() ? "/" : home);
}

// A message of the program (GBK) on standard error, its names printed escaped.
void Say(const std::string& gbk) {
    std::fprintf(stderr, "zembrat: %s\n", Printable(text::Utf8FromGbk(gbk)).c_str());
}

int Usage(const std::string& error) {
    std::fprintf(stderr, "zembrat: %s\nTry 'zembrat --help'.\n", Printable(error).c_str());
    return kBadUsage;
}

// A settings file as the store reads it: GBK with CR LF line ends. A file written by hand on
// Linux is often UTF-8 with LF line ends; both are taken.
std::string StoreBytes(std::string bytes) {
    if (job::DetectArticleEncoding(bytes) == job::ArticleEncoding::Utf8) {
        if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
        bytes = text::GbkFromUtf8(bytes);
    }
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 16);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) out += '\r';
        out += bytes[i];
    }
    return out;
}

// The six settings and the extension options from the file, read only: the store reads a copy
// in memory, takes no lock and writes nothing back.
bool ReadSettings(const std::string& path, bool mustExist, job::SettingValues& values,
                  std::string& error) {
    values = job::DefaultSettingValues(HomeFolder());
    if (!platform::PathExists(path)) {
        if (!mustExist) return true;
        error = "the settings file does not exist: " + text::Utf8FromGbk(path);
        return false;
    }
    text::Bytes bytes;
    if (platform::IsFolder(path) || !platform::ReadWholeFile(path, bytes)) {
        error = "the settings file cannot be read: " + text::Utf8FromGbk(path);
        return false;
    }
    const std::string stored = StoreBytes(bytes);
    config::ConfigStore store;
    if (stored == bytes) {
        store.Open(path, config::MemoryFile);
    } else {
        // The store reads files: it is given the converted bytes in a private copy.
        std::string scratch = std::filesystem::temp_directory_path().string() + "/zembrat-XXXXXX";
        const int fd = ::mkstemp(scratch.data());
        if (fd < 0 ||
            ::write(fd, stored.data(), stored.size()) != static_cast<ssize_t>(stored.size())) {
            if (fd >= 0) ::close(fd);
            error = "the settings file cannot be read: " + text::Utf8FromGbk(path);
            return false;
        }
        ::close(fd);
        store.Open(text::GbkFromUtf8(scratch), config::MemoryFile);
        ::unlink(scratch.c_str());
    }
    job::ReadSettingValues(store, values);
    bool known = false;
    for (const job::SettingItem& item : job::SettingItems()) {
        store.SetSection(item.section);
        known = known || store.ReadText(item.key, "\x01") != "\x01";
    }
    if (!known)
        std::fprintf(stderr, "zembrat: warning: no setting found in %s; using the defaults\n",
                     Printable(text::Utf8FromGbk(path)).c_str());
    return true;
}

bool WriteReport(const std::string& file, const std::vector<job::ReportRow>& rows) {
    std::string lower = file;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string bytes =
        lower.ends_with(".json") ? job::JsonReport(rows) : job::CsvReport(rows);
    // A write that fails leaves the earlier report as it was.
    if (!platform::WriteFileAtomically(text::GbkFromUtf8(file), bytes)) {
        std::fprintf(stderr, "zembrat: the report cannot be written: %s\n",
                     Printable(file).c_str());
        return false;
    }
    return true;
}

// Runs the job on the console: the progress as it goes, then the report and the summary.
// fromOriginal: a retry's articles (UTF-8) whose earlier result was missing, so that the article
// itself was rewritten; the report and the summary say so.
int RunJob(const CommandLine& line, job::RunInputs inputs,
           const std::set<std::string>& fromOriginal = {}) {
    ConsoleEvents events;
    web::WebClient web;
    web.CreateRequest();
    web.SetEventPoints(events);

    ConsoleProgress progress(line.quiet, ::isatty(STDERR_FILENO) == 1, events);
    progress.ShowArticlesBelow(job::ShownBelow(inputs));
    job::ReportCollector report(job::ShownBelow(inputs), !inputs.options.hotlink);
    job::RunObservers observers;
    observers.Add(progress);
    observers.Add(report);

    InstallInterruptHandler();
    const job::RunResult result = job::Run(inputs, web, events, observers);
    const bool interrupted = InterruptCount() > 0;
    RestoreInterruptHandler();
    progress.EndLine();
    if (!result.counts.recordMessage.empty()) Say(result.counts.recordMessage);
    if (result.counts.recordLost)
        Say("the run record was not kept: the next run will redo the work of this one");

    if (result.end != job::RunEnd::Finished) {
        Say(text::GbkFromUtf8(job::RunEndText(result, inputs.settings)));
        return result.end == job::RunEnd::RecordFromNewerVersion ? kNewerRecordStatus
                                                                 : kSomethingFailed;
    }
    const std::size_t total = result.articles.size();
    const job::RunCounts& counts = result.counts;
    // The report's rows, made only when something reads them.
    std::vector<job::ReportRow> rows;
    if (line.reportFile || inputs.options.writeReport || counts.imagesFailed > 0 ||
        !fromOriginal.empty())
        rows = report.rows();
    for (job::ReportRow& row : rows) {
        if (fromOriginal.contains(row.article))
            row.articleEnd += std::string(" (") + job::kFromOriginal + ")";
    }
    bool reportOk = true;
    if (line.reportFile) reportOk = WriteReport(*line.reportFile, rows);
    if (inputs.options.writeReport &&
        !platform::WriteFileBeneath(result.resultFolder, job::ReportFileName(),
                                    job::CsvReport(rows)))
        reportOk = false;
    // The summary, then why images failed and which articles came from their originals.
    std::string more;
    if (const std::string failed = job::FailureBreakdown(rows); !failed.empty())
        more += "; failed: " + failed;
    if (!fromOriginal.empty())
        more += "; " + std::to_string(fromOriginal.size()) + " article" +
                (fromOriginal.size() == 1 ? "" : "s") + " with the " + job::kFromOriginal;
    if (counts.lookAlikes > 0)
        more += "; " + std::to_string(counts.lookAlikes) + " image" +
                (counts.lookAlikes == 1 ? "" : "s") +
                " with the same bytes as another address of the host, possibly hotlink "
                "placeholders: --hotlink asks for them again";
    if (counts.articlesSkipped > 0)
        more += "; " + std::to_string(counts.articlesSkipped) + " unchanged article" +
                (counts.articlesSkipped == 1 ? "" : "s") + " skipped";
    if (const std::optional<std::int64_t> saved = job::BytesSaved(rows))
        more += "; " + std::to_string(*saved) + " bytes saved by the image options";
    // New files, files already there, failures and drops each counted apart.
    const std::string unreached =
        report.notReached() > 0 ? ", " + std::to_string(report.notReached()) + " not reached" : "";
    std::printf(
        "%s: %zu of %zu articles written, %zu images stored, %zu reused, %zu failed, %zu "
        "dropped%s%s\n"
        "Result folder: %s\n",
        interrupted ? "Stopped" : "Done", counts.articlesWritten, total, counts.imagesStored,
        counts.imagesReused, counts.imagesFailed, report.dropped(), unreached.c_str(), more.c_str(),
        Printable(text::Utf8FromGbk(result.resultFolder)).c_str());
    std::fflush(stdout);
    if (interrupted) return InterruptStatus();
    const bool allDone =
        counts.articlesWritten + counts.articlesSkipped == total && counts.imagesFailed == 0;
    return allDone && reportOk && !counts.recordLost ? kAllDone : kSomethingFailed;
}

// What the run with the same inputs would fetch and drop, decided as the run decides it; under
// the incremental option also what it would reuse and which articles it would skip.
int DryRun(const job::RunInputs& inputs) {
    platform::EventPoints quiet;
    const std::string below = job::ShownBelow(inputs);
    std::size_t downloads = 0, dropped = 0, unreadable = 0, reused = 0, unchanged = 0;
    const job::RunResult preview =
        job::PreviewRun(inputs, quiet, [&](const job::PreviewedArticle& article) {
            const std::string& path = article.path;
            std::printf(
                "%s\n",
                Printable(text::Utf8FromGbk(below.empty() ? path : job::ArticleBelow(below, path)))
                    .c_str());
            if (article.unreadable) {
                std::printf("  unreadable article\n");
                ++unreadable;
                return;
            }
            if (article.unchanged) {
                std::printf("  unchanged: skipped\n");
                ++unchanged;
                return;
            }
            // Addresses are printed in the article's own encoding.
            const auto shown = [&](const std::string& s) {
                return article.utf8 ? s : text::Utf8FromGbk(s);
            };
            for (std::size_t k = 0; k < article.verdicts.size(); ++k) {
                const job::RefVerdict& v = article.verdicts[k];
                if (v.decision == job::RefDecision::Download) {
                    ++(article.reused[k] ? reused : downloads);
                    std::printf("  %s  %s\n", article.reused[k] ? "reused  " : "download",
                                Printable(shown(v.address)).c_str());
                } else {
                    ++dropped;
                    std::printf("  dropped   %s: %s\n",
                                Printable(text::Utf8FromGbk(job::DecisionText(v))).c_str(),
                                Printable(shown(v.sourceValue)).c_str());
                }
            }
        });
    if (preview.end != job::RunEnd::Finished) {
        Say(text::GbkFromUtf8(job::RunEndText(preview, inputs.settings)));
        return kSomethingFailed;
    }
    if (!preview.counts.recordMessage.empty()) Say(preview.counts.recordMessage);
    std::string more;
    if (inputs.options.incremental)
        more = ", " + std::to_string(reused) + " reused, " + std::to_string(unchanged) +
               " unchanged article" + (unchanged == 1 ? "" : "s") + " skipped";
    std::printf("Dry run: %zu articles, %zu images to download, %zu references dropped%s\n",
                preview.articles.size(), downloads, dropped, more.c_str());
    return unreadable ? kSomethingFailed : kAllDone;
}

int RetryFailed(const CommandLine& line, job::RunInputs inputs) {
    const std::string folder = job::PlainFolder(inputs.settings.articleFolder);
    const std::string resultFolder = job::ResultFolder(folder, inputs.options);
    std::vector<job::ReportRow> rows;
    std::string error;
    const std::string& report = *line.retryReport;
    if (report.empty() || report.ends_with(record::RunRecord::FileName())) {
        if (!job::RecordRows(folder, resultFolder, rows, error)) return Usage(error);
    } else {
        std::ifstream in(std::filesystem::path(report), std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        if (!in) return Usage("the report cannot be read: " + report);
        if (!job::ParseCsvReport(content.str(), rows, error)) return Usage(report + ": " + error);
    }
    job::Retry retry;
    if (!job::PlanRetry(std::move(rows), inputs, retry, error))
        return Usage(*line.retryReport + ", " + error);
    if (retry.httpsLeft)
        std::fprintf(stderr,
                     "zembrat: %zu image%s with an https:// address not retried: --https "
                     "retries them\n",
                     retry.httpsLeft, retry.httpsLeft == 1 ? "" : "s");
    if (!retry.plan) {
        std::printf("Nothing to retry: the report lists no failed or unreached image\n");
        return retry.httpsLeft ? kSomethingFailed : kAllDone;
    }
    inputs.plan = std::move(retry.plan);
    return RunJob(line, std::move(inputs), retry.fromOriginal);
}

// What a publish after the run, a check of its copies and a prune's mirror are asked (the
// target still to be set).
PublishRequest PublishRequestOf(const CommandLine& line, const job::RunInputs& inputs,
                                const publish::KeyringLookup& keyring) {
    PublishRequest request;
    request.resultFolder = job::ResultFolder(inputs.settings.articleFolder, inputs.options);
    request.namedFolder = inputs.settings.articleFolder;
    request.newPrefix = inputs.settings.newPrefix;
    request.imageFolder = job::ImageFolderBelow(inputs.settings.imageFolder);
    request.articleFilter = inputs.settings.articleFilter;
    for (const std::string& url : inputs.options.publishTargets)
        request.keptTargets.push_back(text::Utf8FromGbk(url));
    request.articles = inputs.options.publishArticles;
    request.askServer = line.checkRemote;
    request.acceptNewHostKey = line.acceptNewHostKey;
    request.dryRun = line.dryRun;
    request.quiet = line.quiet;
    request.uploads = inputs.options.publishUploads;
    request.keyring = keyring;
    if (line.reportFile) request.reportFile = PublishReportPath(*line.reportFile);
    return request;
}

// The target typed, or the chosen one of the settings when none was.
std::string TargetOf(const std::optional<std::string>& given, const job::RunInputs& inputs) {
    return !given || given->empty() ? text::Utf8FromGbk(inputs.options.publishTarget) : *given;
}

}  // namespace

int Main(int argc, char** argv, const std::function<std::string()>& defaultSettingsPath,
         bool keepRecord, const publish::KeyringLookup& keyring) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const ParseResult parsed = ParseCommandLine(args);
    if (!parsed.line) return Usage(parsed.error);
    const CommandLine& line = *parsed.line;
    if (line.mode == CommandLine::Mode::Help) {
        std::fputs(HelpText().c_str(), stdout);
        return kAllDone;
    }
    if (line.mode == CommandLine::Mode::Version) {
        std::printf("zembrat %s\n", ZEMBRAT_VERSION);
        return kAllDone;
    }

    job::SettingValues values;
    std::string error;
    const std::string settingsPath =
        line.settingsFile ? text::GbkFromUtf8(*line.settingsFile) : defaultSettingsPath();
    if (!ReadSettings(settingsPath, line.settingsFile.has_value(), values, error))
        return Usage(error);
    ApplySwitches(line.extensions, values.options);
    job::JobSettings& settings = values.settings;
    auto apply = [&](const std::optional<std::string>& typed, std::string& setting) {
        if (typed) setting = text::GbkFromUtf8(*typed);
    };
    apply(line.filter, settings.articleFilter);
    apply(line.images, settings.imageFolder);
    apply(line.oldPrefix, settings.oldPrefix);
    apply(line.newPrefix, settings.newPrefix);
    apply(line.exclude, settings.excludedRanges);
    if (line.folder) settings.articleFolder = AbsoluteFolder(*line.folder);

    job::RunInputs inputs;
    inputs.settings = settings;
    inputs.options = values.options;
    inputs.refresh = line.refresh;
    inputs.forget = line.forget;
    // A publish after the run reads the record of what it stored.
    inputs.record = !keepRecord    ? job::RecordUse::Never
                    : line.publish ? job::RecordUse::Needed
                                   : job::RecordUse::IfThere;
    if (line.refresh && !inputs.options.incremental)
        std::fprintf(stderr, "zembrat: warning: --refresh acts only with --incremental\n");
    // A publish follows the run (or the dry run, as a look of its own) on the result folder,
    // and a check of the public copies follows the publish.
    const auto publish = [&](int status) {
        if ((!line.publish && !line.verify) || InterruptCount() > 0) return status;
        PublishRequest request = PublishRequestOf(line, inputs, keyring);
        const auto targetOf = [&](const std::optional<std::string>& given) {
            return TargetOf(given, inputs);
        };
        int published = kAllDone;
        if (line.publish) {
            request.target = targetOf(line.publish);
            published = PublishOnConsole(request);
        }
        if (line.verify && InterruptCount() == 0) {
            request.target = line.verify->empty() && line.publish ? targetOf(line.publish)
                                                                  : targetOf(line.verify);
            const int verified = VerifyOnConsole(request);
            if (published == kAllDone) published = verified;
        }
        return status != kAllDone ? status : published;
    };
    // A prune, a restore or an emptied trash is an action of its own; a target named with it is
    // where it is repeated, not a publish.
    if (line.prune || line.restore || line.emptyTrash) {
        std::optional<PublishRequest> mirror;
        if (line.publish) {
            mirror = PublishRequestOf(line, inputs, keyring);
            mirror->target = TargetOf(line.publish, inputs);
        }
        return TrashOnConsole(line, inputs, mirror);
    }
    // A dry run of a publish alone looks at the target only: no download's dry run first.
    if (line.dryRun) return publish(line.publish && !line.run ? kAllDone : DryRun(inputs));
    if (line.retryReport) return publish(RetryFailed(line, inputs));
    if (!line.run) return publish(kAllDone);
    return publish(RunJob(line, inputs));
}

}  // namespace zembrat::cli
