// The main window's own kinds of controls.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>

namespace zembrat::ui {

// A picture that works as a button: its alternate picture shows while the mouse is over it or
// it is held down; the cursor over it is the hand.
class ImageButton : public QAbstractButton {
    Q_OBJECT
  public:
    ImageButton(const QPixmap& normal, const QPixmap& alternate, QWidget* parent);
    QSize sizeHint() const override { return normal_.size(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    QPixmap normal_, alternate_;
};

// An underlined text with the hand cursor. pressed() fires when the left button goes down over
// it; clicked() on a completed left click. A link with an address opens it when clicked.
class TextLink : public QLabel {
    Q_OBJECT
  public:
    TextLink(const QString& caption, const QString& address, QWidget* parent);
    QString address() const { return address_; }
    void setAddress(const QString& address) { address_ = address; }

  signals:
    void pressed();
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QString address_;
    bool leftDown_ = false;
};

// A push button that also reports the right mouse button going down over it.
class PushButton : public QPushButton {
    Q_OBJECT
  public:
    using QPushButton::QPushButton;

  signals:
    void rightPressed();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// The run's progress bar, drawn flat: a frame and the done part in the highlight colour. It
// fills its whole rectangle itself, so nothing beneath it is drawn again when it changes, and a
// step costs a few rectangle fills, where the platform's styles draw gradients and rounded
// corners many times a second during a run.
class FlatProgressBar : public QProgressBar {
    Q_OBJECT
  public:
    explicit FlatProgressBar(QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace zembrat::ui
