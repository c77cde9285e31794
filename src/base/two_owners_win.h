// State shared by exactly two threads (the one that waits and its worker):
// whichever lets go last frees it, so a worker abandoned at a deadline never
// writes into freed memory.
#pragma once

#include <windows.h>

namespace stub {

// Derive as `struct Job : TwoOwners<Job>`; each owner calls Release() once.
template <typename T>
class TwoOwners {
 public:
  TwoOwners(const TwoOwners&) = delete;
  TwoOwners& operator=(const TwoOwners&) = delete;
  void Release() {
    if (InterlockedDecrement(&refs_) == 0) delete static_cast<T*>(this);
  }

 protected:
  TwoOwners() = default;
  ~TwoOwners() = default;

 private:
  LONG refs_ = 2;
};

}  // namespace stub
