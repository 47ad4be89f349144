#include "ui/shell.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QUrl>

#include <algorithm>

#include "text/gbk.h"
#include "ui/qt_text.h"

namespace zembrat::ui {

using platform::MessageAnswer;
using platform::MessageButtons;

QString PickFolder(const QString& initialFolder, const QString& title) {
    const QString caption = title.isEmpty() ? QStringLiteral("请选择一个文件夹") : title;
    const QString chosen = QFileDialog::getExistingDirectory(
        nullptr, caption, initialFolder,
        QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    return ToQString(text::Trim(ToGbk(chosen)));
}

MessageAnswer ShowMessage(const QString& text, MessageButtons buttons, const QString& title,
                          bool warning, bool stayOnTop) {
    QMessageBox box(
        warning ? QMessageBox::Warning : QMessageBox::NoIcon,
        title.isEmpty() ? QStringLiteral("信息：") : title, text,
        buttons == MessageButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    if (stayOnTop) box.setWindowFlag(Qt::WindowStaysOnTopHint);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        case QMessageBox::Cancel:
            return MessageAnswer::Cancel;
        default:
            return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
}

MessageAnswer ShowMessageRequest(const platform::MessageRequest& request) {
    return ShowMessage(ToQString(request.text), request.buttons, ToQString(request.title),
                       request.warning, request.systemModal);
}

QString FileManagerProgram() {
    return QStringLiteral("xdg-open");
}

bool OpenInFileManager(const QString& folder) {
    if (folder.right(4).toLower() == QStringLiteral(".exe")) return RunCommand(folder);
    // The folder goes as one argument, so that no quote or space in its name can change the
    // command.
    const QStringList arguments = {folder};
    return QProcess::startDetached(FileManagerProgram(), arguments);
}

bool RunCommand(const QString& commandLine, bool wait, int showMode) {
    showMode = std::clamp(showMode, 1, 6);  // 1 hidden .. 6 minimised; no effect on X11/Wayland
    (void)showMode;
    QStringList words = QProcess::splitCommand(commandLine);
    if (words.isEmpty()) return false;
    const QString program = words.takeFirst();
    if (!wait) return QProcess::startDetached(program, words);
    QProcess process;
    process.start(program, words);
    if (!process.waitForStarted(1000)) return false;
    process.waitForFinished(-1);
    return true;
}

void OpenAddress(const QString& address) {
    QDesktopServices::openUrl(QUrl(address));
}

}  // namespace zembrat::ui
