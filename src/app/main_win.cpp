// Entry point: the fixed start-up sequence of the setup program.
#include "app/app_win.h"
#include "app/defaults.h"
#include "app/pump.h"

namespace stub {

static void Main() {
  RunState& s = State();
  const std::u16string exePath = ModulePath();
  LoadDefaults(s, BuiltInSettings(), ExeBaseName(exePath), nullptr);

  if (IsPrevInstance(exePath) || IsWindowOpen(s.SetupName) == u"1") {
    ActivateWindow(s.SetupName);
    ExitProcess(0);
  }
  CloseAll();
}

[[noreturn]] void CloseAll() { ExitProcess(0); }

}  // namespace stub

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  stub::SetMessagePump(stub::PumpWindowMessages);
  stub::Main();
  return 0;
}
