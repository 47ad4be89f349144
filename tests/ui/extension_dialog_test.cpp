#include "ui/extension_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "job/option_table.h"
#include "support/gui_helpers.h"
#include "support/option_samples.h"
#include "text/codec.h"

namespace zembrat::ui {
namespace {

using testing::Child;

// Clicks a button of the modal dialog once it is up.
void ClickWhenShown(const char* button) {
    QTimer::singleShot(0, [button] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        if (auto* b = dialog->findChild<QPushButton*>(QString::fromUtf8(button))) b->click();
    });
}

// How many options of the table the dialog shows (of the kind, when given).
qsizetype Shown(std::optional<job::OptionKind> kind = std::nullopt) {
    qsizetype count = 0;
    for (const job::OptionDescriptor& d : job::OptionTable())
        count += d.place != job::DialogPlace::None && (!kind || d.kind == *kind);
    return count;
}

// Every option of the table that the dialog shows has its control, showing the option's value,
// and what is set there comes back from OK.
TEST(ExtensionDialog, EveryOptionOfTheTableHasItsControl) {
    for (const job::OptionDescriptor& d : job::OptionTable()) {
        if (d.place == job::DialogPlace::None) continue;
        SCOPED_TRACE(d.key);
        const std::string other = testing::NonDefaultText(d);
        job::ExtensionOptions set;
        d.Set(set, other);
        ExtensionDialog shown(set);
        EXPECT_EQ(shown.options(), set);

        ExtensionDialog dialog(job::ExtensionOptions{});
        const QString name = QString::fromUtf8(d.controlName);
        const QString explanation =
            QStringLiteral("标签说明") +
            QString::fromUtf8(*d.explanationName ? d.explanationName : d.controlName);
        EXPECT_EQ(Child<QLabel>(dialog, explanation.toUtf8().constData())->text(),
                  QString::fromUtf8(d.explanation));
        switch (d.kind) {
            case job::OptionKind::Flag: {
                auto* box = Child<QCheckBox>(dialog, ("复选框" + name).toUtf8().constData());
                EXPECT_EQ(box->text(), QString::fromUtf8(d.caption));
                box->setChecked(other == "1");
                break;
            }
            case job::OptionKind::Number:
                if (d.off) {
                    Child<QLineEdit>(dialog, ("编辑框" + name).toUtf8().constData())
                        ->setText(QString::fromStdString(other));
                } else {
                    Child<QSpinBox>(dialog, ("微调框" + name).toUtf8().constData())
                        ->setValue(std::stoi(other));
                }
                break;
            case job::OptionKind::Text:
            case job::OptionKind::Folder:
                Child<QLineEdit>(dialog, ("编辑框" + name).toUtf8().constData())
                    ->setText(QString::fromStdString(other));
                break;
            case job::OptionKind::Choice: {
                auto* box = Child<QComboBox>(dialog, ("组合框" + name).toUtf8().constData());
                box->setCurrentIndex(box->findData(QString::fromStdString(other)));
                break;
            }
        }
        if (d.kind != job::OptionKind::Flag) {
            EXPECT_EQ(Child<QLabel>(dialog, ("标签" + name).toUtf8().constData())->text(),
                      QString::fromUtf8(d.caption));
        }
        EXPECT_EQ(dialog.options(), set);
    }
}

TEST(ExtensionDialog, ShowsTheOptionsAndOkGivesWhatWasSet) {
    job::ExtensionOptions start;
    start.markdown = true;
    start.timeoutSeconds = 45;
    start.downloadsAtOnce = 3;
    ExtensionDialog dialog(start);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("扩展选项"));
    EXPECT_TRUE(dialog.isModal());
    EXPECT_EQ(dialog.options(), start);
    EXPECT_EQ(Child<QLineEdit>(dialog, "编辑框下载超时")->text(), QStringLiteral("45"));
    EXPECT_EQ(Child<QCheckBox>(dialog, "复选框转存https图片")->text(),
              QStringLiteral("转存 https 图片"));
    EXPECT_EQ(dialog.findChildren<QCheckBox*>().size(), Shown(job::OptionKind::Flag));
    EXPECT_EQ(dialog.findChildren<QLabel*>(QRegularExpression(QStringLiteral("^标签说明"))).size(),
              Shown());
    auto* atOnce = Child<QSpinBox>(dialog, "微调框同时下载数");
    EXPECT_EQ(atOnce->value(), 3);
    EXPECT_EQ(atOnce->minimum(), 1);
    EXPECT_EQ(atOnce->maximum(), 16);

    Child<QCheckBox>(dialog, "复选框转存https图片")->setChecked(true);
    Child<QCheckBox>(dialog, "复选框延迟加载")->setChecked(true);
    Child<QCheckBox>(dialog, "复选框网页规则")->setChecked(true);
    Child<QCheckBox>(dialog, "复选框检查内容")->setChecked(true);
    Child<QCheckBox>(dialog, "复选框Markdown")->setChecked(false);
    Child<QCheckBox>(dialog, "复选框写出报告")->setChecked(true);
    auto* timeout = Child<QLineEdit>(dialog, "编辑框下载超时");
    timeout->clear();
    QTest::keyClicks(timeout, QStringLiteral("9x0"));  // the box takes digits only
    atOnce->setValue(40);                              // held within 1..16
    Child<QCheckBox>(dialog, "复选框包含子目录")->setChecked(true);
    Child<QLineEdit>(dialog, "编辑框结果目录")->setText(QStringLiteral(" /tmp/输出 "));
    Child<QPushButton>(dialog, "按钮确定")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    job::ExtensionOptions expected;
    expected.https = expected.lazyImages = expected.htmlRules = expected.checkContent = true;
    expected.writeReport = true;
    expected.timeoutSeconds = 90;
    expected.downloadsAtOnce = 16;
    expected.recursive = true;
    expected.outputFolder = text::GbkFromUtf8("/tmp/输出");
    EXPECT_EQ(dialog.options(), expected);

    timeout->clear();  // empty: the usual waits
    EXPECT_EQ(dialog.options().timeoutSeconds, 0);
}

TEST(ExtensionDialog, EveryExplanationShowsWhole) {
    ExtensionDialog dialog(job::ExtensionOptions{});
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const auto labels =
        dialog.findChildren<QLabel*>(QRegularExpression(QStringLiteral("^标签说明")));
    ASSERT_EQ(labels.size(), Shown());
    for (QLabel* label : labels) {
        EXPECT_GE(label->height(), label->heightForWidth(label->width()))
            << label->objectName().toStdString();
    }
}

// Under the options the dialog says where they are kept and that command-line runs use them, in
// full and below every option's control.
TEST(ExtensionDialog, SaysTheOptionsAreKeptForTheCommandLineToo) {
    ExtensionDialog dialog(job::ExtensionOptions{});
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    auto* kept = Child<QLabel>(dialog, "标签选项保存位置");
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(kept->isVisible());
    EXPECT_TRUE(kept->text().contains(QStringLiteral("Zembrat.ini")));
    EXPECT_TRUE(kept->text().contains(QStringLiteral("命令行")));
    EXPECT_GE(kept->height(), kept->heightForWidth(kept->width()));
    const int top = kept->mapTo(&dialog, QPoint(0, 0)).y();
    for (QWidget* control : dialog.findChildren<QWidget*>(
             QRegularExpression(QStringLiteral("^(复选框|微调框|编辑框|组合框)"))))
        EXPECT_LT(control->mapTo(&dialog, QPoint(0, 0)).y(), top)
            << control->objectName().toStdString();
}

TEST(ExtensionDialog, IncrementalRunsAndTheButtonThatMakesTheNextOneARefresh) {
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* refresh = dialog->findChild<QPushButton*>(QStringLiteral("按钮重新检查"));
        ASSERT_NE(refresh, nullptr);
        EXPECT_EQ(refresh->text(), QStringLiteral("重新检查已转存的图片"));
        EXPECT_FALSE(refresh->isEnabled());  // only under the option
        dialog->findChild<QCheckBox*>(QStringLiteral("复选框增量运行"))->setChecked(true);
        EXPECT_TRUE(refresh->isEnabled());
        refresh->click();
        dialog->findChild<QPushButton*>(QStringLiteral("按钮确定"))->click();
    });
    bool refreshNext = false;
    const std::optional<job::ExtensionOptions> chosen =
        ExtensionDialog::Ask(job::ExtensionOptions{}, nullptr, &refreshNext);
    ASSERT_TRUE(chosen);
    EXPECT_TRUE(chosen->incremental);
    EXPECT_TRUE(refreshNext);
    ClickWhenShown("按钮确定");
    EXPECT_EQ(ExtensionDialog::Ask(*chosen, nullptr, &refreshNext), chosen);
    EXPECT_FALSE(refreshNext);  // a refresh is asked for each time anew
}

TEST(ExtensionDialog, AskGivesTheSetOptionsOnOkAndNothingOnCancel) {
    job::ExtensionOptions start;
    start.https = true;
    ClickWhenShown("按钮确定");
    EXPECT_EQ(ExtensionDialog::Ask(start), start);

    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QCheckBox*>(QStringLiteral("复选框检查内容"))->setChecked(true);
        dialog->findChild<QPushButton*>(QStringLiteral("按钮取消"))->click();
    });
    EXPECT_EQ(ExtensionDialog::Ask(start), std::nullopt);
}

TEST(ExtensionDialog, ShowsTheHotlinkOptionItsRulesAndPlaceholders) {
    job::ExtensionOptions start;
    start.hotlink = true;
    start.siteRules = {{"*.sinaimg.cn", "http://weibo.com/", "", "sid=1"}};
    start.placeholders = {{0xAB, 173}};
    ExtensionDialog dialog(start);
    EXPECT_EQ(dialog.options(), start);
    auto* hotlink = Child<QCheckBox>(dialog, "复选框防盗链处理");
    EXPECT_EQ(hotlink->text(), QStringLiteral("防盗链处理"));
    EXPECT_TRUE(hotlink->isChecked());
    auto* rules = Child<QPlainTextEdit>(dialog, "编辑框站点规则");
    auto* marks = Child<QPlainTextEdit>(dialog, "编辑框占位图");
    EXPECT_EQ(rules->toPlainText(), QStringLiteral("*.sinaimg.cn|http://weibo.com/||sid=1"));
    EXPECT_EQ(marks->toPlainText(), QStringLiteral("000000ab:173"));

    hotlink->setChecked(false);
    rules->setPlainText(
        QStringLiteral(" mmbiz.qpic.cn|||\nnot|a|rule|at|all\n\nimg.*|http://p/|UA|"));
    marks->setPlainText(QStringLiteral("000000ab:173\nnonsense\n12345678:9"));
    const job::ExtensionOptions o = dialog.options();
    EXPECT_FALSE(o.hotlink);
    EXPECT_EQ(o.siteRules, (std::vector<web::SiteRule>{{"mmbiz.qpic.cn", "", "", ""},
                                                       {"img.*", "http://p/", "UA", ""}}));
    EXPECT_EQ(o.placeholders, (std::vector<job::PlaceholderMark>{{0xAB, 173}, {0x12345678, 9}}));
    EXPECT_EQ(job::ExtensionOptions{}.hotlink, false);
}

}  // namespace
}  // namespace zembrat::ui
