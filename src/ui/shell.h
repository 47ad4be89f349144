// Small helpers that hand work to the desktop: folder picker, message box, file manager,
// starting a command line, opening a web address. None keeps state between calls.
#pragma once

#include <QString>

#include "platform/messages.h"

namespace zembrat::ui {

// The chosen folder with leading and trailing spaces (ASCII and full-width) removed, or "" when
// cancelled. title defaults to "请选择一个文件夹". The picker has no owner window.
QString PickFolder(const QString& initialFolder, const QString& title = QString());

// A message box modal to the whole application, titled "信息：" unless a title is given.
platform::MessageAnswer ShowMessage(const QString& text,
                                    platform::MessageButtons buttons = platform::MessageButtons::Ok,
                                    const QString& title = QString(), bool warning = false,
                                    bool stayOnTop = false);
// The same for the core's requests (GBK texts).
platform::MessageAnswer ShowMessageRequest(const platform::MessageRequest& request);

// Opens the folder in a new file-manager window without waiting. A path ending in ".exe" (any
// letter case) names a program, which is started instead. True when the process started.
bool OpenInFileManager(const QString& folder);

// Starts a command line split with shell-like quoting. With wait, returns when the process
// has ended; otherwise once it has started (at most about a second). showMode is accepted and
// clamped to 1..6 as the original does; the window systems here have no counterpart for it.
bool RunCommand(const QString& commandLine, bool wait = false, int showMode = 2);

// Opens the address with the user's default browser; failures are not reported.
void OpenAddress(const QString& address);

// The program the file manager is opened with ("xdg-open" on Linux).
QString FileManagerProgram();

}  // namespace zembrat::ui
