#include "ui/main_window.h"

#include "ui/keyring.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QResizeEvent>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>
#include <limits>

#include "config/config_store.h"
#include "job/extension_options.h"
#include "job/retry_plan.h"
#include "job/settings_table.h"
#include "platform/user_account.h"
#include "text/codec.h"
#include "ui/extension_dialog.h"
#include "ui/fonts.h"
#include "ui/help.h"
#include "ui/icons.h"
#include "ui/qt_text.h"
#include "ui/results_dialog.h"
#include "ui/shell.h"
#include "ui/widgets.h"

namespace zembrat::ui {
namespace {

using namespace text::literals;

// The client area that the designed 716 x 645 window with a fixed border leaves: the window's
// size when it opens and its smallest.
constexpr int kClientWidth = 710;
constexpr int kClientHeight = 614;
// The list's designed column widths; added width is shared between them in this proportion.
constexpr int kPlaceColumnWidth = 400;
constexpr int kAddressColumnWidth = 250;

QLabel* Caption(const QString& name, const QString& text, const QRect& geometry, const QFont& font,
                QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setFont(font);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QLineEdit* MakeEditBox(const QString& name, const QString& text, const QRect& geometry,
                       const QFont& font, QWidget* parent) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    edit->setGeometry(geometry);
    edit->setFont(font);
    QPalette pal = edit->palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    edit->setPalette(pal);
    return edit;
}

// The settings a new window shows.
const job::SettingValues& Defaults() {
    static const job::SettingValues defaults =
        job::DefaultSettingValues(text::GbkFromUtf8(platform::HomeFolder()));
    return defaults;
}

QFont LinkFont() {
    QFont font = SimSun(12);
    font.setUnderline(true);
    return font;
}

}  // namespace

BannerAddresses DefaultBannerAddresses() {
    QString page = HelpFilePath();
    // Where a copy of the program keeps it; opening a missing page reports nothing.
    if (page.isEmpty())
        page = QDir(QCoreApplication::applicationDirPath())
                   .filePath(QStringLiteral("zembrat-help.html"));
    auto section = [&page](const char* anchor) {
        QUrl url = QUrl::fromLocalFile(page);
        url.setFragment(QString::fromLatin1(anchor));
        return url.toString();
    };
    return {section("home"), section("product"), section("contact"), section("software")};
}

MainWindow::MainWindow(config::ConfigStore& settings, TextDialogRequest& textDialog,
                       web::WebClient& web, platform::EventPoints& events, QWidget* parent)
    : QWidget(parent),
      settings_(settings),
      textDialog_(textDialog),
      driver_(*this, web, events),
      statusIcons_(StatusIcons()),
      watch_(std::make_unique<RunWatch>(
          [this]() -> const job::RunInputs& { return driver_.lastInputs(); })) {
    driver_.SetKeyring(KeyringSecret);
    setObjectName(QStringLiteral("主窗口"));
    setWindowTitle(
        QStringLiteral("Zembrat v1.03 - 自动下载并转存文章中的网络图片为自己网站的图片"));
    setWindowIcon(QIcon(AppIcon(64)));
    setMinimumSize(kClientWidth, kClientHeight);
    resize(kClientWidth, kClientHeight);
    move(50, 50);
    BuildBanner();
    BuildControls();
    Connect();
    LayStatusLabelOntoProgressBar();
    driver_.SetWatcher(watch_.get());
    watch_->begins = [this] { resultsButton_->setEnabled(true); };
}

MainWindow::~MainWindow() {
    driver_.SetWatcher(nullptr);
}

template <class W>
W* MainWindow::Place(W* widget, const QRect& designed, unsigned follow) {
    widget->setGeometry(designed);
    placed_.push_back({widget, designed, follow});
    return widget;
}

void MainWindow::LayOut(int dw, int dh) {
    for (const Placed& p : placed_) {
        QRect r = p.designed;
        if (p.follow & Right) r.translate(dw, 0);
        if (p.follow & Down) r.translate(0, dh);
        if (p.follow & Wider) r.setWidth(r.width() + dw);
        if (p.follow & Taller) r.setHeight(r.height() + dh);
        if (p.follow & QuarterWider) {
            r.translate(dw, 0);
            r.setLeft(r.left() - dw / 4);
        }
        p.widget->setGeometry(r);
    }
    statusLabel_->setGeometry(10, 0, progress_->width() - 20, statusLabel_->height());
    const int place =
        kPlaceColumnWidth + dw * kPlaceColumnWidth / (kPlaceColumnWidth + kAddressColumnWidth);
    list_->setColumnWidth(0, place);
    list_->setColumnWidth(1, kAddressColumnWidth + dw - (place - kPlaceColumnWidth));
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOut(std::max(0, width() - kClientWidth), std::max(0, height() - kClientHeight));
}

void MainWindow::BuildBanner() {
    banner_ = Place(new QFrame(this), QRect(0, 0, 816, 88), Wider);
    banner_->setObjectName(QStringLiteral("图片框1"));
    banner_->setAutoFillBackground(true);
    QPalette pal = banner_->palette();
    pal.setColor(QPalette::Window, Qt::white);
    banner_->setPalette(pal);

    const BannerAddresses addresses = DefaultBannerAddresses();
    auto button = [this](const QString& name, const QPixmap& normal, const QPixmap& alternate,
                         const QRect& r) {
        auto* b = new ImageButton(normal, alternate, banner_);
        b->setObjectName(name);
        b->setGeometry(r);
        return b;
    };
    auto link = [this](const QString& name, const QString& caption, const QString& address,
                       const QRect& r) {
        auto* l = new TextLink(caption, address, banner_);
        l->setObjectName(name);
        l->setGeometry(r);
        l->setFont(LinkFont());
        return l;
    };
    homeButton_ =
        button(QStringLiteral("图片框官网"), Logo(false), Logo(true), QRect(488, 12, 145, 64));
    saveButton_ = button(QStringLiteral("图片框保存"), BannerIcon(BannerPicture::Save, false),
                         BannerIcon(BannerPicture::Save, true), QRect(16, 0, 64, 64));
    saveLink_ = link(QStringLiteral("超级链接框保存"), QStringLiteral("保存配置"), QString(),
                     QRect(16, 64, 64, 24));
    helpButton_ = button(QStringLiteral("图片框操作"), BannerIcon(BannerPicture::Help, false),
                         BannerIcon(BannerPicture::Help, true), QRect(96, 0, 64, 64));
    helpLink_ = link(QStringLiteral("超级链接框操作"), QStringLiteral("疑点说明"), QString(),
                     QRect(96, 64, 64, 24));
    updateButton_ = button(QStringLiteral("图片框更新"), BannerIcon(BannerPicture::Update, false),
                           BannerIcon(BannerPicture::Update, true), QRect(176, 0, 64, 64));
    updateLink_ = link(QStringLiteral("超级链接框更新"), QStringLiteral("软件主页"),
                       addresses.product, QRect(176, 64, 64, 24));
    chatButton_ = button(QStringLiteral("图片框QQ"), BannerIcon(BannerPicture::Chat, false),
                         BannerIcon(BannerPicture::Chat, true), QRect(256, 0, 64, 64));
    chatLink_ = link(QStringLiteral("超级链接框QQ"), QStringLiteral("联系作者"), addresses.chat,
                     QRect(256, 64, 64, 24));
    softwareButton_ =
        button(QStringLiteral("图片框软件"), BannerIcon(BannerPicture::Software, false),
               BannerIcon(BannerPicture::Software, true), QRect(336, 0, 64, 64));
    softwareLink_ = link(QStringLiteral("超级链接框软件"), QStringLiteral("更多软件"),
                         addresses.software, QRect(336, 64, 64, 24));

    optionsButton_ =
        button(QStringLiteral("图片框扩展选项"), BannerIcon(BannerPicture::Options, false),
               BannerIcon(BannerPicture::Options, true), QRect(416, 0, 64, 64));
    optionsLink_ = link(QStringLiteral("超级链接框扩展选项"), QStringLiteral("扩展选项"), QString(),
                        QRect(416, 64, 64, 24));

    // The run's results, at the banner's right end: beside the logo at the designed size, in the
    // room the window gains when larger.
    resultsButton_ = Place(new QToolButton(banner_), QRect(634, 24, 74, 40), Right);
    resultsButton_->setObjectName(QStringLiteral("按钮查看运行结果"));
    resultsButton_->setText(QStringLiteral("查看运行结果"));
    resultsButton_->setFont(SimSun(12));
    resultsButton_->setCursor(Qt::PointingHandCursor);
    resultsButton_->setEnabled(false);
    resultsButton_->setToolTip(QStringLiteral("运行开始后可以查看每张图片的结果"));

    auto* rule = Place(new QFrame(this), QRect(0, 88, 1000, 2), Wider);
    rule->setObjectName(QStringLiteral("标签13"));
    rule->setFrameStyle(QFrame::HLine | QFrame::Sunken);
}

void MainWindow::BuildControls() {
    // Larger than designed, the list takes the added room; the folder row, the button and the
    // settings rows widen with it, and the rows below the list move down.
    Place(Caption(QStringLiteral("标签1"), QStringLiteral("文章目录："), QRect(16, 104, 96, 32),
                  SimHei(21), this),
          QRect(16, 104, 96, 32), Stays);
    articleFolder_ = Place(
        MakeEditBox(QStringLiteral("编辑框文章目录"), ToQString(Defaults().settings.articleFolder),
                    QRect(128, 104, 512, 32), SimHei(21), this),
        QRect(128, 104, 512, 32), Wider);
    articleFilter_ = Place(
        MakeEditBox(QStringLiteral("编辑框过滤"), ToQString(Defaults().settings.articleFilter),
                    QRect(576, 108, 58, 24), SimSun(15), this),
        QRect(576, 108, 58, 24), QuarterWider);
    articleFilter_->raise();  // set into the right end of the folder box
    chooseButton_ =
        Place(new PushButton(QStringLiteral("选择"), this), QRect(640, 104, 56, 32), Right);
    chooseButton_->setObjectName(QStringLiteral("按钮选择"));
    chooseButton_->setFont(SimHei(21));

    progress_ = Place(new FlatProgressBar(this), QRect(16, 104, 680, 32), Wider);
    progress_->setObjectName(QStringLiteral("进度条1"));
    progress_->setTextVisible(false);
    progress_->setRange(0, 0);
    progress_->setMaximum(100);
    progress_->hide();
    statusLabel_ = new QLabel(this);
    statusLabel_->setObjectName(QStringLiteral("透明标签1"));
    statusLabel_->setGeometry(32, 104, 648, 32);
    statusLabel_->setFont(SimHei(19));
    statusLabel_->setAttribute(Qt::WA_TranslucentBackground);
    statusLabel_->hide();

    list_ = Place(new QTreeWidget(this), QRect(16, 144, 680, 232), Wider | Taller);
    list_->setObjectName(QStringLiteral("列表框"));
    list_->setFont(SimSun(15));
    list_->setColumnCount(2);
    list_->setHeaderLabels({QStringLiteral("存放位置"), QStringLiteral("下载地址")});
    list_->setColumnWidth(0, kPlaceColumnWidth);
    list_->setColumnWidth(1, kAddressColumnWidth);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setIconSize(QSize(24, 24));
    list_->header()->setStretchLastSection(false);

    startButton_ = Place(new PushButton(ToQString(ui::StartCaption()), this),
                         QRect(16, 392, 680, 40), Wider | Down);
    startButton_->setObjectName(QStringLiteral("按钮开始下载"));
    startButton_->setFont(SimHei(21, true));

    struct SettingRow {
        const char* label;
        const char* caption;
        const char* box;
        QLineEdit* MainWindow::*edit;
        const std::string job::JobSettings::*value;
        int top;
    };
    const SettingRow rows[] = {
        {"标签2", "图片存放目录：", "编辑框图片存放目录", &MainWindow::imageFolder_,
         &job::JobSettings::imageFolder, 440},
        {"标签3", "旧的域名前缀：", "编辑框旧的域名前缀", &MainWindow::oldPrefix_,
         &job::JobSettings::oldPrefix, 481},
        {"标签5", "新的域名前缀：", "编辑框新的域名前缀", &MainWindow::newPrefix_,
         &job::JobSettings::newPrefix, 522},
        {"标签4", "排除地址范围：", "编辑框排除地址范围", &MainWindow::excludedRanges_,
         &job::JobSettings::excludedRanges, 563},
    };
    for (const SettingRow& row : rows) {
        const QRect caption(16, row.top, 112, 32), box(128, row.top, 568, 32);
        Place(Caption(QString::fromUtf8(row.label), QString::fromUtf8(row.caption), caption,
                      SimSun(15), this),
              caption, Down);
        this->*row.edit =
            Place(MakeEditBox(QString::fromUtf8(row.box), ToQString(Defaults().settings.*row.value),
                              box, SimHei(21), this),
                  box, Wider | Down);
    }

    progress_->raise();  // above the article-folder row
}

void MainWindow::Connect() {
    connect(startButton_, &QPushButton::clicked, this,
            [this] { StartOrStop(job::ListingMethod::FolderObject); });
    connect(startButton_, &PushButton::rightPressed, this,
            [this] { StartOrStop(job::ListingMethod::FileSearch); });
    connect(chooseButton_, &QPushButton::clicked, this, [this] {
        const QString folder = PickFolder(articleFolder_->text());
        if (!folder.isEmpty()) articleFolder_->setText(folder);
    });
    connect(chooseButton_, &PushButton::rightPressed, this,
            [this] { ui::OpenInFileManager(articleFolder_->text()); });

    // The image buttons read their address from the neighbouring link at the moment of the click.
    connect(homeButton_, &QAbstractButton::clicked, this,
            [] { OpenAddress(DefaultBannerAddresses().home); });
    connect(updateButton_, &QAbstractButton::clicked, this,
            [this] { OpenAddress(updateLink_->address()); });
    connect(chatButton_, &QAbstractButton::clicked, this,
            [this] { OpenAddress(chatLink_->address()); });
    connect(softwareButton_, &QAbstractButton::clicked, this,
            [this] { OpenAddress(softwareLink_->address()); });

    // The save link reacts when the button goes down, so moving off before the release still saves.
    connect(saveLink_, &TextLink::pressed, this, [this] { SaveFromEntry(); });
    connect(saveButton_, &QAbstractButton::clicked, this, [this] { SaveFromEntry(); });
    connect(helpLink_, &TextLink::pressed, this, [this] { ShowHelp(); });
    connect(helpButton_, &QAbstractButton::clicked, this, [this] { ShowHelp(); });
    connect(optionsLink_, &TextLink::pressed, this, [this] { ShowExtensionOptions(); });
    connect(optionsButton_, &QAbstractButton::clicked, this, [this] { ShowExtensionOptions(); });
    connect(resultsButton_, &QToolButton::clicked, this, [this] { ShowResults(); });
}

bool MainWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && !loadStarted_) {
        // Marked first: the store lets events through while it reads, which may activate again.
        loadStarted_ = true;
        LoadSettings();
        settingsLoaded_ = true;
        if (closeAfterLoad_) {
            closeAfterLoad_ = false;
            close();
        }
    }
    return QWidget::event(event);
}

job::SettingValues MainWindow::ShownSettings() const {
    return {ui::ShownSettings(*this), driver_.options()};
}

void MainWindow::LoadSettings() {
    // Each box shows its setting as soon as it is read; missing keys keep what the boxes hold,
    // and a file without the options' section reads as all off.
    job::SettingValues values = ShownSettings();
    values.options = {};
    job::ReadSettingValues(settings_, values, [&](const job::SettingItem& item) {
        const auto index = static_cast<std::size_t>(&item - job::SettingItems().data());
        if (index < std::size(kSettingBoxes)) {
            const EditBox box = kSettingBoxes[index];
            editBox(box)->setText(ToQString(values.settings.*SettingField(box)));
        }
    });
    driver_.SetOptions(values.options);
}

bool MainWindow::SaveSettings() {
    return job::WriteSettingValues(settings_, ShownSettings());
}

QString MainWindow::SaveFailedText() const {
    QString text = QStringLiteral("保存失败！无法写入配置文件：") + ToQString(settings_.FileName());
    if (settings_.LockedByAnother()) text += QStringLiteral("\r\n配置文件正被另一个程序使用。");
    return text;
}

void MainWindow::SaveFromEntry() {
    if (SaveSettings()) {
        ui::ShowMessage(QStringLiteral("保存完毕！"));
    } else {
        ui::ShowMessage(SaveFailedText());
    }
}

void MainWindow::ShowExtensionOptions() {
    bool refresh = false;
    bool publishNow = false;
    const WindowPublish published = driver_.PublishRequest();
    if (const std::optional<job::ExtensionOptions> chosen = ExtensionDialog::Ask(
            driver_.options(), this, &refresh, &publishNow, &published,
            [this] { return ui::ShownSettings(static_cast<const JobWindow&>(*this)); })) {
        driver_.SetOptions(*chosen);
        if (refresh) driver_.RefreshNextRun();
        if (publishNow) driver_.PublishNow();
    }
}

void MainWindow::ShowHelp() {
    ShowTextDialog(textDialog_, HelpText(), QString());
}

void MainWindow::StartOrStop(job::ListingMethod method) {
    RunJob([this, method] { driver_.StartOrStop(method); });
}

void MainWindow::RunJob(const std::function<void()>& run) {
    ++jobDepth_;
    run();
    --jobDepth_;
    // The run that ended (not a stop request made during it) may have written its report.
    if (jobDepth_ == 0 && results_ && !driver_.running())
        results_->SetReportPath(driver_.counts().reportPath);
    if (jobDepth_ == 0 && closeAfterRun_) {
        closeAfterRun_ = false;
        close();
    }
}

void MainWindow::ShowResults() {
    if (!results_) {
        results_ = new ResultsDialog(
            *watch_, [this] { return driver_.running(); }, this);
        results_->setWindowFlag(Qt::Window);
        results_->SetReportPath(driver_.running() ? std::string() : driver_.counts().reportPath);
        connect(results_, &ResultsDialog::retryRequested, this, [this] { RetryFailed(); });
    }
    results_->show();
    results_->raise();
    results_->activateWindow();
}

void MainWindow::RetryFailed() {
    if (driver_.running() || !watch_->begun()) return;
    job::RunInputs inputs = watch_->inputs();
    inputs.plan.reset();
    inputs.refresh = false;
    job::Retry retry;
    std::string error;
    if (!job::PlanRetry(watch_->rows(), inputs, retry, error)) {
        ui::ShowMessage(QStringLiteral("无法重试：运行结果中的文章不在文章目录“") +
                        ToQString(inputs.settings.articleFolder) + QStringLiteral("”中。"));
        return;
    }
    QString https;
    if (retry.httpsLeft)
        https = QStringLiteral(
                    "\r\n有 %1 张 https:// 图片没有重试：在“扩展选项”中勾选“转存https"
                    "图片”后才会重试。")
                    .arg(retry.httpsLeft);
    if (!retry.plan) {
        ui::ShowMessage(QStringLiteral("没有需要重试的图片。") + https);
        return;
    }
    if (!https.isEmpty()) ui::ShowMessage(https.mid(2));
    inputs.plan = std::move(retry.plan);
    RunJob([this, &inputs] { driver_.StartPlanned(std::move(inputs)); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (jobDepth_ > 0) {
        // The run is on the stack below this handler: it stops at once, and the window closes
        // when it has returned.
        closeAfterRun_ = true;
        driver_.StopForClose();
        event->ignore();
        return;
    }
    if (loadStarted_ && !settingsLoaded_) {
        // The settings are being read (the store lets events through between keys): saving now
        // would store the keys not read yet with their designed texts. Close once all are in.
        closeAfterLoad_ = true;
        event->ignore();
        return;
    }
    // The window closes now, and its results with it.
    if (results_) results_->close();
    if (!settingsLoaded_) {
        // Never activated, so the boxes still hold the designed texts, not the user's settings:
        // saving them would replace what is stored.
        event->accept();
        return;
    }
    if (!SaveSettings() && !closeFailureShown_) {
        closeFailureShown_ = true;
        ui::ShowMessage(SaveFailedText());
    }
    event->accept();
}

void MainWindow::LayStatusLabelOntoProgressBar() {
    statusLabel_->setParent(progress_);
    statusLabel_->setGeometry(10, 0, progress_->width() - 20, statusLabel_->height());
    statusLabel_->hide();
}

QLineEdit* MainWindow::editBox(EditBox box) const {
    switch (box) {
        case EditBox::ArticleFolder:
            return articleFolder_;
        case EditBox::ArticleFilter:
            return articleFilter_;
        case EditBox::ImageFolder:
            return imageFolder_;
        case EditBox::OldPrefix:
            return oldPrefix_;
        case EditBox::NewPrefix:
            return newPrefix_;
        case EditBox::ExcludedRanges:
            return excludedRanges_;
    }
    return nullptr;
}

std::string MainWindow::StartCaption() const {
    return ToGbk(startButton_->text());
}
void MainWindow::SetStartCaption(const std::string& caption) {
    startButton_->setText(ToQString(caption));
}
std::string MainWindow::EditText(EditBox box) const {
    return ToGbk(editBox(box)->text());
}
void MainWindow::SetEditText(EditBox box, const std::string& text) {
    editBox(box)->setText(ToQString(text));
}
void MainWindow::SetEditEnabled(EditBox box, bool enabled) {
    editBox(box)->setEnabled(enabled);
}
void MainWindow::SetProgressVisible(bool visible) {
    progress_->setVisible(visible);
}
void MainWindow::SetStatusLabelVisible(bool visible) {
    statusLabel_->setVisible(visible);
}

void MainWindow::SetProgressMaximum(long maximum) {
    progress_->setRange(0,
                        static_cast<int>(std::min<long>(maximum, std::numeric_limits<int>::max())));
}

void MainWindow::SetProgressPosition(long position) {
    // A progress bar repaints at once on every step it can show; the run's changes show at its
    // next event point instead, with everything else that changed.
    progress_->setUpdatesEnabled(false);
    progress_->setValue(static_cast<int>(std::min<long>(position, progress_->maximum())));
    progress_->setUpdatesEnabled(true);
}

void MainWindow::SetStatusText(const std::string& text) {
    statusLabel_->setText(ToQString(text));
}
void MainWindow::ClearRows() {
    list_->clear();
}

void MainWindow::InsertRow(int row, StatusIcon icon) {
    auto* item = new QTreeWidgetItem;
    list_->insertTopLevelItem(row, item);
    SetRowIcon(row, icon);
}

void MainWindow::SetCellText(int row, int column, const std::string& text) {
    if (QTreeWidgetItem* item = list_->topLevelItem(row)) item->setText(column, ToQString(text));
}

void MainWindow::SetRowIcon(int row, StatusIcon icon) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    if (!item) return;
    const int index = static_cast<int>(icon);
    item->setIcon(0, statusIcons_.value(index));
    item->setData(0, Qt::UserRole, index);
}

void MainWindow::SetRowToolTip(int row, const std::string& text) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    if (!item) return;
    for (int column = 0; column < 2; ++column) item->setToolTip(column, ToQString(text));
}

int MainWindow::RowIcon(int row) const {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    return item ? item->data(0, Qt::UserRole).toInt() : -1;
}

void MainWindow::ScrollToRow(int row) {
    // Scrolling lays the whole list out again, and only shows at the next paint: it is done
    // once, for the latest row asked, when events are next processed.
    const bool queued = scrollRow_ >= 0;
    scrollRow_ = row;
    if (queued) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (QTreeWidgetItem* item = list_->topLevelItem(scrollRow_)) list_->scrollToItem(item);
            scrollRow_ = -1;
        },
        Qt::QueuedConnection);
}

int MainWindow::RowCount() const {
    return list_->topLevelItemCount();
}
bool MainWindow::OpenInFileManager(const std::string& folder) {
    return ui::OpenInFileManager(ToQString(folder));
}

}  // namespace zembrat::ui
