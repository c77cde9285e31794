// A stand-in installer for tests and the demo. When started it leaves a
// record that it ran ("<its own path>.ran") and shows, for a few seconds, a
// window titled as the installer the server announces: NISITitle, a space,
// NISIVer, then "  安装 ". Built as sample-installer-error.exe it shows the
// installer's error box title "NSIS Error" instead.
#include <windows.h>

#include <string>

#ifndef SAMPLE_TITLE
#define SAMPLE_TITLE L"Korvel"
#endif
#ifndef SAMPLE_VERSION
#define SAMPLE_VERSION L"3.1.1"
#endif

namespace {

LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(wnd, &ps);
    RECT r;
    GetClientRect(wnd, &r);
    HFONT font = CreateFontW(-20, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0,
                             CLEARTYPE_QUALITY, 0, L"微软雅黑");
    HGDIOBJ old = SelectObject(dc, font);
    wchar_t text[256];
    GetWindowTextW(wnd, text, 256);
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, text, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, old);
    DeleteObject(font);
    EndPaint(wnd, &ps);
    return 0;
  }
  return DefWindowProcW(wnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH + 8] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) {
    std::wstring record = std::wstring(path, n) + L".ran";
    HANDLE f = CreateFileW(record.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      DWORD written;
      WriteFile(f, "ran\r\n", 5, &written, nullptr);
      CloseHandle(f);
    }
  }
#ifdef SAMPLE_ERROR
  const std::wstring title = L"NSIS Error";
#else
  const std::wstring title = std::wstring(SAMPLE_TITLE) + L" " + SAMPLE_VERSION + L"  安装 ";
#endif
  WNDCLASSW wc = {};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"SampleInstaller";
  RegisterClassW(&wc);
  HWND wnd = CreateWindowExW(0, L"SampleInstaller", title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                             CW_USEDEFAULT, CW_USEDEFAULT, 420, 240, nullptr, nullptr, instance,
                             nullptr);
  const DWORD end = GetTickCount() + 6000;
  for (DWORD now; wnd && (now = GetTickCount()) < end;) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  return 0;
}
