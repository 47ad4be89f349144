// One publish of a result folder, as both front ends ask for it: the target found among the kept
// ones, the run record opened, its files listed, the record's manifest and the publish itself
// (made once more, trusting the host's key, when an SFTP host met for the first time is trusted).
#pragma once

#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "publish/publish_run.h"

namespace zembrat::publish {

struct ResultPublishRequest {
    std::string resultFolder;              // GBK
    std::vector<std::string> keptTargets;  // UTF-8 target URLs of the settings file
    std::string target;     // UTF-8: a kept target's name or place, or a URL; empty: the first kept
    bool articles = false;  // the written articles too
    Credentials credentials;
    PublishOptions options;
    // An SFTP host whose key is not known yet (the login's message, UTF-8, names its
    // fingerprint): whether to trust it and publish again. Asked once; empty: never asked.
    std::function<bool(const std::string& message)> trustNewHostKey;
    // Told what opening the record had to say (UTF-8), when it said something, before anything
    // is published.
    std::function<void(const std::string& message)> recordSays;
};

enum class ResultPublishEnd {
    NoTarget,          // the target was not found (message says why)
    RecordFailed,      // the run record could not be opened (recordMessage says why)
    NothingToPublish,  // no run has stored an image there
    Published,         // summary tells what became of each item
};

struct ResultPublish {
    ResultPublishEnd end = ResultPublishEnd::NoTarget;
    std::string message;           // NoTarget: why, UTF-8
    std::string recordMessage;     // what opening the record had to say, UTF-8; may be empty
    std::optional<Target> target;  // once found
    std::vector<PublishItem> items;
    PublishSummary summary;
};

// Publishes the result request.resultFolder's record knows; observer hears each attempt from its
// ItemsListed on, pump and stop as for Publish.
ResultPublish PublishResult(const ResultPublishRequest& request, PublishObserver& observer,
                            std::stop_token stop, const std::function<void()>& pump = {});

}  // namespace zembrat::publish
