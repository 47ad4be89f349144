#include "ui/shell.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

#include "support/gui_helpers.h"
#include "support/temp_dir.h"
#include "ui/qt_text.h"

namespace zembrat::ui {
namespace {
using platform::MessageAnswer;
using platform::MessageButtons;
using testing::FakeProgram;
using testing::MessageBoxAnswerer;
using testing::TempDir;

TEST(ShowMessage, DefaultTitleAndTheAnswerPressed) {
    MessageBoxAnswerer answerer({QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok});
    EXPECT_EQ(ShowMessage(QStringLiteral("问题"), MessageButtons::YesNo), MessageAnswer::Yes);
    EXPECT_EQ(ShowMessage(QStringLiteral("问题"), MessageButtons::YesNo), MessageAnswer::No);
    EXPECT_EQ(ShowMessage(QStringLiteral("保存完毕！")), MessageAnswer::Ok);
    EXPECT_EQ(answerer.titles, (QStringList{QStringLiteral("信息："), QStringLiteral("信息："),
                                            QStringLiteral("信息：")}));
    EXPECT_EQ(answerer.texts[2], QStringLiteral("保存完毕！"));
    // A request from the core, with its own title and a warning icon.
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    answerer.onBox = [&](QMessageBox* box) { icon = box->icon(); };
    platform::MessageRequest request;
    request.text = "x";
    request.title = "Qorv";
    request.warning = true;
    EXPECT_EQ(ShowMessageRequest(request), MessageAnswer::Ok);
    EXPECT_EQ(answerer.titles.last(), QStringLiteral("Qorv"));
    EXPECT_EQ(icon, QMessageBox::Warning);
}

TEST(OpenInFileManager, HandsTheFolderOverAsOneArgument) {
    TempDir dir;
    FakeProgram fileManager(ToQString(dir.path()), QStringLiteral("xdg-open"));
    const QString folder = QStringLiteral("/tmp/文章 目录\"x\"");
    EXPECT_TRUE(OpenInFileManager(folder));
    EXPECT_EQ(fileManager.Calls(), QStringList{folder});
}

TEST(OpenInFileManager, APathEndingInExeStartsThatProgram) {
    TempDir dir;
    const QString program = ToQString(dir.path()) + QStringLiteral("/Tool.EXE");
    const QString marker = ToQString(dir.path()) + QStringLiteral("/started");
    QFile f(program);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("#!/bin/sh\ntouch '%1'\n").arg(marker).toUtf8());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_TRUE(OpenInFileManager(program));
    for (int i = 0; i < 300 && !QFile::exists(marker); ++i) QTest::qWait(10);
    EXPECT_TRUE(QFile::exists(marker));
}

TEST(RunCommand, WaitsWhenAskedAndFailsForMissingPrograms) {
    TempDir dir;
    const QString out = ToQString(dir.path()) + QStringLiteral("/out.txt");
    EXPECT_TRUE(RunCommand(QStringLiteral("sh -c \"sleep 0.2; echo done > '%1'\"").arg(out), true));
    EXPECT_TRUE(QFile::exists(out));  // it waited for the end
    // Show modes out of range are accepted.
    EXPECT_TRUE(RunCommand(QStringLiteral("true"), true, 9));
    EXPECT_TRUE(RunCommand(QStringLiteral("true"), true, 0));
    EXPECT_FALSE(RunCommand(QStringLiteral("/no/such/program --x")));
    EXPECT_FALSE(RunCommand(QStringLiteral("/no/such/program"), true));
    EXPECT_FALSE(RunCommand(QString()));
}

TEST(PickFolder, ReturnsTheChoiceTrimmedOrNothingWhenCancelled) {
    TempDir dir;
    const QString base = ToQString(dir.path());
    QDir(base).mkdir(QStringLiteral(" 带空格 "));
    QString title;
    testing::WhenModalAppears([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        if (!dialog) return false;
        title = dialog->windowTitle();
        dialog->selectFile(base + QStringLiteral("/ 带空格 "));
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        return true;
    });
    EXPECT_EQ(PickFolder(base), base + QStringLiteral("/ 带空格"));
    EXPECT_EQ(title, QStringLiteral("请选择一个文件夹"));

    testing::WhenModalAppears([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        if (!dialog) return false;
        QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
        return true;
    });
    EXPECT_EQ(PickFolder(base), QString());
}

}  // namespace
}  // namespace zembrat::ui
