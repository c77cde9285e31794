// Pieces of the Windows shell that the start-up and shutdown share.
#pragma once

#include <windows.h>

#include <string>

#include "app/run_state.h"

namespace stub {

// The process's one run state.
RunState& State();

inline const wchar_t* W(const std::u16string& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}

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

// True when another process of this same executable (by full path) runs.
// The first caller keeps the named mutex for the life of the process.
bool IsPrevInstance(const std::u16string& exePath);

// u"1" when `setupName` is not empty and a top-level window has that title.
std::u16string IsWindowOpen(const std::u16string& setupName);

// Brings the window titled `setupName` (and the windows it owns) to the front.
void ActivateWindow(const std::u16string& setupName);

// Closes the program's windows, releases what they hold and ends the process.
[[noreturn]] void CloseAll();

}  // namespace stub
