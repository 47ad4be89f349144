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

// A new window over a store bound to no file.
class MainWindowLayout : public ::testing::Test {
  protected:
    web::WebClient web;
    config::ConfigStore settings;
    TextDialogRequest textDialog;
    QtEventPoints events;
    MainWindow window{settings, textDialog, web, events};
};

TEST_F(MainWindowLayout, EveryControlAsDesigned) {
    window.show();
    EXPECT_EQ(window.windowTitle(),
              QStringLiteral("Zembrat v1.03 - 自动下载并转存文章中的网络图片为自己网站的图片"));
    // It opens at its designed client size, which is also its smallest.
    EXPECT_EQ(window.size(), QSize(710, 614));
    EXPECT_EQ(window.minimumSize(), QSize(710, 614));
    EXPECT_EQ(window.pos(), QPoint(50, 50));
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
        // Beside the logo, over no designed control; enabled once a run has begun.
        {"按钮查看运行结果", {634, 24, 74, 40}, true, "查看运行结果", "SimSun", 12, false},
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

TEST_F(MainWindowLayout, StackingAndTheStatusLabelOnTheBar) {
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

// Larger than designed, the list takes the added room in both directions and both columns, the
// boxes of the folder row and the settings rows widen, the button and the rows below the list
// move down; back at the designed size every pixel is as before.
TEST_F(MainWindowLayout, GrowsWithTheWindowAndShrinksBackExactly) {
    window.show();
    QApplication::processEvents();
    const QImage designed = window.grab().toImage();

    const int dw = 1600 - 710, dh = 1000 - 614;
    window.resize(1600, 1000);
    QApplication::processEvents();
    EXPECT_EQ(window.size(), QSize(1600, 1000));
    struct Grown {
        const char* name;
        QRect geometry;
    };
    const Grown grown[] = {
        {"图片框1", {0, 0, 816 + dw, 88}},
        {"图片框官网", {488, 12, 145, 64}},
        {"标签13", {0, 88, 1000 + dw, 2}},
        {"按钮查看运行结果", {634 + dw, 24, 74, 40}},
        {"标签1", {16, 104, 96, 32}},
        {"编辑框文章目录", {128, 104, 512 + dw, 32}},
        // The filter box keeps its right end inside the folder box and takes a quarter.
        {"编辑框过滤", {576 + dw - dw / 4, 108, 58 + dw / 4, 24}},
        {"按钮选择", {640 + dw, 104, 56, 32}},
        {"进度条1", {16, 104, 680 + dw, 32}},
        {"列表框", {16, 144, 680 + dw, 232 + dh}},
        {"按钮开始下载", {16, 392 + dh, 680 + dw, 40}},
        {"标签2", {16, 440 + dh, 112, 32}},
        {"编辑框图片存放目录", {128, 440 + dh, 568 + dw, 32}},
        {"标签3", {16, 481 + dh, 112, 32}},
        {"编辑框旧的域名前缀", {128, 481 + dh, 568 + dw, 32}},
        {"标签5", {16, 522 + dh, 112, 32}},
        {"编辑框新的域名前缀", {128, 522 + dh, 568 + dw, 32}},
        {"标签4", {16, 563 + dh, 112, 32}},
        {"编辑框排除地址范围", {128, 563 + dh, 568 + dw, 32}},
    };
    for (const Grown& g : grown) {
        SCOPED_TRACE(g.name);
        QWidget* w = Child<QWidget>(window, g.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), g.geometry);
    }
    // The status label still spans the bar less its margins; the columns share the added width
    // as they share the designed one, and fill the list as before.
    EXPECT_EQ(Child<QLabel>(window, "透明标签1")->geometry(), QRect(10, 0, 660 + dw, 32));
    auto* list = Child<QTreeWidget>(window, "列表框");
    EXPECT_EQ(list->columnWidth(0) + list->columnWidth(1), 650 + dw);
    EXPECT_NEAR(list->columnWidth(0) * 250.0 / list->columnWidth(1), 400.0, 2.0);
    // The filter box now shows a long filter whole.
    auto* filter = Child<QLineEdit>(window, "编辑框过滤");
    filter->setText(QStringLiteral("*.htm|*.html|*.md"));
    EXPECT_GE(filter->contentsRect().width(),
              filter->fontMetrics().horizontalAdvance(filter->text()));

    // Smaller than designed is refused; back at the designed size nothing differs.
    window.resize(600, 500);
    QApplication::processEvents();
    EXPECT_EQ(window.size(), QSize(710, 614));
    filter->setText(QStringLiteral("*.htm"));
    QApplication::processEvents();
    EXPECT_EQ(Child<QTreeWidget>(window, "列表框")->columnWidth(0), 400);
    EXPECT_EQ(window.grab().toImage(), designed);
}

TEST_F(MainWindowLayout, StatusListColumnsAndIcons) {
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
