// The small modal dialog in which the user turns the extension options on and off.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <vector>

#include "job/extension_options.h"
#include "job/run.h"
#include "ui/publish_dialog.h"

class QCheckBox;
class QPushButton;
class QPlainTextEdit;
class QHBoxLayout;
class QVBoxLayout;

namespace zembrat::job {
struct OptionDescriptor;
}

namespace zembrat::ui {

class ExtensionDialog : public QDialog {
  public:
    // The dialog showing options; nothing is kept until OK is pressed. shownSettings, when
    // given, gives the six settings the window shows: the prune's button works on their result
    // folder, with the options the dialog shows.
    explicit ExtensionDialog(const job::ExtensionOptions& options, QWidget* parent = nullptr,
                             std::function<job::JobSettings()> shownSettings = {});

    // The options as the controls show them now. An empty time-out box gives 0 (the usual
    // waits); a line of the rules or placeholders that is not of their form is left out.
    job::ExtensionOptions options() const;

    // Whether the next run is to ask again for the images stored before (the button pressed
    // down, under the incremental option).
    bool refreshNext() const;

    // Shows the dialog modally over parent: the options set when OK was pressed, nothing when
    // the dialog was cancelled or closed. refreshNext, when given, takes refreshNext() on OK.
    // published: the result the publish dialog checks the public copies of; shownSettings: the
    // window's boxes, which a prune reads.
    static std::optional<job::ExtensionOptions> Ask(
        const job::ExtensionOptions& current, QWidget* parent = nullptr,
        bool* refreshNext = nullptr, bool* publishNow = nullptr,
        const WindowPublish* published = nullptr,
        std::function<job::JobSettings()> shownSettings = {});

  private:
    // Adds the button that opens the prune's dialog over the window's result folder.
    void AddPruneButton(QHBoxLayout* buttons);
    // Adds the editors of the per-site rules and the known placeholders to the column.
    void AddHotlinkLists(QVBoxLayout* column, const job::ExtensionOptions& o);

    struct Control {
        const job::OptionDescriptor* option;
        QWidget* control;
    };
    std::vector<Control> controls_;  // one per option the dialog shows, in the table's order
    QCheckBox* incremental_ = nullptr;
    QPushButton* refresh_;
    PublishChoices publish_;                  // edited in the publish dialog
    bool publishNow_ = false;                 // that dialog's "立即发布" closed this one
    std::optional<WindowPublish> published_;  // what that dialog checks the public copies of
    QPlainTextEdit* siteRules_;               // one rule a line, "host|Referer|User-Agent|Cookie"
    QPlainTextEdit* placeholders_;            // one mark a line, "crc:size"
    std::function<job::JobSettings()> shownSettings_;
};

}  // namespace zembrat::ui
