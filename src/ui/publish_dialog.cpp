#include "ui/publish_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <atomic>
#include <chrono>
#include <thread>

#include "job/extension_options.h"
#include "job/image_names.h"
#include "job/settings_table.h"
#include "publish/public_copies.h"
#include "publish/target_list.h"
#include "text/codec.h"
#include "text/gbk.h"
#include "ui/fonts.h"
#include "ui/keyring.h"
#include "ui/publish_words.h"
#include "ui/qt_text.h"
#include "ui/target_form.h"
#include "ui/target_probe.h"

namespace zembrat::ui {
namespace {

using namespace text::literals;

void Pump() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The name a kept URL (GBK) is listed under.
QString ListedName(const std::string& url) {
    if (url.empty()) return QStringLiteral("（新目标）");
    return QString::fromStdString(publish::TargetName(text::Utf8FromGbk(url)));
}

}  // namespace

PublishDialog::PublishDialog(const PublishChoices& choices, QWidget* parent,
                             const WindowPublish* result)
    : QDialog(parent) {
    if (result) result_ = *result;
    setObjectName(QStringLiteral("发布到网站窗口"));
    setWindowTitle(QStringLiteral("发布到网站"));
    setModal(true);
    setFont(SimSun(12));
    auto* layout = new QVBoxLayout(this);
    auto* columns = new QHBoxLayout;
    layout->addLayout(columns, 1);

    // The kept targets, one a row; the chosen one is edited in the form beside.
    auto* left = new QVBoxLayout;
    auto* label = new QLabel(QStringLiteral("发布目标："), this);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("列表框发布目标"));
    list_->setMinimumWidth(180);
    label->setBuddy(list_);
    auto* add = new QPushButton(QStringLiteral("新建目标"), this);
    add->setObjectName(QStringLiteral("按钮新建目标"));
    auto* remove = new QPushButton(QStringLiteral("删除目标"), this);
    remove->setObjectName(QStringLiteral("按钮删除目标"));
    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(add);
    listButtons->addWidget(remove);
    left->addWidget(label);
    left->addWidget(list_, 1);
    left->addLayout(listButtons);
    columns->addLayout(left);

    auto* right = new QVBoxLayout;
    form_ = new TargetForm(this);
    form_->setObjectName(QStringLiteral("目标表单"));
    form_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    right->addWidget(form_);
    auto* tests = new QHBoxLayout;
    auto* test = new QPushButton(QStringLiteral("测试连接"), this);
    test->setObjectName(QStringLiteral("按钮测试连接"));
    auto* verify = new QPushButton(QStringLiteral("检查公开副本"), this);
    verify->setObjectName(QStringLiteral("按钮检查公开副本"));
    verify->setToolTip(
        QStringLiteral("从公开地址取回已发布的每张图片，与它的文件名（CRC-32）比对"));
    tests->addWidget(test);
    tests->addWidget(verify);
    tests->addStretch();
    right->addLayout(tests);
    said_ = new QLabel(this);
    said_->setObjectName(QStringLiteral("标签测试结果"));
    said_->setWordWrap(true);
    said_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    right->addWidget(said_);
    copies_ = new QTreeWidget(this);
    copies_->setObjectName(QStringLiteral("列表框公开副本"));
    copies_->setHeaderLabels(
        {QStringLiteral("文件"), QStringLiteral("结果"), QStringLiteral("原因")});
    copies_->setRootIsDecorated(false);
    copies_->header()->setStretchLastSection(true);
    copies_->setVisible(false);
    right->addWidget(copies_, 1);
    right->addStretch();
    columns->addLayout(right, 1);

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
    auto* secrets = new QLabel(QStringLiteral("密码和密钥保存在系统钥匙串里，不写入 Zembrat.ini；"
                                              "命令行也从钥匙串读取（在环境变量和凭据文件之后）。"),
                               this);
    secrets->setObjectName(QStringLiteral("发布目标说明"));
    secrets->setWordWrap(true);
    layout->addWidget(secrets);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* now = buttons->addButton(QStringLiteral("立即发布"), QDialogButtonBox::AcceptRole);
    now->setObjectName(QStringLiteral("立即发布"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("确定"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::Ok), &QPushButton::clicked, this, [this] {
        publishNow_ = false;
        if (Check() && KeepSecrets()) accept();
    });
    connect(now, &QPushButton::clicked, this, [this] {
        publishNow_ = true;
        if (Check() && KeepSecrets()) accept();
    });
    layout->addWidget(buttons);

    for (const std::string& url : choices.targets) {
        rows_.push_back({url, {}, {}});
        list_->addItem(ListedName(url));
    }
    connect(list_, &QListWidget::currentRowChanged, this, &PublishDialog::Select);
    connect(form_, &TargetForm::edited, this, &PublishDialog::FormEdited);
    connect(add, &QPushButton::clicked, this, [this] {
        rows_.push_back({{}, {}, "请填写新目标。"_gbk});
        list_->addItem(ListedName({}));
        list_->setCurrentRow(list_->count() - 1);
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        const int row = list_->currentRow();
        if (row < 0) return;
        rows_.erase(rows_.begin() + row);
        delete list_->takeItem(row);
        Select(list_->currentRow());
    });
    connect(test, &QPushButton::clicked, this, [this] { TestConnection(); });
    connect(verify, &QPushButton::clicked, this, [this] { VerifyCopies(); });
    if (rows_.empty()) add->click();
    list_->setCurrentRow(0);
    resize(860, 620);
}

void PublishDialog::Select(int row) {
    showing_ = true;
    if (row < 0 || row >= static_cast<int>(rows_.size())) {
        form_->Clear();
    } else if (!rows_[row].url.empty() && !form_->Show(text::Utf8FromGbk(rows_[row].url))) {
        std::string error;
        publish::ResolveTarget({}, text::Utf8FromGbk(rows_[row].url), error);
        Say("这一行不是发布目标的地址："_gbk + PublishWords(error));
    }
    form_->setEnabled(row >= 0);
    showing_ = false;
}

void PublishDialog::FormEdited() {
    const int row = list_->currentRow();
    if (showing_ || row < 0) return;
    Row& r = rows_[static_cast<std::size_t>(row)];
    std::string error;
    if (const std::optional<std::string> url = form_->Url(error)) {
        r.url = text::GbkFromUtf8(*url);
        r.error.clear();
        list_->item(row)->setText(ListedName(r.url));
    } else {
        r.error = error;
    }
    // An empty secret field leaves the secret typed before (or the kept one) as it is.
    if (!form_->Secret().empty()) r.secret = form_->Secret();
}

void PublishDialog::Say(const std::string& gbk) {
    said_->setText(ToQString(gbk));
}

std::vector<std::string> PublishDialog::Urls() const {
    std::vector<std::string> urls;
    for (const Row& row : rows_)
        if (!row.url.empty()) urls.push_back(text::Utf8FromGbk(row.url));
    return urls;
}

PublishChoices PublishDialog::choices() const {
    PublishChoices c;
    for (const Row& row : rows_)
        if (!row.url.empty() && c.targets.size() < job::kMaxPublishTargets)
            c.targets.push_back(row.url);
    c.chosen = ToGbk(chosen_->text().trimmed());
    c.afterRun = afterRun_->isChecked();
    c.articles = articles_->isChecked();
    return c;
}

bool PublishDialog::Check() {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].error.empty()) continue;
        // A new row left empty is no target: it is not kept.
        if (rows_[i].url.empty() && rows_[i].secret.empty()) continue;
        list_->setCurrentRow(static_cast<int>(i));
        QMessageBox::warning(this, windowTitle(), ToQString(rows_[i].error));
        return false;
    }
    const std::vector<std::string> urls = Urls();
    for (const std::string& url : urls) {
        std::string error;
        if (!publish::ResolveTarget(urls, url, error)) {
            QMessageBox::warning(this, windowTitle(), ToQString(PublishWords(error)));
            return false;
        }
    }
    std::string error;
    if ((publishNow_ || afterRun_->isChecked()) &&
        !publish::ResolveTarget(urls, text::Utf8FromGbk(ToGbk(chosen_->text().trimmed())), error)) {
        QMessageBox::warning(this, windowTitle(), ToQString(PublishWords(error)));
        return false;
    }
    return true;
}

bool PublishDialog::KeepSecrets() {
    for (Row& row : rows_) {
        if (row.secret.empty() || row.url.empty()) continue;
        std::string error;
        const std::optional<publish::Target> target =
            publish::ResolveTarget({}, text::Utf8FromGbk(row.url), error);
        if (!target) continue;
        const KeyringResult kept = KeepSecret(publish::TargetPlace(*target), row.secret);
        if (kept.answer == KeyringAnswer::Done) {
            row.secret.clear();
            continue;
        }
        const QString name = QString::fromStdString(target->name);
        QMessageBox::warning(
            this, windowTitle(),
            kept.answer == KeyringAnswer::NoKeyring
                ? QStringLiteral("没有找到系统的钥匙串服务（Secret Service），%1 的密码或密钥"
                                 "没有保存。请启动桌面的钥匙串（如 GNOME 钥匙串、KWallet）后再试，"
                                 "或改用凭据文件（~/.aws/credentials、~/.netrc）。")
                      .arg(name)
                : QStringLiteral("系统钥匙串拒绝保存 %1 的密码或密钥（可能它还锁着），"
                                 "密码或密钥没有保存。")
                      .arg(name));
        return false;
    }
    return true;
}

std::string PublishDialog::TestConnection() {
    const int row = list_->currentRow();
    copies_->setVisible(false);
    if (row < 0 || rows_[row].url.empty()) {
        Say(row < 0 ? "请先选择一个目标。"_gbk : rows_[row].error);
        return ToGbk(said_->text());
    }
    std::string error;
    const std::optional<publish::Target> target =
        publish::ResolveTarget({}, text::Utf8FromGbk(rows_[row].url), error);
    if (!target) {
        Say(PublishWords(error));
        return ToGbk(said_->text());
    }
    Say("正在连接……"_gbk);
    publish::Credentials credentials;
    credentials.password = rows_[row].secret;
    const std::string lookAt = result_ && !result_->imageFolder.empty()
                                   ? text::Utf8FromGbk(result_->imageFolder)
                                   : text::Utf8FromGbk(job::ImageFolderBelow(
                                         job::DefaultSettingValues({}).settings.imageFolder));
    // The dialog waits for the answer: no second test, no OK meanwhile.
    setEnabled(false);
    TargetProbe probe = ProbeTarget(*target, credentials, KeyringSecret, lookAt, Pump);
    setEnabled(true);
    if (probe.hostKeyUnknown) {
        if (QMessageBox::question(this, windowTitle(),
                                  ToQString(NewHostKeyQuestion(probe.fingerprint))) !=
            QMessageBox::Yes) {
            Say("没有连接：没有信任这个主机的密钥。"_gbk);
            return ToGbk(said_->text());
        }
        credentials.acceptNewHostKey = true;
        setEnabled(false);
        probe = ProbeTarget(*target, credentials, KeyringSecret, lookAt, Pump);
        setEnabled(true);
    }
    Say(ProbeWords(*target, probe, lookAt));
    return ToGbk(said_->text());
}

std::string PublishDialog::VerifyCopies() {
    const int row = list_->currentRow();
    copies_->clear();
    copies_->setVisible(false);
    if (row < 0 || rows_[row].url.empty()) {
        Say("请先选择一个目标。"_gbk);
        return ToGbk(said_->text());
    }
    if (!result_ || result_->resultFolder.empty()) {
        Say("还不知道结果文件夹：请先在主窗口填写文章目录。"_gbk);
        return ToGbk(said_->text());
    }
    publish::ResultPublishRequest asked;
    asked.resultFolder = result_->resultFolder;
    asked.imageFolder = result_->imageFolder;
    asked.articleFilter = result_->articleFilter;
    asked.keptTargets = Urls();
    asked.target = text::Utf8FromGbk(rows_[row].url);
    Say("正在检查公开副本……"_gbk);
    publish::PublicCopies copies;
    std::atomic<bool> done = false;
    setEnabled(false);
    std::thread worker([&] {
        copies = publish::CheckPublicCopies(asked, result_->uploads, {}, {});
        done = true;
    });
    while (!done) {
        Pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    worker.join();
    setEnabled(true);
    const std::string name = copies.target ? text::GbkFromUtf8(copies.target->name) : std::string();
    if (copies.end != publish::ResultPublishEnd::Published) {
        if (copies.target && copies.target->publicAddress.empty())
            Say(name + " 没有公开地址：请在表单里填写公开地址，才能检查公开副本。"_gbk);
        else if (copies.end == publish::ResultPublishEnd::NothingToPublish)
            Say("还没有发布到 "_gbk + name + " 的图片。"_gbk);
        else if (copies.end == publish::ResultPublishEnd::RecordFailed)
            Say("结果文件夹里的运行记录无法打开。"_gbk);
        else
            Say(PublishWords(copies.message));
        return ToGbk(said_->text());
    }
    using publish::CopyOutcome;
    for (const publish::CopyCheck& copy : copies.copies) {
        if (copy.outcome == CopyOutcome::Same) continue;
        auto* item = new QTreeWidgetItem(copies_);
        item->setText(0, QString::fromStdString(copy.remotePath));
        item->setToolTip(0, QString::fromStdString(copy.address));
        item->setText(1, ToQString(CopyOutcomeWords(copy.outcome)));
        item->setText(2, ToQString(CopyWhyWords(copy)));
    }
    copies_->setVisible(copies_->topLevelItemCount() > 0);
    const auto count = [&copies](CopyOutcome outcome) {
        return std::to_string(copies.Count(outcome));
    };
    Say("检查了 "_gbk + name + " 的 "_gbk + std::to_string(copies.copies.size()) +
        " 个公开副本：相同 "_gbk + count(CopyOutcome::Same) + " 个，缺失 "_gbk +
        count(CopyOutcome::Missing) + " 个，内容不同 "_gbk + count(CopyOutcome::Different) +
        " 个，不是图片 "_gbk + count(CopyOutcome::NotAnImage) + " 个，无法访问 "_gbk +
        count(CopyOutcome::Unreachable) + " 个。"_gbk);
    return ToGbk(said_->text());
}

std::optional<PublishChoices> PublishDialog::Ask(const PublishChoices& current, bool& publishNow,
                                                 QWidget* parent, const WindowPublish* result) {
    PublishDialog dialog(current, parent, result);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    publishNow = dialog.publishNow();
    return dialog.choices();
}

}  // namespace zembrat::ui
