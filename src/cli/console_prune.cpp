#include "cli/console_prune.h"

#include <cstdio>
#include <memory>

#include "cli/console_run.h"
#include "cli/prune_mirror.h"
#include "platform/files.h"
#include "text/codec.h"
#include "text/csv.h"

namespace zembrat::cli {
namespace {

constexpr int kDone = 0;
constexpr int kNotDone = 1;
constexpr int kNoRecord = 2;

const char* ActionText(job::TrashAction action) {
    switch (action) {
        case job::TrashAction::Prune:
            return "prune";
        case job::TrashAction::Restore:
            return "restore";
        case job::TrashAction::Empty:
            return "empty";
    }
    return "prune";
}

const char* Plural(std::size_t n) {
    return n == 1 ? "" : "s";
}

std::string Shown(const std::string& gbk) {
    return Printable(text::Utf8FromGbk(gbk));
}

// Where a file is now, below the result folder when it lies there.
std::string NowAt(const job::TrashOutcome& outcome, const std::string& localFile) {
    return localFile.starts_with(outcome.resultFolder)
               ? localFile.substr(outcome.resultFolder.size())
               : localFile;
}

}  // namespace

std::string TrashReportCsv(const job::TrashOutcome& outcome, job::TrashAction action,
                           const std::string& mirrorName) {
    std::string out(text::kCsvBom);
    out += text::CsvLine({"action", "stamp", "path", "now_at", "outcome", "bytes", "reason"});
    const std::vector<bool> texts = {true, true, true, true, true, false, true};
    for (const job::TrashEntry& e : outcome.files)
        out += text::CsvLine({ActionText(action), e.stamp, text::Utf8FromGbk(e.file.path),
                              text::Utf8FromGbk(NowAt(outcome, e.file.localFile)),
                              job::TrashFileEndText(e.end), std::to_string(e.file.size), e.reason},
                             texts);
    const std::string stamp = outcome.stamps.empty() ? std::string() : outcome.stamps.back();
    for (const job::TrashStep& s : outcome.mirrorSteps)
        out += text::CsvLine({ActionText(action), stamp, text::Utf8FromGbk(s.path), mirrorName,
                              job::TrashStepEndText(s.end), "", s.reason},
                             texts);
    return out;
}

int TrashOnConsole(const CommandLine& line, const job::RunInputs& inputs,
                   const std::optional<PublishRequest>& target) {
    job::TrashRequest request;
    request.action = line.prune     ? job::TrashAction::Prune
                     : line.restore ? job::TrashAction::Restore
                                    : job::TrashAction::Empty;
    request.inputs = inputs;
    request.dryRun = line.dryRun;
    request.force = line.force;
    if (line.restore) request.stamp = *line.restore;
    if (line.emptyTrash && !line.emptyTrash->empty()) request.days = std::stoi(*line.emptyTrash);

    // A dry run moves nothing, here or there: the target is not opened.
    std::unique_ptr<job::TrashMirror> mirror;
    std::string mirrorName;
    if (target && !line.dryRun) {
        std::string error;
        mirror = OpenPruneMirror(ResultRequest(*target), error);
        if (!mirror) {
            std::fprintf(stderr, "zembrat: %s\n", Printable(error).c_str());
            return kNotDone;
        }
        mirrorName = mirror->Name();
        request.mirror = mirror.get();
    }

    ConsoleEvents events;
    request.pump = [&] { events.Poll(); };
    InstallInterruptHandler();
    const job::TrashOutcome outcome = job::DoTrash(request, events.StopToken());
    const bool interrupted = InterruptCount() > 0;
    RestoreInterruptHandler();

    // What was listed is shown even when the bounds refused it.
    for (const job::TrashEntry& e : outcome.files) {
        if (line.quiet && e.end != job::TrashFileEnd::Refused && e.end != job::TrashFileEnd::Failed)
            continue;
        const std::string now = NowAt(outcome, e.file.localFile);
        std::printf("  %-9s %s%s%s%s%s\n", job::TrashFileEndText(e.end), Shown(e.file.path).c_str(),
                    e.end == job::TrashFileEnd::Moved ? " -> " : "",
                    e.end == job::TrashFileEnd::Moved ? Shown(now).c_str() : "",
                    e.reason.empty() ? "" : ": ", Printable(e.reason).c_str());
    }
    for (const job::TrashStep& s : outcome.mirrorSteps) {
        if (line.quiet && s.end == job::TrashStepEnd::Done) continue;
        std::printf("  %-9s %s on %s%s%s\n", job::TrashStepEndText(s.end), Shown(s.path).c_str(),
                    Printable(mirrorName).c_str(), s.reason.empty() ? "" : ": ",
                    Printable(s.reason).c_str());
    }
    std::fflush(stdout);
    if (outcome.end != job::TrashEnd::Done) {
        std::fprintf(stderr, "zembrat: %s\n",
                     Printable(job::TrashRefusal(outcome, request)).c_str());
        return outcome.end == job::TrashEnd::RecordMissing ? kNoRecord : kNotDone;
    }

    bool reportOk = true;
    if (line.reportFile) {
        reportOk =
            platform::WriteFileAtomically(text::GbkFromUtf8(*line.reportFile),
                                          TrashReportCsv(outcome, request.action, mirrorName));
        if (!reportOk)
            std::fprintf(stderr, "zembrat: the report cannot be written: %s\n",
                         Printable(*line.reportFile).c_str());
    }

    using End = job::TrashFileEnd;
    const std::string trash = Shown(outcome.trashFolder);
    const std::string stamps = outcome.stamps.empty() ? std::string() : outcome.stamps.back();
    switch (request.action) {
        case job::TrashAction::Prune:
            if (request.dryRun)
                std::printf(
                    "Dry run of the prune: %zu of %zu images unused, %zu in use; nothing "
                    "moved\n",
                    outcome.Count(End::Listed), outcome.images, outcome.used);
            else
                std::printf("%s: %zu of %zu images moved to %s%s, %zu in use, %zu failed\n",
                            interrupted ? "Stopped pruning" : "Pruned", outcome.Count(End::Moved),
                            outcome.images, trash.c_str(), stamps.c_str(), outcome.used,
                            outcome.Count(End::Failed));
            break;
        case job::TrashAction::Restore:
            std::printf("Restored %zu file%s from %s%s, %zu refused, %zu failed\n",
                        outcome.Count(End::Restored), Plural(outcome.Count(End::Restored)),
                        trash.c_str(), stamps.c_str(), outcome.Count(End::Refused),
                        outcome.Count(End::Failed));
            break;
        case job::TrashAction::Empty:
            std::printf("Emptied %zu trash%s older than %d day%s: %zu file%s deleted, %zu failed\n",
                        outcome.stamps.size(), outcome.stamps.size() == 1 ? "" : "es", request.days,
                        Plural(static_cast<std::size_t>(request.days)), outcome.Count(End::Deleted),
                        Plural(outcome.Count(End::Deleted)), outcome.Count(End::Failed));
            break;
    }
    if (mirror) {
        if (!outcome.mirrorError.empty())
            std::fprintf(stderr, "zembrat: %s: %s\n", Printable(mirrorName).c_str(),
                         Printable(outcome.mirrorError).c_str());
        std::printf("On %s: %zu done, %zu skipped, %zu refused, %zu failed\n",
                    Printable(mirrorName).c_str(), outcome.CountMirror(job::TrashStepEnd::Done),
                    outcome.CountMirror(job::TrashStepEnd::Skipped),
                    outcome.CountMirror(job::TrashStepEnd::Refused),
                    outcome.CountMirror(job::TrashStepEnd::Failed));
    }
    std::fflush(stdout);
    if (interrupted) return InterruptStatus();
    const bool allDone = outcome.Count(End::Refused) == 0 && outcome.Count(End::Failed) == 0 &&
                         outcome.CountMirror(job::TrashStepEnd::Refused) == 0 &&
                         outcome.CountMirror(job::TrashStepEnd::Failed) == 0 &&
                         outcome.mirrorError.empty();
    return allDone && reportOk ? kDone : kNotDone;
}

}  // namespace zembrat::cli
