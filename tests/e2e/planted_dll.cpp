// A library planted beside a program under the name of a system library. If
// it is ever loaded, it leaves NAME.loaded beside itself and ends the process
// with exit code 77.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t path[MAX_PATH + 8];
    const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    lstrcpyW(path + n, L".loaded");
    CloseHandle(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ExitProcess(77);
  }
  return TRUE;
}
