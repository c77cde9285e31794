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
