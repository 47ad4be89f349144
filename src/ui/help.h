#pragma once

#include <QString>

namespace zembrat::ui {

// The built-in help text, CR LF line breaks.
QString HelpText();

// The help file shipped beside the program (or in the installed data folder), which the
// banner's links open; empty when it cannot be found.
QString HelpFilePath();

}  // namespace zembrat::ui
