#include "ui/publish_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "job/extension_options.h"
#include "publish/target_list.h"
#include "text/codec.h"
#include "ui/fonts.h"
#include "ui/qt_text.h"

namespace zembrat::ui {

PublishDialog::PublishDialog(const PublishChoices& choices, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("发布到网站窗口"));
    setWindowTitle(QStringLiteral("发布到网站"));
    setModal(true);
    setFont(SimSun(12));
    auto* layout = new QVBoxLayout(this);

    auto* label = new QLabel(QStringLiteral("发布目标（每行一个地址）："), this);
    targets_ = new QPlainTextEdit(this);
    targets_->setObjectName(QStringLiteral("编辑框发布目标"));
    targets_->setLineWrapMode(QPlainTextEdit::NoWrap);
    targets_->setMinimumWidth(520);
    targets_->setFixedHeight(110);
    QStringList lines;
    for (const std::string& url : choices.targets) lines << ToQString(url);
    targets_->setPlainText(lines.join(QLatin1Char('\n')));
    label->setBuddy(targets_);
    layout->addWidget(label);
    layout->addWidget(targets_);
    auto* forms = new QLabel(
        QStringLiteral("sftp://用户@主机:端口/路径/　ftp://、ftpes://、ftps://主机/路径/\n"
                       "dav://、davs://主机/路径/　s3://桶/前缀/?endpoint=地址&region=区域\n"
                       "可加 &name=名称、&public=https://图片域名；密码和密钥不写在这里："
                       "SFTP 用 SSH 密钥，S3 用 AWS 凭据，FTP 和 WebDAV 用 ~/.netrc。"),
        this);
    forms->setObjectName(QStringLiteral("发布目标说明"));
    forms->setWordWrap(true);
    layout->addWidget(forms);

    auto* chosenRow = new QHBoxLayout;
    auto* chosenLabel = new QLabel(QStringLiteral("运行后使用的目标（名称，空为第一个）："), this);
    chosen_ = new QLineEdit(ToQString(choices.chosen), this);
    chosen_->setObjectName(QStringLiteral("编辑框使用的目标"));
    chosenLabel->setBuddy(chosen_);
    chosenRow->addWidget(chosenLabel);
    chosenRow->addWidget(chosen_);
    layout->addLayout(chosenRow);

    afterRun_ = new QCheckBox(QStringLiteral("运行后发布"), this);
    afterRun_->setObjectName(QStringLiteral("运行后发布"));
    afterRun_->setChecked(choices.afterRun);
    articles_ = new QCheckBox(QStringLiteral("同时发布文章"), this);
    articles_->setObjectName(QStringLiteral("同时发布文章"));
    articles_->setChecked(choices.articles);
    layout->addWidget(afterRun_);
    layout->addWidget(articles_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* now = buttons->addButton(QStringLiteral("立即发布"), QDialogButtonBox::AcceptRole);
    now->setObjectName(QStringLiteral("立即发布"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("确定"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::Ok), &QPushButton::clicked, this, [this] {
        publishNow_ = false;
        if (Check()) accept();
    });
    connect(now, &QPushButton::clicked, this, [this] {
        publishNow_ = true;
        if (Check()) accept();
    });
    layout->addWidget(buttons);
}

PublishChoices PublishDialog::choices() const {
    PublishChoices c;
    for (const QString& line : targets_->toPlainText().split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty() && c.targets.size() < job::kMaxPublishTargets)
            c.targets.push_back(ToGbk(line.trimmed()));
    }
    c.chosen = ToGbk(chosen_->text().trimmed());
    c.afterRun = afterRun_->isChecked();
    c.articles = articles_->isChecked();
    return c;
}

bool PublishDialog::Check() {
    const PublishChoices c = choices();
    std::vector<std::string> urls;
    for (const std::string& url : c.targets) urls.push_back(text::Utf8FromGbk(url));
    for (const std::string& url : urls) {
        std::string error;
        if (!publish::ResolveTarget(urls, url, error)) {
            QMessageBox::warning(this, windowTitle(), QString::fromStdString(error));
            return false;
        }
    }
    std::string error;
    if ((publishNow_ || c.afterRun) &&
        !publish::ResolveTarget(urls, text::Utf8FromGbk(c.chosen), error)) {
        QMessageBox::warning(this, windowTitle(), QString::fromStdString(error));
        return false;
    }
    return true;
}

std::optional<PublishChoices> PublishDialog::Ask(const PublishChoices& current, bool& publishNow,
                                                 QWidget* parent) {
    PublishDialog dialog(current, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    publishNow = dialog.publishNow();
    return dialog.choices();
}

}  // namespace zembrat::ui
