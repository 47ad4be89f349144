// The dialog "发布到网站": the targets the stored images (and, if asked, the articles) are
// published to, each edited in a form of its kind, its secret kept in the desktop's keyring;
// which one a run uses, whether a run publishes when it ends; a test of a target's login and a
// check of its public copies.
#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "ui/publish_rows.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QTreeWidget;

namespace zembrat::ui {

class TargetForm;

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
    // result: the result a check of the public copies looks at (its folder, image folder and
    // article filter) and the keyring; nullptr: none known.
    explicit PublishDialog(const PublishChoices& choices, QWidget* parent = nullptr,
                           const WindowPublish* result = nullptr);

    PublishChoices choices() const;
    // Pressed "立即发布" rather than "确定".
    bool publishNow() const { return publishNow_; }

    // Shows the dialog modally: the choices when OK or "立即发布" was pressed (publishNow tells
    // which), nothing when it was cancelled. A target the form cannot make, or a line that is no
    // target's URL, keeps the dialog open with a message naming it. The typed secrets are kept in
    // the keyring then.
    static std::optional<PublishChoices> Ask(const PublishChoices& current, bool& publishNow,
                                             QWidget* parent = nullptr,
                                             const WindowPublish* result = nullptr);

    // "测试连接" on the chosen row: its words as shown (GBK).
    std::string TestConnection();
    // "检查公开副本" on the chosen row: the summary line as shown (GBK).
    std::string VerifyCopies();

  private:
    struct Row {
        std::string url;     // GBK, as kept
        std::string secret;  // UTF-8, typed in this dialog: for the keyring
        std::string error;   // GBK: why the form makes no URL; empty: it does
    };
    bool Check();
    // Keeps the typed secrets in the keyring; false when one could not be kept (said so).
    bool KeepSecrets();
    void Select(int row);
    void FormEdited();
    void Say(const std::string& gbk);
    std::vector<std::string> Urls() const;  // UTF-8

    std::vector<Row> rows_;
    QListWidget* list_;
    TargetForm* form_;
    QLabel* said_;
    QTreeWidget* copies_;
    QLineEdit* chosen_;
    QCheckBox* afterRun_;
    QCheckBox* articles_;
    std::optional<WindowPublish> result_;
    bool publishNow_ = false;
    bool showing_ = false;  // the form is being filled from a row, not edited
};

}  // namespace zembrat::ui
