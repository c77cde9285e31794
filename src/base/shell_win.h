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

// The window class of the program's hidden application window, whose title
// is the application title: a second instance looks for it.
inline constexpr wchar_t kAppWindowClass[] = L"KorvelSetupApp";

// How the program ends: it closes its windows, releases what they hold, lets
// queued reports leave and ends the process, so it does not return. The
// entry point hands its own to the download window and the shell; test
// programs and tools hand theirs.
using EndProgram = void (*)();

}  // namespace stub
