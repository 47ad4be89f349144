// Whole runs on the real main window, offscreen, against a loopback HTTP server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <map>

#include "config/config_store.h"
#include "job/image_names.h"
#include "job/result_folder.h"
#include "support/gui_helpers.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/text_dialog.h"
#include "window_run_fixture.h"

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
        connection_ =
            QObject::connect(list->model(), &QAbstractItemModel::dataChanged, list,
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
        const QString state =
            QString::number(item->data(0, Qt::UserRole).toInt()) + " " + item->text(0);
        // A state is complete when its text is set (the icon comes first).
        auto& states = states_[item->text(1)];
        if (states.empty() || states.back().section(' ', 1) != state.section(' ', 1))
            states.push_back(state);
    }
    QTreeWidget* list_;
    QMetaObject::Connection connection_;
    std::map<QString, std::vector<QString>> states_;
};

class JobRun : public testing::WindowRun {
  protected:
    std::string Tag(const std::string& path) { return "<img src=\"" + server.Url(path) + "\">"; }
    static QString Saved(const std::string& bytes, const char* ext) {
        return QStringLiteral("0 files/img/") + ToQString(job::ContentName(bytes)) + "." + ext;
    }

    HttpServer server;
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
    const std::vector<QString> expectedFirst = {QStringLiteral("2 队列中.."),
                                                QStringLiteral("3 正在下载到 files/img"),
                                                Saved("GIF one", "gif")};
    EXPECT_EQ(rows.States(server.Url("/1.gif")), expectedFirst);
    EXPECT_EQ(rows.States(server.Url("/2.png")).back(), Saved("PNG two", "png"));
    EXPECT_EQ(rows.States(server.Url("/3.jpg")).back(), Saved("JPG three", "jpg"));
    EXPECT_EQ(rows.States(server.Url("/3.jpg")).front(), QStringLiteral("2 队列中.."));
    EXPECT_EQ(ReadFileOrMissing(Result("files/img/" + job::ContentName("PNG two") + ".png")),
              "PNG two");
    EXPECT_EQ(ReadFileOrMissing(Result("a.htm")),
              "<p>文章</p>"_gbk + "<img src=\"/files/img/" + job::ContentName("GIF one") +
                  ".gif\"><img src=\"/files/img/" + job::ContentName("PNG two") +
                  ".png\"><img src=\"/files/img/" + job::ContentName("JPG three") + ".jpg\">");
    EXPECT_EQ(ReadFileOrMissing(articles + "/a.htm"), article);  // the source is untouched
    EXPECT_GT(events.paintedWhileBlocked, 0);  // the window kept painting while the slow image came
    EXPECT_EQ(window.RowCount(), 0);           // emptied when the run finished
}

// Presses or closes once, from an event pass, when the first row of the list starts downloading
// (the download's answer is held back by the server), and notes when that was.
class ActWhenDownloading {
  public:
    ActWhenDownloading(QTreeWidget* list, std::function<void()> act) {
        watch_ = QObject::connect(
            list->model(), &QAbstractItemModel::dataChanged, list, [this, list, act] {
                if (acted_ || list->topLevelItemCount() == 0) return;
                if (!list->topLevelItem(0)->text(0).startsWith(QStringLiteral("正在下载到")))
                    return;
                acted_ = true;
                QTimer::singleShot(100, list, [this, act] {
                    at = std::chrono::steady_clock::now();
                    act();
                });
            });
    }
    ~ActWhenDownloading() { QObject::disconnect(watch_); }
    std::chrono::steady_clock::time_point at{};

  private:
    bool acted_ = false;
    QMetaObject::Connection watch_;
};

TEST_F(JobRun, OneStopPressDuringAHeldDownloadEndsTheRunAtOnce) {
    Reply held = Reply::Ok("never sent");
    held.delay = std::chrono::seconds(60);
    server.Set("/held.gif", held);
    server.Set("/next.gif", Reply::Ok("GIF next"));
    const std::string article = Tag("/held.gif") + Tag("/next.gif");
    dir.Write("文章/a.htm"_gbk, article);
    dir.Write("文章/b.htm"_gbk, Tag("/next.gif"));
    dir.Write("文章/转存结果/a.htm"_gbk, "an earlier run's result");
    QString captionAfterPress;
    ActWhenDownloading press(list, [&] {
        QTest::mouseClick(start, Qt::LeftButton);
        captionAfterPress = start->text();
    });
    double secondsToQuestion = -1;
    MessageBoxAnswerer answerer({QMessageBox::No});
    answerer.onBox = [&](QMessageBox*) { secondsToQuestion = testing::SecondsSince(press.at); };

    QTest::mouseClick(start, Qt::LeftButton);

    EXPECT_EQ(captionAfterPress, QStringLiteral("正在停止中.."));
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_TRUE(answerer.texts[0].startsWith(QStringLiteral("已停止。处理的结果保存在这个目录：")))
        << answerer.texts[0].toStdString();
    // Far sooner than the 60 s the server holds the answer, with no retry and nothing after it.
    EXPECT_GE(secondsToQuestion, 0);
    EXPECT_LT(secondsToQuestion, 5);
    EXPECT_EQ(server.RequestsTo("/held.gif").size(), 1u);
    EXPECT_EQ(server.RequestsTo("/next.gif").size(), 0u);
    // The article cut short is not written, and the next one is not read.
    EXPECT_EQ(ReadFileOrMissing(Result("a.htm")), "an earlier run's result");
    EXPECT_EQ(ReadFileOrMissing(Result("b.htm")), "<missing>");
    ExpectIdle();
}

TEST_F(JobRun, ACloseDuringTheLastArticlesDownloadClosesTheWindowWithoutTheQuestion) {
    Reply held = Reply::Ok("never sent");
    held.delay = std::chrono::seconds(60);
    server.Set("/held.gif", held);
    dir.Write("文章/only.htm"_gbk, Tag("/held.gif"));
    const std::string ini = dir / "Zembrat.ini";
    ASSERT_TRUE(settings.Open(ini, config::DiskFile));
    ActWhenDownloading close(list, [&] { window.close(); });
    MessageBoxAnswerer answerer;

    QTest::mouseClick(start, Qt::LeftButton);

    EXPECT_LT(testing::SecondsSince(close.at), 5);
    EXPECT_TRUE(answerer.texts.isEmpty()) << answerer.texts.join("|").toStdString();
    // Saved on the way out.
    EXPECT_NE(ReadFileOrMissing(ini).find(articles), std::string::npos);
    EXPECT_FALSE(window.isVisible()) << "the one close ended the window";
    EXPECT_EQ(ReadFileOrMissing(Result("only.htm")), "<missing>");
    EXPECT_EQ(server.RequestsTo("/held.gif").size(), 1u);
}

}  // namespace
}  // namespace zembrat::ui
