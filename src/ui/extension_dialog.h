// The small modal dialog in which the user turns the extension options on and off.
#pragma once

#include <QDialog>
#include <optional>

#include "job/extension_options.h"
#include "ui/publish_dialog.h"

class QCheckBox;
class QPushButton;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

namespace zembrat::ui {

class ExtensionDialog : public QDialog {
  public:
    // The dialog showing options; nothing is kept until OK is pressed.
    explicit ExtensionDialog(const job::ExtensionOptions& options, QWidget* parent = nullptr);

    // The options as the controls show them now. An empty time-out box gives 0 (the usual
    // waits); a line of the rules or placeholders that is not of their form is left out.
    job::ExtensionOptions options() const;

    // Whether the next run is to ask again for the images stored before (the button pressed
    // down, under the incremental option).
    bool refreshNext() const;

    // Shows the dialog modally over parent: the options set when OK was pressed, nothing when
    // the dialog was cancelled or closed. refreshNext, when given, takes refreshNext() on OK.
    static std::optional<job::ExtensionOptions> Ask(const job::ExtensionOptions& current,
                                                    QWidget* parent = nullptr,
                                                    bool* refreshNext = nullptr,
                                                    bool* publishNow = nullptr);

  private:
    QCheckBox* https_;
    QCheckBox* lazyImages_;
    QCheckBox* htmlRules_;
    QCheckBox* checkContent_;
    QCheckBox* markdown_;
    QLineEdit* timeout_;
    QSpinBox* downloadsAtOnce_;
    QCheckBox* writeReport_;
    QCheckBox* hotlink_;
    QCheckBox* recursive_;
    QLineEdit* outputFolder_;  // empty: the result folder inside the article folder
    QCheckBox* incremental_;
    QPushButton* refresh_;
    PublishChoices publish_;        // edited in the publish dialog
    bool publishNow_ = false;       // that dialog's "立即发布" closed this one
    QPlainTextEdit* siteRules_;     // one rule a line, "host|Referer|User-Agent|Cookie"
    QPlainTextEdit* placeholders_;  // one mark a line, "crc:size"
};

}  // namespace zembrat::ui
