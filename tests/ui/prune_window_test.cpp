// The prune from the window: the extension dialog's button opens the list of unused images over
// the result folder the window's boxes name; the move, the restore and the emptied trash from
// there. The site is made by real runs against a loopback server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <filesystem>

#include "config/config_store.h"
#include "job/image_names.h"
#include "job/prune.h"
#include "platform/files.h"
#include "support/event_counter.h"
#include "support/gui_helpers.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "ui/main_window.h"
#include "ui/prune_dialog.h"
#include "ui/qt_event_points.h"
#include "ui/qt_text.h"
#include "ui/text_dialog.h"
#include "ui/widgets.h"
#include "web/web_client.h"

namespace zembrat::ui {
namespace {

using namespace text::literals;
using testing::Child;
using testing::HttpServer;
using testing::ReadFileOrMissing;
using testing::Reply;
using testing::TempDir;
namespace fs = std::filesystem;

const std::string kPngA = "\x89PNG\r\n\x1a\n picture a";
const std::string kPngB = "\x89PNG\r\n\x1a\n picture b";
const std::string kPngS = "\x89PNG\r\n\x1a\n shared picture";

std::string Stored(const std::string& bytes) {
    return "files/img/" + job::ContentName(bytes) + ".png";
}

class PruneWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.Set("/a.png", Reply::Ok(kPngA, "image/png"));
        server.Set("/b.png", Reply::Ok(kPngB, "image/png"));
        server.Set("/s.png", Reply::Ok(kPngS, "image/png"));
        folder = dir / "articles";
        result = folder + "/转存结果/"_gbk;
        Write("1.htm", Img("/a.png") + Img("/s.png"));
        Write("2.htm", Img("/b.png"));
        Run();
        store.Open(dir / "Zembrat.ini", config::DiskFile);
        window = std::make_unique<MainWindow>(store, request, web, events);
        window->show();
        window->editBox(EditBox::ArticleFolder)->setText(ToQString(folder));
        window->editBox(EditBox::ArticleFilter)->setText(QStringLiteral("*.htm"));
        window->editBox(EditBox::ImageFolder)->setText(QStringLiteral("files/img"));
        window->editBox(EditBox::NewPrefix)->setText(QStringLiteral("new.site"));
    }
    std::string Img(const std::string& path) const {
        return "<img src=\"" + server.Url(path) + "\">";
    }
    void Write(const std::string& name, const std::string& text) {
        dir.Write("articles/" + name, text);
    }
    // A run of its own that keeps the record, as an incremental one from the window does.
    void Run() {
        web::WebClient client;
        client.CreateRequest();
        testing::EventCounter quiet;
        client.SetEventPoints(quiet);
        job::RunInputs inputs;
        inputs.settings = {folder, "*.htm", "files/img", "", "new.site", ""};
        inputs.options.incremental = true;
        job::RunObserver none;
        ASSERT_EQ(job::Run(inputs, client, quiet, none).counts.imagesFailed, 0u);
    }
    bool Has(const std::string& below) const { return platform::PathExists(result + below); }
    std::vector<std::string> Trashes() const { return job::LocalTrashes(result); }

    // Opens the extension dialog from the window, its prune button, and hands the prune's dialog
    // to work; then closes both.
    void InPruneDialog(const std::function<void(QDialog&)>& work) {
        bool worked = false;
        testing::WhenModalAppears([&](QWidget* modal) {
            if (modal->objectName() != QStringLiteral("扩展选项窗口")) return false;
            testing::WhenModalAppears([&](QWidget* prune) {
                if (prune->objectName() != QStringLiteral("清理图片窗口")) return false;
                work(*qobject_cast<QDialog*>(prune));
                worked = true;
                testing::WhenModalAppears([](QWidget* again) {
                    if (again->objectName() != QStringLiteral("扩展选项窗口")) return false;
                    QTest::mouseClick(again->findChild<QPushButton*>(QStringLiteral("按钮取消")),
                                      Qt::LeftButton);
                    return true;
                });
                QTest::mouseClick(prune->findChild<QPushButton*>(QStringLiteral("按钮关闭")),
                                  Qt::LeftButton);
                return true;
            });
            QMetaObject::invokeMethod(
                modal->findChild<QPushButton*>(QStringLiteral("按钮清理未使用的图片")), "click",
                Qt::QueuedConnection);
            return true;
        });
        QTest::mousePress(Child<TextLink>(*window, "超级链接框扩展选项"), Qt::LeftButton);
        EXPECT_TRUE(worked);
    }
    static QStringList Listed(QDialog& d) {
        QStringList items;
        auto* list = d.findChild<QListWidget*>(QStringLiteral("列表未使用的图片"));
        for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
        return items;
    }
    static QString Status(QDialog& d) {
        return d.findChild<QLabel*>(QStringLiteral("标签清理结果"))->text();
    }
    static void Press(QDialog& d, const char* name) {
        QTest::mouseClick(d.findChild<QPushButton*>(QString::fromUtf8(name)), Qt::LeftButton);
    }

    HttpServer server;
    TempDir dir;
    std::string folder, result;
    config::ConfigStore store;
    TextDialogRequest request;
    QtEventPoints events;
    web::WebClient web;
    std::unique_ptr<MainWindow> window;
};

TEST_F(PruneWindowTest, ListsFirstThenMovesRestoresAndEmpties) {
    Write("1.htm", Img("/a.png"));
    Run();
    InPruneDialog([&](QDialog& d) {
        // The list comes before anything moves.
        EXPECT_EQ(d.windowTitle(), QStringLiteral("清理未使用的图片"));
        EXPECT_EQ(Listed(d), QStringList{QString::fromStdString(Stored(kPngS))});
        EXPECT_EQ(Status(d), QStringLiteral("共 3 个图片，1 个未使用。"));
        EXPECT_TRUE(Has(Stored(kPngS)));

        Press(d, "按钮移到回收站");
        ASSERT_EQ(Trashes().size(), 1u);
        const QString stamp = QString::fromStdString(Trashes()[0]);
        EXPECT_EQ(Status(d), QStringLiteral("已将 1 个图片移到回收站 ") + stamp + "。");
        EXPECT_FALSE(Has(Stored(kPngS)));
        EXPECT_TRUE(Listed(d).isEmpty());

        // A file of that name came back with other bytes: it stays, the trash keeps its own.
        dir.Write("articles/转存结果/"_gbk + Stored(kPngS), "other");
        Press(d, "按钮恢复上次清理");
        EXPECT_EQ(Status(d), QStringLiteral("已从回收站 ") + stamp +
                                 " 恢复 0 个图片，1 个因同名文件已换成别的内容而留在回收站。");
        EXPECT_EQ(ReadFileOrMissing(result + Stored(kPngS)), "other");
        fs::remove(platform::NativePath(result + Stored(kPngS)));
        Press(d, "按钮恢复上次清理");
        EXPECT_EQ(Status(d), QStringLiteral("已从回收站 ") + stamp + " 恢复 1 个图片。");
        EXPECT_EQ(ReadFileOrMissing(result + Stored(kPngS)), kPngS);
        EXPECT_EQ(Listed(d).size(), 1);

        // Emptied: the trash of today stays under the usual age, goes at 0 days.
        Press(d, "按钮移到回收站");
        Press(d, "按钮清空回收站");
        EXPECT_EQ(Trashes().size(), 1u);
        d.findChild<QSpinBox*>(QStringLiteral("微调框回收站天数"))->setValue(0);
        Press(d, "按钮清空回收站");
        EXPECT_EQ(Status(d), QStringLiteral("已清空 1 个回收站，删除 1 个文件。"));
        EXPECT_TRUE(Trashes().empty());
    });
    EXPECT_TRUE(Has(Stored(kPngA)));
    EXPECT_TRUE(Has(Stored(kPngB)));
}

TEST_F(PruneWindowTest, RefusalsAreToldAndMoveNothing) {
    // A stale record: an article edited after the run.
    Write("1.htm", Img("/a.png"));
    InPruneDialog([&](QDialog& d) {
        EXPECT_TRUE(Listed(d).isEmpty());
        EXPECT_FALSE(d.findChild<QPushButton*>(QStringLiteral("按钮移到回收站"))->isEnabled());
        EXPECT_EQ(Status(d),
                  QStringLiteral("文章“1.htm”在上次运行之后改过（或上次运行没有读到它），"
                                 "请先运行一次再清理。"));
    });
    // Over the bound: two of three images; moved only once forced.
    Write("1.htm", "none");
    Run();
    InPruneDialog([&](QDialog& d) {
        EXPECT_EQ(Listed(d).size(), 2);
        Press(d, "按钮移到回收站");
        EXPECT_TRUE(
            Status(d).startsWith(QStringLiteral("未使用的图片有 2 个（共 3 个），超过 256 个")))
            << Status(d).toStdString();
        EXPECT_TRUE(Trashes().empty());
        d.findChild<QCheckBox*>(QStringLiteral("复选框超过上限也移动"))->setChecked(true);
        Press(d, "按钮移到回收站");
        EXPECT_EQ(Trashes().size(), 1u);
    });
    EXPECT_FALSE(Has(Stored(kPngA)));
    EXPECT_FALSE(Has(Stored(kPngS)));
    EXPECT_TRUE(Has(Stored(kPngB)));
}

// What the dialog's target was asked: the target's side as this program's own seam.
struct MirrorLog {
    std::vector<std::string> calls;  // "set aside STAMP path..."
};
struct LoggingMirror : job::TrashMirror {
    explicit LoggingMirror(MirrorLog& log) : log(log) {}
    std::string Name() const override { return "site"; }
    std::vector<job::TrashStep> SetAside(const std::string& stamp,
                                         const std::vector<job::TrashFile>& files,
                                         std::stop_token) override {
        return Log("set aside " + stamp, files, job::TrashStepEnd::Done);
    }
    std::vector<job::TrashStep> Restore(const std::string& stamp,
                                        const std::vector<job::TrashFile>& files,
                                        std::stop_token) override {
        return Log("restore " + stamp, files, job::TrashStepEnd::Skipped);
    }
    std::vector<std::string> Stamps(std::string&) override { return {}; }
    std::vector<job::TrashStep> Empty(const std::string&, std::stop_token) override { return {}; }
    std::vector<job::TrashStep> Log(std::string call, const std::vector<job::TrashFile>& files,
                                    job::TrashStepEnd end) {
        std::vector<job::TrashStep> steps;
        for (const job::TrashFile& f : files) {
            call += " " + f.path;
            steps.push_back({f.path, end, "not published there"});
        }
        log.calls.push_back(call);
        return steps;
    }
    MirrorLog& log;
};

TEST_F(PruneWindowTest, TheDialogsTargetIsAskedTheSameFilesAndToldApart) {
    Write("1.htm", Img("/a.png"));
    Run();
    job::RunInputs inputs;
    inputs.settings = ShownSettings(static_cast<const JobWindow&>(*window));
    MirrorLog log;
    bool opens = false;
    PruneDialog d(inputs, window.get(),
                  [&](std::string& error) -> std::unique_ptr<job::TrashMirror> {
                      if (!opens) {
                          error = "sftp://127.0.0.1/ refused the login";
                          return nullptr;
                      }
                      return std::make_unique<LoggingMirror>(log);
                  });
    d.show();
    // Listing does not open the target; a target that cannot be opened moves nothing.
    EXPECT_EQ(Listed(d).size(), 1);
    Press(d, "按钮移到回收站");
    EXPECT_EQ(Status(d), QStringLiteral("无法打开发布目标：sftp://127.0.0.1/ refused the login"));
    EXPECT_TRUE(Has(Stored(kPngS)));
    EXPECT_TRUE(log.calls.empty());

    opens = true;
    Press(d, "按钮移到回收站");
    ASSERT_EQ(Trashes().size(), 1u);
    const std::string stamp = Trashes()[0];
    EXPECT_EQ(log.calls, std::vector<std::string>{"set aside " + stamp + " " + Stored(kPngS)});
    EXPECT_EQ(Status(d), QStringLiteral("已将 1 个图片移到回收站 ") +
                             QString::fromStdString(stamp) +
                             "。发布目标 site：完成 1 个，跳过 0 个，拒绝 0 个，失败 0 个。");
    Press(d, "按钮恢复上次清理");
    EXPECT_EQ(log.calls.back(), "restore " + stamp + " " + Stored(kPngS));
    EXPECT_TRUE(Status(d).endsWith(QStringLiteral("完成 0 个，跳过 1 个，拒绝 0 个，失败 0 个。")))
        << Status(d).toStdString();
}

}  // namespace
}  // namespace zembrat::ui
