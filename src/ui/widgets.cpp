#include "ui/widgets.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/shell.h"

namespace zembrat::ui {

ImageButton::ImageButton(const QPixmap& normal, const QPixmap& alternate, QWidget* parent)
    : QAbstractButton(parent), normal_(normal), alternate_(alternate) {
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::NoFocus);
}

void ImageButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPixmap& picture = (underMouse() || isDown()) ? alternate_ : normal_;
    p.drawPixmap(QPoint((width() - picture.width()) / 2, (height() - picture.height()) / 2),
                 picture);
}

void ImageButton::enterEvent(QEnterEvent* event) {
    update();
    QAbstractButton::enterEvent(event);
}

void ImageButton::leaveEvent(QEvent* event) {
    update();
    QAbstractButton::leaveEvent(event);
}

TextLink::TextLink(const QString& caption, const QString& address, QWidget* parent)
    : QLabel(caption, parent), address_(address) {
    setCursor(Qt::PointingHandCursor);
    setAlignment(Qt::AlignCenter);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, QColor(0x00, 0x33, 0xcc));
    setPalette(pal);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
}

void TextLink::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        leftDown_ = true;
        emit pressed();
    }
    QLabel::mousePressEvent(event);
}

void TextLink::mouseReleaseEvent(QMouseEvent* event) {
    const bool completed = leftDown_ && event->button() == Qt::LeftButton &&
                           rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton) leftDown_ = false;
    QLabel::mouseReleaseEvent(event);
    if (completed) {
        emit clicked();
        if (!address_.isEmpty()) OpenAddress(address_);
    }
}

void PushButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) emit rightPressed();
    QPushButton::mousePressEvent(event);
}

FlatProgressBar::FlatProgressBar(QWidget* parent) : QProgressBar(parent) {
    // What decides that the controls it covers need no painting when it changes.
    setAutoFillBackground(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void FlatProgressBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect frame = rect();
    painter.fillRect(frame, palette().base());
    const qint64 span = qint64(maximum()) - minimum();
    if (span > 0 && value() > minimum()) {
        const QRect inside = frame.adjusted(1, 1, -1, -1);
        const auto done = static_cast<int>((qint64(value()) - minimum()) * inside.width() / span);
        painter.fillRect(QRect(inside.topLeft(), QSize(done, inside.height())),
                         palette().highlight());
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(frame.adjusted(0, 0, -1, -1));
}

}  // namespace zembrat::ui
