// A publish in the window: one row per file in the status list (column 0 what became of it,
// column 1 where it goes), the progress bar over the files, and the line the completion message
// gets.
#pragma once

#include <functional>
#include <stop_token>
#include <string>
#include <vector>

#include "publish/publish_run.h"
#include "ui/job_window.h"

namespace zembrat::platform {
class EventPoints;
}

namespace zembrat::ui {

// The row caption of a settled file, GBK: "已上传", "此前已发布", "网站上已有", "冲突，未覆盖",
// "上传失败", "已停止" (a dry run's "将上传").
std::string PublishRowText(publish::PublishOutcome outcome);

// Each attempt shows its files afresh.
class PublishRows : public publish::PublishObserver {
  public:
    explicit PublishRows(JobWindow& window) : window_(window) {}
    void ItemsListed(const std::vector<publish::PublishItem>& items,
                     const std::string& targetName) override;
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
    // An SFTP host whose key is not known yet: whether to trust it (the fingerprint is in the
    // text). Asked once per publish.
    std::function<bool(const std::string& question)> trustNewHostKey;
};

// Publishes the result the record knows onto the chosen target, showing each file in the window;
// the text for the completion message (GBK), which names the target and counts what happened.
std::string PublishInWindow(JobWindow& window, platform::EventPoints& events,
                            const WindowPublish& request, std::stop_token stop);

}  // namespace zembrat::ui
