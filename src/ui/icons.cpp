#include "ui/icons.h"

#include <cmath>

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace zembrat::ui {
namespace {

QPixmap Blank(int w, int h) {
    QPixmap pixmap(w, h);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void Backdrop(QPainter& p, const QRectF& r, bool alternate) {
    if (!alternate) return;
    p.setPen(QPen(QColor(0x7d, 0xa2, 0xce), 1));
    p.setBrush(QColor(0xdc, 0xeb, 0xfc));
    p.drawRoundedRect(r.adjusted(1.5, 1.5, -1.5, -1.5), 6, 6);
}

void DrawSave(QPainter& p) {
    p.setPen(QPen(QColor(0x1f, 0x3f, 0x7a), 2));
    p.setBrush(QColor(0x3a, 0x6e, 0xc8));
    QPainterPath disk;
    disk.moveTo(12, 10);
    disk.lineTo(46, 10);
    disk.lineTo(54, 18);
    disk.lineTo(54, 54);
    disk.lineTo(12, 54);
    disk.closeSubpath();
    p.drawPath(disk);
    p.setBrush(QColor(0xf2, 0xf2, 0xf2));
    p.drawRect(QRectF(20, 10, 24, 14));
    p.setBrush(QColor(0x1f, 0x3f, 0x7a));
    p.drawRect(QRectF(36, 13, 5, 8));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(18, 32, 30, 18));
    p.setPen(QPen(QColor(0x9a, 0xa7, 0xbb), 1.5));
    for (int y = 37; y <= 45; y += 4) p.drawLine(22, y, 44, y);
}

void DrawHelp(QPainter& p) {
    QRadialGradient g(QPointF(26, 24), 30);
    g.setColorAt(0, QColor(0xff, 0xd8, 0x5c));
    g.setColorAt(1, QColor(0xf0, 0x9a, 0x10));
    p.setPen(QPen(QColor(0xb0, 0x6a, 0x00), 2));
    p.setBrush(g);
    p.drawEllipse(QRectF(8, 8, 48, 48));
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(34);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(8, 8, 48, 48), Qt::AlignCenter, QStringLiteral("?"));
}

void DrawUpdate(QPainter& p) {
    p.setPen(QPen(QColor(0x6b, 0x2d, 0x12), 2));
    p.setBrush(QColor(0xd9, 0x4f, 0x2b));
    QPainterPath roof;
    roof.moveTo(6, 32);
    roof.lineTo(32, 8);
    roof.lineTo(58, 32);
    roof.closeSubpath();
    p.drawPath(roof);
    p.setBrush(QColor(0xf6, 0xe7, 0xc8));
    p.drawRect(QRectF(14, 32, 36, 24));
    p.setBrush(QColor(0x8a, 0x5a, 0x2b));
    p.drawRect(QRectF(28, 40, 10, 16));
    p.setBrush(QColor(0x7f, 0xc4, 0xef));
    p.drawRect(QRectF(17, 36, 8, 8));
}

void DrawChat(QPainter& p) {
    p.setPen(QPen(QColor(0x1a, 0x7a, 0x3a), 2));
    p.setBrush(QColor(0x3c, 0xb8, 0x5f));
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(6, 10, 52, 34), 12, 12);
    bubble.moveTo(18, 42);
    bubble.lineTo(14, 56);
    bubble.lineTo(30, 43);
    p.drawPath(bubble.simplified());
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (int x : {20, 32, 44}) p.drawEllipse(QPointF(x, 27), 4, 4);
}

void DrawSoftware(QPainter& p) {
    const QColor colors[] = {QColor(0xe5, 0x48, 0x3d), QColor(0x2f, 0x8f, 0xe0),
                             QColor(0x3c, 0xb8, 0x5f), QColor(0xf2, 0xb1, 0x1b)};
    int k = 0;
    for (int row = 0; row < 2; ++row) {
        for (int col = 0; col < 2; ++col) {
            p.setPen(QPen(colors[k].darker(140), 1.5));
            p.setBrush(colors[k++]);
            p.drawRoundedRect(QRectF(10 + col * 24, 10 + row * 24, 20, 20), 4, 4);
        }
    }
}

// A gear: the extension options.
void DrawOptions(QPainter& p) {
    const QPointF centre(32, 32);
    QPolygonF teeth;
    constexpr int kTeeth = 8;
    for (int i = 0; i < kTeeth * 4; ++i) {
        const double angle = (i / 4.0) * 2 * M_PI / kTeeth - M_PI / kTeeth / 2;
        const double radius = (i % 4 == 1 || i % 4 == 2) ? 24 : 18;
        teeth << centre + QPointF(radius * std::cos(angle), radius * std::sin(angle));
    }
    p.setPen(QPen(QColor(0x4a, 0x55, 0x66), 1.5));
    p.setBrush(QColor(0x8a, 0x97, 0xaa));
    p.drawPolygon(teeth);
    p.setBrush(Qt::white);
    p.drawEllipse(centre, 7, 7);
}

// A framed picture with an arrow, the program's sign.
void DrawPicture(QPainter& p, qreal s) {
    p.scale(s / 64.0, s / 64.0);
    p.setPen(QPen(QColor(0x2b, 0x4a, 0x80), 3));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(6, 10, 46, 38), 5, 5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x7f, 0xc4, 0xef));
    p.drawRect(QRectF(10, 14, 38, 30));
    p.setBrush(QColor(0x3c, 0xa0, 0x4c));
    QPainterPath hill;
    hill.moveTo(10, 44);
    hill.lineTo(24, 26);
    hill.lineTo(34, 38);
    hill.lineTo(40, 32);
    hill.lineTo(48, 44);
    hill.closeSubpath();
    p.drawPath(hill);
    p.setBrush(QColor(0xff, 0xd2, 0x3f));
    p.drawEllipse(QPointF(40, 21), 4, 4);
    p.setBrush(QColor(0xe8, 0x5d, 0x1f));
    QPainterPath arrow;
    arrow.moveTo(44, 40);
    arrow.lineTo(60, 40);
    arrow.lineTo(60, 34);
    arrow.lineTo(62, 34);
    arrow.lineTo(52, 24);
    arrow.lineTo(42, 34);
    arrow.lineTo(50, 34);
    arrow.lineTo(50, 40);
    QTransform t;
    t.translate(52, 44);
    t.rotate(180);
    t.translate(-52, -30);
    p.drawPath(t.map(arrow));
}

void DrawStatus(QPainter& p, int index) {
    const QColor fill[] = {QColor(0x2e, 0xa0, 0x43), QColor(0xd6, 0x32, 0x2b),
                           QColor(0x8c, 0x8c, 0x8c), QColor(0x24, 0x78, 0xd8)};
    p.setPen(QPen(fill[index].darker(130), 1));
    p.setBrush(fill[index]);
    p.drawEllipse(QRectF(1.5, 1.5, 21, 21));
    p.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    switch (index) {
        case 0:  // saved: a tick
            p.drawPolyline(QPolygonF({QPointF(7, 12.5), QPointF(10.5, 16), QPointF(17, 8.5)}));
            break;
        case 1:  // failed: a cross
            p.drawLine(QPointF(8, 8), QPointF(16, 16));
            p.drawLine(QPointF(16, 8), QPointF(8, 16));
            break;
        case 2:  // queued: a clock
            p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(12, 12), QPointF(12, 6.5));
            p.drawLine(QPointF(12, 12), QPointF(16, 14));
            break;
        default:  // downloading: an arrow down
            p.drawLine(QPointF(12, 6), QPointF(12, 17));
            p.drawPolyline(QPolygonF({QPointF(7.5, 12.5), QPointF(12, 17), QPointF(16.5, 12.5)}));
            break;
    }
}

}  // namespace

QPixmap BannerIcon(BannerPicture picture, bool alternate) {
    QPixmap pixmap = Blank(64, 64);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    Backdrop(p, QRectF(0, 0, 64, 64), alternate);
    switch (picture) {
        case BannerPicture::Save:
            DrawSave(p);
            break;
        case BannerPicture::Help:
            DrawHelp(p);
            break;
        case BannerPicture::Update:
            DrawUpdate(p);
            break;
        case BannerPicture::Chat:
            DrawChat(p);
            break;
        case BannerPicture::Software:
            DrawSoftware(p);
            break;
        case BannerPicture::Options:
            DrawOptions(p);
            break;
    }
    return pixmap;
}

QPixmap Logo(bool alternate) {
    QPixmap pixmap = Blank(145, 64);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 64);
    g.setColorAt(0, alternate ? QColor(0x4f, 0x8f, 0xe8) : QColor(0x3a, 0x78, 0xd0));
    g.setColorAt(1, alternate ? QColor(0x25, 0x55, 0xa8) : QColor(0x1d, 0x47, 0x94));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(1, 4, 143, 56), 10, 10);
    p.save();
    p.translate(6, 10);
    DrawPicture(p, 44);
    p.restore();
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(17);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(52, 4, 90, 56), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Zembrat"));
    return pixmap;
}

QVector<QIcon> StatusIcons() {
    QVector<QIcon> icons;
    for (int i = 0; i < 4; ++i) {
        QPixmap pixmap = Blank(24, 24);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        DrawStatus(p, i);
        p.end();
        icons.push_back(QIcon(pixmap));
    }
    return icons;
}

QPixmap AppIcon(int size) {
    QPixmap pixmap = Blank(size, size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    DrawPicture(p, size);
    return pixmap;
}

}  // namespace zembrat::ui
