// The program's pictures, drawn in code so that the executable needs no image files.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QVector>

namespace zembrat::ui {

enum class BannerPicture { Save, Help, Update, Chat, Software, Options };

// A 64 x 64 banner picture; the alternate one is shown while the mouse is over the button.
QPixmap BannerIcon(BannerPicture picture, bool alternate);
// The 145 x 64 logo of the banner.
QPixmap Logo(bool alternate);
// The status list's four 24 x 24 icons, in the order of StatusIcon: saved, failed,
// queued, downloading.
QVector<QIcon> StatusIcons();
// The program's own icon at a given size.
QPixmap AppIcon(int size);

}  // namespace zembrat::ui
