// Publishing on the console: a result's stored images (and, if asked, its articles) put onto a
// target, one line per file, a summary, and the publish report.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "publish/result_publish.h"
#include "publish/secret_files.h"

namespace zembrat::cli {

// The exit status of a publish or a run that needs the run record when the one there was written
// by a newer version of the program (and left as it is).
inline constexpr int kNewerRecordStatus = 2;

struct PublishRequest {
    std::string resultFolder;   // GBK
    std::string namedFolder;    // GBK: the folder named (see ResultPublishRequest)
    std::string newPrefix;      // GBK: the prefix the articles were written with
    std::string imageFolder;    // GBK, below the result folder (for a result without a record)
    std::string articleFilter;  // GBK (likewise)
    std::string target;         // UTF-8: a kept target's name or place, or a URL
    std::vector<std::string> keptTargets;  // UTF-8 target URLs of the settings file
    bool articles = false;                 // the written articles too
    bool askServer = false;                // look on the server even for what was published
    bool acceptNewHostKey = false;
    bool dryRun = false;
    bool quiet = false;
    int uploads = 4;  // at once (a target's own uploads= comes first); also the fetches at once
    std::optional<std::string> reportFile;  // UTF-8 path for the publish report (.csv)
    // The desktop's keyring, read after the environment and the credential files; empty: none.
    publish::KeyringLookup keyring;
};

// What a publish, a check of its copies and a prune's mirror are asked, from the console's
// request.
publish::ResultPublishRequest ResultRequest(const PublishRequest& request);

// The publish report's rows as CSV: target, remote_path, outcome, bytes, reason.
struct PublishReportRow {
    std::string target, remotePath, outcome;
    std::uint64_t bytes = 0;
    std::string reason;
};
std::string PublishReportCsv(const std::vector<PublishReportRow>& rows);

// The report file beside a run report: "run.csv" gives "run-publish.csv".
std::string PublishReportPath(const std::string& runReport);

// Checks the public copies of what was published from the result onto the target (the request's
// articles, askServer and dryRun do not count): one line per copy that is not the same, a
// summary; the exit status: 0 when every copy is the same, 1 otherwise (or when there is nothing
// to check), 130/143 after an interrupt.
int VerifyOnConsole(const PublishRequest& request);

// Publishes; the exit status: 0 when every file is on the target, 1 when something failed or
// conflicted (or nothing could be published), kNewerRecordStatus for a newer version's record,
// 130/143 after an interrupt.
int PublishOnConsole(const PublishRequest& request);

}  // namespace zembrat::cli
