#include "ui/qt_text.h"

#include "text/codec.h"

namespace zembrat::ui {

QString ToQString(std::string_view gbk) {
    const std::u16string utf16 = text::Utf16FromGbk(gbk);
    return QString(reinterpret_cast<const QChar*>(utf16.data()),
                   static_cast<qsizetype>(utf16.size()));
}

std::string ToGbk(const QString& text) {
    return text::GbkFromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                                  static_cast<std::size_t>(text.size())));
}

}  // namespace zembrat::ui
