// Where the stub's libraries come from. The stub runs from wherever the user
// saved it, usually a downloads folder that other programs and pages write
// to, so a DLL beside it must never be loaded in place of the system's.
//
// The import table names only libraries on Windows' known-DLLs list, which
// the loader always takes from the system folder (the build checks this).
// The others are loaded here by their full path in the system folder, and
// called through the pointers below.
#pragma once

#include <windows.h>
#include <wininet.h>
#include <urlmon.h>

namespace stub {

// Called first: later loads by name (the system's own, say) look in the
// system folder only, or on systems without that choice at least not in the
// current folder.
void RestrictDllSearch();

// The function `name` of `module` as F, or null; true when it was found.
template <typename F>
bool FindProc(HMODULE module, const char* name, F& out) {
  out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return out != nullptr;
}

// A library of the system folder, loaded from there only: never from the
// program's own folder, where a download may have put a file of that name.
// Null when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name);

// The HTTP and URL download functions.
struct NetLibraries {
  decltype(&::InternetOpenW) InternetOpenW;
  decltype(&::InternetConnectW) InternetConnectW;
  decltype(&::InternetCrackUrlW) InternetCrackUrlW;
  decltype(&::InternetCombineUrlW) InternetCombineUrlW;
  decltype(&::InternetSetOptionW) InternetSetOptionW;
  decltype(&::InternetReadFile) InternetReadFile;
  decltype(&::InternetCloseHandle) InternetCloseHandle;
  decltype(&::HttpOpenRequestW) HttpOpenRequestW;
  decltype(&::HttpSendRequestW) HttpSendRequestW;
  decltype(&::HttpQueryInfoW) HttpQueryInfoW;
  decltype(&::URLDownloadToFileW) URLDownloadToFileW;
};

// Loads them; call once at start, before any other thread runs. False when
// a library or a function is missing (the program cannot work then).
bool LoadNetLibraries();
const NetLibraries& Net();

}  // namespace stub
