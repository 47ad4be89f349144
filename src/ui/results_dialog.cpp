#include "ui/results_dialog.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimerEvent>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "job/article_listing.h"
#include "text/codec.h"
#include "text/gbk.h"
#include "ui/fonts.h"
#include "ui/qt_text.h"
#include "ui/shell.h"

namespace zembrat::ui {
namespace {

enum Column { ArticleColumn, AddressColumn, OutcomeColumn, ReasonColumn, NameColumn, BytesColumn };

// How often an open dialog looks at the run again.
constexpr int kRefreshMs = 500;

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Duration(std::chrono::seconds left) {
    const long s = static_cast<long>(left.count());
    if (s < 60) return std::to_string(s) + " 秒";
    if (s < 3600) return std::to_string(s / 60) + " 分 " + std::to_string(s % 60) + " 秒";
    return std::to_string(s / 3600) + " 小时 " + std::to_string(s % 3600 / 60) + " 分";
}

}  // namespace

const char* OutcomeWords(const std::string& outcome) {
    if (outcome == "stored") return "已转存";
    if (outcome == "reused") return "沿用";
    if (outcome == "failed") return "失败";
    if (outcome == "dropped") return "已丢弃";
    if (outcome == "not reached") return "未处理";
    return "";
}

RunWatch::RunWatch(std::function<const job::RunInputs&()> inputs,
                   std::function<Clock::time_point()> now)
    : askInputs_(std::move(inputs)), now_(std::move(now)) {}

void RunWatch::RunBegins(const std::vector<std::string>& articles,
                         const std::string& resultFolder) {
    begun_ = true;
    inputs_ = askInputs_();
    resultFolder_ = resultFolder;
    below_ = job::ShownBelow(inputs_);
    collector_ = std::make_unique<job::ReportCollector>(below_);
    articleCount_ = articles.size();
    articleIndex_ = articlesEnded_ = imagesDone_ = imagesFailed_ = 0;
    articlePath_.clear();
    currentPath_.clear();
    currentVerdicts_.clear();
    currentRecords_.clear();
    began_ = now_();
    ++generation_;
    if (begins) begins();
}

void RunWatch::ArticleBegins(std::size_t index, const std::string& path) {
    articleIndex_ = index;
    articlePath_ = below_.empty() ? text::FileName(path) : job::ArticleBelow(below_, path);
    ++generation_;
}

void RunWatch::ReferencesDecided(const std::string& path,
                                 const std::vector<job::RefVerdict>& verdicts) {
    if (collector_) collector_->ReferencesDecided(path, verdicts);
    currentPath_ = path;
    currentVerdicts_ = verdicts;
    currentRecords_.clear();
    ++generation_;
}

void RunWatch::ImageQueued(std::size_t row, const job::ImageRef&) {
    if (row >= currentRecords_.size()) currentRecords_.resize(row + 1);
    ++generation_;
}

void RunWatch::ImageSettled(std::size_t row, const job::ImageRecord& record) {
    if (row >= currentRecords_.size()) currentRecords_.resize(row + 1);
    currentRecords_[row] = record;
    ++imagesDone_;
    if (record.outcome == job::ImageOutcome::Failed) ++imagesFailed_;
    ++generation_;
}

void RunWatch::ArticleEnds(const std::string& path, job::ArticleEnd end,
                           const std::vector<job::ImageRecord>& images) {
    if (collector_) collector_->ArticleEnds(path, end, images);
    currentPath_.clear();
    currentVerdicts_.clear();
    currentRecords_.clear();
    ++articlesEnded_;
    ++generation_;
}

const std::vector<job::ReportRow>& RunWatch::rows() const {
    if (rowsGeneration_ == generation_) return rows_;
    rowsGeneration_ = generation_;
    rows_ = collector_ ? collector_->rows() : std::vector<job::ReportRow>{};
    if (currentPath_.empty() || currentVerdicts_.empty()) return rows_;
    // The kept references in row order, each with its record once settled.
    std::vector<job::ImageRecord> records;
    std::size_t row = 0;
    for (const job::RefVerdict& v : currentVerdicts_) {
        if (v.decision != job::RefDecision::Download) continue;
        if (row < currentRecords_.size() && currentRecords_[row]) {
            records.push_back(*currentRecords_[row]);
        } else {
            job::ImageRecord waiting;
            waiting.sourceValue = v.sourceValue;
            waiting.address = v.address;
            records.push_back(waiting);
        }
        ++row;
    }
    // Named as the collector names the ended ones.
    const std::vector<job::ReportRow> current =
        job::ArticleRows(below_.empty() ? currentPath_ : job::ArticleBelow(below_, currentPath_),
                         job::ArticleEnd::Written, currentVerdicts_, records);
    rows_.insert(rows_.end(), current.begin(), current.end());
    return rows_;
}

std::string RunWatch::PlaceLine() const {
    if (!begun_) return "还没有运行过。";
    if (articleIndex_ == 0) return "共 " + std::to_string(articleCount_) + " 篇文章";
    return "第 " + std::to_string(articleIndex_) + " 篇，共 " + std::to_string(articleCount_) +
           " 篇：" + text::Utf8FromGbk(articlePath_);
}

std::string RunWatch::CountsLine(bool running) const {
    if (!begun_) return {};
    std::string line = "已处理图片 " + std::to_string(imagesDone_) + " 张，失败 " +
                       std::to_string(imagesFailed_) + " 张";
    if (!running) return line + "；运行已结束。";
    if (articlesEnded_ == 0 || articlesEnded_ >= articleCount_) return line + "；正在估算剩余时间…";
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now_() - began_);
    const auto left = elapsed * static_cast<long>(articleCount_ - articlesEnded_) /
                      static_cast<long>(articlesEnded_);
    return line + "；预计还需 " + Duration(left);
}

ResultsDialog::ResultsDialog(const RunWatch& watch, std::function<bool()> running, QWidget* parent)
    : QDialog(parent), watch_(watch), running_(std::move(running)) {
    setObjectName(QStringLiteral("运行结果"));
    setWindowTitle(QStringLiteral("运行结果"));
    setModal(false);
    resize(960, 560);
    auto* column = new QVBoxLayout(this);

    place_ = new QLabel(this);
    place_->setObjectName(QStringLiteral("标签运行位置"));
    place_->setFont(SimHei(17));
    place_->setTextFormat(Qt::PlainText);
    column->addWidget(place_);
    counts_ = new QLabel(this);
    counts_->setObjectName(QStringLiteral("标签运行计数"));
    counts_->setTextFormat(Qt::PlainText);
    column->addWidget(counts_);

    auto* filters = new QHBoxLayout;
    filters->addWidget(new QLabel(QStringLiteral("显示："), this));
    auto filter = [&](const char* name, const char* caption) {
        auto* box = new QCheckBox(QString::fromUtf8(caption), this);
        box->setObjectName(QString::fromUtf8(name));
        box->setChecked(true);
        connect(box, &QCheckBox::toggled, this, [this] { ShowRows(); });
        filters->addWidget(box);
        return box;
    };
    showFailed_ = filter("选择框失败", "失败和未处理");
    showStored_ = filter("选择框已转存", "已转存");
    showReused_ = filter("选择框沿用", "沿用");
    showDropped_ = filter("选择框已丢弃", "已丢弃");
    filters->addStretch();
    column->addLayout(filters);

    rows_ = new QTreeWidget(this);
    rows_->setObjectName(QStringLiteral("列表框运行结果"));
    rows_->setColumnCount(6);
    rows_->setHeaderLabels({QStringLiteral("文章"), QStringLiteral("图片地址"),
                            QStringLiteral("结果"), QStringLiteral("原因"),
                            QStringLiteral("存放名称"), QStringLiteral("字节数")});
    rows_->setRootIsDecorated(false);
    rows_->setUniformRowHeights(true);
    rows_->setSelectionMode(QAbstractItemView::SingleSelection);
    // The columns fill the dialog's width, the address taking what a larger dialog adds.
    rows_->setColumnWidth(ArticleColumn, 150);
    rows_->setColumnWidth(OutcomeColumn, 56);
    rows_->setColumnWidth(ReasonColumn, 230);
    rows_->setColumnWidth(NameColumn, 160);
    rows_->setColumnWidth(BytesColumn, 64);
    rows_->header()->setStretchLastSection(false);
    rows_->header()->setSectionResizeMode(AddressColumn, QHeaderView::Stretch);
    connect(rows_, &QTreeWidget::itemSelectionChanged, this, [this] { SelectionChanged(); });
    connect(rows_, &QTreeWidget::itemDoubleClicked, this, [this] { OpenArticle(); });
    column->addWidget(rows_, 1);

    auto* buttons = new QHBoxLayout;
    auto button = [&](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromUtf8(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    retry_ = button("按钮重试失败的图片", "重试失败的图片");
    openReport_ = button("按钮打开报告", "打开报告");
    openArticle_ = button("按钮打开文章", "打开文章");
    buttons->addStretch();
    QPushButton* close = button("按钮关闭", "关闭");
    column->addLayout(buttons);
    connect(retry_, &QPushButton::clicked, this, [this] { emit retryRequested(); });
    connect(openReport_, &QPushButton::clicked, this,
            [this] { OpenAddress(QUrl::fromLocalFile(ToQString(reportPath_)).toString()); });
    connect(openArticle_, &QPushButton::clicked, this, [this] { OpenArticle(); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    Refresh();
}

void ResultsDialog::SetReportPath(const std::string& path) {
    reportPath_ = path;
    Refresh();
}

void ResultsDialog::showEvent(QShowEvent* event) {
    if (!timer_) timer_ = startTimer(kRefreshMs);
    Refresh();
    QDialog::showEvent(event);
}

void ResultsDialog::hideEvent(QHideEvent* event) {
    if (timer_) killTimer(timer_);
    timer_ = 0;
    QDialog::hideEvent(event);
}

void ResultsDialog::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timer_) Refresh();
}

void ResultsDialog::Refresh() {
    const bool running = running_();
    place_->setText(Utf8(watch_.PlaceLine()));
    counts_->setText(Utf8(watch_.CountsLine(running)));
    if (watch_.generation() != shownGeneration_) ShowRows();
    bool failed = false;
    for (const job::ReportRow& row : watch_.rows())
        failed = failed || row.outcome == "failed" || row.outcome == "not reached";
    retry_->setEnabled(!running && failed);
    retry_->setToolTip(running  ? QStringLiteral("运行结束后才能重试")
                       : failed ? QStringLiteral("只重新下载失败和未处理的图片，"
                                                 "写入同一个结果目录")
                                : QStringLiteral("这次运行没有失败的图片"));
    openReport_->setEnabled(!reportPath_.empty());
    openReport_->setToolTip(reportPath_.empty()
                                ? QStringLiteral("在“扩展选项”中勾选“运行后写出报告”，"
                                                 "运行结束时会在结果目录中写出报告")
                                : ToQString(reportPath_));
    SelectionChanged();
}

void ResultsDialog::ShowRows() {
    shownGeneration_ = watch_.generation();
    const QString selected =
        rows_->currentItem() ? rows_->currentItem()->data(0, Qt::UserRole).toString() : QString();
    rows_->clear();
    QList<QTreeWidgetItem*> items;
    std::size_t index = 0;
    for (const job::ReportRow& row : watch_.rows()) {
        const std::size_t at = index++;
        const bool failed = row.outcome == "failed" || row.outcome == "not reached";
        if ((failed && !showFailed_->isChecked()) ||
            (row.outcome == "stored" && !showStored_->isChecked()) ||
            (row.outcome == "reused" && !showReused_->isChecked()) ||
            (row.outcome == "dropped" && !showDropped_->isChecked()))
            continue;
        auto* item = new QTreeWidgetItem;
        // A tree's rows name their articles below the article folder; the others lie in it.
        item->setText(
            ArticleColumn,
            Utf8(watch_.inputs().options.recursive ? row.article : text::FileName(row.article)));
        item->setText(AddressColumn, Utf8(row.address.empty() ? row.source : row.address));
        item->setText(OutcomeColumn, QString::fromUtf8(OutcomeWords(row.outcome)));
        item->setText(ReasonColumn, Utf8(row.words));
        item->setText(NameColumn, Utf8(row.storedName));
        item->setText(BytesColumn, row.bytes ? QString::number(row.bytes) : QString());
        item->setTextAlignment(BytesColumn, Qt::AlignRight | Qt::AlignVCenter);
        for (int c = 0; c < 6; ++c) item->setToolTip(c, item->text(c));
        item->setToolTip(ArticleColumn, Utf8(row.article));
        item->setData(0, Qt::UserRole, QString::number(at));
        items.append(item);
    }
    rows_->addTopLevelItems(items);
    for (QTreeWidgetItem* item : items)
        if (item->data(0, Qt::UserRole).toString() == selected) rows_->setCurrentItem(item);
}

void ResultsDialog::SelectionChanged() {
    openArticle_->setEnabled(rows_->currentItem() != nullptr);
}

void ResultsDialog::OpenArticle() {
    QTreeWidgetItem* item = rows_->currentItem();
    if (!item) return;
    const std::size_t at = item->data(0, Qt::UserRole).toString().toULongLong();
    if (at >= watch_.rows().size()) return;
    // The article as the run wrote it into the result folder; the original when there is none.
    const std::string article = text::GbkFromUtf8(watch_.rows()[at].article);
    const job::RunInputs& inputs = watch_.inputs();
    const std::string folder = inputs.settings.articleFolder;
    const bool tree = inputs.options.recursive;
    const std::string original =
        tree && !article.starts_with('/') ? text::WithSeparator(folder) + article : article;
    const std::string written = watch_.resultFolder() + (tree ? job::ArticleBelow(folder, original)
                                                              : text::FileName(original));
    const QString path =
        QFileInfo::exists(ToQString(written)) ? ToQString(written) : ToQString(original);
    OpenAddress(QUrl::fromLocalFile(path).toString());
}

}  // namespace zembrat::ui
