// Runs on the real main window, offscreen, driven with mouse events.
#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "config/config_store.h"
#include "job/result_folder.h"
#include "support/gui_helpers.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/text_dialog.h"
#include "window_run_fixture.h"

namespace zembrat::ui {
namespace {
using namespace text::literals;
using testing::FakeProgram;
using testing::MessageBoxAnswerer;
using testing::ReadFileOrMissing;
using testing::TempDir;

class MainWindowRun : public testing::WindowRun {
  protected:
    MainWindowRun() : WindowRun("文章目录"_gbk) {}
};

TEST_F(MainWindowRun, ClickRunsOverTheArticlesAndYesOpensTheResultFolder) {
    const std::string a = "<html>中文 <img src=\"http://127.0.0.1:9/x.gif\"></html>"_gbk;
    dir.Write("文章目录/a.htm"_gbk, a);
    dir.Write("文章目录/b.htm"_gbk, "b");
    dir.Write("文章目录/c.txt"_gbk, "not an article");
    FakeProgram fileManager(ToQString(dir.path()), QStringLiteral("xdg-open"));
    MessageBoxAnswerer answerer({QMessageBox::Yes});
    bool idleWhenAsked = false;
    answerer.onBox = [&](QMessageBox*) {
        idleWhenAsked = start->text() == QStringLiteral("开始下载并替换图片地址");
    };
    QSignalSpy positions(bar, &QProgressBar::valueChanged);

    QTest::mouseClick(start, Qt::LeftButton);

    const std::string result = job::ResultFolder(articles);
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_EQ(answerer.titles[0], QStringLiteral("信息："));
    // The one image (at a port where nothing answers) failed, and the message says so.
    EXPECT_EQ(answerer.texts[0],
              QStringLiteral("处理完成。处理的结果保存在这个目录：") + ToQString(result) +
                  QStringLiteral("\r\n\r\n有 1 张图片未能转存。\r\n请问是否打开它？"));
    EXPECT_TRUE(idleWhenAsked);
    EXPECT_EQ(ReadFileOrMissing(result + "a.htm"), a);
    EXPECT_EQ(ReadFileOrMissing(result + "b.htm"), "b");
    EXPECT_EQ(ReadFileOrMissing(result + "c.txt"), "<missing>");
    EXPECT_EQ(positions.size(), 2);
    EXPECT_EQ(bar->maximum(), 2);
    EXPECT_EQ(label->text(), QStringLiteral("(2:2)b"));
    ExpectIdle();
    EXPECT_EQ(fileManager.Calls(), QStringList{ToQString(result)});
}

TEST_F(MainWindowRun, RightButtonStartsARunToo) {
    dir.Write("文章目录/a.htm"_gbk, "a");
    MessageBoxAnswerer answerer({QMessageBox::No});
    QTest::mousePress(start, Qt::RightButton);
    QTest::mouseRelease(start, Qt::RightButton);
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_TRUE(answerer.texts[0].startsWith(QStringLiteral("处理完成。")));
    EXPECT_EQ(ReadFileOrMissing(job::ResultFolder(articles) + "a.htm"), "a");
    ExpectIdle();
}

TEST_F(MainWindowRun, EmptyFolderShowsTheMessageAndChangesNothing) {
    ASSERT_TRUE(QDir().mkpath(ToQString(articles)));
    window.editBox(ui::EditBox::ArticleFilter)->setText(QStringLiteral("*.txt"));
    MessageBoxAnswerer answerer;
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_EQ(answerer.titles[0], QStringLiteral("信息："));
    EXPECT_EQ(answerer.texts[0], QStringLiteral("在这个目录下‘") + ToQString(articles) +
                                     QStringLiteral("’找不到‘*.txt’类型的文件！"));
    EXPECT_FALSE(QDir(ToQString(job::ResultFolder(articles))).exists());
    ExpectIdle();
}

}  // namespace
}  // namespace zembrat::ui
