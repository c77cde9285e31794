#include "profile/profile_win.h"

#include <windows.h>

#include "base/clock_win.h"
#include "base/text.h"
#include "profile/profile.h"

namespace stub {
namespace {

void GetOSVer(RunState& s) {
  OSVERSIONINFOW vi = {};
  vi.dwOSVersionInfoSize = sizeof vi;
  if (!GetVersionExW(&vi)) vi = {};  // a failed query names no version: "NotFind"
  s.OS = OsName(vi.dwMajorVersion, vi.dwMinorVersion);
}

void GetOSScr(RunState& s) {
  s.Scr = ScrText(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
}

void GetOSBit(RunState& s) {
  using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
  // Looked up at run time: older systems do not have it, and they are 32-bit.
  const auto isWow64 = reinterpret_cast<IsWow64Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "IsWow64Process")));
  BOOL wow = FALSE;
  const bool wow64 = isWow64 && isWow64(GetCurrentProcess(), &wow) && wow;
  s.OSBit = OsBitText(sizeof(void*) == 8, wow64);
}

void GetOSDPI(RunState& s) {
  HDC dc = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
  s.DPI = dc ? GetDeviceCaps(dc, LOGPIXELSX) : 0;
  if (dc) DeleteDC(dc);
}

void GetOSLanguage(RunState& s) { s.OSLanguage = DecimalText(GetSystemDefaultLCID()); }

}  // namespace

void GetOSInfo(RunState& s) {
  GetOSVer(s);
  GetOSScr(s);
  GetOSBit(s);
  GetOSDPI(s);
  GetOSLanguage(s);
  s.TimeID = TimeStamp(LocalNow());
}

}  // namespace stub
