// The run's results dialog on the real main window, offscreen: what it lists after a run with
// failures, its filters, the retry of the failed images from it, and its place line during a run.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "job/image_names.h"
#include "support/gui_helpers.h"
#include "support/http_server.h"
#include "text/codec.h"
#include "ui/results_dialog.h"
#include "window_run_fixture.h"

namespace zembrat::ui {
namespace {
using namespace text::literals;
using testing::Child;
using testing::HttpServer;
using testing::MessageBoxAnswerer;
using testing::ReadFileOrMissing;
using testing::Reply;

class ResultsDialogRun : public testing::WindowRun {
  protected:
    ResultsDialogRun() {
        button = Child<QToolButton>(window, "按钮查看运行结果");
        server.Set("/a.png", Reply::Ok("PNG a"));
        server.Set("/gone.png", Reply::Status(404));
    }
    // The dialog's rows, each as its six cells joined by "|".
    QStringList Rows() const {
        QStringList rows;
        auto* tree = Child<QTreeWidget>(*window.resultsDialog(), "列表框运行结果");
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            QStringList cells;
            for (int c = 0; c < tree->columnCount(); ++c) cells << tree->topLevelItem(i)->text(c);
            rows << cells.join(QLatin1Char('|'));
        }
        return rows;
    }
    QToolButton* button;
    HttpServer server;
};

TEST_F(ResultsDialogRun, ListsEveryReferenceFiltersAndRetriesTheFailedImages) {
    const std::string a = "<img src=\"" + server.Url("/a.png") + "\"><img src=\"" +
                          server.Url("/gone.png") + "\"><img src=\"/rel.png\">";
    dir.Write("文章/a.htm"_gbk, a);
    EXPECT_FALSE(button->isEnabled()) << "no run yet";

    MessageBoxAnswerer answerer({QMessageBox::No});
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_EQ(answerer.texts.size(), 1);
    ExpectIdle();  // the status list is emptied as before: the dialog keeps the run
    ASSERT_TRUE(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    ResultsDialog* dialog = window.resultsDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    const QString stored = ToQString("files/img/"_gbk + job::ContentName("PNG a") + ".png");
    EXPECT_EQ(Rows(), (QStringList{
                          "a.htm|" + ToQString(server.Url("/a.png")) + "|已转存||" + stored + "|5",
                          "a.htm|" + ToQString(server.Url("/gone.png")) + "|失败|状态码 404||",
                          QStringLiteral("a.htm|/rel.png|已丢弃|相对地址，没有填写旧的域名前缀||"),
                      }));
    EXPECT_EQ(Child<QLabel>(*dialog, "标签运行位置")->text(),
              QStringLiteral("第 1 篇，共 1 篇：a.htm"));
    EXPECT_EQ(Child<QLabel>(*dialog, "标签运行计数")->text(),
              QStringLiteral("已处理图片 2 张，失败 1 张；运行已结束。"));

    // Each filter hides its rows.
    struct Filter {
        const char* box;
        int rowsLeft;
    };
    for (const Filter& f : {Filter{"选择框已转存", 2}, Filter{"选择框已丢弃", 1},
                            Filter{"选择框失败", 0}, Filter{"选择框沿用", 0}}) {
        Child<QCheckBox>(*dialog, f.box)->setChecked(false);
        EXPECT_EQ(Rows().size(), f.rowsLeft) << f.box;
    }
    for (const char* box : {"选择框已转存", "选择框已丢弃", "选择框失败", "选择框沿用"})
        Child<QCheckBox>(*dialog, box)->setChecked(true);

    // No report was written (the option is off), and no row is chosen yet.
    EXPECT_FALSE(Child<QPushButton>(*dialog, "按钮打开报告")->isEnabled());
    EXPECT_FALSE(Child<QPushButton>(*dialog, "按钮打开文章")->isEnabled());
    auto* tree = Child<QTreeWidget>(*dialog, "列表框运行结果");
    tree->setCurrentItem(tree->topLevelItem(1));
    EXPECT_TRUE(Child<QPushButton>(*dialog, "按钮打开文章")->isEnabled());

    // The image is back: the retry downloads it alone and rewrites the earlier result.
    server.Set("/gone.png", Reply::Ok("PNG gone"));
    auto* retry = Child<QPushButton>(*dialog, "按钮重试失败的图片");
    ASSERT_TRUE(retry->isEnabled());
    answerer.Add(QMessageBox::No);
    QTest::mouseClick(retry, Qt::LeftButton);
    ASSERT_EQ(answerer.texts.size(), 2);
    EXPECT_TRUE(answerer.texts[1].startsWith(QStringLiteral("处理完成。")))
        << answerer.texts[1].toStdString();
    ExpectIdle();
    EXPECT_EQ(server.RequestsTo("/a.png").size(), 1u);
    EXPECT_EQ(server.RequestsTo("/gone.png").size(), 3u);  // 404, its retry, then the image
    const std::string result = ReadFileOrMissing(Result("a.htm"));
    EXPECT_NE(result.find("files/img/" + job::ContentName("PNG a") + ".png"), std::string::npos);
    EXPECT_NE(result.find("files/img/" + job::ContentName("PNG gone") + ".png"), std::string::npos)
        << result;
    EXPECT_NE(result.find("\"/rel.png\""), std::string::npos);
    dialog->Refresh();
    EXPECT_TRUE(
        Rows().contains("a.htm|" + ToQString(server.Url("/gone.png")) + "|已转存||" +
                        ToQString("files/img/"_gbk + job::ContentName("PNG gone") + ".png") + "|8"))
        << Rows().join("\n").toStdString();

    // Nothing failed now: the retry has nothing to do and says so.
    EXPECT_FALSE(retry->isEnabled());
    window.RetryFailed();
    ASSERT_EQ(answerer.texts.size(), 3);
    EXPECT_EQ(answerer.texts[2], QStringLiteral("没有需要重试的图片。"));
}

TEST_F(ResultsDialogRun, OpenDuringTheRunItTellsTheRunsPlace) {
    dir.Write("文章/a.htm"_gbk, "<img src=\"" + server.Url("/a.png") + "\">");
    Reply slow = Reply::Ok("PNG b");
    slow.delay = std::chrono::milliseconds(1500);
    server.Set("/b.png", slow);
    dir.Write("文章/b.htm"_gbk, "<img src=\"" + server.Url("/gone.png") + "\"><img src=\"" +
                                    server.Url("/b.png") + "\">");
    // Opened from an event point of the run, while the second article's image downloads.
    QString place, counts, retryTip;
    QStringList rows;
    bool retryEnabled = true;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!button->isEnabled() || window.RowCount() == 0) return;
        if (!window.resultsDialog()) QTest::mouseClick(button, Qt::LeftButton);
        ResultsDialog* dialog = window.resultsDialog();
        dialog->Refresh();
        place = Child<QLabel>(*dialog, "标签运行位置")->text();
        counts = Child<QLabel>(*dialog, "标签运行计数")->text();
        retryEnabled = Child<QPushButton>(*dialog, "按钮重试失败的图片")->isEnabled();
        rows = Rows();
        if (place.startsWith(QStringLiteral("第 2 篇")) &&
            counts.contains(QStringLiteral("失败 1")))
            poll.stop();
    });
    poll.start();
    MessageBoxAnswerer answerer({QMessageBox::No});
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_EQ(place, QStringLiteral("第 2 篇，共 2 篇：b.htm"));
    EXPECT_TRUE(counts.startsWith(QStringLiteral("已处理图片 2 张，失败 1 张；预计还需 ")))
        << counts.toStdString();
    EXPECT_FALSE(retryEnabled) << "no retry while the run goes";
    // The ended article's row, then the current one's: its failed image and the one in flight.
    EXPECT_EQ(rows, (QStringList{
                        "a.htm|" + ToQString(server.Url("/a.png")) + "|已转存||" +
                            ToQString("files/img/"_gbk + job::ContentName("PNG a") + ".png") + "|5",
                        "b.htm|" + ToQString(server.Url("/gone.png")) + "|失败|状态码 404||",
                        "b.htm|" + ToQString(server.Url("/b.png")) + "|未处理|||",
                    }))
        << rows.join('\n').toStdString();
    EXPECT_TRUE(window.resultsDialog()->isVisible());
    // Closing the window closes its results too.
    window.close();
    EXPECT_FALSE(window.resultsDialog()->isVisible());
}

// Catches the file addresses the dialog opens.
class FileOpener : public QObject {
    Q_OBJECT
  public:
    FileOpener() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
    ~FileOpener() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> opened;
  public slots:
    void Open(const QUrl& url) { opened << url; }
};

TEST_F(ResultsDialogRun, OpensTheRunsReportAndTheSelectedRowsArticle) {
    dir.Write("文章/a.htm"_gbk, "<img src=\"" + server.Url("/gone.png") + "\">");
    dir.Write("文章/b.htm"_gbk, "<img src=\"" + server.Url("/a.png") + "\">");
    job::ExtensionOptions options;
    options.writeReport = true;
    window.driver().SetOptions(options);
    MessageBoxAnswerer answerer({QMessageBox::No});
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_EQ(answerer.texts.size(), 1);
    QTest::mouseClick(button, Qt::LeftButton);
    ResultsDialog* dialog = window.resultsDialog();
    ASSERT_NE(dialog, nullptr);
    FileOpener opener;
    auto* report = Child<QPushButton>(*dialog, "按钮打开报告");
    ASSERT_TRUE(report->isEnabled());
    QTest::mouseClick(report, Qt::LeftButton);
    // The second row's article, as the run wrote it into the result folder.
    auto* tree = Child<QTreeWidget>(*dialog, "列表框运行结果");
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    tree->setCurrentItem(tree->topLevelItem(1));
    QTest::mouseClick(Child<QPushButton>(*dialog, "按钮打开文章"), Qt::LeftButton);
    EXPECT_EQ(opener.opened,
              (QList<QUrl>{QUrl::fromLocalFile(ToQString(Result("转存报告.csv"_gbk))),
                           QUrl::fromLocalFile(ToQString(Result("b.htm")))}));
}

// The estimate of the time left: the articles to come at the pace of those ended.
TEST(RunWatchPlace, EstimatesTheTimeLeftFromTheArticlesEnded) {
    job::RunInputs inputs;
    inputs.settings.articleFolder = "/site";
    inputs.options.recursive = true;
    RunWatch::Clock::time_point now{};
    RunWatch watch([&]() -> const job::RunInputs& { return inputs; }, [&] { return now; });
    EXPECT_EQ(watch.PlaceLine(), "还没有运行过。");
    watch.RunBegins({"/site/posts/a.md", "/site/posts/trip/index.md", "/site/c.md", "/site/d.md"},
                    "/site/转存结果/"_gbk);
    struct Step {
        std::size_t article;
        std::chrono::seconds at;
        bool ends;
        const char* place;
        const char* counts;
    };
    const Step steps[] = {
        {1, std::chrono::seconds(0), false, "第 1 篇，共 4 篇：posts/a.md",
         "已处理图片 0 张，失败 0 张；正在估算剩余时间…"},
        {1, std::chrono::seconds(10), true, "第 1 篇，共 4 篇：posts/a.md",
         "已处理图片 0 张，失败 0 张；预计还需 30 秒"},
        {2, std::chrono::seconds(130), true, "第 2 篇，共 4 篇：posts/trip/index.md",
         "已处理图片 0 张，失败 0 张；预计还需 2 分 10 秒"},
    };
    for (const Step& s : steps) {
        now = RunWatch::Clock::time_point(s.at);
        const std::string path = s.article == 1 ? "/site/posts/a.md" : "/site/posts/trip/index.md";
        watch.ArticleBegins(s.article, path);
        if (s.ends) watch.ArticleEnds(path, job::ArticleEnd::Written, {});
        EXPECT_EQ(watch.PlaceLine(), s.place);
        EXPECT_EQ(watch.CountsLine(true), s.counts);
    }
}

}  // namespace
}  // namespace zembrat::ui

#include "results_dialog_test.moc"
