// The one drop shadow of the program: created on first use, attached to the
// download window, released at shutdown.
#pragma once

#include <windows.h>

#include "decor/shadow_win.h"

namespace stub {

// The program's shadow, created on first use; null only when memory ran out.
aShadow* FormShadow();
// Ends the shadow: the subclassing stops and its windows are destroyed.
void ReleaseFormShadow();

// Shadows `form` with the download window's settings (depth 8, black, 50).
// False only when the shadow could not be created at all; a system or display
// that cannot draw it simply leaves the form without one.
bool AttachShadow(HWND form);

}  // namespace stub
