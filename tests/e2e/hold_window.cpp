// Test helper: holds a top-level window with the given title for a while, so
// the stub's window searches have something to find.
//
//   hold-window.exe TITLE SECONDS [visible]
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const DWORD ms = static_cast<DWORD>(_wtoi(argv[2])) * 1000;
  const bool visible = argc > 3;
  HWND wnd = CreateWindowExW(0, L"STATIC", argv[1], WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0),
                             10, 10, 300, 120, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!wnd) return 1;
  const DWORD end = GetTickCount() + ms;
  for (DWORD now; (now = GetTickCount()) < end;) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  return 0;
}
