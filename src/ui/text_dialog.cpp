#include "ui/text_dialog.h"

#include <QFrame>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <cmath>

#include "text/gbk.h"
#include "ui/fonts.h"
#include "ui/qt_text.h"

namespace zembrat::ui {
namespace {

// The designed outer size; the client area is what a resizable border leaves of it.
constexpr int kDesignedWidth = 495;
constexpr int kDesignedHeight = 393;
constexpr int kFrameWidth = 8;
constexpr int kFrameHeight = 31;

int Trunc(double v) {
    return static_cast<int>(std::trunc(v));
}

}  // namespace

int HintHeight(const QString& hint, int width) {
    const std::string bytes = ToGbk(hint);
    // A box narrower than one cell still holds one character per row.
    const int cells = std::max(1, Trunc(width / 6.0));
    int rows = 0;
    for (const std::string& line : text::Split(bytes, "\r\n")) {
        const int n = static_cast<int>(line.size());
        rows += std::max(1, (n + cells - 1) / cells);
    }
    return rows * 12;
}

TextDialog::TextDialog(const TextDialogRequest& request, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("文本对话框"));
    resize(kDesignedWidth - kFrameWidth, kDesignedHeight - kFrameHeight);
    setSizeGripEnabled(true);

    hint_ = new QPlainTextEdit(this);
    hint_->setObjectName(QStringLiteral("编辑框提示"));
    hint_->setGeometry(13, 8, 395, 33);
    hint_->setMinimumSize(0, 0);
    hint_->setFrameShape(QFrame::NoFrame);
    hint_->setReadOnly(true);
    hint_->setBackgroundRole(QPalette::Window);
    hint_->viewport()->setAutoFillBackground(false);

    content_ = new QPlainTextEdit(this);
    content_->setObjectName(QStringLiteral("编辑框正文"));
    content_->setGeometry(5, 56, 411, 168);
    content_->setFont(SimSun(15));
    content_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    content_->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    band_ = new QFrame(this);
    band_->setObjectName(QStringLiteral("外形框"));
    band_->setGeometry(8, 320, 336, 34);
    ok_ = new QPushButton(QStringLiteral("确定"), this);
    ok_->setObjectName(QStringLiteral("按钮确定"));
    ok_->setGeometry(351, 328, 64, 24);
    close_ = new QPushButton(QStringLiteral("取消"), this);
    close_->setObjectName(QStringLiteral("按钮取消"));
    close_->setGeometry(414, 328, 64, 24);
    connect(close_, &QPushButton::clicked, this, &QDialog::reject);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

    Shape(request);
}

void TextDialog::Shape(const TextDialogRequest& request) {
    hintText_ = request.hint;
    hint_->setPlainText(request.hint);
    setWindowTitle(request.title.isEmpty() ? QStringLiteral("Qorv：") : request.title);
    content_->setPlainText(request.content);

    // Presentation only: no editing buttons, a read-only content box on the dialog's face colour.
    ok_->hide();
    band_->hide();
    content_->setReadOnly(true);
    content_->setBackgroundRole(QPalette::Window);
    QPalette pal = content_->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Window));
    content_->setPalette(pal);
    close_->setText(QStringLiteral("关闭(&G)"));
    close_->setDefault(true);

    margin_ = request.margin < 1 ? 5 : request.margin;
    CentreOnScreen();
    Layout();
    content_->setFocus();
}

void TextDialog::CentreOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QSize s = screen->geometry().size();
    const double w = size().width() + kFrameWidth;
    const double h = size().height() + kFrameHeight;
    move(Trunc(s.width() / 2.0 - w / 2.0), Trunc((s.height() - 30) / 2.0 - h / 2.0));
}

void TextDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    Layout();
}

void TextDialog::Layout() {
    const double cw = width(), ch = height(), m = margin_;
    const double hintTop = m, hintWidth = cw - 2 * m;
    const double hintHeight = HintHeight(hintText_, Trunc(hintWidth));
    hint_->setGeometry(Trunc(m), Trunc(hintTop), Trunc(hintWidth), Trunc(hintHeight));
    const double contentTop = hintTop + hintHeight + m;
    const double bandHeight = band_->height();
    const double contentHeight = ch - contentTop - bandHeight;
    content_->setGeometry(Trunc(m), Trunc(contentTop), Trunc(hintWidth), Trunc(contentHeight));
    const double bandTop = contentTop + contentHeight;
    band_->move(Trunc(m), Trunc(bandTop));
    const double closeLeft = cw - m - close_->width();
    const double closeTop = bandTop + bandHeight / 2 - close_->height() / 2.0;
    close_->move(Trunc(closeLeft), Trunc(closeTop));
    ok_->move(Trunc(closeLeft - ok_->width()), Trunc(closeTop));
}

void ShowTextDialog(TextDialogRequest& request, const QString& content, const QString& title) {
    static bool open = false;
    if (open) return;
    request.content = content;
    request.title = title;
    request.hint.clear();
    open = true;
    TextDialog dialog(request);
    dialog.exec();
    open = false;
}

}  // namespace zembrat::ui
