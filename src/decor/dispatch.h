// The subclassing engine's dispatch rule, over a plain per-window record. The
// Windows shell's replacement window procedure finds the window's record and
// calls Dispatch with hooks for the previous procedure and its restore; all
// ordering, Handled/Result and the deferred removal live here.
#pragma once

#include <cstdint>

#include "decor/msg_table.h"

namespace stub {

// The owner's handler. `handled` enters false and `result` 0 (or what the
// previous procedure returned, in the after call); setting `handled` in the
// before call makes the message return `result` at once. `userData` refers to
// the record's user value.
using SubclassCallback = void (*)(void* owner, bool before, bool& handled, intptr_t& result,
                                  uintptr_t hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                                  intptr_t& userData);

struct SubclassRecord {          // one per subclassed window
  int32_t depth = 0;             // in-use depth: calls of the previous procedure in progress
  int32_t activeCalls = 0;       // Dispatch calls of this record in progress (any nesting)
  bool removeRequested = false;  // set by RequestRemoval (sc_UnSubclass)
  bool removed = false;          // the previous procedure has been restored (record may be freed)
  MsgTable before, after;
  intptr_t userData = 0;
  SubclassCallback callback = nullptr;  // null: no valid callback, none is called
  void* owner = nullptr;                // passed to the callback; not owned
};

// What the dispatcher needs from the platform for one window.
class DispatchHooks {
 public:
  // The window's previous procedure (CallWindowProc).
  virtual intptr_t CallPrevious(uintptr_t hwnd, uint32_t msg, uintptr_t wParam,
                                intptr_t lParam) = 0;
  // Puts the previous procedure back in place; after it the record is not used again.
  virtual void RestorePrevious(uintptr_t hwnd) = 0;

 protected:
  ~DispatchHooks() = default;
};

// Handles one message of the subclassed window: before call, previous
// procedure, after call, and the removal that RequestRemoval asked for once no
// call of this record is in progress any more.
intptr_t Dispatch(SubclassRecord& rec, DispatchHooks& hooks, uintptr_t hwnd, uint32_t msg,
                  uintptr_t wParam, intptr_t lParam);

// sc_UnSubclass's part on the record: ask for removal and stop every callback
// (both tables emptied). The record stays installed until the next message
// passes through the previous procedure.
void RequestRemoval(SubclassRecord& rec);

}  // namespace stub
