// The main window: banner, article-folder row, status list, start/stop button and the four
// settings rows. It is the job's window.
#pragma once

#include <QIcon>
#include <QVector>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "job/settings_table.h"
#include "ui/job_driver.h"
#include "ui/job_window.h"
#include "ui/text_dialog.h"
#include "web/web_client.h"

namespace zembrat::config {
class ConfigStore;
}

class QLabel;
class QLineEdit;
class QProgressBar;
class QToolButton;
class QTreeWidget;

namespace zembrat::ui {

class ImageButton;
class PushButton;
class ResultsDialog;
class RunWatch;
class TextLink;

// Where the banner's entries lead: the sections of the offline help page shipped beside the
// program (file:// addresses). The image buttons read them from their links when clicked.
struct BannerAddresses {
    QString home;      // the maker's home page (the logo)
    QString product;   // this program's page ("软件主页")
    QString chat;      // the contact link
    QString software;  // the maker's other programs ("更多软件")
};
BannerAddresses DefaultBannerAddresses();

class MainWindow : public QWidget, public JobWindow {
    Q_OBJECT
  public:
    // The settings store, the text dialog's request record, the web client and the event
    // points are the program's; they outlive the window.
    MainWindow(config::ConfigStore& settings, TextDialogRequest& textDialog, web::WebClient& web,
               platform::EventPoints& events, QWidget* parent = nullptr);
    ~MainWindow() override;

    JobDriver& driver() { return driver_; }
    QLineEdit* editBox(EditBox box) const;

    // The six settings, section "基本配置", each read with its box's current text as the
    // default. Loaded on the first activation only.
    void LoadSettings();
    // Writes the six boxes' texts; true when every change reached the settings file.
    bool SaveSettings();
    // The help text in the text dialog, with the default title; returns when it is closed.
    void ShowHelp();
    // The extension options' dialog; OK makes its options those of the runs to come (saved
    // with the rest of the settings).
    void ShowExtensionOptions();
    // The run's results, beside the window (modeless): opened by "查看运行结果" once a run has
    // begun, during the run too.
    void ShowResults();
    ResultsDialog* resultsDialog() const { return results_; }
    // The retry of the shown run's failed images, for its folder and options; tells when there
    // is nothing to retry.
    void RetryFailed();
    // True once the first activation has read the stored settings into the boxes, all of them.
    bool settingsLoaded() const { return settingsLoaded_; }

    // JobWindow
    std::string StartCaption() const override;
    void SetStartCaption(const std::string& caption) override;
    std::string EditText(EditBox box) const override;
    void SetEditEnabled(EditBox box, bool enabled) override;
    void SetEditText(EditBox box, const std::string& text) override;
    void SetProgressVisible(bool visible) override;
    void SetStatusLabelVisible(bool visible) override;
    void SetProgressMaximum(long maximum) override;
    void SetProgressPosition(long position) override;
    void SetStatusText(const std::string& text) override;
    void ClearRows() override;
    void InsertRow(int row, StatusIcon icon) override;
    void SetCellText(int row, int column, const std::string& text) override;
    void SetRowIcon(int row, StatusIcon icon) override;
    void SetRowToolTip(int row, const std::string& text) override;
    void ScrollToRow(int row) override;
    int RowCount() const override;
    bool OpenInFileManager(const std::string& folder) override;

    // The icon index a row shows (StatusIcon), -1 for no such row.
    int RowIcon(int row) const;

  protected:
    bool event(QEvent* event) override;
    // The designed layout grown by what the window has beyond its designed client size.
    void resizeEvent(QResizeEvent* event) override;
    // Saves the settings and closes; during a run it asks the run to stop and closes when the
    // run has returned.
    void closeEvent(QCloseEvent* event) override;

  private:
    // How a control follows the window as it grows beyond its designed size.
    enum Follow : unsigned {
        Stays = 0,
        Wider = 1,         // takes the added width
        Taller = 2,        // takes the added height
        Right = 4,         // moves right by the added width
        Down = 8,          // moves down by the added height
        QuarterWider = 16  // takes a quarter of the added width, its right edge following
    };
    struct Placed {
        QWidget* widget;
        QRect designed;
        unsigned follow;
    };
    // Places a control at its designed geometry and remembers how it follows a resize.
    template <class W>
    W* Place(W* widget, const QRect& designed, unsigned follow);
    // Lays every control out for a client area grown by (dw, dh) beyond the designed one.
    void LayOut(int dw, int dh);

    void BuildBanner();
    void BuildControls();
    void Connect();
    // The created handler: lays the status label onto the progress bar.
    void LayStatusLabelOntoProgressBar();
    // The six boxes' texts and the options of the runs to come.
    job::SettingValues ShownSettings() const;
    // The save entries: save, then say whether it worked.
    void SaveFromEntry();
    QString SaveFailedText() const;
    // Runs the job's entry, then closes the window if a close came in meanwhile.
    void StartOrStop(job::ListingMethod method);
    void RunJob(const std::function<void()>& run);

    config::ConfigStore& settings_;
    TextDialogRequest& textDialog_;
    JobDriver driver_;
    int scrollRow_ = -1;           // a scroll waiting for the next event pass
    bool loadStarted_ = false;     // the first activation began reading the settings
    bool settingsLoaded_ = false;  // ... and has read them all
    bool closeAfterLoad_ = false;  // a close came while they were being read
    int jobDepth_ = 0;             // StartOrStop calls on the stack
    bool closeAfterRun_ = false;   // a close came during a run
    bool closeFailureShown_ = false;
    QVector<QIcon> statusIcons_;
    std::vector<Placed> placed_;
    std::unique_ptr<RunWatch> watch_;
    ResultsDialog* results_ = nullptr;

    QWidget* banner_ = nullptr;  // 图片框1
    ImageButton* homeButton_ = nullptr;
    ImageButton* saveButton_ = nullptr;
    ImageButton* helpButton_ = nullptr;
    ImageButton* updateButton_ = nullptr;
    ImageButton* chatButton_ = nullptr;
    ImageButton* softwareButton_ = nullptr;
    ImageButton* optionsButton_ = nullptr;
    TextLink* saveLink_ = nullptr;
    TextLink* helpLink_ = nullptr;
    TextLink* updateLink_ = nullptr;
    TextLink* chatLink_ = nullptr;
    TextLink* softwareLink_ = nullptr;
    TextLink* optionsLink_ = nullptr;
    QToolButton* resultsButton_ = nullptr;
    QLineEdit* articleFolder_ = nullptr;
    QLineEdit* articleFilter_ = nullptr;
    PushButton* chooseButton_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QTreeWidget* list_ = nullptr;
    PushButton* startButton_ = nullptr;
    QLineEdit* imageFolder_ = nullptr;
    QLineEdit* oldPrefix_ = nullptr;
    QLineEdit* newPrefix_ = nullptr;
    QLineEdit* excludedRanges_ = nullptr;
};

}  // namespace zembrat::ui
