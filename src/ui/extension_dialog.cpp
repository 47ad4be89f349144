#include "ui/extension_dialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ui/fonts.h"
#include "ui/publish_dialog.h"
#include "ui/qt_text.h"

namespace zembrat::ui {
namespace {

// The explanation under an option, in a smaller grey line indented below its control.
QLabel* Explanation(QWidget* parent, const QString& name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setContentsMargins(22, 0, 0, 6);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0x55, 0x55, 0x55));
    label->setPalette(palette);
    return label;
}

QCheckBox* Option(QWidget* parent, QVBoxLayout* layout, const QString& name, const QString& caption,
                  const QString& explanationName, const QString& explanation, bool checked) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    box->setChecked(checked);
    layout->addWidget(box);
    layout->addWidget(Explanation(parent, explanationName, explanation));
    return box;
}

QPlainTextEdit* ListEditor(QWidget* parent, QVBoxLayout* layout, const QString& name,
                           const QString& caption, const QStringList& lines) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QStringLiteral("标签") + name);
    label->setContentsMargins(22, 0, 0, 0);
    auto* editor = new QPlainTextEdit(parent);
    editor->setObjectName(QStringLiteral("编辑框") + name);
    editor->setPlainText(lines.join(QLatin1Char('\n')));
    editor->setFixedHeight(64);
    editor->setLineWrapMode(QPlainTextEdit::NoWrap);
    label->setBuddy(editor);
    layout->addWidget(label);
    layout->addWidget(editor);
    return editor;
}

// The editor's lines, trimmed, empty ones left out, as GBK.
std::vector<std::string> Lines(const QPlainTextEdit* editor) {
    std::vector<std::string> lines;
    for (const QString& line : editor->toPlainText().split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty()) lines.push_back(ToGbk(line.trimmed()));
    }
    return lines;
}

}  // namespace

ExtensionDialog::ExtensionDialog(const job::ExtensionOptions& o, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("扩展选项窗口"));
    setWindowTitle(QStringLiteral("扩展选项"));
    setModal(true);
    setFont(SimSun(12));  // the window's own font for its controls
    auto* layout = new QVBoxLayout(this);
    // The dialog takes the size its wrapped explanations need, so none is cut (a window sized
    // from its hint is otherwise held to two thirds of the screen).
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // Two columns, so that the dialog stays lower than a small screen: the options that change
    // what is read on the left, how it is fetched and told on the right.
    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    columns->addLayout(left);
    columns->addSpacing(16);
    columns->addLayout(right);
    layout->addLayout(columns);

    https_ =
        Option(this, left, QStringLiteral("复选框转存https图片"), QStringLiteral("转存 https 图片"),
               QStringLiteral("标签说明https"),
               QStringLiteral(
                   "以 https:// 开头的图片也转存，并校验网站证书；以 // 开头的地址补上 https:。"),
               o.https);
    lazyImages_ = Option(
        this, left, QStringLiteral("复选框延迟加载"), QStringLiteral("识别延迟加载和响应式图片"),
        QStringLiteral("标签说明延迟加载"),
        QStringLiteral(
            "除 src 外，还读取 data-src、data-original 等属性和 srcset 里的每一张候选图片。"),
        o.lazyImages);
    htmlRules_ = Option(
        this, left, QStringLiteral("复选框网页规则"), QStringLiteral("按网页规则读取标签"),
        QStringLiteral("标签说明网页规则"),
        QStringLiteral(
            "像浏览器一样读取标签：属性间可有空格和换行，引号里的值整段读取，&amp; 等按字符下载。"),
        o.htmlRules);
    checkContent_ =
        Option(this, left, QStringLiteral("复选框检查内容"), QStringLiteral("检查图片内容"),
               QStringLiteral("标签说明检查内容"),
               QStringLiteral(
                   "按下载内容的开头判断是不是图片，不是图片的不保存；扩展名按实际的图片类型。"),
               o.checkContent);
    markdown_ = Option(
        this, left, QStringLiteral("复选框Markdown"), QStringLiteral("处理 Markdown 图片"),
        QStringLiteral("标签说明Markdown"),
        QStringLiteral("在 .md 和 .markdown 文章里识别 ![说明](地址) 和引用式图片。"), o.markdown);

    recursive_ = Option(
        this, left, QStringLiteral("复选框包含子目录"), QStringLiteral("包含子目录"),
        QStringLiteral("标签说明包含子目录"),
        QStringLiteral("也处理子目录里的文章（隐藏目录、目录链接和结果目录除外），结果按原来的"
                       "子目录存放；图片仍存放在同一个图片目录。"),
        o.recursive);
    auto* outputRow = new QHBoxLayout;
    auto* outputLabel = new QLabel(QStringLiteral("结果目录："), this);
    outputLabel->setObjectName(QStringLiteral("标签结果目录"));
    outputFolder_ = new QLineEdit(ToQString(o.outputFolder), this);
    outputFolder_->setObjectName(QStringLiteral("编辑框结果目录"));
    auto* chooseOutput = new QPushButton(QStringLiteral("..."), this);
    chooseOutput->setObjectName(QStringLiteral("按钮选择结果目录"));
    chooseOutput->setMaximumWidth(32);
    outputLabel->setBuddy(outputFolder_);
    outputRow->addWidget(outputLabel);
    outputRow->addWidget(outputFolder_);
    outputRow->addWidget(chooseOutput);
    left->addLayout(outputRow);
    left->addWidget(Explanation(
        this, QStringLiteral("标签说明结果目录"),
        QStringLiteral("转存结果写到这个目录（须是绝对路径，不能是链接）；留空则写到文章目录下的"
                       "“转存结果”目录。")));
    connect(chooseOutput, &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getExistingDirectory(
            this, QStringLiteral("选择结果目录"), outputFolder_->text());
        if (!chosen.isEmpty()) outputFolder_->setText(chosen);
    });

    auto* timeoutRow = new QHBoxLayout;
    auto* timeoutLabel = new QLabel(QStringLiteral("下载超时（秒）："), this);
    timeoutLabel->setObjectName(QStringLiteral("标签下载超时"));
    timeout_ = new QLineEdit(this);
    timeout_->setObjectName(QStringLiteral("编辑框下载超时"));
    timeout_->setValidator(new QIntValidator(job::ExtensionOptions::kMinTimeoutSeconds,
                                             job::ExtensionOptions::kMaxTimeoutSeconds, timeout_));
    timeout_->setMaximumWidth(80);
    if (o.timeoutSeconds > 0) timeout_->setText(QString::number(o.timeoutSeconds));
    timeoutLabel->setBuddy(timeout_);
    timeoutRow->addWidget(timeoutLabel);
    timeoutRow->addWidget(timeout_);
    timeoutRow->addStretch();
    right->addLayout(timeoutRow);
    right->addWidget(Explanation(
        this, QStringLiteral("标签说明下载超时"),
        QStringLiteral("一张图片从连接到收完最多等待的秒数；留空则按原来的等待时间。")));

    auto* atOnceRow = new QHBoxLayout;
    auto* atOnceLabel = new QLabel(QStringLiteral("同时下载数："), this);
    atOnceLabel->setObjectName(QStringLiteral("标签同时下载数"));
    downloadsAtOnce_ = new QSpinBox(this);
    downloadsAtOnce_->setObjectName(QStringLiteral("微调框同时下载数"));
    downloadsAtOnce_->setRange(job::ExtensionOptions::kMinDownloadsAtOnce,
                               job::ExtensionOptions::kMaxDownloadsAtOnce);
    downloadsAtOnce_->setValue(o.downloadsAtOnce);
    downloadsAtOnce_->setMaximumWidth(80);
    atOnceLabel->setBuddy(downloadsAtOnce_);
    atOnceRow->addWidget(atOnceLabel);
    atOnceRow->addWidget(downloadsAtOnce_);
    atOnceRow->addStretch();
    right->addLayout(atOnceRow);
    right->addWidget(Explanation(
        this, QStringLiteral("标签说明同时下载数"),
        QStringLiteral("同时下载几张图片（1 到 16，同一网站最多 8 张）；1 为一张接一张。"
                       "文章的转存结果与一张接一张时相同。")));

    writeReport_ = Option(this, right, QStringLiteral("复选框写出报告"),
                          QStringLiteral("运行后写出报告"), QStringLiteral("标签说明写出报告"),
                          QStringLiteral("运行结束后写出每个图片引用的处理结果。"), o.writeReport);

    incremental_ = Option(
        this, right, QStringLiteral("复选框增量运行"), QStringLiteral("增量运行"),
        QStringLiteral("标签说明增量运行"),
        QStringLiteral("按结果目录里的运行记录只处理新的内容：已转存且文件未变的图片不再下载，"
                       "内容、设置都没变且结果还在的文章跳过。"),
        o.incremental);
    refresh_ = new QPushButton(QStringLiteral("重新检查已转存的图片"), this);
    refresh_->setObjectName(QStringLiteral("按钮重新检查"));
    refresh_->setCheckable(true);
    refresh_->setEnabled(o.incremental);
    right->addWidget(refresh_, 0, Qt::AlignLeft);
    connect(incremental_, &QCheckBox::toggled, refresh_, &QPushButton::setEnabled);

    hotlink_ =
        Option(this, right, QStringLiteral("复选框防盗链处理"), QStringLiteral("防盗链处理"),
               QStringLiteral("标签说明防盗链处理"),
               QStringLiteral(
                   "先以浏览器身份、不带来源页请求图片；被拒绝（401、403、网页）或收到占位图时，"
                   "再以图片所在网站、文章页面为来源页重试。同一网站不同地址得到相同内容的"
                   "视为疑似占位图，不保存。"),
               o.hotlink);
    QStringList rules, marks;
    for (const web::SiteRule& rule : o.siteRules) {
        if (!rule.hostPattern.empty()) rules << ToQString(web::SiteRuleText(rule));
    }
    for (const job::PlaceholderMark& mark : o.placeholders)
        marks << ToQString(job::PlaceholderText(mark));
    siteRules_ =
        ListEditor(this, right, QStringLiteral("站点规则"),
                   QStringLiteral("站点规则（每行一条：主机|来源页|浏览器标识|Cookie）："), rules);
    placeholders_ = ListEditor(this, right, QStringLiteral("占位图"),
                               QStringLiteral("已知占位图（每行一个：CRC32:字节数）："), marks);

    left->addStretch();
    right->addStretch();
    // The publish targets have a dialog of their own; what it chose is kept with the options.
    publish_ = {o.publishTargets, o.publishTarget, o.publishAfterRun, o.publishArticles};
    auto* buttons = new QHBoxLayout;
    auto* publishButton = new QPushButton(QStringLiteral("发布到网站..."), this);
    publishButton->setObjectName(QStringLiteral("按钮发布到网站"));
    buttons->addWidget(publishButton);
    connect(publishButton, &QPushButton::clicked, this, [this] {
        bool now = false;
        if (const std::optional<PublishChoices> chosen = PublishDialog::Ask(publish_, now, this)) {
            publish_ = *chosen;
            publishNow_ = now;
            if (now) accept();
        }
    });
    buttons->addStretch();
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("按钮确定"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("按钮取消"));
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

job::ExtensionOptions ExtensionDialog::options() const {
    job::ExtensionOptions o;
    o.https = https_->isChecked();
    o.lazyImages = lazyImages_->isChecked();
    o.htmlRules = htmlRules_->isChecked();
    o.checkContent = checkContent_->isChecked();
    o.markdown = markdown_->isChecked();
    bool number = false;
    const int seconds = timeout_->text().trimmed().toInt(&number);
    o.timeoutSeconds = number && seconds >= job::ExtensionOptions::kMinTimeoutSeconds &&
                               seconds <= job::ExtensionOptions::kMaxTimeoutSeconds
                           ? seconds
                           : 0;
    o.downloadsAtOnce = downloadsAtOnce_->value();
    o.writeReport = writeReport_->isChecked();
    o.hotlink = hotlink_->isChecked();
    o.recursive = recursive_->isChecked();
    o.outputFolder = ToGbk(outputFolder_->text().trimmed());
    o.incremental = incremental_->isChecked();
    o.publishTargets = publish_.targets;
    o.publishTarget = publish_.chosen;
    o.publishAfterRun = publish_.afterRun;
    o.publishArticles = publish_.articles;
    for (const std::string& line : Lines(siteRules_)) {
        if (o.siteRules.size() == job::kMaxSiteRules) break;
        if (const std::optional<web::SiteRule> rule = web::ParseSiteRule(line))
            o.siteRules.push_back(*rule);
    }
    for (const std::string& line : Lines(placeholders_)) {
        if (const std::optional<job::PlaceholderMark> mark = job::ParsePlaceholder(line))
            o.placeholders.push_back(*mark);
    }
    return o;
}

bool ExtensionDialog::refreshNext() const {
    return incremental_->isChecked() && refresh_->isChecked();
}

std::optional<job::ExtensionOptions> ExtensionDialog::Ask(const job::ExtensionOptions& current,
                                                          QWidget* parent, bool* refreshNext,
                                                          bool* publishNow) {
    ExtensionDialog dialog(current, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    if (refreshNext) *refreshNext = dialog.refreshNext();
    if (publishNow) *publishNow = dialog.publishNow_;
    return dialog.options();
}

}  // namespace zembrat::ui
