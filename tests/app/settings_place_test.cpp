// Where an installed copy and a built copy keep their settings, and how the program ends on a
// termination request from outside.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <signal.h>

#include <functional>

#include "app/program.h"
#include "program_runner.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/text_dialog.h"
#include "ui/widgets.h"

namespace zembrat::app {
namespace {
using namespace text::literals;
using testing::ReadFileOrMissing;
using testing::RunWithWindow;
using testing::TempDir;
using ui::MainWindow;
using ui::ToQString;

// Points XDG_CONFIG_HOME at a folder for the life of the object.
class ConfigHome {
  public:
    explicit ConfigHome(const std::string& folder)
        : value_(ToQString(folder).toUtf8()), env_("XDG_CONFIG_HOME", &value_) {}

  private:
    QByteArray value_;
    testing::ScopedEnv env_;
};

void MakeFolder(const std::string& path) {
    ASSERT_TRUE(QDir().mkpath(ToQString(path)));
}

TEST(SettingsPlace, AnInstalledCopyUsesTheUserFolderEvenWhereItsFolderCanBeWritten) {
    TempDir dir;
    const ConfigHome home(dir / "配置"_gbk);
    const std::string perUser = dir / "配置/zembrat/Zembrat.ini"_gbk;

    // A build folder, and an unpacked copy: the settings stay beside the program.
    MakeFolder(dir / "build/src/app");
    EXPECT_EQ(SettingsPath(dir / "build/src/app"), dir / "build/src/app/Zembrat.ini");
    MakeFolder(dir / "便携/bin"_gbk);
    EXPECT_EQ(SettingsPath(dir / "便携/bin"_gbk), dir / "便携/bin/Zembrat.ini"_gbk);
    // A file of that name is no data folder.
    dir.Write("便携/share/zembrat"_gbk, "");
    EXPECT_EQ(SettingsPath(dir / "便携/bin"_gbk), dir / "便携/bin/Zembrat.ini"_gbk);
    EXPECT_FALSE(QFileInfo::exists(ToQString(dir / "配置"_gbk)));

    // Installed into a prefix: bin beside share/zembrat, both writable by this user.
    MakeFolder(dir / "前缀/bin"_gbk);
    MakeFolder(dir / "前缀/share/zembrat"_gbk);
    EXPECT_EQ(SettingsPath(dir / "前缀/bin"_gbk), perUser);
    EXPECT_TRUE(QFileInfo(ToQString(dir / "配置/zembrat"_gbk)).isDir());
    // Also when reached through a link or a path with "..".
    ASSERT_TRUE(QFile::link(ToQString(dir / "前缀/bin"_gbk), ToQString(dir / "link")));
    EXPECT_EQ(SettingsPath(dir / "link"), perUser);
    EXPECT_EQ(SettingsPath(dir / "前缀/share/../bin"_gbk), perUser);
    EXPECT_FALSE(QFileInfo::exists(ToQString(dir / "前缀/bin/Zembrat.ini"_gbk)));
}

TEST(SettingsPlace, ASystemProgramFolderUsesTheUserFolderEvenForRoot) {
    TempDir dir;
    const ConfigHome home(dir.path());
    for (const char* system : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        if (!QFileInfo(QString::fromLatin1(system)).isDir()) continue;
        const bool hadFile = QFileInfo::exists(QString::fromLatin1(system) + "/Zembrat.ini");
        EXPECT_EQ(SettingsPath(system), dir / "zembrat/Zembrat.ini") << system;
        EXPECT_EQ(QFileInfo::exists(QString::fromLatin1(system) + "/Zembrat.ini"), hadFile);
    }
}

std::string SavedWithArticleFolder(const std::string& folder) {
    return "[基本配置]"_gbk +
           "\r\n排除地址范围=\r\n新的域名前缀=\r\n旧的域名前缀=\r\n图片存放目录="_gbk +
           "files/img\r\n文章过滤=*.htm\r\n文章目录="_gbk + folder;
}

TEST(Termination, ATerminationRequestClosesTheWindowAndSavesTheSettings) {
    TempDir dir;
    const std::string settings = dir / "Zembrat.ini";
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        const int code = RunWithWindow(dir.path(), [&](MainWindow& w) {
            w.editBox(ui::EditBox::ArticleFolder)
                ->setText(ToQString("/srv/文章/"_gbk + std::to_string(signal)));
            ::raise(signal);
        });
        EXPECT_EQ(code, 0) << signal;
        EXPECT_EQ(ReadFileOrMissing(settings),
                  SavedWithArticleFolder("/srv/文章/"_gbk + std::to_string(signal)));
        // Once the program has ended, the signal is as it was before.
        struct sigaction now {};
        ::sigaction(signal, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SIG_DFL) << signal;
    }
}

TEST(Termination, AnOpenDialogDoesNotKeepTheProgramAlive) {
    TempDir dir;
    bool dialogSeen = false;
    const int code = RunWithWindow(dir.path(), [&](MainWindow& w) {
        w.editBox(ui::EditBox::ArticleFolder)->setText(QStringLiteral("/srv/帮助"));
        QTimer::singleShot(200, [&] {
            dialogSeen = QApplication::activeModalWidget() != nullptr;
            ::raise(SIGTERM);
        });
        // The help dialog runs its own loop until it is closed.
        QTest::mousePress(w.findChild<ui::TextLink*>(QStringLiteral("超级链接框操作")),
                          Qt::LeftButton);
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(dialogSeen);
    EXPECT_EQ(ReadFileOrMissing(dir / "Zembrat.ini"), SavedWithArticleFolder("/srv/帮助"_gbk));
}

}  // namespace
}  // namespace zembrat::app
