// The program's own start-up, run in this process with its folder in a temporary folder.
#include "app/program.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <functional>

#include "config/config_store.h"
#include "program_runner.h"
#include "support/gui_helpers.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "ui/main_window.h"
#include "ui/qt_event_points.h"
#include "ui/qt_text.h"
#include "ui/text_dialog.h"
#include "ui/widgets.h"

namespace zembrat::app {
namespace {
using namespace text::literals;
using testing::MessageBoxAnswerer;
using testing::ReadFileOrMissing;
using testing::RunWithWindow;
using testing::ScopedEnv;
using testing::TempDir;
using ui::EditBox;
using ui::MainWindow;
using ui::ToGbk;
using ui::ToQString;

constexpr EditBox kBoxes[] = {EditBox::ArticleFolder, EditBox::ArticleFilter,
                              EditBox::ImageFolder,   EditBox::OldPrefix,
                              EditBox::NewPrefix,     EditBox::ExcludedRanges};

std::string SavedSettings(const std::vector<std::string>& v) {
    return "[基本配置]"_gbk + "\r\n排除地址范围="_gbk + v[5] + "\r\n新的域名前缀="_gbk + v[4] +
           "\r\n旧的域名前缀="_gbk + v[3] + "\r\n图片存放目录="_gbk + v[2] + "\r\n文章过滤="_gbk +
           v[1] + "\r\n文章目录="_gbk + v[0];
}

std::vector<std::string> Designed() {
    return {ToGbk(QDir::homePath()) + "/文章目录"_gbk, "*.htm", "files/img", "", "", ""};
}

std::vector<std::string> Texts(MainWindow& w) {
    std::vector<std::string> texts;
    for (EditBox box : kBoxes) texts.push_back(ToGbk(w.editBox(box)->text()));
    return texts;
}

void SetTexts(MainWindow& w, const std::vector<std::string>& texts) {
    for (std::size_t i = 0; i < texts.size(); ++i)
        w.editBox(kBoxes[i])->setText(ToQString(texts[i]));
}

TEST(StartUp, FirstRunShowsTheDesignedTextsAndClosingWritesTheSettingsFile) {
    TempDir dir;
    const std::string settings = dir / "Zembrat.ini";
    std::vector<std::string> shown;
    std::string fileWhileRunning;
    bool secondStoreGotTheFile = true;
    const int code = RunWithWindow(dir.path(), [&](MainWindow& w) {
        shown = Texts(w);
        // The file is made and held at start; nothing is written until the window closes.
        fileWhileRunning = ReadFileOrMissing(settings);
        config::ConfigStore other;
        secondStoreGotTheFile = other.Open(settings, config::DiskFile);
        w.close();
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(shown, Designed());
    EXPECT_EQ(fileWhileRunning, "");
    EXPECT_FALSE(secondStoreGotTheFile);
    EXPECT_EQ(ReadFileOrMissing(settings), SavedSettings(Designed()));
    // The exit routine closed the file.
    config::ConfigStore after;
    EXPECT_TRUE(after.Open(settings, config::DiskFile));
}

TEST(StartUp, EditedValuesComeBackAndAnEmptiedBoxShowsItsDesignedText) {
    TempDir dir;
    const std::string settings = dir / "Zembrat.ini";
    const std::vector<std::string> edited = {
        "/srv/文章",   "*.html|*.txt",    "",
        "old.example", "new.example/a=b", "ads.example|*.cdn.example"};
    RunWithWindow(dir.path(), [&](MainWindow& w) {
        SetTexts(w, edited);
        w.close();
    });
    EXPECT_EQ(ReadFileOrMissing(settings), SavedSettings(edited));

    std::vector<std::string> shown;
    QString afterActivation;
    RunWithWindow(dir.path(), [&](MainWindow& w) {
        shown = Texts(w);
        // Switching away and back does not load the settings again.
        w.editBox(EditBox::OldPrefix)->setText(QStringLiteral("typed"));
        QEvent away(QEvent::WindowDeactivate), back(QEvent::WindowActivate);
        QApplication::sendEvent(&w, &away);
        QApplication::sendEvent(&w, &back);
        afterActivation = w.editBox(EditBox::OldPrefix)->text();
        w.close();
    });
    std::vector<std::string> expected = edited;
    expected[2] = "files/img";
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(afterActivation, QStringLiteral("typed"));
    expected[3] = "typed";
    EXPECT_EQ(ReadFileOrMissing(settings), SavedSettings(expected));
}

TEST(StartUp, AFolderThatCannotBeWrittenKeepsTheSettingsInTheUserConfigFolder) {
    TempDir dir;
    dir.Write("a file", "x");
    const std::string unwritable =
        dir / "a file/程序"_gbk;  // below a file: nothing can be made there
    EXPECT_EQ(SettingsPath(dir.path()), dir / "Zembrat.ini");

    {
        const QByteArray utf8 = ToQString(dir / "配置"_gbk).toUtf8();
        ScopedEnv xdg("XDG_CONFIG_HOME", &utf8);
        EXPECT_EQ(SettingsPath(unwritable), dir / "配置/zembrat/Zembrat.ini"_gbk);
        EXPECT_TRUE(QDir(ToQString(dir / "配置/zembrat"_gbk)).exists()) << "the folder is made";

        // The very start-up uses it.
        RunWithWindow(unwritable, [](MainWindow& w) { w.close(); });
        EXPECT_EQ(ReadFileOrMissing(dir / "配置/zembrat/Zembrat.ini"_gbk),
                  SavedSettings(Designed()));
    }
    const QByteArray home = ToQString(dir / "家"_gbk).toUtf8();
    ScopedEnv homeEnv("HOME", &home);
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(SettingsPath(unwritable), dir / "家/.config/zembrat/Zembrat.ini"_gbk);
    }
    const QByteArray relative = "relative/config";
    ScopedEnv xdg("XDG_CONFIG_HOME", &relative);
    EXPECT_EQ(SettingsPath(unwritable), dir / "家/.config/zembrat/Zembrat.ini"_gbk);
}

TEST(StartUp, ASecondInstanceOnTheSameFileKeepsNothingAndSaysSo) {
    TempDir dir;
    const std::string settings = dir / "Zembrat.ini";
    const std::vector<std::string> first = {"/first", "*.htm", "img", "a", "b", "c"};
    const std::vector<std::string> second = {"/second", "*.txt", "pic", "d", "e", "f"};
    MessageBoxAnswerer answerer;
    std::vector<std::string> secondShown;
    RunWithWindow(dir.path(), [&](MainWindow& w) {
        SetTexts(w, first);
        // A second copy started while the first runs: its store cannot take the file.
        config::ConfigStore store;
        EXPECT_FALSE(store.Open(SettingsPath(dir.path()), config::DiskFile));
        ui::TextDialogRequest request;
        web::WebClient web;
        ui::QtEventPoints events;
        MainWindow other(store, request, web, events);
        other.show();
        other.activateWindow();
        EXPECT_TRUE(QTest::qWaitFor([&] { return other.settingsLoaded(); }));
        secondShown = Texts(other);
        SetTexts(other, second);
        QTest::mousePress(other.findChild<ui::TextLink*>(QStringLiteral("超级链接框保存")),
                          Qt::LeftButton);
        other.close();
        w.close();
    });
    const QString failed = QStringLiteral("保存失败！无法写入配置文件：") + ToQString(settings) +
                           QStringLiteral("\r\n配置文件正被另一个程序使用。");
    EXPECT_EQ(answerer.texts, (QStringList{failed, failed}));
    EXPECT_EQ(secondShown, Designed()) << "the file was empty when the second copy started";
    EXPECT_EQ(ReadFileOrMissing(settings), SavedSettings(first));
}

}  // namespace
}  // namespace zembrat::app
