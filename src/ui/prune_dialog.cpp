#include "ui/prune_dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "text/codec.h"
#include "ui/fonts.h"
#include "ui/qt_text.h"

namespace zembrat::ui {
namespace {

using namespace text::literals;

std::string Number(std::size_t n) {
    return std::to_string(n);
}

}  // namespace

PruneDialog::PruneDialog(job::RunInputs inputs, QWidget* parent, MirrorOpener openMirror)
    : QDialog(parent), inputs_(std::move(inputs)), openMirror_(std::move(openMirror)) {
    setObjectName(QStringLiteral("清理图片窗口"));
    setWindowTitle(QStringLiteral("清理未使用的图片"));
    setModal(true);
    setFont(SimSun(12));
    auto* layout = new QVBoxLayout(this);
    auto* caption = new QLabel(
        QStringLiteral(
            "下列图片没有任何文章使用（按运行记录和文章目录中的文章重新读出的引用判断）。"
            "移动后放在结果目录的回收站（.zembrat-trash）中，可以恢复。"),
        this);
    caption->setObjectName(QStringLiteral("标签清理说明"));
    caption->setWordWrap(true);
    layout->addWidget(caption);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("列表未使用的图片"));
    list_->setMinimumSize(420, 180);
    layout->addWidget(list_);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("标签清理结果"));
    status_->setWordWrap(true);
    layout->addWidget(status_);

    auto* moveRow = new QHBoxLayout;
    move_ = new QPushButton(QStringLiteral("移到回收站"), this);
    move_->setObjectName(QStringLiteral("按钮移到回收站"));
    force_ = new QCheckBox(QStringLiteral("超过上限也移动"), this);
    force_->setObjectName(QStringLiteral("复选框超过上限也移动"));
    moveRow->addWidget(move_);
    moveRow->addWidget(force_);
    moveRow->addStretch();
    layout->addLayout(moveRow);

    auto* trashRow = new QHBoxLayout;
    auto* restore = new QPushButton(QStringLiteral("恢复上次清理"), this);
    restore->setObjectName(QStringLiteral("按钮恢复上次清理"));
    auto* empty = new QPushButton(QStringLiteral("清空回收站"), this);
    empty->setObjectName(QStringLiteral("按钮清空回收站"));
    days_ = new QSpinBox(this);
    days_->setObjectName(QStringLiteral("微调框回收站天数"));
    days_->setRange(0, job::kMaxTrashDays);
    days_->setValue(job::kTrashDaysKept);
    trashRow->addWidget(restore);
    trashRow->addWidget(empty);
    trashRow->addWidget(new QLabel(QStringLiteral("只删除早于"), this));
    trashRow->addWidget(days_);
    trashRow->addWidget(new QLabel(QStringLiteral("天的回收站"), this));
    trashRow->addStretch();
    layout->addLayout(trashRow);

    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("按钮关闭"));
    layout->addWidget(close, 0, Qt::AlignRight);

    connect(move_, &QPushButton::clicked, this, [this] { Move(); });
    connect(restore, &QPushButton::clicked, this, [this] { RestoreLast(); });
    connect(empty, &QPushButton::clicked, this, [this] { EmptyOld(); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    List();
}

job::TrashOutcome PruneDialog::Do(job::TrashAction action, bool dryRun) {
    job::TrashRequest request;
    request.action = action;
    request.inputs = inputs_;
    request.dryRun = dryRun;
    request.force = force_->isChecked();
    request.days = days_->value();
    // A list moves nothing, here or there: the target is opened only to act.
    std::unique_ptr<job::TrashMirror> mirror;
    if (openMirror_ && !dryRun) {
        std::string error;
        mirror = openMirror_(error);
        if (!mirror) {
            status_->setText(ToQString("无法打开发布目标："_gbk + text::GbkFromUtf8(error)));
            job::TrashOutcome none;
            none.end = job::TrashEnd::Failed;
            return none;
        }
        request.mirror = mirror.get();
    }
    const job::TrashOutcome outcome = job::DoTrash(request);
    if (!dryRun || outcome.end != job::TrashEnd::Done) {
        std::string told = OutcomeText(outcome, request);
        if (mirror && outcome.end == job::TrashEnd::Done)
            told += "发布目标 "_gbk + text::GbkFromUtf8(mirror->Name()) + "：完成 "_gbk +
                    Number(outcome.CountMirror(job::TrashStepEnd::Done)) + " 个，跳过 "_gbk +
                    Number(outcome.CountMirror(job::TrashStepEnd::Skipped)) + " 个，拒绝 "_gbk +
                    Number(outcome.CountMirror(job::TrashStepEnd::Refused)) + " 个，失败 "_gbk +
                    Number(outcome.CountMirror(job::TrashStepEnd::Failed)) + " 个。"_gbk;
        status_->setText(ToQString(told));
    }
    return outcome;
}

void PruneDialog::List() {
    list_->clear();
    const job::TrashOutcome listed = Do(job::TrashAction::Prune, true);
    for (const job::TrashEntry& e : listed.files) list_->addItem(ToQString(e.file.path));
    const bool listable =
        listed.end == job::TrashEnd::Done || listed.end == job::TrashEnd::OverBound;
    move_->setEnabled(listable && !listed.files.empty());
    if (listed.end == job::TrashEnd::Done)
        status_->setText(ToQString(listed.files.empty()
                                       ? "没有未使用的图片。"_gbk
                                       : "共 "_gbk + Number(listed.images) + " 个图片，"_gbk +
                                             Number(listed.files.size()) + " 个未使用。"_gbk));
}

void PruneDialog::Move() {
    Do(job::TrashAction::Prune, false);
    const QString told = status_->text();
    List();
    status_->setText(told);
}

void PruneDialog::RestoreLast() {
    Do(job::TrashAction::Restore, false);
    const QString told = status_->text();
    List();
    status_->setText(told);
}

void PruneDialog::EmptyOld() {
    Do(job::TrashAction::Empty, false);
}

std::string PruneDialog::OutcomeText(const job::TrashOutcome& o, const job::TrashRequest& asked) {
    using End = job::TrashFileEnd;
    const std::string failed =
        o.Count(End::Failed) ? "，"_gbk + Number(o.Count(End::Failed)) + " 个失败"_gbk : "";
    switch (o.end) {
        case job::TrashEnd::Done:
            break;
        case job::TrashEnd::StartRefused: {
            job::RunResult result;
            result.end = o.runEnd;
            return job::RunEndMessage(result, asked.inputs.settings);
        }
        case job::TrashEnd::InUse:
            return "结果目录正在被另一次运行使用："_gbk + o.resultFolder;
        case job::TrashEnd::RecordMissing:
            return "结果目录中没有运行记录，无法判断哪些图片没有使用。请在扩展选项中打开增量运行，"
                   "运行一次后再清理。"_gbk;
        case job::TrashEnd::RecordDamaged:
            return "运行记录无法读取，没有移动任何图片："_gbk + text::GbkFromUtf8(o.detail);
        case job::TrashEnd::RecordStale:
            return "文章“"_gbk + o.detail +
                   "”在上次运行之后改过（或上次运行没有读到它），请先运行一次再清理。"_gbk;
        case job::TrashEnd::NotReadWhole:
            return "文章“"_gbk + o.detail +
                   "”无法完整读出，不能确定它用到的图片，没有移动任何图片。"_gbk;
        case job::TrashEnd::OverBound:
            return "未使用的图片有 "_gbk + Number(o.files.size()) + " 个（共 "_gbk +
                   Number(o.images) + " 个），超过 "_gbk + Number(job::kMaxPrunedFiles) +
                   " 个或超过一半，不一次移动。确实要移动，请勾选“超过上限也移动”。"_gbk;
        case job::TrashEnd::NoTrash:
            return "没有可以恢复的回收站。"_gbk;
        case job::TrashEnd::Failed:
            return "无法创建回收站目录。"_gbk;
    }
    const std::string stamp = o.stamps.empty() ? std::string() : o.stamps.back();
    switch (asked.action) {
        case job::TrashAction::Prune:
            return o.Count(End::Moved) == 0 && failed.empty()
                       ? "没有未使用的图片。"_gbk
                       : "已将 "_gbk + Number(o.Count(End::Moved)) + " 个图片移到回收站 "_gbk +
                             stamp + failed + "。"_gbk;
        case job::TrashAction::Restore:
            return "已从回收站 "_gbk + stamp + " 恢复 "_gbk + Number(o.Count(End::Restored)) +
                   " 个图片"_gbk +
                   (o.Count(End::Refused) ? "，"_gbk + Number(o.Count(End::Refused)) +
                                                " 个因同名文件已换成别的内容而留在回收站"_gbk
                                          : std::string()) +
                   failed + "。"_gbk;
        case job::TrashAction::Empty:
            return "已清空 "_gbk + Number(o.stamps.size()) + " 个回收站，删除 "_gbk +
                   Number(o.Count(End::Deleted)) + " 个文件"_gbk + failed + "。"_gbk;
    }
    return {};
}

}  // namespace zembrat::ui
