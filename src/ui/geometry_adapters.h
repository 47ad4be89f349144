// Qt windows and on/off controls as the settings store sees them, so that a window's placement
// and a control's state can be kept across runs (ConfigStore::SaveWindowGeometry and friends).
// Each adapter refers to a live widget or action that outlives it.
#pragma once

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

// A checkable menu entry, keyed by its text; on is checked. A menu entry that is not
// checkable stays unchecked.
class ActionState : public config::CheckableMenuItem {
  public:
    explicit ActionState(QAction& action) : action_(action) {}
    std::string KeyText() const override;
    bool IsOn() const override;
    void SetOn(bool on) override;

  private:
    QAction& action_;
};

// A check box, keyed by its caption; on is checked.
class CheckBoxState : public config::CheckBoxControl {
  public:
    explicit CheckBoxState(QCheckBox& box) : box_(box) {}
    std::string KeyText() const override;
    bool IsOn() const override;
    void SetOn(bool on) override;

  private:
    QCheckBox& box_;
};

// A radio button, keyed by its caption; on is checked. In an exclusive group the checked one
// cannot be switched off by itself, which a restore reports by reading the state back.
class RadioButtonState : public config::RadioButtonControl {
  public:
    explicit RadioButtonState(QRadioButton& button) : button_(button) {}
    std::string KeyText() const override;
    bool IsOn() const override;
    void SetOn(bool on) override;

  private:
    QRadioButton& button_;
};

}  // namespace zembrat::ui
