// Test helper run under Wine beside the stub: finds windows by exact title, acts on them as a user or the system would.
//   hold TITLE SECONDS [show]  hold a window with that title (shown on top with "show")
//   wait TITLE SECONDS         exit 0 once such a window exists, 1 on time-out
//   close TITLE                post a close request (as Alt+F4 does)
//   click TITLE X Y            left click at client pixel X,Y
//   enter TITLE SECONDS        press Enter on the dialog's OK button; exit 0 when it is gone in time
//   ping TITLE SECONDS         exit 0 when the window answers a message in time
//   info TITLE                 print "visible left top right bottom extended-style" of it, then of each window it owns
//   lock PATH SECONDS          hold a file open with no sharing at all (prints "held" once it does)
//   grab PATH SECONDS          open PATH for writing as soon as it can (sharing everything), hold it
#include <windows.h>

#include <cstdio>
#include <cwchar>

// Prints `wnd` when `owner` is 0 or owns it.
static BOOL CALLBACK Print(HWND wnd, LPARAM owner) {
  if (owner && GetWindow(wnd, GW_OWNER) != reinterpret_cast<HWND>(owner)) return TRUE;
  RECT r;
  GetWindowRect(wnd, &r);
  std::printf("%d %ld %ld %ld %ld %ld\n", IsWindowVisible(wnd) ? 1 : 0, static_cast<long>(r.left),
              static_cast<long>(r.top), static_cast<long>(r.right), static_cast<long>(r.bottom),
              static_cast<long>(GetWindowLongW(wnd, GWL_EXSTYLE)));
  return TRUE;
}

int wmain(int argc, wchar_t** argv) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  if (argc < 3) return 2;
  const wchar_t* cmd = argv[1];
  const wchar_t* arg = argv[2];
  const int n = argc > 3 ? _wtoi(argv[3]) : 0;
  const DWORD end = GetTickCount() + static_cast<DWORD>(n) * 1000;
  if (!wcscmp(cmd, L"hold")) {
    // "app": hidden, of the stub's application window class; anything else: shown.
    const bool app = argc > 4 && !wcscmp(argv[4], L"app"), show = argc > 4 && !app;
    WNDCLASSW appClass = {};
    appClass.lpfnWndProc = DefWindowProcW;
    appClass.hInstance = GetModuleHandleW(nullptr);
    appClass.lpszClassName = L"KorvelSetupApp";
    if (app && !RegisterClassW(&appClass)) return 1;
    HWND wnd = CreateWindowExW(0, app ? L"KorvelSetupApp" : L"STATIC", arg, WS_POPUP | (show ? WS_VISIBLE : 0), 150,
                               150, show ? 700 : 10, show ? 500 : 10, nullptr, nullptr, GetModuleHandleW(nullptr),
                               nullptr);
    if (!wnd) return 1;
    if (show) SetForegroundWindow(wnd);
    for (DWORD now; (now = GetTickCount()) < end;) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    return 0;
  }
  if (!wcscmp(cmd, L"load")) return LoadLibraryW(arg) ? 0 : 1;  // by name, as the loader searches
  if (!wcscmp(cmd, L"wait")) {
    while (!FindWindowW(nullptr, arg) && GetTickCount() < end) Sleep(50);
    return FindWindowW(nullptr, arg) ? 0 : 1;
  }
  if (!wcscmp(cmd, L"lock") || !wcscmp(cmd, L"grab")) {
    const bool grab = cmd[0] == L'g';
    HANDLE f;
    do {
      f = CreateFileW(arg, GENERIC_READ | GENERIC_WRITE, grab ? 7 : 0, nullptr, grab ? OPEN_EXISTING : OPEN_ALWAYS,
                      0, nullptr);
    } while (grab && f == INVALID_HANDLE_VALUE && GetTickCount() < end && (Sleep(10), true));
    if (f == INVALID_HANDLE_VALUE) return 1;
    std::puts("held");
    std::fflush(stdout);
    for (DWORD now; (now = GetTickCount()) < end;) Sleep(end - now);
    return CloseHandle(f) ? 0 : 1;
  }
  if (!wcscmp(cmd, L"clickfirst") && argc > 5) {  // a click the moment the window is on screen
    HWND w = nullptr;
    while (!((w = FindWindowW(nullptr, arg)) && IsWindowVisible(w)) && GetTickCount() < end) Sleep(5);
    if (!w || !IsWindowVisible(w)) return 3;
    const LPARAM at = MAKELPARAM(_wtoi(argv[4]), _wtoi(argv[5]));
    PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, at);
    return PostMessageW(w, WM_LBUTTONUP, 0, at) ? 0 : 1;
  }
  HWND wnd = FindWindowW(nullptr, arg);
  if (!wnd) return 3;
  if (!wcscmp(cmd, L"close")) return PostMessageW(wnd, WM_CLOSE, 0, 0) ? 0 : 1;
  if (!wcscmp(cmd, L"click") && argc > 4) {
    PostMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(n, _wtoi(argv[4])));
    return PostMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(n, _wtoi(argv[4]))) ? 0 : 1;
  }
  if (!wcscmp(cmd, L"info")) return Print(wnd, 0) && EnumWindows(Print, reinterpret_cast<LPARAM>(wnd)) ? 0 : 1;
  if (!wcscmp(cmd, L"enter")) {
    // Keys go to the control with the focus, in a message box its button; the dialog turns Enter into OK.
    HWND target = GetDlgItem(wnd, IDOK) ? GetDlgItem(wnd, IDOK) : wnd;
    PostMessageW(target, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageW(target, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001u));
    while (IsWindow(wnd) && GetTickCount() < end) Sleep(10);
    return IsWindow(wnd) ? 1 : 0;
  }
  DWORD_PTR result;
  if (!wcscmp(cmd, L"ping")) return SendMessageTimeoutW(wnd, WM_NULL, 0, 0, SMTO_NORMAL, n * 1000, &result) ? 0 : 1;
  return 2;
}
