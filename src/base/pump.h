// Lets long-running portable work hand control to the window's message loop.
// The Windows shell installs its pump at start; elsewhere it does nothing.
#pragma once

namespace stub {

using PumpFn = void (*)();

void SetMessagePump(PumpFn fn);
// Processes pending window messages, when a pump is installed.
void PumpMessages();

}  // namespace stub
