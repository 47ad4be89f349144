// Window geometry and on/off control states, kept as typed values of the store.
#include <cmath>
#include <limits>

#include "config/config_store.h"
#include "text/codec.h"

namespace zembrat::config {

using namespace text::literals;

// --- window geometry and control states -----------------------------------------------------

bool ConfigStore::SaveOnOff(const OnOffControl& control) {
    return WriteBool(control.KeyText(), control.IsOn()) == WriteResult::kWritten;
}

bool ConfigStore::RestoreOnOff(OnOffControl& control) {
    control.SetOn(ReadBool(control.KeyText(), control.IsOn()));
    return control.IsOn();
}

bool ConfigStore::SaveControlState(const CheckableMenuItem& control) {
    return SaveOnOff(control);
}
bool ConfigStore::RestoreControlState(CheckableMenuItem& control) {
    return RestoreOnOff(control);
}
bool ConfigStore::SaveControlState(const CheckBoxControl& control) {
    return SaveOnOff(control);
}
bool ConfigStore::RestoreControlState(CheckBoxControl& control) {
    return RestoreOnOff(control);
}
bool ConfigStore::SaveControlState(const RadioButtonControl& control) {
    return SaveOnOff(control);
}
bool ConfigStore::RestoreControlState(RadioButtonControl& control) {
    return RestoreOnOff(control);
}

namespace {

int IntFromReal(double v) {
    if (std::isnan(v)) return 0;
    if (v >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    if (v <= static_cast<double>(std::numeric_limits<int>::min())) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(v);  // towards zero
}

std::string GeometrySection(std::string_view name) {
    return (name.empty() ? "主界面"_gbk : std::string(name)) + ".尺寸"_gbk;
}

}  // namespace

void ConfigStore::SaveWindowGeometry(const PlacedWindow& window, std::string_view name) {
    SetSection(GeometrySection(name));
    const int state = window.PlacementState();
    WriteNumber("位置"_gbk, state);
    // In these states the rectangle is not the window's own; the last one saved is kept.
    if (state >= kPlacementMinimised) return;
    const WindowRect rect = window.Rect();
    WriteNumber("左边"_gbk, rect.left);
    WriteNumber("顶边"_gbk, rect.top);
    WriteNumber("宽度"_gbk, rect.width);
    WriteNumber("高度"_gbk, rect.height);
}

void ConfigStore::RestoreWindowGeometry(PlacedWindow& window, std::string_view name) {
    SetSection(GeometrySection(name));
    window.SetPlacementState(IntFromReal(ReadNumber("位置"_gbk, window.PlacementState())));
    if (window.PlacementState() >= kPlacementMinimised) return;
    const WindowRect current = window.Rect();
    WindowRect rect;
    rect.left = IntFromReal(ReadNumber("左边"_gbk, current.left));
    rect.top = IntFromReal(ReadNumber("顶边"_gbk, current.top));
    rect.width = IntFromReal(ReadNumber("宽度"_gbk, current.width));
    rect.height = IntFromReal(ReadNumber("高度"_gbk, current.height));
    window.SetRect(rect);
}

}  // namespace zembrat::config
