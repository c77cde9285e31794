// Test entry for programs run under Wine: failures must print, never open a
// dialog that would hang a headless run.
#include <stdlib.h>
#include <cstdio>
#include <windows.h>

#include <gtest/gtest.h>

#include "base/system_dll_win.h"

int main(int argc, char** argv) {
  _set_error_mode(_OUT_TO_STDERR);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  if (!stub::LoadNetLibraries()) {
    std::fputs("the HTTP and URL download libraries are not in the system folder\n", stderr);
    return 4;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
