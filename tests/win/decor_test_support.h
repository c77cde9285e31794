// Shared by the window decoration's Windows tests: a recording reporter and
// plain test windows.
#pragma once

#include <windows.h>

#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "decor/report.h"

namespace stub::test {

using ReportEntry = std::pair<std::u16string, std::u16string>;  // routine, message

class RecordingReporter final : public Reporter {
 public:
  void Report(std::u16string_view routine, std::u16string_view message) override {
    entries.emplace_back(std::u16string(routine), std::u16string(message));
  }
  std::vector<ReportEntry> entries;
};

// A hidden top-level window of a class of its own whose procedure is `proc`
// (DefWindowProcW when null). Destroyed with the object.
class TestWindow {
 public:
  explicit TestWindow(WNDPROC proc = nullptr, DWORD style = WS_POPUP) {
    if (!proc) proc = DefWindowProcW;
    wchar_t cls[40];  // one class per procedure
    swprintf(cls, 40, L"DecorTest%p", reinterpret_cast<void*>(proc));
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = cls;
    RegisterClassExW(&wc);  // fails harmlessly once the class exists
    wnd_ = CreateWindowExW(0, cls, L"decor test", style, 100, 100, 300, 200, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  }
  ~TestWindow() {
    if (IsWindow(wnd_)) DestroyWindow(wnd_);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  HWND get() const { return wnd_; }

 private:
  HWND wnd_ = nullptr;
};

}  // namespace stub::test
