// The dialog "发布到网站": the targets the stored images (and, if asked, the articles) are
// published to, which one a run uses, and whether a run publishes when it ends.
#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

namespace zembrat::ui {

// What the dialog edits; texts in GBK.
struct PublishChoices {
    std::vector<std::string> targets;  // one target URL each
    std::string chosen;                // the name (or place) of the target a run uses; empty: first
    bool afterRun = false;             // "运行后发布"
    bool articles = false;             // "同时发布文章"

    friend bool operator==(const PublishChoices&, const PublishChoices&) = default;
};

class PublishDialog : public QDialog {
  public:
    explicit PublishDialog(const PublishChoices& choices, QWidget* parent = nullptr);

    PublishChoices choices() const;
    // Pressed "立即发布" rather than "确定".
    bool publishNow() const { return publishNow_; }

    // Shows the dialog modally: the choices when OK or "立即发布" was pressed (publishNow tells
    // which), nothing when it was cancelled. A line that is no target's URL keeps the dialog open
    // with a message naming it.
    static std::optional<PublishChoices> Ask(const PublishChoices& current, bool& publishNow,
                                             QWidget* parent = nullptr);

  private:
    bool Check();

    QPlainTextEdit* targets_;
    QLineEdit* chosen_;
    QCheckBox* afterRun_;
    QCheckBox* articles_;
    bool publishNow_ = false;
};

}  // namespace zembrat::ui
