// The process-wide run state and the thread's message pump.
#include "app/app_win.h"

namespace stub {

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
