#include "decor/shadow_win.h"

#include "base/handle_win.h"
#include "base/gdi_win.h"
#include "decor/shadow_rules.h"

namespace stub {
namespace {

constexpr wchar_t kPieceClass[] = L"KorvelShadowPiece";
// Layered (per-pixel alpha), transparent to the mouse, silent to the owner.
constexpr DWORD kPieceExStyle = WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_NOPARENTNOTIFY;

// The screen's device context, borrowed for one question.
class ScreenDC {
 public:
  ScreenDC() : dc_(GetDC(nullptr)) {}
  ~ScreenDC() {
    if (dc_) ReleaseDC(nullptr, dc_);
  }
  ScreenDC(const ScreenDC&) = delete;
  ScreenDC& operator=(const ScreenDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

int ScreenBitsPerPixel() {
  ScreenDC screen;
  return screen.get() ? GetDeviceCaps(screen.get(), BITSPIXEL) : 0;
}

// The piece windows only carry their picture; on destruction they clear the
// holder that GWLP_USERDATA points to.
LRESULT CALLBACK PieceProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  } else if (msg == WM_NCDESTROY) {
    auto* holder = reinterpret_cast<HWND*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
    if (holder && *holder == wnd) *holder = nullptr;
    SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
  }
  return DefWindowProcW(wnd, msg, wParam, lParam);
}

bool RegisterPieceClass(HINSTANCE instance) {
  static bool registered = false;
  if (registered) return true;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = PieceProc;
  wc.hInstance = instance;
  wc.lpszClassName = kPieceClass;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  registered = true;
  return true;
}

}  // namespace

bool ShadowPieceWindow::Create(HWND owner) {
  if (wnd_) return true;
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!RegisterPieceClass(instance)) return false;
  // Hidden and empty until the form reports its place.
  wnd_ = CreateWindowExW(kPieceExStyle, kPieceClass, L"", WS_POPUP, 0, 0, 0, 0, owner, nullptr,
                         instance, &wnd_);
  return wnd_ != nullptr;
}

void ShadowPieceWindow::Destroy() {
  if (!wnd_) return;  // never created, or already gone with its owner
  const HWND wnd = wnd_;
  wnd_ = nullptr;
  // Detached first: a window that outlives this holder must not write to it.
  SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
  DestroyWindow(wnd);  // fails only for a window that is already gone: nothing left to do
}

aShadow::aShadow(Reporter& reporter) : engine_(this, reporter) {
  CheckSupport();
  depth_ = kDefaultDepth;
  transparency_ = kDefaultTransparency;
}

aShadow::~aShadow() {
  // The form must not call back into this object once it is gone.
  engine_.sc_UnSubclassAll();
  DestroyShadowWindows();
}

void aShadow::Color(uint32_t value) {
  // GetSysColor gives 0 for an index it does not know.
  if (value & 0x80000000u) value = GetSysColor(static_cast<int>(value & 0x7FFFFFFFu));
  if (value == color_) return;
  color_ = value;
  DrawAll();
}

void aShadow::Depth(int32_t value) {
  if (value == depth_) return;
  depth_ = value;
  DrawAll();
}

void aShadow::Transparency(uint8_t value) {
  if (value == transparency_) return;
  transparency_ = value;
  DrawAll();
}

bool aShadow::Shadow(HWND form) {
  if (form_) {
    engine_.zReport(kRoutineShadow, kSingleForm);
    return false;
  }
  // The shadow is decoration: without support the form simply has none.
  if (!supported_) return false;
  form_ = form;  // kept even if subclassing fails, so a second form is refused
  if (!engine_.sc_Subclass(form_, 0, 1, nullptr, true)) return false;
  uint32_t messages[4];
  const int n = WatchedMessages(themeAware_, messages);
  for (int i = 0; i < n; ++i) engine_.sc_WatchMessage(form_, messages[i], WHEN_BEFORE);
  CreateShadowWindows();
  return true;
}

void aShadow::CheckSupport() {
  supported_ = false;
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExW(&version)) return;  // an unknown system gets no shadow
  themeAware_ = ThemeAware(themeAware_, version.dwMajorVersion, version.dwMinorVersion);
  supported_ =
      ShadowSupported(version.dwMajorVersion, version.dwMinorVersion, ScreenBitsPerPixel());
}

void aShadow::CreateShadowWindows() {
  // A piece the platform refuses is left out; the others still shadow the form.
  for (Piece piece : kCreateOrder) pieces_[static_cast<int>(piece) - 1].Create(form_);
}

void aShadow::DestroyShadowWindows() {
  for (Piece piece : kDestroyOrder) pieces_[static_cast<int>(piece) - 1].Destroy();
}

Rect aShadow::PieceRectNow(Piece piece) const {
  return PieceRect(piece, formPos_.x, formPos_.y, formPos_.cx, formPos_.cy, depth_);
}

void aShadow::DrawAll() {
  if (!supported_ || !IsWindowVisible(form_)) return;
  for (Piece piece : kDrawAllOrder) DrawPiece(piece);
}

// Failures of the drawing calls leave the piece as it was: the shadow is
// decoration and the form works without it.
void aShadow::DrawPiece(Piece piece) {
  const HWND wnd = PieceWnd(piece);
  if (!wnd) return;  // never created, or destroyed when the display lost support
  const Rect r = PieceRectNow(piece);
  const uint32_t bytes = PieceImageBytes(r.width, r.height);
  if (bytes == 0) {
    // Nothing to draw (a depth of 0 or less): an empty piece, rather than the
    // last picture left standing beside the form.
    if (r.width <= 0 || r.height <= 0) MoveWindow(wnd, r.left, r.top, 0, 0, FALSE);
    return;
  }
  UniqueDC mem(CreateCompatibleDC(nullptr));
  if (!mem) return;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = r.width;
  info.bmiHeader.biHeight = r.height;  // positive: the bottom row comes first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = bytes;
  void* bits = nullptr;
  UniqueBitmap bitmap(
      CreateDIBSection(mem.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || !bits) return;
  stub::DrawPiece(piece, r.width, r.height, depth_, color_, static_cast<uint32_t*>(bits));
  const SelectGuard selected(mem.get(), bitmap.get());
  if (!selected) return;
  POINT at = {r.left, r.top};
  SIZE size = {r.width, r.height};
  POINT origin = {0, 0};
  BLENDFUNCTION blend = {AC_SRC_OVER, 0, static_cast<BYTE>(transparency_), AC_SRC_ALPHA};
  UpdateLayeredWindow(wnd, nullptr, &at, &size, mem.get(), &origin, 0, &blend, ULW_ALPHA);
}

void aShadow::Reposition() {
  const RepositionPlan plan =
      PlanReposition(formPos_.flags, formPos_.cx, formPos_.cy, lastWidth_, lastHeight_);
  if (plan.hide) {
    ShowShadows(false, false);
    return;
  }
  lastWidth_ = plan.lastWidth;
  lastHeight_ = plan.lastHeight;
  if (plan.redrawHorizontal) {
    DrawPiece(Piece::Bottom);
    DrawPiece(Piece::Top);
  }
  if (plan.redrawVertical) {
    DrawPiece(Piece::Right);
    DrawPiece(Piece::Left);
  }
  if (plan.move) {
    for (Piece piece : kMoveOrder) {
      const HWND wnd = PieceWnd(piece);
      const Rect r = PieceRectNow(piece);
      // A piece that cannot move stays where it was until the next move.
      if (wnd) MoveWindow(wnd, r.left, r.top, r.width, r.height, FALSE);
    }
  }
  if (plan.show) ShowShadows(true, false);
}

void aShadow::ShowShadows(bool show, bool force) {
  if (!ShowShadowsActs(shown_, show, force)) return;
  shown_ = show;
  for (Piece piece : kMoveOrder) {
    // ShowWindow answers with the earlier visibility, not with success.
    if (const HWND wnd = PieceWnd(piece)) ShowWindow(wnd, show ? SW_SHOWNOACTIVATE : SW_HIDE);
  }
}

void aShadow::OnDisplayChange() {
  const bool wasSupported = supported_;
  CheckSupport();
  switch (DisplayTransition(wasSupported, supported_)) {
    case DisplayChange::DestroyPieces:
      DestroyShadowWindows();
      break;
    case DisplayChange::CreatePieces:
      CreateShadowWindows();
      DrawAll();
      if (IsWindowVisible(form_)) ShowShadows(true, true);
      break;
    case DisplayChange::Nothing:
      break;
  }
}

// Only follows the form: it never sets `handled` or `result`, so the form's
// own procedure always runs afterwards.
void aShadow::OnFormMessage(bool, bool&, intptr_t&, HWND, UINT msg, WPARAM wParam, LPARAM lParam,
                            intptr_t&) {
  switch (msg) {
    case WM_WINDOWPOSCHANGED:
      if (!lParam) return;  // not a real position report
      formPos_ = *reinterpret_cast<const WINDOWPOS*>(lParam);
      Reposition();
      break;
    case WM_SIZE:
      if (SizeShowsShadows(wParam, IsWindowVisible(form_) != FALSE)) ShowShadows(true, false);
      break;
    case WM_DISPLAYCHANGE:
      OnDisplayChange();
      break;
    case WM_THEMECHANGED:
      CheckSupport();
      DrawAll();
      break;
    default:
      break;
  }
}

}  // namespace stub
