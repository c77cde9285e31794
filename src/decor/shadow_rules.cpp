#include "decor/shadow_rules.h"

namespace stub {

bool ShadowSupported(uint32_t major, uint32_t /*minor*/, int32_t bitsPerPixel) {
  return major >= 5 && bitsPerPixel >= 16;
}

bool ThemeAware(bool wasThemeAware, uint32_t major, uint32_t minor) {
  if (major < 5) return wasThemeAware;
  return wasThemeAware || minor > 0;
}

int WatchedMessages(bool themeAware, uint32_t out[4]) {
  int n = 0;
  out[n++] = kWmWindowPosChanged;
  out[n++] = kWmSize;
  out[n++] = kWmDisplayChange;
  if (themeAware) out[n++] = kWmThemeChanged;
  return n;
}

RepositionPlan PlanReposition(uint32_t flags, int32_t cx, int32_t cy, int32_t lastWidth,
                              int32_t lastHeight) {
  RepositionPlan plan;
  plan.lastWidth = lastWidth;
  plan.lastHeight = lastHeight;
  if (flags & kSwpHideWindow) {
    plan.hide = true;
    return plan;
  }
  // Each pair of pieces is shaped by one dimension only, so a pure move
  // redraws nothing.
  if (cx != lastWidth) {
    plan.redrawHorizontal = true;
    plan.lastWidth = cx;
  }
  if (cy != lastHeight) {
    plan.redrawVertical = true;
    plan.lastHeight = cy;
  }
  plan.move = true;
  plan.show = (flags & kSwpShowWindow) != 0;
  return plan;
}

bool ShowShadowsActs(bool shown, bool show, bool force) { return force || shown != show; }

bool SizeShowsShadows(uintptr_t wParam, bool formVisible) { return wParam == 0 && formVisible; }

DisplayChange DisplayTransition(bool wasSupported, bool nowSupported) {
  if (wasSupported && !nowSupported) return DisplayChange::DestroyPieces;
  if (!wasSupported && nowSupported) return DisplayChange::CreatePieces;
  return DisplayChange::Nothing;
}

}  // namespace stub
