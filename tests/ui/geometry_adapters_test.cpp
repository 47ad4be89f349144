// Qt windows and controls kept through the settings store.
#include "ui/geometry_adapters.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QRadioButton>
#include <QWidget>

#include "config/config_store.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::ui {
namespace {
using namespace text::literals;
using testing::ReadFileOrMissing;
using testing::TempDir;

class StoreInFolder : public ::testing::Test {
  protected:
    StoreInFolder() : path(dir / "Zembrat.ini") { EXPECT_TRUE(store.Open(path, config::DiskFile)); }
    TempDir dir;
    std::string path;
    config::ConfigStore store;
};

TEST_F(StoreInFolder, ANormalWindowComesBackWhereItWas) {
    QWidget saved;
    saved.setGeometry(30, 40, 300, 200);
    saved.show();
    WindowPlacement savedPlacement(saved);
    EXPECT_EQ(savedPlacement.PlacementState(), config::kPlacementNormal);
    store.SaveWindowGeometry(savedPlacement, "对话框"_gbk);
    EXPECT_EQ(ReadFileOrMissing(path),
              "[对话框.尺寸]\r\n高度=200\r\n宽度=300\r\n顶边=40\r\n左边=30\r\n位置=0"_gbk);

    QWidget restored;
    restored.setGeometry(1, 2, 50, 60);
    restored.show();
    WindowPlacement restoredPlacement(restored);
    store.RestoreWindowGeometry(restoredPlacement, "对话框"_gbk);
    EXPECT_EQ(restored.geometry(), QRect(30, 40, 300, 200));
    EXPECT_EQ(restored.windowState(), Qt::WindowNoState);

    // Without a saved section nothing changes.
    QWidget untouched;
    untouched.setGeometry(7, 8, 90, 100);
    WindowPlacement untouchedPlacement(untouched);
    store.RestoreWindowGeometry(untouchedPlacement, "别的窗口"_gbk);
    EXPECT_EQ(untouched.geometry(), QRect(7, 8, 90, 100));
    EXPECT_EQ(untouched.windowState(), Qt::WindowNoState);
}

TEST_F(StoreInFolder, MinimisedMaximisedAndFullScreenKeepOnlyTheirState) {
    QWidget window;
    window.setGeometry(30, 40, 300, 200);
    window.show();
    WindowPlacement placement(window);
    store.SaveWindowGeometry(placement, "");  // the normal rectangle first

    const std::pair<Qt::WindowState, int> states[] = {
        {Qt::WindowMinimized, config::kPlacementMinimised},
        {Qt::WindowMaximized, config::kPlacementMaximised},
        {Qt::WindowFullScreen, config::kPlacementFullScreen}};
    for (const auto& [state, code] : states) {
        SCOPED_TRACE(code);
        window.setWindowState(state);
        EXPECT_EQ(placement.PlacementState(), code);
        store.SaveWindowGeometry(placement, "");
        EXPECT_EQ(store.GetValue("主界面.尺寸"_gbk, "位置"_gbk), std::to_string(code));
        EXPECT_EQ(store.GetValue("主界面.尺寸"_gbk, "宽度"_gbk), "300")
            << "the normal rectangle stays";

        QWidget other;
        other.setGeometry(5, 6, 70, 80);
        WindowPlacement otherPlacement(other);
        store.RestoreWindowGeometry(otherPlacement, "主界面"_gbk);
        EXPECT_EQ(other.windowState(), state);
        EXPECT_EQ(otherPlacement.PlacementState(), code);
    }
    // Codes below 2 make the window normal again.
    placement.SetPlacementState(config::kPlacementCentred);
    EXPECT_EQ(window.windowState(), Qt::WindowNoState);
    EXPECT_EQ(placement.PlacementState(), config::kPlacementNormal);
}

TEST_F(StoreInFolder, ControlsAreKeptUnderTheirTextAsTrueOrFalse) {
    store.SetSection("选项"_gbk);
    QAction wrap(QStringLiteral("自动换行"));
    wrap.setCheckable(true);
    wrap.setChecked(true);
    QCheckBox sound(QStringLiteral("提示音"));
    QRadioButton fast(QStringLiteral("快速"));
    fast.setChecked(true);
    ASSERT_TRUE(store.SaveControlState(ActionState(wrap)));
    ASSERT_TRUE(store.SaveControlState(CheckBoxState(sound)));
    ASSERT_TRUE(store.SaveControlState(RadioButtonState(fast)));
    EXPECT_EQ(ReadFileOrMissing(path), "[选项]\r\n快速=真\r\n提示音=假\r\n自动换行=真"_gbk);

    QAction wrapAgain(QStringLiteral("自动换行"));
    wrapAgain.setCheckable(true);
    ActionState wrapState(wrapAgain);
    EXPECT_TRUE(store.RestoreControlState(wrapState));
    EXPECT_TRUE(wrapAgain.isChecked());
    QCheckBox soundAgain(QStringLiteral("提示音"));
    soundAgain.setChecked(true);
    CheckBoxState soundState(soundAgain);
    EXPECT_FALSE(store.RestoreControlState(soundState));
    EXPECT_FALSE(soundAgain.isChecked());
    QRadioButton fastAgain(QStringLiteral("快速"));
    RadioButtonState fastState(fastAgain);
    EXPECT_TRUE(store.RestoreControlState(fastState));
    EXPECT_TRUE(fastAgain.isChecked());

    // The result is the state read back: an entry that cannot be checked stays off.
    QAction plain(QStringLiteral("自动换行"));
    ActionState plainState(plain);
    EXPECT_FALSE(store.RestoreControlState(plainState));
    // A radio button checked in an exclusive group cannot turn itself off.
    QWidget group;
    auto* first = new QRadioButton(QStringLiteral("提示音"), &group);
    new QRadioButton(QStringLiteral("静音"), &group);
    first->setChecked(true);
    RadioButtonState firstState(*first);
    EXPECT_TRUE(store.RestoreControlState(firstState));
    EXPECT_TRUE(first->isChecked());
    // An unknown key keeps the current state; an empty caption is an empty key.
    QCheckBox unnamed;
    unnamed.setChecked(true);
    CheckBoxState unnamedState(unnamed);
    EXPECT_TRUE(store.RestoreControlState(unnamedState));
    EXPECT_TRUE(store.SaveControlState(unnamedState));
    EXPECT_EQ(store.GetValue("选项"_gbk, ""), "真"_gbk);
}

}  // namespace
}  // namespace zembrat::ui
