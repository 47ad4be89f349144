#include "app/program.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QSocketNotifier>
#include <QTranslator>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>

#include "config/config_store.h"
#include "platform/user_account.h"
#include "ui/fonts.h"
#include "ui/main_window.h"
#include "ui/qt_event_points.h"
#include "ui/qt_text.h"
#include "ui/shell.h"
#include "ui/text_dialog.h"
#include "web/web_client.h"

namespace zembrat::app {
namespace {

const QString kSettingsName = QStringLiteral("Zembrat.ini");

// The objects that live from start to exit, owned here alone.
struct ProgramObjects {
    std::unique_ptr<config::ConfigStore> settings;
    std::unique_ptr<ui::TextDialogRequest> textDialog;
    std::unique_ptr<web::WebClient> web;
};

// Runs once when RunProgram leaves, after the event loop: the store first (it closes the file
// and writes nothing, every save is already in it), then the request record, then the client.
class ExitRoutine {
  public:
    explicit ExitRoutine(ProgramObjects& objects) : objects_(objects) {}
    ExitRoutine(const ExitRoutine&) = delete;
    ExitRoutine& operator=(const ExitRoutine&) = delete;
    ~ExitRoutine() {
        objects_.settings.reset();
        objects_.textDialog.reset();
        objects_.web.reset();
    }

  private:
    ProgramObjects& objects_;
};

// A request from outside to end the program (the session ending, `kill`, Ctrl+C in a terminal)
// closes the main window as its close button does, so the settings are saved. A second request
// ends the program at once, as it would without this.
class CloseOnTermination {
  public:
    explicit CloseOnTermination(QWidget& window) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_.data()) != 0) return;
        ::fcntl(fds_[0], F_SETFL, O_NONBLOCK);
        ::fcntl(fds_[1], F_SETFL, O_NONBLOCK);
        writeEnd_ = fds_[1];
        notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, &window] {
            char drained[16];
            while (::read(fds_[0], drained, sizeof drained) > 0) {
            }
            // An open message box or text dialog would keep the program alive behind a closed
            // window.
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
            window.close();
        });
        struct sigaction action {};
        action.sa_handler = &CloseOnTermination::Handle;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            ::sigaction(kSignals[i], &action, &old_[i]);
        installed_ = true;
    }
    CloseOnTermination(const CloseOnTermination&) = delete;
    CloseOnTermination& operator=(const CloseOnTermination&) = delete;
    ~CloseOnTermination() {
        if (installed_) {
            for (std::size_t i = 0; i < kSignals.size(); ++i)
                ::sigaction(kSignals[i], &old_[i], nullptr);
        }
        notifier_.reset();
        writeEnd_ = -1;
        for (int fd : fds_) {
            if (fd >= 0) ::close(fd);
        }
    }

  private:
    static constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};

    static void Handle(int) {
        const int saved = errno;
        const char byte = 1;
        if (writeEnd_ >= 0 && ::write(writeEnd_, &byte, 1) < 0) {
            // A full socket already holds a request, which is all that is needed.
        }
        errno = saved;
    }

    static inline volatile sig_atomic_t writeEnd_ = -1;
    std::array<int, 2> fds_ = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    std::array<struct sigaction, 3> old_{};
    bool installed_ = false;
};

// Every caption of the window is Chinese, so Qt's own texts (the buttons of a message box, the
// folder picker) are shown in Chinese too, whatever the locale.
void LoadQtChineseTranslations(QTranslator& translator) {
    if (translator.load(QStringLiteral("qtbase_zh_CN"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&translator);
}

// The folders where packages put programs. Root can write them, so a copy there is recognised
// by its place and not by whether its folder can be written.
constexpr const char* kSystemProgramFolders[] = {
    "/usr/bin", "/usr/local/bin", "/bin", "/usr/games", "/usr/local/games", "/usr/sbin", "/sbin"};

// An installed copy keeps its settings per user, even where its folder can be written (by root,
// or in an install below the home folder): it is one in a system program folder, or one whose
// prefix holds the program's data folder, <prefix>/share/zembrat, which the install puts there.
bool IsInstalledCopy(const QString& folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty()) return false;
    for (const char* system : kSystemProgramFolders) {
        const QString systemFolder = QFileInfo(QString::fromLatin1(system)).canonicalFilePath();
        if (!systemFolder.isEmpty() && canonical == systemFolder) return true;
    }
    return QFileInfo(QDir(canonical).filePath(QStringLiteral("../share/zembrat"))).isDir();
}

// The settings file beside the program is the one used when it exists, also when it cannot be
// written (its values are the user's; a save then says it failed), or when it can be made there.
bool KeepsItsSettingsThere(const QString& folder) {
    const QFileInfo info(folder);
    if (!info.isDir()) return false;
    if (QFileInfo(QDir(folder).filePath(kSettingsName)).isFile()) return true;
    return info.isWritable();
}

QString UserConfigFolder() {
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value is to be ignored, as the base directory rules say.
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured)) return configured;
    const std::string home = platform::HomeFolder();
    return (home.empty() ? QDir::rootPath() : QString::fromStdString(home)) +
           QStringLiteral("/.config");
}

}  // namespace

std::string ProgramFolder() {
    return ui::ToGbk(QCoreApplication::applicationDirPath());
}

std::string SettingsPath(const std::string& programFolder) {
    const QString folder = ui::ToQString(programFolder);
    if (!IsInstalledCopy(folder) && KeepsItsSettingsThere(folder))
        return ui::ToGbk(QDir(folder).filePath(kSettingsName));
    const QString fallback = UserConfigFolder() + QStringLiteral("/zembrat");
    QDir().mkpath(fallback);
    return ui::ToGbk(fallback + QStringLiteral("/") + kSettingsName);
}

int RunProgram(const std::string& programFolder) {
    // The way from the core to the window; made first, so it outlives every object that uses it.
    ui::QtEventPoints events;
    ProgramObjects objects;
    objects.settings = std::make_unique<config::ConfigStore>();
    objects.textDialog = std::make_unique<ui::TextDialogRequest>();
    objects.web = std::make_unique<web::WebClient>();
    objects.web->CreateRequest();
    const ExitRoutine exitRoutine(objects);

    objects.web->SetEventPoints(events);
    objects.settings->SetEventPoints(events);
    QTranslator qtTranslations;
    LoadQtChineseTranslations(qtTranslations);
    ui::RegisterFontSubstitutes();
    // Ties the windows to the installed menu entry and icon (Wayland's app id).
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.zembrat.Zembrat"));

    // Whether the file could be opened is not looked at here: a save that cannot reach it says
    // so itself.
    objects.settings->Open(SettingsPath(programFolder), config::DiskFile);

    ui::MainWindow window(*objects.settings, *objects.textDialog, *objects.web, events);
    const CloseOnTermination closeOnTermination(window);
    window.show();
    window.raise();
    window.activateWindow();
    return QApplication::exec();
}

}  // namespace zembrat::app
