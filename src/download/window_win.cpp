#include "download/window_win.h"

#include "base/shell_win.h"
#include "base/text.h"
#include "decor/shadow_face_win.h"
#include "download/controller.h"
#include "download/face_win.h"
#include "net/net_win.h"

namespace stub {
namespace {

constexpr wchar_t kAppClass[] = L"KorvelSetupApp";
constexpr wchar_t kFormClass[] = L"KorvelSetupDown";
constexpr UINT_PTR kStartTimer = 1;

// The window and its controls in twips (15 twips = 1 pixel at 96 DPI).
constexpr int kWindowW = 8985, kWindowH = 5700;
constexpr RECT kStatus = {795, 5160, 2205, 330};        // labdown1
constexpr RECT kFill = {765, 4935, 7470, 195};          // pic2 (left, top, full width, height)
constexpr RECT kTrack = {780, 4935, 7470, 195};         // pic1
constexpr int kTitleTop = 795, kTitleW = 7020, kTitleH = 555;  // Label1
constexpr RECT kMinimise = {8145, 30, 375, 345};        // Image1
constexpr RECT kClose = {8610, 45, 345, 360};           // Image3
constexpr int kButtonLeft = 7020, kButtonTop = 4455, kButtonW = 1245, kButtonH = 435;  // Image4

bool Inside(const RECT& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

HFONT MakeFont(const wchar_t* face, int tenthsPt, int dpi) {
  return CreateFontW(-MulDiv(tenthsPt, dpi, 720), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                     GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, face);
}

void RegisterClasses(HINSTANCE instance, WNDPROC proc) {
  static bool done = false;
  if (done) return;
  done = true;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  wc.lpszClassName = kFormClass;
  RegisterClassExW(&wc);
  wc.lpszClassName = kAppClass;
  RegisterClassExW(&wc);
}

}  // namespace

DownloadWindow::~DownloadWindow() {
  Destroy();
  for (HGDIOBJ o : {static_cast<HGDIOBJ>(face_), static_cast<HGDIOBJ>(titleFont_),
                    static_cast<HGDIOBJ>(statusFont_), static_cast<HGDIOBJ>(buttonFont_)})
    if (o) DeleteObject(o);
}

bool DownloadWindow::Create() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterClasses(instance, Proc);
  HDC screen = GetDC(nullptr);
  dpi_ = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  if (dpi_ <= 0) dpi_ = 96;

  // The hidden application window stands for the program to the system; the
  // single-instance check of a second start looks for it by title.
  app_ = CreateWindowExW(0, kAppClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, this);
  if (!app_) return false;
  wnd_ = CreateWindowExW(WS_EX_APPWINDOW, kFormClass, L"", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX,
                         0, 0, Px(kWindowW), Px(kWindowH), app_, nullptr, instance, this);
  if (!wnd_) return false;
  titleFont_ = MakeFont(L"幼圆", 278, dpi_);
  statusFont_ = MakeFont(L"微软雅黑", 120, dpi_);
  buttonFont_ = MakeFont(L"微软雅黑", 90, dpi_);
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
  face_ = DrawFace(Px(kWindowW), Px(kWindowH));
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

void DownloadWindow::InvalidateTwips(int left, int top, int width, int height) {
  const RECT r = Twips(left, top, width, height);
  InvalidateRect(wnd_, &r, FALSE);
}

void DownloadWindow::SetFillWidth(float twips) {
  // Kept within the track (NaN too), so painting and hit-testing the fill
  // never cost more than the track or overflow a pixel count.
  fillTwips_ = !(twips > 0) ? 0 : twips > kTrack.right ? static_cast<float>(kTrack.right) : twips;
  InvalidateTwips(kFill.left, kFill.top - 30, kTrack.right + 60, kFill.bottom + 60);
}

void DownloadWindow::SetStatus(const std::u16string& text) {
  status_ = text;
  InvalidateTwips(kStatus.left, kStatus.top, kWindowW - kStatus.left, kStatus.bottom + 60);
}

void DownloadWindow::ShowBrowserButton() {
  browserVisible_ = true;
  InvalidateTwips(kButtonLeft, kButtonTop, kButtonW, kButtonH);
}

void DownloadWindow::Hide() { ShowWindow(wnd_, SW_HIDE); }

void DownloadWindow::ShowMessage(const std::u16string& text, const std::u16string& title) {
  const ModalLoop modal;
  MessageBoxW(wnd_, W(text), W(title), MB_OK | MB_ICONINFORMATION);
}

DownloadWindow::Zone DownloadWindow::HitTest(int x, int y) const {
  if (browserVisible_ && Inside(Twips(kButtonLeft, kButtonTop, kButtonW, kButtonH), x, y))
    return Zone::Browser;
  if (Inside(Twips(kMinimise.left, kMinimise.top, kMinimise.right, kMinimise.bottom), x, y))
    return Zone::Minimise;
  if (Inside(Twips(kClose.left, kClose.top, kClose.right, kClose.bottom), x, y)) return Zone::Close;
  // Labels and the bar take the press themselves: they do not drag.
  if ((titleVisible_ && Inside(Twips(titleLeftTwips_, kTitleTop, kTitleW, kTitleH), x, y)) ||
      Inside(Twips(kStatus.left, kStatus.top, kStatus.right, kStatus.bottom), x, y) ||
      Inside(Twips(kTrack.left, kTrack.top, kTrack.right, kTrack.bottom), x, y) ||
      Inside(Twips(kFill.left, kFill.top, static_cast<int>(fillTwips_), kFill.bottom), x, y))
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

void DownloadWindow::OnTimer() {
  KillTimer(wnd_, kStartTimer);  // the start timer fires once
  if (controller_) controller_->Timer1_Timer();
}

void DownloadWindow::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(wnd_, &ps);
  RECT client;
  GetClientRect(wnd_, &client);
  HDC mem = CreateCompatibleDC(dc);
  HBITMAP canvas = CreateCompatibleBitmap(dc, client.right, client.bottom);
  HGDIOBJ oldCanvas = SelectObject(mem, canvas);

  if (face_) {
    HDC faceDc = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(faceDc, face_);
    BitBlt(mem, 0, 0, client.right, client.bottom, faceDc, 0, 0, SRCCOPY);
    SelectObject(faceDc, old);
    DeleteDC(faceDc);
  }
  const int scale = dpi_ * 100 / 96;
  DrawMinimiseSymbol(mem, Twips(kMinimise.left, kMinimise.top, kMinimise.right, kMinimise.bottom), scale);
  DrawCloseSymbol(mem, Twips(kClose.left, kClose.top, kClose.right, kClose.bottom), scale);

  SetBkMode(mem, TRANSPARENT);
  SetTextColor(mem, RGB(255, 255, 255));
  if (titleVisible_) {
    HGDIOBJ old = SelectObject(mem, titleFont_);
    RECT r = Twips(0, kTitleTop, kWindowW, kTitleH + 120);
    DrawTextW(mem, W(title_), -1, &r, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(mem, old);
  }
  const RECT track = Twips(kTrack.left, kTrack.top, kTrack.right, kTrack.bottom);
  DrawBar(mem, track, Px(kFill.left), Px(fillTwips_));
  if (!status_.empty()) {
    HGDIOBJ old = SelectObject(mem, statusFont_);
    // The status line may run past its label's box up to the window's edge.
    RECT r = Twips(kStatus.left, kStatus.top, kWindowW - kStatus.left - 200, kStatus.bottom + 60);
    DrawTextW(mem, W(status_), -1, &r, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(mem, old);
  }
  if (browserVisible_)
    DrawBrowserButton(mem, Twips(kButtonLeft, kButtonTop, kButtonW, kButtonH), buttonFont_);

  BitBlt(dc, 0, 0, client.right, client.bottom, mem, 0, 0, SRCCOPY);
  SelectObject(mem, oldCanvas);
  DeleteObject(canvas);
  DeleteDC(mem);
  EndPaint(wnd_, &ps);
}

LRESULT CALLBACK DownloadWindow::Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<DownloadWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<DownloadWindow*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  if (msg == WM_NCDESTROY) SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
  if (self && wnd == self->wnd_) return self->OnMessage(msg, wp, lp);
  // The application window: a close request for it ends the program too.
  if (self && wnd == self->app_ && (msg == WM_CLOSE || (msg == WM_ENDSESSION && wp))) CloseAll();
  return DefWindowProcW(wnd, msg, wp, lp);
}

LRESULT DownloadWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: OnPaint(); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_LBUTTONDOWN: OnButtonDown(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))); return 0;
    case WM_LBUTTONUP: OnButtonUp(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))); return 0;
    case WM_TIMER: if (wp == kStartTimer) OnTimer(); return 0;
    // Any close request from the system ends the program at once, even mid-download.
    case WM_CLOSE: CloseAll();
    case WM_ENDSESSION: if (wp) CloseAll(); return 0;
    default: return DefWindowProcW(wnd_, msg, wp, lp);
  }
}

}  // namespace stub
