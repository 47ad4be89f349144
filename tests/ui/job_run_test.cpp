// Whole runs on the real main window, offscreen, against a loopback HTTP server.
#include <gtest/gtest.h>

#include <QApplication>
#include <map>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "job/folders.h"
#include "job/image_names.h"
#include "platform/events.h"
#include "support/gui_helpers.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "config/config_store.h"
#include "ui/main_window.h"
#include "ui/text_dialog.h"
#include "ui/qt_text.h"

namespace zembrat::ui {
namespace {
using namespace text::literals;
using testing::HttpServer;
using testing::MessageBoxAnswerer;
using testing::ReadFileOrMissing;
using testing::Reply;
using testing::TempDir;

// What each row of the status list showed, in the order it changed, keyed by the row's
// address (rows move down as new ones are inserted above them): "icon text".
class RowRecorder {
public:
    explicit RowRecorder(QTreeWidget* list) : list_(list) {
        connection_ = QObject::connect(list->model(), &QAbstractItemModel::dataChanged, list,
                                       [this](const QModelIndex& topLeft) { Record(topLeft.row()); });
    }
    ~RowRecorder() { QObject::disconnect(connection_); }
    std::vector<QString> States(const std::string& address) const {
        auto it = states_.find(ToQString(address));
        return it == states_.end() ? std::vector<QString>{} : it->second;
    }

private:
    void Record(int row) {
        QTreeWidgetItem* item = list_->topLevelItem(row);
        if (!item || item->text(1).isEmpty()) return;
        const QString state = QString::number(item->data(0, Qt::UserRole).toInt()) + " " + item->text(0);
        // A state is complete when its text is set (the icon comes first).
        auto& states = states_[item->text(1)];
        if (states.empty() || states.back().section(' ', 1) != state.section(' ', 1)) states.push_back(state);
    }
    QTreeWidget* list_;
    QMetaObject::Connection connection_;
    std::map<QString, std::vector<QString>> states_;
};

class JobRun : public ::testing::Test {
protected:
    JobRun() {
        web.CreateRequest();
        // As the application sets them: full event processing, and repaint-only while blocked.
        platform::SetProcessEventsHook([] { QApplication::processEvents(); });
        platform::SetKeepWindowPaintedHook([this] {
            ++paintedWhileBlocked;
            QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        });
        window.show();
        articles = dir / "文章"_gbk;
        window.editBox(job::EditBox::ArticleFolder)->setText(ToQString(articles));
        start = window.findChild<QPushButton*>(QStringLiteral("按钮开始下载"));
        list = window.findChild<QTreeWidget*>(QStringLiteral("列表框"));
    }
    ~JobRun() override {
        platform::SetProcessEventsHook(nullptr);
        platform::SetKeepWindowPaintedHook(nullptr);
    }
    std::string Tag(const std::string& path) { return "<img src=\"" + server.Url(path) + "\">"; }
    std::string Result(const std::string& rel) { return job::ResultFolder(articles) + rel; }
    static QString Saved(const std::string& bytes, const char* ext) {
        return QStringLiteral("0 files/img/") + ToQString(job::ContentName(bytes)) + "." + ext;
    }

    TempDir dir;
    HttpServer server;
    web::WebClient web;
    config::ConfigStore settings;  // bound to no file
    TextDialogRequest textDialog;
    MainWindow window{settings, textDialog, web};
    std::string articles;
    QPushButton* start;
    QTreeWidget* list;
    int paintedWhileBlocked = 0;
};

TEST_F(JobRun, ThreeImagesGoFromQueuedToSavedAndTheArticleIsRewritten) {
    server.Set("/1.gif", Reply::Ok("GIF one"));
    Reply slow = Reply::Ok("PNG two");
    slow.delay = std::chrono::milliseconds(300);
    server.Set("/2.png", slow);
    server.Set("/3.jpg", Reply::Ok("JPG three"));
    const std::string article = "<p>文章</p>"_gbk + Tag("/1.gif") + Tag("/2.png") + Tag("/3.jpg");
    dir.Write("文章/a.htm"_gbk, article);
    RowRecorder rows(list);
    MessageBoxAnswerer answerer({QMessageBox::No});

    QTest::mouseClick(start, Qt::LeftButton);

    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_TRUE(answerer.texts[0].startsWith(QStringLiteral("处理完成。")));
    const std::vector<QString> expectedFirst = {QStringLiteral("2 队列中.."), QStringLiteral("3 正在下载到 files/img"),
                                                Saved("GIF one", "gif")};
    EXPECT_EQ(rows.States(server.Url("/1.gif")), expectedFirst);
    EXPECT_EQ(rows.States(server.Url("/2.png")).back(), Saved("PNG two", "png"));
    EXPECT_EQ(rows.States(server.Url("/3.jpg")).back(), Saved("JPG three", "jpg"));
    EXPECT_EQ(rows.States(server.Url("/3.jpg")).front(), QStringLiteral("2 队列中.."));
    EXPECT_EQ(ReadFileOrMissing(Result("files/img/" + job::ContentName("PNG two") + ".png")), "PNG two");
    EXPECT_EQ(ReadFileOrMissing(Result("a.htm")),
              "<p>文章</p>"_gbk + "<img src=\"/files/img/" + job::ContentName("GIF one") + ".gif\"><img src=\"/files/img/" +
                  job::ContentName("PNG two") + ".png\"><img src=\"/files/img/" + job::ContentName("JPG three") +
                  ".jpg\">");
    EXPECT_EQ(ReadFileOrMissing(articles + "/a.htm"), article);  // the source is untouched
    EXPECT_GT(paintedWhileBlocked, 0);  // the window kept painting while the slow image came
    EXPECT_EQ(window.RowCount(), 0);    // emptied when the run finished
}

TEST_F(JobRun, AStopPressDuringADownloadIsNoticedBeforeTheNextImage) {
    std::string article;
    for (int i = 1; i <= 5; ++i) {
        const std::string path = "/" + std::to_string(i) + ".gif";
        Reply reply = Reply::Ok("image " + std::to_string(i));
        if (i == 2) reply.delay = std::chrono::milliseconds(600);
        server.Set(path, reply);
        article += Tag(path);
    }
    dir.Write("文章/a.htm"_gbk, article);
    dir.Write("文章/b.htm"_gbk, Tag("/1.gif"));
    MessageBoxAnswerer answerer({QMessageBox::No});
    QStringList queuedAtTheEnd;
    // Press the button while the second image is on its way.
    bool pressed = false;
    const auto pressWatch = QObject::connect(list->model(), &QAbstractItemModel::dataChanged, list, [&](const QModelIndex& index) {
        if (pressed || index.row() != 1) return;
        if (!list->topLevelItem(1)->text(0).startsWith(QStringLiteral("正在下载到"))) return;
        pressed = true;
        QTimer::singleShot(200, start, [this] { QTest::mouseClick(start, Qt::LeftButton); });
    });
    const auto resetWatch = QObject::connect(list->model(), &QAbstractItemModel::modelAboutToBeReset, list, [&] {
        for (int r = 0; r < list->topLevelItemCount(); ++r) queuedAtTheEnd << list->topLevelItem(r)->text(0);
    });

    QTest::mouseClick(start, Qt::LeftButton);
    // The watches must not outlive this test's variables (the list empties again as it goes).
    QObject::disconnect(pressWatch);
    QObject::disconnect(resetWatch);

    ASSERT_TRUE(pressed);
    EXPECT_EQ(server.RequestsTo("/3.gif").size(), 0u);
    const std::string out = ReadFileOrMissing(Result("a.htm"));
    EXPECT_EQ(out.find(server.Url("/1.gif")), std::string::npos);
    EXPECT_EQ(out.find(server.Url("/2.gif")), std::string::npos);
    EXPECT_NE(out.find(server.Url("/3.gif")), std::string::npos);
    EXPECT_EQ(ReadFileOrMissing(Result("b.htm")), "<missing>");  // the next article was not read
    ASSERT_GE(queuedAtTheEnd.size(), 5);
    EXPECT_EQ(queuedAtTheEnd.mid(2, 3), QStringList(3, QStringLiteral("队列中..")));
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_EQ(start->text(), QStringLiteral("开始下载并替换图片地址"));
}

}  // namespace
}  // namespace zembrat::ui
