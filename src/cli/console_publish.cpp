#include "cli/console_publish.h"

#include <unistd.h>
#include <cstdio>

#include "cli/console_run.h"
#include "job/extension_options.h"
#include "platform/files.h"
#include "publish/public_copies.h"
#include "publish/result_publish.h"
#include "text/codec.h"
#include "text/csv.h"

namespace zembrat::cli {
namespace {

// The option's bound is the publisher's own.
static_assert(job::ExtensionOptions::kMaxUploadsAtOnce == publish::kMaxUploads);

constexpr int kPublished = 0;
constexpr int kNotPublished = 1;

// The publish's first line, then one line per file as it settles (a dry run: what it would do).
class PublishLines : public publish::PublishObserver {
  public:
    explicit PublishLines(bool quiet) : quiet_(quiet) {}
    void ItemsListed(const std::vector<publish::PublishItem>& items,
                     const publish::Target& target) override {
        items_ = &items;
        std::printf("Publishing %zu files to %s\n", items.size(), target.name.c_str());
    }
    void ItemSettled(std::size_t index, const publish::PublishRow& row) override {
        if (quiet_ && row.outcome != publish::PublishOutcome::Conflict &&
            row.outcome != publish::PublishOutcome::Failed)
            return;
        // The refused login is told once, not with every file it left unsent.
        const bool told = !row.message.empty() && row.message == loginRefused_;
        std::printf("  %-13s %s%s%s\n", publish::PublishOutcomeText(row.outcome),
                    (*items_)[index].remotePath.c_str(), row.message.empty() || told ? "" : ": ",
                    told ? "" : row.message.c_str());
        std::fflush(stdout);
    }
    void LoginRefused(const publish::PublishSummary& summary) override {
        loginRefused_ = summary.message;
        std::fprintf(stderr, "zembrat: %s%s\n", summary.message.c_str(),
                     summary.hostKeyUnknown
                         ? ".\nzembrat: to trust this key and publish, run again with "
                           "--accept-new-host-key"
                         : "");
    }

  private:
    const std::vector<publish::PublishItem>* items_ = nullptr;
    bool quiet_;
    std::string loginRefused_;
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

publish::ResultPublishRequest ResultRequest(const PublishRequest& request) {
    publish::ResultPublishRequest asked;
    asked.resultFolder = request.resultFolder;
    asked.namedFolder = request.namedFolder;
    asked.newPrefix = request.newPrefix;
    asked.imageFolder = request.imageFolder;
    asked.articleFilter = request.articleFilter;
    asked.keptTargets = request.keptTargets;
    asked.target = request.target;
    asked.articles = request.articles;
    asked.credentials.acceptNewHostKey = request.acceptNewHostKey;
    asked.keyring = request.keyring;
    asked.options.askServer = request.askServer;
    asked.options.dryRun = request.dryRun;
    asked.options.atOnce = request.uploads;
    asked.recordSays = [](const std::string& message) {
        std::fprintf(stderr, "zembrat: %s\n", message.c_str());
    };
    return asked;
}

int VerifyOnConsole(const PublishRequest& request) {
    ConsoleEvents events;
    InstallInterruptHandler();
    const publish::PublicCopies copies = publish::CheckPublicCopies(
        ResultRequest(request), request.uploads,
        [&](const publish::CopyCheck& copy) {
            events.Poll();
            if (copy.outcome == publish::CopyOutcome::Same && request.quiet) return;
            std::printf("  %-13s %s%s%s\n", publish::CopyOutcomeText(copy.outcome),
                        copy.address.c_str(), copy.why.empty() ? "" : ": ", copy.why.c_str());
            std::fflush(stdout);
        },
        events.StopToken());
    const bool interrupted = InterruptCount() > 0;
    RestoreInterruptHandler();
    if (copies.end != publish::ResultPublishEnd::Published) {
        if (!copies.message.empty())
            std::fprintf(stderr, "zembrat: %s\n", copies.message.c_str());
        else if (copies.end == publish::ResultPublishEnd::NothingToPublish)
            std::fprintf(stderr, "zembrat: nothing was published to %s from %s\n",
                         copies.target->name.c_str(),
                         text::Utf8FromGbk(request.resultFolder).c_str());
        return copies.end == publish::ResultPublishEnd::RecordNewer ? kNewerRecordStatus
                                                                    : kNotPublished;
    }
    using publish::CopyOutcome;
    const std::size_t same = copies.Count(CopyOutcome::Same);
    std::printf(
        "Checked %zu public copies on %s: %zu the same, %zu missing, %zu different, %zu not "
        "images, %zu unreachable\n",
        copies.copies.size(), copies.target->name.c_str(), same, copies.Count(CopyOutcome::Missing),
        copies.Count(CopyOutcome::Different), copies.Count(CopyOutcome::NotAnImage),
        copies.Count(CopyOutcome::Unreachable));
    std::fflush(stdout);
    if (interrupted) return InterruptStatus();
    return same == copies.copies.size() ? kPublished : kNotPublished;
}

int PublishOnConsole(const PublishRequest& request) {
    const publish::ResultPublishRequest asked = ResultRequest(request);
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
    if (published.end == publish::ResultPublishEnd::RecordNewer) return kNewerRecordStatus;
    if (published.end == publish::ResultPublishEnd::NothingToPublish) {
        std::fprintf(stderr,
                     "zembrat: nothing to publish in %s: no run has stored an image there\n",
                     text::Utf8FromGbk(published.resultFolder).c_str());
        return kNotPublished;
    }
    if (published.fromFiles)
        std::fprintf(stderr,
                     "zembrat: no run record of %s knows a stored image: its files are "
                     "published, and the record keeps what was\n",
                     text::Utf8FromGbk(published.resultFolder).c_str());
    if (!published.articlesRefused.empty())
        std::fprintf(stderr, "zembrat: %s\n", published.articlesRefused.c_str());
    const publish::Target& target = *published.target;
    const std::vector<publish::PublishItem>& items = published.items;
    const publish::PublishSummary& summary = published.summary;

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
        "%s %s: %zu %s, %zu published before, %zu already there, %zu conflicts, "
        "%zu failed%s\n",
        request.dryRun ? "Dry run of publishing to"
        : interrupted  ? "Stopped publishing to"
                       : "Published to",
        target.name.c_str(),
        summary.Count(request.dryRun ? PublishOutcome::WouldUpload : PublishOutcome::Uploaded),
        request.dryRun ? "would be uploaded" : "uploaded", summary.Count(PublishOutcome::Published),
        summary.Count(PublishOutcome::AlreadyThere), conflicts, failed,
        summary.Count(PublishOutcome::Stopped) ? " (the rest stopped)" : "");
    if (!target.publicAddress.empty())
        std::printf("The new domain prefix for this target: %s\n", target.publicAddress.c_str());
    std::fflush(stdout);
    if (interrupted) return InterruptStatus();
    return conflicts == 0 && failed == 0 && summary.connected && reportOk &&
                   published.articlesRefused.empty()
               ? kPublished
               : kNotPublished;
}

}  // namespace zembrat::cli
