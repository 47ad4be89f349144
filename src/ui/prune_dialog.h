// The dialog in which the user sets aside the stored images no article uses: the list first, then
// the move into the result folder's trash; the last trash brought back and old trashes emptied
// from there too.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

#include "job/prune.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace zembrat::ui {

class PruneDialog : public QDialog {
  public:
    // Opens the publish target a move, a restore or an emptying is repeated on; nullptr with
    // error (UTF-8) when it cannot be opened.
    using MirrorOpener = std::function<std::unique_ptr<job::TrashMirror>(std::string& error)>;

    // Lists the unused images of the result folder of inputs at once; nothing moves until the
    // move button is pressed. openMirror, when given, is called for each move, restore and
    // emptying, which is then repeated on its target too.
    explicit PruneDialog(job::RunInputs inputs, QWidget* parent = nullptr,
                         MirrorOpener openMirror = {});

    // What the last action told (GBK), for the status line.
    static std::string OutcomeText(const job::TrashOutcome& outcome,
                                   const job::TrashRequest& asked);

  private:
    job::TrashOutcome Do(job::TrashAction action, bool dryRun);
    void List();
    void Move();
    void RestoreLast();
    void EmptyOld();

    job::RunInputs inputs_;
    MirrorOpener openMirror_;
    QLabel* status_;
    QListWidget* list_;
    QPushButton* move_;
    QCheckBox* force_;
    QSpinBox* days_;
};

}  // namespace zembrat::ui
