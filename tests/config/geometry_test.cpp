// Window placement and control states kept through the store.
#include <gtest/gtest.h>

#include "checked_store.h"
#include "text/codec.h"

namespace zembrat::config {
namespace {

using namespace text::literals;
using testing::CheckedStore;
using testing::Lines;
using zembrat::testing::TempDir;

class FakeWindow : public PlacedWindow {
  public:
    FakeWindow(int state, WindowRect rect) : state_(state), rect_(rect) {}
    int PlacementState() const override { return state_; }
    void SetPlacementState(int state) override { state_ = state; }
    WindowRect Rect() const override { return rect_; }
    void SetRect(const WindowRect& rect) override {
        rect_ = rect;
        ++moves_;
    }
    int moves() const { return moves_; }

  private:
    int state_;
    WindowRect rect_;
    int moves_ = 0;
};

template <class Kind>
class FakeControl : public Kind {
  public:
    FakeControl(std::string key, bool on) : key_(std::move(key)), on_(on) {}
    std::string KeyText() const override { return key_; }
    bool IsOn() const override { return on_; }
    void SetOn(bool on) override { on_ = on; }

  private:
    std::string key_;
    bool on_;
};

TEST(WindowGeometry, NormalWindowsKeepTheirRectangleOthersOnlyTheirState) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.Open());
    FakeWindow saved(kPlacementNormal, {10, 20, 300, 400});
    s->SaveWindowGeometry(saved, "主界面"_gbk);
    EXPECT_EQ(s.FileBytes(), Lines({"[主界面.尺寸]"_gbk, "高度=400"_gbk, "宽度=300"_gbk,
                                    "顶边=20"_gbk, "左边=10"_gbk, "位置=0"_gbk}));
    FakeWindow restored(kPlacementNormal, {0, 0, 1, 1});
    s->RestoreWindowGeometry(restored, "");  // the empty name means the same section
    EXPECT_EQ(restored.Rect(), (WindowRect{10, 20, 300, 400}));
    EXPECT_EQ(restored.moves(), 1);

    // Maximised: only the state is written; the rectangle of the last normal save stays.
    FakeWindow maximised(kPlacementMaximised, {0, 0, 1920, 1080});
    s->SaveWindowGeometry(maximised, "");
    EXPECT_EQ(s->GetValue("主界面.尺寸"_gbk, "位置"_gbk), "3");
    EXPECT_EQ(s->GetValue("主界面.尺寸"_gbk, "宽度"_gbk), "300");
    FakeWindow next(kPlacementNormal, {5, 5, 50, 50});
    s->RestoreWindowGeometry(next, "");
    EXPECT_EQ(next.PlacementState(), kPlacementMaximised);
    EXPECT_EQ(next.Rect(), (WindowRect{5, 5, 50, 50}));
    EXPECT_EQ(next.moves(), 0);
    EXPECT_EQ(Probe::CurrentSection(s.store()), "主界面.尺寸"_gbk);
}

TEST(WindowGeometry, RestoringWithoutASavedSectionKeepsTheWindowAsItIs) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith(Lines({"[对话框.尺寸]"_gbk, "左边=-7.9"_gbk, "宽度=abc"_gbk})));
    FakeWindow window(kPlacementCentred, {1, 2, 3, 4});
    s->RestoreWindowGeometry(window, "别的"_gbk);
    EXPECT_EQ(window.PlacementState(), kPlacementCentred);
    EXPECT_EQ(window.Rect(), (WindowRect{1, 2, 3, 4}));
    EXPECT_EQ(s.FileBytes(), Lines({"[对话框.尺寸]"_gbk, "左边=-7.9"_gbk, "宽度=abc"_gbk}));
    // Values are truncated towards zero; a text that is no number reads as 0.
    s->RestoreWindowGeometry(window, "对话框"_gbk);
    EXPECT_EQ(window.Rect(), (WindowRect{-7, 2, 0, 4}));
}

TEST(ControlState, EachKindIsKeptUnderItsKeyTextInTheCurrentSection) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.Open());
    s->SetSection("选项"_gbk);
    FakeControl<CheckBoxControl> box("自动"_gbk, true);
    FakeControl<RadioButtonControl> radio("单选"_gbk, false);
    FakeControl<CheckableMenuItem> item("", true);  // an empty key text is an empty key
    EXPECT_TRUE(s->SaveControlState(box));
    EXPECT_TRUE(s->SaveControlState(radio));
    EXPECT_TRUE(s->SaveControlState(item));
    EXPECT_EQ(s.FileBytes(), Lines({"[选项]"_gbk, "=真"_gbk, "单选=假"_gbk, "自动=真"_gbk}));

    FakeControl<CheckBoxControl> box2("自动"_gbk, false);
    FakeControl<RadioButtonControl> radio2("单选"_gbk, true);
    FakeControl<CheckableMenuItem> item2("", false);
    FakeControl<CheckBoxControl> unknown("新"_gbk, true);
    EXPECT_TRUE(s->RestoreControlState(box2));
    EXPECT_FALSE(s->RestoreControlState(radio2));
    EXPECT_TRUE(s->RestoreControlState(item2));
    EXPECT_TRUE(s->RestoreControlState(unknown));  // nothing stored: stays as it is
    EXPECT_TRUE(box2.IsOn());
    EXPECT_FALSE(radio2.IsOn());
    EXPECT_TRUE(item2.IsOn());
}

}  // namespace
}  // namespace zembrat::config
