// Start-up checks of the Windows shell: single instance and window search.
#pragma once

#include <windows.h>

#include <string>

#include "base/shell_win.h"

namespace stub {

// True when another process of this same executable (by full path) runs.
// The first caller keeps the named mutex for the life of the process.
bool IsPrevInstance(const std::u16string& exePath);

// u"1" when `setupName` is not empty and a top-level window has that title.
std::u16string IsWindowOpen(const std::u16string& setupName);

// Brings the window titled `setupName` (and the windows it owns) to the
// front: one of another process that is visible or is another instance's
// application window, never a window of this process or a hidden one of
// another program.
void ActivateWindow(const std::u16string& setupName);

}  // namespace stub
