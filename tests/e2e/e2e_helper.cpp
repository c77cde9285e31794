// Test helper run under Wine beside the stub: finds windows by exact title
// and acts on them the way a user or the system would.
//
//   e2e-helper hold TITLE SECONDS [show] hold a window with that title (shown on top with "show")
//   e2e-helper above TITLE OTHER         exit 0 when TITLE is above OTHER in the z-order
//   e2e-helper wait TITLE SECONDS        exit 0 once such a window exists, 1 on time-out
//   e2e-helper gone TITLE SECONDS        exit 0 once no such window exists, 1 on time-out
//   e2e-helper close TITLE               post a close request (as Alt+F4 does)
//   e2e-helper click TITLE X Y           left click at client pixel X,Y
//   e2e-helper enter TITLE MS            press Enter on the dialog's OK button; exit 0 when the
//                                        window is gone within MS, printing the milliseconds
//   e2e-helper ping TITLE MS             exit 0 when the window answers a message within MS
//   e2e-helper info TITLE                print "visible topmost left top right bottom"
//   e2e-helper owned TITLE               print the windows owned by it: visible, rect, ex-style
//   e2e-helper lock PATH SECONDS         hold a file open with no sharing at all
//   e2e-helper grab PATH SECONDS         open PATH for writing as soon as it exists and can be
//                                        opened (others may still read and write), hold it
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

HWND Find(const wchar_t* title) { return FindWindowW(nullptr, title); }

bool WaitFor(const wchar_t* title, int seconds, bool present) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
  do {
    if ((Find(title) != nullptr) == present) return true;
    Sleep(50);
  } while (GetTickCount() < end);
  return false;
}

int Hold(const wchar_t* title, int seconds, bool show) {
  HWND wnd = CreateWindowExW(0, L"STATIC", title, WS_POPUP | (show ? WS_VISIBLE : 0), 150, 150,
                             show ? 700 : 10, show ? 500 : 10, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  if (!wnd) return 1;
  if (show) SetForegroundWindow(wnd);
  const DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
  for (DWORD now; (now = GetTickCount()) < end;) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  return 0;
}

struct Owned {
  HWND owner;
  int count;
};

BOOL CALLBACK ListOwned(HWND wnd, LPARAM param) {
  auto* o = reinterpret_cast<Owned*>(param);
  if (GetWindow(wnd, GW_OWNER) != o->owner || wnd == o->owner) return TRUE;
  RECT r;
  GetWindowRect(wnd, &r);
  std::printf("%d %d %d %d %d %ld\n", IsWindowVisible(wnd) ? 1 : 0, static_cast<int>(r.left),
              static_cast<int>(r.top), static_cast<int>(r.right), static_cast<int>(r.bottom),
              static_cast<long>(GetWindowLongW(wnd, GWL_EXSTYLE)));
  ++o->count;
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  if (argc < 3) return 2;
  const wchar_t* cmd = argv[1];
  const wchar_t* title = argv[2];
  const int n = argc > 3 ? _wtoi(argv[3]) : 0;
  if (!wcscmp(cmd, L"hold")) return Hold(title, n, argc > 4);
  if (!wcscmp(cmd, L"wait")) return WaitFor(title, n, true) ? 0 : 1;
  if (!wcscmp(cmd, L"gone")) return WaitFor(title, n, false) ? 0 : 1;
  if (!wcscmp(cmd, L"lock")) {
    HANDLE f = CreateFileW(title, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 1;
    Sleep(static_cast<DWORD>(n) * 1000);
    CloseHandle(f);
    return 0;
  }
  if (!wcscmp(cmd, L"grab")) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(n) * 1000;
    HANDLE f = INVALID_HANDLE_VALUE;
    while (f == INVALID_HANDLE_VALUE && GetTickCount() < end) {
      f = CreateFileW(title, GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                      0, nullptr);
      if (f == INVALID_HANDLE_VALUE) Sleep(10);
    }
    if (f == INVALID_HANDLE_VALUE) return 1;
    const DWORD now = GetTickCount();
    if (now < end) Sleep(end - now);
    CloseHandle(f);
    return 0;
  }
  HWND wnd = Find(title);
  if (!wnd) return 3;
  if (!wcscmp(cmd, L"close")) return PostMessageW(wnd, WM_CLOSE, 0, 0) ? 0 : 1;
  if (!wcscmp(cmd, L"enter")) {
    // Keys go to the control with the focus, which in a message box is its
    // button; the dialog's own loop turns Enter into OK.
    HWND target = GetDlgItem(wnd, IDOK);
    if (!target) target = wnd;
    const DWORD start = GetTickCount();
    PostMessageW(target, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageW(target, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001u));
    while (IsWindow(wnd) && GetTickCount() - start < static_cast<DWORD>(n)) Sleep(10);
    std::printf("%lu\n", static_cast<unsigned long>(GetTickCount() - start));
    return IsWindow(wnd) ? 1 : 0;
  }
  if (!wcscmp(cmd, L"click") && argc > 4) {
    const LPARAM at = MAKELPARAM(n, _wtoi(argv[4]));
    PostMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(wnd, WM_LBUTTONUP, 0, at);
    return 0;
  }
  if (!wcscmp(cmd, L"above") && argc > 3) {
    HWND other = Find(argv[3]);
    if (!other) return 3;
    for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
      if (w == wnd) return 0;
      if (w == other) return 1;
    }
    return 1;
  }
  if (!wcscmp(cmd, L"ping")) {
    DWORD_PTR result;
    const DWORD start = GetTickCount();
    const bool ok = SendMessageTimeoutW(wnd, WM_NULL, 0, 0, SMTO_NORMAL, n, &result) != 0;
    std::printf("%lu\n", static_cast<unsigned long>(GetTickCount() - start));
    return ok ? 0 : 1;
  }
  if (!wcscmp(cmd, L"info")) {
    RECT r;
    GetWindowRect(wnd, &r);
    std::printf("%d %d %d %d %d %d\n", IsWindowVisible(wnd) ? 1 : 0,
                (GetWindowLongW(wnd, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0, static_cast<int>(r.left),
                static_cast<int>(r.top), static_cast<int>(r.right), static_cast<int>(r.bottom));
    return 0;
  }
  if (!wcscmp(cmd, L"owned")) {
    Owned o{wnd, 0};
    EnumWindows(ListOwned, reinterpret_cast<LPARAM>(&o));
    return 0;
  }
  return 2;
}
