// Qt windows and on/off controls as the settings store sees them, so that a window's placement
// and a control's state can be kept across runs (ConfigStore::SaveWindowGeometry and friends).
// Each adapter refers to a live widget or action that outlives it.
#pragma once

#include <string>

#include "config/geometry.h"

class QAction;
class QCheckBox;
class QRadioButton;
class QWidget;

namespace zembrat::ui {

// A top-level window: minimised, maximised and full screen are the states that keep the
// rectangle out of the settings (codes 2, 3, 4); anything else is normal (0). The rectangle is
// the window's client geometry, which setGeometry applies in one step.
class WindowPlacement : public config::PlacedWindow {
  public:
    explicit WindowPlacement(QWidget& window) : window_(window) {}
    int PlacementState() const override;
    // Codes 0 and 1 (and unknown ones) make the window normal; 2, 3, 4 as above.
    void SetPlacementState(int state) override;
    config::WindowRect Rect() const override;
    void SetRect(const config::WindowRect& rect) override;

  private:
    QWidget& window_;
};

// An on/off control keyed by its text (a menu entry's or a button's caption); on is checked.
// The same for the three kinds: a menu entry that is not checkable stays unchecked, and in an
// exclusive group the checked radio button cannot be switched off by itself, which a restore
// reports by reading the state back.
template <class Control, class Widget>
class CheckedState : public Control {
  public:
    explicit CheckedState(Widget& widget) : widget_(widget) {}
    std::string KeyText() const override;
    bool IsOn() const override;
    void SetOn(bool on) override;

  private:
    Widget& widget_;
};

using ActionState = CheckedState<config::CheckableMenuItem, QAction>;
using CheckBoxState = CheckedState<config::CheckBoxControl, QCheckBox>;
using RadioButtonState = CheckedState<config::RadioButtonControl, QRadioButton>;

}  // namespace zembrat::ui
