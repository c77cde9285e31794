// The process-wide run state, the program's path and the thread's message pump.
#include "base/shell_win.h"

namespace stub {

std::u16string ModulePath() {
  std::u16string path(MAX_PATH, u'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(&path[0]),
                                       static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  HMODULE dll = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (dll || GetLastError() != ERROR_INVALID_PARAMETER) return dll;
  // Systems without the search flags (Windows 7 before KB2533623, Vista, XP)
  // take the full path; the library's own dependencies are then looked for
  // beside it first.
  wchar_t path[MAX_PATH + 16];
  const UINT n = GetSystemDirectoryW(path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH || lstrlenW(name) > 14) return nullptr;
  path[n] = L'\\';
  lstrcpyW(path + n + 1, name);
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

RunState& State() {
  static RunState state;
  return state;
}

namespace {
int g_modalDepth = 0;  // the window's thread only
}  // namespace

ModalLoop::ModalLoop() { ++g_modalDepth; }
ModalLoop::~ModalLoop() { --g_modalDepth; }
int ModalLoop::Depth() { return g_modalDepth; }

void PumpWindowMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace stub
