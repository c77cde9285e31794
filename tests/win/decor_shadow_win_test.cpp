// The drop shadow on a real form: its four windows, where they sit as the
// form is shown, moved, resized and hidden, when settings redraw, and what is
// left after teardown.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "decor/shadow_face_win.h"
#include "decor/shadow_rules.h"
#include "decor/shadow_win.h"
#include "decor/subclass_win.h"
#include "decor_test_support.h"

namespace stub {
namespace {

using test::RecordingReporter;
using test::ReportEntry;
using test::TestWindow;

using Box = std::tuple<long, long, long, long>;  // left, top, right, bottom

BOOL CALLBACK CollectOwned(HWND wnd, LPARAM param) {
  auto* found = reinterpret_cast<std::pair<HWND, std::vector<HWND>>*>(param);
  if (GetWindow(wnd, GW_OWNER) == found->first) found->second.push_back(wnd);
  return TRUE;
}

std::vector<HWND> Owned(HWND owner) {
  std::pair<HWND, std::vector<HWND>> found{owner, {}};
  EnumWindows(CollectOwned, reinterpret_cast<LPARAM>(&found));
  return found.second;
}

Box BoxOf(HWND wnd) {
  RECT r = {};
  GetWindowRect(wnd, &r);
  return {r.left, r.top, r.right, r.bottom};
}

std::vector<Box> PieceBoxes(HWND form) {
  std::vector<Box> boxes;
  for (HWND w : Owned(form)) boxes.push_back(BoxOf(w));
  std::sort(boxes.begin(), boxes.end());
  return boxes;
}

std::vector<Box> Expected(int x, int y, int w, int h, int depth) {
  std::vector<Box> boxes;
  for (Piece p : {Piece::Right, Piece::Bottom, Piece::Left, Piece::Top}) {
    const Rect r = PieceRect(p, x, y, w, h, depth);
    boxes.emplace_back(r.left, r.top, r.left + r.width, r.top + r.height);
  }
  std::sort(boxes.begin(), boxes.end());
  return boxes;
}

int VisiblePieces(HWND form) {
  int n = 0;
  for (HWND w : Owned(form)) n += IsWindowVisible(w) ? 1 : 0;
  return n;
}

void Place(HWND form, int x, int y, int w, int h, UINT flags) {
  ASSERT_TRUE(SetWindowPos(form, nullptr, x, y, w, h, flags | SWP_NOZORDER | SWP_NOACTIVATE));
}

class DecorShadowWin : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(form.get(), nullptr); }
  void TearDown() override { EXPECT_TRUE(reports.entries.empty()); }

  RecordingReporter reports;
  TestWindow form;
};

TEST_F(DecorShadowWin, PiecesFollowTheFormShownMovedResizedAndHidden) {
  aShadow shadow(reports);
  ASSERT_TRUE(shadow.Shadow(form.get()));
  const std::vector<HWND> pieces = Owned(form.get());
  ASSERT_EQ(pieces.size(), 4u);
  for (HWND w : pieces) {  // hidden layered popups
    EXPECT_EQ(GetWindowLongW(w, GWL_EXSTYLE),
              WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_NOPARENTNOTIFY);
    const LONG style = GetWindowLongW(w, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_CHILD | WS_CAPTION | WS_VISIBLE), WS_POPUP);
  }
  const int depth = shadow.Depth();
  struct Step {
    const char* name;
    int x, y, w, h;
    UINT flags;
    int visible;
  } const steps[] = {
      {"shown", 200, 150, 300, 200, SWP_SHOWWINDOW, 4},
      {"moved", 260, 90, 0, 0, SWP_NOSIZE, 4},
      {"resized", 0, 0, 420, 130, SWP_NOMOVE, 4},
      {"moved and resized", 40, 300, 250, 260, 0, 4},
      {"hidden", 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_HIDEWINDOW, 0},
      {"moved while hidden", 70, 80, 0, 0, SWP_NOSIZE, 0},
      {"shown again", 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW, 4},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    Place(form.get(), s.x, s.y, s.w, s.h, s.flags);
    EXPECT_EQ(VisiblePieces(form.get()), s.visible);
    if (s.visible == 0) continue;
    RECT r;
    GetWindowRect(form.get(), &r);
    EXPECT_EQ(PieceBoxes(form.get()),
              Expected(r.left, r.top, r.right - r.left, r.bottom - r.top, depth));
  }
}

TEST_F(DecorShadowWin, SettingsRedrawAVisibleShadowOnlyWhenTheyChange) {
  aShadow shadow(reports);
  ASSERT_TRUE(shadow.Shadow(form.get()));
  Place(form.get(), 200, 150, 300, 200, SWP_SHOWWINDOW);
  ASSERT_EQ(PieceBoxes(form.get()), Expected(200, 150, 300, 200, 7));

  // A piece pushed aside shows whether a setting drew the pieces again: a
  // drawn piece is put back at its place.
  const HWND piece = Owned(form.get()).front();
  const auto pushAside = [&] {
    SetWindowPos(piece, nullptr, 1, 1, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  };
  pushAside();
  shadow.Depth(7);
  shadow.Transparency(140);
  shadow.Color(0);
  EXPECT_EQ(std::get<0>(BoxOf(piece)), 1) << "an unchanged setting draws nothing";

  shadow.Transparency(90);
  EXPECT_EQ(PieceBoxes(form.get()), Expected(200, 150, 300, 200, 7));
  shadow.Depth(12);
  EXPECT_EQ(PieceBoxes(form.get()), Expected(200, 150, 300, 200, 12));
  EXPECT_EQ(shadow.Depth(), 12);
  EXPECT_EQ(shadow.Transparency(), 90);

  ShowWindow(form.get(), SW_HIDE);
  pushAside();
  shadow.Color(0x00336699);
  EXPECT_EQ(std::get<0>(BoxOf(piece)), 1) << "a hidden form's shadow is not drawn";
  EXPECT_EQ(shadow.Color(), 0x00336699u);

  shadow.Color(0x80000000u | COLOR_HIGHLIGHT);
  EXPECT_EQ(shadow.Color(), GetSysColor(COLOR_HIGHLIGHT));
}

TEST_F(DecorShadowWin, ADepthOfZeroLeavesNoPictureBesideTheForm) {
  aShadow shadow(reports);
  ASSERT_TRUE(shadow.Shadow(form.get()));
  Place(form.get(), 200, 150, 300, 200, SWP_SHOWWINDOW);
  shadow.Depth(0);
  for (HWND w : Owned(form.get())) {
    const Box b = BoxOf(w);
    EXPECT_TRUE(std::get<0>(b) == std::get<2>(b) || std::get<1>(b) == std::get<3>(b));
  }
  shadow.Depth(-5);  // no shadow either, and no failure
  Place(form.get(), 210, 150, 0, 0, SWP_NOSIZE);
  EXPECT_EQ(Owned(form.get()).size(), 4u);
}

TEST_F(DecorShadowWin, OneFormPerShadow) {
  aShadow shadow(reports);
  TestWindow second;
  ASSERT_TRUE(shadow.Shadow(form.get()));
  EXPECT_FALSE(shadow.Shadow(second.get()));
  EXPECT_FALSE(shadow.Shadow(form.get()));
  const ReportEntry single{kRoutineShadow, kSingleForm};
  EXPECT_EQ(reports.entries, (std::vector<ReportEntry>{single, single}));
  reports.entries.clear();
  EXPECT_EQ(Owned(second.get()).size(), 0u);
  EXPECT_EQ(Owned(form.get()).size(), 4u);
}

TEST_F(DecorShadowWin, SizeMessagesShowThePiecesOnlyWhenRestoredAndVisible) {
  Place(form.get(), 200, 150, 300, 200, SWP_SHOWWINDOW);
  aShadow shadow(reports);
  ASSERT_TRUE(shadow.Shadow(form.get()));  // attached to a form already shown
  EXPECT_EQ(VisiblePieces(form.get()), 0);
  SendMessageW(form.get(), WM_SIZE, SIZE_MINIMIZED, 0);
  SendMessageW(form.get(), WM_SIZE, SIZE_MAXIMIZED, 0);
  EXPECT_EQ(VisiblePieces(form.get()), 0);
  SendMessageW(form.get(), WM_SIZE, SIZE_RESTORED, 0);
  EXPECT_EQ(VisiblePieces(form.get()), 4);
  // A position report without its record is ignored; a display change that
  // changes nothing keeps the pieces.
  SendMessageW(form.get(), WM_WINDOWPOSCHANGED, 0, 0);
  SendMessageW(form.get(), WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
  SendMessageW(form.get(), WM_THEMECHANGED, 0, 0);
  EXPECT_EQ(VisiblePieces(form.get()), 4);
}

TEST_F(DecorShadowWin, TeardownDestroysThePiecesAndGivesTheFormItsProcedureBack) {
  const LONG_PTR own = GetWindowLongPtrW(form.get(), GWLP_WNDPROC);
  std::vector<HWND> pieces;
  {
    aShadow shadow(reports);
    ASSERT_TRUE(shadow.Shadow(form.get()));
    Place(form.get(), 200, 150, 300, 200, SWP_SHOWWINDOW);
    pieces = Owned(form.get());
  }
  ASSERT_EQ(pieces.size(), 4u);
  for (HWND w : pieces) EXPECT_FALSE(IsWindow(w));
  Place(form.get(), 210, 150, 0, 0, SWP_NOSIZE);  // the next message removes the subclassing
  EXPECT_EQ(GetWindowLongPtrW(form.get(), GWLP_WNDPROC), own);
  EXPECT_EQ(SubclassRecordCount(), 0);
}

TEST(DecorShadowFace, TheDownloadWindowsShadowAndItsRelease) {
  TestWindow form;
  ASSERT_TRUE(AttachShadow(form.get()));
  aShadow* shadow = FormShadow();
  ASSERT_NE(shadow, nullptr);
  EXPECT_EQ(shadow->Depth(), kFormDepth);
  EXPECT_EQ(shadow->Color(), kFormColor);
  EXPECT_EQ(shadow->Transparency(), kFormTransparency);
  Place(form.get(), 200, 150, 300, 200, SWP_SHOWWINDOW);
  EXPECT_EQ(PieceBoxes(form.get()), Expected(200, 150, 300, 200, kFormDepth));
  // As at shutdown: the windows go first, the pieces with their form.
  const std::vector<HWND> pieces = Owned(form.get());
  DestroyWindow(form.get());
  for (HWND w : pieces) EXPECT_FALSE(IsWindow(w));
  ReleaseFormShadow();
  ReleaseFormShadow();  // twice does nothing
  EXPECT_EQ(SubclassRecordCount(), 0);
}

}  // namespace
}  // namespace stub
