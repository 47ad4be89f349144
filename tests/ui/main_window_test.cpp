#include "ui/main_window.h"
#include "config/config_store.h"
#include "ui/qt_event_points.h"
#include "ui/text_dialog.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include "support/gui_helpers.h"
#include "ui/fonts.h"

namespace zembrat::ui {
namespace {

using testing::Child;

struct Control {
    const char* name;
    QRect geometry;
    bool visible;
    const char* text;    // caption or initial text; nullptr: none to check
    const char* family;  // requested font family; nullptr: no font of its own
    int pixels;
    bool bold;
};

TEST(MainWindowLayout, EveryControlAsDesigned) {
    web::WebClient web;
    config::ConfigStore settings;  // bound to no file
    TextDialogRequest textDialog;
    QtEventPoints events;
    MainWindow window{settings, textDialog, web, events};
    window.show();
    EXPECT_EQ(window.windowTitle(),
              QStringLiteral("Zembrat v1.03 - 自动下载并转存文章中的网络图片为自己网站的图片"));
    EXPECT_FALSE(window.minimumSize() != window.maximumSize()) << "the window has a fixed size";
    const QString home = QDir::homePath();
    const Control controls[] = {
        {"图片框1", {0, 0, 816, 88}, true, nullptr, nullptr, 0, false},
        {"图片框官网", {488, 12, 145, 64}, true, nullptr, nullptr, 0, false},
        {"图片框保存", {16, 0, 64, 64}, true, nullptr, nullptr, 0, false},
        {"超级链接框保存", {16, 64, 64, 24}, true, "保存配置", "SimSun", 12, false},
        {"图片框操作", {96, 0, 64, 64}, true, nullptr, nullptr, 0, false},
        {"超级链接框操作", {96, 64, 64, 24}, true, "疑点说明", "SimSun", 12, false},
        {"图片框更新", {176, 0, 64, 64}, true, nullptr, nullptr, 0, false},
        {"超级链接框更新", {176, 64, 64, 24}, true, "软件主页", "SimSun", 12, false},
        {"图片框QQ", {256, 0, 64, 64}, true, nullptr, nullptr, 0, false},
        {"超级链接框QQ", {256, 64, 64, 24}, true, nullptr, "SimSun", 12, false},
        {"图片框软件", {336, 0, 64, 64}, true, nullptr, nullptr, 0, false},
        {"超级链接框软件", {336, 64, 64, 24}, true, "更多软件", "SimSun", 12, false},
        {"标签13", {0, 88, 1000, 2}, true, nullptr, nullptr, 0, false},
        {"标签1", {16, 104, 96, 32}, true, "文章目录：", "SimHei", 21, false},
        {"编辑框过滤", {576, 108, 58, 24}, true, "*.htm", "SimSun", 15, false},
        {"按钮选择", {640, 104, 56, 32}, true, "选择", "SimHei", 21, false},
        {"进度条1", {16, 104, 680, 32}, false, nullptr, nullptr, 0, false},
        {"列表框", {16, 144, 680, 232}, true, nullptr, "SimSun", 15, false},
        {"按钮开始下载", {16, 392, 680, 40}, true, "开始下载并替换图片地址", "SimHei", 21, true},
        {"标签2", {16, 440, 112, 32}, true, "图片存放目录：", "SimSun", 15, false},
        {"编辑框图片存放目录", {128, 440, 568, 32}, true, "files/img", "SimHei", 21, false},
        {"标签3", {16, 481, 112, 32}, true, "旧的域名前缀：", "SimSun", 15, false},
        {"编辑框旧的域名前缀", {128, 481, 568, 32}, true, "", "SimHei", 21, false},
        {"标签5", {16, 522, 112, 32}, true, "新的域名前缀：", "SimSun", 15, false},
        {"编辑框新的域名前缀", {128, 522, 568, 32}, true, "", "SimHei", 21, false},
        {"标签4", {16, 563, 112, 32}, true, "排除地址范围：", "SimSun", 15, false},
        {"编辑框排除地址范围", {128, 563, 568, 32}, true, "", "SimHei", 21, false},
    };
    for (const Control& c : controls) {
        SCOPED_TRACE(c.name);
        QWidget* w = Child<QWidget>(window, c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), c.geometry);
        EXPECT_EQ(w->isVisible(), c.visible);
        if (c.text) {
            QString text;
            if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
            if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
            if (auto* e = qobject_cast<QLineEdit*>(w)) text = e->text();
            EXPECT_EQ(text, QString::fromUtf8(c.text));
        }
        if (c.family) {
            EXPECT_EQ(w->font().family(), QString::fromUtf8(c.family));
            EXPECT_EQ(w->font().pixelSize(), c.pixels);
            EXPECT_EQ(w->font().bold(), c.bold);
        }
    }
    // The folder box starts at the designed folder below the home folder on this platform.
    auto* folder = Child<QLineEdit>(window, "编辑框文章目录");
    EXPECT_EQ(folder->geometry(), QRect(128, 104, 512, 32));
    EXPECT_EQ(folder->text(), home + QStringLiteral("/文章目录"));
    EXPECT_EQ(folder->font().family(), QStringLiteral("SimHei"));
    // Image buttons and links show the hand cursor.
    for (const char* name : {"图片框官网", "图片框保存", "图片框操作", "图片框更新", "图片框QQ",
                             "图片框软件", "超级链接框保存", "超级链接框更新"}) {
        EXPECT_EQ(Child<QWidget>(window, name)->cursor().shape(), Qt::PointingHandCursor) << name;
    }
}

TEST(MainWindowLayout, StackingAndTheStatusLabelOnTheBar) {
    web::WebClient web;
    config::ConfigStore settings;  // bound to no file
    TextDialogRequest textDialog;
    QtEventPoints events;
    MainWindow window{settings, textDialog, web, events};
    auto* bar = Child<QProgressBar>(window, "进度条1");
    auto* label = Child<QLabel>(window, "透明标签1");
    // The label was laid onto the bar when the window was created.
    EXPECT_EQ(label->parentWidget(), bar);
    EXPECT_EQ(label->geometry(), QRect(10, 0, 660, 32));
    EXPECT_EQ(label->font().family(), QStringLiteral("SimHei"));
    EXPECT_EQ(label->font().pixelSize(), 19);
    EXPECT_FALSE(label->isVisibleTo(&window));
    // Later siblings are drawn above earlier ones.
    const QObjectList& order = window.children();
    auto at = [&](const char* name) { return order.indexOf(Child<QWidget>(window, name)); };
    EXPECT_GT(at("编辑框过滤"), at("编辑框文章目录"));
    EXPECT_GT(at("进度条1"), at("编辑框过滤"));
    EXPECT_GT(at("进度条1"), at("按钮选择"));
    EXPECT_GT(at("进度条1"), at("标签1"));
}

TEST(MainWindowLayout, StatusListColumnsAndIcons) {
    web::WebClient web;
    config::ConfigStore settings;  // bound to no file
    TextDialogRequest textDialog;
    QtEventPoints events;
    MainWindow window{settings, textDialog, web, events};
    auto* list = Child<QTreeWidget>(window, "列表框");
    ASSERT_EQ(list->columnCount(), 2);
    EXPECT_EQ(list->headerItem()->text(0), QStringLiteral("存放位置"));
    EXPECT_EQ(list->headerItem()->text(1), QStringLiteral("下载地址"));
    EXPECT_EQ(list->columnWidth(0), 400);
    EXPECT_EQ(list->columnWidth(1), 250);
    EXPECT_EQ(list->iconSize(), QSize(24, 24));
    EXPECT_EQ(list->topLevelItemCount(), 0);
    // Rows carry one of four distinct icons.
    window.InsertRow(0, ui::StatusIcon::Queued);
    window.InsertRow(0, ui::StatusIcon::Saved);
    window.SetCellText(0, 1, "http://a/1.gif");
    window.SetRowIcon(1, ui::StatusIcon::Failed);
    EXPECT_EQ(window.RowCount(), 2);
    EXPECT_EQ(window.RowIcon(0), 0);
    EXPECT_EQ(window.RowIcon(1), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("http://a/1.gif"));
    QImage images[4];
    for (int i = 0; i < 4; ++i) {
        window.SetRowIcon(0, static_cast<ui::StatusIcon>(i));
        images[i] = list->topLevelItem(0)->icon(0).pixmap(24, 24).toImage();
        EXPECT_EQ(images[i].size(), QSize(24, 24));
        for (int j = 0; j < i; ++j) EXPECT_NE(images[i], images[j]) << i << " " << j;
    }
    window.ClearRows();
    EXPECT_EQ(window.RowCount(), 0);

    // Scrolling to a row far down shows it once events have been processed.
    window.show();
    for (int i = 0; i < 60; ++i) window.InsertRow(i, ui::StatusIcon::Queued);
    window.ScrollToRow(10);
    window.ScrollToRow(55);
    QApplication::processEvents();
    const QRect shown = list->visualItemRect(list->topLevelItem(55));
    EXPECT_TRUE(list->viewport()->rect().contains(shown)) << shown.y();
    window.ScrollToRow(70);  // no such row: nothing happens
    QApplication::processEvents();
}

}  // namespace
}  // namespace zembrat::ui
