// What the tests of the program's start-up share: running the program in this process with a
// hand on its main window, and environment variables set for the length of a test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>
#include <QTimer>

#include <functional>
#include <string>

#include "app/program.h"
#include "ui/main_window.h"

namespace zembrat::testing {

// Runs the program in programFolder as main() does and hands its main window to `use` once the
// settings are in it; `use` closes it. A window that never comes or never closes ends the loop
// and fails the test.
inline int RunWithWindow(const std::string& programFolder,
                         const std::function<void(ui::MainWindow&)>& use) {
    bool used = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (used) return;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<ui::MainWindow*>(w);
            if (!window || !window->isVisible() || !window->settingsLoaded()) continue;
            used = true;
            use(*window);
            return;
        }
    });
    poll.start(10);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        ADD_FAILURE() << "the main window did not close";
        QApplication::closeAllWindows();
        QApplication::exit(1);
    });
    guard.start(30000);
    const int code = app::RunProgram(programFolder);
    EXPECT_TRUE(used) << "the main window never came up";
    return code;
}

// Sets (or, given no value, clears) an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const QByteArray* value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

  private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

}  // namespace zembrat::testing
