#include "support/gui_helpers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace zembrat::testing {

MessageBoxAnswerer::MessageBoxAnswerer(std::deque<QMessageBox::StandardButton> answers)
    : answers_(std::move(answers)) {
    connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start(10);
}

MessageBoxAnswerer::~MessageBoxAnswerer() {
    timer_.stop();
}

void MessageBoxAnswerer::Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible() || box->property("zembratAnswered").toBool()) return;
    box->setProperty("zembratAnswered", true);
    titles << box->windowTitle();
    texts << box->text();
    if (onBox) onBox(box);
    QAbstractButton* button = nullptr;
    if (!answers_.empty()) {
        button = box->button(answers_.front());
        answers_.pop_front();
    }
    if (!button) button = box->escapeButton();
    if (!button && !box->buttons().isEmpty()) button = box->buttons().first();
    if (button) QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
}

void WhenModalAppears(const std::function<bool(QWidget*)>& action, int timeoutMs) {
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, action, timeoutMs] {
        QWidget* modal = QApplication::activeModalWidget();
        if ((modal && modal->isVisible() && action(modal)) || clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            delete clock;
        }
    });
    timer->start(10);
}

FakeProgram::FakeProgram(const QString& folder, const QString& name)
    : log_(folder + "/" + name + ".log") {
    const QString script = folder + "/" + name;
    QFile f(script);
    f.open(QIODevice::WriteOnly);
    f.write(QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '%1'; "
                           "done\nprintf -- '--\\n' >> '%1'\n")
                .arg(log_)
                .toUtf8());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    oldPath_ = qgetenv("PATH");
    qputenv("PATH", folder.toUtf8() + ":" + oldPath_);
}

FakeProgram::~FakeProgram() {
    qputenv("PATH", oldPath_);
}

QStringList FakeProgram::Calls(int timeoutMs) const {
    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(log_) && clock.elapsed() < timeoutMs) QThread::msleep(10);
    QThread::msleep(50);  // let the script finish writing
    QFile f(log_);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList calls;
    QString current;
    for (const QString& line : QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts)) {
        if (line == QStringLiteral("--")) {
            calls << current;
            current.clear();
        } else {
            current += (current.isEmpty() ? QString() : QStringLiteral(" ")) + line;
        }
    }
    return calls;
}

}  // namespace zembrat::testing
