// The drop shadow's decisions, kept apart from the windows they drive: when
// the shadow can be drawn, what a form move or size change redraws, what a
// display change does, and which form messages it watches.
#pragma once

#include <cstdint>

#include "decor/shadow_geometry.h"

namespace stub {

// Settings of a new shadow, and the ones the download window gets.
constexpr int32_t kDefaultDepth = 7;
constexpr uint8_t kDefaultTransparency = 140;
constexpr int32_t kFormDepth = 8;
constexpr uint32_t kFormColor = 0;  // black
constexpr uint8_t kFormTransparency = 50;

// Form messages the shadow follows.
constexpr uint32_t kWmSize = 0x05;
constexpr uint32_t kWmWindowPosChanged = 0x47;
constexpr uint32_t kWmDisplayChange = 0x7E;
constexpr uint32_t kWmThemeChanged = 0x31A;

// WINDOWPOS flags that show or hide the form.
constexpr uint32_t kSwpShowWindow = 0x40;
constexpr uint32_t kSwpHideWindow = 0x80;

// The shadow needs a system of major version 5 or later and a screen of at
// least 16 bits per pixel.
bool ShadowSupported(uint32_t major, uint32_t minor, int32_t bitsPerPixel);

// Theme awareness after a support check: set by a minor version above 0 on
// major 5 or later, never cleared.
bool ThemeAware(bool wasThemeAware, uint32_t major, uint32_t minor);

// The messages to watch (all before the form's own procedure), in the order to
// register them; returns how many of `out` were filled (3, or 4 when theme aware).
int WatchedMessages(bool themeAware, uint32_t out[4]);

// What a WM_WINDOWPOSCHANGED does, given the reported flags and size and the
// size the pieces were last drawn for.
struct RepositionPlan {
  bool hide = false;              // hide the pieces; nothing else happens
  bool redrawHorizontal = false;  // width changed: draw bottom, then top
  bool redrawVertical = false;    // height changed: draw right, then left
  bool move = false;              // move all four pieces (without repainting)
  bool show = false;              // show the pieces (after the move)
  int32_t lastWidth = 0;          // LastWidth / LastHeight afterwards
  int32_t lastHeight = 0;
};
RepositionPlan PlanReposition(uint32_t flags, int32_t cx, int32_t cy, int32_t lastWidth,
                              int32_t lastHeight);

// ShowShadows(show, force): whether the windows are shown or hidden at all.
bool ShowShadowsActs(bool shown, bool show, bool force);

// WM_SIZE shows the pieces (unforced) only when restored (wParam 0) and the
// form is visible.
bool SizeShowsShadows(uintptr_t wParam, bool formVisible);

// WM_DISPLAYCHANGE after the support check.
enum class DisplayChange {
  Nothing,
  DestroyPieces,  // support lost
  CreatePieces,   // support gained: create, draw all, and show (forced) if the form is visible
};
DisplayChange DisplayTransition(bool wasSupported, bool nowSupported);

// Orders in which the shell walks the pieces.
inline constexpr Piece kCreateOrder[4] = {Piece::Right, Piece::Bottom, Piece::Top, Piece::Left};
inline constexpr Piece kDrawAllOrder[4] = {Piece::Right, Piece::Left, Piece::Bottom, Piece::Top};
inline constexpr Piece kMoveOrder[4] = {Piece::Right, Piece::Bottom, Piece::Left, Piece::Top};
inline constexpr Piece kDestroyOrder[4] = {Piece::Right, Piece::Bottom, Piece::Left, Piece::Top};

}  // namespace stub
