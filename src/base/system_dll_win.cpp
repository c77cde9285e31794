#include "base/system_dll_win.h"

namespace stub {
namespace {

NetLibraries g_net;

template <typename F>
bool Find(HMODULE module, const char* name, F& out) {
  out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return out != nullptr;
}

}  // namespace

void RestrictDllSearch() {
  // Windows 7 with KB2533623, and every later version: the system folder only.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  SetDefaultDllDirectoriesFn setDefault;
  if (Find(GetModuleHandleW(L"kernel32"), "SetDefaultDllDirectories", setDefault) &&
      setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
    return;
  SetDllDirectoryW(L"");  // older systems: not the current folder
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  wchar_t path[MAX_PATH + 32];
  UINT n = GetSystemDirectoryW(path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  path[n++] = L'\\';
  for (; *name && n < MAX_PATH + 31; ++name) path[n++] = *name;
  path[n] = 0;
  return LoadLibraryW(path);  // a full path: no folder is searched
}

bool LoadNetLibraries() {
  const HMODULE inet = LoadSystemLibrary(L"wininet.dll"), url = LoadSystemLibrary(L"urlmon.dll");
  NetLibraries& n = g_net;
#define STUB_FIND(module, function) Find(module, #function, n.function)
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
