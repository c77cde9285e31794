// The two single-instance checks and the activation of the first instance.
#include "app/app_win.h"
#include "base/text.h"
#include "codec/md5.h"

namespace stub {

bool IsPrevInstance(const std::u16string& exePath) {
  // Paths compare case-insensitively on Windows and may hold characters a
  // kernel object name cannot, so the name carries the digest of the
  // upper-cased path instead.
  const std::u16string upper = ToUpper(exePath);
  const std::u16string name =
      u"Local\\KorvelSetup-" + MD5Text(upper.data(), upper.size() * sizeof(char16_t));
  // Deliberately never closed: the mutex marks this process until it ends.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, W(name));
  return mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
}

std::u16string IsWindowOpen(const std::u16string& setupName) {
  if (setupName.empty()) return {};
  return FindWindowW(nullptr, W(setupName)) ? u"1" : u"";
}

void ActivateWindow(const std::u16string& setupName) {
  // An empty title would find any untitled window, not the first instance's.
  if (setupName.empty()) return;
  // The title comes from the server's reply, so not every window it names is
  // brought forward: only one of another process that is on screen, or that
  // is another instance's application window (hidden, it owns that
  // instance's download window). A window of this process, or a hidden one
  // of another program, is never shown or pinned on top.
  for (HWND wnd = nullptr; (wnd = FindWindowExW(nullptr, wnd, nullptr, W(setupName))) != nullptr;) {
    DWORD process = 0;
    GetWindowThreadProcessId(wnd, &process);
    wchar_t kind[32];
    const bool app = GetClassNameW(wnd, kind, 32) && lstrcmpW(kind, kAppWindowClass) == 0;
    if (process == GetCurrentProcessId() || !(app || IsWindowVisible(wnd))) continue;
    // Failures are ignored: activation is a courtesy to the user.
    SetWindowPos(wnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    ShowWindow(wnd, SW_SHOWNORMAL);
    return;
  }
}

}  // namespace stub
