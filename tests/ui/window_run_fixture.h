// The real main window, shown offscreen with the program's event points, over an article folder
// in a temporary folder: what the whole-run tests of the window share.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <chrono>

#include "config/config_store.h"
#include "job/result_folder.h"
#include "support/event_counter.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "ui/main_window.h"
#include "ui/qt_event_points.h"
#include "ui/qt_text.h"
#include "ui/text_dialog.h"

namespace zembrat::testing {

// The program's event points, counting the passes taken while a download waits.
class CountingQtEventPoints : public ui::QtEventPoints {
  public:
    void KeepPainted() override {
        ++paintedWhileBlocked;
        QtEventPoints::KeepPainted();
    }
    int paintedWhileBlocked = 0;
};

class WindowRun : public ::testing::Test {
  protected:
    explicit WindowRun(const std::string& folderName = text::GbkFromUtf8("文章")) {
        web.CreateRequest();
        web.SetEventPoints(events);
        window.show();
        articles = dir / folderName;
        window.editBox(ui::EditBox::ArticleFolder)->setText(ui::ToQString(articles));
        start = window.findChild<QPushButton*>(QStringLiteral("按钮开始下载"));
        list = window.findChild<QTreeWidget*>(QStringLiteral("列表框"));
        bar = window.findChild<QProgressBar*>(QStringLiteral("进度条1"));
        label = window.findChild<QLabel*>(QStringLiteral("透明标签1"));
    }
    std::string Result(const std::string& rel) const { return job::ResultFolder(articles) + rel; }
    void ExpectIdle() {
        EXPECT_EQ(start->text(), QStringLiteral("开始下载并替换图片地址"));
        EXPECT_FALSE(bar->isVisible());
        EXPECT_FALSE(label->isVisible());
        for (auto box : {ui::EditBox::ImageFolder, ui::EditBox::OldPrefix, ui::EditBox::NewPrefix,
                         ui::EditBox::ExcludedRanges}) {
            EXPECT_TRUE(window.editBox(box)->isEnabled());
        }
        EXPECT_EQ(window.RowCount(), 0);
    }

    TempDir dir;
    CountingQtEventPoints events;
    web::WebClient web;
    config::ConfigStore settings;  // bound to no file
    ui::TextDialogRequest textDialog;
    ui::MainWindow window{settings, textDialog, web, events};
    std::string articles;
    QPushButton* start;
    QTreeWidget* list;
    QProgressBar* bar;
    QLabel* label;
};

}  // namespace zembrat::testing
