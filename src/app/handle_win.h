// One owner type for every platform handle: closes exactly once, cannot be
// copied, can be moved.
#pragma once

#include <windows.h>
#include <wininet.h>

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
  void reset(T h = Traits::Invalid()) {
    if (*this) Traits::Close(h_);
    h_ = h;
  }
  T release() { return std::exchange(h_, Traits::Invalid()); }

 private:
  T h_ = Traits::Invalid();
};

struct KernelTraits {  // handles that are empty as null
  using Type = HANDLE;
  static HANDLE Invalid() { return nullptr; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct FileTraits {  // file handles: empty as INVALID_HANDLE_VALUE
  using Type = HANDLE;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct InternetTraits {
  using Type = HINTERNET;
  static HINTERNET Invalid() { return nullptr; }
  static void Close(HINTERNET h) { InternetCloseHandle(h); }
};
struct DCTraits {
  using Type = HDC;
  static HDC Invalid() { return nullptr; }
  static void Close(HDC h) { DeleteDC(h); }
};

using UniqueHandle = Unique<KernelTraits>;
using UniqueFile = Unique<FileTraits>;
using UniqueInternet = Unique<InternetTraits>;
using UniqueDC = Unique<DCTraits>;

// A COM interface pointer that releases its reference once.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** put() {
    reset();
    return &p_;
  }
  explicit operator bool() const { return p_ != nullptr; }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace stub
