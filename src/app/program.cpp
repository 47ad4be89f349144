#include "app/program.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <memory>

#include "config/config_store.h"
#include "platform/events.h"
#include "platform/messages.h"
#include "ui/fonts.h"
#include "ui/main_window.h"
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

// Points the core's event, repaint and message hooks at Qt while the program runs.
class ToolkitHooks {
  public:
    ToolkitHooks()
        : events_(platform::SetProcessEventsHook([] { QApplication::processEvents(); })),
          painted_(platform::SetKeepWindowPaintedHook(
              [] { QApplication::processEvents(QEventLoop::ExcludeUserInputEvents); })),
          messages_(platform::SetMessageHook(ui::ShowMessageRequest)) {}
    ToolkitHooks(const ToolkitHooks&) = delete;
    ToolkitHooks& operator=(const ToolkitHooks&) = delete;
    ~ToolkitHooks() {
        platform::SetProcessEventsHook(std::move(events_));
        platform::SetKeepWindowPaintedHook(std::move(painted_));
        platform::SetMessageHook(std::move(messages_));
    }

  private:
    platform::EventHook events_;
    platform::EventHook painted_;
    platform::MessageHook messages_;
};

bool CanWriteThere(const QString& folder) {
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isWritable()) return false;
    const QFileInfo file(QDir(folder).filePath(kSettingsName));
    return !file.exists() || file.isWritable();
}

QString UserConfigFolder() {
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value is to be ignored, as the base directory rules say.
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured)) return configured;
    return QDir::homePath() + QStringLiteral("/.config");
}

}  // namespace

std::string ProgramFolder() {
    return ui::ToGbk(QCoreApplication::applicationDirPath());
}

std::string SettingsPath(const std::string& programFolder) {
    const QString folder = ui::ToQString(programFolder);
    if (CanWriteThere(folder)) return ui::ToGbk(QDir(folder).filePath(kSettingsName));
    const QString fallback = UserConfigFolder() + QStringLiteral("/zembrat");
    QDir().mkpath(fallback);
    return ui::ToGbk(fallback + QStringLiteral("/") + kSettingsName);
}

int RunProgram(const std::string& programFolder) {
    ProgramObjects objects;
    objects.settings = std::make_unique<config::ConfigStore>();
    objects.textDialog = std::make_unique<ui::TextDialogRequest>();
    objects.web = std::make_unique<web::WebClient>();
    objects.web->CreateRequest();
    const ExitRoutine exitRoutine(objects);

    const ToolkitHooks hooks;
    ui::RegisterFontSubstitutes();

    // Whether the file could be opened is not looked at here: a save that cannot reach it says
    // so itself.
    objects.settings->Open(SettingsPath(programFolder), config::DiskFile);

    ui::MainWindow window(*objects.settings, *objects.textDialog, *objects.web);
    window.show();
    window.raise();
    window.activateWindow();
    return QApplication::exec();
}

}  // namespace zembrat::app
