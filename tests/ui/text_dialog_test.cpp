#include "ui/text_dialog.h"

#include <gtest/gtest.h>

#include <QFrame>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

#include <QRegularExpression>
#include "support/gui_helpers.h"

#include "ui/help.h"

namespace zembrat::ui {
namespace {

using testing::Child;

TEST(TextDialog, ShapedForReadingWithTheDefaultTitle) {
    TextDialogRequest request;
    request.content = QStringLiteral("第一行\r\n第二行");
    TextDialog dialog(request);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Qorv："));
    EXPECT_EQ(dialog.margin(), 5);
    auto* content = Child<QPlainTextEdit>(dialog, "编辑框正文");
    ASSERT_NE(content, nullptr);
    EXPECT_TRUE(content->isReadOnly());
    EXPECT_EQ(content->toPlainText(), QStringLiteral("第一行\n第二行"));
    EXPECT_EQ(content->font().family(), QStringLiteral("SimSun"));
    EXPECT_EQ(content->font().pixelSize(), 15);
    auto* close = Child<QPushButton>(dialog, "按钮取消");
    EXPECT_EQ(close->text(), QStringLiteral("关闭(&G)"));
    EXPECT_TRUE(close->isDefault());
    dialog.show();
    EXPECT_FALSE(Child<QPushButton>(dialog, "按钮确定")->isVisible());
    EXPECT_FALSE(Child<QFrame>(dialog, "外形框")->isVisible());
    EXPECT_EQ(dialog.focusWidget(), content);

    request.title = QStringLiteral("说明");
    request.margin = 9;
    TextDialog titled(request);
    EXPECT_EQ(titled.windowTitle(), QStringLiteral("说明"));
    EXPECT_EQ(titled.margin(), 9);
}

TEST(TextDialog, CentredOnTheScreen) {
    TextDialogRequest request;
    TextDialog dialog(request);
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    const int outerW = dialog.width() + 8, outerH = dialog.height() + 31;  // the designed 495 x 393
    EXPECT_EQ(outerW, 495);
    EXPECT_EQ(outerH, 393);
    EXPECT_EQ(dialog.pos(), QPoint(static_cast<int>(screen.width() / 2.0 - outerW / 2.0),
                                   static_cast<int>((screen.height() - 30) / 2.0 - outerH / 2.0)));
}

TEST(TextDialog, LayoutFollowsTheWindowSize) {
    TextDialogRequest request;
    request.content = QStringLiteral("x");
    TextDialog dialog(request);
    auto* hint = Child<QPlainTextEdit>(dialog, "编辑框提示");
    auto* content = Child<QPlainTextEdit>(dialog, "编辑框正文");
    auto* band = Child<QFrame>(dialog, "外形框");
    auto* close = Child<QPushButton>(dialog, "按钮取消");
    auto* ok = Child<QPushButton>(dialog, "按钮确定");
    dialog.show();
    for (const QSize size : {QSize(487, 362), QSize(640, 480), QSize(301, 217)}) {
        SCOPED_TRACE(size.width());
        dialog.resize(size);
        const int cw = size.width(), ch = size.height();
        EXPECT_EQ(hint->geometry(), QRect(5, 5, cw - 10, 0));
        EXPECT_EQ(content->geometry(), QRect(5, 10, cw - 10, ch - 10 - 34));
        EXPECT_EQ(band->geometry(), QRect(5, ch - 34, 336, 34));
        EXPECT_EQ(close->geometry(), QRect(cw - 5 - 64, ch - 34 + 17 - 12, 64, 24));
        EXPECT_EQ(ok->pos(), QPoint(cw - 5 - 128, ch - 34 + 5));
    }
}

TEST(TextDialog, HintHeightRule) {
    EXPECT_EQ(HintHeight(QString(), 400), 0);
    EXPECT_EQ(HintHeight(QStringLiteral("short"), 400), 12);
    // 66 cells a row at 400 pixels: 67 bytes take two rows; a Chinese character is two bytes.
    EXPECT_EQ(HintHeight(QString(67, 'x'), 400), 24);
    EXPECT_EQ(HintHeight(QString(33, QChar(0x4E2D)), 400), 12);
    EXPECT_EQ(HintHeight(QString(34, QChar(0x4E2D)), 400), 24);
    EXPECT_EQ(HintHeight(QStringLiteral("a\r\n\r\nb"), 400),
              36);                                        // an empty line still takes a row
    EXPECT_EQ(HintHeight(QStringLiteral("abc"), 3), 36);  // narrower than a cell: one byte a row
    // With a hint the content box moves down by its height.
    TextDialogRequest request;
    request.hint = QString(67, 'x');
    TextDialog dialog(request);
    dialog.show();
    dialog.resize(410, 300);
    auto* hint = Child<QPlainTextEdit>(dialog, "编辑框提示");
    auto* content = Child<QPlainTextEdit>(dialog, "编辑框正文");
    EXPECT_EQ(hint->height(), 24);
    EXPECT_EQ(content->y(), 5 + 24 + 5);
    EXPECT_EQ(content->height(), 300 - 34 - 34);
    // Wider, the hint fits on one row and the content box grows upwards.
    dialog.resize(800, 300);
    EXPECT_EQ(hint->geometry(), QRect(5, 5, 790, 12));
    EXPECT_EQ(content->geometry(), QRect(5, 22, 790, 300 - 22 - 34));
    // 240 pixels hold 40 cells a row: two rows again.
    dialog.resize(250, 300);
    EXPECT_EQ(hint->height(), 24);
}

TEST(ShowTextDialog, FillsTheRequestAndRefusesASecondDialog) {
    TextDialogRequest request;
    request.hint = QStringLiteral("old hint");
    int nestedReturned = 0;
    QString shownTitle;
    bool scrolls = false;
    testing::WhenModalAppears([&](QWidget* w) {
        auto* dialog = qobject_cast<TextDialog*>(w);
        if (!dialog) return false;
        shownTitle = dialog->windowTitle();
        auto* content = Child<QPlainTextEdit>(*dialog, "编辑框正文");
        scrolls = content->verticalScrollBar()->maximum() > 0;
        // A second request while this one is open opens nothing and returns at once.
        ShowTextDialog(request, QStringLiteral("other"), QStringLiteral("other"));
        ++nestedReturned;
        QTest::mouseClick(Child<QPushButton>(*dialog, "按钮取消"), Qt::LeftButton);
        return true;
    });
    ShowTextDialog(request, HelpText(), QString());
    EXPECT_EQ(nestedReturned, 1);
    EXPECT_EQ(shownTitle, QStringLiteral("Qorv："));
    EXPECT_TRUE(scrolls) << "the help text is longer than the box";
    EXPECT_EQ(request.content, HelpText());
    EXPECT_TRUE(request.hint.isEmpty());
}

TEST(HelpText, SectionsInOrderWithCrLfLineBreaks) {
    const QString help = HelpText();
    EXPECT_FALSE(help.contains(QRegularExpression(QStringLiteral("[^\r]\n"))));
    int at = 0;
    for (const char* heading : {"-----------------软件介绍-----------------", "软件的执行过程：",
                                "-----------------疑点说明-----------------", "【图片存放目录】",
                                "【旧的域名前缀】", "【新的域名前缀】", "【排除地址范围】",
                                // What the program does beyond the described one, after it.
                                "【扩展选项】", "【结果目录】", "【包含子目录】", "【增量运行】",
                                "【发布到网站】", "【查看运行结果】"}) {
        const int next = help.indexOf(QString::fromUtf8(heading), at);
        EXPECT_GE(next, at) << heading;
        at = next;
    }
    EXPECT_TRUE(help.contains(QStringLiteral("files/img")));
    // The options are shared with the command line through the settings file, and the help says so.
    EXPECT_TRUE(help.contains(QStringLiteral("Zembrat.ini")));
    EXPECT_TRUE(help.contains(QStringLiteral("命令行")));
    EXPECT_FALSE(help.contains(QStringLiteral("files\\img")));
}

}  // namespace
}  // namespace zembrat::ui
