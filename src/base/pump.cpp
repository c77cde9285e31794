#include "base/pump.h"

namespace stub {
namespace {
PumpFn g_pump = nullptr;
}

void SetMessagePump(PumpFn fn) { g_pump = fn; }

void PumpMessages() {
  if (g_pump) g_pump();
}

}  // namespace stub
