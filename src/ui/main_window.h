// The main window: banner, article-folder row, status list, start/stop button and the four
// settings rows. It is the job's window.
#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QVector>
#include <QWidget>

#include "job/job_driver.h"
#include "job/job_window.h"
#include "web/web_client.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QTreeWidget;

namespace zembrat::ui {

class ImageButton;
class PushButton;
class TextLink;

// Where the banner's entries lead; the image buttons read them from their links when clicked.
struct BannerAddresses {
    QString home;      // the maker's home page (the logo)
    QString product;   // this program's page ("软件主页")
    QString chat;      // the contact link
    QString software;  // the maker's other programs ("更多软件")
};
BannerAddresses DefaultBannerAddresses();

class MainWindow : public QWidget, public job::JobWindow {
    Q_OBJECT
public:
    // The web client is the program's one; it outlives the window.
    explicit MainWindow(web::WebClient& web, QWidget* parent = nullptr);
    ~MainWindow() override;

    job::JobDriver& driver() { return driver_; }
    QLineEdit* editBox(job::EditBox box) const;

    // job::JobWindow
    std::string StartCaption() const override;
    void SetStartCaption(const std::string& caption) override;
    std::string EditText(job::EditBox box) const override;
    void SetEditEnabled(job::EditBox box, bool enabled) override;
    void SetProgressVisible(bool visible) override;
    void SetStatusLabelVisible(bool visible) override;
    void SetProgressMaximum(long maximum) override;
    void SetProgressPosition(long position) override;
    void SetStatusText(const std::string& text) override;
    void ClearRows() override;
    void InsertRow(int row, job::StatusIcon icon) override;
    void SetCellText(int row, int column, const std::string& text) override;
    void SetRowIcon(int row, job::StatusIcon icon) override;
    void ScrollToRow(int row) override;
    int RowCount() const override;
    void ProcessEvents() override;
    platform::MessageAnswer ShowMessage(const std::string& text,
                                        platform::MessageButtons buttons) override;
    void OpenInFileManager(const std::string& folder) override;

    // The icon index a row shows (job::StatusIcon), -1 for no such row.
    int RowIcon(int row) const;

private:
    void BuildBanner();
    void BuildControls();
    void Connect();
    // The created handler: lays the status label onto the progress bar.
    void LayStatusLabelOntoProgressBar();

    job::JobDriver driver_;
    QElapsedTimer sinceEvents_;
    QVector<QIcon> statusIcons_;

    QWidget* banner_ = nullptr;  // 图片框1
    ImageButton* homeButton_ = nullptr;
    ImageButton* saveButton_ = nullptr;
    ImageButton* helpButton_ = nullptr;
    ImageButton* updateButton_ = nullptr;
    ImageButton* chatButton_ = nullptr;
    ImageButton* softwareButton_ = nullptr;
    TextLink* saveLink_ = nullptr;
    TextLink* helpLink_ = nullptr;
    TextLink* updateLink_ = nullptr;
    TextLink* chatLink_ = nullptr;
    TextLink* softwareLink_ = nullptr;
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
