// A publish in the window: one row per file in the status list (column 0 what became of it,
// column 1 where it goes), the progress bar over the files, and the line the completion message
// gets.
#pragma once

#include <functional>
#include <stop_token>
#include <string>
#include <vector>

#include "publish/publish_run.h"
#include "publish/secret_files.h"
#include "ui/job_window.h"
#include "ui/publish_words.h"

namespace zembrat::platform {
class EventPoints;
}

namespace zembrat::ui {

class PublishRows : public publish::PublishObserver {
  public:
    explicit PublishRows(JobWindow& window) : window_(window) {}
    void ItemsListed(const std::vector<publish::PublishItem>& items,
                     const publish::Target& target) override;
    void ItemBegins(std::size_t index) override;
    void ItemSettled(std::size_t index, const publish::PublishRow& row) override;

  private:
    JobWindow& window_;
    std::size_t settled_ = 0;
    std::string uploading_;  // "正在发布到 " + the target's name
};

// What a publish asks the window for.
struct WindowPublish {
    std::vector<std::string> targets;  // GBK: the kept target URLs
    std::string chosen;                // GBK: the name or place of the one used; empty: the first
    bool articles = false;
    std::string resultFolder;  // GBK
    std::string newPrefix;     // GBK: the prefix the articles were written with
    int uploads = 4;           // at once (a target's own uploads= comes first)
    // GBK: for a result without a run record, its image folder (below it) and article filter.
    std::string imageFolder, articleFilter;
    // An SFTP host whose key is not known yet: whether to trust it, asked with the question
    // (NewHostKeyQuestion, GBK, naming the fingerprint). Asked once per publish.
    // Asked before any row is marked, so the rows wait for the answer.
    std::function<bool(const std::string& question)> trustNewHostKey;
    // The desktop's keyring (publish::KeyringLookup); empty: none.
    publish::KeyringLookup keyring;
};

// What a publish in the window ends with.
struct WindowPublished {
    std::string line;  // GBK: for the completion message, naming the target and the counts
    // GBK: the target's public address, when the articles were refused because the new prefix
    // they were written with is another; the window offers to set the prefix to it.
    std::string offeredPrefix;
};

// Publishes the result the record knows onto the chosen target, showing each file in the window.
WindowPublished PublishInWindow(JobWindow& window, platform::EventPoints& events,
                                const WindowPublish& request, std::stop_token stop);

}  // namespace zembrat::ui
