// The main window's settings, save and help entries and closing, on a real settings file.
#include <gtest/gtest.h>

#include <QDir>

#include "job/settings_table.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "config/config_store.h"
#include "config/config_store_test_access.h"
#include "job/result_folder.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "support/gui_helpers.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "ui/help.h"
#include "ui/main_window.h"
#include "ui/qt_event_points.h"
#include "ui/qt_text.h"
#include "ui/text_dialog.h"
#include "ui/widgets.h"

namespace zembrat::ui {
namespace {

using testing::Child;
using namespace text::literals;
using testing::MessageBoxAnswerer;
using testing::ReadFileOrMissing;
using testing::TempDir;

// The settings file as six saves leave it: the keys stand in reverse order under the header.
std::string SavedSettings(const std::string& folder, const std::string& filter,
                          const std::string& images, const std::string& oldPrefix,
                          const std::string& newPrefix, const std::string& excluded) {
    return "[基本配置]"_gbk + "\r\n排除地址范围="_gbk + excluded + "\r\n新的域名前缀="_gbk +
           newPrefix + "\r\n旧的域名前缀="_gbk + oldPrefix + "\r\n图片存放目录="_gbk + images +
           "\r\n文章过滤="_gbk + filter + "\r\n文章目录="_gbk + folder;
}

class WindowWithSettings : public ::testing::Test {
  protected:
    WindowWithSettings() : path(dir / "Zembrat.ini") {}

    // Opens the store on path and makes a shown window over it.
    MainWindow& Start() {
        store.Open(path, config::DiskFile);
        window = std::make_unique<MainWindow>(store, request, web, events);
        window->show();
        return *window;
    }
    // Writes stored as the settings file, opens the store on it and shows a window over it
    // that has not been activated yet, so it has not read the settings.
    MainWindow& StartUnactivated(const std::string& stored) {
        dir.Write("Zembrat.ini", stored);
        EXPECT_TRUE(store.Open(path, config::DiskFile));
        window = std::make_unique<MainWindow>(store, request, web, events);
        window->setAttribute(Qt::WA_ShowWithoutActivating);
        window->show();
        return *window;
    }
    void Fill(MainWindow& w) {
        w.editBox(ui::EditBox::ArticleFolder)->setText(ToQString(dir / "文章目录"_gbk));
        w.editBox(ui::EditBox::ArticleFilter)->setText(QStringLiteral("*.txt"));
        w.editBox(ui::EditBox::ImageFolder)->setText(QStringLiteral("图片"));
        w.editBox(ui::EditBox::OldPrefix)->setText(QStringLiteral("old.example"));
        w.editBox(ui::EditBox::NewPrefix)->setText(QStringLiteral("new.example"));
        w.editBox(ui::EditBox::ExcludedRanges)->setText(QStringLiteral("a.example|b.example/x"));
    }
    std::string Filled() const {
        return SavedSettings(dir / "文章目录"_gbk, "*.txt", "图片"_gbk, "old.example",
                             "new.example", "a.example|b.example/x");
    }
    TempDir dir;
    std::string path;
    config::ConfigStore store;
    TextDialogRequest request;
    QtEventPoints events;
    web::WebClient web;
    std::unique_ptr<MainWindow> window;
};

TEST_F(WindowWithSettings, ANewWindowShowsTheSettingsTablesDefaults) {
    // The console starts from the same table (DefaultSettingValues with the home folder).
    MainWindow& w = StartUnactivated("");
    const job::JobSettings defaults = job::DefaultSettingValues(ToGbk(QDir::homePath())).settings;
    EXPECT_EQ(w.EditText(EditBox::ArticleFolder), defaults.articleFolder);
    EXPECT_EQ(w.EditText(EditBox::ArticleFolder), ToGbk(QDir::homePath()) + "/文章目录"_gbk);
    EXPECT_EQ(w.EditText(EditBox::ArticleFilter), defaults.articleFilter);
    EXPECT_EQ(w.EditText(EditBox::ImageFolder), defaults.imageFolder);
    EXPECT_EQ(w.EditText(EditBox::OldPrefix), defaults.oldPrefix);
    EXPECT_EQ(w.EditText(EditBox::NewPrefix), defaults.newPrefix);
    EXPECT_EQ(w.EditText(EditBox::ExcludedRanges), defaults.excludedRanges);
    EXPECT_EQ(w.driver().options(), job::ExtensionOptions{});
}

TEST_F(WindowWithSettings, SaveEntriesWriteTheBoxesAndSaySo) {
    MainWindow& w = Start();
    Fill(w);
    MessageBoxAnswerer answerer;
    std::string onDiskWhenAsked;
    answerer.onBox = [&](QMessageBox*) { onDiskWhenAsked = ReadFileOrMissing(path); };

    // The link saves when the button goes down: a release elsewhere changes nothing.
    auto* link = Child<TextLink>(*window, "超级链接框保存");
    QTest::mousePress(link, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_EQ(answerer.texts[0], QStringLiteral("保存完毕！"));
    EXPECT_EQ(answerer.titles[0], QStringLiteral("信息："));
    EXPECT_EQ(onDiskWhenAsked, Filled()) << "saved before the message";
    QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(300, 300));
    EXPECT_EQ(answerer.texts.size(), 1);

    // The picture above it saves on a click; a second save replaces the values in place.
    w.editBox(ui::EditBox::OldPrefix)->clear();
    QTest::mouseClick(Child<QWidget>(*window, "图片框保存"), Qt::LeftButton);
    ASSERT_EQ(answerer.texts.size(), 2);
    EXPECT_EQ(answerer.texts[1], QStringLiteral("保存完毕！"));
    EXPECT_EQ(ReadFileOrMissing(path), SavedSettings(dir / "文章目录"_gbk, "*.txt", "图片"_gbk, "",
                                                     "new.example", "a.example|b.example/x"));
}

TEST_F(WindowWithSettings, ExtensionOptionsAreSetInTheirDialogAndKeptInTheirOwnSection) {
    MainWindow& w = Start();
    Fill(w);
    // Nobody set an option: the file is exactly the six settings.
    ASSERT_TRUE(w.SaveSettings());
    EXPECT_EQ(ReadFileOrMissing(path), Filled());

    auto tick = [](const char* box, bool on) {
        testing::WhenModalAppears([box, on](QWidget* dialog) {
            if (dialog->objectName() != QStringLiteral("扩展选项窗口")) return false;
            dialog->findChild<QCheckBox*>(QString::fromUtf8(box))->setChecked(on);
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("按钮确定")),
                              Qt::LeftButton);
            return true;
        });
    };
    tick("复选框延迟加载", true);
    QTest::mousePress(Child<TextLink>(*window, "超级链接框扩展选项"), Qt::LeftButton);
    EXPECT_TRUE(w.driver().options().lazyImages);
    ASSERT_TRUE(w.SaveSettings());
    const std::string section = "\r\n[扩展选项]\r\n识别延迟加载和响应式图片=1"_gbk;
    EXPECT_EQ(ReadFileOrMissing(path), Filled() + section);

    // A window started later over the same file takes the option.
    window.reset();
    store.Close();
    MainWindow& again = Start();
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&again, &activate);
    EXPECT_TRUE(again.driver().options().lazyImages);
    EXPECT_FALSE(again.driver().options().https);

    // Turned off again, the key says so; the other options stay out of the file.
    tick("复选框延迟加载", false);
    QTest::mouseClick(Child<QWidget>(*window, "图片框扩展选项"), Qt::LeftButton);
    ASSERT_TRUE(again.SaveSettings());
    EXPECT_EQ(ReadFileOrMissing(path),
              Filled() + "\r\n[扩展选项]\r\n识别延迟加载和响应式图片=0"_gbk);
}

TEST_F(WindowWithSettings, HelpEntriesOpenTheHelpTextWithTheDefaultTitle) {
    Start();
    QStringList titles, contents;
    auto closeHelp = [&](QWidget* modal) {
        auto* dialog = qobject_cast<TextDialog*>(modal);
        if (!dialog) return false;
        titles << dialog->windowTitle();
        contents << dialog->findChild<QPlainTextEdit*>(QStringLiteral("编辑框正文"))->toPlainText();
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("按钮取消")),
                          Qt::LeftButton);
        return true;
    };
    testing::WhenModalAppears(closeHelp);
    QTest::mousePress(Child<TextLink>(*window, "超级链接框操作"), Qt::LeftButton);  // on mouse-down
    testing::WhenModalAppears(closeHelp);
    QTest::mouseClick(Child<QWidget>(*window, "图片框操作"), Qt::LeftButton);
    ASSERT_EQ(titles.size(), 2);
    const QString shown = QString(HelpText()).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(titles[i], QStringLiteral("Qorv："));
        EXPECT_EQ(contents[i], shown);
    }
    // The window's request record keeps the last texts.
    EXPECT_EQ(request.content, HelpText());
    EXPECT_TRUE(request.title.isEmpty());
}

TEST_F(WindowWithSettings, ASaveThatCannotReachTheFileSaysSoAndClosingSaysItOnce) {
    // Another holder keeps the settings file, so this window's store gets no file handle.
    dir.Write("Zembrat.ini", SavedSettings("f", "*.htm", "i", "", "", ""));
    config::ConfigStore holder;
    ASSERT_TRUE(holder.Open(path, config::DiskFile));
    MainWindow& w = Start();
    ASSERT_FALSE(config::ConfigStoreTestAccess::HasFileHandle(store));
    Fill(w);
    MessageBoxAnswerer answerer;
    // The other holder is named as the reason.
    const QString failed = QStringLiteral("保存失败！无法写入配置文件：") + ToQString(path) +
                           QStringLiteral("\r\n配置文件正被另一个程序使用。");

    QTest::mousePress(Child<TextLink>(*window, "超级链接框保存"), Qt::LeftButton);
    QTest::mouseClick(Child<QWidget>(*window, "图片框保存"), Qt::LeftButton);
    ASSERT_EQ(answerer.texts, (QStringList{failed, failed}));
    EXPECT_EQ(answerer.titles[0], QStringLiteral("信息："));

    EXPECT_TRUE(w.close());
    ASSERT_EQ(answerer.texts.size(), 3);
    EXPECT_EQ(answerer.texts[2], failed);
    w.show();
    EXPECT_TRUE(w.close());
    EXPECT_EQ(answerer.texts.size(), 3) << "the close reports the failure once";
    EXPECT_EQ(ReadFileOrMissing(path), SavedSettings("f", "*.htm", "i", "", "", ""));

    // A store that could not open its file at all names the path it was given.
    config::ConfigStore nowhere;
    const std::string missing = dir / "no/such/folder/Zembrat.ini";
    nowhere.Open(missing, config::DiskFile);
    MainWindow lost(nowhere, request, web, events);
    lost.show();
    QTest::mouseClick(lost.findChild<QWidget*>(QStringLiteral("图片框保存")), Qt::LeftButton);
    ASSERT_EQ(answerer.texts.size(), 4);
    EXPECT_EQ(answerer.texts[3],
              QStringLiteral("保存失败！无法写入配置文件：") + ToQString(missing));
}

TEST_F(WindowWithSettings, ClosingDuringARunStopsItAndClosesOnceItHasReturned) {
    MainWindow& w = Start();
    Fill(w);
    const std::string articles = dir / "文章目录"_gbk;
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"})
        dir.Write("文章目录/"_gbk + name, name);
    MessageBoxAnswerer answerer;
    bool visibleAtClose = false;
    // The close arrives at the run's first event point, while the articles are listed.
    QTimer::singleShot(0, &w, [&] {
        w.close();
        visibleAtClose = w.isVisible();
    });
    QTest::mouseClick(Child<QPushButton>(*window, "按钮开始下载"), Qt::LeftButton);

    EXPECT_TRUE(visibleAtClose) << "the window waits for the run";
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(answerer.texts.isEmpty())
        << "no completion question: " << answerer.texts.join(" | ").toStdString();
    EXPECT_FALSE(w.driver().running());
    EXPECT_EQ(w.driver().articles().size(), 4u);
    int written = 0;
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
        written += platform::PathExists(job::ResultFolder(articles) + name) ? 1 : 0;
    }
    EXPECT_LT(written, 4) << "the run stopped";
    EXPECT_EQ(ReadFileOrMissing(path), Filled()) << "saved when it closed";
    EXPECT_EQ(Child<QPushButton>(*window, "按钮开始下载")->text(),
              QStringLiteral("开始下载并替换图片地址"));
}

TEST_F(WindowWithSettings, ClosingBeforeTheFirstActivationKeepsTheStoredSettings) {
    const std::string stored = SavedSettings("f", "*.htm", "i", "o", "n", "x");
    MainWindow& w = StartUnactivated(stored);
    EXPECT_FALSE(w.settingsLoaded());
    EXPECT_TRUE(w.close());
    // The designed texts it showed were never the user's settings.
    EXPECT_EQ(ReadFileOrMissing(path), stored);
}

TEST_F(WindowWithSettings, AClosePressedWhileTheSettingsAreReadWaitsForAllOfThem) {
    const std::string stored = SavedSettings("f", "*.txt", "i", "o", "n", "x");
    MainWindow& w = StartUnactivated(stored);
    // As the program sets it: the store lets events through between the keys it reads.
    struct ToolkitPoints : platform::EventPoints {
        void ProcessEvents() override { QApplication::processEvents(); }
    } points;
    store.SetEventPoints(points);

    // The close (a termination request, say) arrives once the first box has been read.
    bool asked = false, closedMidway = false;
    QObject::connect(w.editBox(ui::EditBox::ArticleFolder), &QLineEdit::textChanged, [&] {
        if (asked) return;
        asked = true;
        QTimer::singleShot(0, &w, [&] {
            // The last key is still unread.
            closedMidway = w.editBox(ui::EditBox::ExcludedRanges)->text() != "x";
            w.close();
        });
    });
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&w, &activate);
    store.SetEventPoints(platform::NoEventPoints());

    ASSERT_TRUE(closedMidway) << "the close came while the settings were being read";
    EXPECT_TRUE(w.settingsLoaded());
    EXPECT_EQ(w.editBox(ui::EditBox::ExcludedRanges)->text(), QStringLiteral("x"));
    EXPECT_FALSE(w.isVisible()) << "closed once they were all in";
    // What was saved is what was read, not the designed texts of the keys still unread.
    EXPECT_EQ(ReadFileOrMissing(path), stored);
}

TEST(BannerAddresses, SectionsOfTheHelpPageBesideTheProgram) {
    const QString page = HelpFilePath();
    ASSERT_FALSE(page.isEmpty()) << "the build puts the page beside the program";
    const QString html =
        QString::fromUtf8(QByteArray::fromStdString(ReadFileOrMissing(ToGbk(page))));
    const BannerAddresses a = DefaultBannerAddresses();
    for (const auto& [address, anchor] : {std::pair{a.home, "home"},
                                          {a.product, "product"},
                                          {a.chat, "contact"},
                                          {a.software, "software"}}) {
        SCOPED_TRACE(anchor);
        const QUrl url(address);
        EXPECT_TRUE(url.isLocalFile());
        EXPECT_EQ(url.toLocalFile(), page);
        EXPECT_EQ(url.fragment(), QString::fromLatin1(anchor));
        EXPECT_TRUE(html.contains(QStringLiteral("id=\"%1\"").arg(QString::fromLatin1(anchor))));
    }
    // The links hold them, so the image buttons beside them open the same places.
    QtEventPoints events;
    web::WebClient web;
    config::ConfigStore store;
    TextDialogRequest request;
    MainWindow window(store, request, web, events);
    EXPECT_EQ(window.findChild<TextLink*>(QStringLiteral("超级链接框更新"))->address(), a.product);
    EXPECT_EQ(window.findChild<TextLink*>(QStringLiteral("超级链接框QQ"))->address(), a.chat);
    EXPECT_EQ(window.findChild<TextLink*>(QStringLiteral("超级链接框软件"))->address(), a.software);
}

}  // namespace
}  // namespace zembrat::ui
