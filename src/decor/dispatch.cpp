#include "decor/dispatch.h"

namespace stub {

intptr_t Dispatch(SubclassRecord& rec, DispatchHooks& hooks, uintptr_t hwnd, uint32_t msg,
                  uintptr_t wParam, intptr_t lParam) {
  // A message that still arrives after the restore only passes through.
  if (rec.removed) return hooks.CallPrevious(hwnd, msg, wParam, lParam);

  intptr_t result = 0;
  bool handled = false;
  ++rec.activeCalls;

  if (rec.callback && rec.before.Selects(msg))
    rec.callback(rec.owner, true, handled, result, hwnd, msg, wParam, lParam, rec.userData);
  if (handled) {
    --rec.activeCalls;
    return result;
  }

  ++rec.depth;
  result = hooks.CallPrevious(hwnd, msg, wParam, lParam);
  --rec.depth;

  // Only the outermost call removes. Counting the previous procedure's calls
  // alone is not enough: a message sent from inside a callback re-enters with
  // depth 0, and removing there would free the record under the callback that
  // is still running (and the outer call would then restore a second time).
  if (rec.removeRequested && rec.depth == 0 && rec.activeCalls == 1) {
    hooks.RestorePrevious(hwnd);
    rec.removed = true;
    --rec.activeCalls;
    return result;  // no after call once removed
  }

  if (rec.callback && rec.after.Selects(msg))
    rec.callback(rec.owner, false, handled, result, hwnd, msg, wParam, lParam, rec.userData);
  --rec.activeCalls;
  return result;
}

void RequestRemoval(SubclassRecord& rec) {
  rec.removeRequested = true;
  rec.before.count = 0;  // as deleting ALL_MESSAGES: selects nothing
  rec.after.count = 0;
}

}  // namespace stub
