// Entry point: the fixed start-up sequence of the setup program.
#include <objbase.h>

#include "app/app_win.h"
#include "app/defaults.h"
#include "base/pump.h"
#include "base/system_dll_win.h"
#include "build_settings.h"
#include "decor/shadow_face_win.h"
#include "download/controller.h"
#include "download/engine_win.h"
#include "download/platform_win.h"
#include "download/window_win.h"
#include "net/net_win.h"
#include "profile/profile_win.h"

namespace stub {
namespace {

DownloadWindow* g_window = nullptr;

// Closes the windows, lets queued reports leave (for at most 2 s) and ends
// the process. The download window and the shell are handed this function.
[[noreturn]] void CloseAll() {
  static bool closing = false;
  if (!closing) {
    closing = true;
    // Unload the windows; their handlers do not call back in here.
    if (g_window) g_window->Destroy();
    // Then the shadow: its subclassing ends and what is left of its windows
    // (nothing, once they went with the form) is destroyed.
    ReleaseFormShadow();
  }
  FlushReports(2000);
  ExitProcess(0);
}

void Main() {
  RunState& s = State();
  GetOSInfo(s);
  const std::u16string exePath = ModulePath();
  LoadDefaults(s, BuiltInSettings(), ExeBaseName(exePath), GetPcId);
  GetNet(s);

  // A second instance brings the first forward and ends. Nothing more is
  // sent, but reports already queued (the information request's fallback
  // report) still get their chance to leave through CloseAll's flush.
  if (IsPrevInstance(exePath) || IsWindowOpen(s.SetupName) == u"1") {
    ActivateWindow(s.SetupName);
    CloseAll();
  }
  SendReport(u"Setup", u"one");

  // The download window and what its controller works through; they live
  // until the process ends.
  static DownloadWindow window(CloseAll);
  std::u16string error;
  if (!window.Create()) {
    error = u"cannot create the download window";
  } else {
    static WinClock clock;
    static WinWaiter waiter;
    static WinFileSystem files;
    static URLDownFile engine(settings::kStallSeconds);
    static WinShell shell(window.hwnd(), &files, CloseAll);
    static DownloadController controller(s, clock, waiter, files, engine, window, shell);
    window.SetController(&controller);
    g_window = &window;
    const std::u16string loadError = window.Form_Load1(s);
    if (!loadError.empty()) SendReport(u"Setup", u"Err-" + loadError + u"-frmDown");
    if (!window.Show()) error = u"cannot show the download window";
  }
  if (!error.empty()) SendReport(u"Setup", u"Err-" + error + u"-Main");
  if (!g_window) CloseAll();

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  CloseAll();
}

}  // namespace
}  // namespace stub

// The stall limit becomes milliseconds in a 32-bit count.
static_assert(stub::settings::kStallSeconds >= 1 && stub::settings::kStallSeconds <= 86400,
              "STUB_STALL_SECONDS must be 1 to 86400");

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Before anything loads a library: nothing is taken from beside the
  // program. Without the system's HTTP and download libraries nothing can be
  // fetched or reported, so the program ends at once.
  stub::RestrictDllSearch();
  if (!stub::LoadNetLibraries()) return 1;
  // Probing D:\ on a card reader without a card must fail quietly instead
  // of showing the system's "No Disk" box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // The machine identifier (WMI) and later the URL download need COM on
  // this thread; without it they simply find nothing.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  stub::SetMessagePump(stub::PumpWindowMessages);
  stub::Main();
  return 0;
}
