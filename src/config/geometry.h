// What the store needs to know of a window and of an on/off control to keep their state across
// runs. The user interface adapts its widgets to these interfaces.
#pragma once

#include <string>

namespace zembrat::config {

// Placement states of a window, as stored under "位置". From kPlacementMinimised on, a state
// keeps the window's rectangle out of the settings: it is neither saved nor applied. A Qt window
// maps to them as: minimised -> kPlacementMinimised, maximised -> kPlacementMaximised, full
// screen -> kPlacementFullScreen, anything else -> kPlacementNormal.
inline constexpr int kPlacementNormal = 0;
inline constexpr int kPlacementCentred = 1;
inline constexpr int kPlacementMinimised = 2;
inline constexpr int kPlacementMaximised = 3;
inline constexpr int kPlacementFullScreen = 4;

struct WindowRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    bool operator==(const WindowRect&) const = default;
};

class PlacedWindow {
  public:
    virtual ~PlacedWindow() = default;
    virtual int PlacementState() const = 0;
    virtual void SetPlacementState(int state) = 0;
    virtual WindowRect Rect() const = 0;
    // Moves and sizes the window in one step.
    virtual void SetRect(const WindowRect& rect) = 0;
};

// An on/off control, keyed by a stable text of the control.
class OnOffControl {
  public:
    virtual ~OnOffControl() = default;
    virtual std::string KeyText() const = 0;  // GBK
    virtual bool IsOn() const = 0;
    virtual void SetOn(bool on) = 0;
};

// The three kinds of on/off control the store keeps, each with the pair of properties it takes:
// a checkable menu entry (QAction: text / checked), a check box (QCheckBox: text / checked) and
// a radio button (QRadioButton: text / checked).
class CheckableMenuItem : public OnOffControl {};
class CheckBoxControl : public OnOffControl {};
class RadioButtonControl : public OnOffControl {};

}  // namespace zembrat::config
