// The program's GBK text at the Qt edge.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace zembrat::ui {

QString ToQString(std::string_view gbk);
std::string ToGbk(const QString& text);

}  // namespace zembrat::ui
