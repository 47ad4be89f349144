#include "ui/extension_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "job/option_table.h"
#include "ui/fonts.h"
#include "ui/prune_dialog.h"
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

// A caption, the option's box after it, and room for what follows the box.
QHBoxLayout* LabelledRow(QWidget* parent, QVBoxLayout* layout, const job::OptionDescriptor& d,
                         QWidget* box) {
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(QString::fromUtf8(d.caption), parent);
    label->setObjectName(QStringLiteral("标签") + QString::fromUtf8(d.controlName));
    label->setBuddy(box);
    row->addWidget(label);
    row->addWidget(box);
    layout->addLayout(row);
    return row;
}

// The option's control, showing text (the option's value as the settings file holds it), with
// its explanation below it. Its kind decides the control: a check box for a flag, a box of
// digits for a number that may be left empty (off), a spin box for one that may not, a folder's
// box with a chooser, a text's box, a list of the choices.
QWidget* AddControl(QDialog* parent, QVBoxLayout* layout, const job::OptionDescriptor& d,
                    const std::string& text) {
    const QString name = QString::fromUtf8(d.controlName);
    QWidget* control = nullptr;
    switch (d.kind) {
        case job::OptionKind::Flag: {
            auto* box = new QCheckBox(QString::fromUtf8(d.caption), parent);
            box->setObjectName(QStringLiteral("复选框") + name);
            box->setChecked(text == "1");
            layout->addWidget(box);
            control = box;
            break;
        }
        case job::OptionKind::Number:
            if (d.off) {
                auto* box = new QLineEdit(parent);
                box->setObjectName(QStringLiteral("编辑框") + name);
                box->setValidator(new QIntValidator(d.low, d.high, box));
                box->setMaximumWidth(80);
                if (text != std::to_string(*d.off)) box->setText(ToQString(text));
                control = box;
            } else {
                auto* box = new QSpinBox(parent);
                box->setObjectName(QStringLiteral("微调框") + name);
                box->setRange(d.low, d.high);
                box->setValue(std::stoi(text));
                box->setMaximumWidth(80);
                control = box;
            }
            LabelledRow(parent, layout, d, control)->addStretch();
            break;
        case job::OptionKind::Text:
        case job::OptionKind::Folder: {
            auto* box = new QLineEdit(ToQString(text), parent);
            box->setObjectName(QStringLiteral("编辑框") + name);
            control = box;
            QHBoxLayout* row = LabelledRow(parent, layout, d, box);
            if (d.kind != job::OptionKind::Folder) break;
            auto* choose = new QPushButton(QStringLiteral("..."), parent);
            choose->setObjectName(QStringLiteral("按钮选择") + name);
            choose->setMaximumWidth(32);
            row->addWidget(choose);
            QObject::connect(choose, &QPushButton::clicked, parent, [parent, box, name] {
                const QString chosen = QFileDialog::getExistingDirectory(
                    parent, QStringLiteral("选择") + name, box->text());
                if (!chosen.isEmpty()) box->setText(chosen);
            });
            break;
        }
        case job::OptionKind::Choice: {
            auto* box = new QComboBox(parent);
            box->setObjectName(QStringLiteral("组合框") + name);
            for (const job::OptionChoice& choice : d.choices) {
                box->addItem(QString::fromUtf8(choice.caption), QString::fromLatin1(choice.value));
                if (text == choice.value) box->setCurrentIndex(box->count() - 1);
            }
            control = box;
            LabelledRow(parent, layout, d, box)->addStretch();
            break;
        }
    }
    layout->addWidget(
        Explanation(parent,
                    QStringLiteral("标签说明") +
                        QString::fromUtf8(*d.explanationName ? d.explanationName : d.controlName),
                    QString::fromUtf8(d.explanation)));
    return control;
}

// What the control shows, as the settings file would hold it. An empty number box is the off
// value.
std::string ControlText(const job::OptionDescriptor& d, const QWidget* control) {
    if (const auto* box = qobject_cast<const QCheckBox*>(control))
        return box->isChecked() ? "1" : "0";
    if (const auto* box = qobject_cast<const QSpinBox*>(control))
        return std::to_string(box->value());
    if (const auto* box = qobject_cast<const QComboBox*>(control))
        return box->currentData().toString().toStdString();
    const QString typed = qobject_cast<const QLineEdit*>(control)->text().trimmed();
    if (d.kind == job::OptionKind::Number && typed.isEmpty()) return std::to_string(*d.off);
    return ToGbk(typed);
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

ExtensionDialog::ExtensionDialog(const job::ExtensionOptions& o, QWidget* parent,
                                 std::function<job::JobSettings()> shownSettings)
    : QDialog(parent), shownSettings_(std::move(shownSettings)) {
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
    // Under the options: where they are kept, and that the command line uses them too.
    auto* kept = new QLabel(QStringLiteral("这些选项保存在 Zembrat.ini 中，命令行运行（zembrat "
                                           "--run）也会使用它们。"),
                            this);
    kept->setObjectName(QStringLiteral("标签选项保存位置"));
    kept->setWordWrap(true);
    layout->addWidget(kept);

    for (const job::OptionDescriptor& d : job::OptionTable()) {
        if (d.place == job::DialogPlace::None) continue;
        QVBoxLayout* column = d.place == job::DialogPlace::Left ? left : right;
        controls_.push_back({&d, AddControl(this, column, d, d.Text(o))});
        // What goes with an option: the refresh button with incremental runs, the per-site
        // rules and the known placeholders with the hotlink option.
        if (d.field == job::OptionDescriptor::Field(&job::ExtensionOptions::incremental)) {
            refresh_ = new QPushButton(QStringLiteral("重新检查已转存的图片"), this);
            refresh_->setObjectName(QStringLiteral("按钮重新检查"));
            refresh_->setCheckable(true);
            refresh_->setEnabled(o.incremental);
            column->addWidget(refresh_, 0, Qt::AlignLeft);
            incremental_ = qobject_cast<QCheckBox*>(controls_.back().control);
            connect(incremental_, &QCheckBox::toggled, refresh_, &QPushButton::setEnabled);
        }
        if (d.field == job::OptionDescriptor::Field(&job::ExtensionOptions::hotlink))
            AddHotlinkLists(column, o);
    }

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
        if (const std::optional<PublishChoices> chosen =
                PublishDialog::Ask(publish_, now, this, published_ ? &*published_ : nullptr)) {
            publish_ = *chosen;
            publishNow_ = now;
            if (now) accept();
        }
    });
    AddPruneButton(buttons);
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

void ExtensionDialog::AddPruneButton(QHBoxLayout* buttons) {
    auto* prune = new QPushButton(QStringLiteral("清理未使用的图片…"), this);
    prune->setObjectName(QStringLiteral("按钮清理未使用的图片"));
    prune->setEnabled(static_cast<bool>(shownSettings_));
    buttons->addWidget(prune);
    connect(prune, &QPushButton::clicked, this, [this] {
        job::RunInputs inputs;
        inputs.settings = shownSettings_();
        inputs.options = options();
        PruneDialog(std::move(inputs), this).exec();
    });
}

void ExtensionDialog::AddHotlinkLists(QVBoxLayout* column, const job::ExtensionOptions& o) {
    QStringList rules, marks;
    for (const web::SiteRule& rule : o.siteRules) {
        if (!rule.hostPattern.empty()) rules << ToQString(web::SiteRuleText(rule));
    }
    for (const job::PlaceholderMark& mark : o.placeholders)
        marks << ToQString(job::PlaceholderText(mark));
    siteRules_ =
        ListEditor(this, column, QStringLiteral("站点规则"),
                   QStringLiteral("站点规则（每行一条：主机|来源页|浏览器标识|Cookie）："), rules);
    placeholders_ = ListEditor(this, column, QStringLiteral("占位图"),
                               QStringLiteral("已知占位图（每行一个：CRC32:字节数）："), marks);
}

job::ExtensionOptions ExtensionDialog::options() const {
    job::ExtensionOptions o;
    for (const auto& [option, control] : controls_) option->Set(o, ControlText(*option, control));
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

std::optional<job::ExtensionOptions> ExtensionDialog::Ask(
    const job::ExtensionOptions& current, QWidget* parent, bool* refreshNext, bool* publishNow,
    const WindowPublish* published, std::function<job::JobSettings()> shownSettings) {
    ExtensionDialog dialog(current, parent, std::move(shownSettings));
    if (published) dialog.published_ = *published;
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    if (refreshNext) *refreshNext = dialog.refreshNext();
    if (publishNow) *publishNow = dialog.publishNow_;
    return dialog.options();
}

}  // namespace zembrat::ui
