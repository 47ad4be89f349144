#include "ui/qt_event_points.h"

#include <QApplication>

#include "ui/shell.h"

namespace zembrat::ui {

void QtEventPoints::ProcessEvents() {
    if (sinceLastPass_.isValid() && !sinceLastPass_.hasExpired(kMinimumIntervalMs)) return;
    QApplication::processEvents();
    sinceLastPass_.start();
}

void QtEventPoints::KeepPainted() {
    ProcessEvents();
}

platform::MessageAnswer QtEventPoints::ShowMessage(const platform::MessageRequest& request) {
    return ShowMessageRequest(request);
}

}  // namespace zembrat::ui
