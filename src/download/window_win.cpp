#include "download/window_win.h"

#include "base/shell_win.h"
#include "base/handle_win.h"
#include "base/text.h"
#include "base/gdi_win.h"
#include "decor/shadow_face_win.h"
#include "download/controller.h"
#include "download/face_win.h"
#include "net/net_win.h"

namespace stub {
namespace {

constexpr wchar_t kFormClass[] = L"KorvelSetupDown";
constexpr UINT_PTR kStartTimer = 1;

// The window and its controls in twips (15 twips = 1 pixel at 96 DPI).
constexpr int kWindowW = 8985, kWindowH = 5700;
constexpr TwipsBox kStatus = {795, 5160, 2205, 330};    // labdown1
constexpr TwipsBox kFill = {765, 4935, 7470, 195};      // pic2 (its width: the full bar)
constexpr TwipsBox kTrack = {780, 4935, 7470, 195};     // pic1
constexpr int kTitleTop = 795, kTitleW = 7020, kTitleH = 555;  // Label1 (centred across)
constexpr TwipsBox kMinimise = {8145, 30, 375, 345};    // Image1
constexpr TwipsBox kClose = {8610, 45, 345, 360};       // Image3
constexpr TwipsBox kButton = {7020, 4455, 1245, 435};   // Image4

bool Inside(const RECT& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

HFONT MakeFont(const wchar_t* face, int tenthsPt, int dpi) {
  return CreateFontW(-MulDiv(tenthsPt, dpi, 720), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                     GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, face);
}

// True when the class exists now (registered by this call or before).
bool RegisterWindowClass(HINSTANCE instance, const wchar_t* name, WNDPROC proc) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  wc.lpszClassName = name;
  return RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Binds the object passed to CreateWindowExW to its window at WM_NCCREATE,
// so messages sent during creation reach it, and forgets it at WM_NCDESTROY.
template <typename T>
T* Bound(HWND wnd, UINT msg, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    return self;
  }
  auto* self = reinterpret_cast<T*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  if (msg == WM_NCDESTROY) SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
  return self;
}

}  // namespace

DownloadWindow::~DownloadWindow() { Destroy(); }

bool DownloadWindow::Create() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!RegisterWindowClass(instance, kAppWindowClass, AppProc) ||
      !RegisterWindowClass(instance, kFormClass, Proc))
    return false;
  HDC screen = GetDC(nullptr);
  dpi_ = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  if (dpi_ <= 0) dpi_ = 96;

  // The hidden application window stands for the program to the system; the
  // single-instance check of a second start looks for it by title.
  app_ = CreateWindowExW(0, kAppWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance,
                         this);
  if (!app_) return false;
  wnd_ = CreateWindowExW(WS_EX_APPWINDOW, kFormClass, L"", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX,
                         0, 0, Px(kWindowW), Px(kWindowH), app_, nullptr, instance, this);
  if (!wnd_) return false;
  // A font that cannot be made leaves its text in the DC's default font.
  titleFont_.reset(MakeFont(L"幼圆", 278, dpi_));
  statusFont_.reset(MakeFont(L"微软雅黑", 120, dpi_));
  buttonFont_.reset(MakeFont(L"微软雅黑", 90, dpi_));
  return true;
}

void DownloadWindow::Destroy() {
  if (wnd_) DestroyWindow(wnd_);
  if (app_) DestroyWindow(app_);
  wnd_ = app_ = nullptr;
}

std::u16string DownloadWindow::Form_Load1(const RunState& s) {
  std::u16string error;
  const auto fail = [&](const char16_t* step) {
    error = step;
    error += u" (error ";
    error += DecimalText(static_cast<int64_t>(GetLastError()));
    error += u")";
  };
  if (!SetWindowTextW(app_, W(s.SetupName))) fail(u"application title");
  if (!SetWindowTextW(wnd_, W(s.NameTitle))) fail(u"window caption");
  if (!SetWindowPos(wnd_, nullptr, 0, 0, Px(kWindowW), Px(kWindowH),
                    SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE))
    fail(u"window size");
  title_ = s.NameTitle;
  titleLeftTwips_ = (kWindowW - kTitleW) / 2;  // centred; the text is centred inside it too
  status_.clear();
  titleVisible_ = true;
  browserVisible_ = false;
  fillTwips_ = 0;
  face_.reset(DrawFace(Px(kWindowW), Px(kWindowH)));
  if (!face_) fail(u"window face");
  SendReport(u"Setup", u"frmLoad");
  // The drop shadow attaches here, before the window is first shown.
  if (!AttachShadow(wnd_)) fail(u"drop shadow");
  if (!SetTimer(wnd_, kStartTimer, 500, nullptr)) fail(u"start timer");
  InvalidateRect(wnd_, nullptr, FALSE);
  return error;
}

bool DownloadWindow::Show() {
  RECT work;
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
    work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  RECT r;
  GetWindowRect(wnd_, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  SetWindowPos(wnd_, nullptr, work.left + (work.right - work.left - w) / 2,
               work.top + (work.bottom - work.top - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(wnd_, SW_SHOW);
  return UpdateWindow(wnd_) != FALSE;
}

RECT DownloadWindow::Twips(int left, int top, int width, int height) const {
  return {Px(left), Px(top), Px(left + width), Px(top + height)};
}

RECT DownloadWindow::Twips(const TwipsBox& b) const {
  return Twips(b.left, b.top, b.width, b.height);
}

void DownloadWindow::InvalidateTwips(int left, int top, int width, int height) {
  const RECT r = Twips(left, top, width, height);
  InvalidateRect(wnd_, &r, FALSE);
}

void DownloadWindow::SetFillWidth(float twips) {
  // Kept within the track (NaN too), so painting and hit-testing the fill
  // never cost more than the track or overflow a pixel count.
  fillTwips_ = !(twips > 0) ? 0 : twips > kTrack.width ? static_cast<float>(kTrack.width) : twips;
  InvalidateTwips(kFill.left, kFill.top - 30, kTrack.width + 60, kFill.height + 60);
}

void DownloadWindow::SetStatus(const std::u16string& text) {
  status_ = text;
  InvalidateTwips(kStatus.left, kStatus.top, kWindowW - kStatus.left, kStatus.height + 60);
}

void DownloadWindow::ShowBrowserButton() {
  browserVisible_ = true;
  InvalidateTwips(kButton.left, kButton.top, kButton.width, kButton.height);
}

void DownloadWindow::Hide() { ShowWindow(wnd_, SW_HIDE); }

void DownloadWindow::ShowMessage(const std::u16string& text, const std::u16string& title) {
  const ModalLoop modal;
  MessageBoxW(wnd_, W(text), W(title), MB_OK | MB_ICONINFORMATION);
}

DownloadWindow::Zone DownloadWindow::HitTest(int x, int y) const {
  if (browserVisible_ && Inside(Twips(kButton), x, y)) return Zone::Browser;
  if (Inside(Twips(kMinimise), x, y)) return Zone::Minimise;
  if (Inside(Twips(kClose), x, y)) return Zone::Close;
  // Labels and the bar take the press themselves: they do not drag.
  if ((titleVisible_ && Inside(Twips(titleLeftTwips_, kTitleTop, kTitleW, kTitleH), x, y)) ||
      Inside(Twips(kStatus), x, y) || Inside(Twips(kTrack), x, y) ||
      Inside(Twips(kFill.left, kFill.top, static_cast<int>(fillTwips_), kFill.height), x, y))
    return Zone::Label;
  return Zone::Surface;
}

void DownloadWindow::OnButtonDown(int x, int y) {
  pressed_ = HitTest(x, y);
  if (pressed_ == Zone::Surface && !IsIconic(wnd_) && !IsZoomed(wnd_)) {
    pressed_ = Zone::None;
    // Let the system move the window as if its caption had been grabbed.
    ReleaseCapture();
    const ModalLoop modal;  // the system's move loop runs inside this call
    SendMessageW(wnd_, WM_NCLBUTTONDOWN, HTCAPTION, 0);
    return;
  }
  if (pressed_ != Zone::None) SetCapture(wnd_);
}

void DownloadWindow::OnButtonUp(int x, int y) {
  const Zone pressed = pressed_;
  pressed_ = Zone::None;
  if (GetCapture() == wnd_) ReleaseCapture();
  if (pressed != HitTest(x, y)) return;  // a click is a press and release on the same zone
  switch (pressed) {
    case Zone::Minimise:
      ShowWindow(wnd_, SW_MINIMIZE);
      break;
    case Zone::Close:
      if (controller_) controller_->Image3_Click();
      break;
    case Zone::Browser:
      if (controller_) controller_->Image4_Click();
      break;
    default:
      break;
  }
}

void DownloadWindow::OnTimer(UINT_PTR id) {
  if (id != kStartTimer) return;
  // A message box or the move loop is open (the close zone was clicked in
  // the first half second): the flow must not start inside it, where its
  // progress would take the box's keyboard. The timer stays armed and the
  // flow starts at the first tick after the loop has ended.
  if (ModalLoop::Depth() > 0) return;
  KillTimer(wnd_, kStartTimer);  // the start timer fires once
  if (controller_) controller_->Timer1_Timer();
}

void DownloadWindow::OnPaint() {
  PAINTSTRUCT ps;
  const HDC dc = BeginPaint(wnd_, &ps);
  if (!dc) {
    ValidateRect(wnd_, nullptr);  // or the system would ask again at once, forever
    return;
  }
  RECT client;
  GetClientRect(wnd_, &client);
  // Drawn off screen and copied in one go, so the window never flickers;
  // without the memory DC or its bitmap it is drawn on the screen directly.
  const UniqueDC mem(CreateCompatibleDC(dc));
  const UniqueBitmap canvas(mem ? CreateCompatibleBitmap(dc, client.right, client.bottom) : nullptr);
  if (mem && canvas) {
    const SelectGuard useCanvas(mem.get(), canvas.get());
    Draw(mem.get(), dc, client);
    BitBlt(dc, 0, 0, client.right, client.bottom, mem.get(), 0, 0, SRCCOPY);
  } else {
    Draw(dc, dc, client);
  }
  EndPaint(wnd_, &ps);
}

void DownloadWindow::Draw(HDC target, HDC screen, const RECT& client) {
  if (face_) {
    const UniqueDC faceDc(CreateCompatibleDC(screen));
    if (faceDc) {
      const SelectGuard useFace(faceDc.get(), face_.get());
      BitBlt(target, 0, 0, client.right, client.bottom, faceDc.get(), 0, 0, SRCCOPY);
    }
  }
  const int scale = dpi_ * 100 / 96;
  DrawMinimiseSymbol(target, Twips(kMinimise), scale);
  DrawCloseSymbol(target, Twips(kClose), scale);

  const BkModeGuard transparent(target, TRANSPARENT);
  SetTextColor(target, RGB(255, 255, 255));
  if (titleVisible_) {
    const SelectGuard useFont(target, titleFont_.get());
    RECT r = Twips(0, kTitleTop, kWindowW, kTitleH + 120);
    DrawTextW(target, W(title_), -1, &r, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
  DrawBar(target, Twips(kTrack), Px(kFill.left), Px(fillTwips_));
  if (!status_.empty()) {
    const SelectGuard useFont(target, statusFont_.get());
    // The status line may run past its label's box up to the window's edge.
    RECT r = Twips(kStatus.left, kStatus.top, kWindowW - kStatus.left - 200, kStatus.height + 60);
    DrawTextW(target, W(status_), -1, &r, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
  if (browserVisible_) DrawBrowserButton(target, Twips(kButton), buttonFont_.get());
}

// The hidden application window: a close request for it ends the program too.
LRESULT CALLBACK DownloadWindow::AppProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  DownloadWindow* self = Bound<DownloadWindow>(wnd, msg, lp);
  if (self && msg == WM_CLOSE) return self->OnClose();
  if (self && msg == WM_ENDSESSION) return self->OnEndSession(wp);
  return DefWindowProcW(wnd, msg, wp, lp);
}

// The download window; its object learns the window's handle at WM_NCCREATE.
LRESULT CALLBACK DownloadWindow::Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  DownloadWindow* self = Bound<DownloadWindow>(wnd, msg, lp);
  if (msg == WM_NCCREATE && self) self->wnd_ = wnd;
  if (!self) return DefWindowProcW(wnd, msg, wp, lp);
  return self->OnMessage(msg, wp, lp);
}

LRESULT DownloadWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  const int x = static_cast<short>(LOWORD(lp)), y = static_cast<short>(HIWORD(lp));
  switch (msg) {
    case WM_PAINT: OnPaint(); return 0;
    case WM_ERASEBKGND: return 1;  // the paint covers every pixel
    case WM_LBUTTONDOWN: OnButtonDown(x, y); return 0;
    case WM_LBUTTONUP: OnButtonUp(x, y); return 0;
    case WM_TIMER: OnTimer(wp); return 0;
    // Any close request from the system ends the program at once, even mid-download.
    case WM_CLOSE: return OnClose();
    case WM_ENDSESSION: return OnEndSession(wp);
    default: return DefWindowProcW(wnd_, msg, wp, lp);
  }
}

LRESULT DownloadWindow::OnClose() {
  end_();
  return 0;
}

LRESULT DownloadWindow::OnEndSession(WPARAM ending) {
  if (ending) end_();
  return 0;
}

}  // namespace stub
