#pragma once

#include <QFont>

namespace zembrat::ui {

// Registers the machine's CJK fonts as substitutes for "SimSun" and "SimHei", so the designed
// fonts render wherever those two are missing. Call once after the application exists.
void RegisterFontSubstitutes();

// The designed fonts, sized by character height in pixels.
QFont SimSun(int pixels);
QFont SimHei(int pixels, bool bold = false);

}  // namespace zembrat::ui
