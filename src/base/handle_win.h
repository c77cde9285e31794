// Platform traits for the one handle owner (base/unique.h) and a COM pointer.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "base/system_dll_win.h"
#include "base/unique.h"

namespace stub {

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
  static void Close(HINTERNET h) { Net().InternetCloseHandle(h); }
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
