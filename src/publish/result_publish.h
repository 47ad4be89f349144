// One publish of a result folder, as both front ends ask for it: the target found among the kept
// ones, the run record opened, its files listed, the record's manifest and the publish itself
// (made once more, trusting the host's key, when an SFTP host met for the first time is trusted).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "publish/publish_run.h"
#include "publish/secret_files.h"

namespace zembrat::record {
class RunRecord;
}

namespace zembrat::publish {

struct ResultPublishRequest {
    std::string resultFolder;  // GBK
    // GBK: the folder the user named (the article folder, as a rule). Taken as the result folder
    // when it holds a run's result (a run record, or the image folder) and resultFolder holds none:
    // the user named the result itself.
    std::string namedFolder;
    // GBK: the new prefix the run wrote the articles' image addresses with. When the target has a
    // public address and it is not where they point, the articles are not published (the images
    // are); empty: not checked.
    std::string newPrefix;
    // GBK: where a result without a run record has its images (below the result folder) and which
    // of its files are articles: a publish then takes its files (FolderItems).
    std::string imageFolder;
    std::string articleFilter;
    std::vector<std::string> keptTargets;  // UTF-8 target URLs of the settings file
    std::string target;     // UTF-8: a kept target's name or place, or a URL; empty: the first kept
    bool articles = false;  // the written articles too
    Credentials credentials;
    PublishOptions options;
    // An SFTP host whose key is not known yet: whether to trust the key of that fingerprint
    // ("SHA256:..."), and publish again. Asked once; empty: never asked.
    std::function<bool(const std::string& fingerprint)> trustNewHostKey;
    // Told what opening the record had to say (UTF-8), when it said something, before anything
    // is published.
    std::function<void(const std::string& message)> recordSays;
    // The desktop's keyring: the secret kept for a target's place (TargetPlace), nullopt when
    // none is kept or no keyring answers; asked only when the environment and the credential
    // files give no secret (KeyringPassword). Empty: no keyring.
    KeyringLookup keyring;
};

enum class ResultPublishEnd {
    NoTarget,          // the target was not found (message says why)
    RecordFailed,      // the run record could not be opened (recordMessage says why)
    RecordNewer,       // a newer version wrote the run record: left as it is (recordMessage)
    NothingToPublish,  // no run has stored an image there
    Published,         // summary tells what became of each item
};

struct ResultPublish {
    ResultPublishEnd end = ResultPublishEnd::NoTarget;
    std::string message;                  // NoTarget: why, UTF-8
    std::string recordMessage;            // what opening the record had to say, UTF-8; may be empty
    std::int64_t newerRecordVersion = 0;  // RecordNewer: the version the record is written in
    std::string resultFolder;             // GBK: the result folder published
    bool fromFiles = false;               // its record knew no stored image: its files were taken
    // UTF-8: why the articles were left out (the prefix and the public address differ), naming
    // both; empty when they were published or not asked for.
    std::string articlesRefused;
    std::optional<Target> target;  // once found
    std::vector<PublishItem> items;
    PublishSummary summary;
};

// What a publish and a check of its copies start from: the target found (NoTarget when not), the
// result folder chosen and its record opened into record (RecordFailed when not); true when both
// were, result's end then still to be set.
bool OpenResult(const ResultPublishRequest& request, record::RunRecord& record,
                ResultPublish& result);

// Publishes the result request.resultFolder's record knows; observer hears each attempt from its
// ItemsListed on, pump and stop as for Publish.
ResultPublish PublishResult(const ResultPublishRequest& request, PublishObserver& observer,
                            std::stop_token stop, const std::function<void()>& pump = {});

}  // namespace zembrat::publish
