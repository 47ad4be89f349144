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

std::string ActionState::KeyText() const {
    return ToGbk(action_.text());
}
bool ActionState::IsOn() const {
    return action_.isChecked();
}
void ActionState::SetOn(bool on) {
    action_.setChecked(on);
}

std::string CheckBoxState::KeyText() const {
    return ToGbk(box_.text());
}
bool CheckBoxState::IsOn() const {
    return box_.isChecked();
}
void CheckBoxState::SetOn(bool on) {
    box_.setChecked(on);
}

std::string RadioButtonState::KeyText() const {
    return ToGbk(button_.text());
}
bool RadioButtonState::IsOn() const {
    return button_.isChecked();
}
void RadioButtonState::SetOn(bool on) {
    button_.setChecked(on);
}

}  // namespace zembrat::ui
