// The process-wide run state and the thread's message pump.
#include "app/app_win.h"

namespace stub {

RunState& State() {
  static RunState state;
  return state;
}

void PumpWindowMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace stub
