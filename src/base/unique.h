// One owner type for every platform handle: closes exactly once, cannot be
// copied, can be moved. Portable so that its rules are tested natively; the
// platform traits live beside the shell (base/handle_win.h).
#pragma once

#include <utility>

namespace stub {

// Traits say what an empty handle is and how to close a live one.
template <typename Traits>
class Unique {
  using T = typename Traits::Type;

 public:
  Unique() = default;
  explicit Unique(T h) : h_(h) {}
  ~Unique() { reset(); }
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  Unique(Unique&& o) noexcept : h_(std::exchange(o.h_, Traits::Invalid())) {}
  Unique& operator=(Unique&& o) noexcept {
    if (this != &o) reset(std::exchange(o.h_, Traits::Invalid()));
    return *this;
  }
  T get() const { return h_; }
  explicit operator bool() const { return h_ != Traits::Invalid() && h_ != T{}; }
  // Taking the handle already held changes nothing: closing it first would
  // leave a closed handle that the destructor closes a second time.
  void reset(T h = Traits::Invalid()) {
    if (h == h_) return;
    if (*this) Traits::Close(h_);
    h_ = h;
  }
  T release() { return std::exchange(h_, Traits::Invalid()); }

 private:
  T h_ = Traits::Invalid();
};

}  // namespace stub
