#include <QApplication>

#include "platform/events.h"
#include "platform/messages.h"
#include "ui/fonts.h"
#include "ui/main_window.h"
#include "ui/shell.h"

int main(int argc, char** argv) {
    using namespace zembrat;
    QApplication app(argc, argv);
    ui::RegisterFontSubstitutes();
    platform::SetProcessEventsHook([] { QApplication::processEvents(); });
    platform::SetKeepWindowPaintedHook([] { QApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    platform::SetMessageHook(ui::ShowMessageRequest);
    web::WebClient web;
    web.CreateRequest();
    ui::MainWindow window(web);
    window.show();
    return app.exec();
}
