// Helpers for tests that drive real widgets offscreen.
#pragma once

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>

#include <ostream>

// Readable QStrings in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace zembrat::testing {

// The widget of that class and object name below parent; a test failure when there is none.
template <class T>
T* Child(const QObject& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromUtf8(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// Answers the application's modal message boxes as they appear, in order, and records what
// they said. Boxes beyond the given answers are answered with their escape button.
class MessageBoxAnswerer : public QObject {
  public:
    explicit MessageBoxAnswerer(std::deque<QMessageBox::StandardButton> answers = {});
    ~MessageBoxAnswerer() override;

    void Add(QMessageBox::StandardButton answer) { answers_.push_back(answer); }

    QStringList titles, texts;
    // Runs when a box is seen, before it is answered.
    std::function<void(QMessageBox*)> onBox;

  private:
    void Poll();

    std::deque<QMessageBox::StandardButton> answers_;
    QTimer timer_;
};

// Polls for a visible modal widget and hands it to action until action returns true (or the
// time is up).
void WhenModalAppears(const std::function<bool(QWidget*)>& action, int timeoutMs = 5000);

// Points PATH at a folder whose program `name` records each call's arguments, one per line,
// into log; restores PATH when destroyed.
class FakeProgram {
  public:
    FakeProgram(const QString& folder, const QString& name);
    ~FakeProgram();
    // Arguments of the calls so far, waiting up to timeoutMs for the first one.
    QStringList Calls(int timeoutMs = 3000) const;

  private:
    QString log_;
    QByteArray oldPath_;
};

}  // namespace zembrat::testing
