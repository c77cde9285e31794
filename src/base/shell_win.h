// Pieces of the Windows shell that every subsystem shares: the run state,
// text handed to wide platform calls, the message pump and modal loops.
#pragma once

#include <windows.h>

#include <string>

#include "base/run_state.h"

namespace stub {

// The process's one run state.
RunState& State();

inline const wchar_t* W(const std::u16string& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}

// A library of the system folder, loaded from there only: never from the
// program's own folder, where a download may have put a file of that name.
// Null when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name);

// Full path of the running executable.
std::u16string ModulePath();

// Processes every pending message of this thread's queue.
void PumpWindowMessages();

// Marks a modal loop of the system (a message box, a window drag) on this
// thread for its lifetime. Work that would pump messages itself (download
// progress) waits while one runs, so the loop keeps its keyboard and mouse.
class ModalLoop {
 public:
  ModalLoop();
  ~ModalLoop();
  ModalLoop(const ModalLoop&) = delete;
  ModalLoop& operator=(const ModalLoop&) = delete;
  static int Depth();  // how many are running now
};

// Closes the program's windows, releases what they hold and ends the process.
// Defined by the program's start-up and shutdown code (app/).
[[noreturn]] void CloseAll();

}  // namespace stub
