#include "base/system_dll_win.h"

namespace stub {
namespace {

NetLibraries g_net;

}  // namespace

void RestrictDllSearch() {
  // Windows 7 with KB2533623, and every later version: the system folder only.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  SetDefaultDllDirectoriesFn setDefault;
  if (FindProc(GetModuleHandleW(L"kernel32"), "SetDefaultDllDirectories", setDefault) &&
      setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
    return;
  SetDllDirectoryW(L"");  // older systems: not the current folder
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

bool LoadNetLibraries() {
  const HMODULE inet = LoadSystemLibrary(L"wininet.dll"), url = LoadSystemLibrary(L"urlmon.dll");
  NetLibraries& n = g_net;
#define STUB_FIND(module, function) FindProc(module, #function, n.function)
  return inet && url && STUB_FIND(inet, InternetOpenW) && STUB_FIND(inet, InternetConnectW) &&
         STUB_FIND(inet, InternetCrackUrlW) && STUB_FIND(inet, InternetCombineUrlW) &&
         STUB_FIND(inet, InternetSetOptionW) &&
         STUB_FIND(inet, InternetReadFile) && STUB_FIND(inet, InternetCloseHandle) &&
         STUB_FIND(inet, HttpOpenRequestW) && STUB_FIND(inet, HttpSendRequestW) &&
         STUB_FIND(inet, HttpQueryInfoW) && STUB_FIND(url, URLDownloadToFileW);
#undef STUB_FIND
}

const NetLibraries& Net() { return g_net; }

}  // namespace stub
