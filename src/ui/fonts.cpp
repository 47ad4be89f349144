#include "ui/fonts.h"

#include <QStringList>

namespace zembrat::ui {
namespace {

const QStringList& CjkFallbacks() {
    static const QStringList fonts = {
        QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("WenQuanYi Zen Hei"),
        QStringLiteral("Noto Sans CJK SC"),    QStringLiteral("Noto Serif CJK SC"),
        QStringLiteral("AR PL UMing CN"),      QStringLiteral("Droid Sans Fallback"),
    };
    return fonts;
}

QFont Designed(const QString& family, int pixels) {
    QFont font(family);
    font.setPixelSize(pixels);
    return font;
}

}  // namespace

void RegisterFontSubstitutes() {
    QFont::insertSubstitutions(QStringLiteral("SimSun"), CjkFallbacks());
    QFont::insertSubstitutions(QStringLiteral("SimHei"), CjkFallbacks());
}

QFont SimSun(int pixels) {
    return Designed(QStringLiteral("SimSun"), pixels);
}

QFont SimHei(int pixels, bool bold) {
    QFont font = Designed(QStringLiteral("SimHei"), pixels);
    font.setBold(bold);
    return font;
}

}  // namespace zembrat::ui
