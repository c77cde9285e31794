// GDI objects and the state of a device context, owned for one scope: each
// guard undoes in its destructor what its constructor did, and none can be
// copied.
#pragma once

#include <windows.h>

#include "base/unique.h"

namespace stub {

template <typename H>
struct GdiTraits {  // pens, brushes, fonts, bitmaps, regions
  using Type = H;
  static H Invalid() { return nullptr; }
  static void Close(H h) { DeleteObject(h); }
};

using UniqueBitmap = Unique<GdiTraits<HBITMAP>>;
using UniqueBrush = Unique<GdiTraits<HBRUSH>>;
using UniquePen = Unique<GdiTraits<HPEN>>;
using UniqueFont = Unique<GdiTraits<HFONT>>;
using UniqueRegion = Unique<GdiTraits<HRGN>>;

// Selects a GDI object into a DC for one scope and puts the previous one back.
class SelectGuard {
 public:
  SelectGuard(HDC dc, HGDIOBJ obj) : dc_(dc), old_(obj ? SelectObject(dc, obj) : nullptr) {}
  ~SelectGuard() {
    if (old_ && old_ != HGDI_ERROR) SelectObject(dc_, old_);
  }
  SelectGuard(const SelectGuard&) = delete;
  SelectGuard& operator=(const SelectGuard&) = delete;
  explicit operator bool() const { return old_ && old_ != HGDI_ERROR; }  // the object is in

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// Sets a DC's background mode for one scope and restores the previous one.
class BkModeGuard {
 public:
  BkModeGuard(HDC dc, int mode) : dc_(dc), old_(SetBkMode(dc, mode)) {}
  ~BkModeGuard() {
    if (old_) SetBkMode(dc_, old_);
  }
  BkModeGuard(const BkModeGuard&) = delete;
  BkModeGuard& operator=(const BkModeGuard&) = delete;

 private:
  HDC dc_;
  int old_;
};

}  // namespace stub
