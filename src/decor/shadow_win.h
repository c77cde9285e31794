// The drop shadow of a borderless form: four layered popups owned by the form
// (right, bottom, left, top), each holding a premultiplied 32-bit picture that
// fades from the form's edge outward. It follows the form's moves, size
// changes, hiding, display and theme changes by subclassing the form.
#pragma once

#include <windows.h>

#include <cstdint>

#include "decor/report.h"
#include "decor/shadow_geometry.h"
#include "decor/subclass_win.h"

namespace stub {

// One piece's window. The window clears the holder when the system destroys
// it (with its owner form, for instance), so a stale handle is never used.
class ShadowPieceWindow {
 public:
  ShadowPieceWindow() = default;
  ~ShadowPieceWindow() { Destroy(); }
  ShadowPieceWindow(const ShadowPieceWindow&) = delete;
  ShadowPieceWindow& operator=(const ShadowPieceWindow&) = delete;

  // A hidden layered popup owned by `owner`; false when the platform refused.
  bool Create(HWND owner);
  void Destroy();
  HWND get() const { return wnd_; }

 private:
  HWND wnd_ = nullptr;
};

class aShadow final : public SubclassOwner {
 public:
  explicit aShadow(Reporter& reporter = SystemReporter());
  ~aShadow();  // ends the subclassing, then destroys the pieces
  aShadow(const aShadow&) = delete;
  aShadow& operator=(const aShadow&) = delete;

  // Colour as 0x00BBGGRR; a value with the top bit set is a system colour
  // index and is stored resolved. A changed setting redraws a visible shadow.
  uint32_t Color() const { return color_; }
  void Color(uint32_t value);
  int32_t Depth() const { return depth_; }
  void Depth(int32_t value);
  uint8_t Transparency() const { return static_cast<uint8_t>(transparency_); }
  void Transparency(uint8_t value);

  // Attaches the shadow to `form`; true when the form is now shadowed. One
  // form per instance: a second call is reported and refused.
  bool Shadow(HWND form);

 private:
  void CheckSupport();
  void CreateShadowWindows();
  void DestroyShadowWindows();
  void DrawAll();
  void DrawPiece(Piece piece);
  void Reposition();
  void ShowShadows(bool show, bool force);
  void OnDisplayChange();
  // The subclassed form's messages, before its own procedure runs.
  void OnFormMessage(bool before, bool& handled, intptr_t& result, HWND wnd, UINT msg,
                     WPARAM wParam, LPARAM lParam, intptr_t& userData) override;

  HWND PieceWnd(Piece piece) const { return pieces_[static_cast<int>(piece) - 1].get(); }
  Rect PieceRectNow(Piece piece) const;

  uint32_t color_ = 0;
  int32_t depth_ = 0;
  int32_t transparency_ = 0;
  bool supported_ = false;
  bool themeAware_ = false;  // once set, never cleared
  bool shown_ = false;
  HWND form_ = nullptr;
  WINDOWPOS formPos_ = {};   // last position and size the form reported
  int32_t lastWidth_ = 0;    // form size the horizontal / vertical pieces were drawn for
  int32_t lastHeight_ = 0;
  ShadowPieceWindow pieces_[4];  // by kind number - 1: right, bottom, left, top
  Subclasser engine_;            // declared last: it ends before the pieces go
};

}  // namespace stub
