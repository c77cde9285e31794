#include <windows.h>

#include <gtest/gtest.h>

#include "app/app_win.h"

namespace stub {
namespace {

TEST(SingleInstance, SecondClaimOfTheSamePathIsAPreviousInstance) {
  const std::u16string path = u"C:\\Programs\\Test Setup\\安装_vh2vh6.exe";
  EXPECT_FALSE(IsPrevInstance(path));
  EXPECT_TRUE(IsPrevInstance(path));
  EXPECT_TRUE(IsPrevInstance(u"c:\\programs\\test setup\\安装_VH2VH6.EXE"));  // paths ignore case
  EXPECT_FALSE(IsPrevInstance(u"C:\\Programs\\Other\\安装_vh2vh6.exe"));
}

TEST(SingleInstance, WindowSearchUsesTheExactTitle) {
  const std::u16string title = u"Korvel安装  助手 ";
  HWND wnd = CreateWindowExW(0, L"STATIC", W(title), WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(wnd, nullptr);
  EXPECT_EQ(IsWindowOpen(title), u"1");  // hidden windows count
  EXPECT_EQ(IsWindowOpen(u"Korvel安装 助手"), u"");
  EXPECT_EQ(IsWindowOpen(u""), u"");
  ActivateWindow(title);
  EXPECT_TRUE(IsWindowVisible(wnd));
  EXPECT_TRUE(GetWindowLongW(wnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
  DestroyWindow(wnd);
  EXPECT_EQ(IsWindowOpen(title), u"");

  // An empty title to look for activates nothing, not some untitled window.
  HWND untitled = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(untitled, nullptr);
  ASSERT_EQ(FindWindowW(nullptr, L""), untitled);  // the one an empty search would find
  ActivateWindow(u"");
  EXPECT_FALSE(IsWindowVisible(untitled));
  EXPECT_FALSE(GetWindowLongW(untitled, GWL_EXSTYLE) & WS_EX_TOPMOST);
  DestroyWindow(untitled);
}

}  // namespace
}  // namespace stub
