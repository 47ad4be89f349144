#include "cli/console_publish.h"

#include <unistd.h>
#include <cstdio>

#include "cli/console_run.h"
#include "platform/files.h"
#include "publish/result_publish.h"
#include "text/codec.h"
#include "text/csv.h"

namespace zembrat::cli {
namespace {

constexpr int kPublished = 0;
constexpr int kNotPublished = 1;

// The publish's first line, then one line per file as it settles (a dry run: what it would do).
class PublishLines : public publish::PublishObserver {
  public:
    explicit PublishLines(bool quiet) : quiet_(quiet) {}
    void ItemsListed(const std::vector<publish::PublishItem>& items,
                     const std::string& targetName) override {
        items_ = &items;
        std::printf("Publishing %zu files to %s\n", items.size(), targetName.c_str());
    }
    void ItemSettled(std::size_t index, const publish::PublishRow& row) override {
        if (quiet_ && row.outcome != publish::PublishOutcome::Conflict &&
            row.outcome != publish::PublishOutcome::Failed)
            return;
        std::printf("  %-13s %s%s%s\n", publish::PublishOutcomeText(row.outcome),
                    (*items_)[index].remotePath.c_str(), row.message.empty() ? "" : ": ",
                    row.message.c_str());
        std::fflush(stdout);
    }

  private:
    const std::vector<publish::PublishItem>* items_ = nullptr;
    bool quiet_;
};

}  // namespace

std::string PublishReportCsv(const std::vector<PublishReportRow>& rows) {
    std::string out(text::kCsvBom);
    out += text::CsvLine({"target", "remote_path", "outcome", "bytes", "reason"});
    for (const PublishReportRow& r : rows)
        out += text::CsvLine({r.target, r.remotePath, r.outcome, std::to_string(r.bytes), r.reason},
                             {true, true, true, false, true});
    return out;
}

std::string PublishReportPath(const std::string& runReport) {
    const std::size_t slash = runReport.find_last_of('/');
    const std::size_t dot = runReport.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? runReport.substr(0, dot) : runReport) + "-publish.csv";
}

int PublishOnConsole(const PublishRequest& request) {
    publish::ResultPublishRequest asked;
    asked.resultFolder = request.resultFolder;
    asked.keptTargets = request.keptTargets;
    asked.target = request.target;
    asked.articles = request.articles;
    asked.credentials.acceptNewHostKey = request.acceptNewHostKey;
    asked.options.askServer = request.askServer;
    asked.options.dryRun = request.dryRun;
    asked.recordSays = [](const std::string& message) {
        std::fprintf(stderr, "zembrat: %s\n", message.c_str());
    };
    PublishLines lines(request.quiet);
    ConsoleEvents events;
    InstallInterruptHandler();
    const publish::ResultPublish published =
        publish::PublishResult(asked, lines, events.StopToken(), [&] { events.Poll(); });
    const bool interrupted = InterruptCount() > 0;
    RestoreInterruptHandler();
    if (published.end == publish::ResultPublishEnd::NoTarget) {
        std::fprintf(stderr, "zembrat: %s\n", published.message.c_str());
        return kNotPublished;
    }
    if (published.end == publish::ResultPublishEnd::RecordFailed) return kNotPublished;
    if (published.end == publish::ResultPublishEnd::NothingToPublish) {
        std::fprintf(stderr,
                     "zembrat: nothing to publish in %s: no run has stored an image there\n",
                     text::Utf8FromGbk(request.resultFolder).c_str());
        return kNotPublished;
    }
    const publish::Target& target = *published.target;
    const std::vector<publish::PublishItem>& items = published.items;
    const publish::PublishSummary& summary = published.summary;
    if (!summary.connected) std::fprintf(stderr, "zembrat: %s\n", summary.message.c_str());

    bool reportOk = true;
    if (request.reportFile) {
        std::vector<PublishReportRow> rows;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const publish::PublishRow& row = summary.rows[i];
            rows.push_back({target.name, items[i].remotePath,
                            publish::PublishOutcomeText(row.outcome), row.bytes, row.message});
        }
        reportOk = platform::WriteFileAtomically(text::GbkFromUtf8(*request.reportFile),
                                                 PublishReportCsv(rows));
        if (!reportOk)
            std::fprintf(stderr, "zembrat: the publish report cannot be written: %s\n",
                         request.reportFile->c_str());
    }
    using publish::PublishOutcome;
    const std::size_t conflicts = summary.Count(PublishOutcome::Conflict);
    const std::size_t failed = summary.Count(PublishOutcome::Failed);
    std::printf(
        "%s %s: %zu uploaded, %zu published before, %zu already there, %zu conflicts, "
        "%zu failed%s\n",
        request.dryRun ? "Dry run of publishing to"
        : interrupted  ? "Stopped publishing to"
                       : "Published to",
        target.name.c_str(),
        summary.Count(request.dryRun ? PublishOutcome::WouldUpload : PublishOutcome::Uploaded),
        summary.Count(PublishOutcome::Published), summary.Count(PublishOutcome::AlreadyThere),
        conflicts, failed, summary.Count(PublishOutcome::Stopped) ? " (the rest stopped)" : "");
    if (!target.publicAddress.empty())
        std::printf("The new domain prefix for this target: %s\n", target.publicAddress.c_str());
    std::fflush(stdout);
    if (interrupted) return InterruptStatus();
    return conflicts == 0 && failed == 0 && summary.connected && reportOk ? kPublished
                                                                          : kNotPublished;
}

}  // namespace zembrat::cli
