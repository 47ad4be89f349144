// A modal, resizable window that shows a long text read-only, with one close button.
#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QFrame;
class QPushButton;

namespace zembrat::ui {

// What the opener hands to the dialog; one record for the whole program, kept after the
// dialog closes.
struct TextDialogRequest {
    QString hint;     // the line above the content; empty for the help text
    QString title;    // empty: "Qorv："
    QString content;  // the text shown
    int margin = 0;   // below 1: 5
};

// The hint line's height in pixels: each CR LF-separated line of n bytes (in the program's
// text) takes n / k rows rounded up, at least one, with k = width / 6 cells; 12 pixels a row.
int HintHeight(const QString& hint, int width);

class TextDialog : public QDialog {
    Q_OBJECT
  public:
    explicit TextDialog(const TextDialogRequest& request, QWidget* parent = nullptr);

    int margin() const { return margin_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Shape(const TextDialogRequest& request);
    void CentreOnScreen();
    void Layout();

    int margin_ = 5;
    QString hintText_;
    QPlainTextEdit* hint_;
    QPlainTextEdit* content_;
    QFrame* band_;
    QPushButton* ok_;
    QPushButton* close_;
};

// Fills the request (hint emptied) and shows the dialog modally, with no owner window;
// returns when it is closed. A second call while one is open returns at once.
void ShowTextDialog(TextDialogRequest& request, const QString& content, const QString& title);

}  // namespace zembrat::ui
