#include "ui/extension_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

namespace zembrat::ui {
namespace {

template <class T>
T* Child(QWidget& w, const char* name) {
    T* child = w.findChild<T*>(QString::fromUtf8(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// Clicks a button of the modal dialog once it is up.
void ClickWhenShown(const char* button) {
    QTimer::singleShot(0, [button] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        if (auto* b = dialog->findChild<QPushButton*>(QString::fromUtf8(button))) b->click();
    });
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
    EXPECT_EQ(dialog.findChildren<QCheckBox*>().size(), 8);
    EXPECT_EQ(dialog.findChildren<QLabel*>(QRegularExpression(QStringLiteral("^标签说明"))).size(),
              10);
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
    Child<QPushButton>(dialog, "按钮确定")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    job::ExtensionOptions expected;
    expected.https = expected.lazyImages = expected.htmlRules = expected.checkContent = true;
    expected.writeReport = true;
    expected.timeoutSeconds = 90;
    expected.downloadsAtOnce = 16;
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
    ASSERT_EQ(labels.size(), 10);
    for (QLabel* label : labels) {
        EXPECT_GE(label->height(), label->heightForWidth(label->width()))
            << label->objectName().toStdString();
    }
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
