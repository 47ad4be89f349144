#include "ui/geometry_adapters.h"

#include <QAction>
#include <QCheckBox>
#include <QRadioButton>
#include <QWidget>

#include "ui/qt_text.h"

namespace zembrat::ui {

int WindowPlacement::PlacementState() const {
    const Qt::WindowStates states = window_.windowState();
    if (states & Qt::WindowMinimized) return config::kPlacementMinimised;
    if (states & Qt::WindowFullScreen) return config::kPlacementFullScreen;
    if (states & Qt::WindowMaximized) return config::kPlacementMaximised;
    return config::kPlacementNormal;
}

void WindowPlacement::SetPlacementState(int state) {
    switch (state) {
        case config::kPlacementMinimised:
            window_.setWindowState(Qt::WindowMinimized);
            break;
        case config::kPlacementMaximised:
            window_.setWindowState(Qt::WindowMaximized);
            break;
        case config::kPlacementFullScreen:
            window_.setWindowState(Qt::WindowFullScreen);
            break;
        default:
            window_.setWindowState(Qt::WindowNoState);
            break;
    }
}

config::WindowRect WindowPlacement::Rect() const {
    const QRect r = window_.geometry();
    return {r.x(), r.y(), r.width(), r.height()};
}

void WindowPlacement::SetRect(const config::WindowRect& rect) {
    window_.setGeometry(rect.left, rect.top, rect.width, rect.height);
}

template <class Control, class Widget>
std::string CheckedState<Control, Widget>::KeyText() const {
    return ToGbk(widget_.text());
}
template <class Control, class Widget>
bool CheckedState<Control, Widget>::IsOn() const {
    return widget_.isChecked();
}
template <class Control, class Widget>
void CheckedState<Control, Widget>::SetOn(bool on) {
    widget_.setChecked(on);
}

template class CheckedState<config::CheckableMenuItem, QAction>;
template class CheckedState<config::CheckBoxControl, QCheckBox>;
template class CheckedState<config::RadioButtonControl, QRadioButton>;

}  // namespace zembrat::ui
